#include "platform/security/key_formats.h"

#include <argon2.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <memory>

namespace platform::security {

namespace {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;
using BnPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, OpenSslFree<BN_CTX_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslFree<EVP_PKEY_CTX_free>>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, OpenSslFree<EVP_CIPHER_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslFree<EVP_CIPHER_CTX_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSslFree<OSSL_PARAM_BLD_free>>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, OpenSslFree<OSSL_PARAM_free>>;
using Pkcs8Ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, OpenSslFree<PKCS8_PRIV_KEY_INFO_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, OpenSslFree<X509_SIG_free>>;
using PbeParamPtr = std::unique_ptr<PBEPARAM, OpenSslFree<PBEPARAM_free>>;
using Pbe2ParamPtr = std::unique_ptr<PBE2PARAM, OpenSslFree<PBE2PARAM_free>>;
using Pbkdf2ParamPtr = std::unique_ptr<PBKDF2PARAM, OpenSslFree<PBKDF2PARAM_free>>;

// Limits on what outside bytes may ask of us. Numbers: an RSA modulus of
// 16384 bits (OpenSSL's own limit for RSA operations) with its sign byte;
// DSA moduli up to OpenSSL's 10000 bits, subgroups up to 512. Work factors: PBKDF2 iterations,
// and Argon2's memory, passes and lanes (PuTTY writes 8 MiB, a pass count
// tuned to 100 ms, and one lane). The caps keep a hostile file to a few
// seconds of work on the control's thread, well above what the tools write.
constexpr std::size_t kMaxNumberBytes = 16384 / 8 + 1;
constexpr int kMaxRsaBits = 16384;
constexpr int kMaxDsaBits = 10000;
constexpr int kMaxDsaSubgroupBits = 512;  // FIPS 186 stops at 256; keeps the key checks cheap
constexpr long kMaxPbeIterations = 1'000'000;
constexpr std::uint32_t kMaxArgon2MemoryKiB = 64 * 1024;
constexpr std::uint32_t kMaxArgon2Passes = 100;
constexpr std::uint32_t kMaxArgon2Lanes = 16;

KeyResult result(KeyStatus status) { return KeyResult{status, nullptr}; }
KeyResult found(EvpPkeyPtr key) {
    if (!key) return result(KeyStatus::Malformed);
    return KeyResult{KeyStatus::Found, std::move(key)};
}

// Keeps OpenSSL's error queue as the caller left it: whatever our attempts
// push onto it is dropped on the way out.
class ErrorMark {
public:
    ErrorMark() { ERR_set_mark(); }
    ~ErrorMark() { ERR_pop_to_mark(); }
    ErrorMark(const ErrorMark&) = delete;
    ErrorMark& operator=(const ErrorMark&) = delete;
};

// Bytes that held a secret (derived keys, decrypted key material) are wiped
// when they go. Sized once; never grown, so no stale copy is left behind.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::size_t size) : bytes_(size) {}
    ~SecretBytes() { wipe(); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    void resize(std::size_t size) {
        wipe();
        bytes_.assign(size, 0);
    }
    void truncate(std::size_t size) {
        if (size < bytes_.size()) {
            OPENSSL_cleanse(bytes_.data() + size, bytes_.size() - size);
            bytes_.resize(size);
        }
    }
    std::uint8_t* data() { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    ByteSpan span() const { return bytes_; }

private:
    void wipe() {
        if (!bytes_.empty()) OPENSSL_cleanse(bytes_.data(), bytes_.size());
    }
    Bytes bytes_;
};

// ---------------------------------------------------------------------------
// Text

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view trimEnd(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view asText(ByteSpan bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }
ByteSpan asBytes(std::string_view text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

// Lines ending in LF or CR LF (the CR is dropped), read from a position.
class LineReader {
public:
    explicit LineReader(std::string_view text, std::size_t from = 0) : text_(text), pos_(from) {}

    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end == text_.size() ? end : end + 1;
        return true;
    }
    std::size_t position() const { return pos_; }

private:
    std::string_view text_;
    std::size_t pos_;
};

// Base64 fed in pieces: blanks anywhere, "=" padding only at the end,
// unpadded endings accepted. Writes at most three bytes for four letters.
class Base64Decoder {
public:
    explicit Base64Decoder(Bytes& out) : out_(out) {}

    void put(char c) {
        if (bad_ || isBlank(c)) return;
        if (c == '=') {
            if (++padding_ > 2) bad_ = true;
            return;
        }
        int value = valueOf(c);
        if (value < 0 || padding_ > 0) {
            bad_ = true;
            return;
        }
        bits_ = (bits_ << 6) | static_cast<std::uint32_t>(value);
        if (++count_ == 4) {
            out_.push_back(static_cast<std::uint8_t>(bits_ >> 16));
            out_.push_back(static_cast<std::uint8_t>(bits_ >> 8));
            out_.push_back(static_cast<std::uint8_t>(bits_));
            bits_ = 0;
            count_ = 0;
        }
    }
    void feed(std::string_view text) {
        for (char c : text) put(c);
    }
    bool finish() {
        if (bad_ || count_ == 1) return false;
        if (padding_ > 0 && count_ + padding_ != 4) return false;
        if (count_ == 2) out_.push_back(static_cast<std::uint8_t>(bits_ >> 4));
        if (count_ == 3) {
            out_.push_back(static_cast<std::uint8_t>(bits_ >> 10));
            out_.push_back(static_cast<std::uint8_t>(bits_ >> 2));
        }
        count_ = 0;
        return true;
    }

private:
    static int valueOf(char c) {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    }

    Bytes& out_;
    std::uint32_t bits_ = 0;
    int count_ = 0;
    int padding_ = 0;
    bool bad_ = false;
};

std::optional<Bytes> decodeBase64(std::string_view text) {
    Bytes out;
    Base64Decoder decoder(out);
    decoder.feed(text);
    if (!decoder.finish()) return std::nullopt;
    return out;
}

bool isBase64Text(std::string_view text) {
    bool any = false;
    for (char c : text) {
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                      c == '/' || c == '=';
        if (!letter && !isBlank(c)) return false;
        any = any || letter;
    }
    return any;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Bytes> decodeHex(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = hexValue(text[i]);
        int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return out;
}

// A decimal number of at most nine digits.
std::optional<std::uint32_t> parseDecimal(std::string_view text) {
    text = trim(text);
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

// ---------------------------------------------------------------------------
// PEM armour

enum class Armour { Rfc7468, Rfc4716 };

struct Boundary {
    bool begin;
    Armour armour;
    std::string_view label;
};

std::optional<Boundary> parseBoundary(std::string_view line) {
    struct Form {
        std::string_view open;
        std::string_view close;
        bool begin;
        Armour armour;
    };
    static constexpr Form kForms[] = {
        {"-----BEGIN ", "-----", true, Armour::Rfc7468},
        {"-----END ", "-----", false, Armour::Rfc7468},
        {"---- BEGIN ", " ----", true, Armour::Rfc4716},
        {"---- END ", " ----", false, Armour::Rfc4716},
    };
    line = trim(line);
    if (line.size() < 9 || line[0] != '-') return std::nullopt;
    for (const Form& form : kForms) {
        if (line.size() >= form.open.size() + form.close.size() && line.starts_with(form.open) &&
            line.ends_with(form.close)) {
            auto label = line.substr(form.open.size(), line.size() - form.open.size() - form.close.size());
            return Boundary{form.begin, form.armour, trim(label)};
        }
    }
    return std::nullopt;
}

std::string unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return std::string(value);
}

// The lines between a BEGIN and its END: headers (RFC 1421 with folded
// continuation lines, or RFC 4716 with backslash continuation), then base64.
std::optional<PemBlock> readBlockBody(std::string_view inner, Armour armour, std::string_view label) {
    PemBlock block;
    block.label = std::string(label);
    Base64Decoder decoder(block.body);
    bool inHeaders = true;
    bool continued = false;  // RFC 4716: the last header line ended in a backslash
    LineReader lines(inner);
    std::string_view line;
    while (lines.next(line)) {
        if (inHeaders) {
            std::string_view text = trim(line);
            if (continued) {
                continued = text.ends_with('\\');
                if (continued) text.remove_suffix(1);
                block.headers.back().second += text;
                continue;
            }
            if (text.empty()) {
                if (!block.headers.empty()) inHeaders = false;
                continue;
            }
            if (armour == Armour::Rfc7468 && !block.headers.empty() && (line[0] == ' ' || line[0] == '\t')) {
                block.headers.back().second += ' ';
                block.headers.back().second += text;
                continue;
            }
            std::size_t colon = text.find(':');
            if (colon != std::string_view::npos) {
                std::string_view name = trim(text.substr(0, colon));
                std::string_view value = trim(text.substr(colon + 1));
                if (name.empty()) return std::nullopt;
                if (armour == Armour::Rfc4716 && value.ends_with('\\')) {
                    continued = true;
                    value.remove_suffix(1);
                }
                block.headers.emplace_back(std::string(name), std::string(value));
                continue;
            }
            inHeaders = false;
        }
        decoder.feed(line);
    }
    if (!decoder.finish()) return std::nullopt;
    if (armour == Armour::Rfc4716) {
        for (auto& header : block.headers) header.second = unquote(trim(header.second));
    }
    return block;
}

// Walks the text block by block. A BEGIN line followed by another BEGIN
// before any END is dropped, so one stray line costs nothing but itself.
class PemScanner {
public:
    explicit PemScanner(std::string_view text) : text_(text) {}

    // The next well-formed block, with this label when one is given.
    std::optional<PemBlock> next(std::optional<std::string_view> wanted = std::nullopt) {
        LineReader lines(text_, pos_);
        std::optional<Boundary> open;
        std::size_t bodyStart = 0;
        std::string_view line;
        for (std::size_t lineStart = lines.position(); lines.next(line); lineStart = lines.position()) {
            auto boundary = parseBoundary(line);
            if (!boundary) continue;
            if (boundary->begin) {
                open = boundary;
                bodyStart = lines.position();
                continue;
            }
            if (!open) continue;
            bool matches = boundary->armour == open->armour && boundary->label == open->label &&
                           (!wanted || open->label == *wanted);
            if (matches) {
                auto block = readBlockBody(text_.substr(bodyStart, lineStart - bodyStart), open->armour, open->label);
                if (block) {
                    pos_ = lines.position();
                    return block;
                }
            }
            open.reset();
        }
        pos_ = text_.size();
        return std::nullopt;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// ---------------------------------------------------------------------------
// Digests, ciphers

bool digest(const EVP_MD* md, std::initializer_list<ByteSpan> parts, std::uint8_t* out) {
    std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return false;
    for (ByteSpan part : parts) {
        if (EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1) return false;
    }
    return EVP_DigestFinal_ex(ctx.get(), out, nullptr) == 1;
}

// Decrypts `in` into `out`; false when the cipher refuses it (with padding
// on: bad padding, the sign of a wrong password).
bool decrypt(const EVP_CIPHER* cipher, const std::uint8_t* key, const std::uint8_t* iv, ByteSpan in, bool padding,
             SecretBytes& out) {
    if (in.size() > static_cast<std::size_t>(INT_MAX) - EVP_MAX_BLOCK_LENGTH) return false;
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, key, iv) != 1) return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    out.resize(in.size() + EVP_MAX_BLOCK_LENGTH);
    int written = 0;
    int last = 0;
    if (EVP_DecryptUpdate(ctx.get(), out.data(), &written, in.data(), static_cast<int>(in.size())) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
        return false;
    }
    out.truncate(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
    return true;
}

// ---------------------------------------------------------------------------
// Keys from their numbers, with OpenSSL 3's parameter builder

BnPtr toBn(ByteSpan bytes) {
    if (bytes.size() > kMaxNumberBytes) return nullptr;
    return BnPtr(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

EvpPkeyPtr fromData(const char* type, int selection, OSSL_PARAM_BLD* builder) {
    ParamPtr params(OSSL_PARAM_BLD_to_param(builder));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1) {
        return nullptr;
    }
    return EvpPkeyPtr(key);
}

bool pairwiseConsistent(EVP_PKEY* key) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return ctx && EVP_PKEY_pairwise_check(ctx.get()) == 1;
}

// RSA: public from n and e; private with d, and the CRT values computed
// from p and q when both are there (so that they agree with d whatever the
// file carried). The private half is checked cheaply: n = pq and ed = 1
// modulo p-1 and q-1 (OpenSSL's own check tests the primes, too slow for
// keys of any size from outside).
EvpPkeyPtr buildRsa(const BIGNUM* n, const BIGNUM* e, const BIGNUM* d, const BIGNUM* p, const BIGNUM* q) {
    if (!n || !e || BN_is_zero(n) || BN_num_bits(n) > kMaxRsaBits || !BN_is_odd(e) || BN_is_one(e) ||
        BN_cmp(e, n) >= 0) {
        return nullptr;
    }
    ParamBldPtr builder(OSSL_PARAM_BLD_new());
    if (!builder || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n) ||
        !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e)) {
        return nullptr;
    }
    BnPtr dmp1, dmq1, iqmp;
    if (d) {
        if (BN_is_zero(d) || BN_cmp(d, n) >= 0 || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_D, d)) {
            return nullptr;
        }
        if (p && q) {
            BnCtxPtr ctx(BN_CTX_new());
            BnPtr product(BN_new()), p1(BN_dup(p)), q1(BN_dup(q)), check(BN_new());
            dmp1.reset(BN_new());
            dmq1.reset(BN_new());
            if (!ctx || !product || !p1 || !q1 || !check || !dmp1 || !dmq1) return nullptr;
            if (!BN_mul(product.get(), p, q, ctx.get()) || BN_cmp(product.get(), n) != 0) return nullptr;
            if (!BN_sub_word(p1.get(), 1) || !BN_sub_word(q1.get(), 1) || BN_is_zero(p1.get()) ||
                BN_is_zero(q1.get())) {
                return nullptr;
            }
            if (!BN_mod_mul(check.get(), e, d, p1.get(), ctx.get()) || !BN_is_one(check.get()) ||
                !BN_mod_mul(check.get(), e, d, q1.get(), ctx.get()) || !BN_is_one(check.get())) {
                return nullptr;
            }
            if (!BN_mod(dmp1.get(), d, p1.get(), ctx.get()) || !BN_mod(dmq1.get(), d, q1.get(), ctx.get())) {
                return nullptr;
            }
            iqmp.reset(BN_mod_inverse(nullptr, q, p, ctx.get()));
            if (!iqmp || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, p) ||
                !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, q) ||
                !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, dmp1.get()) ||
                !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, dmq1.get()) ||
                !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, iqmp.get())) {
                return nullptr;
            }
        }
    }
    return fromData("RSA", d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, builder.get());
}

