#include "bridge/links/morvane_client.h"

#include <span>
#include <vector>

#include "control/include/morvane.h"
#include "platform/com/bstr_text.h"
#include "platform/com/connection_point.h"
#include "platform/com/creation.h"
#include "platform/text/code_page.h"

namespace taltrix::links {

namespace {

constexpr unsigned ansi = codepage::CP_ACP;

std::string ansiOf(BSTR text) { return com::multiByteFromBstr(text, ansi); }

com::Variant textArgument(std::string_view text) { return com::Variant::fromBstr(com::bstrFromMultiByte(text, ansi)); }

// Event parameters arrive by reference, in reverse order.
VARIANT* argument(DISPPARAMS& params, UINT index) {
    return index < params.cArgs ? &params.rgvarg[params.cArgs - 1 - index] : nullptr;
}

int integerOf(const VARIANT* v) {
    if (v == nullptr) return 0;
    if (v->vt == (VT_BYREF | VT_I2) && v->piVal != nullptr) return *v->piVal;
    if (v->vt == VT_I2) return v->iVal;
    if (v->vt == (VT_BYREF | VT_I4) && v->plVal != nullptr) return *v->plVal;
    if (v->vt == VT_I4) return v->lVal;
    return 0;
}

std::string textOf(const VARIANT* v) {
    if (v == nullptr) return {};
    if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal != nullptr) return ansiOf(*v->pbstrVal);
    if (v->vt == VT_BSTR) return ansiOf(v->bstrVal);
    return {};
}

bool booleanOf(const VARIANT* v) {
    if (v == nullptr) return false;
    if (v->vt == (VT_BYREF | VT_BOOL) && v->pboolVal != nullptr) return *v->pboolVal != VARIANT_FALSE;
    if (v->vt == VT_BOOL) return v->boolVal != VARIANT_FALSE;
    return false;
}

std::string creationProblem(HRESULT hr) {
    const std::string name = std::string(morvaneProgId);
    if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG) {
        return "the Morvane control (" + name + ") is not registered; register libmorvane.so with comreg.";
    }
    if (hr == CO_E_DLLNOTFOUND) return "the Morvane control's library cannot be loaded: " + com::lastLoadError() + ".";
    return "the Morvane control (" + name + ") cannot be created: " + com::hresultHex(hr) + " " + com::hresultName(hr) +
           ".";
}

}  // namespace

// The event sink handed to the control's connection point. It may outlive
// the client by the control's reference, so the client unhooks itself.
class MorvaneEventSink final : public com::UntypedDispatch {
public:
    explicit MorvaneEventSink(WebSocketControl& owner) : owner_(&owner) {}

    void unhook() { owner_ = nullptr; }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IMorvaneEvents) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    ~MorvaneEventSink() = default;

    WebSocketControl* owner_;
    ULONG references_ = 1;
};

HRESULT MorvaneEventSink::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    if (params == nullptr) return E_INVALIDARG;
    if (owner_ == nullptr) return S_OK;
    // The handler may end the client; the sink stays alive until it returns.
    com::ComPtr<IDispatch> self(this);
    WebSocketControl& owner = *owner_;
    DISPPARAMS& p = *params;
    switch (member) {
        case DISPID_MORVANEEVENT_CONNECTED:
            if (owner.onConnected) owner.onConnected(integerOf(argument(p, 0)), textOf(argument(p, 1)));
            break;
        case DISPID_MORVANEEVENT_DATAIN:
            if (owner.onDataIn) {
                owner.onDataIn(integerOf(argument(p, 0)), textOf(argument(p, 1)), booleanOf(argument(p, 2)));
            }
            break;
        case DISPID_MORVANEEVENT_DISCONNECTED:
            if (owner.onDisconnected) owner.onDisconnected(integerOf(argument(p, 0)), textOf(argument(p, 1)));
            break;
        case DISPID_MORVANEEVENT_ERROR:
            if (owner.onError) owner.onError(integerOf(argument(p, 0)), textOf(argument(p, 1)));
            break;
        case DISPID_MORVANEEVENT_SSLSERVERAUTHENTICATION: {
            VARIANT* acceptArgument = argument(p, 4);
            if (!owner.onSSLServerAuthentication || acceptArgument == nullptr ||
                acceptArgument->vt != (VT_BYREF | VT_BOOL) || acceptArgument->pboolVal == nullptr) {
                break;
            }
            const ServerCertificate certificate{textOf(argument(p, 0)), textOf(argument(p, 1)), textOf(argument(p, 2)),
                                                textOf(argument(p, 3))};
            bool accept = *acceptArgument->pboolVal != VARIANT_FALSE;
            owner.onSSLServerAuthentication(certificate, accept);
            *acceptArgument->pboolVal = accept ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        default:
            // ConnectionStatus, Header, ReadyToSend, Redirect, SetCookie and
            // SSLStatus: the bridge has no handler for them.
            break;
    }
    return S_OK;
}

