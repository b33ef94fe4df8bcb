// Keeps the history without holding up a shot: the shot path only queues
// what it saw (a copy, a lock held for a push), and one thread of the
// history's own stores it. That thread touches nothing but its queue and its
// database connection; everything else of the bridge stays on the window's
// thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

#include "bridge/history/history_store.h"
#include "bridge/shot/shot_observer.h"

namespace taltrix::history {

class HistoryWriter final : public ShotObserver {
public:
    // Status lines kept in the history; older ones are dropped.
    static constexpr std::size_t statusLinesKept = 2000;

    // Takes over an open store for the session `session` (the bridge's
    // start, in milliseconds since 1970).
    HistoryWriter(std::unique_ptr<HistoryStore> store, std::int64_t session);
    // Stores whatever is still queued, then ends the thread.
    ~HistoryWriter() override;
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // ShotObserver: the shot is queued with the time now.
    void shotRouted(const RoutedShot& routed) override;
    void post(ShotEntry entry);
    // A status line of the bridge, as shown, with the time now.
    void postStatus(std::string_view line);

    // Told of every shot once it is stored, with the id the history gave
    // it: the one place where a shot is known to be kept. Runs on the
    // history's own thread, so it must only hand the shot on.
    using StoredListener = std::function<void(const ShotEntry&)>;
    void setStoredListener(StoredListener listener);

    // Returns once everything queued before the call is stored.
    void drain();

    std::int64_t session() const { return session_; }
    const std::string& path() const { return path_; }
    std::uint64_t shotsStored() const { return shotsStored_.load(); }
    // The last store error, or "".
    std::string lastError() const;

private:
    using Job = std::variant<ShotEntry, StatusLine>;

    void run();
    void store(std::deque<Job>& jobs);

    std::unique_ptr<HistoryStore> store_;
    const std::int64_t session_;
    const std::string path_;
    std::atomic<std::uint64_t> shotsStored_{0};

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Job> queue_;
    std::uint64_t queued_ = 0;
    std::uint64_t stored_ = 0;
    bool stopping_ = false;
    std::string lastError_;
    StoredListener storedListener_;
    std::thread thread_;
};

// A text of the bridge (ANSI code page) in UTF-8, as the history keeps it.
void toUtf8(std::string& text);

// Milliseconds since 1970 now, as the history keeps times.
std::int64_t nowMs();

}  // namespace taltrix::history
