#include "control/tls/tls_channel.h"

#include <algorithm>
#include <cstdio>

#include "control/engine/engine_errors.h"
#include "control/engine/engine_events.h"
#include "control/engine/socket_errors.h"
#include "control/engine/traffic_log.h"
#include "control/tls/certificate_scan.h"
#include "control/tls/certificate_texts.h"
#include "control/tls/channel_texts.h"
#include "control/tls/handshake_commentary.h"
#include "control/websocket/accept_key.h"
#include "platform/security/certificate_text.h"
#include "platform/security/chain_policy.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace {

namespace sec = platform::security;

constexpr int credentialsFailed = 273;
constexpr int handshakeFailed = 276;
constexpr int serverCertificateMissing = 281;
constexpr int verificationFailed = 280;
constexpr int encryptFailed = 283;
// How much plaintext is sealed and handed to the socket at a time: one
// record's worth.
constexpr std::size_t sealPiece = 16 * 1024;
constexpr int decryptFailed = 284;
constexpr int chainUnavailableCode = 274;
constexpr int nameMismatchCode = 285;
constexpr std::string_view nameMismatchText = "Server name does not match server certificate.";

constexpr std::string_view attemptingText = "Attempting to connect to server.";
constexpr std::string_view socketEstablishedText = "Socket connection established.";
constexpr std::string_view startingHandshakeText = "Starting secure channel handshake.";
constexpr std::string_view connectionToHostFailedText = "Connection to host failed.";
constexpr std::string_view handshakeCompleteText = "SSL handshake complete.";
constexpr std::string_view handshakeFailedText = "SSL handshake failed.";
constexpr std::string_view connectionTerminatedText = "SSL connection terminated.";
constexpr std::string_view endOfSessionText = "Server signaled end of session.";
constexpr std::string_view renegotiationDisabledText = "Renegotiate is disabled. Send NO_RENEGOTIATION alert message.";
constexpr std::string_view certificateRequestedText = "Client certificate requested from server.";
constexpr std::string_view verificationFailedStatus = "Server certificate verification failed. Aborting connection...";
constexpr std::string_view verificationFailedText = "Server certificate verification failed. Connection aborted.";
constexpr std::string_view closeWouldBlockText = "Operation would block (to force disconnection, set Linger to FALSE).";
constexpr std::string_view alpnUnavailableText =
    "WARNING: The ALPN extension is not supported on this system. The ALPN extension is only supported on Windows "
    "8.1/Windows Server 2012 or later.";
constexpr std::string_view parsedStatus = "Parsed";

std::string formatted(const char* format, unsigned long long value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Codes of the provider print as the platform's signed 32-bit numbers.
std::string signedCode(std::uint32_t status) { return std::to_string(static_cast<std::int32_t>(status)); }

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool alpnAvailable(const EngineEnvironment& environment) {
    return environment.systemMajorVersion > 6 ||
           (environment.systemMajorVersion == 6 && environment.systemMinorVersion >= 3);
}

std::vector<std::string> alpnIdentifiers(std::string_view list) {
    std::vector<std::string> identifiers;
    while (true) {
        const auto comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        if (!item.empty() && item.size() <= 255) identifiers.emplace_back(item);
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return identifiers;
}

// A certificate the application accepted in advance: its encoded bytes, or
// the PEM or base64 text of them, as CertEncoded hands them out.
std::vector<std::uint8_t> acceptedCertificate(const std::string& given) {
    std::string_view text = given;
    const auto begin = text.find("-----BEGIN");
    if (begin != std::string_view::npos) {
        const auto bodyStart = text.find('\n', begin);
        const auto end = text.find("-----END", begin);
        if (bodyStart == std::string_view::npos || end == std::string_view::npos || end < bodyStart) return {};
        text = text.substr(bodyStart + 1, end - bodyStart - 1);
    } else if (!given.empty() && static_cast<std::uint8_t>(given.front()) == 0x30) {
        // A DER certificate starts with a SEQUENCE.
        return {given.begin(), given.end()};
    }
    std::string base64;
    for (char c : text) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') base64.push_back(c);
    }
    const std::optional<std::string> decoded = websocket::base64Decode(base64);
    if (!decoded) return {};
    return {decoded->begin(), decoded->end()};
}

}  // namespace

