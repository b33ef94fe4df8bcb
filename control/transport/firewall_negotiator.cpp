#include "control/transport/firewall_negotiator.h"

#include <arpa/inet.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "control/engine/ascii.h"
#include "control/transport/http_auth.h"
#include "control/transport/proxy_settings.h"

namespace morvane::firewall {
namespace {

constexpr std::string_view blanks = " \t";

// SOCKS 4 reply codes.
constexpr int socks4Granted = 90;
// SOCKS 5 methods and address types.
constexpr std::uint8_t noAuthentication = 0;
constexpr std::uint8_t userPassword = 2;
constexpr std::uint8_t noAcceptableMethod = 255;
constexpr std::uint8_t addressIPv4 = 1;
constexpr std::uint8_t addressName = 3;
constexpr std::uint8_t addressIPv6 = 4;

std::string_view socks4Failure(int code) {
    switch (code) {
        case 91: return "firewall request rejected or failed";
        case 92: return "firewall request rejected because identd is not available";
        case 93: return "firewall request rejected because identd reports different user";
        default: return {};
    }
}

std::string_view socks5Failure(int code) {
    static constexpr std::string_view texts[] = {
        "general SOCKS server failure", "connection not allowed by ruleset",
        "network unreachable",          "host unreachable",
        "connection refused",           "TTL expired",
        "command not supported",        "address type not supported",
    };
    if (code >= 1 && code <= 8) return texts[code - 1];
    return {};
}

std::string unknownFirewallError(int code) { return "unknown firewall error: " + std::to_string(code); }

int byteAt(std::string_view bytes, std::size_t index) { return static_cast<std::uint8_t>(bytes[index]); }

std::string_view trimmedLeft(std::string_view text) {
    const std::size_t first = text.find_first_not_of(blanks);
    return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

struct StatusLine {
    std::string code;    // the digits after the first run of blanks
    std::string reason;  // what follows them and a run of blanks
    int number = 0;
};

StatusLine parseStatus(std::string_view line) {
    StatusLine status;
    const std::size_t blank = line.find_first_of(blanks);
    if (blank == std::string_view::npos) return status;
    std::string_view rest = trimmedLeft(line.substr(blank));
    std::size_t digits = 0;
    while (digits < rest.size() && digits < 9 && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    status.code = std::string(rest.substr(0, digits));
    for (const char c : status.code) status.number = status.number * 10 + (c - '0');
    status.reason = std::string(trimmedLeft(rest.substr(digits)));
    return status;
}

// A Content-Length or chunk size beyond this is skipped as if it were this:
// skipping needs no memory, and the wait's Timeout ends a proxy that never
// sends it all.
constexpr std::uint64_t largestSkip = std::numeric_limits<std::uint64_t>::max() / 32;

std::uint64_t decimalValue(std::string_view text) {
    std::uint64_t value = 0;
    for (const char c : trimBlanks(text)) {
        if (c < '0' || c > '9') break;
        value = std::min(largestSkip, value * 10 + static_cast<std::uint64_t>(c - '0'));
    }
    return value;
}

std::uint64_t hexValue(std::string_view text) {
    std::uint64_t value = 0;
    for (const char c : trimmedLeft(text)) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = std::min(largestSkip, value * 16 + static_cast<std::uint64_t>(digit));
    }
    return value;
}

void appendPort(std::string& out, int port) {
    out += static_cast<char>((port >> 8) & 0xFF);
    out += static_cast<char>(port & 0xFF);
}

void appendIPv4(std::string& out, std::uint32_t networkOrder) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&networkOrder);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

}  // namespace

Negotiator::Negotiator(Target target, ProxyCredentials* credentials)
    : target_(std::move(target)), credentials_(credentials) {}

std::string Negotiator::connectAuthority(std::string_view host, int port) {
    if (host.starts_with('*')) host.remove_prefix(1);
    const bool ipv6 = host.find(':') != std::string_view::npos && !host.starts_with('[');
    return (ipv6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + std::to_string(port);
}

std::string Negotiator::userAgentLine() const {
    return target_.userAgent.empty() ? std::string() : "\r\nUser-Agent: " + target_.userAgent;
}

std::string_view Negotiator::schemeName() const {
    return target_.kind == firewall_kind::tunnelNegotiate ? "Negotiate" : "NTLM";
}

std::string Negotiator::connectRequest(std::string_view authorization) const {
    const std::string authority = connectAuthority(target_.host, target_.port);
    std::string request = "CONNECT " + authority + " HTTP/1.0\r\n";
    if (target_.kind == firewall_kind::tunnelDigest) {
        request += "Host: " + authority + "\r\nContent-Length: 0\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache";
        if (!authorization.empty()) request += "\r\nProxy-Authorization: " + std::string(authorization);
    } else {
        request += "Proxy-Authorization: " + std::string(authorization) + "\r\nProxy-Connection: Keep-Alive";
    }
    return request + userAgentLine() + "\r\n\r\n";
}

Progress Negotiator::fail(std::string text) {
    finished_ = true;
    step_ = Step::none;
    Progress progress;
    progress.state = Progress::State::failed;
    progress.code = kFailureCode;
    progress.text = std::move(text);
    return progress;
}

Progress Negotiator::complete(std::string_view rest) {
    finished_ = true;
    step_ = Step::none;
    Progress progress;
    progress.state = Progress::State::complete;
    progress.rest = std::string(rest);
    return progress;
}

Progress Negotiator::start() {
    Progress progress;
    switch (target_.kind) {
        case firewall_kind::tunnel: {
            std::string request = "CONNECT " + connectAuthority(target_.host, target_.port);
            if (const auto basic = auth::basicAuthorization(target_.user, target_.password))
                request += " HTTP/1.0\r\nProxy-Authorization: " + *basic;
            else
                request += " HTTP/1.0";
            progress.send = request + userAgentLine() + "\r\n\r\n";
            step_ = Step::status;
            return progress;
        }
        case firewall_kind::socks4: {
            std::string request{4, 1};
            appendPort(request, target_.port);
            // A proxy that resolves names (socks4a) gets the address 0.0.0.1
            // and the name after the user.
            appendIPv4(request, target_.proxyResolvesNames ? htonl(1) : target_.ipv4);
            request += target_.user;
            request += '\0';
            if (target_.proxyResolvesNames) {
                const std::string_view name = std::string_view(target_.host).substr(target_.host.starts_with('*'));
                request += name;
                request += '\0';
            }
            progress.send = std::move(request);
            step_ = Step::status;
            return progress;
        }
        case firewall_kind::socks5: {
            const bool offerPassword = !target_.user.empty() && !target_.password.empty();
            progress.send = offerPassword ? std::string{5, 2, 0, 2} : std::string{5, 1, 0};
            step_ = Step::methodReply;
            return progress;
        }
        case firewall_kind::tunnelDigest:
            progress.send = connectRequest({});
            step_ = Step::status;
            return progress;
        case firewall_kind::tunnelNtlm:
        case firewall_kind::tunnelNegotiate: {
            if (credentials_ == nullptr) return fail("Firewall error. No credentials for the proxy.");
            const int scheme = target_.kind == firewall_kind::tunnelNtlm ? authscheme::ntlm : authscheme::negotiate;
            AuthAnswer token = credentials_->answer(scheme, std::nullopt);
            if (token.code != 0) return fail(std::move(token.text));
            if (!token.value) return fail("Firewall error. No " + std::string(schemeName()) + " token.");
            progress.send = connectRequest(*token.value);
            step_ = Step::status;
            return progress;
        }
        default: return fail(unknownFirewallError(target_.kind));
    }
}

Progress Negotiator::feed(std::string_view bytes) {
    if (finished_ || step_ == Step::none) return {};
    switch (target_.kind) {
        case firewall_kind::tunnel: return feedTunnel(bytes);
        case firewall_kind::socks4: return feedSocks4(bytes);
        case firewall_kind::socks5: return feedSocks5(bytes);
        default: return feedHttp(bytes);
    }
}

Progress Negotiator::feedTunnel(std::string_view bytes) {
    // The blank line may straddle two pieces: look again from just before
    // where the new piece starts.
    const std::size_t searchFrom = reply_.size() > 3 ? reply_.size() - 3 : 0;
    reply_.append(bytes);
    if (!statusJudged_) {
        const std::size_t lineEnd = reply_.find_first_of("\r\n");
        if (lineEnd != std::string::npos) {
            statusJudged_ = true;
            const std::string_view line = std::string_view(reply_).substr(0, lineEnd);
            const StatusLine status = parseStatus(line);
            if (status.code.empty() || status.code[0] != '2') {
                std::string text = "Firewall error. " + std::string(line);
                if (!text.ends_with('.')) text += '.';
                return fail(std::move(text));
            }
        }
    }
    if (statusJudged_) {
        std::size_t end = std::string::npos;
        if (const std::size_t crlf = reply_.find("\r\n\r\n", searchFrom); crlf != std::string::npos) end = crlf + 4;
        if (const std::size_t lf = reply_.find("\n\n", searchFrom); lf != std::string::npos && lf + 2 < end) {
            end = lf + 2;
        }
        if (end != std::string::npos) return complete(std::string_view(reply_).substr(end));
    }
    if (reply_.size() > kMaxReplyBytes) return fail(std::string(kReplyTooLongText));
    return {};
}

Progress Negotiator::feedSocks4(std::string_view bytes) {
    reply_.append(bytes);
    if (reply_.size() < 8) return {};
    const int code = byteAt(reply_, 1);
    if (code == socks4Granted) return complete(std::string_view(reply_).substr(8));
    const std::string_view text = socks4Failure(code);
    return fail(text.empty() ? unknownFirewallError(code) : std::string(text));
}

Progress Negotiator::socks5ConnectRequest(std::string& send) {
    std::string request{5, 1, 0};
    std::string_view name = target_.host;
    const bool byName = name.starts_with('*') || target_.proxyResolvesNames;
    if (name.starts_with('*')) name.remove_prefix(1);
    if (byName) {
        if (name.size() > 255) return fail("Firewall error. The remote host name is too long.");
        request += static_cast<char>(addressName);
        request += static_cast<char>(name.size());
        request += name;
    } else {
        request += static_cast<char>(addressIPv4);
        appendIPv4(request, target_.ipv4);
    }
    appendPort(request, target_.port);
    send += request;
    step_ = Step::connectReply;
    return {};
}

Progress Negotiator::feedSocks5(std::string_view bytes) {
    reply_.append(bytes);
    Progress progress;
    for (;;) {
        if (step_ == Step::methodReply) {
            if (reply_.size() < 2) break;
            const int method = byteAt(reply_, 1);
            reply_.erase(0, 2);
            if (method == noAuthentication) {
                Progress next = socks5ConnectRequest(progress.send);
                if (next.state == Progress::State::failed) return next;
            } else if (method == userPassword) {
                if (target_.user.size() > 255 || target_.password.size() > 255) {
                    return fail("Firewall error. The user name or password is too long.");
                }
                progress.send += '\x01';
                progress.send += static_cast<char>(target_.user.size());
                progress.send += target_.user;
                progress.send += static_cast<char>(target_.password.size());
                progress.send += target_.password;
                step_ = Step::subnegotiationReply;
            } else if (method == noAcceptableMethod) {
                return fail("no acceptable firewall authentication methods");
            } else {
                return fail("unknown firewall authentication method");
            }
        } else if (step_ == Step::subnegotiationReply) {
            if (reply_.size() < 2) break;
            const int status = byteAt(reply_, 1);
            if (status != 0) return fail("firewall authentication failed: " + std::to_string(status));
            reply_.erase(0, 2);
            Progress next = socks5ConnectRequest(progress.send);
            if (next.state == Progress::State::failed) return next;
        } else {
            // The reply's length follows from its address type; a failure is
            // clear from its second byte.
            if (reply_.size() < 2) break;
            const int code = byteAt(reply_, 1);
            if (code != 0) {
                const std::string_view text = socks5Failure(code);
                return fail(text.empty() ? unknownFirewallError(code) : std::string(text));
            }
            if (reply_.size() < 5) break;
            std::size_t length = 10;
            if (byteAt(reply_, 3) == addressName) length = 7 + static_cast<std::size_t>(byteAt(reply_, 4));
            if (byteAt(reply_, 3) == addressIPv6) length = 22;
            if (reply_.size() < length) break;
            Progress done = complete(std::string_view(reply_).substr(length));
            done.send = std::move(progress.send);
            return done;
        }
    }
    return progress;
}

Progress Negotiator::feedHttp(std::string_view bytes) {
    std::string send;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (skipRemaining_ > 0) {
            const std::size_t skipped =
                static_cast<std::size_t>(std::min<std::uint64_t>(skipRemaining_, bytes.size() - at));
            skipRemaining_ -= skipped;
            at += skipped;
            if (skipRemaining_ > 0) break;
            if (step_ == Step::body) {
                Progress next = afterChallengeBody(send);
                if (next.state != Progress::State::negotiating) return next;
            }
            // After a chunk's data its line end comes, read as a line.
            continue;
        }
        const std::size_t newline = bytes.find('\n', at);
        const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
        reply_.append(bytes.substr(at, end - at));
        replyBytes_ += end - at;
        at = end;
        if (reply_.size() > kMaxLineBytes || replyBytes_ > kMaxReplyBytes) {
            return fail(std::string(kReplyTooLongText));
        }
        if (newline == std::string_view::npos) break;
        std::string line = std::move(reply_);
        reply_.clear();
        line.pop_back();
        if (line.ends_with('\r')) line.pop_back();
        Progress next = takeLine(line, send);
        if (next.state == Progress::State::complete) {
            next.rest = std::string(bytes.substr(at));
            next.send = std::move(send);
            return next;
        }
        if (next.state == Progress::State::failed) return next;
    }
    Progress progress;
    progress.send = std::move(send);
    return progress;
}

Progress Negotiator::takeLine(std::string_view line, std::string& send) {
    const bool digest = target_.kind == firewall_kind::tunnelDigest;
    switch (step_) {
        case Step::status: {
            const StatusLine status = parseStatus(line);
            if (status.number == 200) {
                step_ = Step::authHeaders;
            } else if (status.number == 401 || status.number == 407) {
                firstStatus_ = status.code + " " + status.reason;
                step_ = Step::headers;
                contentLength_ = 0;
                chunked_ = false;
                challenge_.reset();
            } else {
                return fail(std::string(digest ? "Firewall error while attempting digest authentication. Expected "
                                                 "401 or 407 but got: "
                                               : "Firewall error while attempting NTLM authentication. Expected 401 "
                                                 "or 407 but got: ") +
                            status.code + " " + status.reason);
            }
            return {};
        }
        case Step::headers: {
            if (line.empty()) {
                if (chunked_) {
                    skipRemaining_ = 0;
                    step_ = Step::chunkSize;
                    return {};
                }
                if (contentLength_ > 0) {
                    skipRemaining_ = contentLength_;
                    step_ = Step::body;
                    return {};
                }
                return afterChallengeBody(send);
            }
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos) return {};
            const std::string_view name = trimBlanks(line.substr(0, colon));
            const std::string_view value = trimBlanks(line.substr(colon + 1));
            if (equalsNoCase(name, "Content-Length")) {
                contentLength_ = decimalValue(value);
            } else if (equalsNoCase(name, "Transfer-Encoding")) {
                if (equalsNoCase(value, "chunked")) chunked_ = true;
            } else if (equalsNoCase(name, "Proxy-Authenticate") && !challenge_) {
                const std::string_view scheme = digest ? std::string_view("Digest") : schemeName();
                const std::string_view named = value.substr(0, value.find_first_of(blanks));
                if (equalsNoCase(named, scheme)) challenge_ = std::string(value);
            }
            return {};
        }
        case Step::chunkSize: {
            if (chunkData_) {
                // The line end after a chunk's data.
                chunkData_ = false;
                return {};
            }
            const std::uint64_t size = hexValue(line);
            if (size == 0) {
                step_ = Step::chunkTrailer;
            } else {
                skipRemaining_ = size;
                chunkData_ = true;
            }
            return {};
        }
        case Step::chunkTrailer:
            if (line.empty()) return afterChallengeBody(send);
            return {};
        case Step::authStatus: {
            const StatusLine status = parseStatus(line);
            const bool accepted = digest ? status.number == 200 : status.code.starts_with('2');
            if (!accepted) {
                return fail(std::string(digest ? "Firewall error after digest authentication. Expected a status "
                                                 "code beginning with 2 but got: "
                                               : "Firewall error after NTLM authentication. Expected a status code "
                                                 "beginning with 2 but got: ") +
                            status.code + " " + status.reason);
            }
            step_ = Step::authHeaders;
            return {};
        }
        case Step::authHeaders:
            if (line.empty()) return complete({});
            return {};
        default: return {};
    }
}

