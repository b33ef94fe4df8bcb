#include "platform/security/tls_context.h"

#include <arpa/inet.h>
#include <openssl/err.h>

#include <utility>

#include "platform/security/status_mapping.h"
#include "platform/security/tls_record.h"

namespace platform::security {

bool isIpAddressLiteral(std::string_view name) {
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    std::string text(name);
    unsigned char address[16];
    return inet_pton(AF_INET, text.c_str(), address) == 1 || inet_pton(AF_INET6, text.c_str(), address) == 1;
}

TlsContext::TlsContext(std::shared_ptr<TlsCredentials> credentials) : credentials_(std::move(credentials)) {}

TlsContext::~TlsContext() {
    // OpenSSL drops the session of a connection freed without close_notify
    // from resumption, on the theory that it may have been cut short. The
    // platform's cache keeps it, and the channel often just drops a socket,
    // so a context that got through its handshake says it shut down. A
    // failed one keeps OpenSSL's verdict.
    if (ssl_ && phase_ != Phase::Failed && phase_ != Phase::Fresh && phase_ != Phase::Handshaking) {
        SSL_set_shutdown(ssl_.get(), SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    }
}

namespace {

// Whatever OpenSSL left unread of the records lent to it during one call is
// kept when the call returns.
struct KeepUnread {
    CiphertextInput& input;
    ~KeepUnread() { input.keepUnread(); }
};

// SSL_get_error() reads the thread's error queue, so a record call has to
// start with it empty. Clearing it walks every slot, some 800 instructions
// even when there is nothing to clear, and a small round trip makes two
// record calls; a look costs a quarter of that.
void emptyErrorQueue() {
    if (ERR_peek_error() != 0) ERR_clear_error();
}

}  // namespace

std::vector<std::uint8_t> TlsContext::drainOutput() { return std::exchange(output_, {}); }

void TlsContext::feed(std::span<const std::uint8_t> record) { input_.lend(record); }

void TlsContext::fail(TokenResult& result, int sslError) {
    SslFailure failure =
        takeSslFailure(sslError, phase_ == Phase::Renegotiating || phase_ == Phase::Handshaking ? SslPhase::Handshake
                                                                                                : SslPhase::Decrypt);
    result.status = failure.status;
    lastErrorText_ = failure.text;
    // Whatever OpenSSL wrote last is the alert telling the server why.
    std::vector<std::uint8_t> alert = drainOutput();
    result.token.insert(result.token.end(), alert.begin(), alert.end());
    phase_ = Phase::Failed;
}

int TlsContext::onCertificateRequest(SSL*, void* self) {
    static_cast<TlsContext*>(self)->clientCertificateRequested_ = true;
    return 1;
}

bool TlsContext::handshakeFinished() const {
    return !SSL_in_init(ssl_.get()) && SSL_renegotiate_pending(ssl_.get()) == 0;
}

int TlsContext::driveHandshake(TokenResult& result) {
    ERR_clear_error();
    if (phase_ == Phase::Renegotiating) {
        // A renegotiation runs inside SSL_read, which also takes the application
        // data a server may send in the middle of one; it is kept for decrypt().
        for (;;) {
            std::uint8_t buffer[kMaxMessageSize];
            int got = SSL_read(ssl_.get(), buffer, sizeof buffer);
            if (got > 0) {
                heldPlaintext_.append({buffer, static_cast<std::size_t>(got)});
                continue;
            }
            int error = SSL_get_error(ssl_.get(), got);
            if (error == SSL_ERROR_WANT_READ) return handshakeFinished() ? 1 : 0;
            fail(result, error);
            return -1;
        }
    }
    int done = SSL_do_handshake(ssl_.get());
    if (done == 1) return 1;
    int error = SSL_get_error(ssl_.get(), done);
    if (error == SSL_ERROR_WANT_READ) return 0;
    fail(result, error);
    return -1;
}

TokenResult TlsContext::start(std::string_view targetName) {
    TokenResult result;
    ssl_.reset(SSL_new(credentials_->sslContext()));
    BIO* input = newInputBio(input_);
    BIO* output = newOutputBio(output_);
    if (!ssl_ || input == nullptr || output == nullptr) {
        BIO_free(input);
        BIO_free(output);
        ERR_clear_error();
        result.status = SEC_E_INTERNAL_ERROR;
        phase_ = Phase::Failed;
        return result;
    }
    SSL_set_bio(ssl_.get(), input, output);
    SSL_set_connect_state(ssl_.get());
    // Renegotiation is refused unless the caller goes along with one that
    // decrypt() reported; see initialize().
    SSL_set_options(ssl_.get(), SSL_OP_NO_RENEGOTIATION);
    target_ = std::string(targetName);
    if (!target_.empty() && !isIpAddressLiteral(target_) &&
        SSL_set_tlsext_host_name(ssl_.get(), target_.c_str()) != 1) {
        ERR_clear_error();  // a name TLS cannot carry goes unsent
    }
    if (SSL_SESSION* session = credentials_->sessionFor(target_); session != nullptr) {
        SSL_set_session(ssl_.get(), session);
    }
    credentials_->bindSessions(ssl_.get(), &target_);
    SSL_set_cert_cb(ssl_.get(), onCertificateRequest, this);
    phase_ = Phase::Handshaking;

    if (driveHandshake(result) < 0) return result;
    result.token = drainOutput();
    result.status = SEC_I_CONTINUE_NEEDED;
    return result;
}

TokenResult TlsContext::runHandshake(std::span<const std::uint8_t> input, std::size_t offset) {
    TokenResult result;
    bool finished = false;
    for (;;) {
        int state = driveHandshake(result);
        if (state < 0) break;
        if (state > 0) {
            finished = true;
            phase_ = Phase::Established;
            // The next renegotiation is again the caller's to decide.
            SSL_set_options(ssl_.get(), SSL_OP_NO_RENEGOTIATION);
            break;
        }
        RecordScan scan = scanRecord(input.subspan(offset));
        if (scan.kind == RecordScan::Kind::Malformed) {
            result.status = SEC_E_ILLEGAL_MESSAGE;
            lastErrorText_ = "received bytes are not a TLS record";
            phase_ = Phase::Failed;
            break;
        }
        if (scan.kind == RecordScan::Kind::Partial) {
            result.missing = scan.missing;
            break;
        }
        feed(input.subspan(offset, scan.length));
        offset += scan.length;
    }
    result.consumed = offset;
    result.extra = input.size() - offset;
    if (phase_ == Phase::Failed) return result;
    std::vector<std::uint8_t> output = drainOutput();
    result.token.insert(result.token.end(), output.begin(), output.end());
    if (finished) {
        result.status = SEC_E_OK;
    } else {
        result.status = result.token.empty() ? SEC_E_INCOMPLETE_MESSAGE : SEC_I_CONTINUE_NEEDED;
    }
    return result;
}

TokenResult TlsContext::initialize(std::string_view targetName, std::span<const std::uint8_t> input) {
    KeepUnread keep{input_};
    switch (phase_) {
        case Phase::Fresh: return start(targetName);
        case Phase::Handshaking:
        case Phase::Renegotiating: return runHandshake(input, 0);
        case Phase::RenegotiationRequested: {
            // Going along with the server: the HelloRequest at the front of the
            // pending input is read with renegotiation allowed, and OpenSSL
            // answers it with a new ClientHello.
            RecordScan scan = scanRecord(input);
            if (scan.kind != RecordScan::Kind::Complete) break;
            SSL_clear_options(ssl_.get(), SSL_OP_NO_RENEGOTIATION);
            phase_ = Phase::Renegotiating;
            feed(input.first(scan.length));
            return runHandshake(input, scan.length);
        }
        default: break;
    }
    TokenResult result;
    result.status = SEC_E_INVALID_HANDLE;
    result.extra = input.size();
    return result;
}

TokenResult TlsContext::refuseRenegotiation(std::span<const std::uint8_t> input) {
    KeepUnread keep{input_};
    TokenResult result;
    RecordScan scan = scanRecord(input);
    if (phase_ != Phase::RenegotiationRequested || scan.kind != RecordScan::Kind::Complete) {
        result.status = SEC_E_INVALID_HANDLE;
        result.extra = input.size();
        return result;
    }
    SSL_set_options(ssl_.get(), SSL_OP_NO_RENEGOTIATION);
    phase_ = Phase::Established;
    feed(input.first(scan.length));
    result.consumed = scan.length;
    result.extra = input.size() - scan.length;
    ERR_clear_error();
    std::uint8_t buffer[kMaxMessageSize];
    for (;;) {
        int got = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (got > 0) {
            heldPlaintext_.append({buffer, static_cast<std::size_t>(got)});
            continue;
        }
        int error = SSL_get_error(ssl_.get(), got);
        if (error != SSL_ERROR_WANT_READ) {
            fail(result, error);
            return result;
        }
        break;
    }
    result.token = drainOutput();
    result.status = SEC_E_OK;
    return result;
}

DecryptResult TlsContext::decrypt(std::span<const std::uint8_t> input, std::span<std::uint8_t> room) {
    KeepUnread keep{input_};
    DecryptResult result;
    result.extra = input.size();
    if (phase_ == Phase::RenegotiationRequested) {
        result.status = SEC_I_RENEGOTIATE;
        return result;
    }
    // Closed still reads: the server's close_notify may follow ours.
    if (phase_ != Phase::Established && phase_ != Phase::Closed) {
        result.status = SEC_E_INVALID_HANDLE;
        return result;
    }
    if (!heldPlaintext_.empty()) {
        result.plaintext = std::move(heldPlaintext_);
        heldPlaintext_.clear();
        return result;
    }
    RecordScan scan = scanRecord(input);
    if (scan.kind == RecordScan::Kind::Malformed) {
        result.status = SEC_E_ILLEGAL_MESSAGE;
        lastErrorText_ = "received bytes are not a TLS record";
        phase_ = Phase::Failed;
        return result;
    }
    if (scan.kind == RecordScan::Kind::Partial) {
        result.status = SEC_E_INCOMPLETE_MESSAGE;
        result.missing = scan.missing;
        return result;
    }
    // Up to TLS 1.2 record types travel in the clear, and the only handshake
    // message a server may send once the handshake is over is HelloRequest.
    // It is reported before OpenSSL reads it, because reading it already
    // decides between a new ClientHello and the refusal alert. (TLS 1.3 has
    // no renegotiation; its tickets and key updates arrive as application
    // data records and are handled below.)
    if (scan.type == kRecordHandshake && SSL_version(ssl_.get()) <= TLS1_2_VERSION) {
        phase_ = Phase::RenegotiationRequested;
        result.status = SEC_I_RENEGOTIATE;
        return result;
    }
    feed(input.first(scan.length));
    result.consumed = scan.length;
    result.extra = input.size() - scan.length;
    emptyErrorQueue();
    // A record's plaintext is shorter than the record, so the first read
    // takes all of it, straight into the room or the result. Only when
    // OpenSSL still holds something (what did not fit the room; otherwise
    // it never should: it was given this one record) is it read on: a read
    // only to learn that nothing more is there costs nearly a thousand
    // instructions, a twentieth of a small round trip.
    int got;
    if (!room.empty()) {
        got = SSL_read(ssl_.get(), room.data(), static_cast<int>(std::min(room.size(), scan.length)));
        result.placed = got > 0 ? static_cast<std::size_t>(got) : 0;
    } else {
        result.plaintext.resize(scan.length);
        got = SSL_read(ssl_.get(), result.plaintext.data(), static_cast<int>(scan.length));
        result.plaintext.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    std::uint8_t buffer[kMaxMessageSize];
    while (got > 0 && (SSL_has_pending(ssl_.get()) == 1 || input_.pending() > 0)) {
        got = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (got > 0) result.plaintext.append({buffer, static_cast<std::size_t>(got)});
    }
    const int error = got > 0 ? SSL_ERROR_WANT_READ : SSL_get_error(ssl_.get(), got);
    if (error == SSL_ERROR_ZERO_RETURN) {
        result.status = SEC_I_CONTEXT_EXPIRED;
        phase_ = Phase::Closed;
    } else if (error != SSL_ERROR_WANT_READ) {
        TokenResult failed;
        fail(failed, error);
        result.status = failed.status;
        result.token = std::move(failed.token);
        return result;
    }
    result.token = drainOutput();
    return result;
}

EncryptResult TlsContext::encrypt(std::span<const std::uint8_t> plaintext) {
    EncryptResult result;
    // Not while a renegotiation runs: the channel holds its sends back until
    // the new keys are in place.
    if (phase_ != Phase::Established) {
        result.status = SEC_E_INVALID_HANDLE;
        return result;
    }
    emptyErrorQueue();
    // Room for every record's header, tag and padding, so that the records
    // are written without the vector moving.
    output_.reserve(output_.size() + plaintext.size() + (plaintext.size() / kMaxMessageSize + 1) * 64);
    for (std::size_t offset = 0; offset < plaintext.size();) {
        std::size_t piece = std::min(kMaxMessageSize, plaintext.size() - offset);
        int written = SSL_write(ssl_.get(), plaintext.data() + offset, static_cast<int>(piece));
        if (written <= 0) {
            SslFailure failure = takeSslFailure(SSL_get_error(ssl_.get(), written), SslPhase::Encrypt);
            result.status = failure.status;
            lastErrorText_ = failure.text;
            return result;
        }
        offset += static_cast<std::size_t>(written);
    }
    result.records = drainOutput();
    return result;
}

TokenResult TlsContext::shutdown() {
    TokenResult result;
    if (!ssl_) {
        result.status = SEC_E_INVALID_HANDLE;
        return result;
    }
    ERR_clear_error();
    int done = SSL_shutdown(ssl_.get());
    if (done < 0 && SSL_get_error(ssl_.get(), done) != SSL_ERROR_WANT_READ) {
        // A context that never finished its handshake has nothing to close;
        // the caller just drops the socket.
        SslFailure failure = takeSslFailure(SSL_get_error(ssl_.get(), done), SslPhase::Encrypt);
        lastErrorText_ = failure.text;
        result.status = SEC_E_INVALID_HANDLE;
    }
    result.token = drainOutput();
    phase_ = Phase::Closed;
    return result;
}

StreamSizes TlsContext::streamSizes() const {
    StreamSizes sizes;
    sizes.header = kRecordHeaderSize;
    sizes.maximumMessage = kMaxMessageSize;
    sizes.trailer = ssl_ ? recordTrailerBound(ssl_.get()) : 0;
    return sizes;
}

std::optional<ConnectionInfo> TlsContext::connectionInfo() const {
    if (!ssl_ || phase_ == Phase::Fresh || phase_ == Phase::Handshaking || phase_ == Phase::Failed) {
        return std::nullopt;
    }
    return describeConnection(ssl_.get());
}

}  // namespace platform::security
