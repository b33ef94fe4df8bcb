// The client side both backends share: a Qt socket (TCP for the emulator,
// RFCOMM for the real stack) turned into the client's states and events.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <memory>

#include "platform/bluetooth/bluetooth.h"

namespace taltrix::bluetooth {

// How long a connect may go unanswered. A device out of range fails at the
// stack within the radio's page timeout (about 5 s) and a good link is up
// within a few seconds; past this the stack is not going to answer, and the
// next connection tick may try afresh.
inline constexpr int connectTimeLimitMs = 12000;

template <typename Socket>
class SocketClient : public Client {
public:
    SocketClient() {
        connectTimer_.setSingleShot(true);
        connectTimer_.setInterval(connectTimeLimitMs);
        QObject::connect(&connectTimer_, &QTimer::timeout, &guard_, [this] { failConnect(resultTimedOut); });
    }

    ~SocketClient() override {
        // No events for a client that is going away.
        if (socket_) {
            QObject::disconnect(socket_.get(), nullptr, &guard_, nullptr);
            socket_->abort();
        }
    }

    int state() const override { return state_; }

    // A disconnect while connecting gives the attempt up there and then:
    // left to its time limit it would keep the next connect out and report
    // a failure long after the user let it go.
    int disconnect() override {
        if (state_ == clientConnecting) {
            ++attempt_;
            connectTimer_.stop();
            state_ = clientIdle;
            if (socket_) socket_->abort();
            return resultOk;
        }
        if (state_ == clientIdle || !socket_) return resultNotConnected;
        closeLink(*socket_);
        return resultOk;
    }

    int write(std::span<const std::uint8_t> bytes) override {
        if (state_ != clientConnected || !socket_) return resultNotConnected;
        const qint64 written =
            socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return written == static_cast<qint64>(bytes.size()) ? resultOk : resultWriteFailed;
    }

protected:
    // A fresh socket for each connection, in the connecting state. The one
    // before it is let go from the event loop, since connect() may be reached
    // from one of its signals.
    template <typename... SocketArgs>
    Socket& newSocket(SocketArgs&&... socketArgs) {
        releaseSocket();
        socket_ = std::make_unique<Socket>(std::forward<SocketArgs>(socketArgs)...);
        Socket* socket = socket_.get();
        QObject::connect(socket, &Socket::connected, &guard_, [this, socket] {
            connectTimer_.stop();
            state_ = clientConnected;
            linkUp(*socket);
            if (onConnect) onConnect(resultOk);
        });
        QObject::connect(socket, &Socket::readyRead, &guard_, [this, socket] {
            const QByteArray bytes = socket->readAll();
            if (onData && !bytes.isEmpty()) {
                onData(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                 static_cast<std::size_t>(bytes.size())));
            }
        });
        // Qt reports some connects that cannot start from inside the call
        // that started them; the caller hears of it from the event loop.
        QObject::connect(socket, &Socket::errorOccurred, &guard_, [this](auto) {
            if (state_ == clientConnecting) failLater(resultConnectFailed);
        });
        QObject::connect(socket, &Socket::disconnected, &guard_, [this] {
            const bool wasConnected = state_ == clientConnected;
            state_ = clientIdle;
            // Reported from the event loop, never from inside disconnect().
            if (wasConnected)
                QTimer::singleShot(0, &guard_, [this] {
                    if (onDisconnect) onDisconnect();
                });
        });
        state_ = clientConnecting;
        ++attempt_;
        connectTimer_.start();
        return *socket;
    }

    // A connect that cannot even start fails as an event, like any other.
    int failLater(int result) {
        state_ = clientConnecting;
        QTimer::singleShot(0, &guard_, [this, result, attempt = attempt_] {
            if (attempt == attempt_) failConnect(result);
        });
        return resultOk;
    }

    virtual void linkUp(Socket& /*socket*/) {}
    // Closes a link that is up; the socket's disconnected signal follows.
    virtual void closeLink(Socket& socket) = 0;

    int state_ = clientIdle;

private:
    void failConnect(int result) {
        if (state_ != clientConnecting) return;
        connectTimer_.stop();
        state_ = clientIdle;
        if (socket_) socket_->abort();
        if (onConnect) onConnect(result);
    }

    void releaseSocket() {
        if (!socket_) return;
        QObject::disconnect(socket_.get(), nullptr, &guard_, nullptr);
        socket_->abort();
        socket_.release()->deleteLater();
    }

    std::unique_ptr<Socket> socket_;
    QObject guard_;
    QTimer connectTimer_;
    int attempt_ = 0;
};

}  // namespace taltrix::bluetooth