EvpPkeyPtr buildDsa(const BIGNUM* p, const BIGNUM* q, const BIGNUM* g, const BIGNUM* y, const BIGNUM* x) {
    if (!p || !q || !g || !y || BN_num_bits(p) > kMaxDsaBits || BN_num_bits(q) > kMaxDsaSubgroupBits || BN_is_zero(q) ||
        BN_is_zero(y)) {
        return nullptr;
    }
    ParamBldPtr builder(OSSL_PARAM_BLD_new());
    if (!builder || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_FFC_P, p) ||
        !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_FFC_Q, q) ||
        !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_FFC_G, g) ||
        !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, y) ||
        (x && !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, x))) {
        return nullptr;
    }
    EvpPkeyPtr key = fromData("DSA", x ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, builder.get());
    if (key && x && !pairwiseConsistent(key.get())) return nullptr;
    return key;
}

// The SSH curve names ("nistp256") as OpenSSL's groups.
const char* groupOfSshCurve(std::string_view curve) {
    if (curve == "nistp256") return "P-256";
    if (curve == "nistp384") return "P-384";
    if (curve == "nistp521") return "P-521";
    return nullptr;
}

EvpPkeyPtr buildEc(const char* group, ByteSpan point, const BIGNUM* privateValue) {
    if (!group || point.empty() || (privateValue && BN_num_bits(privateValue) > 521)) return nullptr;
    ParamBldPtr builder(OSSL_PARAM_BLD_new());
    if (!builder || !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, 0) ||
        !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) ||
        (privateValue && !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, privateValue))) {
        return nullptr;
    }
    EvpPkeyPtr key = fromData("EC", privateValue ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, builder.get());
    if (key && privateValue && !pairwiseConsistent(key.get())) return nullptr;
    return key;
}

