// Certificates as text: names the way the platform's CertNameToStr writes
// them in X.500 form without "+" joining, and base64 and PEM armoring.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform::security {

// CERT_X500_NAME_STR | CERT_NAME_STR_NO_PLUS_FLAG, in UTF-8 (the caller
// converts to its code page):
// - RDNs in the order they are encoded, joined by ", ". Without
//   CERT_NAME_STR_REVERSE_FLAG the platform keeps the encoded order, so a
//   certificate made the usual way (C, then O, then CN) reads
//   "C=US, O=Example, CN=www.example.com"; it is .NET's Subject and most
//   certificate viewers that show the reverse.
// - Several attributes in one RDN joined by a single space (what NO_PLUS
//   puts where " + " would be).
// - Attribute types by their X.500 key names (CN, L, O, OU, E, C, S, STREET,
//   T, G, I, SN, DC, SERIALNUMBER, ...), others as "OID.<dotted>".
// - A value that is empty, has a blank at either end, or holds one of
//   , + = " < > # ; or a line break is put in double quotes, with inner
//   quotes doubled.
std::string formatX500Name(const X509_NAME* name);

// Subject or issuer of a DER certificate; nullopt when it does not decode.
std::optional<std::string> certificateSubject(std::span<const std::uint8_t> der);
std::optional<std::string> certificateIssuer(std::span<const std::uint8_t> der);

// Base64 in lines of 64 characters joined by CR LF, no line break at the end.
std::string base64Lines(std::span<const std::uint8_t> bytes);

// "-----BEGIN <label>-----\r\n", the base64 lines, "\r\n-----END <label>-----\r\n".
std::string pemArmor(std::span<const std::uint8_t> der, std::string_view label = "CERTIFICATE");

}  // namespace platform::security
