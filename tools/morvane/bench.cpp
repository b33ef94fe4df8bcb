#include "tools/morvane/bench.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/loop/thread_loop.h"
#include "platform/text/code_page.h"
#include "tools/morvane/json_text.h"

namespace morvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DISPID dataInEvent = 3;
constexpr DISPID disconnectedEvent = 4;
constexpr DISPID errorEvent = 5;
constexpr short textFormat = 1;
constexpr short binaryFormat = 2;
// A message that has not come back by then is not coming.
constexpr std::chrono::seconds patience{30};

struct Message {
    short format = 0;
    std::u16string text;             // text messages
    std::vector<std::uint8_t> bytes;  // binary messages, from DataInTextB
};

// Collects whole messages from DataIn events (parts joined until EOM).
class Inbox {
public:
    Inbox(LateBound& control, EventPrinter& events) : control_(control), events_(events) {
        events_.printing = false;
        events_.onEvent = [this](DISPID event, DISPPARAMS& params) { take(event, params); };
    }
    ~Inbox() { events_.onEvent = nullptr; }

    // Runs the loop until a whole message is there; false on time-out,
    // close or error.
    bool next(Message& message) {
        const Clock::time_point deadline = Clock::now() + patience;
        auto& loop = platform::loop::threadLoop();
        while (messages_.empty()) {
            if (closed_ || !failure_.empty() || Clock::now() > deadline) return false;
            loop.waitStep(std::chrono::milliseconds(100));
        }
        message = std::move(messages_.front());
        messages_.pop_front();
        return true;
    }

    std::string failure() const {
        if (!failure_.empty()) return failure_;
        return closed_ ? "the connection closed" : "no message within 30 s";
    }

private:
    void take(DISPID event, DISPPARAMS& params) {
        auto argument = [&](UINT i) -> VARIANT& { return params.rgvarg[params.cArgs - 1 - i]; };
        if (event == disconnectedEvent) {
            closed_ = true;
        } else if (event == errorEvent && params.cArgs == 2) {
            failure_ = "Error event: " + codepage::utf16ToUtf8(com::bstrView(*argument(1).pbstrVal));
        } else if (event == dataInEvent && params.cArgs == 3) {
            partial_.format = partial_.text.empty() && partial_.bytes.empty() ? *argument(0).piVal : partial_.format;
            if (partial_.format == binaryFormat) {
                const CallResult bytes = control_.get("DataInTextB");
                if (isByteArray(bytes.value)) {
                    const auto* data = static_cast<const std::uint8_t*>(bytes.value.parray->pvData);
                    partial_.bytes.insert(partial_.bytes.end(), data,
                                          data + bytes.value.parray->rgsabound[0].cElements);
                }
            } else {
                partial_.text.append(com::bstrView(*argument(1).pbstrVal));
            }
            if (*argument(2).pboolVal) messages_.push_back(std::exchange(partial_, Message{}));
        }
    }

    LateBound& control_;
    EventPrinter& events_;
    std::deque<Message> messages_;
    Message partial_;
    bool closed_ = false;
    std::string failure_;
};

// Message i of a run: its number, then letters, exactly `size` ASCII bytes,
// so that no two messages of a run are alike.
std::string makeMessage(long i, long size) {
    std::string text = std::to_string(i) + ":";
    text.resize(static_cast<std::size_t>(size), static_cast<char>('a' + i % 26));
    text.resize(static_cast<std::size_t>(size));
    return text;
}