// Ed25519 and Ed448 from their raw keys; a private key must give the public
// one it came with.
EvpPkeyPtr buildEdwards(int type, std::size_t size, ByteSpan publicKey, std::optional<ByteSpan> privateKey) {
    if (publicKey.size() != size) return nullptr;
    if (!privateKey) return EvpPkeyPtr(EVP_PKEY_new_raw_public_key(type, nullptr, publicKey.data(), size));
    // OpenSSH keeps the private key followed by the public key; PuTTY the private key alone.
    ByteSpan secret = *privateKey;
    if (secret.size() == 2 * size && std::equal(publicKey.begin(), publicKey.end(), secret.begin() + size)) {
        secret = secret.first(size);
    }
    if (secret.size() != size) return nullptr;
    EvpPkeyPtr key(EVP_PKEY_new_raw_private_key(type, nullptr, secret.data(), size));
    std::uint8_t derived[64];
    std::size_t derivedSize = sizeof derived;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), derived, &derivedSize) != 1 || derivedSize != size ||
        !std::equal(publicKey.begin(), publicKey.end(), derived)) {
        return nullptr;
    }
    return key;
}

// ---------------------------------------------------------------------------
// SSH wire encoding (RFC 4251 section 5)

class WireReader {
public:
    explicit WireReader(ByteSpan data) : data_(data) {}

