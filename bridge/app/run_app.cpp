#include "bridge/app/run_app.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>

#include "bridge/app/app_texts.h"
#include "bridge/app/autostart.h"
#include "bridge/app/component_message_box.h"
#include "bridge/app/dbus_thread_exit.h"
#include "bridge/app/dialog_answers.h"
#include "bridge/app/fm_main.h"
#include "bridge/app/headless_front.h"
#include "bridge/app/process_priority.h"
#include "bridge/app/program_folder.h"
#include "bridge/app/qt_dialogs.h"
#include "bridge/app/single_instance.h"
#include "bridge/app/stop_signals.h"
#include "bridge/app/window_pictures.h"
#include "platform/loop/qt_event_loop.h"
#include "platform/loop/thread_loop.h"

namespace taltrix::app {

namespace {

// The folder in use, made for an installed Taltrix's user on first start.
std::string preparedProgramFolder(const CommandLine& options) {
    const ProgramFolder folder = programFolder(options.home);
    if (folder.kind == FolderKind::perUser) {
        if (const std::string problem = createPrivateFolder(folder.path); !problem.empty()) {
            std::fprintf(stderr, "taltrix: %s; settings cannot be kept\n", problem.c_str());
        }
        return folder.path;
    }
    struct stat st {};
    if (::stat(folder.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "taltrix: program folder %s does not exist; settings cannot be kept\n",
                     folder.path.c_str());
    }
    return folder.path;
}

// The thread's message loop runs on Qt's for as long as the bridge runs, so
// that the WebSocket control's sockets, timers and the waits of its blocking
// calls keep the window, the tray and the timers alive. It is put back before
// the application object goes, whose event dispatcher it uses.
class QtThreadLoop {
public:
    QtThreadLoop() {
        auto loop = std::make_unique<platform::loop::QtEventLoop>();
        if (!loop->valid()) {
            std::fprintf(stderr, "taltrix: Qt cannot carry the message loop; the relay link would stall it\n");
            return;
        }
        platform::loop::installThreadLoop(std::move(loop));
        installed_ = true;
    }
    ~QtThreadLoop() {
        if (installed_) platform::loop::installThreadLoop(nullptr);
    }
    QtThreadLoop(const QtThreadLoop&) = delete;
    QtThreadLoop& operator=(const QtThreadLoop&) = delete;

private:
    bool installed_ = false;
};

// Attaches the links, loads the window and runs the loop; the same for both
// front ends.
int runCore(AppCore& core, const CommandLine& options, const LinksFactory& makeLinks) {
    // Before the links, whose control uses the loop from its creation on,
    // and gone after them.
    QtThreadLoop threadLoop;
    std::unique_ptr<BridgeHooks> links;
    if (makeLinks) {
        links = makeLinks(core, options);
        if (links) {
            core.setHooks(*links);
        }
    }
    StopSignals stopSignals([&core] { core.terminate(); });
    core.load();
    int status = 0;
    if (!core.ended()) {
        status = QCoreApplication::exec();
    }
    core.unload();
    return status;
}

}  // namespace

int runApplication(const CommandLine& options, int& argc, char** argv, const LinksFactory& makeLinks) {
    // Before the application object and the links, either of which may start
    // Qt's D-Bus thread (see dbus_thread_exit.h).
    awaitDbusThreadAtExit();
    // Window initialisation: priority first, then the single-instance check.
    setProcessPriority(0, HIGH_PRIORITY_CLASS);
    const DialogAnswers answers = dialogAnswers(options.answer, options.input);
    SingleInstance instance(applicationTitle);

    if (options.headless) {
        QCoreApplication application(argc, argv);
        StreamDialogs dialogs(answers);
        if (instance.anotherInstanceRuns()) {
            dialogs.messageBox(alreadyStartedText, alreadyStartedTitle, BoxButtons::ok, BoxIcon::critical);
            return exitAlreadyRunning;
        }
        const std::string folder = preparedProgramFolder(options);
        HeadlessView view;
        AppCore core(view, dialogs, folder);
        return runCore(core, options, makeLinks);
    }

    QApplication application(argc, argv);
    // Hidden in the tray is the normal state; closing a message box while
    // the window is hidden must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(windowIcon(WindowIcon::ico3));
    const ComponentMessageBoxes componentBoxes;
    QtDialogs dialogs(answers);
    if (instance.anotherInstanceRuns()) {
        dialogs.messageBox(alreadyStartedText, alreadyStartedTitle, BoxButtons::ok, BoxIcon::critical);
        return exitAlreadyRunning;
    }
    const std::string folder = preparedProgramFolder(options);
    fmMain window(dialogs, folder);
    dialogs.setParent(&window);
    window.core().setStartHidden(options.hidden);
    window.setAutostart(Autostart::forThisProcess(options.home));
    return runCore(window.core(), options, makeLinks);
}

}  // namespace taltrix::app
