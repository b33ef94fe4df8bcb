#include "bridge/links/winsock_client.h"

#include <sys/socket.h>

#include <QElapsedTimer>
#include <algorithm>

namespace taltrix::links {

namespace {

// The control reports socket failures with the Windows Sockets numbers.
WinsockError describe(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError: return {10061, "Connection is forcefully rejected"};
        case QAbstractSocket::RemoteHostClosedError: return {10054, "Connection is reset by remote side"};
        case QAbstractSocket::HostNotFoundError: return {11001, "Authoritative answer: Host not found"};
        case QAbstractSocket::SocketTimeoutError: return {10060, "Connection timed out"};
        case QAbstractSocket::NetworkError: return {10051, "Network is unreachable"};
        case QAbstractSocket::SocketAccessError: return {10013, "Permission denied"};
        case QAbstractSocket::SocketAddressNotAvailableError: return {10049, "Address is not available"};
        default: return {10065, "No route to host"};
    }
}

}  // namespace

WinsockClient::WinsockClient() {
    QObject::connect(&socket_, &QTcpSocket::connected, &guard_, [this] {
        state_ = sckConnected;
        // Every shot is one small line that should leave at once.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (onConnect) onConnect();
    });
    QObject::connect(&socket_, &QTcpSocket::readyRead, &guard_, [this] {
        if (onDataArrival) onDataArrival(socket_.bytesAvailable());
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &guard_,
                     [this](QAbstractSocket::SocketError error) { socketError(error); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &guard_, [this] {
        // The peer closed: the control enters "closing" and reports Close.
        if (state_ == sckConnected) {
            state_ = sckClosing;
            if (onClose) onClose();
        }
    });
}

WinsockClient::~WinsockClient() {
    QObject::disconnect(&socket_, nullptr, &guard_, nullptr);
    socket_.abort();
}

void WinsockClient::Close() {
    socket_.abort();
    state_ = sckClosed;
}

void WinsockClient::CloseGracefully(int waitMs) {
    if (state_ == sckConnected) {
        state_ = sckClosing;
        QElapsedTimer clock;
        clock.start();
        const auto remaining = [&] { return static_cast<int>(std::max<qint64>(0, waitMs - clock.elapsed())); };
        while (socket_.bytesToWrite() > 0 && remaining() > 0 && socket_.waitForBytesWritten(remaining())) {
        }
        // QTcpSocket has no half close; the descriptor does.
        ::shutdown(static_cast<int>(socket_.socketDescriptor()), SHUT_WR);
        while (socket_.state() == QAbstractSocket::ConnectedState && remaining() > 0 &&
               socket_.waitForReadyRead(remaining())) {
            socket_.readAll();
        }
        socket_.readAll();
    }
    Close();
}

void WinsockClient::Connect() {
    socket_.abort();
    state_ = sckConnecting;
    socket_.connectToHost(QString::fromStdString(RemoteHost), static_cast<quint16>(RemotePort));
}

bool WinsockClient::SendData(std::string_view text, WinsockError& error) {
    if (state_ != sckConnected) {
        error = {sckBadState, std::string(sckBadStateText)};
        return false;
    }
    const qint64 written = socket_.write(text.data(), static_cast<qint64>(text.size()));
    if (written != static_cast<qint64>(text.size())) {
        error = describe(socket_.error());
        return false;
    }
    return true;
}

std::string WinsockClient::GetData() {
    const QByteArray bytes = socket_.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void WinsockClient::socketError(QAbstractSocket::SocketError error) {
    if (error == QAbstractSocket::RemoteHostClosedError && state_ != sckConnecting) {
        return;  // reported as Close by the disconnected signal
    }
    state_ = sckError;
    if (onError) onError(describe(error));
}

}  // namespace taltrix::links
