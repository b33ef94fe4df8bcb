// A private interface of the control, answered by QueryInterface for code
// that lives beside it in the same process (the library's own tests and
// diagnostics): it reaches the engine's event sink, so that engine events can
// be raised without a network peer. Not part of the embedder header; its IID
// is not registered.
#pragma once

#include "control/engine/engine_events.h"
#include "platform/com/unknown.h"

inline constexpr IID IID_IMorvaneEngineHook = com::makeGuid("{9B3E6F2A-7C41-4E0D-A5B8-2F61C0D4E917}");

struct IMorvaneEngineHook : IUnknown {
    static constexpr const IID& uuid = IID_IMorvaneEngineHook;
    // The sink the engine reports to: the control's own event firing.
    virtual morvane::EngineEvents& engineEvents() = 0;

protected:
    ~IMorvaneEngineHook() = default;
};
