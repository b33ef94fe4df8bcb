#include "bridge/feed/feed_server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>

#include "bridge/feed/overlay_page.h"

namespace taltrix::feed {

namespace {

constexpr std::string_view jsonType = "application/json; charset=utf-8";
constexpr std::string_view onlyGet = "Allow: GET\r\n";

template <typename T>
void forget(std::vector<T*>& list, QObject* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

FeedServer::FeedServer(FeedConfig config)
    : config_(std::move(config)), handshakes_(QStringLiteral("Taltrix"), QWebSocketServer::NonSecureMode, this) {
    status_.sessionStartedMs = config_.sessionStartedMs;
    handshakes_.setMaxPendingConnections(maxClients);
    handshakes_.setHandshakeTimeout(10'000);
    connect(&handshakes_, &QWebSocketServer::newConnection, this, &FeedServer::welcome);
}

FeedServer::~FeedServer() {
    // The live clients are told the feed is going; the rest just close.
    for (QWebSocket* client : std::exchange(live_, {})) {
        client->disconnect(this);
        client->close(QWebSocketProtocol::CloseCodeGoingAway);
        delete client;
    }
}

bool FeedServer::listen(std::string& error) {
    const auto open = [&](const QHostAddress& address, bool required) {
        auto* server = new QTcpServer(this);
        if (!server->listen(address, config_.port)) {
            // A machine without IPv6 loopback is served on 127.0.0.1 alone.
            const bool missing = server->serverError() == QAbstractSocket::SocketAddressNotAvailableError ||
                                 server->serverError() == QAbstractSocket::UnsupportedSocketOperationError;
            if (required || !missing) error = server->errorString().toStdString();
            delete server;
            return !required && missing;
        }
        // Port 0 (tests, benchmarks): any free port, the same on both.
        if (config_.port == 0) config_.port = server->serverPort();
        server->setMaxPendingConnections(maxClients);
        connect(server, &QTcpServer::newConnection, this, [this, server] { accept(*server); });
        listeners_.push_back(server);
        return true;
    };
    if (open(QHostAddress(QHostAddress::LocalHost), true) && open(QHostAddress(QHostAddress::LocalHostIPv6), false)) {
        return true;
    }
    for (QTcpServer* server : std::exchange(listeners_, {})) delete server;
    return false;
}

void FeedServer::accept(QTcpServer& server) {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, socketSendBuffer);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const bool full = clients() >= maxClients;
        open_.push_back(socket);
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { forget(open_, socket); });
        connect(socket, &QObject::destroyed, this, [this, socket] { forget(open_, socket); });
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        auto* connection = new HttpConnection(
            socket, [this](HttpConnection& c, const HttpRequest& request) { handle(c, request); });
        if (full) {
            connection->refuse(503, "the feed serves " + std::to_string(maxClients) + " clients at once");
        }
    }
}

void FeedServer::handle(HttpConnection& connection, const HttpRequest& request) {
    std::variant<FeedTarget, Refusal> read = readTarget(request.target);
    if (const auto* refusal = std::get_if<Refusal>(&read); refusal != nullptr && refusal->status == 404) {
        connection.refuse(404, refusal->message);
        return;
    }
    if (request.method != HTTP_GET) {
        connection.refuse(405, "only GET is served here", onlyGet);
        return;
    }
    if (const auto* refusal = std::get_if<Refusal>(&read)) {
        connection.refuse(refusal->status, refusal->message);
        return;
    }
    // A name other than the feed's own is a page that had its name point
    // here (DNS rebinding): it gets nothing.
    if (!request.host.empty() && !isOwnHost(request.host, config_.port)) {
        connection.refuse(403, "the feed answers only to its own address");
        return;
    }
    const FeedTarget& target = std::get<FeedTarget>(read);
    switch (target.route) {
        case Route::status:
            connection.respond(200, jsonType, statusJson(status_));
            return;
        case Route::shots:
            answerShots(connection, target);
            return;
        case Route::overlay:
            connection.respond(200, "text/html; charset=utf-8", overlayPage(target.metric));
            return;
        case Route::live:
            if (!request.upgrade) {
                connection.refuse(426, "/api/live is a WebSocket", "Upgrade: websocket\r\n");
            } else if (request.hasOrigin && !isOwnOrigin(request.origin, config_.port)) {
                connection.refuse(403, "the feed does not serve pages of another origin");
            } else if (!request.first) {
                connection.refuse(400, "a WebSocket must be asked for by a connection's first request");
            } else {
                goLive(connection);
            }
            return;
    }
}

void FeedServer::answerShots(HttpConnection& connection, const FeedTarget& target) {
    history::ShotQuery query;
    query.last = static_cast<std::size_t>(target.limit);
    if (target.since) {
        query.fromMs = config_.readDate ? config_.readDate(*target.since) : std::nullopt;
        if (!query.fromMs) {
            connection.refuse(400, "since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM");
            return;
        }
    }
    std::string error;
    if (!store_) store_ = history::HistoryStore::open(config_.historyPath, false, error);
    if (!store_) {
        // No history yet is no shots yet.
        connection.respond(200, jsonType, shotsJson({}));
        return;
    }
    std::vector<history::ShotEntry> shots = store_->shots(query, error);
    if (!error.empty()) {
        connection.refuse(500, "the history cannot be read: " + error);
        return;
    }
    std::reverse(shots.begin(), shots.end());
    connection.respond(200, jsonType, shotsJson(shots));
}

void FeedServer::goLive(HttpConnection& connection) {
    QTcpSocket* socket = connection.takeSocket();
    // The web socket deletes its socket when it goes.
    disconnect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    handshakes_.handleConnection(socket);
    // The request is in the socket's buffer again; the handshake reads it
    // when told there is something to read.
    Q_EMIT socket->readyRead();
}

void FeedServer::welcome() {
    while (QWebSocket* client = handshakes_.nextPendingConnection()) {
        client->setParent(this);
        // Clients have nothing to say to the feed.
        client->setMaxAllowedIncomingFrameSize(1024);
        client->setMaxAllowedIncomingMessageSize(1024);
        live_.push_back(client);
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            forget(live_, client);
            client->deleteLater();
        });
        const QByteArray hello = QByteArray::fromStdString(statusMessage(status_));
        send(client, QString::fromUtf8(hello), hello.size());
    }
}

void FeedServer::pushShot(const QByteArray& message) {
    ++status_.shotsThisSession;
    broadcast(message);
}

void FeedServer::setStatus(FeedStatus status) {
    status.sessionStartedMs = status_.sessionStartedMs;
    status.shotsThisSession = status_.shotsThisSession;
    if (status == status_) return;
    status_ = std::move(status);
    broadcast(QByteArray::fromStdString(statusMessage(status_)));
}

void FeedServer::broadcast(const QByteArray& message) {
    // One text for every client; a client dropped on the way leaves the
    // list, hence the copy.
    const QString text = QString::fromUtf8(message);
    for (QWebSocket* client : std::vector<QWebSocket*>(live_)) send(client, text, message.size());
}

void FeedServer::send(QWebSocket* client, const QString& text, qint64 bytes) {
    if (client->bytesToWrite() + bytes > queueLimit) {
        drop(client);
        return;
    }
    client->sendTextMessage(text);
}

void FeedServer::drop(QWebSocket* client) {
    forget(live_, client);
    client->disconnect(this);
    client->abort();
    client->deleteLater();
}

}  // namespace taltrix::feed
