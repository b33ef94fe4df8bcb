// The History window: the shots of this run of the bridge or of any day, in
// a table, as per-club averages and as two charts; the shown shots (or the
// rows picked in the table) to a CSV file; and the whole history cleared
// after the user said yes.
#pragma once

#include <QDate>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/app/dialogs.h"
#include "bridge/history/history_store.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

QT_BEGIN_NAMESPACE
class QChartView;
QT_END_NAMESPACE

namespace taltrix::history {

inline constexpr std::string_view historyWindowTitle = "Shot history - Taltrix";
inline constexpr std::string_view clearQuestion =
    "Clear the whole shot history?\r\n\r\nEvery shot kept so far is deleted. This cannot be undone.";
inline constexpr std::string_view clearTitle = "Shot history";

class HistoryWindow final : public QWidget {
public:
    // `session` is the run whose shots "This session" shows; `storedCount`,
    // when given, tells how many shots the bridge has stored so far, and the
    // window follows new ones while it shows this session or today.
    HistoryWindow(std::string historyPath, std::int64_t session, app::Dialogs& dialogs,
                  std::function<std::uint64_t()> storedCount = {}, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    void showSession();
    void showDay(QDate day);
    // Reads the shown shots again.
    void refresh();

    // The rows picked in the table, or every shown shot when none is.
    std::vector<ShotEntry> selection() const;
    // Writes selection() as CSV; false with `error` when the file cannot be
    // written.
    bool exportTo(const QString& file, QString& error) const;
    // Asks, then deletes every shot.
    void clearHistory();

    const std::vector<ShotEntry>& shown() const { return shown_; }

private:
    void build();
    void fill();
    void exportClicked();
    void followNewShots();

    std::string path_;
    std::int64_t session_;
    app::Dialogs& dialogs_;
    std::function<std::uint64_t()> storedCount_;
    std::uint64_t countShown_ = 0;
    std::unique_ptr<HistoryStore> store_;
    std::string storeError_;
    std::vector<ShotEntry> shown_;

    QComboBox* cbShow_ = nullptr;
    QDateEdit* dtDay_ = nullptr;
    QLabel* lblSummary_ = nullptr;
    QPushButton* btExport_ = nullptr;
    QPushButton* btClear_ = nullptr;
    QTableWidget* tblShots_ = nullptr;
    QTableWidget* tblClubs_ = nullptr;
    QChartView* chartLaunch_ = nullptr;
    QChartView* chartSpin_ = nullptr;
    QTimer* follow_ = nullptr;
};

}  // namespace taltrix::history