TlsChannel::TlsChannel(EngineContext& context, ByteStream& below, TlsSettings& settings, LingerSetting linger)
    : context_(context), below_(below), settings_(settings), linger_(std::move(linger)) {
    below_.setListener(this);
}

TlsChannel::~TlsChannel() { below_.setListener(nullptr); }

void TlsChannel::status(std::string_view text) {
    if (EngineEvents* events = context_.events()) events->sslStatus(std::string(text));
}

bool TlsChannel::isConnected() const {
    if (!enabled_) return below_.isConnected();
    return state_ == State::Established && below_.isConnected();
}

int TlsChannel::setCertSubject(std::string subject) {
    settings_.sslCertSubject = std::move(subject);
    if (settings_.sslCertSubject.empty() || settings_.sslCertStore.empty()) {
        if (clientCertificate_.fromStore()) clientCertificate_.release();
        return 0;
    }
    const ClientCertificate::Outcome outcome = clientCertificate_.selectFromStore(settings_);
    if (outcome.code == errc::certificateNotFound) {
        return context_.fail(errc::certificateNotFound, errtext::certificateNotFound);
    }
    if (outcome.code != 0) return context_.fail(outcome.code, outcome.text);
    return 0;
}

int TlsChannel::setCertEncoded(std::string encoded) {
    settings_.sslCertEncoded = std::move(encoded);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(settings_.sslCertEncoded.data());
    const ClientCertificate::Outcome outcome = clientCertificate_.useEncoded({bytes, settings_.sslCertEncoded.size()});
    if (outcome.code != 0) return context_.fail(outcome.code, outcome.text);
    return 0;
}

int TlsChannel::chooseClientCertificate() {
    const bool storeNamed = !settings_.sslCertStore.empty() && !settings_.sslCertSubject.empty();
    // A certificate given whole stands until something else is chosen.
    if (!storeNamed || (clientCertificate_.identity() && !clientCertificate_.fromStore())) return 0;
    const ClientCertificate::Outcome outcome = clientCertificate_.selectFromStore(settings_);
    if (outcome.code == errc::certificateNotFound) {
        // Not fatal: the server decides whether it will talk to a client
        // without a certificate.
        status(outcome.text);
        context_.logDebugText(outcome.text);
        return 0;
    }
    if (outcome.code != 0) return context_.fail(outcome.code, outcome.text);
    return 0;
}

int TlsChannel::acquireCredentials() {
    if (const int code = chooseClientCertificate()) return code;
    sec::CredentialOptions options;
    options.clientIdentity = clientCertificate_.identity();
    options.enabledProtocols = static_cast<std::uint32_t>(settings_.sslEnabledProtocols);
    options.minimumCipherStrength = settings_.sslCipherStrength;
    for (const std::uint32_t id : tls::parseAlgorithmList(settings_.sslEnabledCipherSuites)) {
        options.algorithms.push_back(id);
    }
    if (alpnAvailable(context_.environment())) options.alpnProtocols = alpnIdentifiers(settings_.alpnExtension);

    // The inputs that make two credentials the same, for ReuseSSLSession.
    std::string inputs = std::to_string(options.enabledProtocols) + "|" +
                         std::to_string(options.minimumCipherStrength) + "|" + settings_.sslEnabledCipherSuites + "|" +
                         settings_.sslProvider + "|" + (settings_.useDefaultCredentials ? "1" : "0") + "|" +
                         settings_.alpnExtension + "|" + clientCertificate_.fingerprint();
    if (settings_.reuseSslSession && credentials_ && inputs == credentialInputs_) return 0;

    std::shared_ptr<sec::TlsCredentials> credentials;
    const sec::SecStatus result = sec::TlsCredentials::acquire(options, credentials);
    if (result != sec::SEC_E_OK) {
        credentials_.reset();
        credentialInputs_.clear();
        return context_.fail(credentialsFailed,
                             "Could not acquire security credentials: error " + signedCode(result) + ".");
    }
    credentials_ = std::move(credentials);
    credentialInputs_ = std::move(inputs);
    return 0;
}

