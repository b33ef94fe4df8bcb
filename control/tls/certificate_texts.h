// Texts about the server certificate that the application sees in
// SSLServerAuthentication: the status of the chain policy check and the
// CertEncoded forms.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::tls {

// The text of an SSL chain policy result code: "OK" for 0, one of the
// platform's certificate errors, or "(unknown status code)".
std::string_view policyStatusMessage(std::uint32_t code);

// "[0x800b0109] A certification chain processed correctly but ..."
std::string policyStatusText(std::uint32_t code);

// Base64 of the bytes in lines of 64 characters separated by CRLF, with no
// line break after the last line: the body of a PEM block, and the whole
// CertEncoded of the early check.
std::string base64Lines(std::span<const std::uint8_t> bytes);

// "-----BEGIN " label "-----\r\n", the base64 lines, "\r\n-----END " label
// "-----\r\n".
std::string pemArmor(std::string_view label, std::span<const std::uint8_t> der);

// CertEncoded with SSLIncludeCertChain: every certificate armored as
// "CERTIFICATE", in chain order, joined by "\r\n".
std::string pemChain(std::span<const std::vector<std::uint8_t>> certificates);

}  // namespace morvane::tls
