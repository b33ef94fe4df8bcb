// The methods of IMorvane: each converts its text arguments the way a put
// does, calls the engine and raises the code it returns.
#include "control/com/morvane_about.h"
#include "control/com/morvane_control.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

HRESULT Morvane::callMethod(DISPID dispid, BSTR first, BSTR second) {
    return guarded([&]() -> HRESULT {
        const DWORD help = methodHelpContext(dispid);
        const auto argument = [this](BSTR text) { return engineText(text, com::BstrExtent::toFirstZero); };
        switch (dispid) {
            case DISPID_MORVANE_ADDCOOKIE: engine_.http().addCookie(argument(first), argument(second)); return S_OK;
            case DISPID_MORVANE_CONNECT: return raiseEngineCode(engine_.webSocket().connect(argument(first)), help);
            case DISPID_MORVANE_DISCONNECT: return raiseEngineCode(engine_.webSocket().disconnect(), help);
            case DISPID_MORVANE_DOEVENTS: return raiseEngineCode(engine_.webSocket().doEvents(), help);
            case DISPID_MORVANE_INTERRUPT: return raiseEngineCode(engine_.webSocket().interrupt(), help);
            case DISPID_MORVANE_RESETHEADERS: return raiseEngineCode(engine_.http().resetHeaders(), help);
            case DISPID_MORVANE_SEND: {
                // Payload: every character, embedded zeros included.
                const std::string data = engineText(first, com::BstrExtent::whole);
                return raiseEngineCode(engine_.webSocket().send(bytesOf(data)), help);
            }
            case DISPID_MORVANE_SENDFILE: return raiseEngineCode(engine_.webSocket().sendFile(argument(first)), help);
            case DISPID_MORVANE_SENDTEXT: {
                // Straight to UTF-8: characters the code page lacks still arrive.
                std::u16string_view text = com::bstrView(first);
                text = text.substr(0, text.find(u'\0'));
                return raiseEngineCode(engine_.webSocket().sendText(codepage::utf16ToUtf8(text)), help);
            }
            default: return DISP_E_MEMBERNOTFOUND;
        }
    });
}

HRESULT Morvane::AboutBox() {
    return guarded([this] {
        // The box is modal; the container's own modeless windows must wait.
        const com::ModelessDialogsDisabled paused(site_.get());
        showAboutBox();
        return S_OK;
    });
}

HRESULT Morvane::AddCookie(BSTR cookieName, BSTR cookieValue) {
    return callMethod(DISPID_MORVANE_ADDCOOKIE, cookieName, cookieValue);
}

HRESULT Morvane::Config(BSTR configurationString, BSTR* result) {
    if (result) *result = nullptr;
    return guarded([&]() -> HRESULT {
        std::string value;
        const int code = engine_.config(engineText(configurationString, com::BstrExtent::toFirstZero), value);
        // The caller gets a string also when the call fails: an empty one.
        if (result) *result = callerText(value);
        return raiseEngineCode(code, methodHelpContext(DISPID_MORVANE_CONFIG));
    });
}

HRESULT Morvane::Connect(BSTR url) { return callMethod(DISPID_MORVANE_CONNECT, url); }
HRESULT Morvane::Disconnect() { return callMethod(DISPID_MORVANE_DISCONNECT); }
HRESULT Morvane::DoEvents() { return callMethod(DISPID_MORVANE_DOEVENTS); }
HRESULT Morvane::Interrupt() { return callMethod(DISPID_MORVANE_INTERRUPT); }
HRESULT Morvane::ResetHeaders() { return callMethod(DISPID_MORVANE_RESETHEADERS); }
HRESULT Morvane::Send(BSTR data) { return callMethod(DISPID_MORVANE_SEND, data); }
HRESULT Morvane::SendFile(BSTR fileName) { return callMethod(DISPID_MORVANE_SENDFILE, fileName); }
HRESULT Morvane::SendText(BSTR text) { return callMethod(DISPID_MORVANE_SENDTEXT, text); }

// Page-hosting entries of the interface; the control has nothing to do there.
HRESULT Morvane::OnStartPage(IUnknown*) { return S_OK; }
HRESULT Morvane::OnEndPage() { return S_OK; }

}  // namespace morvane