    bool u32(std::uint32_t& value) {
        if (data_.size() - pos_ < 4) return false;
        value = static_cast<std::uint32_t>(data_[pos_]) << 24 | static_cast<std::uint32_t>(data_[pos_ + 1]) << 16 |
                static_cast<std::uint32_t>(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
        pos_ += 4;
        return true;
    }
    bool bytes(std::size_t count, ByteSpan& out) {
        if (data_.size() - pos_ < count) return false;
        out = data_.subspan(pos_, count);
        pos_ += count;
        return true;
    }
    bool string(ByteSpan& out) {
        std::uint32_t length = 0;
        return u32(length) && bytes(length, out);
    }
    bool text(std::string_view& out) {
        ByteSpan raw;
        if (!string(raw)) return false;
        out = asText(raw);
        return true;
    }
    // A non-negative mpint.
    BnPtr mpint() {
        ByteSpan raw;
        if (!string(raw) || (!raw.empty() && (raw[0] & 0x80) != 0)) return nullptr;
        return toBn(raw);
    }
    // ssh.com's form: a count of bits, then as many bytes as they fill.
    BnPtr bitCountedMpint() {
        std::uint32_t bits = 0;
        ByteSpan raw;
        if (!u32(bits) || !bytes((static_cast<std::size_t>(bits) + 7) / 8, raw)) return nullptr;
        return toBn(raw);
    }
    bool atEnd() const { return pos_ == data_.size(); }

private:
    ByteSpan data_;
    std::size_t pos_ = 0;
};

struct SshKeyType {
    std::string_view name;
    enum Kind { Rsa, Dsa, Ecdsa, Ed25519, Ed448 } kind;
};

constexpr SshKeyType kSshKeyTypes[] = {
    {"ssh-rsa", SshKeyType::Rsa},
    {"ssh-dss", SshKeyType::Dsa},
    {"ecdsa-sha2-nistp256", SshKeyType::Ecdsa},
    {"ecdsa-sha2-nistp384", SshKeyType::Ecdsa},
    {"ecdsa-sha2-nistp521", SshKeyType::Ecdsa},
    {"ssh-ed25519", SshKeyType::Ed25519},
    {"ssh-ed448", SshKeyType::Ed448},
};

const SshKeyType* sshKeyType(std::string_view name) {
    for (const auto& type : kSshKeyTypes) {
        if (type.name == name) return &type;
    }
    return nullptr;
}

// A public key blob (RFC 4253 section 6.6), and with `privateBlob` the
// private half in the order PuTTY writes it: RSA d, p, q, iqmp; DSA x;
// ECDSA the private value; EdDSA the private key.
KeyResult sshKey(ByteSpan publicBlob, WireReader* privateBlob) {
    WireReader in(publicBlob);
    std::string_view name;
    if (!in.text(name)) return result(KeyStatus::Malformed);
    const SshKeyType* type = sshKeyType(name);
    if (!type) return result(KeyStatus::Unsupported);
    switch (type->kind) {
        case SshKeyType::Rsa: {
            BnPtr e = in.mpint(), n = in.mpint();
            if (!e || !n || !in.atEnd()) return result(KeyStatus::Malformed);
            if (!privateBlob) return found(buildRsa(n.get(), e.get(), nullptr, nullptr, nullptr));
            BnPtr d = privateBlob->mpint(), p = privateBlob->mpint(), q = privateBlob->mpint(),
                  iqmp = privateBlob->mpint();
            if (!d || !p || !q || !iqmp) return result(KeyStatus::Malformed);
            return found(buildRsa(n.get(), e.get(), d.get(), p.get(), q.get()));
        }
        case SshKeyType::Dsa: {
            BnPtr p = in.mpint(), q = in.mpint(), g = in.mpint(), y = in.mpint();
            if (!p || !q || !g || !y || !in.atEnd()) return result(KeyStatus::Malformed);
            BnPtr x;
            if (privateBlob && !(x = privateBlob->mpint())) return result(KeyStatus::Malformed);
            return found(buildDsa(p.get(), q.get(), g.get(), y.get(), x.get()));
        }
        case SshKeyType::Ecdsa: {
            std::string_view curve;
            ByteSpan point;
            if (!in.text(curve) || !in.string(point) || !in.atEnd() || curve != name.substr(11)) {
                return result(KeyStatus::Malformed);
            }
            BnPtr value;
            if (privateBlob && !(value = privateBlob->mpint())) return result(KeyStatus::Malformed);
            return found(buildEc(groupOfSshCurve(curve), point, value.get()));
        }
        case SshKeyType::Ed25519:
        case SshKeyType::Ed448: {
            ByteSpan publicKey;
            if (!in.string(publicKey) || !in.atEnd()) return result(KeyStatus::Malformed);
            std::optional<ByteSpan> secret;
            if (privateBlob) {
                ByteSpan raw;
                if (!privateBlob->string(raw)) return result(KeyStatus::Malformed);
                secret = raw;
            }
            bool is25519 = type->kind == SshKeyType::Ed25519;
            return found(
                buildEdwards(is25519 ? EVP_PKEY_ED25519 : EVP_PKEY_ED448, is25519 ? 32 : 57, publicKey, secret));
        }
    }
    return result(KeyStatus::Unsupported);
}

// "ssh-rsa AAAA... comment", possibly after authorized_keys options: the
// first line with a known type name followed by base64.
std::optional<KeyResult> sshPublicKeyLine(std::string_view text) {
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view rest = trim(line);
        while (!rest.empty()) {
            std::size_t end = rest.find_first_of(" \t");
            std::string_view word = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : trim(rest.substr(end));
            if (!sshKeyType(word) || rest.empty()) continue;
            std::string_view encoded = rest.substr(0, rest.find_first_of(" \t"));
            auto blob = decodeBase64(encoded);
            if (!blob) return result(KeyStatus::Malformed);
            WireReader in(*blob);
            std::string_view inner;
            if (!in.text(inner) || inner != word) return result(KeyStatus::Malformed);
            return sshKey(*blob, nullptr);
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Traditional PEM (RFC 1421 encryption as OpenSSL writes it) and PKCS#8

KeyResult readTraditional(const PemBlock& block, int type, std::string_view password) {
    ByteSpan der = block.body;
    SecretBytes plain;
    std::string_view dekHeader = block.header("DEK-Info");
    bool encrypted = !dekHeader.empty();
    if (encrypted) {
        auto dek = parseDekInfo(dekHeader);
        if (!dek) return result(KeyStatus::Malformed);
        CipherPtr cipher(EVP_CIPHER_fetch(nullptr, dek->cipher.c_str(), nullptr));
        if (!cipher) return result(KeyStatus::Unsupported);
        unsigned long mode = EVP_CIPHER_get_mode(cipher.get());
        int ivLength = EVP_CIPHER_get_iv_length(cipher.get());
        if ((EVP_CIPHER_get_flags(cipher.get()) & EVP_CIPH_FLAG_AEAD_CIPHER) != 0 || mode == EVP_CIPH_WRAP_MODE ||
            mode == EVP_CIPH_XTS_MODE || ivLength < 8 || EVP_CIPHER_get_key_length(cipher.get()) <= 0) {
            return result(KeyStatus::Unsupported);
        }
        if (dek->iv.size() != static_cast<std::size_t>(ivLength)) return result(KeyStatus::Malformed);
        // OpenSSL's EVP_BytesToKey: MD5, one round, salted with the IV's
        // first eight bytes.
        SecretBytes key(EVP_MAX_KEY_LENGTH);
        if (EVP_BytesToKey(
                cipher.get(), EVP_md5(), dek->iv.data(), reinterpret_cast<const std::uint8_t*>(password.data()),
                static_cast<int>(std::min<std::size_t>(password.size(), INT_MAX)), 1, key.data(), nullptr) <= 0) {
            return result(KeyStatus::Unsupported);
        }
        if (!decrypt(cipher.get(), key.data(), dek->iv.data(), der, true, plain)) return result(KeyStatus::BadPassword);
        der = plain.span();
    }
    const std::uint8_t* at = der.data();
    EvpPkeyPtr key(d2i_PrivateKey(type, nullptr, &at, static_cast<long>(der.size())));
    if (!key || at != der.data() + der.size()) return result(encrypted ? KeyStatus::BadPassword : KeyStatus::Malformed);
    return found(std::move(key));
}

KeyResult readPkcs8(ByteSpan der) {
    const std::uint8_t* at = der.data();
    Pkcs8Ptr info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &at, static_cast<long>(der.size())));
    if (!info || at != der.data() + der.size()) return result(KeyStatus::Malformed);
    EvpPkeyPtr key(EVP_PKCS82PKEY(info.get()));
    if (!key) {
        const ASN1_OBJECT* algorithm = nullptr;
        PKCS8_pkey_get0(&algorithm, nullptr, nullptr, nullptr, info.get());
        return result(OBJ_obj2nid(algorithm) == NID_undef ? KeyStatus::Unsupported : KeyStatus::Malformed);
    }
    return found(std::move(key));
}

// The iteration count of a PBES1/PKCS#12 or PBES2-with-PBKDF2 algorithm,
// 0 when it names none (scrypt: OpenSSL bounds its memory itself).
long pbeIterations(const X509_ALGOR* algorithm) {
    const ASN1_INTEGER* iterations = nullptr;
    PbeParamPtr pbe;
    Pbe2ParamPtr pbe2;
    Pbkdf2ParamPtr pbkdf2;
    if (!algorithm->parameter) return 0;
    if (OBJ_obj2nid(algorithm->algorithm) == NID_pbes2) {
        pbe2.reset(static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter)));
        if (!pbe2 || !pbe2->keyfunc || OBJ_obj2nid(pbe2->keyfunc->algorithm) != NID_id_pbkdf2 ||
            !pbe2->keyfunc->parameter) {
            return 0;
        }
        pbkdf2.reset(static_cast<PBKDF2PARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter)));
        if (pbkdf2) iterations = pbkdf2->iter;
    } else {
        pbe.reset(static_cast<PBEPARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter)));
        if (pbe) iterations = pbe->iter;
    }
    if (!iterations) return 0;
    long count = ASN1_INTEGER_get(iterations);
    return count < 0 ? LONG_MAX : count;  // -1: beyond a long
}

