#include "control/transport/http_auth.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <initializer_list>
#include <span>

#include "control/engine/ascii.h"
#include "control/engine/engine_errors.h"
#include "control/websocket/accept_key.h"

namespace morvane::auth {
namespace {

constexpr std::string_view kAuth = "auth";
constexpr std::string_view kAuthInt = "auth-int";
constexpr std::string_view kMd5Sess = "MD5-sess";

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string hex32(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// A value the server sent, or one of ours, between double quotes. Nothing is
// escaped: a server that put a quote in its realm gets it back as it was cut.
void appendQuoted(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += "=\"";
    out += value;
    out += '"';
}

// The colon-separated inputs of the Digest hashes.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string out;
    bool first = true;
    for (const auto part : parts) {
        if (!first) out += ':';
        out += part;
        first = false;
    }
    return out;
}

}  // namespace

std::optional<std::string_view> afterScheme(std::string_view headerValue, std::string_view scheme) {
    if (headerValue.size() < scheme.size() || !equalsNoCase(headerValue.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    const std::string_view rest = headerValue.substr(scheme.size());
    if (rest.empty()) return rest;
    // "Digestive" is not Digest.
    if (rest.front() != ' ') return std::nullopt;
    return rest.substr(1);
}

std::optional<std::string> basicAuthorization(std::string_view user, std::string_view password) {
    if (user.empty() && password.empty()) return std::nullopt;
    std::string credentials;
    credentials.reserve(user.size() + 1 + password.size());
    credentials += user;
    credentials += ':';
    credentials += password;
    return std::string(kBasicPrefix) + websocket::base64Encode(bytesOf(credentials));
}

std::string chooseQop(std::string_view offered) {
    // Plain substring tests, in this order: a list "auth-int,auth" holds no
    // "auth," and so gives auth-int, while "auth,auth-int" gives auth.
    if (offered.find("auth,") != std::string_view::npos) return std::string(kAuth);
    if (offered.find(kAuthInt) != std::string_view::npos) return std::string(kAuthInt);
    if (offered.find(kAuth) != std::string_view::npos) return std::string(kAuth);
    return {};
}

int takeDigestChallenge(std::string_view parameters, DigestState& state, websocket::RandomSource& random) {
    // Nothing of an earlier challenge survives: a new nonce starts the count
    // again, and a server that stops naming an algorithm means md5.
    state = DigestState{};
    std::string offeredQop;

    // Every value is a piece of the input, so what is kept never outgrows
    // the header; each turn moves past at least one "=".
    std::size_t pos = 0;
    while (pos < parameters.size()) {
        while (pos < parameters.size() && isBlank(parameters[pos])) ++pos;
        const std::size_t equals = parameters.find('=', pos);
        if (equals == std::string_view::npos) break;
        const std::string_view name = parameters.substr(pos, equals - pos);
        pos = equals + 1;

        std::string_view value;
        if (pos < parameters.size() && parameters[pos] == '"') {
            const std::size_t close = parameters.find('"', pos + 1);
            // An unclosed quote takes the rest of the header as the value.
            const std::size_t end = close == std::string_view::npos ? parameters.size() : close;
            value = parameters.substr(pos + 1, end - pos - 1);
            pos = end == parameters.size() ? end : end + 1;
            if (pos < parameters.size() && parameters[pos] == ',') ++pos;
        } else {
            const std::size_t comma = parameters.find(',', pos);
            const std::size_t end = comma == std::string_view::npos ? parameters.size() : comma;
            value = parameters.substr(pos, end - pos);
            pos = end == parameters.size() ? end : end + 1;
        }

        if (equalsNoCase(name, "realm")) {
            state.realm = value;
        } else if (equalsNoCase(name, "qop")) {
            offeredQop = value;
        } else if (equalsNoCase(name, "algorithm")) {
            state.algorithm = value;
        } else if (equalsNoCase(name, "nonce")) {
            state.nonce = value;
        } else if (equalsNoCase(name, "opaque")) {
            state.opaque = std::string(value);
        }
    }

    state.qop = chooseQop(offeredQop);
    if (!state.qop.empty()) {
        std::array<std::uint8_t, 4> bytes{};
        if (!random.fill(bytes)) {
            state = DigestState{};
            return websocket::kRandomUnavailable;
        }
        state.clientNonce =
            hex32(static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
                  static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3]);
    }
    return 0;
}

std::optional<std::string> md5Hex(std::string_view data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1 || length != 16) {
        return std::nullopt;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

DigestAnswer digestAuthorization(DigestState& state, const DigestRequest& request) {
    DigestAnswer answer;
    if (state.nonce.empty() || request.user.empty()) return answer;

    const bool withQop = !state.qop.empty();
    const bool integrity = state.qop == kAuthInt;
    // Checked before the counter moves, so a refused answer uses up no nc.
    if (withQop && state.qop != kAuth && !integrity) {
        answer.code = errc::httpProtocol;
        answer.text = kUnknownQopText;
        return answer;
    }
    const std::uint32_t counter = withQop ? state.counter + 1 : state.counter;
    const std::string nc = hex32(counter);

    // Any algorithm but MD5-sess is answered as MD5, the only hash on offer;
    // a server that wanted another one refuses the answer and the retry
    // rules end the attempt.
    auto ha1 = md5Hex(joined({request.user, state.realm, request.password}));
    if (ha1 && equalsNoCase(state.algorithm, kMd5Sess)) ha1 = md5Hex(joined({*ha1, state.nonce, state.clientNonce}));
    std::optional<std::string> ha2;
    if (integrity) {
        if (const auto bodyHash = md5Hex(request.body)) ha2 = md5Hex(joined({request.method, request.uri, *bodyHash}));
    } else {
        ha2 = md5Hex(joined({request.method, request.uri}));
    }
    std::optional<std::string> response;
    if (ha1 && ha2) {
        response = withQop ? md5Hex(joined({*ha1, state.nonce, nc, state.clientNonce, state.qop, *ha2}))
                           : md5Hex(joined({*ha1, state.nonce, *ha2}));
    }
    if (!response) {
        answer.code = errc::securityLibrary;
        answer.text = errtext::securityLibrary;
        return answer;
    }
    state.counter = counter;

    std::string value(kDigestPrefix);
    appendQuoted(value, "username", request.user);
    appendQuoted(value, ", realm", state.realm);
    appendQuoted(value, ", nonce", state.nonce);
    appendQuoted(value, ", uri", request.uri);
    if (!request.toProxy) appendQuoted(value, ", algorithm", state.algorithm);
    if (withQop) {
        appendQuoted(value, ", qop", state.qop);
        value += ", nc=";
        value += nc;
        appendQuoted(value, ", cnonce", state.clientNonce);
    }
    appendQuoted(value, ", response", *response);
    if (state.opaque) appendQuoted(value, ", opaque", *state.opaque);
    answer.value = std::move(value);
    return answer;
}

}  // namespace morvane::auth
