// What the debug log says while an NTLM or Negotiate token is made: the
// parameters, the steps, the tokens themselves (base64, as they travel in
// the headers), and on request a readable account of a token's contents.
// Only texts are made here; the caller writes them to the log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace morvane::auth {

inline constexpr std::string_view kGeneratingNegotiateText = "Generating negotiate data.\r\n";
inline constexpr std::string_view kInputTokenText = "Input token - ";
inline constexpr std::string_view kGeneratingAuthenticationText = "Generating authentication data.\r\n";
inline constexpr std::string_view kGeneratedTokenText = "Generated token - ";
inline constexpr std::string_view kFinishedTokenText = "Finished getting authentication token.\r\n";

// Lines of the readable account.
inline constexpr std::string_view kTokenEmptyText = "Token is empty.\r\n";
inline constexpr std::string_view kTokenUnknownText = "Unknown token type.\r\n";
inline constexpr std::string_view kGssTokenText = "Found GSS-API token:\r\n";
// Given its own line end when written.
inline constexpr std::string_view kSpnegoTokenText = "\tFound SPNEGO token.";
inline constexpr std::string_view kKerberosApReqText = "Kerberos KRB_AP_REQ token:\r\n";

// "Getting authentication token." and the parameters of the request; the
// password is shown only by its length, and `serverSide` as True or False
// (False for a proxy).
std::string tokenParametersText(std::string_view protocol, std::string_view user, std::string_view domain,
                                std::size_t passwordLength, std::string_view server, bool serverSide);

// "Input token - " / "Generated token - " with the token in base64 and a
// line end.
std::string inputTokenText(std::span<const std::uint8_t> token);
std::string generatedTokenText(std::span<const std::uint8_t> token);

// A readable account of a token: an NTLM message (length, signature, type,
// flags), a GSS-API token and which mechanism it is for (SPNEGO, with the
// token it carries described in turn, or a Kerberos AP-REQ), a SPNEGO
// answer, an empty token, or an unknown one. Reads only inside `token`.
std::string describeAuthToken(std::span<const std::uint8_t> token);

}  // namespace morvane::auth