KeyResult readEncryptedPkcs8(ByteSpan der, std::string_view password) {
    const std::uint8_t* at = der.data();
    X509SigPtr sig(d2i_X509_SIG(nullptr, &at, static_cast<long>(der.size())));
    if (!sig || at != der.data() + der.size()) return result(KeyStatus::Malformed);
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_get0(sig.get(), &algorithm, &data);
    if (pbeIterations(algorithm) > kMaxPbeIterations || password.size() > INT_MAX) {
        return result(KeyStatus::Unsupported);
    }
    unsigned char* out = nullptr;
    int outLength = 0;
    if (!PKCS12_pbe_crypt(algorithm, password.empty() ? "" : password.data(), static_cast<int>(password.size()),
                          ASN1_STRING_get0_data(data), ASN1_STRING_length(data), &out, &outLength, 0)) {
        // Cipher set up, then a final block that does not unpad: the wrong
        // password. Anything earlier: a scheme OpenSSL does not do.
        unsigned long error = ERR_peek_last_error();
        bool badPadding =
            ERR_GET_LIB(error) == ERR_LIB_PKCS12 && ERR_GET_REASON(error) == PKCS12_R_PKCS12_CIPHERFINAL_ERROR;
        return result(badPadding ? KeyStatus::BadPassword : KeyStatus::Unsupported);
    }
    SecretBytes plain(static_cast<std::size_t>(outLength));
    std::copy_n(out, plain.size(), plain.data());
    OPENSSL_clear_free(out, static_cast<std::size_t>(outLength));
    KeyResult inner = readPkcs8(plain.span());
    if (inner.status == KeyStatus::Malformed) return result(KeyStatus::BadPassword);
    return inner;
}

// ---------------------------------------------------------------------------
// ssh.com's private key ("SSH2 ENCRYPTED PRIVATE KEY"): magic 0x3f6ff9eb,
// total length, key type, cipher, and the (encrypted) payload as a string
// holding a string with the numbers in bit-counted form. RSA: e, d, n, u,
// p, q. DSA: 0 (explicit parameters), p, g, q, y, x. 3des-cbc under a zero
// IV with the key MD5(pw) || MD5(pw || MD5(pw)).
KeyResult readSshCom(const PemBlock& block, std::string_view password) {
    WireReader in(block.body);
    std::uint32_t magic = 0;
    std::uint32_t total = 0;
    if (!in.u32(magic) || magic != 0x3f6ff9eb || !in.u32(total) || total < 8 || total > block.body.size()) {
        return result(KeyStatus::Malformed);
    }
    WireReader blob(ByteSpan(block.body).subspan(8, total - 8));
    std::string_view keyType;
    std::string_view cipher;
    ByteSpan payload;
    if (!blob.text(keyType) || !blob.text(cipher) || !blob.string(payload)) return result(KeyStatus::Malformed);
    bool rsa = keyType.starts_with("if-modn{sign{rsa");
    bool dsa = keyType.starts_with("dl-modp{sign{dsa");
    if (!rsa && !dsa) return result(KeyStatus::Unsupported);

    SecretBytes plain;
    bool encrypted = cipher != "none";
    if (encrypted) {
        if (cipher != "3des-cbc") return result(KeyStatus::Unsupported);
        if (payload.size() % 8 != 0) return result(KeyStatus::Malformed);
        SecretBytes key(32);
        ByteSpan pw = asBytes(password);
        if (!digest(EVP_md5(), {pw}, key.data()) || !digest(EVP_md5(), {pw, key.span().first(16)}, key.data() + 16)) {
            return result(KeyStatus::Unsupported);
        }
        const std::uint8_t zeroIv[8] = {};
        if (!decrypt(EVP_des_ede3_cbc(), key.data(), zeroIv, payload, false, plain)) {
            return result(KeyStatus::Unsupported);
        }
        payload = plain.span();
    }
    const KeyStatus failed = encrypted ? KeyStatus::BadPassword : KeyStatus::Malformed;
    WireReader outer(payload);
    ByteSpan numbers;
    if (!outer.string(numbers)) return result(failed);
    WireReader k(numbers);
    EvpPkeyPtr key;
    if (rsa) {
        BnPtr e = k.bitCountedMpint(), d = k.bitCountedMpint(), n = k.bitCountedMpint(), u = k.bitCountedMpint(),
              p = k.bitCountedMpint(), q = k.bitCountedMpint();
        if (!e || !d || !n || !u || !p || !q) return result(failed);
        key = buildRsa(n.get(), e.get(), d.get(), p.get(), q.get());
    } else {
        std::uint32_t predefined = 1;
        if (!k.u32(predefined)) return result(failed);
        if (predefined != 0) return result(encrypted ? KeyStatus::BadPassword : KeyStatus::Unsupported);
        BnPtr p = k.bitCountedMpint(), g = k.bitCountedMpint(), q = k.bitCountedMpint(), y = k.bitCountedMpint(),
              x = k.bitCountedMpint();
        if (!p || !g || !q || !y || !x) return result(failed);
        key = buildDsa(p.get(), q.get(), g.get(), y.get(), x.get());
    }
    if (!key) return result(failed);
    return found(std::move(key));
}

// ---------------------------------------------------------------------------
// PuTTY's PPK

void putString(Bytes& out, ByteSpan bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    out.insert(out.end(), {static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                           static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::size_t findAtLineStart(std::string_view text, std::string_view what) {
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) {
        if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r') return at;
    }
    return std::string_view::npos;
}

class PpkReader {
public:
    PpkReader(std::string_view text, std::size_t from) : lines_(text, from) {}

    // "Name: value", exactly as PuTTY writes it.
    bool field(std::string_view name, std::string_view& value) {
        std::string_view line;
        if (!lines_.next(line) || !line.starts_with(name) || line.substr(name.size()).substr(0, 2) != ": ") {
            return false;
        }
        value = line.substr(name.size() + 2);
        return true;
    }
    // "Name-Lines: N" and the N lines of base64 below it.
    bool base64Lines(std::string_view name, Bytes& out) {
        std::string_view value;
        if (!field(name, value)) return false;
        auto count = parseDecimal(value);
        if (!count) return false;
        Base64Decoder decoder(out);
        std::string_view line;
        for (std::uint32_t i = 0; i < *count; ++i) {
            if (!lines_.next(line)) return false;  // as many as the text holds, whatever the count says
            decoder.feed(line);
        }
        return decoder.finish();
    }

private:
    LineReader lines_;
};

struct Argon2Settings {
    argon2_type flavour = Argon2_id;
    std::uint32_t memory = 0;
    std::uint32_t passes = 0;
    std::uint32_t lanes = 0;
    Bytes salt;
};

KeyStatus readArgon2Settings(PpkReader& in, Argon2Settings& settings) {
    std::string_view flavour, memory, passes, lanes, salt;
    if (!in.field("Key-Derivation", flavour) || !in.field("Argon2-Memory", memory) ||
        !in.field("Argon2-Passes", passes) || !in.field("Argon2-Parallelism", lanes) ||
        !in.field("Argon2-Salt", salt)) {
        return KeyStatus::Malformed;
    }
    flavour = trim(flavour);
    if (flavour == "Argon2id") {
        settings.flavour = Argon2_id;
    } else if (flavour == "Argon2i") {
        settings.flavour = Argon2_i;
    } else if (flavour == "Argon2d") {
        settings.flavour = Argon2_d;
    } else {
        return KeyStatus::Unsupported;
    }
    auto memoryValue = parseDecimal(memory), passesValue = parseDecimal(passes), lanesValue = parseDecimal(lanes);
    auto saltValue = decodeHex(trim(salt));
    if (!memoryValue || !passesValue || !lanesValue || !saltValue) return KeyStatus::Malformed;
    if (*memoryValue > kMaxArgon2MemoryKiB || *passesValue > kMaxArgon2Passes || *lanesValue > kMaxArgon2Lanes) {
        return KeyStatus::Unsupported;
    }
    settings.memory = *memoryValue;
    settings.passes = *passesValue;
    settings.lanes = *lanesValue;
    settings.salt = std::move(*saltValue);
    return KeyStatus::Found;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public functions

std::string_view PemBlock::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsNoCase(key, name)) return value;
    }
    return {};
}