Progress Negotiator::afterChallengeBody(std::string& send) {
    const bool digest = target_.kind == firewall_kind::tunnelDigest;
    if (credentials_ == nullptr) return fail("Firewall error. No credentials for the proxy.");
    const int scheme = digest ? authscheme::digest
                              : (target_.kind == firewall_kind::tunnelNtlm ? authscheme::ntlm : authscheme::negotiate);
    // An NTLM or Negotiate refusal without a token of its scheme is answered
    // with a fresh start; the proxy's next answer says what it thinks of it.
    AuthAnswer answer = credentials_->answer(
        scheme, challenge_ ? std::optional<std::string_view>(*challenge_) : std::optional<std::string_view>());
    if (answer.code != 0) return fail(std::move(answer.text));
    if (!answer.value) {
        // Nothing to answer with (no Digest challenge, or no user): the
        // refusal stands as the answer to the authenticated request would.
        return fail(std::string(digest ? "Firewall error after digest authentication. Expected a status code "
                                         "beginning with 2 but got: "
                                       : "Firewall error after NTLM authentication. Expected a status code "
                                         "beginning with 2 but got: ") +
                    firstStatus_);
    }
    send += connectRequest(*answer.value);
    step_ = Step::authStatus;
    replyBytes_ = 0;
    chunked_ = false;
    return {};
}

}  // namespace morvane::firewall
