// The client side both backends share: a Qt socket (TCP for the emulator,
// RFCOMM for the real stack) turned into the client's states and events.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include "platform/bluetooth/bluetooth.h"

namespace taltrix::bluetooth {

template <typename Socket>
class SocketClient : public Client {
public:
    template <typename... SocketArgs>
    explicit SocketClient(SocketArgs&&... socketArgs) : socket_(std::forward<SocketArgs>(socketArgs)...) {
        QObject::connect(&socket_, &Socket::connected, &guard_, [this] {
            state_ = clientConnected;
            linkUp();
            if (onConnect) onConnect(resultOk);
        });
        QObject::connect(&socket_, &Socket::readyRead, &guard_, [this] {
            const QByteArray bytes = socket_.readAll();
            if (onData && !bytes.isEmpty()) {
                onData(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                 static_cast<std::size_t>(bytes.size())));
            }
        });
        QObject::connect(&socket_, &Socket::errorOccurred, &guard_, [this](auto) {
            if (state_ == clientConnecting) failConnect(resultConnectFailed);
        });
        QObject::connect(&socket_, &Socket::disconnected, &guard_, [this] {
            const bool wasConnected = state_ == clientConnected;
            state_ = clientIdle;
            // Reported from the event loop, never from inside disconnect().
            if (wasConnected)
                QTimer::singleShot(0, &guard_, [this] {
                    if (onDisconnect) onDisconnect();
                });
        });
    }

    ~SocketClient() override {
        // No events for a client that is going away.
        QObject::disconnect(&socket_, nullptr, &guard_, nullptr);
        socket_.abort();
    }

    int state() const override { return state_; }

    int write(std::span<const std::uint8_t> bytes) override {
        if (state_ != clientConnected) return resultNotConnected;
        const qint64 written =
            socket_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return written == static_cast<qint64>(bytes.size()) ? resultOk : resultWriteFailed;
    }

protected:
    // A connect that cannot even start fails as an event, like any other.
    int failLater(int result) {
        state_ = clientConnecting;
        QTimer::singleShot(0, &guard_, [this, result] { failConnect(result); });
        return resultOk;
    }

    virtual void linkUp() {}

    Socket socket_;
    QObject guard_;
    int state_ = clientIdle;

private:
    void failConnect(int result) {
        state_ = clientIdle;
        socket_.abort();
        if (onConnect) onConnect(result);
    }
};

}  // namespace taltrix::bluetooth
