// taltrix_screenshot OUTDIR: renders fmMain in its normal and its debug
// layout to OUTDIR/fmMain-normal.png and OUTDIR/fmMain-debug.png, with
// Open Connect chosen to OUTDIR/fmMain-openconnect.png, and the History window
// with made-up shots to OUTDIR/HistoryWindow.png, so that the windows can be
// looked at on a machine without a display (Qt's offscreen platform is used
// unless a display is set).
//
// The window runs without links; the device row, the status messages and
// the lit lights are put in by hand so that every control shows something.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "bridge/app/dialog_answers.h"
#include "bridge/app/fm_main.h"
#include "bridge/app/qt_dialogs.h"
#include "bridge/history/history_screenshot.h"

// Fontconfig keeps a cache Qt never frees; it is not ours to report when
// this runs under LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using taltrix::app::fmMain;
using taltrix::app::Light;

bool render(const QString& home, const char* debugMode, const QString& file, const char* simSoftware = "TGC") {
    std::ofstream(QDir(home).filePath(QStringLiteral("Settings.pgs")).toStdString(), std::ios::binary)
        << "[Software]\r\nSim_software=" << simSoftware << "\r\nDebug_mode=" << debugMode << "\r\n";
    taltrix::app::DialogAnswers answers;
    answers.answer = taltrix::app::BoxAnswer::no;
    taltrix::app::QtDialogs dialogs(answers);
    fmMain window(dialogs, home.toStdString());
    taltrix::app::AppCore& core = window.core();
    core.load();
    core.Timer_check_Connection().stop();

    auto* row = new QTreeWidgetItem(window.deviceList());
    row->setText(0, QStringLiteral("00:1A:7D:DA:71:13"));
    row->setText(1, QStringLiteral("ES16-123"));
    window.deviceList()->setCurrentItem(row);
    core.fn_show_status("Discovery started");
    core.fn_show_status("Device added to list: ES16-123");
    core.fn_show_status("Discovery ended");
    core.fn_show_status("Connected to ES16");
    core.rawDataBox().append("\r\nES16Prt001CS093.0BS131.1CD000.0TD000.0LA13.1SP04217SF1.40CL5Ir...VER109End\r\n\r\n");
    core.lights().switchOn(Light::bt);
    core.lights().switchOn(Light::rx);

    window.show();
    QApplication::processEvents();
    const bool saved = window.grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", file.toLocal8Bit().constData());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argc > 0 ? argv[0] : "taltrix_screenshot");
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir normalHome;
    QTemporaryDir debugHome;
    QTemporaryDir openConnectHome;
    const bool ok =
        render(normalHome.path(), "False", out.filePath(QStringLiteral("fmMain-normal.png"))) &&
        render(debugHome.path(), "True", out.filePath(QStringLiteral("fmMain-debug.png"))) &&
        render(openConnectHome.path(), "False", out.filePath(QStringLiteral("fmMain-openconnect.png")), "OpenConnect") &&
        taltrix::history::renderHistoryWindow(out.filePath(QStringLiteral("HistoryWindow.png")));
    return ok ? 0 : 1;
}
