#include "bridge/feed/http_connection.h"

#include <strings.h>
#include <sys/socket.h>

#include "bridge/feed/feed_json.h"

namespace taltrix::feed {

namespace {

HttpConnection& self(http_parser* parser) { return *static_cast<HttpConnection*>(parser->data); }

const char* reason(int status) {
    const char* text = http_status_str(static_cast<http_status>(status));
    return text != nullptr ? text : "Unknown";
}

}  // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, Handler handler)
    : QObject(socket), socket_(socket), handler_(std::move(handler)) {
    http_parser_init(&parser_, HTTP_REQUEST);
    parser_.data = this;
    // Kept until the first request is read, so that an upgrade request can
    // be handed on unread.
    socket_->startTransaction();
    // Past a request's limit the request is refused anyway; and a client
    // whose answer is still unwritten is not read (see readSome), so what
    // it sends meanwhile waits in the kernel, not here.
    socket_->setReadBufferSize(2 * requestLimit);
    connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::readSome);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (socket_->bytesToWrite() == 0) readSome();
    });
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] {
        if (closing_) {
            socket_->abort();  // a client that never closes its side
        } else {
            close();
        }
    });
    idle_.start(idleMs);
    if (socket_->bytesAvailable() > 0) QTimer::singleShot(0, this, &HttpConnection::readSome);
}

HttpConnection::~HttpConnection() = default;

void HttpConnection::readSome() {
    if (closing_) {
        socket_->skip(socket_->bytesAvailable());
        return;
    }
    // One answer at a time: a client that sends request after request and
    // reads no answer would otherwise have them pile up here without end.
    if (socket_->bytesToWrite() > 0) return;
    unparsed_ += socket_->read(socket_->bytesAvailable());
    while (!unparsed_.isEmpty() && !closing_ && socket_->bytesToWrite() == 0) {
        const std::size_t parsed = http_parser_execute(&parser_, &parserSettings(), unparsed_.constData(),
                                                       static_cast<std::size_t>(unparsed_.size()));
        requestBytes_ += static_cast<qsizetype>(parsed);
        unparsed_.remove(0, static_cast<qsizetype>(parsed));
        if (requestBytes_ > requestLimit || HTTP_PARSER_ERRNO(&parser_) == HPE_HEADER_OVERFLOW) {
            refuse(headersComplete_ ? 413 : 431,
                   "the request is larger than " + std::to_string(requestLimit) + " bytes");
            return;
        }
        if (complete_) {
            http_parser_pause(&parser_, 0);
            HttpRequest request = std::move(request_);
            request.first = std::exchange(firstRequest_, false);
            request_ = {};
            complete_ = headersComplete_ = false;
            requestBytes_ = 0;
            answered_ = false;
            // An upgrade request keeps the transaction for the handshake.
            if (request.first && !request.upgrade) socket_->commitTransaction();
            handler_(*this, request);
            if (socket_ == nullptr) return;  // taken
            if (!answered_) refuse(500, "the request was not answered");
            if (request.upgrade && !closing_) {
                // The rest of the stream is another protocol's; not ours to read.
                close();
            }
            continue;
        }
        if (HTTP_PARSER_ERRNO(&parser_) != HPE_OK) {
            refuse(400, std::string("malformed request: ") +
                            http_errno_description(static_cast<http_errno>(HTTP_PARSER_ERRNO(&parser_))));
            return;
        }
        if (parsed == 0) break;
    }
}

void HttpConnection::respond(int status, std::string_view contentType, std::string_view body,
                             std::string_view extraHeaders) {
    if (socket_ == nullptr || closing_) return;
    answered_ = true;
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
    head += "Content-Type: ";
    head += contentType;
    head += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    head += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    head += extraHeaders;
    const bool keep = status < 400 && parser_.http_errno == HPE_OK && http_should_keep_alive(&parser_) != 0;
    head += keep ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    socket_->write(head.data(), static_cast<qint64>(head.size()));
    socket_->write(body.data(), static_cast<qint64>(body.size()));
    if (keep) {
        idle_.start(idleMs);
    } else {
        close();
    }
}

void HttpConnection::refuse(int status, std::string_view message, std::string_view extraHeaders) {
    if (socket_ == nullptr || closing_) return;
    const std::string body = errorJson(message);
    respond(status, "application/json; charset=utf-8", body, extraHeaders);
    close();
}

QTcpSocket* HttpConnection::takeSocket() {
    QTcpSocket* socket = std::exchange(socket_, nullptr);
    answered_ = true;
    idle_.stop();
    disconnect(socket, nullptr, this, nullptr);
    socket->setReadBufferSize(0);  // the WebSocket's own limits hold from here
    socket->rollbackTransaction();
    setParent(nullptr);
    deleteLater();
    return socket;
}

void HttpConnection::close() {
    if (closing_ || socket_ == nullptr) return;
    closing_ = true;
    if (socket_->isTransactionStarted()) socket_->commitTransaction();
    // The answer goes out, then the feed's side closes while whatever the
    // client still sends is read and dropped, until it closes too: closing
    // with its bytes unread would reset the connection and could lose the
    // answer on its way.
    idle_.start(lingerMs);
    const auto shutWhenWritten = [this] {
        if (socket_ != nullptr && socket_->bytesToWrite() == 0) ::shutdown(static_cast<int>(socket_->socketDescriptor()), SHUT_WR);
    };
    connect(socket_, &QTcpSocket::bytesWritten, this, shutWhenWritten);
    shutWhenWritten();
}

void HttpConnection::finishHeader() {
    if (field_.empty()) return;
    if (strcasecmp(field_.c_str(), "host") == 0) {
        request_.host = value_;
    } else if (strcasecmp(field_.c_str(), "origin") == 0) {
        request_.origin = value_;
        request_.hasOrigin = true;
    }
    field_.clear();
    value_.clear();
}

int HttpConnection::onUrl(http_parser* parser, const char* at, std::size_t length) {
    self(parser).request_.target.append(at, length);
    return 0;
}

int HttpConnection::onHeaderField(http_parser* parser, const char* at, std::size_t length) {
    HttpConnection& c = self(parser);
    if (c.inValue_) {
        c.finishHeader();
        c.inValue_ = false;
    }
    c.field_.append(at, length);
    return 0;
}

int HttpConnection::onHeaderValue(http_parser* parser, const char* at, std::size_t length) {
    HttpConnection& c = self(parser);
    c.inValue_ = true;
    c.value_.append(at, length);
    return 0;
}

int HttpConnection::onHeadersComplete(http_parser* parser) {
    HttpConnection& c = self(parser);
    c.finishHeader();
    c.inValue_ = false;
    c.headersComplete_ = true;
    c.request_.method = static_cast<http_method>(parser->method);
    c.request_.upgrade = parser->upgrade != 0;
    return 0;
}

int HttpConnection::onMessageComplete(http_parser* parser) {
    self(parser).complete_ = true;
    // One request at a time: the parser stops here until this one is answered.
    http_parser_pause(parser, 1);
    return 0;
}

const http_parser_settings& HttpConnection::parserSettings() {
    static const http_parser_settings settings = [] {
        // The parser stops at a head past the limit by itself.
        http_parser_set_max_header_size(static_cast<std::uint32_t>(requestLimit));
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_url = &HttpConnection::onUrl;
        s.on_header_field = &HttpConnection::onHeaderField;
        s.on_header_value = &HttpConnection::onHeaderValue;
        s.on_headers_complete = &HttpConnection::onHeadersComplete;
        s.on_message_complete = &HttpConnection::onMessageComplete;
        return s;
    }();
    return settings;
}

}  // namespace taltrix::feed