int TlsChannel::connect(std::string_view host, int port) {
    if (!enabled_) return below_.connect(host, port);
    if (state_ != State::None || below_.isOpen()) {
        return context_.fail(errc::alreadyConnected, errtext::alreadyConnected);
    }
    resetChannel();
    if (const int code = acquireCredentials()) return code;
    host_ = host;
    state_ = State::Handshaking;
    status(attemptingText);
    const int code = below_.connect(host, port);
    if (code != 0) state_ = State::None;
    return code;
}

void TlsChannel::resetChannel() {
    tls_.reset();
    serverCertificate_.clear();
    active_ = false;
    state_ = State::None;
    renegotiating_ = false;
    reportedUp_ = false;
    reportedServerChoice_ = false;
    reportedCertificateRequest_ = false;
    lastHandshakeError_ = 0;
    pendingInput_.clear();
    pendingOutput_.clear();
    heldPlaintext_.clear();
}

void TlsChannel::streamConnected(int code) {
    if (!enabled_) {
        if (listener_) listener_->streamConnected(code);
        return;
    }
    if (code != 0) {
        // The socket reported its own failure; this is the channel's.
        state_ = State::None;
        if (!settings_.reuseSslSession) credentials_.reset();
        context_.raiseConnectionStatus(connectionToHostFailedText, code);
        if (listener_) listener_->streamConnected(code);
        return;
    }
    status(socketEstablishedText);
    status(startingHandshakeText);
    active_ = true;
    if (!settings_.alpnExtension.empty() && !alpnAvailable(context_.environment())) status(alpnUnavailableText);

    tls_ = std::make_unique<sec::TlsContext>(credentials_);
    const sec::TokenResult first = tls_->initialize(host_, {});
    status(tls::enablingVersionsText(static_cast<std::uint32_t>(settings_.sslEnabledProtocols)));
    if (first.status != sec::SEC_I_CONTINUE_NEEDED || first.token.empty()) {
        lastHandshakeError_ = first.status;
        context_.raiseError(handshakeFailed, "error during handshake[2]: " + signedCode(first.status));
        context_.fail(handshakeFailed, "error during handshake[2]: " + signedCode(first.status));
        abortHandshake(handshakeFailed);
        return;
    }
    if (const auto offered = tls::offeredCipherSuitesText(first.token)) status(*offered);
    if (sendRaw(first.token) != 0 && !below_.isOpen()) return;
    status(formatted("Sending %llu bytes of handshake data.", first.token.size()));
}

int TlsChannel::streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) {
    if (!enabled_ || !active_) return listener_ ? listener_->streamReceived(bytes, endOfLine) : 0;
    // Records are opened where the layer below holds them; only what is
    // left of them when the pass ends (an unfinished record) is kept.
    pendingInput_.lend(bytes);
    if (state_ == State::Handshaking || renegotiating_)
        continueHandshake();
    else if (state_ == State::Established)
        decryptPending();
    pendingInput_.keep();
    return 0;
}

// Records have to go through the provider, so only a channel not in use
// lends the room above. Nor is the wait stretched over a channel in use: a
// server may send a record of its own between those of a payload (a request
// for a new handshake, say) and wait for the answer.
std::span<std::uint8_t> TlsChannel::receiveRoom() { return roomAbove(listener_, !enabled_ || !active_); }
int TlsChannel::receivedInPlace(std::size_t count) { return receivedInPlaceAbove(listener_, count); }
std::size_t TlsChannel::bytesAwaited() { return awaitedAbove(listener_, !enabled_ || !active_); }

