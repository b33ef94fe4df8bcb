#include "bridge/history/shot_charts.h"

#include <QChart>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <functional>

#include "bridge/history/club_averages.h"

namespace taltrix::history {

namespace {

constexpr QRgb palette[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd,
                            0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf};

using Value = std::function<double(const ShotRecord&)>;

// Nice round limits around the values, so that the points never sit on the frame.
void fitAxis(QValueAxis* axis, double low, double high, double step) {
    if (low > high) {
        low = 0;
        high = step;
    }
    double from = std::floor(low / step) * step;
    double to = std::ceil(high / step) * step;
    if (low - from < step / 10) from -= step;
    if (to - high < step / 10) to += step;
    axis->setRange(from, to);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    axis->setLabelFormat(QStringLiteral("%.0f"));
}

QChart* scatterChart(const std::vector<ShotEntry>& entries, const std::vector<std::string>& clubs, const QString& title,
                     const QString& xTitle, const Value& x, double xStep, const QString& yTitle, const Value& y,
                     double yStep) {
    auto* chart = new QChart();
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignRight);
    auto* xAxis = new QValueAxis(chart);
    auto* yAxis = new QValueAxis(chart);
    xAxis->setTitleText(xTitle);
    yAxis->setTitleText(yTitle);
    chart->addAxis(xAxis, Qt::AlignBottom);
    chart->addAxis(yAxis, Qt::AlignLeft);
    double xLow = 1e9, xHigh = -1e9, yLow = 1e9, yHigh = -1e9;
    for (std::size_t i = 0; i < clubs.size(); ++i) {
        auto* series = new QScatterSeries(chart);
        series->setName(QString::fromStdString(clubs[i]));
        series->setColor(clubColour(i));
        series->setBorderColor(clubColour(i).darker(130));
        series->setMarkerSize(9);
        for (const ShotEntry& entry : entries) {
            if (clubOf(entry) != clubs[i]) continue;
            const double px = x(entry.shot), py = y(entry.shot);
            series->append(px, py);
            xLow = std::min(xLow, px), xHigh = std::max(xHigh, px);
            yLow = std::min(yLow, py), yHigh = std::max(yHigh, py);
        }
        chart->addSeries(series);
        series->attachAxis(xAxis);
        series->attachAxis(yAxis);
    }
    fitAxis(xAxis, xLow, xHigh, xStep);
    fitAxis(yAxis, yLow, yHigh, yStep);
    return chart;
}

}  // namespace

QColor clubColour(std::size_t index) { return QColor(palette[index % std::size(palette)]); }

QChart* launchChart(const std::vector<ShotEntry>& entries, const std::vector<std::string>& clubs) {
    return scatterChart(
        entries, clubs, QStringLiteral("Ball speed and launch angle"), QStringLiteral("Ball speed (mph)"),
        [](const ShotRecord& s) { return s.ballSpeedMPH; }, 20, QStringLiteral("Launch angle (°)"),
        [](const ShotRecord& s) { return static_cast<double>(s.ballAngle); }, 10);
}

QChart* spinChart(const std::vector<ShotEntry>& entries, const std::vector<std::string>& clubs) {
    return scatterChart(
        entries, clubs, QStringLiteral("Spin and ball speed"), QStringLiteral("Ball speed (mph)"),
        [](const ShotRecord& s) { return s.ballSpeedMPH; }, 20, QStringLiteral("Back spin (rpm)"),
        [](const ShotRecord& s) { return static_cast<double>(s.backSpin); }, 2000);
}

}  // namespace taltrix::history