struct MorvaneClient::Binding {
    com::ComPtr<IDispatch> control;
    com::ComPtr<IConnectionPoint> events;
    MorvaneEventSink* sink = nullptr;  // one reference, ours
    DWORD cookie = 0;

    bool invoke(DISPID member, WORD flags, std::vector<com::Variant> args, VARIANT* result, ControlError& error) {
        com::ExcepInfo exception;
        const HRESULT hr = com::invoke(control.get(), member, flags, std::span<com::Variant>(args), result, &exception);
        if (SUCCEEDED(hr)) return true;
        if (hr == DISP_E_EXCEPTION) {
            error.number = exception.error();
            error.description = ansiOf(exception.bstrDescription);
        } else {
            error.number = hr;
            error.description = com::hresultName(hr);
        }
        return false;
    }
};

std::unique_ptr<MorvaneClient> MorvaneClient::create(std::string& problem) {
    auto binding = std::make_unique<Binding>();
    const HRESULT created = com::createInstance(morvaneProgId, binding->control);
    if (FAILED(created) || !binding->control) {
        problem = creationProblem(created);
        return nullptr;
    }
    std::unique_ptr<MorvaneClient> client(new MorvaneClient(std::move(binding)));
    Binding& b = *client->binding_;
    const auto container = b.control.as<IConnectionPointContainer>();
    HRESULT advised = container ? container->FindConnectionPoint(DIID__IMorvaneEvents, b.events.put()) : E_NOINTERFACE;
    if (SUCCEEDED(advised)) {
        b.sink = new MorvaneEventSink(*client);
        advised = b.events->Advise(b.sink, &b.cookie);
    }
    if (FAILED(advised)) {
        problem = "the Morvane control does not deliver its events: " + com::hresultHex(advised) + " " +
                  com::hresultName(advised) + ".";
        return nullptr;
    }
    return client;
}

MorvaneClient::MorvaneClient(std::unique_ptr<Binding> binding) : binding_(std::move(binding)) {}

MorvaneClient::~MorvaneClient() {
    Binding& b = *binding_;
    if (b.sink != nullptr) {
        b.sink->unhook();
        if (b.events && b.cookie != 0) b.events->Unadvise(b.cookie);
        b.sink->Release();
    }
}

bool MorvaneClient::Connect(std::string_view url, ControlError& error) {
    std::vector<com::Variant> args;
    args.push_back(textArgument(url));
    return binding_->invoke(DISPID_MORVANE_CONNECT, DISPATCH_METHOD, std::move(args), nullptr, error);
}

bool MorvaneClient::Connected() {
    com::Variant value;
    ControlError error;
    if (!binding_->invoke(DISPID_MORVANE_CONNECTED, DISPATCH_PROPERTYGET, {}, value.put(), error)) return false;
    return booleanOf(&value);
}

bool MorvaneClient::setConnected(bool connected, ControlError& error) {
    std::vector<com::Variant> args;
    args.push_back(com::Variant::fromBool(connected));
    return binding_->invoke(DISPID_MORVANE_CONNECTED, DISPATCH_PROPERTYPUT, std::move(args), nullptr, error);
}

bool MorvaneClient::setDataToSend(std::string_view text, ControlError& error) {
    std::vector<com::Variant> args;
    args.push_back(textArgument(text));
    return binding_->invoke(DISPID_MORVANE_DATATOSEND, DISPATCH_PROPERTYPUT, std::move(args), nullptr, error);
}

void MorvaneClient::Interrupt() {
    ControlError ignored;
    binding_->invoke(DISPID_MORVANE_INTERRUPT, DISPATCH_METHOD, {}, nullptr, ignored);
}

}  // namespace taltrix::links
