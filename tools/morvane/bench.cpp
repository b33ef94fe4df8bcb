#include "tools/morvane/bench.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/loop/thread_loop.h"
#include "platform/text/code_page.h"
#include "tools/morvane/event_ids.h"
#include "tools/morvane/json_text.h"

namespace morvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A message that has not come back by then is not coming.
constexpr std::chrono::seconds patience{30};

struct Message {
    short format = 0;
    std::u16string text;  // text messages
    // What a consumer reads of a text message: `text`, or, for a message
    // that came whole, the event's own string, which it may look at only
    // while the event lasts.
    std::u16string_view textView;
    // Binary messages: a message that came in one part keeps the array its
    // DataInTextB gave; one that came in parts is joined in `joined`.
    com::Variant array;
    std::vector<std::uint8_t> joined;

    std::span<const std::uint8_t> bytes() const {
        if (array.vt == (VT_ARRAY | VT_UI1) && array.parray != nullptr) {
            return {static_cast<const std::uint8_t*>(array.parray->pvData), array.parray->rgsabound[0].cElements};
        }
        return joined;
    }
    bool empty() const { return text.empty() && joined.empty() && array.vt == VT_EMPTY; }
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
    // close or error. What `message` held is reused for later messages.
    bool next(Message& message) {
        if (messages_.empty() && !runUntil([this] { return !messages_.empty(); })) return false;
        if (message.joined.capacity() > spare_.capacity()) spare_ = std::move(message.joined);
        if (message.text.capacity() > spareText_.capacity()) spareText_ = std::move(message.text);
        message = std::move(messages_.front());
        messages_.pop_front();
        return true;
    }

    // While one lives, whole messages go to its consumer as they complete,
    // instead of waiting in the queue for next(); the consumer may keep
    // nothing of what it is shown.
    class Consuming {
    public:
        Consuming(Inbox& inbox, std::function<void(const Message&)> consumer) : inbox_(inbox) {
            inbox_.consumer_ = std::move(consumer);
        }
        ~Consuming() { inbox_.consumer_ = nullptr; }
        Consuming(const Consuming&) = delete;
        Consuming& operator=(const Consuming&) = delete;

    private:
        Inbox& inbox_;
    };

    // Runs the loop until `done` says so; false on time-out, close or error.
    bool runUntil(const std::function<bool()>& done) {
        auto& loop = platform::loop::threadLoop();
        // The deadline is set only once a wait step has not been enough, so
        // that a round trip reads the clock for its own timing alone.
        std::optional<Clock::time_point> deadline;
        while (!done()) {
            if (closed_ || !failure_.empty()) return false;
            if (deadline && Clock::now() > *deadline) return false;
            loop.waitStep(std::chrono::milliseconds(100));
            if (!deadline && !done()) deadline = Clock::now() + patience;
        }
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
            const bool last = *argument(2).pboolVal != VARIANT_FALSE;
            // A text message that came whole goes to a consumer straight from
            // its event: nothing of it needs keeping.
            if (consumer_ && last && *argument(0).piVal == textFormat && partial_.empty()) {
                whole_.format = textFormat;
                whole_.textView = com::bstrView(*argument(1).pbstrVal);
                consumer_(whole_);
                return;
            }
            const bool first = partial_.empty();
            if (first) {
                partial_.format = *argument(0).piVal;
                // The room of a message already read serves this one.
                if (partial_.text.capacity() < spareText_.capacity()) partial_.text = std::move(spareText_);
                partial_.text.clear();
            }
            if (partial_.format == binaryFormat) {
                CallResult bytes = control_.get("DataInTextB");
                if (isByteArray(bytes.value)) {
                    if (first && last) {
                        partial_.array = std::move(bytes.value);
                    } else {
                        if (first) partial_.joined = std::move(spare_);
                        const auto* data = static_cast<const std::uint8_t*>(bytes.value.parray->pvData);
                        partial_.joined.insert(partial_.joined.end(), data,
                                               data + bytes.value.parray->rgsabound[0].cElements);
                    }
                }
            } else {
                partial_.text.append(com::bstrView(*argument(1).pbstrVal));
            }
            if (!last) return;
            if (consumer_) {
                if (partial_.textView.empty()) partial_.textView = partial_.text;
                consumer_(partial_);
                partial_.format = 0;
                partial_.text.clear();  // its room serves the next message
                partial_.textView = {};
                partial_.joined.clear();
                partial_.array = com::Variant();
            } else {
                messages_.push_back(std::exchange(partial_, Message{}));
            }
        }
    }

    LateBound& control_;
    EventPrinter& events_;
    std::deque<Message> messages_;
    std::function<void(const Message&)> consumer_;
    Message partial_;
    Message whole_;  // only its format and textView are ever set
    std::vector<std::uint8_t> spare_;
    std::u16string spareText_;
    bool closed_ = false;
    std::string failure_;
};

