// What the bridge keeps and offers beyond its links: the shot history (fed
// by the shot road, shown in the History window), the recording of
// --record, and the diagnostics bundle of the tray menu.
//
// Settings (section [History] of Settings.pgs, read only, never written):
//   Keep_shots   "False", "No" or "0" (any letter case) keeps no history;
//                anything else, or no value, keeps it (the default).
#pragma once

#include <memory>
#include <string>

#include "bridge/app/app_core.h"
#include "bridge/app/feature_hooks.h"
#include "bridge/command_line.h"
#include "bridge/history/history_writer.h"
#include "bridge/links/bridge_links.h"
#include "bridge/record/device_recorder.h"

namespace taltrix::history {
class HistoryWindow;
}

namespace taltrix::support {

inline constexpr std::string_view historySection = "History";
inline constexpr std::string_view keepShotsKey = "Keep_shots";

class SupportFeatures final : public app::FeatureHooks {
public:
    // Attaches to the links and the core. The links must go before this does.
    SupportFeatures(app::AppCore& core, links::BridgeLinks& links, const CommandLine& options);
    ~SupportFeatures() override;

    void openHistory() override;
    void saveDiagnostics() override;

    history::HistoryWriter* writer() const { return writer_.get(); }

private:
    void tellLater(std::string message);

    app::AppCore& core_;
    links::BridgeLinks& links_;
    std::unique_ptr<history::HistoryWriter> writer_;
    std::unique_ptr<record::DeviceRecorder> recorder_;
    std::unique_ptr<history::HistoryWindow> window_;
};

// Whether Settings.pgs in `programFolder` lets the bridge keep shots.
bool keepShots(const std::string& programFolder);

// The links the bridge runs with, the support features attached: what
// main() hands the front end.
std::unique_ptr<app::BridgeHooks> makeLinksWithSupport(app::AppCore& core, const CommandLine& options);

}  // namespace taltrix::support