std::vector<PemBlock> readPemBlocks(std::string_view text) {
    std::vector<PemBlock> blocks;
    PemScanner scanner(text);
    while (auto block = scanner.next()) blocks.push_back(std::move(*block));
    return blocks;
}

std::optional<std::vector<std::uint8_t>> decodeBase64Text(std::string_view text) { return decodeBase64(text); }

std::optional<PemBlock> findPemBlock(std::string_view text, std::string_view label) {
    return PemScanner(text).next(label);
}

std::optional<DekInfo> parseDekInfo(std::string_view value) {
    std::size_t comma = value.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    std::string_view cipher = trim(value.substr(0, comma));
    auto iv = decodeHex(trim(value.substr(comma + 1)));
    if (cipher.empty() || !iv) return std::nullopt;
    return DekInfo{std::string(cipher), std::move(*iv)};
}

KeyResult findPrivateKey(std::string_view text, std::string_view password) {
    ErrorMark mark;
    if (auto block = findPemBlock(text, "RSA PRIVATE KEY")) return readTraditional(*block, EVP_PKEY_RSA, password);
    if (auto block = findPemBlock(text, "DSA PRIVATE KEY")) return readTraditional(*block, EVP_PKEY_DSA, password);
    if (auto block = findPemBlock(text, "EC PRIVATE KEY")) return readTraditional(*block, EVP_PKEY_EC, password);
    if (auto block = findPemBlock(text, "PRIVATE KEY")) return readPkcs8(block->body);
    if (auto block = findPemBlock(text, "ENCRYPTED PRIVATE KEY")) return readEncryptedPkcs8(block->body, password);
    if (auto block = findPemBlock(text, "SSH2 ENCRYPTED PRIVATE KEY")) return readSshCom(*block, password);
    if (findAtLineStart(text, "PuTTY-User-Key-File-") != std::string_view::npos) return readPpk(text, password);
    return result(KeyStatus::NotFound);
}

KeyResult readPublicKey(std::string_view text) {
    ErrorMark mark;
    PemScanner scanner(text);
    while (auto block = scanner.next()) {
        const std::string& label = block->label;
        const ByteSpan der = block->body;
        if (label == "SSH2 PUBLIC KEY") return sshKey(der, nullptr);
        int type = label == "PUBLIC KEY"       ? EVP_PKEY_NONE
                   : label == "RSA PUBLIC KEY" ? EVP_PKEY_RSA
                   : label == "DSA PUBLIC KEY" ? EVP_PKEY_DSA
                   : label == "EC PUBLIC KEY"  ? EVP_PKEY_EC
                                               : -1;
        if (type == -1) continue;
        // SubjectPublicKeyInfo under any of the labels; the type's own
        // structure (PKCS#1 RSAPublicKey, OpenSSL's DSAPublicKey) after it.
        const std::uint8_t* at = der.data();
        EvpPkeyPtr key(d2i_PUBKEY(nullptr, &at, static_cast<long>(der.size())));
        if (key && at == der.data() + der.size()) return found(std::move(key));
        if (type == EVP_PKEY_RSA || type == EVP_PKEY_DSA) {
            at = der.data();
            key.reset(d2i_PublicKey(type, nullptr, &at, static_cast<long>(der.size())));
            BIGNUM* p = nullptr;
            bool complete =
                type == EVP_PKEY_RSA || (key && EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_FFC_P, &p));
            BN_free(p);
            if (key && complete && at == der.data() + der.size()) return found(std::move(key));
        }
        return result(KeyStatus::Malformed);
    }
    if (auto line = sshPublicKeyLine(text)) return std::move(*line);
    return result(KeyStatus::NotFound);
}

KeyResult readSshPublicKey(std::span<const std::uint8_t> bytes) {
    ErrorMark mark;
    // The wire blob: a string naming a key type we know.
    WireReader probe(bytes);
    std::string_view name;
    if (probe.text(name) && sshKeyType(name)) return sshKey(bytes, nullptr);

    std::string_view text = asText(bytes);
    if (auto block = findPemBlock(text, "SSH2 PUBLIC KEY")) return sshKey(block->body, nullptr);
    if (auto line = sshPublicKeyLine(text)) return std::move(*line);
    // The blob in base64 with nothing around it.
    if (isBase64Text(text)) {
        auto blob = decodeBase64(text);
        WireReader head(blob ? ByteSpan(*blob) : ByteSpan());
        if (blob && head.text(name) && sshKeyType(name)) return sshKey(*blob, nullptr);
    }
    return result(KeyStatus::NotFound);
}

