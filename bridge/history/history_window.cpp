#include "bridge/history/history_window.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <set>

#include "bridge/history/club_averages.h"
#include "bridge/history/shot_charts.h"
#include "bridge/history/shot_csv.h"

namespace taltrix::history {

namespace {

constexpr int followIntervalMs = 1000;
constexpr int showSessionIndex = 0;
constexpr int showDayIndex = 1;

const QStringList shotHeadings = {
    QStringLiteral("Time"),      QStringLiteral("Club"),      QStringLiteral("Ball mph"), QStringLiteral("Club mph"),
    QStringLiteral("Smash"),     QStringLiteral("Launch °"),  QStringLiteral("Spin rpm"), QStringLiteral("Side spin"),
    QStringLiteral("Spin axis"), QStringLiteral("Direction"), QStringLiteral("Path"),     QStringLiteral("Face"),
    QStringLiteral("Simulator"), QStringLiteral("Sent"),      QStringLiteral("Outcome"),  QStringLiteral("Latency µs")};
// A shot that never reached its simulator stands apart from those that did.
const QColor undeliveredColour(0xb0, 0x30, 0x20);
const QStringList clubColumns = {QStringLiteral("Club"),     QStringLiteral("Shots"),     QStringLiteral("Ball mph"),
                                 QStringLiteral("Club mph"), QStringLiteral("Smash"),     QStringLiteral("Launch °"),
                                 QStringLiteral("Spin rpm"), QStringLiteral("Side spin"), QStringLiteral("Direction")};

// Qt's own number text: "." whatever the locale; and no "-0.0" for a mean
// just below zero.
QString fixed(double value, int decimals) {
    const QString text = QString::number(value, 'f', decimals);
    return text.startsWith('-') && QString::number(-value, 'f', decimals).toDouble() == 0 ? text.mid(1) : text;
}

QTableWidget* makeTable(QWidget* parent, const char* name, const QStringList& columns) {
    auto* table = new QTableWidget(parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setColumnCount(static_cast<int>(columns.size()));
    table->setHorizontalHeaderLabels(columns);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(22);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return table;
}

void setRow(QTableWidget* table, int row, const QStringList& cells) {
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (column > 1) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, column, item);
    }
}

QString outcomeText(const ShotEntry& entry) {
    const std::string_view text = entry.outcome ? shotOutcomeText(*entry.outcome) : std::string_view();
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void replaceChart(QChartView* view, QChart* chart) {
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

}  // namespace

HistoryWindow::HistoryWindow(std::string historyPath, std::int64_t session, app::Dialogs& dialogs,
                             std::function<std::uint64_t()> storedCount, QWidget* parent)
    : QWidget(parent, Qt::Window),
      path_(std::move(historyPath)),
      session_(session),
      dialogs_(dialogs),
      storedCount_(std::move(storedCount)) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QString::fromUtf8(historyWindowTitle.data(), static_cast<int>(historyWindowTitle.size())));
    store_ = HistoryStore::open(path_, true, storeError_);
    build();
    showSession();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::build() {
    resize(1180, 720);
    cbShow_ = new QComboBox(this);
    cbShow_->setObjectName(QStringLiteral("cbShow"));
    cbShow_->addItems({QStringLiteral("This session"), QStringLiteral("A day")});
    dtDay_ = new QDateEdit(QDate::currentDate(), this);
    dtDay_->setObjectName(QStringLiteral("dtDay"));
    dtDay_->setCalendarPopup(true);
    dtDay_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dtDay_->setEnabled(false);
    lblSummary_ = new QLabel(this);
    lblSummary_->setObjectName(QStringLiteral("lblSummary"));
    btExport_ = new QPushButton(QStringLiteral("Export CSV…"), this);
    btExport_->setObjectName(QStringLiteral("btExport"));
    btClear_ = new QPushButton(QStringLiteral("Clear history…"), this);
    btClear_->setObjectName(QStringLiteral("btClear"));

    auto* bar = new QHBoxLayout();
    bar->addWidget(new QLabel(QStringLiteral("Show:"), this));
    bar->addWidget(cbShow_);
    bar->addWidget(dtDay_);
    bar->addSpacing(16);
    bar->addWidget(lblSummary_, 1);
    bar->addWidget(btExport_);
    bar->addWidget(btClear_);

    tblShots_ = makeTable(this, "tblShots", shotHeadings);
    tblClubs_ = makeTable(this, "tblClubs", clubColumns);
    chartLaunch_ = new QChartView(this);
    chartLaunch_->setObjectName(QStringLiteral("chartLaunch"));
    chartLaunch_->setRenderHint(QPainter::Antialiasing);
    chartSpin_ = new QChartView(this);
    chartSpin_->setObjectName(QStringLiteral("chartSpin"));
    chartSpin_->setRenderHint(QPainter::Antialiasing);

    auto* tables = new QSplitter(Qt::Vertical, this);
    tables->addWidget(tblShots_);
    tables->addWidget(tblClubs_);
    tables->setStretchFactor(0, 3);
    tables->setStretchFactor(1, 1);
    auto* charts = new QSplitter(Qt::Vertical, this);
    charts->addWidget(chartLaunch_);
    charts->addWidget(chartSpin_);
    auto* sides = new QSplitter(Qt::Horizontal, this);
    sides->addWidget(tables);
    sides->addWidget(charts);
    sides->setSizes({640, 540});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(sides, 1);

    connect(cbShow_, &QComboBox::activated, this, [this](int index) {
        if (index == showSessionIndex) {
            showSession();
        } else {
            showDay(dtDay_->date());
        }
    });
    connect(dtDay_, &QDateEdit::dateChanged, this, [this](QDate day) {
        if (cbShow_->currentIndex() == showDayIndex) showDay(day);
    });
    connect(btExport_, &QPushButton::clicked, this, [this] { exportClicked(); });
    connect(btClear_, &QPushButton::clicked, this, [this] { clearHistory(); });
    if (storedCount_) {
        follow_ = new QTimer(this);
        follow_->setInterval(followIntervalMs);
        connect(follow_, &QTimer::timeout, this, [this] { followNewShots(); });
        follow_->start();
    }
}

void HistoryWindow::showSession() {
    cbShow_->setCurrentIndex(showSessionIndex);
    dtDay_->setEnabled(false);
    refresh();
}

void HistoryWindow::showDay(QDate day) {
    cbShow_->setCurrentIndex(showDayIndex);
    dtDay_->setEnabled(true);
    if (dtDay_->date() != day) {
        dtDay_->setDate(day);  // runs showDay again through dateChanged
        return;
    }
    refresh();
}

void HistoryWindow::refresh() {
    if (storedCount_) countShown_ = storedCount_();
    shown_.clear();
    std::string error = storeError_;
    if (store_) {
        ShotQuery query;
        if (cbShow_->currentIndex() == showSessionIndex) {
            query.session = session_;
        } else {
            const QDate day = dtDay_->date();
            query.fromMs = day.startOfDay().toMSecsSinceEpoch();
            query.toMs = day.addDays(1).startOfDay().toMSecsSinceEpoch();
        }
        shown_ = store_->shots(query, error);
    }
    fill();
    if (!error.empty()) lblSummary_->setText(QString::fromStdString(error));
}

void HistoryWindow::fill() {
    tblShots_->setRowCount(static_cast<int>(shown_.size()));
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const ShotEntry& e = shown_[i];
        const ShotRecord& s = e.shot;
        const QString sent = e.delivered ? (*e.delivered ? QStringLiteral("yes") : QStringLiteral("no")) : QString();
        setRow(
            tblShots_, static_cast<int>(i),
            {QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             QString::fromStdString(clubOf(e)), fixed(s.ballSpeedMPH, 1), fixed(s.clubSpeedMPH, 1),
             fixed(s.smashFactor, 2), QString::number(s.ballAngle), QString::number(s.backSpin),
             QString::number(s.sideSpin), fixed(s.spinAxis, 1), fixed(s.ballDirection, 1), fixed(s.swingPath, 1),
             fixed(s.clubFace, 1), QString::fromStdString(e.simulator), sent, outcomeText(e), fixed(e.latencyUs, 1)});
        if (e.undelivered()) {
            for (int column = 0; column < tblShots_->columnCount(); ++column) {
                tblShots_->item(static_cast<int>(i), column)->setForeground(undeliveredColour);
            }
        }
    }
    tblShots_->scrollToBottom();

