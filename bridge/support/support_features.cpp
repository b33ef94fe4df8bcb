#include "bridge/support/support_features.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <cctype>

#include "bridge/history/history_window.h"
#include "bridge/support/diagnostics_bundle.h"
#include "platform/profile/private_profile.h"

namespace taltrix::support {

namespace {

constexpr std::string_view historyUnavailable = "The shot history cannot be kept: ";
constexpr std::string_view shotNumberUnread = "The history's last Open Connect shot number cannot be read: ";
constexpr std::string_view recordingTo = "Recording the launch monitor to ";
constexpr std::string_view recordingFailed = "The launch monitor cannot be recorded: ";
constexpr std::string_view diagnosticsWritten = "Diagnostics bundle written to ";
constexpr std::string_view diagnosticsFailed = "The diagnostics bundle could not be written: ";
constexpr std::string_view diagnosticsTitle = "Diagnostics bundle";

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool keepShots(const std::string& programFolder) {
    std::string path = programFolder;
    if (path.empty() || path.back() != '/') path += '/';
    path += "Settings.pgs";
    char value[64] = {};
    platform::profile::GetPrivateProfileStringA(std::string(historySection).c_str(), std::string(keepShotsKey).c_str(),
                                                "", value, sizeof value, path.c_str());
    const std::string setting = lowered(value);
    return setting != "false" && setting != "no" && setting != "0";
}

SupportFeatures::SupportFeatures(app::AppCore& core, links::BridgeLinks& links, const CommandLine& options)
    : core_(core), links_(links) {
    if (keepShots(core.programFolder())) {
        std::string error;
        auto store = history::HistoryStore::open(history::historyPath(core.programFolder()), true, error);
        if (store) {
            links_.resumeShotNumbers(store->lastShotNumber(error));
            if (!error.empty()) tellLater(std::string(shotNumberUnread) + error);
            writer_ = std::make_unique<history::HistoryWriter>(std::move(store), history::nowMs());
            links_.setShotObserver(writer_.get());
            core_.setStatusListener([writer = writer_.get()](std::string_view line) { writer->postStatus(line); });
        } else {
            tellLater(std::string(historyUnavailable) + error);
        }
    }
    if (options.record) {
        recorder_ = std::make_unique<record::DeviceRecorder>(*options.record);
        if (recorder_->ok()) {
            links_.setRecorder(recorder_.get());
            tellLater(std::string(recordingTo) + recorder_->path());
        } else {
            tellLater(std::string(recordingFailed) + recorder_->error());
        }
    }
}

SupportFeatures::~SupportFeatures() {
    // The status lines of the last moments go to the writer while it is
    // still there; nothing after.
    core_.setStatusListener({});
}

void SupportFeatures::tellLater(std::string message) {
    // After the window has loaded, which empties the status line.
    QTimer::singleShot(0, [&core = core_, message = std::move(message)] { core.fn_show_status(message); });
}

void SupportFeatures::openHistory() {
    if (!window_) {
        const std::int64_t session = writer_ ? writer_->session() : history::nowMs();
        std::function<std::uint64_t()> stored;
        if (writer_) stored = [writer = writer_.get()] { return writer->shotsStored(); };
        window_ = std::make_unique<history::HistoryWindow>(history::historyPath(core_.programFolder()), session,
                                                           core_.dialogBoxes(), std::move(stored));
    } else {
        window_->refresh();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SupportFeatures::saveDiagnostics() {
    const QString suggested =
        QDir::home().filePath(QStringLiteral("taltrix-diagnostics-%1.zip")
                                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString file = QFileDialog::getSaveFileName(nullptr, QString::fromUtf8(diagnosticsTitle.data()), suggested,
                                                      QStringLiteral("Zip files (*.zip)"));
    if (file.isEmpty()) return;
    if (writer_) writer_->drain();  // the latest shots and status lines in the bundle too
    DiagnosticsInput input;
    input.programFolder = core_.programFolder();
    input.madeBy = "the tray menu of a running Taltrix";
    input.bluetooth = links_.bluetoothReport();
    input.windowTrace = core_.status().traceText();
    std::string error;
    if (writeDiagnostics(file.toStdString(), input, error)) {
        core_.fn_show_status(std::string(diagnosticsWritten) + file.toStdString());
    } else {
        core_.dialogBoxes().messageBox(std::string(diagnosticsFailed) + error, diagnosticsTitle, app::BoxButtons::ok,
                                       app::BoxIcon::exclamation);
    }
}

std::unique_ptr<app::BridgeHooks> makeLinksWithSupport(app::AppCore& core, const CommandLine& options) {
    std::unique_ptr<app::BridgeHooks> hooks = links::makeBridgeLinks(core, options);
    if (auto* links = dynamic_cast<links::BridgeLinks*>(hooks.get())) {
        core.adoptFeatures(std::make_unique<SupportFeatures>(core, *links, options));
    }
    return hooks;
}

}  // namespace taltrix::support
