// A TCP client with the members and events of the Winsock control the TGC
// link was built on: Close, RemoteHost, RemotePort, Connect, State,
// SendData, GetData, and the DataArrival, Close and Error events.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace taltrix::links {

// The control's states.
enum WinsockState : int {
    sckClosed = 0,
    sckOpen = 1,
    sckListening = 2,
    sckConnectionPending = 3,
    sckResolvingHost = 4,
    sckHostResolved = 5,
    sckConnecting = 6,
    sckConnected = 7,
    sckClosing = 8,
    sckError = 9,
};

// A failed member call, as the control raises it.
struct WinsockError {
    int number = 0;
    std::string description;
};

// The control's error numbers and texts for what a TCP client meets.
inline constexpr int sckBadState = 40006;
inline constexpr std::string_view sckBadStateText =
    "Wrong protocol or connection state for the requested transaction or request";

class WinsockClient {
public:
    WinsockClient();
    ~WinsockClient();
    WinsockClient(const WinsockClient&) = delete;
    WinsockClient& operator=(const WinsockClient&) = delete;

    std::string RemoteHost;
    std::int32_t RemotePort = 0;

    void Close();
    // Closes without a reset, for peers that must be reset by hand after an
    // abrupt drop: what was written goes out, the peer is told with a FIN,
    // and whatever it still sends is read and dropped until it closes too
    // (an unread byte would turn our close into a reset), for at most
    // `waitMs`. No Close event follows.
    void CloseGracefully(int waitMs);
    // Starts connecting and returns at once; the outcome shows in State and
    // in the Error event.
    void Connect();
    int State() const { return state_; }
    // Sends the text's characters as bytes; fails unless connected.
    bool SendData(std::string_view text, WinsockError& error);
    // Everything received so far, one character per byte.
    std::string GetData();

    // The control's Connect event: the connection is up.
    std::function<void()> onConnect;
    std::function<void(std::int64_t bytesTotal)> onDataArrival;
    std::function<void()> onClose;
    std::function<void(const WinsockError& error)> onError;

private:
    void socketError(QAbstractSocket::SocketError error);

    QTcpSocket socket_;
    QObject guard_;
    int state_ = sckClosed;
};

}  // namespace taltrix::links
