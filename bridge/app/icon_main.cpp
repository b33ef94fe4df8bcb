// Draws the application's icon for the desktop's icon theme: PNG files of
// the sizes given and one SVG file, from the same drawing as the window's
// icon, so the menu shows what the window and the tray show.
//
// Usage: taltrix_icons OUTDIR SIZE... writes OUTDIR/SIZExSIZE/apps/taltrix.png
// for each SIZE and OUTDIR/scalable/apps/taltrix.svg, as the hicolor theme
// lays them out.
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>
#include <cstdlib>

#include "bridge/app/window_pictures.h"

namespace {

// The connected badge: the state a golfer wants to see.
constexpr taltrix::app::WindowIcon applicationIcon = taltrix::app::WindowIcon::ico2;
constexpr int svgSize = 128;

bool writePng(const QDir& out, int size) {
    const QString folder = QStringLiteral("%1x%1/apps").arg(size);
    if (!out.mkpath(folder)) return false;
    return taltrix::app::windowIconPixmap(applicationIcon, size).save(out.filePath(folder + "/taltrix.png"));
}

bool writeSvg(const QDir& out) {
    if (!out.mkpath(QStringLiteral("scalable/apps"))) return false;
    QSvgGenerator svg;
    svg.setFileName(out.filePath(QStringLiteral("scalable/apps/taltrix.svg")));
    svg.setSize(QSize(svgSize, svgSize));
    svg.setViewBox(QRect(0, 0, svgSize, svgSize));
    svg.setTitle(QStringLiteral("Taltrix"));
    QPainter p;
    if (!p.begin(&svg)) return false;
    p.setRenderHint(QPainter::Antialiasing);
    taltrix::app::paintWindowIcon(p, applicationIcon, svgSize);
    return p.end();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "Usage: taltrix_icons OUTDIR SIZE...\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0 || !writePng(out, size)) {
            std::fprintf(stderr, "taltrix_icons: cannot write the %s icon in %s\n", argv[i], argv[1]);
            return 1;
        }
    }
    if (!writeSvg(out)) {
        std::fprintf(stderr, "taltrix_icons: cannot write the scalable icon in %s\n", argv[1]);
        return 1;
    }
    return 0;
}
