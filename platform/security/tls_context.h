// One client TLS connection, with no I/O of its own: bytes from the server
// go in, bytes for the server and plaintext come out, as the platform's
// provider does it for InitializeSecurityContext, EncryptMessage and
// DecryptMessage.
//
// The caller keeps the received bytes the context has not used yet (its
// pending input) and passes all of them to each call. Every result says how
// many bytes from the front were used up (`consumed`); the rest (`extra`)
// stays pending. The context only ever takes whole records, so a partial
// record is never half inside OpenSSL and half with the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/uninitialized_bytes.h"
#include "platform/security/ciphertext_bio.h"
#include "platform/security/connection_info.h"
#include "platform/security/openssl_handles.h"
#include "platform/security/security_status.h"
#include "platform/security/tls_credentials.h"

namespace platform::security {

struct TokenResult {
    SecStatus status = SEC_E_OK;
    // Bytes to send to the server. A final SEC_E_OK can carry one (the
    // client's Finished of a TLS 1.3 handshake), and so can a failure (the
    // alert that tells the server why).
    std::vector<std::uint8_t> token;
    std::size_t consumed = 0;
    std::size_t extra = 0;
    // With SEC_E_INCOMPLETE_MESSAGE: how many more bytes the next record needs.
    std::size_t missing = 0;
};

// Decrypted bytes, which OpenSSL writes straight into the vector.
using PlaintextBytes = memory::UninitializedBytes;

struct DecryptResult {
    SecStatus status = SEC_E_OK;
    std::size_t placed = 0;    // plaintext opened into the room given, ahead of `plaintext`
    PlaintextBytes plaintext;  // may be empty for a record that carried none
    // Bytes OpenSSL must send in answer (a TLS 1.3 KeyUpdate), to go out
    // before anything else.
    std::vector<std::uint8_t> token;
    std::size_t consumed = 0;
    std::size_t extra = 0;
    std::size_t missing = 0;
};

struct EncryptResult {
    SecStatus status = SEC_E_OK;
    std::vector<std::uint8_t> records;
};

struct StreamSizes {
    std::size_t header = 5;
    std::size_t trailer = 0;
    std::size_t maximumMessage = 16384;
};

class TlsContext {
public:
    explicit TlsContext(std::shared_ptr<TlsCredentials> credentials);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // The handshake step. The first call (input empty) makes the ClientHello
    // for `targetName`, which goes out as the server name only when it is a
    // DNS name, not an IP address; later calls take the pending input and
    // ignore the name. Results: SEC_I_CONTINUE_NEEDED with a token to send,
    // SEC_E_INCOMPLETE_MESSAGE when no whole record is left to work on,
    // SEC_E_OK when done (send the token if there is one), or a failure.
    // After decrypt() said SEC_I_RENEGOTIATE, calling this goes along with the
    // server's renegotiation, and the same loop runs until SEC_E_OK.
    TokenResult initialize(std::string_view targetName, std::span<const std::uint8_t> input);

    // Cuts the plaintext into pieces of at most the maximum message size and
    // protects each as one record.
    EncryptResult encrypt(std::span<const std::uint8_t> plaintext);

    // Unprotects the first record of the pending input. SEC_E_OK with its
    // plaintext (possibly none: a TLS 1.3 session ticket, say); call again
    // while extra bytes are left. SEC_E_INCOMPLETE_MESSAGE for a partial
    // record, SEC_I_CONTEXT_EXPIRED for the server's close_notify,
    // SEC_I_RENEGOTIATE when a TLS 1.2 server asks for a new handshake.
    // That HelloRequest is not consumed: it stays at the front of the pending
    // input for initialize() (go along) or refuseRenegotiation() (refuse).
    // With `room`, the record's plaintext is opened into it first (`placed`
    // says how much went there) and only what does not fit comes in
    // `plaintext`, behind it.
    DecryptResult decrypt(std::span<const std::uint8_t> input, std::span<std::uint8_t> room = {});

    // Refuses a renegotiation the server asked for: OpenSSL reads the pending
    // HelloRequest with renegotiation switched off and answers with the
    // warning alert no_renegotiation (level 1, description 100), which is the
    // token. The connection stays as it was.
    TokenResult refuseRenegotiation(std::span<const std::uint8_t> input);

    // Our close_notify. Nothing can be encrypted afterwards.
    TokenResult shutdown();

    bool established() const { return phase_ == Phase::Established; }
    bool renegotiationRequested() const { return phase_ == Phase::RenegotiationRequested; }
    // The server asked for a client certificate. The credential's
    // certificate goes out when it has one, an empty Certificate message
    // otherwise (the server decides whether that is enough), so
    // SEC_I_INCOMPLETE_CREDENTIALS is never returned for it.
    bool clientCertificateRequested() const { return clientCertificateRequested_; }

    // Valid once the handshake is done.
    StreamSizes streamSizes() const;
    std::optional<ConnectionInfo> connectionInfo() const;

    // OpenSSL's words for the last failure, for logs.
    const std::string& lastErrorText() const { return lastErrorText_; }

private:
    enum class Phase {
        Fresh,
        Handshaking,
        Established,
        RenegotiationRequested,
        Renegotiating,
        Closed,
        Failed,
    };

    TokenResult start(std::string_view targetName);
    TokenResult runHandshake(std::span<const std::uint8_t> input, std::size_t offset);
    // One attempt to move the handshake on with what OpenSSL holds: 1 done,
    // 0 wants more input, -1 failed (the failure is in `result`).
    int driveHandshake(TokenResult& result);
    bool handshakeFinished() const;
    void feed(std::span<const std::uint8_t> record);
    std::vector<std::uint8_t> drainOutput();
    void fail(TokenResult& result, int sslError);
    static int onCertificateRequest(SSL* ssl, void* self);

    std::shared_ptr<TlsCredentials> credentials_;
    // What OpenSSL's BIOs (owned by ssl_) read from and write to; declared
    // first, so that they outlive the connection that points at them.
    CiphertextInput input_;
    std::vector<std::uint8_t> output_;
    SslPtr ssl_;
    std::string target_;
    Phase phase_ = Phase::Fresh;
    bool clientCertificateRequested_ = false;
    // Application data that arrived in the middle of a renegotiation, handed
    // out by the next decrypt().
    PlaintextBytes heldPlaintext_;
    std::string lastErrorText_;
};

// Whether `name` is an IPv4 or IPv6 literal (brackets allowed), which TLS
// does not send as a server name.
bool isIpAddressLiteral(std::string_view name);

}  // namespace platform::security