// PPK versions 2 and 3:
//   PuTTY-User-Key-File-<v>: <type>
//   Encryption: none | aes256-cbc
//   Comment: <text>
//   Public-Lines: N, N lines of base64
//   (v3, encrypted) Key-Derivation, Argon2-Memory, -Passes, -Parallelism, -Salt
//   Private-Lines: N, N lines of base64
//   Private-MAC: <hex>
// The MAC covers type, encryption, comment, public blob and the decrypted
// private blob, each as an SSH string. v2: AES key SHA-1(0,pw) || SHA-1(1,pw),
// zero IV, HMAC-SHA-1 keyed with SHA-1("putty-private-key-file-mac-key" pw).
// v3: Argon2 gives 80 bytes, AES key, IV and HMAC-SHA-256 key in that
// order; unencrypted files use an empty MAC key.
KeyResult readPpk(std::string_view text, std::string_view password) {
    ErrorMark mark;
    constexpr std::string_view kMagic = "PuTTY-User-Key-File-";
    std::size_t start = findAtLineStart(text, kMagic);
    if (start == std::string_view::npos) return result(KeyStatus::NotFound);
    LineReader firstLine(text, start);
    std::string_view line;
    firstLine.next(line);
    std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) return result(KeyStatus::Malformed);
    std::string_view version = line.substr(kMagic.size(), colon - kMagic.size());
    std::string_view algorithm = trimEnd(line.substr(colon + 2));
    if (version != "2" && version != "3") return result(KeyStatus::Unsupported);
    const bool v3 = version == "3";

    PpkReader in(text, firstLine.position());
    std::string_view encryption, comment;
    Bytes publicBlob;
    if (!in.field("Encryption", encryption) || !in.field("Comment", comment) ||
        !in.base64Lines("Public-Lines", publicBlob)) {
        return result(KeyStatus::Malformed);
    }
    encryption = trimEnd(encryption);
    const bool encrypted = encryption != "none";
    if (encrypted && encryption != "aes256-cbc") return result(KeyStatus::Unsupported);
    Argon2Settings argon2;
    if (v3 && encrypted) {
        KeyStatus status = readArgon2Settings(in, argon2);
        if (status != KeyStatus::Found) return result(status);
    }
    Bytes privateBlob;
    std::string_view macText;
    if (!in.base64Lines("Private-Lines", privateBlob) || !in.field("Private-MAC", macText)) {
        return result(KeyStatus::Malformed);
    }
    auto mac = decodeHex(trim(macText));
    if (!mac || mac->size() != (v3 ? 32u : 20u)) return result(KeyStatus::Malformed);

    // Keys.
    const ByteSpan pw = encrypted ? asBytes(password) : ByteSpan();
    SecretBytes cipherKey(32), iv(16), macKey(v3 ? (encrypted ? 32 : 0) : 20);
    if (v3 && encrypted) {
        SecretBytes derived(80);
        const void* passphrase = pw.empty() ? static_cast<const void*>("") : pw.data();
        if (argon2_hash(argon2.passes, argon2.memory, argon2.lanes, passphrase, pw.size(), argon2.salt.data(),
                        argon2.salt.size(), derived.data(), derived.size(), nullptr, 0, argon2.flavour,
                        ARGON2_VERSION_13) != ARGON2_OK) {
            return result(KeyStatus::Malformed);
        }
        std::copy_n(derived.data(), 32, cipherKey.data());
        std::copy_n(derived.data() + 32, 16, iv.data());
        std::copy_n(derived.data() + 48, 32, macKey.data());
    } else if (!v3) {
        SecretBytes hashed(40);
        const std::uint8_t zero[4] = {0, 0, 0, 0}, one[4] = {0, 0, 0, 1};
        constexpr std::string_view kMacKeyPrefix = "putty-private-key-file-mac-key";
        if (!digest(EVP_sha1(), {ByteSpan(zero), pw}, hashed.data()) ||
            !digest(EVP_sha1(), {ByteSpan(one), pw}, hashed.data() + 20) ||
            !digest(EVP_sha1(), {asBytes(kMacKeyPrefix), pw}, macKey.data())) {
            return result(KeyStatus::Unsupported);
        }
        std::copy_n(hashed.data(), 32, cipherKey.data());
    }

    SecretBytes plain;
    ByteSpan privatePart = privateBlob;
    if (encrypted) {
        if (privateBlob.empty() || privateBlob.size() % 16 != 0) return result(KeyStatus::Malformed);
        if (!decrypt(EVP_aes_256_cbc(), cipherKey.data(), iv.data(), privateBlob, false, plain)) {
            return result(KeyStatus::Malformed);
        }
        privatePart = plain.span();
    }

    Bytes macData;
    putString(macData, asBytes(algorithm));
    putString(macData, asBytes(encryption));
    putString(macData, asBytes(comment));
    putString(macData, publicBlob);
    putString(macData, privatePart);
    std::uint8_t computed[EVP_MAX_MD_SIZE];
    unsigned int computedSize = 0;
    static const std::uint8_t kNoKey = 0;
    const bool macOk =
        HMAC(v3 ? EVP_sha256() : EVP_sha1(), macKey.size() ? macKey.data() : &kNoKey, static_cast<int>(macKey.size()),
             macData.data(), macData.size(), computed, &computedSize) != nullptr &&
        computedSize == mac->size() && CRYPTO_memcmp(computed, mac->data(), computedSize) == 0;
    OPENSSL_cleanse(macData.data(), macData.size());
    if (!macOk) return result(encrypted ? KeyStatus::BadPassword : KeyStatus::Malformed);

    WireReader head(publicBlob);
    std::string_view blobType;
    if (!head.text(blobType) || blobType != algorithm) return result(KeyStatus::Malformed);
    WireReader privateFields(privatePart);
    return sshKey(publicBlob, &privateFields);
}

// ---------------------------------------------------------------------------
// XML keys

namespace {

struct XmlTag {
    enum Kind { Open, Close, Empty, Other } kind = Other;
    std::string_view name;  // local name, without a namespace prefix
    std::size_t begin = 0;  // the '<'
    std::size_t end = 0;    // just past the '>'
};

enum class XmlScan { Tag, End, Bad };

// The next markup at or after `pos` in `text`: comments, CDATA, processing
// instructions and declarations are skipped over as Other.
XmlScan nextTag(std::string_view text, std::size_t& pos, XmlTag& tag) {
    std::size_t begin = text.find('<', pos);
    if (begin == std::string_view::npos) {
        pos = text.size();
        return XmlScan::End;
    }
    std::string_view rest = text.substr(begin);
    tag = XmlTag{};
    tag.begin = begin;
    auto skipTo = [&](std::string_view terminator) {
        std::size_t at = text.find(terminator, begin + 2);
        if (at == std::string_view::npos) return XmlScan::Bad;
        tag.end = pos = at + terminator.size();
        return XmlScan::Tag;
    };
    if (rest.starts_with("<!--")) return skipTo("-->");
    if (rest.starts_with("<![CDATA[")) return skipTo("]]>");
    if (rest.starts_with("<?")) return skipTo("?>");
    if (rest.starts_with("<!")) return skipTo(">");
    bool closing = rest.starts_with("</");
    std::size_t nameStart = begin + (closing ? 2 : 1);
    std::size_t at = nameStart;
    while (at < text.size() && !isBlank(text[at]) && text[at] != '/' && text[at] != '>') ++at;
    std::string_view name = text.substr(nameStart, at - nameStart);
    if (name.empty() || name.find('<') != std::string_view::npos) return XmlScan::Bad;
    char quote = 0;
    for (; at < text.size(); ++at) {
        char c = text[at];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '<') {
            return XmlScan::Bad;
        } else if (c == '>') {
            break;
        }
    }
    if (at >= text.size()) return XmlScan::Bad;
    std::size_t colon = name.rfind(':');
    tag.name = colon == std::string_view::npos ? name : name.substr(colon + 1);
    tag.kind = closing ? XmlTag::Close : (text[at - 1] == '/' ? XmlTag::Empty : XmlTag::Open);
    tag.end = pos = at + 1;
    return XmlScan::Tag;
}

