#include "bridge/history/history_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QLocale>
#include <QTableWidget>

#include "bridge/app/test_support.h"
#include "bridge/history/sample_shots.h"
#include "bridge/history/shot_csv.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace taltrix::history {
namespace {

using app::BoxAnswer;
using app::testing::ScriptedDialogs;
using app::testing::TempFolder;

void ensureGuiApplication() {
    if (QApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "history_window_test";
        static char* argv[] = {name, nullptr};
        static auto* app = new QApplication(argc, argv);
        (void)app;
    }
}

TEST(HistoryWindow, ShowsSessionOrDayExportsThePickedRowsAndClearsOnYes) {
    ensureGuiApplication();
    QLocale::setDefault(QLocale(QLocale::German));  // a comma locale changes no number
    TempFolder home;
    const std::string path = historyPath(home.path().string());
    const std::int64_t today = QDateTime::currentMSecsSinceEpoch() - 3600 * 1000;
    const QDate otherDay(2024, 6, 11);
    {
        std::string error;
        auto store = HistoryStore::open(path, true, error);
        ASSERT_NE(store, nullptr) << error;
        for (ShotEntry& e : sampleShots(today, today, 12)) ASSERT_TRUE(store->insert(e, error));
        const std::int64_t then = otherDay.startOfDay().addSecs(9 * 3600).toMSecsSinceEpoch();
        for (ShotEntry& e : sampleShots(then, then, 3)) ASSERT_TRUE(store->insert(e, error));
    }
    ScriptedDialogs dialogs;
    HistoryWindow window(path, today, dialogs);
    auto* shots = window.findChild<QTableWidget*>(QStringLiteral("tblShots"));
    auto* clubs = window.findChild<QTableWidget*>(QStringLiteral("tblClubs"));
    auto* launch = window.findChild<QChartView*>(QStringLiteral("chartLaunch"));
    auto* spin = window.findChild<QChartView*>(QStringLiteral("chartSpin"));
    ASSERT_TRUE(shots && clubs && launch && spin);

    EXPECT_EQ(shots->rowCount(), 12);
    EXPECT_EQ(clubs->rowCount(), 6);  // the sample moves through six clubs
    EXPECT_EQ(clubs->item(0, 0)->text(), "Drv");
    EXPECT_EQ(launch->chart()->series().size(), 6);
    EXPECT_EQ(spin->chart()->series().size(), 6);
    EXPECT_TRUE(shots->item(0, 2)->text().contains('.')) << shots->item(0, 2)->text().toStdString();
    // A shot that never reached the simulator says why and stands apart.
    const int outcomeColumn = shots->columnCount() - 2;
    EXPECT_EQ(shots->item(0, outcomeColumn)->text(), "sent");
    EXPECT_EQ(shots->item(4, outcomeColumn)->text(), "simulator not connected");
    EXPECT_NE(shots->item(4, 0)->foreground().color(), shots->item(0, 0)->foreground().color());
    EXPECT_EQ(shots->item(3, 0)->foreground().color(), shots->item(0, 0)->foreground().color());

    window.showDay(otherDay);
    EXPECT_EQ(shots->rowCount(), 3);

    shots->selectRow(0);
    shots->selectionModel()->select(shots->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QString error;
    ASSERT_TRUE(window.exportTo(QString::fromStdString(home.file("picked.csv")), error)) << error.toStdString();
    const std::string csv = home.read("picked.csv");
    EXPECT_EQ(csv, shotsCsv({window.shown()[0], window.shown()[2]}));

    dialogs.answers = {BoxAnswer::no, BoxAnswer::yes};
    window.clearHistory();
    EXPECT_EQ(shots->rowCount(), 3);
    window.clearHistory();
    EXPECT_EQ(shots->rowCount(), 0);
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.boxes[0].text, clearQuestion);
    window.showSession();
    EXPECT_EQ(shots->rowCount(), 0);
    QLocale::setDefault(QLocale::c());
}

}  // namespace
}  // namespace taltrix::history