bool sameText(const std::u16string& received, const std::string& sent) {
    return received.size() == sent.size() &&
           std::equal(sent.begin(), sent.end(), received.begin(),
                      [](char a, char16_t b) { return static_cast<char16_t>(static_cast<unsigned char>(a)) == b; });
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

struct Outcome {
    bool ok = true;
    std::string error;
    long messages = 0;
    long long bytes = 0;
    double seconds = 0;
    std::vector<double> latenciesUs;
};

void printResult(const Bench& bench, const Outcome& outcome) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", outcome.seconds);
    std::string line = "{\"client\":\"morvane\",\"workload\":" + jsonString(bench.workload) +
                       ",\"ok\":" + (outcome.ok ? "true" : "false") +
                       ",\"messages\":" + std::to_string(outcome.messages) +
                       ",\"bytes\":" + std::to_string(outcome.bytes) + ",\"seconds\":" + seconds;
    if (bench.workload == "latency") {
        char figures[96];
        std::snprintf(figures, sizeof figures, ",\"median_us\":%.1f,\"p99_us\":%.1f",
                      percentile(outcome.latenciesUs, 0.5), percentile(outcome.latenciesUs, 0.99));
        line += figures;
    }
    if (!outcome.ok) line += ",\"error\":" + jsonString(outcome.error);
    line += "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

bool check(Outcome& outcome, const CallResult& result, std::string_view what) {
    if (result.ok()) return true;
    outcome.ok = false;
    outcome.error = std::string(what) + " failed: " + codepage::utf16ToUtf8(result.description);
    return false;
}

void roundTrips(LateBound& control, Inbox& inbox, const Bench& bench, bool binary, Outcome& outcome) {
    if (!check(outcome, control.put("DataFormat", com::Variant(static_cast<LONG>(binary ? binaryFormat : textFormat))),
               "DataFormat")) {
        return;
    }
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < bench.count && outcome.ok; ++i) {
        const std::string sent = makeMessage(i, bench.size);
        const Clock::time_point sendTime = Clock::now();
        if (binary) {
            const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(sent.data()), sent.size());
            if (!check(outcome, control.put("DataToSendB", com::Variant::fromArray(VT_UI1, com::byteArrayFrom(bytes))),
                       "DataToSendB")) {
                return;
            }
        } else if (!check(outcome, control.put("DataToSend", com::Variant(codepage::utf8ToUtf16(sent))), "DataToSend")) {
            return;
        }
        Message echo;
        if (!inbox.next(echo)) {
            outcome.ok = false;
            outcome.error = "message " + std::to_string(i) + ": " + inbox.failure();
            return;
        }
        const bool same = binary ? echo.bytes.size() == sent.size() &&
                                       std::memcmp(echo.bytes.data(), sent.data(), sent.size()) == 0
                                 : sameText(echo.text, sent);
        if (!same) {
            outcome.ok = false;
            outcome.error = "echo " + std::to_string(i) + " differs from what was sent";
            return;
        }
        outcome.latenciesUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sendTime).count());
        ++outcome.messages;
        outcome.bytes += bench.size;
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
}

void burst(LateBound& control, Inbox& inbox, const Bench& bench, Outcome& outcome) {
    if (!check(outcome, control.put("DataFormat", com::Variant(static_cast<LONG>(textFormat))), "DataFormat")) return;
    const Clock::time_point start = Clock::now();
    if (!check(outcome, control.put("DataToSend", com::Variant(std::u16string_view(u"go"))), "DataToSend")) return;
    for (long i = 0; i < bench.count; ++i) {
        Message message;
        if (!inbox.next(message)) {
            outcome.ok = false;
            outcome.error = "message " + std::to_string(i) + ": " + inbox.failure();
            return;
        }
        if (message.format != textFormat || message.text.size() != static_cast<std::size_t>(bench.size)) {
            outcome.ok = false;
            outcome.error = "message " + std::to_string(i) + " is not a text message of " +
                            std::to_string(bench.size) + " bytes";
            return;
        }
        ++outcome.messages;
        outcome.bytes += bench.size;
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int runBench(LateBound& control, EventPrinter& events, const Bench& bench) {
    Outcome outcome;
    Inbox inbox(control, events);
    if (check(outcome, control.call("Connect", {com::Variant(codepage::utf8ToUtf16(bench.url))}), "Connect")) {
        if (bench.workload == "burst") {
            burst(control, inbox, bench, outcome);
        } else {
            roundTrips(control, inbox, bench, bench.workload == "throughput", outcome);
        }
        // Closing is not timed; a failure to close does not spoil the figures.
        control.call("Disconnect");
        Message ignored;
        while (inbox.next(ignored)) {
        }
    }
    printResult(bench, outcome);
    return outcome.ok ? 0 : 1;
}

}  // namespace morvane::cli
