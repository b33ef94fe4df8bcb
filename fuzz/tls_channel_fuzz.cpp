// The secure channel's receive path against a real OpenSSL server in memory:
// the server's bytes (its handshake flights, then application records and
// its close_notify) reach the channel cut at the points the input chooses,
// and optionally with one byte changed. Cut anywhere, the channel must
// complete the handshake and hand up exactly what the server sent; with a
// byte changed, it may fail, but it must never hand up anything the server
// did not send, and never crash. The layer above may offer room for
// records to be opened in place, of a size the input chooses.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "control/engine/engine_context.h"
#include "control/engine/test_stream.h"
#include "control/tls/tls_channel.h"
#include "platform/security/memory_tls_server.h"
#include "platform/security/test_pki.h"

namespace {

namespace st = platform::security::testing;
using morvane::testing::TestStream;

// Its second record is long enough to be opened in the room above.
const std::string message = "the server's message, in two records" + std::string(6000, '.');

struct Pki {
    st::Issued ca = st::issue(st::caRequest({{"CN", "Fuzz Root"}}, 1));
    st::Issued leaf = st::issue(st::leafRequest("localhost", "DNS:localhost", 2), &ca);
};

class Above final : public morvane::StreamListener {
public:
    std::vector<int> connects;
    std::string received;
    void streamConnected(int code) override { connects.push_back(code); }
    std::size_t roomSize = 0;
    std::vector<std::uint8_t> room;
    int streamReceived(std::span<const std::uint8_t> data, bool) override {
        received.append(data.begin(), data.end());
        return 0;
    }
    std::span<std::uint8_t> receiveRoom() override {
        room.assign(roomSize, 0);
        return room;
    }
    int receivedInPlace(std::size_t count) override {
        if (count > room.size()) std::abort();
        return streamReceived(std::span(room).first(count), false);
    }
    void streamReadyToSend() override {}
    void streamClosed(int, const std::string&) override {}
};

// Cuts: each input byte is the length of the next piece (0 means 1).
class Cutter {
public:
    explicit Cutter(std::span<const std::uint8_t> cuts) : cuts_(cuts) {}
    std::size_t next() {
        if (cuts_.empty()) return 4096;
        const std::size_t length = cuts_[at_++ % cuts_.size()];
        return length == 0 ? 1 : length;
    }

private:
    std::span<const std::uint8_t> cuts_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Pki pki;
    static const st::ServerConfig config(pki.leaf, {});
    if (size < 4) return 0;
    // Byte 0: whether to corrupt (bit 0) and the room above (the rest, in
    // threes); bytes 1-2: which server byte; byte 3: how.
    const bool corrupt = (data[0] & 1) != 0;
    const std::size_t roomSize = static_cast<std::size_t>(data[0] >> 1) * 3;
    const std::size_t corruptAt = static_cast<std::size_t>(data[1]) << 8 | data[2];
    const std::uint8_t corruptWith = data[3] == 0 ? 0x5a : data[3];
    Cutter cutter(std::span<const std::uint8_t>(data + 4, size - 4));

    morvane::EngineContext context;
    morvane::TlsSettings settings;
    // The certificate is taken as it is: the check is not what is fuzzed.
    settings.sslSecurityFlags = -1;
    TestStream stream(context);
    morvane::TlsChannel channel(context, stream, settings, [] { return true; });
    Above above;
    above.roomSize = roomSize;
    channel.setListener(&above);
    st::MemoryTlsServer server(config);
    std::size_t serverBytes = 0;
    bool changed = false;
    // Everything the server says reaches the channel in the input's pieces.
    const auto deliver = [&](std::vector<std::uint8_t> bytes) {
        if (corrupt && !changed && corruptAt >= serverBytes && corruptAt < serverBytes + bytes.size()) {
            bytes[corruptAt - serverBytes] ^= corruptWith;
            changed = true;
        }
        serverBytes += bytes.size();
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t piece = std::min(cutter.next(), bytes.size() - at);
            stream.peerSends({reinterpret_cast<const char*>(bytes.data()) + at, piece});
            at += piece;
        }
    };
    stream.setResponder([&](TestStream& peer, const std::string&) {
        const std::string written = peer.takeWritten();
        std::vector<std::uint8_t> answer =
            server.take({reinterpret_cast<const std::uint8_t*>(written.data()), written.size()});
        if (!answer.empty()) deliver(std::move(answer));
    });

    channel.setEnabled(true);
    if (channel.connect("localhost", 443) != 0) std::abort();
    stream.play(1 << 20);
    if (channel.isConnected()) {
        std::vector<std::uint8_t> records = server.send(message.substr(0, 10));
        const std::vector<std::uint8_t> rest = server.send(message.substr(10));
        records.insert(records.end(), rest.begin(), rest.end());
        deliver(std::move(records));
        deliver(server.closeNotify());
        stream.play(1 << 20);
    }

    if (!std::string_view(message).starts_with(above.received)) std::abort();
    if (!changed) {
        // Cut however it was, nothing was lost.
        if (above.connects != std::vector<int>{0} || above.received != message) std::abort();
    }
    return 0;
}
