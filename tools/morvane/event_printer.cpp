#include "tools/morvane/event_printer.h"

#include <cstdio>
#include <string>

#include "control/com/interface_description.h"
#include "control/include/morvane.h"
#include "platform/com/connection_point.h"
#include "tools/morvane/event_ids.h"
#include "tools/morvane/json_text.h"

namespace morvane::cli {

namespace {

constexpr DISPID redirectEvent = 8;
constexpr DISPID certificateEvent = 10;

void answer(VARIANT& accept, Answer how) {
    if (how == Answer::Policy || accept.vt != (VT_BYREF | VT_BOOL) || accept.pboolVal == nullptr) return;
    *accept.pboolVal = how == Answer::Yes ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

HRESULT EventPrinter::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IMorvaneEvents) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG EventPrinter::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT EventPrinter::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    const EventDescription* event = findEvent(member);
    if (event == nullptr || params == nullptr) return DISP_E_MEMBERNOTFOUND;
    if (params->cArgs != event->parameters.size()) return DISP_E_BADPARAMCOUNT;

    // Arguments come in reverse order.
    auto argument = [&](std::size_t i) -> VARIANT& { return params->rgvarg[params->cArgs - 1 - i]; };
    if (member == redirectEvent || member == certificateEvent) {
        for (std::size_t i = 0; i < event->parameters.size(); ++i) {
            if (event->parameters[i].name != "Accept") continue;
            answer(argument(i), member == redirectEvent ? redirects_ : certificates_);
        }
    }
    if (printing && (printDataIn || member != dataInEvent)) {
        std::string line = "{\"event\":" + jsonString(event->name);
        for (std::size_t i = 0; i < event->parameters.size(); ++i) {
            line += "," + jsonString(event->parameters[i].name) + ":" + jsonValue(argument(i));
        }
        if (member == dataInEvent) {
            // The payload's bytes, whatever the code page made of the text.
            const CallResult bytes = control_.get("DataInTextB");
            if (bytes.ok() && isByteArray(bytes.value)) line += ",\"Hex\":" + jsonString(hexOfBytes(bytes.value));
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    if (onEvent) onEvent(member, *params);
    return S_OK;
}

HRESULT adviseEvents(IDispatch* control, IDispatch* sink, DWORD& cookie) {
    com::ComPtr<IConnectionPointContainer> container;
    HRESULT hr = control->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
    if (FAILED(hr)) return hr;
    com::ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(DIID__IMorvaneEvents, point.put());
    if (FAILED(hr)) return hr;
    return point->Advise(sink, &cookie);
}

void unadviseEvents(IDispatch* control, DWORD cookie) {
    com::ComPtr<IConnectionPointContainer> container;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, container.putVoid()))) return;
    com::ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(container->FindConnectionPoint(DIID__IMorvaneEvents, point.put()))) point->Unadvise(cookie);
}

}  // namespace morvane::cli
