#include "control/tls/certificate_texts.h"

#include "control/tls/hex_text.h"
#include "platform/security/certificate_text.h"

namespace morvane::tls {
namespace {

struct PolicyStatus {
    std::uint32_t code;
    std::string_view text;
};

// Worded as the control has always shown them; applications compare these
// texts, so they stay as they are, "visa versa" included.
constexpr PolicyStatus kPolicyStatuses[] = {
    {0x80092010, "The certificate or signature has been revoked."},
    {0x80092013,
     "Since the revocation server was offline, the called function was not able to complete the revocation check."},
    {0x80096004, "The signature of the certificate cannot be verified."},
    {0x80096019, "The certificate's basic constraints are invalid or missing."},
    {0x800B0101, "A required certificate is not within its validity period."},
    {0x800B0102, "The validity periods of the certification chain do not nest correctly."},
    {0x800B0103, "A certificate that can only be used as an end-entity is being used as a CA or visa versa."},
    {0x800B0106, "A certificate is being used for a non permitted purpose."},
    {0x800B0109,
     "A certification chain processed correctly but terminated in a root certificate not trusted by the trust "
     "provider."},
    {0x800B010A, "A chain of certificates was not correctly created."},
    {0x800B010C, "A certificate in the chain has been explicitly revoked by its issuer."},
    {0x800B010D, "The root certificate is a testing certificate and policy settings disallow test certificates."},
    {0x800B010E, "The revocation process could not continue. The certificates could not be checked."},
    {0x800B010F, "The certificate's CN name does not match the passed value."},
    {0x800B0110, "The certificate is not valid for the requested usage."},
};

}  // namespace

std::string_view policyStatusMessage(std::uint32_t code) {
    if (code == 0) return "OK";
    for (const PolicyStatus& status : kPolicyStatuses) {
        if (status.code == code) return status.text;
    }
    return "(unknown status code)";
}

std::string policyStatusText(std::uint32_t code) {
    return "[0x" + hexDigits(code) + "] " + std::string(policyStatusMessage(code));
}

// One armoring for the whole control: the platform's.
std::string base64Lines(std::span<const std::uint8_t> bytes) { return platform::security::base64Lines(bytes); }

std::string pemArmor(std::string_view label, std::span<const std::uint8_t> der) {
    return platform::security::pemArmor(der, label);
}

std::string pemChain(std::span<const std::vector<std::uint8_t>> certificates) {
    std::string text;
    for (std::size_t i = 0; i < certificates.size(); ++i) {
        if (i != 0) text += "\r\n";
        text += pemArmor("CERTIFICATE", certificates[i]);
    }
    return text;
}

}  // namespace morvane::tls
