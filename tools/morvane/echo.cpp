#include "tools/morvane/echo.h"

#include <chrono>
#include <deque>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/loop/thread_loop.h"
#include "platform/text/code_page.h"
#include "tools/morvane/event_ids.h"

namespace morvane::cli {

namespace {

// The loop sleeps until something happens; a wait step needs some limit.
constexpr std::chrono::hours idleStep{24};

struct Message {
    SHORT format = 0;
    // A message that came in one part keeps the array DataInTextB gave;
    // one that came in parts is joined.
    com::Variant whole;
    std::vector<std::uint8_t> joined;
};

std::span<const std::uint8_t> bytesOf(const VARIANT& array) {
    if (array.vt != (VT_ARRAY | VT_UI1) || array.parray == nullptr) return {};
    return {static_cast<const std::uint8_t*>(array.parray->pvData), array.parray->rgsabound[0].cElements};
}

}  // namespace

int runEcho(LateBound& control, EventPrinter& events, const std::string& url) {
    std::deque<Message> due;
    Message partial;
    bool inMessage = false;
    bool closed = false;
    bool failed = false;
    // Payloads are sent back, not printed: a suite's messages run to megabytes.
    events.printDataIn = false;
    events.onEvent = [&](DISPID event, DISPPARAMS& params) {
        auto argument = [&](UINT i) -> VARIANT& { return params.rgvarg[params.cArgs - 1 - i]; };
        if (event == disconnectedEvent) {
            closed = true;
        } else if (event == errorEvent) {
            failed = true;
        } else if (event == dataInEvent && params.cArgs == 3) {
            const SHORT format = *argument(0).piVal;
            const bool last = *argument(2).pboolVal != VARIANT_FALSE;
            // Pongs are answers, not messages.
            if (format != textFormat && format != binaryFormat) return;
            CallResult bytes = control.get("DataInTextB");
            if (!reportFailure("DataInTextB", bytes)) {
                failed = true;
                return;
            }
            if (!inMessage && last) {
                due.push_back({format, std::move(bytes.value), {}});
                return;
            }
            if (!inMessage) partial = Message{format, {}, {}};
            const auto part = bytesOf(bytes.value);
            partial.joined.insert(partial.joined.end(), part.begin(), part.end());
            inMessage = !last;
            if (last) due.push_back(std::move(partial));
        }
    };

    bool ok = reportFailure("Connect", control.call("Connect", {com::Variant(codepage::utf8ToUtf16(url))}));
    auto& loop = platform::loop::threadLoop();
    while (ok && !closed) {
        if (due.empty()) {
            loop.waitStep(idleStep);
            continue;
        }
        Message message = std::move(due.front());
        due.pop_front();
        // DataFormat makes the opcode: text goes back as text even when its
        // bytes are no text at all, which only a lax control lets through.
        ok = reportFailure("DataFormat", control.put("DataFormat", com::Variant(message.format)));
        if (message.whole.vt != VT_EMPTY) {
            ok = ok && reportFailure("DataToSendB", control.putLent("DataToSendB", message.whole));
        } else {
            const com::Variant array = com::Variant::fromArray(VT_UI1, com::byteArrayFrom(message.joined));
            ok = ok && reportFailure("DataToSendB", control.putLent("DataToSendB", array));
        }
        // A send that the end of the connection overtook is no failure of
        // its own: the end says how it went.
        if (!ok && closed) ok = true;
    }
    events.onEvent = nullptr;
    if (!ok || failed) return 1;
    const CallResult clean = control.call("Config", {com::Variant(std::u16string_view(u"ClosedCleanly"))});
    const bool cleanly = clean.ok() && clean.value.vt == VT_BSTR && com::bstrView(clean.value.bstrVal) == u"True";
    return cleanly ? 0 : 1;
}

}  // namespace morvane::cli
