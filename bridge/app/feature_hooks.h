// What the window offers beyond the bridge itself: the History window and
// the diagnostics bundle. The support features implement it and hand it to
// the core; without them the menu items and the button do nothing.
#pragma once

namespace taltrix::app {

class FeatureHooks {
public:
    virtual ~FeatureHooks() = default;
    virtual void openHistory() = 0;
    virtual void saveDiagnostics() = 0;
};

}  // namespace taltrix::app