    const std::vector<ClubAverage> averages = clubAverages(shown_);
    std::vector<std::string> clubs;
    tblClubs_->setRowCount(static_cast<int>(averages.size()));
    for (std::size_t i = 0; i < averages.size(); ++i) {
        const ClubAverage& a = averages[i];
        clubs.push_back(a.club);
        setRow(tblClubs_, static_cast<int>(i),
               {QString::fromStdString(a.club), QString::number(a.shots), fixed(a.ballSpeedMph, 1),
                fixed(a.clubSpeedMph, 1), fixed(a.smashFactor, 2), fixed(a.launchAngle, 1), fixed(a.backSpin, 0),
                fixed(a.sideSpin, 0), fixed(a.ballDirection, 1)});
        tblClubs_->item(static_cast<int>(i), 0)->setForeground(clubColour(i));
    }
    replaceChart(chartLaunch_, launchChart(shown_, clubs));
    replaceChart(chartSpin_, spinChart(shown_, clubs));
    lblSummary_->setText(QStringLiteral("%1 shots, %2 clubs").arg(shown_.size()).arg(clubs.size()));
    btExport_->setEnabled(!shown_.empty());
}

std::vector<ShotEntry> HistoryWindow::selection() const {
    std::set<int> rows;
    for (const QModelIndex& index : tblShots_->selectionModel()->selectedRows()) rows.insert(index.row());
    if (rows.empty()) return shown_;
    std::vector<ShotEntry> picked;
    for (const int row : rows) {
        if (row >= 0 && static_cast<std::size_t>(row) < shown_.size()) picked.push_back(shown_[row]);
    }
    return picked;
}

bool HistoryWindow::exportTo(const QString& file, QString& error) const {
    const std::string csv = shotsCsv(selection());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size())) {
        error = out.errorString();
        return false;
    }
    return true;
}

void HistoryWindow::exportClicked() {
    const QString name = QStringLiteral("shots-%1.csv").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export shots"), name, QStringLiteral("CSV files (*.csv)"));
    if (file.isEmpty()) return;
    QString error;
    if (!exportTo(file, error)) {
        dialogs_.messageBox("The shots could not be written to " + file.toStdString() + ": " + error.toStdString(),
                            clearTitle, app::BoxButtons::ok, app::BoxIcon::exclamation);
    }
}

void HistoryWindow::clearHistory() {
    if (!store_) return;
    if (dialogs_.messageBox(clearQuestion, clearTitle, app::BoxButtons::yesNo, app::BoxIcon::question) !=
        app::BoxAnswer::yes) {
        return;
    }
    std::string error;
    if (!store_->clearShots(error)) {
        dialogs_.messageBox("The shot history could not be cleared: " + error, clearTitle, app::BoxButtons::ok,
                            app::BoxIcon::exclamation);
    }
    refresh();
}

void HistoryWindow::followNewShots() {
    if (!isVisible() || storedCount_() == countShown_) return;
    if (cbShow_->currentIndex() == showSessionIndex || dtDay_->date() == QDate::currentDate()) refresh();
}

}  // namespace taltrix::history