void TlsChannel::continueHandshake() {
    while (tls_ && !pendingInput_.empty() && (state_ == State::Handshaking || renegotiating_)) {
        const bool serverHello = !reportedServerChoice_ && tls::startsWithServerHello(pendingInput_);
        const sec::TokenResult step = tls_->initialize(host_, pendingInput_);
        // The provider takes whole records as they come, also when the
        // handshake then waits for more: what it took is gone from the
        // pending input whatever the status.
        if (step.status == sec::SEC_E_INCOMPLETE_MESSAGE && step.consumed == 0) return;

        if (serverHello && step.consumed > 0) {
            reportedServerChoice_ = true;
            if (const auto choice = tls::serverChoice(pendingInput_)) {
                status(choice->version);
                status(choice->cipherSuite);
            }
            if (tls::announcesOversizedRecord(pendingInput_)) status(tls::kRecordTooLargeStatus);
        }
        if (!step.token.empty()) {
            sendRaw(step.token);
            status(formatted("Sending %llu handshake bytes.", step.token.size()));
        }
        const bool failed = (step.status & 0x80000000u) != 0 && step.status != sec::SEC_E_INCOMPLETE_MESSAGE;
        if (failed) {
            lastHandshakeError_ = step.status;
            const std::string text = "error during handshake[2]: " + signedCode(step.status);
            context_.raiseError(handshakeFailed, text);
            context_.fail(handshakeFailed, text);
            abortHandshake(handshakeFailed);
            return;
        }
        if (!reportedCertificateRequest_ && tls_->clientCertificateRequested()) {
            reportedCertificateRequest_ = true;
            status(certificateRequestedText);
        }
        const std::span<const std::uint8_t> used(pendingInput_.data(), std::min(step.consumed, pendingInput_.size()));
        if (settings_.parseSslServerCert && state_ == State::Handshaking && !offerEarlyCertificate(used)) return;
        pendingInput_.consume(used.size());

        if (step.status == sec::SEC_E_INCOMPLETE_MESSAGE) return;
        if (step.status == sec::SEC_E_OK) {
            if (renegotiating_) {
                // The same server, the same channel: the connection simply
                // goes on, with what waited for the new keys.
                renegotiating_ = false;
                if (flushOutput() == 0 && listener_) listener_->streamReadyToSend();
            } else {
                completeHandshake();
            }
            if (state_ == State::Established && !pendingInput_.empty()) decryptPending();
            return;
        }
        if (step.consumed == 0) return;
    }
}

bool TlsChannel::offerEarlyCertificate(std::span<const std::uint8_t> handshakeBytes) {
    const tls::CertificateScan scan = tls::scanForServerCertificate(handshakeBytes);
    if (scan.outcome != tls::CertificateScanOutcome::kFound) return true;
    const std::vector<std::uint8_t>& der = scan.certificate;
    const std::string encoded = tls::base64Lines(der);
    bool accept = false;
    if (EngineEvents* events = context_.events()) {
        events->sslServerAuthentication(asBytes(encoded), inCodePage(sec::certificateSubject(der)),
                                        inCodePage(sec::certificateIssuer(der)), std::string(parsedStatus), accept);
    }
    if (accept) return true;
    status(verificationFailedStatus);
    context_.fail(handshakeFailed, verificationFailedText);
    abortHandshake(handshakeFailed);
    return false;
}

std::string TlsChannel::inCodePage(const std::optional<std::string>& utf8) const {
    if (!utf8) return {};
    const auto codePage = static_cast<unsigned>(context_.effectiveCodePage());
    return codepage::wideToMultiByte(codePage, codepage::utf8ToUtf16(*utf8)).text;
}

