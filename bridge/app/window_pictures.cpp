#include "bridge/app/window_pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace taltrix::app {

namespace {

constexpr int lightPictureSize = 24;

QColor toColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

QColor badgeColour(WindowIcon icon) {
    switch (icon) {
        case WindowIcon::ico1: return QColor(214, 40, 40);
        case WindowIcon::ico2: return QColor(20, 170, 60);
        case WindowIcon::ico3: return QColor(240, 170, 20);
    }
    return Qt::gray;
}

const char* lightLetters(Light light) {
    switch (light) {
        case Light::tx: return "ES";
        case Light::rx: return "HX";
        case Light::bt: return "BT";
    }
    return "";
}

}  // namespace

QPixmap windowIconPixmap(WindowIcon icon, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paintWindowIcon(p, icon, size);
    return pixmap;
}

void paintWindowIcon(QPainter& p, WindowIcon icon, qreal s) {

    // The ball, lit from the top left.
    const QRectF ball(s * 0.06, s * 0.06, s * 0.78, s * 0.78);
    QRadialGradient shade(ball.center() - QPointF(s * 0.14, s * 0.14), s * 0.5);
    shade.setColorAt(0.0, Qt::white);
    shade.setColorAt(1.0, QColor(200, 205, 210));
    p.setPen(QPen(QColor(90, 95, 100), qMax(1.0, s / 24.0)));
    p.setBrush(shade);
    p.drawEllipse(ball);

    // Dimples.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(160, 165, 172));
    const qreal d = qMax(1.0, s * 0.06);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QPointF c(ball.left() + ball.width() * (0.28 + 0.22 * col),
                            ball.top() + ball.height() * (0.28 + 0.22 * row));
            p.drawEllipse(c, d, d);
        }
    }

    // The badge tells the link's state.
    const qreal r = s * 0.2;
    const QPointF centre(s - r - 1, s - r - 1);
    p.setPen(QPen(Qt::white, qMax(1.0, s / 20.0)));
    p.setBrush(badgeColour(icon));
    p.drawEllipse(centre, r, r);
}

QIcon windowIcon(WindowIcon icon) {
    QIcon result;
    for (const int size : {16, 24, 32, 48, 64}) {
        result.addPixmap(windowIconPixmap(icon, size));
    }
    return result;
}

QPixmap lightPicture(Light light, bool on) {
    QPixmap pixmap(lightPictureSize, lightPictureSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fill = on ? toColor(StatusLights::onColour(light)) : toColor(offColour);
    p.setPen(QPen(fill.darker(160), 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, lightPictureSize - 1, lightPictureSize - 1), 5, 5);
    QFont font = p.font();
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.setPen(on ? Qt::black : QColor(230, 230, 230));
    p.drawText(pixmap.rect(), Qt::AlignCenter, QString::fromLatin1(lightLetters(light)));
    return pixmap;
}

QPixmap trayPicture() {
    QPixmap pixmap(lightPictureSize, lightPictureSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(230, 236, 245));
    p.drawRect(QRectF(3, 3, 18, 12));
    p.setBrush(QColor(60, 60, 60));
    QPainterPath arrow;
    arrow.moveTo(8, 15);
    arrow.lineTo(16, 15);
    arrow.lineTo(12, 21);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return pixmap;
}

}  // namespace taltrix::app
