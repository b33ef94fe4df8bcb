// What a firewall or proxy answers, through the negotiation of every kind:
// the first byte picks the kind and how the rest is cut into pieces, the
// rest is the proxy's side of the conversation. The negotiation must end in
// at most one verdict, keep within its bounds, and pass on only bytes that
// came after the proxy's reply.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/transport/firewall_negotiator.h"

namespace {

using morvane::AuthAnswer;
using namespace morvane::firewall;

class Credentials final : public ProxyCredentials {
public:
    AuthAnswer answer(int scheme, std::optional<std::string_view> challenge) override {
        if (challenge && challenge->size() > kMaxLineBytes) std::abort();
        return {0, {}, std::to_string(scheme) + (challenge ? " answer" : " first")};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Target target;
    target.kind = 1 + data[0] % 6;
    target.host = (data[0] & 0x40) ? "*relay.example" : "relay.example";
    target.port = 443;
    target.user = (data[0] & 0x80) ? "user" : "";
    target.password = (data[0] & 0x80) ? "password" : "";
    target.ipv4 = 0x0100007F;
    const std::size_t piece = 1 + data[1] % 17;
    const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    Credentials credentials;
    Negotiator negotiator(target, &credentials);
    Progress progress = negotiator.start();
    std::size_t sent = progress.send.size();
    std::size_t fed = 0;
    while (progress.state == Progress::State::negotiating && fed < input.size()) {
        const std::string_view chunk = input.substr(fed, piece);
        fed += chunk.size();
        progress = negotiator.feed(chunk);
        sent += progress.send.size();
        // Requests are small: two CONNECTs or a SOCKS exchange.
        if (sent > 4096) std::abort();
    }
    switch (progress.state) {
        case Progress::State::failed:
            if (progress.code != 118 || progress.text.empty() || !negotiator.finished()) std::abort();
            break;
        case Progress::State::complete:
            // What is passed on is the tail of what came in.
            if (!input.substr(0, fed).ends_with(progress.rest) || !negotiator.finished()) std::abort();
            break;
        case Progress::State::negotiating:
            if (negotiator.finished()) std::abort();
            break;
    }
    // Nothing happens after the verdict.
    if (negotiator.finished()) {
        const Progress after = negotiator.feed("HTTP/1.1 200 OK\r\n\r\n");
        if (after.state != Progress::State::negotiating || !after.send.empty()) std::abort();
    }
    return 0;
}
