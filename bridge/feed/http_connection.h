// One HTTP connection of the shot feed until it is answered, closed or
// handed to the WebSocket server: Debian's http-parser cuts the requests
// apart, one at a time; this keeps the 8 KiB limit, answers, and gives back
// the socket with the upgrade request unread when the feed takes it live.
#pragma once

#include <http_parser.h>

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>

namespace taltrix::feed {

struct HttpRequest {
    http_method method = HTTP_GET;
    std::string target;
    std::string host;
    std::string origin;
    bool hasOrigin = false;
    bool upgrade = false;  // asks to become a WebSocket
    bool first = true;  // the connection's first request
};

class HttpConnection final : public QObject {
public:
    static constexpr qsizetype requestLimit = 8 * 1024;
    // A connection that sends no complete request for this long is closed.
    static constexpr int idleMs = 30'000;
    // How long a closing connection waits for the client to close its side.
    static constexpr int lingerMs = 2'000;

    using Handler = std::function<void(HttpConnection&, const HttpRequest&)>;

    // Reads requests from `socket` and hands each to `handler`, which must
    // answer it (respond or refuse) or take the socket.
    HttpConnection(QTcpSocket* socket, Handler handler);
    ~HttpConnection() override;

    void respond(int status, std::string_view contentType, std::string_view body, std::string_view extraHeaders = {});
    // An error answer with a JSON body {"error":...}; the connection closes
    // after it.
    void refuse(int status, std::string_view message, std::string_view extraHeaders = {});

    // The socket, with the first request unread again, for the WebSocket
    // server's handshake; the connection lets go of it and is deleted later.
    QTcpSocket* takeSocket();

private:
    static const http_parser_settings& parserSettings();
    static int onUrl(http_parser* parser, const char* at, std::size_t length);
    static int onHeaderField(http_parser* parser, const char* at, std::size_t length);
    static int onHeaderValue(http_parser* parser, const char* at, std::size_t length);
    static int onHeadersComplete(http_parser* parser);
    static int onMessageComplete(http_parser* parser);

    void readSome();
    void finishHeader();
    void close();

    QTcpSocket* socket_;
    Handler handler_;
    QTimer idle_;
    http_parser parser_{};
    QByteArray unparsed_;
    qsizetype requestBytes_ = 0;
    HttpRequest request_;
    std::string field_;
    std::string value_;
    bool inValue_ = false;
    bool headersComplete_ = false;
    bool complete_ = false;
    bool answered_ = false;
    bool closing_ = false;
    bool firstRequest_ = true;
};

}  // namespace taltrix::feed