bool TlsChannel::acceptServerCertificate(const std::vector<std::vector<std::uint8_t>>& chain) {
    if (chain.empty()) {
        const std::string text = formatted("can't find server certificate (error 0x%llx)", sec::SEC_E_CERT_UNKNOWN);
        context_.raiseError(serverCertificateMissing, text);
        return false;
    }
    const std::vector<std::uint8_t>& leaf = chain.front();
    serverCertificate_ = leaf;
    settings_.sslServerCertEncoded = sec::pemArmor(leaf);
    if (!settings_.sslAcceptServerCertEncoded.empty() &&
        acceptedCertificate(settings_.sslAcceptServerCertEncoded) == leaf) {
        return true;
    }

    const unsigned codePage = static_cast<unsigned>(context_.effectiveCodePage());
    const std::string subject = inCodePage(sec::certificateSubject(leaf));
    const std::string issuer = inCodePage(sec::certificateIssuer(leaf));
    std::uint32_t result = 0;
    std::string statusText;
    // The name the certificate must carry is the host as typed, which must
    // read as text in the control's code page.
    const bool nameReadable = codepage::multiByteToWide(codePage, host_, codepage::ConversionMode::strict).ok();
    if (!nameReadable) {
        result = nameMismatchCode;
        statusText = nameMismatchText;
    } else {
        const sec::ChainPolicyResult policy = sec::checkServerChain(chain, host_, settings_.sslSecurityFlags);
        if (policy.chainBuilt) {
            result = policy.status;
            statusText = tls::policyStatusText(result);
        } else {
            result = chainUnavailableCode;
            statusText = formatted("can't get certificate chain (error 0x%llx).", policy.status);
        }
    }
    const std::string encoded =
        settings_.sslIncludeCertChain ? tls::pemChain(chain) : tls::pemArmor("CERTIFICATE", leaf);
    if (result != 0) {
        context_.raiseError(verificationFailed, formatted("error verifying server certificate: 0x%llx", result));
    }
    bool accept = result == 0;
    if (EngineEvents* events = context_.events()) {
        events->sslServerAuthentication(asBytes(encoded), subject, issuer, statusText, accept);
    }
    return accept;
}

void TlsChannel::completeHandshake() {
    const std::optional<sec::ConnectionInfo> info = tls_->connectionInfo();
    if (!acceptServerCertificate(info ? info->serverChain : std::vector<std::vector<std::uint8_t>>{})) {
        status(verificationFailedStatus);
        context_.fail(handshakeFailed, verificationFailedText);
        abortHandshake(handshakeFailed);
        return;
    }
    state_ = State::Established;
    if (info) {
        tls::ConnectionInfo shown;
        shown.protocol = info->protocol;
        shown.cipherAlgorithm = info->cipher;
        shown.cipherStrength = info->cipherStrength;
        shown.hashAlgorithm = info->hash;
        shown.hashStrength = info->hashStrength;
        shown.exchangeAlgorithm = info->exchange;
        shown.exchangeStrength = info->exchangeStrength;
        status(tls::negotiatedParametersText(shown));
    } else {
        status(tls::kConnectionInfoUnavailable);
    }
    context_.raiseConnectionStatus(handshakeCompleteText, 0);
    reportedUp_ = true;
    if (listener_) listener_->streamConnected(0);
    if (state_ == State::Established && listener_) listener_->streamReadyToSend();
}

int TlsChannel::abortHandshake(int code) {
    const std::string description = context_.lastErrorText();
    const bool wasUp = reportedUp_;
    resetChannel();
    if (EngineEvents* events = context_.events()) {
        events->connectionStatus(std::string(handshakeFailedText), static_cast<std::int16_t>(code), description);
    }
    if (!wasUp && listener_) listener_->streamConnected(code);
    return below_.close(code);
}

void TlsChannel::decryptPending() {
    while (tls_ && state_ == State::Established && !renegotiating_ && !pendingInput_.empty() && acceptData_) {
        const std::span<std::uint8_t> room = roomForPlaintext();
        const sec::DecryptResult step = tls_->decrypt(pendingInput_, room);
        if (!step.token.empty()) sendRaw(step.token);
        switch (step.status) {
            case sec::SEC_E_INCOMPLETE_MESSAGE: pendingInput_.consume(step.consumed); return;
            case sec::SEC_I_CONTEXT_EXPIRED: {
                status(endOfSessionText);
                pendingInput_.consume(step.consumed);
                const sec::TokenResult closing = tls_->shutdown();
                if (!closing.token.empty()) sendRaw(closing.token);
                active_ = false;
                return;
            }
            case sec::SEC_I_RENEGOTIATE:
                if (settings_.sslEnableRenegotiation) {
                    renegotiating_ = true;
                    continueHandshake();
                } else {
                    status(renegotiationDisabledText);
                    const sec::TokenResult refusal = tls_->refuseRenegotiation(pendingInput_);
                    if (!refusal.token.empty()) sendRaw(refusal.token);
                    if (refusal.consumed == 0) return;
                    pendingInput_.consume(refusal.consumed);
                }
                continue;
            case sec::SEC_E_OK:
                pendingInput_.consume(step.consumed);
                if (step.placed > 0 && !handUpInPlace(room.first(step.placed))) return;
                if (!step.plaintext.empty()) {
                    context_.logDebugTraffic(TrafficDirection::Receive, step.plaintext);
                    deliverPlaintext(step.plaintext);
                }
                if (step.consumed == 0) return;
                continue;
            default: {
                const std::string text = formatted("error decrypting data (error 0x%llx)", step.status);
                context_.raiseError(decryptFailed, text);
                context_.fail(decryptFailed, text);
                below_.close(decryptFailed);
                return;
            }
        }
    }
}

