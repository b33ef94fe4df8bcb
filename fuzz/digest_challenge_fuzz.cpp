// Digest challenges from any server or proxy: parse the parameters, answer
// them twice as the server and once as the proxy, and check that what is
// kept and sent never holds more than the challenge gave.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/transport/http_auth.h"
#include "control/websocket/test_random.h"

using namespace morvane::auth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    morvane::websocket::CountingRandom random;
    DigestState state;
    if (takeDigestChallenge(input, state, random) != 0) std::abort();

    // Every stored value is cut from the input.
    const auto isPiece = [&](std::string_view value) { return value.empty() || input.find(value) != input.npos; };
    if (!isPiece(state.realm) || !isPiece(state.nonce) || !isPiece(state.algorithm == "md5" ? "" : state.algorithm)) {
        std::abort();
    }
    if (state.opaque && !isPiece(*state.opaque)) std::abort();
    if (!state.qop.empty() && state.qop != "auth" && state.qop != "auth-int") std::abort();
    if (state.qop.empty() != state.clientNonce.empty() || state.counter != 0) std::abort();

    // A second parse of the same text gives the same state, whatever came before.
    DigestState again;
    again.counter = 7;
    again.opaque = "left over";
    morvane::websocket::CountingRandom sameRandom;
    takeDigestChallenge(input, again, sameRandom);
    if (again.realm != state.realm || again.nonce != state.nonce || again.opaque != state.opaque ||
        again.qop != state.qop || again.algorithm != state.algorithm || again.clientNonce != state.clientNonce ||
        again.counter != 0) {
        std::abort();
    }

    DigestRequest request{.user = "user", .password = "pass", .method = "GET", .uri = "/", .body = input};
    for (int turn = 0; turn < 3; ++turn) {
        request.toProxy = turn == 2;
        const DigestAnswer answer = digestAuthorization(state, request);
        if (answer.code != 0) std::abort();  // the parser never picks an unknown qop
        if (state.nonce.empty()) {
            if (answer.value) std::abort();
            continue;
        }
        if (!answer.value) std::abort();
        if (state.counter != (state.qop.empty() ? 0u : static_cast<std::uint32_t>(turn + 1))) std::abort();
        // The fields in their order; the proxy's answer has no algorithm.
        std::string head =
            "Digest username=\"user\", realm=\"" + state.realm + "\", nonce=\"" + state.nonce + "\", uri=\"/\"";
        if (!request.toProxy) head += ", algorithm=\"" + state.algorithm + "\"";
        if (!state.qop.empty()) {
            char nc[9];
            std::snprintf(nc, sizeof nc, "%08x", state.counter);
            head += ", qop=\"" + state.qop + "\", nc=" + nc + ", cnonce=\"" + state.clientNonce + "\"";
        }
        head += ", response=\"";
        if (!answer.value->starts_with(head)) std::abort();
        const std::string_view rest = std::string_view(*answer.value).substr(head.size());
        const std::string tail = state.opaque ? "\", opaque=\"" + *state.opaque + "\"" : "\"";
        if (rest.size() != 32 + tail.size() || !rest.ends_with(tail)) std::abort();
        for (char c : rest.substr(0, 32)) {
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) std::abort();
        }
    }
    return 0;
}
