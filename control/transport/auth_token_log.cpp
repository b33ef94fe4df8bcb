#include "control/transport/auth_token_log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "control/websocket/accept_key.h"

namespace morvane::auth {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::array<std::uint8_t, 8> kNtlmSignature = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
// Object identifiers as DER contents.
constexpr std::array<std::uint8_t, 6> kSpnegoOid = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x02};
constexpr std::array<std::uint8_t, 9> kKerberosOid = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x12, 0x01, 0x02, 0x02};
// The number older Windows systems put in place of the one above.
constexpr std::array<std::uint8_t, 9> kMsKerberosOid = {0x2a, 0x86, 0x48, 0x82, 0xf7, 0x12, 0x01, 0x02, 0x02};

// A SPNEGO token carries at most one inner token, and an inner token is
// never SPNEGO again; anything deeper is not a token we describe.
constexpr int kMaxDepth = 2;

std::uint32_t le32(Bytes in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
}

template <std::size_t N>
bool equals(Bytes bytes, const std::array<std::uint8_t, N>& expected) {
    return bytes.size() == N && std::equal(expected.begin(), expected.end(), bytes.begin());
}

// One DER element: its tag, its contents, and where the next one starts.
struct Element {
    std::uint8_t tag = 0;
    Bytes contents;
    std::size_t end = 0;
};

// Single-byte tags and definite lengths of up to four bytes, all inside
// `in`; anything else is not read.
std::optional<Element> readElement(Bytes in, std::size_t pos) {
    if (pos + 2 > in.size()) return std::nullopt;
    Element e;
    e.tag = in[pos];
    std::size_t length = in[pos + 1];
    pos += 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7f;
        if (count == 0 || count > 4 || count > in.size() - pos) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = length << 8 | in[pos + i];
        pos += count;
    }
    if (length > in.size() - pos) return std::nullopt;
    e.contents = in.subspan(pos, length);
    e.end = pos + length;
    return e;
}

// The element with context tag [n] among the elements of `sequence`.
std::optional<Element> contextField(Bytes sequence, std::uint8_t n) {
    std::size_t pos = 0;
    while (pos < sequence.size()) {
        const auto e = readElement(sequence, pos);
        if (!e) return std::nullopt;
        if (e->tag == (0xa0 | n)) return e;
        pos = e->end;
    }
    return std::nullopt;
}

// The OCTET STRING inside a SPNEGO field [n] of the sequence wrapped by
// `choice`: the mechanism token of an initial token ([2]) or the response
// token of an answer ([2] too).
std::optional<Bytes> innerToken(const Element& choice) {
    const auto sequence = readElement(choice.contents, 0);
    if (!sequence || sequence->tag != 0x30) return std::nullopt;
    const auto field = contextField(sequence->contents, 2);
    if (!field) return std::nullopt;
    const auto octets = readElement(field->contents, 0);
    if (!octets || octets->tag != 0x04) return std::nullopt;
    return octets->contents;
}

void appendf(std::string& out, const char* format, unsigned long value) {
    char line[64];
    std::snprintf(line, sizeof line, format, value);
    out += line;
}

void describeNtlm(Bytes token, std::string& out) {
    out += "Found NTLM token:\r\n";
    appendf(out, "\tLength: %lu\r\n", token.size());
    out += "\tNTLMSSP Signature: ";
    out.append(reinterpret_cast<const char*>(token.data()), kNtlmSignature.size() - 1);
    out += "\r\n";
    if (token.size() < 12) return;
    const std::uint32_t type = le32(token, 8);
    // Where each message keeps its flags.
    std::size_t flagsAt = 0;
    const char* name = "unknown";
    switch (type) {
        case 1: name = "Negotiate", flagsAt = 12; break;
        case 2: name = "Challenge", flagsAt = 20; break;
        case 3: name = "Authenticate", flagsAt = 60; break;
        default: break;
    }
    out += "\tMessage Type: ";
    appendf(out, "%lu (", type);
    out += name;
    out += ")\r\n";
    if (flagsAt && flagsAt + 4 <= token.size()) appendf(out, "\tFlags: 0x%lx\r\n", le32(token, flagsAt));
}

void describe(Bytes token, std::string& out, int depth);

void describeSpnegoChoice(const Element& choice, std::string& out, int depth) {
    out += kSpnegoTokenText;
    out += "\r\n";
    if (const auto inner = innerToken(choice); inner && depth < kMaxDepth) describe(*inner, out, depth + 1);
}

void describeGss(Bytes token, std::string& out, int depth) {
    out += kGssTokenText;
    const auto framed = readElement(token, 0);
    const auto oid = framed ? readElement(framed->contents, 0) : std::nullopt;
    if (!oid || oid->tag != 0x06) {
        out += kTokenUnknownText;
        return;
    }
    const Bytes rest = framed->contents.subspan(oid->end);
    if (equals(oid->contents, kSpnegoOid)) {
        const auto choice = readElement(rest, 0);
        if (choice && choice->tag == 0xa0) {
            describeSpnegoChoice(*choice, out, depth);
            return;
        }
    } else if ((equals(oid->contents, kKerberosOid) || equals(oid->contents, kMsKerberosOid)) && rest.size() >= 2 &&
               rest[0] == 0x01 && rest[1] == 0x00) {
        out += kKerberosApReqText;
        appendf(out, "\tLength: %lu\r\n", token.size());
        return;
    }
    out += kTokenUnknownText;
}

void describe(Bytes token, std::string& out, int depth) {
    if (token.empty()) {
        out += kTokenEmptyText;
    } else if (token.size() >= kNtlmSignature.size() &&
               std::equal(kNtlmSignature.begin(), kNtlmSignature.end(), token.begin())) {
        describeNtlm(token, out);
    } else if (token[0] == 0x60) {
        describeGss(token, out, depth);
    } else if (token[0] == 0xa1) {
        // A SPNEGO answer travels without the GSS-API framing.
        out += kGssTokenText;
        const auto choice = readElement(token, 0);
        if (choice) {
            describeSpnegoChoice(*choice, out, depth);
        } else {
            out += kTokenUnknownText;
        }
    } else {
        out += kTokenUnknownText;
    }
}

std::string tokenLine(std::string_view prefix, std::span<const std::uint8_t> token) {
    std::string out(prefix);
    out += websocket::base64Encode(token);
    out += "\r\n";
    return out;
}

}  // namespace

std::string tokenParametersText(std::string_view protocol, std::string_view user, std::string_view domain,
                                std::size_t passwordLength, std::string_view server, bool serverSide) {
    std::string out = "Getting authentication token.\r\nParameters:\r\n\tprotocol=\"";
    out += protocol;
    out += "\", user=\"";
    out += user;
    out += "\", domain=\"";
    out += domain;
    out += "\", password(len)=\"";
    out += std::to_string(passwordLength);
    out += "\", server=\"";
    out += server;
    out += "\", server side=\"";
    out += serverSide ? "True" : "False";
    out += "\"\r\n";
    return out;
}

std::string inputTokenText(std::span<const std::uint8_t> token) { return tokenLine(kInputTokenText, token); }

std::string generatedTokenText(std::span<const std::uint8_t> token) { return tokenLine(kGeneratedTokenText, token); }

std::string describeAuthToken(std::span<const std::uint8_t> token) {
    std::string out;
    describe(token, out, 0);
    return out;
}

}  // namespace morvane::auth
