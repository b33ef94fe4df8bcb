// Keys and certificates in the text formats people keep them in: PEM armour
// (with the traditional Proc-Type/DEK-Info encryption), PKCS#8 plain and
// encrypted, OpenSSH and RFC 4716 public keys, the ssh.com private key
// format, PuTTY's PPK and the XML key format of .NET. Every reader takes
// outside bytes: none of them trusts a length it reads, and none allocates
// more than a small multiple of its input. The one cost a file may choose is
// its key derivation's, and that is bounded: PBKDF2 up to a million
// iterations, Argon2 (PPK 3) up to 64 MiB, 100 passes and 16 lanes; beyond
// those the file is Unsupported. Numbers are refused beyond RSA 16384 and
// DSA 10000 bits. OpenSSL's error queue is left as the caller had it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/security/openssl_handles.h"

namespace platform::security {

// One armoured block: "-----BEGIN <label>-----" ... "-----END <label>-----"
// (RFC 7468, with RFC 1421 headers such as Proc-Type and DEK-Info before a
// blank line), or RFC 4716's "---- BEGIN <label> ----" form with its
// "Name: value" headers (continued with a trailing backslash).
struct PemBlock {
    std::string label;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::uint8_t> body;                        // base64-decoded
    std::string_view header(std::string_view name) const;  // "" when absent; names without regard to case
};

// Every well-formed block of the text, in order. A block whose END label
// does not match its BEGIN, or whose body is not base64, is passed over.
// Base64 as key files and exported blobs carry it: blanks anywhere, "="
// padding only at the end, unpadded endings accepted.
std::optional<std::vector<std::uint8_t>> decodeBase64Text(std::string_view text);

std::vector<PemBlock> readPemBlocks(std::string_view text);

// The first block with exactly this label.
std::optional<PemBlock> findPemBlock(std::string_view text, std::string_view label);

// "DEK-Info: <cipher>,<hex IV>".
struct DekInfo {
    std::string cipher;  // as written, e.g. "DES-EDE3-CBC"
    std::vector<std::uint8_t> iv;
};
std::optional<DekInfo> parseDekInfo(std::string_view value);

enum class KeyStatus {
    Found,
    NotFound,     // nothing of the kind in the text
    BadPassword,  // encrypted, and the password does not open it
    Unsupported,  // a cipher, KDF or key type we do not read, or a KDF cost beyond the limits
    Malformed,    // the right kind, but its contents do not decode
};

struct KeyResult {
    KeyStatus status = KeyStatus::NotFound;
    EvpPkeyPtr key;
};

// The private key search, the first label found wins: "RSA PRIVATE KEY",
// "DSA PRIVATE KEY", "EC PRIVATE KEY" (each possibly DEK-Info encrypted with
// DES-EDE3-CBC, DES-EDE3-CFB or AES-128-CBC; other ciphers OpenSSL knows are
// read too), "PRIVATE KEY", "ENCRYPTED PRIVATE KEY" (PKCS#8, PBES2 and
// whatever else OpenSSL decrypts), "SSH2 ENCRYPTED PRIVATE KEY" (ssh.com,
// cipher none or 3des-cbc), then PuTTY's PPK (a line starting
// "PuTTY-User-Key-File-"). The status is that of the block the search
// settled on, even when a later one would have decoded. Traditional PEM is
// encrypted when it has a DEK-Info header; unencrypted keys ignore the
// password.
KeyResult findPrivateKey(std::string_view text, std::string_view password);

// A public key: PEM "PUBLIC KEY", "RSA PUBLIC KEY", "DSA PUBLIC KEY",
// "EC PUBLIC KEY", RFC 4716 "SSH2 PUBLIC KEY", or an OpenSSH line. The first
// block in the text with one of those labels is read (SubjectPublicKeyInfo
// under any of them, else PKCS#1 RSAPublicKey or OpenSSL's DSAPublicKey);
// without one, the first OpenSSH line.
KeyResult readPublicKey(std::string_view text);

// An SSH public key: an OpenSSH line ("ssh-rsa AAAA... comment", also
// ssh-dss, ecdsa-sha2-nistp256/384/521, ssh-ed25519 and ssh-ed448), an RFC
// 4716 block, or the bare wire blob (RFC 4253 section 6.6) in bytes or in
// base64 alone. A blob naming another key type is Unsupported.
KeyResult readSshPublicKey(std::span<const std::uint8_t> bytes);

// PuTTY's PPK, versions 2 and 3; encrypted keys (aes256-cbc) are opened with
// the password, and the file's MAC is checked: a MAC that does not match is
// BadPassword for an encrypted file and Malformed for one without
// encryption (whose password is ignored). Version 1 is Unsupported.
KeyResult readPpk(std::string_view text, std::string_view password);

// The XML key format: <RSAKeyValue> (public, or private with P, Q, DP, DQ,
// InverseQ and D), <DSAKeyValue> (P, Q, G, Y and optionally X), and
// <X509Data><X509Certificate> with one or more base64 certificates. The
// first of those elements in the text is read, at any depth (inside
// <KeyInfo> and the like) and with any namespace prefix. A private key must
// agree with its public half (DP, DQ and InverseQ are computed from D, P and
// Q). Malformed: the element is there but broken.
struct XmlKey {
    EvpPkeyPtr key;  // set for RSAKeyValue and DSAKeyValue
    bool isPrivate = false;
    std::vector<X509Ptr> certificates;  // set for X509Data
};
enum class XmlStatus { Found, NotFound, Malformed };
struct XmlResult {
    XmlStatus status = XmlStatus::NotFound;
    XmlKey value;
};
XmlResult readXmlKey(std::string_view text);

}  // namespace platform::security