// Message i of a run: its number, then letters, exactly out.size() ASCII
// characters, so that no two messages of a run are alike.
template <typename Char>
void makeMessage(long i, std::span<Char> out) {
    const std::string number = std::to_string(i) + ":";
    const std::size_t head = std::min(number.size(), out.size());
    std::copy_n(number.begin(), head, out.begin());
    const auto letter = static_cast<Char>('a' + i % 26);
    std::size_t k = head;
    if constexpr (sizeof(Char) > 1) {
        // Eight bytes at a time (bytes are filled as fast already): unit by
        // unit, the letters of a 64-character text took a twentieth of the
        // instructions of its round trip.
        Char block[8 / sizeof(Char)];
        std::fill(std::begin(block), std::end(block), letter);
        for (; k + std::size(block) <= out.size(); k += std::size(block)) std::memcpy(&out[k], block, sizeof block);
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(k), out.end(), letter);
}

// Whether a text echo is, unit for unit, what was sent.
bool sameText(std::u16string_view received, std::u16string_view sent) {
    return received.size() == sent.size() &&
           std::memcmp(received.data(), sent.data(), sent.size() * sizeof(char16_t)) == 0;
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

    void fail(std::string why) {
        ok = false;
        error = std::move(why);
    }
    // One more message of the run, and its round trip when it had one.
    void count(const Bench& bench, std::optional<Clock::time_point> sent = std::nullopt) {
        if (sent) latenciesUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - *sent).count());
        ++messages;
        bytes += bench.size;
    }
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
    outcome.fail(std::string(what) + " failed: " + codepage::utf16ToUtf8(result.description));
    return false;
}

// Runs the loop until all of the run's messages have come, or something went
// wrong, and times the run from `start`.
void awaitTheRest(Inbox& inbox, const Bench& bench, Outcome& outcome, Clock::time_point start) {
    const bool finished = outcome.ok && inbox.runUntil([&] { return !outcome.ok || outcome.messages == bench.count; });
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!finished && outcome.ok) outcome.fail("message " + std::to_string(outcome.messages) + ": " + inbox.failure());
}

// Whether `got` is message i of a run, as makeMessage wrote it: its number,
// then one letter throughout. Every byte is looked at, at the pace of memcmp:
// the body matches itself shifted by one byte only when all its bytes are
// alike, and its first byte says which.
bool isMessage(long i, std::span<const std::uint8_t> got, std::size_t size) {
    if (got.size() != size) return false;
    const std::string number = std::to_string(i) + ":";
    const std::size_t head = std::min(number.size(), size);
    if (std::memcmp(got.data(), number.data(), head) != 0) return false;
    if (head == size) return true;
    const auto letter = static_cast<std::uint8_t>('a' + static_cast<int>(i % 26));
    return got[head] == letter && std::memcmp(got.data() + head, got.data() + head + 1, size - head - 1) == 0;
}

// Text echoes, one message at a time. Each echo is checked in its DataIn
// event, and the next message goes out from that same event, as a host that
// answers what it is told does: taking the event down and coming back round
// the loop are then no longer part of the round trip.
void textRoundTrips(LateBound& control, Inbox& inbox, const Bench& bench, Outcome& outcome) {
    const auto size = static_cast<std::size_t>(bench.size);
    // Text goes out as one BSTR, rewritten for each message and lent to the
    // control (which converts it at once and keeps nothing of it).
    const com::Variant sentText = com::Variant::fromBstr(com::allocBstrUnfilled(size));
    if (sentText.bstrVal == nullptr) {
        outcome.fail("no memory for a message of " + std::to_string(size) + " characters");
        return;
    }
    Clock::time_point sendTime;
    auto sendNext = [&] {
        sendTime = Clock::now();
        makeMessage(outcome.messages, std::span<char16_t>(sentText.bstrVal, size));
        check(outcome, control.putLent("DataToSend", sentText), "DataToSend");
    };
    const Inbox::Consuming checking(inbox, [&](const Message& message) {
        if (!outcome.ok || outcome.messages == bench.count) return;
        if (message.format != textFormat || !sameText(message.textView, com::bstrView(sentText.bstrVal))) {
            outcome.fail("echo " + std::to_string(outcome.messages) + " differs from what was sent");
            return;
        }
        outcome.count(bench, sendTime);
        if (outcome.messages < bench.count) sendNext();
    });
    const Clock::time_point start = Clock::now();
    sendNext();
    awaitTheRest(inbox, bench, outcome, start);
}

