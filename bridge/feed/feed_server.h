// The shot feed's server, on its own thread: HTTP on 127.0.0.1 and ::1,
// /api/live through Qt WebSockets, the shots of the history read through a
// connection of its own. It touches nothing of the bridge: shots and the
// bridge's status reach it as copies, in messages posted to its thread.
#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/feed/feed_json.h"
#include "bridge/feed/feed_request.h"
#include "bridge/feed/http_connection.h"
#include "bridge/history/history_store.h"

namespace taltrix::feed {

struct FeedConfig {
    std::uint16_t port = 0;
    std::string historyPath;
    std::int64_t sessionStartedMs = 0;
    // --since's reader: milliseconds since 1970, or nothing.
    std::function<std::optional<std::int64_t>(const std::string&)> readDate;
};

class FeedServer final : public QObject {
public:
    // Clients at once, HTTP and live together.
    static constexpr int maxClients = 32;
    // What may wait to be written to one client before it is dropped, and
    // the kernel's send buffer of each, so that a client that reads nothing
    // holds little memory and is found out soon.
    static constexpr qint64 queueLimit = 64 * 1024;
    static constexpr int socketSendBuffer = 64 * 1024;

    explicit FeedServer(FeedConfig config);
    ~FeedServer() override;

    // Listens on 127.0.0.1 and, where the machine has it, ::1. False with
    // the reason when the port cannot be had.
    bool listen(std::string& error);

    // A stored shot's live message, as UTF-8 JSON.
    void pushShot(const QByteArray& message);
    // The bridge's status now; the live clients hear of it when it changed.
    void setStatus(FeedStatus status);

    // The port listened on (the one free port taken for port 0).
    std::uint16_t port() const { return config_.port; }
    int clients() const { return static_cast<int>(open_.size()); }
    int liveClients() const { return static_cast<int>(live_.size()); }

private:
    void accept(QTcpServer& server);
    void handle(HttpConnection& connection, const HttpRequest& request);
    void answerShots(HttpConnection& connection, const FeedTarget& target);
    void goLive(HttpConnection& connection);
    void welcome();
    void broadcast(const QByteArray& message);
    // `bytes`: the text's length in UTF-8, as it goes out.
    void send(QWebSocket* client, const QString& text, qint64 bytes);
    void drop(QWebSocket* client);

    FeedConfig config_;
    std::vector<QTcpServer*> listeners_;
    QWebSocketServer handshakes_;
    std::vector<QObject*> open_;  // every client's socket
    std::vector<QWebSocket*> live_;
    std::unique_ptr<history::HistoryStore> store_;
    FeedStatus status_;
};

}  // namespace taltrix::feed
