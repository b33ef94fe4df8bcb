#include "control/websocket/upgrade_check.h"

#include <strings.h>

#include "control/websocket/accept_key.h"

namespace morvane::websocket {
namespace {

std::string_view find(std::span<const HttpHeader> headers, std::string_view name) {
    for (const auto& h : headers) {
        if (h.name.size() == name.size() && ::strncasecmp(h.name.data(), name.data(), name.size()) == 0) {
            return h.value;
        }
    }
    return {};
}

// Only A to Z are folded, as the comparison of these protocol tokens wants.
std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

std::string statusErrorText(int status, std::string_view reason) {
    std::string text = status == 407 ? "Proxy error: " : "";
    text += "HTTP protocol error. " + std::to_string(status) + " " + std::string(reason);
    if (!reason.ends_with('.')) text += ".";
    return text;
}

StatusVerdict judgeStatus(int status, std::string_view reason, const StatusContext& context, AuthRetries& retries) {
    StatusVerdict verdict;
    if (status == 101 || (status >= 200 && status <= 299)) return verdict;
    verdict.action = StatusAction::kFail;
    verdict.code = errc::httpProtocol;
    verdict.text = statusErrorText(status, reason);

    if (status == 401 && context.answersChallenges) {
        if (retries.server == 0) {
            retries.server = 1;
            verdict.action = StatusAction::kRetryWithAuth;
            return verdict;
        }
        retries.server = 0;
        return verdict;
    }
    if (status == 407 && context.answersProxyChallenges) {
        if (retries.proxy == 0) {
            retries.proxy = 1;
            verdict.action = StatusAction::kRetryWithProxyAuth;
            return verdict;
        }
        retries.proxy = 0;
        verdict.code = errc::proxyProtocol;
        return verdict;
    }
    if (isRedirectStatus(status) && context.followRedirects != frNever) {
        if (!context.hasLocation) {
            verdict.text = std::string(errtext::missingRedirectLocation);
            return verdict;
        }
        verdict.action = StatusAction::kRedirect;
    }
    return verdict;
}

bool checkUpgradeResponse(std::span<const HttpHeader> headers, std::string_view sentKey, std::string& subProtocols) {
    if (lowerAscii(find(headers, "Upgrade")).find("websocket") == std::string::npos) return false;
    if (lowerAscii(find(headers, "Connection")).find("upgrade") == std::string::npos) return false;
    const auto accept = base64Decode(find(headers, "Sec-WebSocket-Accept"));
    if (!accept || *accept != acceptDigest(sentKey)) return false;

    const std::string_view protocol = find(headers, "Sec-WebSocket-Protocol");
    if (protocol.empty()) return true;
    if (subProtocols.empty()) return false;
    // The offered list is lower-cased in place for the comparison, as the
    // control has always done; a match replaces it with the server's choice.
    subProtocols = lowerAscii(subProtocols);
    if (subProtocols.find(lowerAscii(protocol)) == std::string::npos) return false;
    subProtocols = std::string(protocol);
    return true;
}

}  // namespace morvane::websocket
