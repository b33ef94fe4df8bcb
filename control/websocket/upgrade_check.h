// Judging the server's answer to the upgrade request: the status verdict of
// the HTTP transaction and the checks a 101 response must pass.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "control/engine/engine_errors.h"
#include "control/websocket/redirect_policy.h"
#include "control/websocket/response_reader.h"

namespace morvane::websocket {

// "HTTP protocol error. " code, a space and the reason, with a full stop
// added when the reason lacks one; 407 carries "Proxy error: " in front.
std::string statusErrorText(int status, std::string_view reason);

enum class StatusAction {
    kSuccess,             // 101 and 2xx: the caller decides what follows
    kRetryWithAuth,       // answer the 401 challenge and run the transaction again
    kRetryWithProxyAuth,  // the same for 407
    kRedirect,            // parse the Location (relative mode) and offer it
    kFail,                // return `code` with `text`
};

struct StatusVerdict {
    StatusAction action = StatusAction::kSuccess;
    int code = 0;
    std::string text;
};

struct StatusContext {
    FollowRedirects followRedirects = frAlways;
    bool hasLocation = false;
    // AuthScheme (ProxyAuthScheme) is Digest, NTLM or Negotiate: a challenge
    // can be answered once.
    bool answersChallenges = false;
    bool answersProxyChallenges = false;
};

// The retry counters of one Connect; each is 0 or 1.
struct AuthRetries {
    int server = 0;
    int proxy = 0;
};

StatusVerdict judgeStatus(int status, std::string_view reason, const StatusContext& context, AuthRetries& retries);

// The checks of a 101 response against the key that was sent. When the
// server names a subprotocol that was offered, `subProtocols` becomes the
// server's value as received. Case is ignored for the header names and for
// the Upgrade, Connection and protocol values.
bool checkUpgradeResponse(std::span<const HttpHeader> headers, std::string_view sentKey, std::string& subProtocols);

}  // namespace morvane::websocket
