// The tool's event sink: every event of _IMorvaneEvents printed as one JSON
// line with its parameters by name, and the answering handlers answered.
#pragma once

#include <atomic>
#include <functional>

#include "platform/com/dispatch.h"
#include "tools/morvane/late_bound.h"
#include "tools/morvane/options.h"

namespace morvane::cli {

class EventPrinter final : public com::UntypedDispatch {
public:
    // `control` is read during DataIn for the payload's bytes; it must
    // outlive the sink's connection.
    EventPrinter(LateBound& control, Answer redirects, Answer certificates)
        : control_(control), redirects_(redirects), certificates_(certificates) {}

    // Told of every event after it has been printed (or not).
    std::function<void(DISPID event, DISPPARAMS& params)> onEvent;
    bool printing = true;
    bool printDataIn = true;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override;
    HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError) override;

private:
    LateBound& control_;
    Answer redirects_;
    Answer certificates_;
    std::atomic<ULONG> references_{1};
};

// Connects `sink` to the control's event interface; the cookie for Unadvise.
HRESULT adviseEvents(IDispatch* control, IDispatch* sink, DWORD& cookie);
void unadviseEvents(IDispatch* control, DWORD cookie);

}  // namespace morvane::cli