std::span<std::uint8_t> TlsChannel::roomForPlaintext() {
    // Less input than this holds no record whose copy is worth asking the
    // layers above about: small messages go the short way.
    constexpr std::size_t worthPlacing = 4096;
    if (pendingInput_.size() < worthPlacing || !heldPlaintext_.empty() || !acceptData_ || delivering_ || !listener_)
        return {};
    return listener_->receiveRoom();
}

bool TlsChannel::handUpInPlace(std::span<const std::uint8_t> placed) {
    context_.logDebugTraffic(TrafficDirection::Receive, placed);
    delivering_ = true;
    const int code = listener_->receivedInPlace(placed.size());
    delivering_ = false;
    return handedUp(code);
}

bool TlsChannel::handUp(std::span<const std::uint8_t> plaintext) {
    delivering_ = true;
    const int code = listener_->streamReceived(plaintext, false);
    delivering_ = false;
    return handedUp(code);
}

bool TlsChannel::handedUp(int code) {
    if (code != errc::outOfMemory) return true;
    context_.raiseError(errc::outOfMemory, "Out of memory [ssllb]. Aborting connection.");
    below_.close(errc::outOfMemory);
    return false;
}

void TlsChannel::deliverPlaintext(std::span<const std::uint8_t> fresh) {
    // Straight up when nothing waits before it, which is the common road;
    // otherwise behind what waits. A handler that reads on (DataInText)
    // lands here again, and the running delivery carries on with it.
    if (!fresh.empty() && heldPlaintext_.empty() && acceptData_ && !delivering_ && listener_) {
        if (!handUp(fresh)) return;
    } else {
        heldPlaintext_.insert(heldPlaintext_.end(), fresh.begin(), fresh.end());
    }
    while (!delivering_ && !heldPlaintext_.empty() && acceptData_ && listener_) {
        const std::vector<std::uint8_t> piece = std::move(heldPlaintext_);
        heldPlaintext_.clear();
        if (!handUp(piece)) return;
    }
}

void TlsChannel::setAcceptData(bool accept) {
    acceptData_ = accept;
    if (accept && enabled_ && active_) {
        // What was opened, or still waits to be, comes before anything the
        // socket reads next.
        deliverPlaintext();
        if (!delivering_) decryptPending();
    }
    below_.setAcceptData(accept);
}

int TlsChannel::sendRaw(std::span<const std::uint8_t> bytes) {
    if (!pendingOutput_.empty()) {
        pendingOutput_.insert(pendingOutput_.end(), bytes.begin(), bytes.end());
        return flushOutput();
    }
    // Nothing waits: the records go out from where they lie, and only what
    // the socket does not take is queued.
    std::size_t accepted = 0;
    const int code = below_.send(bytes, &accepted);
    if (code != 0) pendingOutput_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(accepted), bytes.end());
    if (code == errc::wouldBlock && pendingOutput_.empty()) return 0;
    return code;
}