// Binary echoes, one message at a time, each checked once its event is over.
void binaryRoundTrips(LateBound& control, Inbox& inbox, const Bench& bench, Outcome& outcome) {
    const auto size = static_cast<std::size_t>(bench.size);
    Message echo;
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < bench.count && outcome.ok; ++i) {
        const Clock::time_point sendTime = Clock::now();
        {
            // Each message is written into an array of its own, lent to the
            // control and let go once it is sent, before its echo comes, as
            // a host that streams large messages would: it keeps no copy of
            // what it sent, and the echo's array takes the room it left.
            const com::Variant outgoing =
                com::Variant::fromArray(VT_UI1, SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size)));
            if (outgoing.parray == nullptr) {
                outcome.fail("no memory for a message of " + std::to_string(size) + " bytes");
                return;
            }
            makeMessage(i, std::span<char>(static_cast<char*>(outgoing.parray->pvData), size));
            if (!check(outcome, control.putLent("DataToSendB", outgoing), "DataToSendB")) return;
        }
        if (!inbox.next(echo)) {
            outcome.fail("message " + std::to_string(i) + ": " + inbox.failure());
            return;
        }
        if (!isMessage(i, echo.bytes(), size)) {
            outcome.fail("echo " + std::to_string(i) + " differs from what was sent");
            return;
        }
        // The echo's array is let go at once, not when the next echo takes
        // its place: a host does not keep a megabyte it has finished with.
        echo.array.clear();
        outcome.count(bench, sendTime);
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
}

void burst(LateBound& control, Inbox& inbox, const Bench& bench, Outcome& outcome) {
    // Each message is checked in its event, as a host that streams would.
    const Inbox::Consuming checking(inbox, [&](const Message& message) {
        if (!outcome.ok || outcome.messages == bench.count) return;
        if (message.format != textFormat || message.textView.size() != static_cast<std::size_t>(bench.size)) {
            outcome.fail("message " + std::to_string(outcome.messages) + " is not a text message of " +
                         std::to_string(bench.size) + " bytes");
            return;
        }
        outcome.count(bench);
    });
    const Clock::time_point start = Clock::now();
    if (!check(outcome, control.put("DataToSend", com::Variant(std::u16string_view(u"go"))), "DataToSend")) return;
    awaitTheRest(inbox, bench, outcome, start);
}

}  // namespace

int runBench(LateBound& control, EventPrinter& events, const Bench& bench, bool configuredNoDelay) {
    Outcome outcome;
    Inbox inbox(control, events);
    // The workloads measure the round trip, not the system's wait for more
    // bytes to send; a --config given before may still say otherwise.
    if (!configuredNoDelay) control.call("Config", {com::Variant(std::u16string_view(u"TcpNoDelay=True"))});
    // A benchmark server over wss names its own certificate (BENCH_CAFILE);
    // it is accepted in advance, as a host that pinned it would.
    if (const char* certificateFile = std::getenv("BENCH_CAFILE");
        certificateFile != nullptr && bench.url.starts_with("wss://")) {
        std::ifstream file(certificateFile, std::ios::binary);
        std::ostringstream certificate;
        certificate << file.rdbuf();
        control.put("SSLAcceptServerCertEncoded", com::Variant(codepage::utf8ToUtf16(certificate.str())));
    }
    if (check(outcome, control.call("Connect", {com::Variant(codepage::utf8ToUtf16(bench.url))}), "Connect")) {
        const short format = bench.workload == "throughput" ? binaryFormat : textFormat;
        if (!check(outcome, control.put("DataFormat", com::Variant(static_cast<LONG>(format))), "DataFormat")) {
            // Nothing is sent in a format the control refused.
        } else if (bench.workload == "burst") {
            burst(control, inbox, bench, outcome);
        } else if (bench.workload == "throughput") {
            binaryRoundTrips(control, inbox, bench, outcome);
        } else {
            textRoundTrips(control, inbox, bench, outcome);
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
