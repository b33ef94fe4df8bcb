#include "bridge/support/support_features.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <cctype>
#include <charconv>

#include "bridge/history/history_window.h"
#include "bridge/support/diagnostics_bundle.h"
#include "bridge/support/support_commands.h"
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
constexpr std::string_view feedAt = "Shot feed at http://127.0.0.1:";
constexpr std::string_view feedUnavailable = "The shot feed cannot listen on port ";
constexpr std::string_view feedPortUnreadable = "The shot feed is off: [Feed] Port takes 0 to 65535, not ";

std::string settingsPath(const std::string& programFolder) {
    std::string path = programFolder;
    if (path.empty() || path.back() != '/') path += '/';
    return path + "Settings.pgs";
}

std::string readSetting(const std::string& programFolder, std::string_view section, std::string_view key) {
    char value[64] = {};
    platform::profile::GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(), "", value,
                                                sizeof value, settingsPath(programFolder).c_str());
    return value;
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool keepShots(const std::string& programFolder) {
    const std::string setting = lowered(readSetting(programFolder, historySection, keepShotsKey));
    return setting != "false" && setting != "no" && setting != "0";
}

std::optional<std::uint16_t> feedPort(const std::string& programFolder, std::string& problem) {
    const std::string setting = readSetting(programFolder, feedSection, feedPortKey);
    if (setting.empty()) return feed::defaultPort;
    std::uint32_t port = 0;
    const auto [end, ec] = std::from_chars(setting.data(), setting.data() + setting.size(), port);
    if (ec != std::errc() || end != setting.data() + setting.size() || port > 65535) {
        problem = std::string(feedPortUnreadable) + "\"" + setting + "\"";
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

SupportFeatures::SupportFeatures(app::AppCore& core, links::BridgeLinks& links, const CommandLine& options)
    : core_(core), links_(links) {
    const std::int64_t session = history::nowMs();
    startFeed(session);
    if (keepShots(core.programFolder())) {
        std::string error;
        auto store = history::HistoryStore::open(history::historyPath(core.programFolder()), true, error);
        if (store) {
            links_.resumeShotNumbers(store->lastShotNumber(error));
            if (!error.empty()) tellLater(std::string(shotNumberUnread) + error);
            writer_ = std::make_unique<history::HistoryWriter>(std::move(store), session);
            if (feed_) {
                writer_->setStoredListener(
                    [feed = feed_.get()](const history::ShotEntry& entry) { feed->publishShot(entry); });
            }
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
    core_.setReportListener({});
}

void SupportFeatures::startFeed(std::int64_t session) {
    std::string problem;
    const std::optional<std::uint16_t> port = feedPort(core_.programFolder(), problem);
    if (!port) {
        tellLater(problem);
        return;
    }
    if (*port == 0) return;
    feed::FeedConfig config;
    config.port = *port;
    config.historyPath = history::historyPath(core_.programFolder());
    config.sessionStartedMs = session;
    config.readDate = parseSince;
    feed_ = feed::Feed::start(std::move(config), problem);
    if (!feed_) {
        // The bridge goes on without it.
        tellLater(std::string(feedUnavailable) + std::to_string(*port) + ": " + problem);
        return;
    }
    tellLater(std::string(feedAt) + std::to_string(*port) + "/overlay");
    core_.setReportListener([this] { feedStatusLater(); });
    // Whatever changed without a report shows at the next connection tick,
    // which wakes the bridge anyway.
    QObject::connect(&core_.Timer_check_Connection(), &QTimer::timeout, &feedContext_, [this] { feedStatusLater(); });
    feedStatusLater();
}

void SupportFeatures::feedStatusLater() {
    if (feedCheckPending_) return;
    feedCheckPending_ = true;
    // After the handler that reported is done with the links' state.
    QTimer::singleShot(0, &feedContext_, [this] {
        feedCheckPending_ = false;
        const app::SettingsValues& values = core_.settings().values();
        feed::FeedStatus status;
        status.deviceConnected = links_.deviceConnected();
        status.deviceName = values.BT_Connected_device;
        history::toUtf8(status.deviceName);
        status.simulatorName = std::string(simulatorSettingText(links_.chosenSimulator()));
        status.simulatorConnected = links_.simulatorConnected();
        status.clubInPlay = links_.simulatorState().currentClub;
        feed_->publishStatus(status);
    });
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
