#include "bridge/feed/feed.h"

namespace taltrix::feed {

std::unique_ptr<Feed> Feed::start(FeedConfig config, std::string& error) {
    std::unique_ptr<Feed> feed(new Feed);
    feed->server_ = new FeedServer(std::move(config));
    feed->server_->moveToThread(&feed->thread_);
    feed->thread_.setObjectName(QStringLiteral("feed"));
    feed->thread_.start();
    bool listening = false;
    FeedServer* server = feed->server_;
    QMetaObject::invokeMethod(
        server, [&] { listening = server->listen(error); }, Qt::BlockingQueuedConnection);
    if (!listening) return nullptr;
    return feed;
}

Feed::~Feed() {
    if (server_ != nullptr) {
        FeedServer* server = server_;
        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    }
    thread_.quit();
    thread_.wait();
}

void Feed::publishShot(const history::ShotEntry& entry) {
    // The JSON is made here, on the publisher's thread; the feed's thread
    // only writes it out.
    const QByteArray message = QByteArray::fromStdString(shotMessage(entry));
    FeedServer* server = server_;
    QMetaObject::invokeMethod(
        server, [server, message] { server->pushShot(message); }, Qt::QueuedConnection);
}

void Feed::publishStatus(const FeedStatus& status) {
    if (statusPosted_ && status == lastStatus_) return;
    lastStatus_ = status;
    statusPosted_ = true;
    FeedServer* server = server_;
    QMetaObject::invokeMethod(
        server, [server, status] { server->setStatus(status); }, Qt::QueuedConnection);
}

}  // namespace taltrix::feed
