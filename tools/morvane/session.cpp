#include "tools/morvane/session.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/loop/thread_loop.h"
#include "platform/text/code_page.h"
#include "tools/morvane/event_ids.h"

namespace morvane::cli {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// After standard input ends, replies still on their way are waited for
// until the line has been quiet this long (at most `settleLimit`).
constexpr milliseconds quietBeforeClosing{300};
constexpr milliseconds settleLimit{5000};
constexpr milliseconds closeLimit{10000};
constexpr milliseconds step{20};
// While standard input is open and nothing happens, the session sleeps until
// something does: a line or a message. (A wait step needs some limit; a day
// is as good as none.)
constexpr milliseconds idleStep{std::chrono::hours(24)};

com::Variant textArgument(std::string_view utf8) { return com::Variant(codepage::utf8ToUtf16(utf8)); }

// Standard input, line by line, without blocking the loop.
class InputLines {
public:
    // Appends complete lines to `lines`; false once input has ended (a last
    // line without its line end is handed over then).
    bool read(std::vector<std::string>& lines) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        while (!ended_ && ::poll(&input, 1, 0) > 0) {
            char buffer[65536];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                ended_ = true;
                if (!pending_.empty()) lines.push_back(std::move(pending_));
                break;
            }
            pending_.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                std::string line = pending_.substr(0, end);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                lines.push_back(std::move(line));
                pending_.erase(0, end + 1);
            }
        }
        return !ended_;
    }

private:
    std::string pending_;
    bool ended_ = false;
};

// Tells the session when standard input has something to read, through the
// loop that also carries the control's sockets, so an idle session does not
// wake at all. Files and /dev/null cannot be watched; they are always ready.
class InputWatch final : public platform::loop::MessageTarget {
public:
    explicit InputWatch(platform::loop::EventLoop& loop) : loop_(loop) {
        const int probe = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event interest{};
        interest.events = EPOLLIN;
        const bool watchable = probe >= 0 && ::epoll_ctl(probe, EPOLL_CTL_ADD, STDIN_FILENO, &interest) == 0;
        if (probe >= 0) ::close(probe);
        if (!watchable) return;
        target_ = loop_.createTarget(*this);
        watching_ = loop_.watchSocket(STDIN_FILENO, target_, platform::loop::kMsgUser,
                                      platform::loop::kSocketRead | platform::loop::kSocketClose);
        ready_ = !watching_;
    }
    ~InputWatch() override {
        if (target_ != platform::loop::kNoTarget) loop_.destroyTarget(target_);
    }
    InputWatch(const InputWatch&) = delete;
    InputWatch& operator=(const InputWatch&) = delete;

    // Whether input may be waiting; asks for the next notice when so.
    bool takeReady() {
        if (!watching_) return true;
        if (!ready_) return false;
        ready_ = false;
        loop_.rearmSocket(STDIN_FILENO, platform::loop::kSocketRead | platform::loop::kSocketClose);
        return true;
    }
    // How long a pump may sleep: until the next notice when input is
    // watched, a short step when it has to be looked at again.
    milliseconds pumpStep() const { return watching_ ? idleStep : step; }

    void onMessage(const platform::loop::Message&) override { ready_ = true; }

private:
    platform::loop::EventLoop& loop_;
    platform::loop::TargetId target_ = platform::loop::kNoTarget;
    bool watching_ = false;
    bool ready_ = true;
};

}  // namespace

int runSession(LateBound& control, EventPrinter& events, const Options& options) {
    bool closed = false;
    Clock::time_point lastEvent = Clock::now();
    events.onEvent = [&](DISPID event, DISPPARAMS&) {
        lastEvent = Clock::now();
        if (event == disconnectedEvent) closed = true;
    };
    auto& loop = platform::loop::threadLoop();
    auto pump = [&] { loop.waitStep(step); };

    bool ok = reportFailure("Connect", control.call("Connect", {textArgument(*options.url)}));
    if (!ok) return 1;

    if (options.sendFile)
        ok = reportFailure("SendFile", control.call("SendFile", {textArgument(*options.sendFile)})) && ok;
    InputLines input;
    InputWatch watch(loop);
    bool reading = true;
    while (!closed && reading) {
        if (watch.takeReady()) {
            std::vector<std::string> lines;
            reading = input.read(lines);
            if (!options.sendFile) {
                for (const std::string& line : lines) {
                    ok = reportFailure("DataToSend", control.put("DataToSend", textArgument(line))) && ok;
                }
            }
        }
        if (reading) loop.waitStep(watch.pumpStep());
    }
    if (!closed) {
        const Clock::time_point settleStart = Clock::now();
        while (!closed && Clock::now() - lastEvent < quietBeforeClosing && Clock::now() - settleStart < settleLimit) {
            pump();
        }
    }
    if (!closed) {
        ok = reportFailure("Disconnect", control.call("Disconnect")) && ok;
        const Clock::time_point closeStart = Clock::now();
        while (!closed && Clock::now() - closeStart < closeLimit) {
            const CallResult connected = control.get("Connected");
            if (connected.ok() && connected.value.vt == VT_BOOL && !connected.value.boolVal) break;
            pump();
        }
    }
    events.onEvent = nullptr;
    return ok ? 0 : 1;
}

}  // namespace morvane::cli