struct XmlRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct XmlElement {
    std::string_view name;
    XmlRange content;
    std::size_t after = 0;  // just past its end tag
};

enum class XmlFind { Found, Absent, Bad };

// The first element with one of `names` in `range`: among the direct
// children only, or at any depth. Its end tag is the next one at its level.
XmlFind findElement(std::string_view text, XmlRange range, std::initializer_list<std::string_view> names, bool deep,
                    XmlElement& element) {
    const std::string_view scope = text.substr(0, range.end);
    std::size_t pos = range.begin;
    int depth = 0;
    XmlTag tag;
    for (;;) {
        XmlScan scan = nextTag(scope, pos, tag);
        if (scan != XmlScan::Tag) return scan == XmlScan::End ? XmlFind::Absent : XmlFind::Bad;
        if (tag.kind == XmlTag::Close) {
            if (--depth < 0) return XmlFind::Bad;
            continue;
        }
        if (tag.kind == XmlTag::Other) continue;
        bool wanted = (deep || depth == 0) && std::find(names.begin(), names.end(), tag.name) != names.end();
        if (!wanted) {
            if (tag.kind == XmlTag::Open) ++depth;
            continue;
        }
        element.name = tag.name;
        if (tag.kind == XmlTag::Empty) {
            element.content = {tag.end, tag.end};
            element.after = tag.end;
            return XmlFind::Found;
        }
        int inner = 0;
        XmlTag closing;
        for (;;) {
            if (nextTag(scope, pos, closing) != XmlScan::Tag) return XmlFind::Bad;
            if (closing.kind == XmlTag::Open) {
                ++inner;
            } else if (closing.kind == XmlTag::Close && inner-- == 0) {
                if (closing.name != tag.name) return XmlFind::Bad;
                element.content = {tag.end, closing.begin};
                element.after = closing.end;
                return XmlFind::Found;
            }
        }
    }
}

// An element's text as base64: blanks, and character references to blanks
// (some writers put "&#xD;" at line ends), are skipped.
std::optional<Bytes> xmlBase64(std::string_view text, XmlRange range) {
    std::string_view content = text.substr(range.begin, range.end - range.begin);
    Bytes out;
    Base64Decoder decoder(out);
    for (std::size_t i = 0; i < content.size(); ++i) {
        char c = content[i];
        if (c == '<') return std::nullopt;
        if (c == '&') {
            std::size_t semicolon = content.find(';', i);
            if (semicolon == std::string_view::npos) return std::nullopt;
            std::string_view reference = content.substr(i, semicolon + 1 - i);
            static constexpr std::string_view kBlanks[] = {"&#13;", "&#xD;", "&#xd;", "&#10;", "&#xA;",
                                                           "&#xa;", "&#9;",  "&#x9;", "&#32;", "&#x20;"};
            if (std::find(std::begin(kBlanks), std::end(kBlanks), reference) == std::end(kBlanks)) return std::nullopt;
            i = semicolon;
            continue;
        }
        decoder.put(c);
    }
    if (!decoder.finish()) return std::nullopt;
    return out;
}

// A number of an <RSAKeyValue> or <DSAKeyValue>: nullptr when absent or bad,
// `bad` set when present but not a number.
BnPtr xmlNumber(std::string_view text, XmlRange parent, std::string_view name, bool& bad) {
    XmlElement element;
    XmlFind find = findElement(text, parent, {name}, false, element);
    if (find == XmlFind::Absent) return nullptr;
    std::optional<Bytes> bytes;
    if (find == XmlFind::Bad || !(bytes = xmlBase64(text, element.content)) || bytes->empty()) {
        bad = true;
        return nullptr;
    }
    BnPtr number = toBn(*bytes);
    if (!number) bad = true;
    return number;
}

XmlResult xmlMalformed() { return XmlResult{XmlStatus::Malformed, {}}; }

}  // namespace

XmlResult readXmlKey(std::string_view text) {
    ErrorMark mark;
    XmlElement root;
    XmlFind find =
        findElement(text, {0, text.size()}, {"RSAKeyValue", "DSAKeyValue", "X509Data", "X509Certificate"}, true, root);
    if (find == XmlFind::Absent) return XmlResult{};
    if (find == XmlFind::Bad) {
        // Broken markup: ours if one of our elements shows up in it.
        for (std::string_view name : {"RSAKeyValue", "DSAKeyValue", "X509Data", "X509Certificate"}) {
            if (text.find(name) != std::string_view::npos) return xmlMalformed();
        }
        return XmlResult{};
    }

    XmlResult out;
    bool bad = false;
    if (root.name == "RSAKeyValue") {
        BnPtr n = xmlNumber(text, root.content, "Modulus", bad), e = xmlNumber(text, root.content, "Exponent", bad),
              d = xmlNumber(text, root.content, "D", bad), p = xmlNumber(text, root.content, "P", bad),
              q = xmlNumber(text, root.content, "Q", bad);
        // DP, DQ and InverseQ follow from D, P and Q and are computed anew.
        if (bad || !n || !e) return xmlMalformed();
        out.value.key = buildRsa(n.get(), e.get(), d.get(), p.get(), q.get());
        out.value.isPrivate = d != nullptr;
    } else if (root.name == "DSAKeyValue") {
        BnPtr p = xmlNumber(text, root.content, "P", bad), q = xmlNumber(text, root.content, "Q", bad),
              g = xmlNumber(text, root.content, "G", bad), y = xmlNumber(text, root.content, "Y", bad),
              x = xmlNumber(text, root.content, "X", bad);
        // The other elements (J, PgenCounter and the value the generation
        // started from) only describe how P and Q were made.
        if (bad || !p || !q || !g || !y) return xmlMalformed();
        out.value.key = buildDsa(p.get(), q.get(), g.get(), y.get(), x.get());
        out.value.isPrivate = x != nullptr;
    } else {
        // <X509Data> with one or more <X509Certificate>, or one alone.
        XmlRange rest = root.content;
        XmlElement certificate = root;
        bool alone = root.name == "X509Certificate";
        for (;;) {
            if (!alone) {
                XmlFind next = findElement(text, rest, {"X509Certificate"}, false, certificate);
                if (next == XmlFind::Bad) return xmlMalformed();
                if (next == XmlFind::Absent) break;
                rest.begin = certificate.after;
            }
            auto der = xmlBase64(text, certificate.content);
            if (!der) return xmlMalformed();
            const std::uint8_t* at = der->data();
            X509Ptr cert(d2i_X509(nullptr, &at, static_cast<long>(der->size())));
            if (!cert || at != der->data() + der->size()) return xmlMalformed();
            out.value.certificates.push_back(std::move(cert));
            if (alone) break;
        }
        if (out.value.certificates.empty()) return xmlMalformed();
        out.status = XmlStatus::Found;
        return out;
    }
    if (!out.value.key) return xmlMalformed();
    out.status = XmlStatus::Found;
    return out;
}

}  // namespace platform::security
