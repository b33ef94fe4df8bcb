// The shot feed as the bridge holds it: its server on a thread of its own,
// so that no client, however slow or busy, ever holds up a shot or the
// window. The bridge only hands it copies: each shot once the history has
// stored it (from the history's thread), and the status when it changed
// (from the window's thread). Both are posted, never waited for.
#pragma once

#include <QThread>
#include <memory>
#include <string>

#include "bridge/feed/feed_json.h"
#include "bridge/feed/feed_server.h"
#include "bridge/history/shot_entry.h"

namespace taltrix::feed {

inline constexpr std::uint16_t defaultPort = 5880;

class Feed {
public:
    // Starts the thread and listens; nothing, with the reason in `error`,
    // when the port cannot be had.
    static std::unique_ptr<Feed> start(FeedConfig config, std::string& error);
    // Closes every client and ends the thread. Whoever publishes must be
    // gone first.
    ~Feed();
    Feed(const Feed&) = delete;
    Feed& operator=(const Feed&) = delete;

    // Any thread: a shot the history has stored.
    void publishShot(const history::ShotEntry& entry);
    // The window's thread: the status now, passed on when it changed.
    void publishStatus(const FeedStatus& status);

private:
    Feed() = default;

    QThread thread_;
    FeedServer* server_ = nullptr;
    FeedStatus lastStatus_;
    bool statusPosted_ = false;
};

}  // namespace taltrix::feed