int TlsChannel::flushOutput() {
    if (pendingOutput_.empty()) return 0;
    std::size_t accepted = 0;
    const int code = below_.send(pendingOutput_, &accepted);
    pendingOutput_.erase(pendingOutput_.begin(), pendingOutput_.begin() + static_cast<std::ptrdiff_t>(accepted));
    if (code == errc::wouldBlock && pendingOutput_.empty()) return 0;
    return code;
}

int TlsChannel::send(std::span<const std::uint8_t> data, std::size_t* accepted) {
    if (!enabled_ || !active_) return below_.send(data, accepted);
    if (accepted) *accepted = 0;
    if (state_ != State::Established) return context_.failSocket(errc::socketNotConnected);
    if (renegotiating_) return context_.failSocket(errc::wouldBlock);
    if (data.empty()) return 0;
    if (const int code = flushOutput()) return code == errc::wouldBlock ? context_.failSocket(code) : code;

    // Sealed a record at a time: a megabyte message is then never held whole
    // in the library's buffer and in ours at once, and the server opens each
    // record while we seal the next (four records at a time made a megabyte
    // echo about 5 % slower on two cores). What is
    // sealed is taken: records the socket does not accept go out from here
    // when it can, and the rest stays the caller's.
    std::size_t taken = 0;
    int code = 0;
    while (taken < data.size() && code == 0) {
        const std::span<const std::uint8_t> piece = data.subspan(taken, std::min(sealPiece, data.size() - taken));
        const sec::EncryptResult sealed = tls_->encrypt(piece);
        if (sealed.status != sec::SEC_E_OK) {
            if (accepted) *accepted = taken;
            return context_.fail(encryptFailed, "error encrypting data " + signedCode(sealed.status) + ".");
        }
        context_.logDebugTraffic(TrafficDirection::Send, piece);
        taken += piece.size();
        code = sendRaw(sealed.records);
    }
    if (accepted) *accepted = taken;
    if (code == errc::wouldBlock) return context_.failSocket(code);
    return code;
}

void TlsChannel::streamReadyToSend() {
    if (enabled_ && active_) {
        const int code = flushOutput();
        if (code != 0 || state_ != State::Established || renegotiating_) return;
    }
    if (listener_) listener_->streamReadyToSend();
}

int TlsChannel::close(int errorCode) {
    if (!enabled_) return below_.close(errorCode);
    if (state_ == State::Handshaking && errorCode != 0) return abortHandshake(errorCode);
    if (state_ != State::Established) {
        // The layer above still hears the end of a connection it was told of.
        const bool wasUp = reportedUp_;
        resetChannel();
        reportedUp_ = wasUp;
        return below_.close(errorCode);
    }
    if (!active_) return below_.close(errorCode);
    if (!pendingOutput_.empty() && linger_ && linger_()) {
        flushOutput();
        if (!pendingOutput_.empty()) return context_.fail(errc::wouldBlock, closeWouldBlockText);
    }
    state_ = State::None;
    if (errorCode == 0 && tls_) {
        const sec::TokenResult closing = tls_->shutdown();
        if (!closing.token.empty()) sendRaw(closing.token);
    }
    active_ = false;
    return below_.close(errorCode);
}

void TlsChannel::streamClosed(int code, const std::string& description) {
    if (!enabled_) {
        if (listener_) listener_->streamClosed(code, description);
        return;
    }
    const State before = state_;
    const bool wasUp = reportedUp_;
    if (before == State::Handshaking) {
        // The server went away in the middle of the handshake.
        const std::string text =
            "Server disconnected before handshake completion [" + signedCode(lastHandshakeError_) + "].";
        context_.fail(handshakeFailed, text);
        context_.raiseError(handshakeFailed, text);
        if (EngineEvents* events = context_.events()) {
            events->connectionStatus(std::string(handshakeFailedText), static_cast<std::int16_t>(lastHandshakeError_),
                                     text);
        }
        resetChannel();
        if (listener_) listener_->streamConnected(handshakeFailed);
        return;
    }
    resetChannel();
    if (before == State::Established) context_.raiseConnectionStatus(connectionTerminatedText, code);
    if (wasUp && listener_) listener_->streamClosed(code, description);
}

}  // namespace morvane
