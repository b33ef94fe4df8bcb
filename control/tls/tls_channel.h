// The secure channel: a layer of the engine's stack between the socket and
// the HTTP layer. Switched on per connection for the secure scheme, it runs
// the TLS handshake through the platform's provider, checks the server's
// certificate and offers it to the application (SSLServerAuthentication),
// protects what goes out and opens what comes in, follows or refuses a
// renegotiation, answers the server's close_notify, and keeps a running
// commentary through SSLStatus. Switched off it passes everything through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/engine/byte_stream.h"
#include "control/engine/consumable_bytes.h"
#include "control/engine/engine_context.h"
#include "control/tls/client_certificate.h"
#include "control/tls/tls_settings.h"
#include "platform/security/tls_context.h"
#include "platform/security/tls_credentials.h"

namespace morvane {

class TlsChannel final : public ByteStream, private StreamListener {
public:
    enum class State { None, Handshaking, Established };
    // The transport's Linger setting, read when a close finds records queued.
    using LingerSetting = std::function<bool()>;

    // Borrows the context, the stream below and the settings for its
    // lifetime, and listens to the stream below.
    TlsChannel(EngineContext& context, ByteStream& below, TlsSettings& settings, LingerSetting linger);
    ~TlsChannel() override;
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // On for a connection to the secure scheme, off for the plain one; set
    // before the connection starts.
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }
    State state() const { return state_; }
    bool renegotiating() const { return renegotiating_; }

    // SSLCertSubject: a non-empty subject with a store named is looked up at
    // once; 272 when no certificate matches, or the store's own failure.
    int setCertSubject(std::string subject);
    // SSLCertEncoded and its byte form: the client certificate itself.
    int setCertEncoded(std::string encoded);
    const ClientCertificate& clientCertificate() const { return clientCertificate_; }
    // The server's certificate (DER) of the current connection, once the
    // handshake has shown it; what its channel bindings are made from.
    const std::vector<std::uint8_t>& serverCertificate() const { return serverCertificate_; }

    // ByteStream.
    void setListener(StreamListener* listener) override { listener_ = listener; }
    // Acquires the credentials and starts the connection; the handshake
    // follows once the socket is connected. 273 when the credentials cannot
    // be had, 104 while a handshake or a connection is under way.
    int connect(std::string_view host, int port) override;
    // Protects and sends; what the socket does not take waits here (10035).
    int send(std::span<const std::uint8_t> data, std::size_t* accepted = nullptr) override;
    void setAcceptData(bool accept) override;
    bool acceptData() const override { return acceptData_; }
    // With an error code the socket closes at once; without one the server
    // gets our close_notify first. 10035 when records are still queued and
    // Linger asks for them to go out.
    int close(int errorCode = 0) override;
    bool isOpen() const override { return below_.isOpen(); }
    // On a secure connection: the handshake is done.
    bool isConnected() const override;

private:
    // StreamListener: the stream below.
    void streamConnected(int code) override;
    int streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) override;
    std::span<std::uint8_t> receiveRoom() override;
    int receivedInPlace(std::size_t count) override;
    std::size_t bytesAwaited() override;
    void streamReadyToSend() override;
    void streamClosed(int code, const std::string& description) override;

    int acquireCredentials();
    // Runs the store search again before a connection; fails only when the
    // store cannot be opened.
    int chooseClientCertificate();
    void continueHandshake();
    void completeHandshake();
    // The certificate check and the application's verdict: true to go on.
    bool acceptServerCertificate(const std::vector<std::vector<std::uint8_t>>& chain);
    // The early look at the certificate in the server's raw handshake bytes.
    bool offerEarlyCertificate(std::span<const std::uint8_t> handshakeBytes);
    void decryptPending();
    // Hands opened data up, or keeps it while the layer above takes none.
    void deliverPlaintext(std::span<const std::uint8_t> fresh = {});
    // False when the layer above could not store it (the connection ends).
    bool handUp(std::span<const std::uint8_t> plaintext);
    // Where the next record may be opened: the room the layer above has for
    // the rest of a large payload, when nothing waits to go up before it.
    std::span<std::uint8_t> roomForPlaintext();
    bool handUpInPlace(std::span<const std::uint8_t> placed);
    // False when the layer above ran out of memory: the connection is closed.
    bool handedUp(int code);
    // Subject and issuer texts in the control's code page.
    std::string inCodePage(const std::optional<std::string>& utf8) const;
    // Fails the handshake: the channel is reset, the layer above hears
    // `code` as the outcome of its connect, and the socket closes.
    int abortHandshake(int code);
    // Raw bytes for the server: queued behind what is already waiting.
    int sendRaw(std::span<const std::uint8_t> bytes);
    // 0 when the queue is empty, 10035 while bytes wait, or a socket error.
    int flushOutput();
    void resetChannel();
    void status(std::string_view text);

    EngineContext& context_;
    ByteStream& below_;
    TlsSettings& settings_;
    LingerSetting linger_;
    StreamListener* listener_ = nullptr;

    bool enabled_ = false;
    // Records are being protected; cleared after close_notify.
    bool active_ = false;
    State state_ = State::None;
    bool renegotiating_ = false;
    // The layer above was told the connection is up, so it hears its end.
    bool reportedUp_ = false;
    bool acceptData_ = true;
    bool delivering_ = false;
    bool reportedServerChoice_ = false;
    bool reportedCertificateRequest_ = false;
    std::uint32_t lastHandshakeError_ = 0;
    std::string host_;

    ClientCertificate clientCertificate_;
    std::vector<std::uint8_t> serverCertificate_;
    std::shared_ptr<platform::security::TlsCredentials> credentials_;
    // What the held credentials were made from, for ReuseSSLSession.
    std::string credentialInputs_;
    std::unique_ptr<platform::security::TlsContext> tls_;
    ConsumableBytes pendingInput_;
    std::vector<std::uint8_t> pendingOutput_;
    std::vector<std::uint8_t> heldPlaintext_;
};

}  // namespace morvane
