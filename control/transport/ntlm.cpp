#include "control/transport/ntlm.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "platform/text/code_page.h"

namespace morvane::auth {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr std::uint32_t kNegotiateType = 1;
constexpr std::uint32_t kChallengeType = 2;
constexpr std::uint32_t kAuthenticateType = 3;

// Fixed parts of the messages, before their payloads. The negotiate and
// authenticate headers end with a version field that stays zero, as this
// client sends no version; readers such as gss-ntlmssp expect the room for
// it all the same.
constexpr std::size_t kNegotiateSize = 40;
constexpr std::size_t kChallengeHeader = 32;  // up to and with the server challenge
constexpr std::size_t kChallengeWithTargetInfo = 48;
constexpr std::size_t kAuthenticateHeader = 72;

// 1601-01-01 to 1970-01-01 in 100-nanosecond ticks.
constexpr std::uint64_t kFileTimeOfUnixEpoch = 116444736000000000ull;

std::uint16_t le16(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8);
}

std::uint32_t le32(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
}

void putLe16(NtlmBytes& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(NtlmBytes& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void appendLe16(NtlmBytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void appendLe32(NtlmBytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendLe64(NtlmBytes& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void append(NtlmBytes& out, std::span<const std::uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

NtlmBytes utf16le(std::u16string_view text) {
    NtlmBytes out;
    out.reserve(2 * text.size());
    for (const char16_t unit : text) appendLe16(out, unit);
    return out;
}

std::optional<NtlmHash> hmacMd5(std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
    NtlmHash out{};
    unsigned int length = 0;
    if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), out.data(), &length) ==
            nullptr ||
        length != out.size()) {
        return std::nullopt;
    }
    return out;
}

// --- MD4 (RFC 1320) ---
// OpenSSL 3 offers MD4 only through its legacy provider, which a system may
// not ship or may forbid, and loading it changes what every other caller in
// the process can fetch. Eighty lines of our own are the steadier choice.

std::uint32_t rotl(std::uint32_t x, int s) { return x << s | x >> (32 - s); }

void md4Block(std::array<std::uint32_t, 4>& state, const std::uint8_t* block) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = le32(std::span<const std::uint8_t>(block, 64), 4 * static_cast<std::size_t>(i));
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    const auto f = [](std::uint32_t u, std::uint32_t v, std::uint32_t w) { return (u & v) | (~u & w); };
    const auto g = [](std::uint32_t u, std::uint32_t v, std::uint32_t w) { return (u & v) | (u & w) | (v & w); };
    const auto h = [](std::uint32_t u, std::uint32_t v, std::uint32_t w) { return u ^ v ^ w; };

    // Each round walks the words in its own order with its own four shifts;
    // the registers take turns as the one being updated.
    static constexpr int kOrder2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    static constexpr int kShift1[4] = {3, 7, 11, 19};
    static constexpr int kShift2[4] = {3, 5, 9, 13};
    static constexpr int kShift3[4] = {3, 9, 11, 15};

    std::uint32_t* regs[4] = {&a, &d, &c, &b};
    for (int i = 0; i < 16; ++i) {
        std::uint32_t& r = *regs[i % 4];
        std::uint32_t& p = *regs[(i + 3) % 4];
        std::uint32_t& q = *regs[(i + 2) % 4];
        std::uint32_t& s = *regs[(i + 1) % 4];
        r = rotl(r + f(p, q, s) + x[i], kShift1[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        std::uint32_t& r = *regs[i % 4];
        std::uint32_t& p = *regs[(i + 3) % 4];
        std::uint32_t& q = *regs[(i + 2) % 4];
        std::uint32_t& s = *regs[(i + 1) % 4];
        r = rotl(r + g(p, q, s) + x[kOrder2[i]] + 0x5A827999u, kShift2[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        std::uint32_t& r = *regs[i % 4];
        std::uint32_t& p = *regs[(i + 3) % 4];
        std::uint32_t& q = *regs[(i + 2) % 4];
        std::uint32_t& s = *regs[(i + 1) % 4];
        r = rotl(r + h(p, q, s) + x[kOrder3[i]] + 0x6ED9EBA1u, kShift3[i % 4]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// --- Laying out messages ---

// A payload field: its 8-byte descriptor at `descriptor` in the header
// (length, the same again as the maximum, offset) and its bytes appended.
bool addField(NtlmBytes& message, std::size_t descriptor, std::span<const std::uint8_t> bytes) {
    if (bytes.size() > 0xFFFF || message.size() > 0xFFFFFFFFu) return false;
    const auto length = static_cast<std::uint16_t>(bytes.size());
    putLe16(message, descriptor, length);
    putLe16(message, descriptor + 2, length);
    putLe32(message, descriptor + 4, static_cast<std::uint32_t>(message.size()));
    append(message, bytes);
    return true;
}

NtlmBytes header(std::uint32_t type, std::size_t size) {
    NtlmBytes out(size, 0);
    std::memcpy(out.data(), kSignature.data(), kSignature.size());
    putLe32(out, 8, type);
    return out;
}

std::optional<NtlmBytes> fieldText(std::u16string_view text, bool unicode) {
    if (unicode) return utf16le(text);
    auto narrow = codepage::wideToMultiByte(codepage::CP_OEMCP, text);
    if (!narrow.ok()) return std::nullopt;
    return NtlmBytes(narrow.text.begin(), narrow.text.end());
}

std::uint64_t fileTimeNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    return kFileTimeOfUnixEpoch + static_cast<std::uint64_t>(ticks);
}

// The answer to a checked challenge; allocation failures surface as
// std::bad_alloc and are turned into their text by the caller.
NtlmMessageResult buildAuthenticate(const NtlmChallenge& challenge, const NtlmCredentials& credentials,
                                    const NtlmAuthenticateOptions& options) {
    NtlmMessageResult result;
    const auto fail = [&result](std::string_view text) {
        result.message.clear();
        result.error = text;
        return result;
    };

    const auto key = ntowfV2(credentials.password, credentials.user, credentials.domain);
    if (!key) return fail(kNtlmHmacText);

    std::array<std::uint8_t, 8> clientChallenge{};
    if (options.clientChallenge) {
        clientChallenge = *options.clientChallenge;
    } else {
        websocket::RandomSource& random = options.random ? *options.random : websocket::systemRandom();
        // The client nonce is what makes the blob this client's own.
        if (!random.fill(clientChallenge)) return fail(kNtlmBlobText);
    }
    const std::uint64_t timestamp = options.timestamp     ? *options.timestamp
                                    : challenge.timestamp ? *challenge.timestamp
                                                          : fileTimeNow();

    // The target list the response is bound to: the server's entries, then
    // the channel binding (replacing any the server put there itself), then
    // the end marker.
    NtlmBytes targetInfo;
    std::optional<NtlmHash> bindingHash;
    if (options.channelBindingData) {
        bindingHash = ntlmChannelBindingHash(*options.channelBindingData);
        if (!bindingHash) return fail(kNtlmChannelBindingText);
    }
    if (challenge.targetInfo) {
        const std::span<const std::uint8_t> entries(*challenge.targetInfo);
        std::size_t pos = 0;
        // The parser left only whole entries here.
        while (pos + 4 <= entries.size()) {
            const std::uint16_t id = le16(entries, pos);
            const std::size_t size = 4 + std::size_t{le16(entries, pos + 2)};
            if (pos + size > entries.size()) break;
            if (!(bindingHash && id == ntlmav::kChannelBindings)) append(targetInfo, entries.subspan(pos, size));
            pos += size;
        }
    }
    if (bindingHash) {
        appendLe16(targetInfo, ntlmav::kChannelBindings);
        appendLe16(targetInfo, static_cast<std::uint16_t>(bindingHash->size()));
        append(targetInfo, *bindingHash);
    }
    appendLe32(targetInfo, ntlmav::kEol);

    // The client blob ("temp"): version 1 of the response, the time, the
    // client nonce and the target list.
    NtlmBytes blob = {1, 1, 0, 0, 0, 0, 0, 0};
    appendLe64(blob, timestamp);
    append(blob, clientChallenge);
    appendLe32(blob, 0);
    append(blob, targetInfo);
    appendLe32(blob, 0);
    // The NT response's length is a 16-bit field; a server can send target
    // information large enough that the blob no longer fits.
    if (16 + blob.size() > 0xFFFF) return fail(kNtlmBlobText);

    NtlmBytes proofInput(challenge.serverChallenge.begin(), challenge.serverChallenge.end());
    append(proofInput, blob);
    const auto proof = hmacMd5(*key, proofInput);
    if (!proof) return fail(kNtlmNtResponseText);
    NtlmBytes ntResponse(proof->begin(), proof->end());
    append(ntResponse, blob);

    NtlmBytes lmResponse(24, 0);
    if (!challenge.timestamp) {
        NtlmBytes lmInput(challenge.serverChallenge.begin(), challenge.serverChallenge.end());
        append(lmInput, clientChallenge);
        const auto lm = hmacMd5(*key, lmInput);
        if (!lm) return fail(kNtlmLmResponseText);
        std::memcpy(lmResponse.data(), lm->data(), lm->size());
        std::memcpy(lmResponse.data() + lm->size(), clientChallenge.data(), clientChallenge.size());
    }

    const auto domain = fieldText(credentials.domain, challenge.unicode);
    const auto user = fieldText(credentials.user, challenge.unicode);
    const auto workstation = fieldText(credentials.workstation, challenge.unicode);
    if (!domain || !user || !workstation) return fail(kNtlmBlobText);

    // What both sides now hold to: the character set the server chose, and
    // of the rest only what the server agreed to.
    constexpr std::uint32_t kKept = ntlmflag::kExtendedSessionSecurity | ntlmflag::kTargetInfo | ntlmflag::k128 |
                                    ntlmflag::k56 | ntlmflag::kAlwaysSign;
    const std::uint32_t flags = (challenge.unicode ? ntlmflag::kUnicode : ntlmflag::kOem) | ntlmflag::kRequestTarget |
                                ntlmflag::kNtlm | (challenge.flags & kKept);

    NtlmBytes& message = result.message;
    message = header(kAuthenticateType, kAuthenticateHeader);
    putLe32(message, 60, flags);
    // The order Windows clients use; the session key field stays empty, as
    // no key is exchanged.
    if (!addField(message, 28, *domain) || !addField(message, 36, *user) || !addField(message, 44, *workstation) ||
        !addField(message, 12, lmResponse) || !addField(message, 20, ntResponse) || !addField(message, 52, {})) {
        return fail(kNtlmBlobText);
    }
    return result;
}

bool isUpperableLatinExtendedA(char16_t unit) {
    // Pairs of capital (even) and small (odd) letters, except where the
    // block's two runs of reversed pairs and its lone letters sit.
    return (unit >= 0x0100 && unit <= 0x0137) || (unit >= 0x014A && unit <= 0x0177);
}

}  // namespace

NtlmBytes ntlmNegotiateMessage() {
    NtlmBytes message = header(kNegotiateType, kNegotiateSize);
    putLe32(message, 12, kNtlmNegotiateFlags);
    // Empty domain and workstation fields that point at the end of the
    // message, so that a reader following them stays inside it.
    putLe32(message, 20, static_cast<std::uint32_t>(kNegotiateSize));
    putLe32(message, 28, static_cast<std::uint32_t>(kNegotiateSize));
    return message;
}

NtlmChallengeResult parseNtlmChallenge(std::span<const std::uint8_t> message) {
    NtlmChallengeResult result;
    const auto fail = [&result](std::string_view text) {
        result.error = text;
        return result;
    };
    if (message.size() < kSignature.size() || !std::equal(kSignature.begin(), kSignature.end(), message.begin())) {
        return fail(kNtlmInvalidSignatureText);
    }
    if (message.size() < 12 || le32(message, 8) != kChallengeType) return fail(kNtlmInvalidMessageTypeText);
    if (message.size() < kChallengeHeader) return fail(kNtlmMalformedText);

    NtlmChallenge challenge;
    challenge.flags = le32(message, 20);
    if (challenge.flags & ntlmflag::kUnicode) {
        challenge.unicode = true;
    } else if (challenge.flags & ntlmflag::kOem) {
        challenge.unicode = false;
    } else {
        return fail(kNtlmNoCharsetText);
    }
    if (!(challenge.flags & (ntlmflag::kNtlm | ntlmflag::kExtendedSessionSecurity))) return fail(kNtlmNoVersionText);
    std::memcpy(challenge.serverChallenge.data(), message.data() + 24, challenge.serverChallenge.size());

    // A field's bytes must lie wholly inside the message; an empty field
    // may point anywhere, as some servers leave its offset at zero.
    const auto field = [&message](std::size_t descriptor) -> std::optional<std::span<const std::uint8_t>> {
        const std::size_t length = le16(message, descriptor);
        const std::size_t offset = le32(message, descriptor + 4);
        if (length == 0) return std::span<const std::uint8_t>{};
        if (offset > message.size() || length > message.size() - offset) return std::nullopt;
        return message.subspan(offset, length);
    };
    if (!field(12)) return fail(kNtlmMalformedText);

    if (challenge.flags & ntlmflag::kTargetInfo) {
        if (message.size() < kChallengeWithTargetInfo) return fail(kNtlmMalformedText);
        const auto info = field(40);
        if (!info) return fail(kNtlmMalformedText);
        // Whole entries up to the end marker; a list that simply stops
        // without one is taken as ended there.
        std::size_t pos = 0;
        while (pos + 4 <= info->size()) {
            const std::uint16_t id = le16(*info, pos);
            const std::size_t length = le16(*info, pos + 2);
            if (id == ntlmav::kEol) break;
            if (length > info->size() - pos - 4) return fail(kNtlmMalformedText);
            if (id == ntlmav::kTimestamp && length == 8) {
                std::uint64_t ticks = 0;
                for (int i = 7; i >= 0; --i) ticks = ticks << 8 | (*info)[pos + 4 + static_cast<std::size_t>(i)];
                challenge.timestamp = ticks;
            }
            pos += 4 + length;
        }
        challenge.targetInfo = NtlmBytes(info->begin(), info->begin() + static_cast<std::ptrdiff_t>(pos));
    }
    result.challenge = std::move(challenge);
    return result;
}

NtlmMessageResult ntlmAuthenticateMessage(const NtlmChallenge& challenge, const NtlmCredentials& credentials,
                                          const NtlmAuthenticateOptions& options) {
    try {
        return buildAuthenticate(challenge, credentials, options);
    } catch (const std::bad_alloc&) {
        NtlmMessageResult result;
        result.error = kNtlmOutOfMemoryText;
        return result;
    }
}

NtlmHash md4(std::span<const std::uint8_t> data) {
    std::array<std::uint32_t, 4> state = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    std::size_t pos = 0;
    for (; pos + 64 <= data.size(); pos += 64) md4Block(state, data.data() + pos);

    // The tail, a one bit, zeros up to 56 bytes of a block, and the length
    // in bits: one block or two.
    std::uint8_t tail[128] = {};
    const std::size_t rest = data.size() - pos;
    if (rest) std::memcpy(tail, data.data() + pos, rest);
    tail[rest] = 0x80;
    const std::size_t blocks = rest < 56 ? 1 : 2;
    const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
    for (int i = 0; i < 8; ++i)
        tail[blocks * 64 - 8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    for (std::size_t b = 0; b < blocks; ++b) md4Block(state, tail + 64 * b);

    NtlmHash out{};
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t k = 0; k < 4; ++k) out[4 * i + k] = static_cast<std::uint8_t>(state[i] >> (8 * k));
    }
    return out;
}

std::u16string ntlmUpperCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& unit : out) {
        if (unit == 0x0131) {
            unit = u'I';  // dotless i
        } else if (unit == 0x03C2) {
            unit = 0x03A3;  // final sigma
        } else if ((unit >= u'a' && unit <= u'z') || (unit >= 0x00E0 && unit <= 0x00FE && unit != 0x00F7)) {
            unit = static_cast<char16_t>(unit - 0x20);
        } else if (unit == 0x00FF) {
            unit = 0x0178;
        } else if (isUpperableLatinExtendedA(unit) && (unit & 1)) {
            unit = static_cast<char16_t>(unit - 1);
        } else if ((unit >= 0x0139 && unit <= 0x0148) || (unit >= 0x0179 && unit <= 0x017E)) {
            // The reversed runs: capital odd, small even.
            if (!(unit & 1)) unit = static_cast<char16_t>(unit - 1);
        } else if (unit >= 0x03B1 && unit <= 0x03C9) {
            unit = static_cast<char16_t>(unit - 0x20);
        } else if (unit >= 0x0430 && unit <= 0x044F) {
            unit = static_cast<char16_t>(unit - 0x20);
        } else if (unit >= 0x0450 && unit <= 0x045F) {
            unit = static_cast<char16_t>(unit - 0x50);
        }
    }
    return out;
}

std::optional<NtlmHash> ntowfV2(std::u16string_view password, std::u16string_view user, std::u16string_view domain) {
    const NtlmHash ntHash = md4(utf16le(password));
    NtlmBytes identity = utf16le(ntlmUpperCase(user));
    append(identity, utf16le(domain));
    return hmacMd5(ntHash, identity);
}

std::optional<NtlmHash> ntlmChannelBindingHash(std::span<const std::uint8_t> data) {
    if (data.size() > 0xFFFFFFFFu) return std::nullopt;
    // Initiator and acceptor: address type 0 and an empty address each.
    NtlmBytes bindings(16, 0);
    appendLe32(bindings, static_cast<std::uint32_t>(data.size()));
    append(bindings, data);
    NtlmHash out{};
    unsigned int length = 0;
    if (EVP_Digest(bindings.data(), bindings.size(), out.data(), &length, EVP_md5(), nullptr) != 1 ||
        length != out.size()) {
        return std::nullopt;
    }
    return out;
}

}  // namespace morvane::auth
