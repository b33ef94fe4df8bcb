// Server frames, lax or strict: parsed whole, in small pieces and received
// into the reader's rooms, which must all give the same events; the cap
// must hold whatever lengths the frames declare, and a payload shown on its
// way must be the start of what its event then carries (unless, strict, its
// frame breaks a rule before it has all come).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/websocket/close.h"
#include "control/websocket/frame_reader.h"

using namespace morvane::websocket;

namespace {

struct Seen {
    FrameEventKind kind;
    std::uint8_t opcode;
    bool complete;
    std::string payload;
    std::string_view violation;  // strict: the rule broken
    bool operator==(const Seen&) const = default;
};

// The payload last shown on its way, and its frame.
struct Shown {
    std::uint64_t serial = 0;
    std::string soFar;
    std::uint64_t total = 0;
};

void note(const FrameReader& reader, std::optional<Shown>& shown, const FrameReaderOptions& options) {
    const auto arriving = reader.payloadArriving();
    if (!arriving) return;
    if (arriving->soFar.size() > arriving->total || arriving->total > options.maxMessageSize) std::abort();
    if (shown && shown->serial != arriving->serial) std::abort();  // shown, then never delivered
    shown = Shown{arriving->serial, std::string(arriving->soFar.begin(), arriving->soFar.end()), arriving->total};
}

void record(std::vector<Seen>& seen, const FrameEvent& e, const FrameReaderOptions& options,
            const FrameReader& reader, std::optional<Shown>& shown) {
    if (e.payload.size() > options.maxMessageSize) std::abort();
    // Strict, a payload on its way may still break a rule before it has all come.
    if (e.kind == FrameEventKind::kViolation) shown.reset();
    if (shown) {
        const std::string payload(e.payload.begin(), e.payload.end());
        if (e.kind != FrameEventKind::kData || reader.frameSerial() != shown->serial ||
            payload.size() != shown->total || !payload.starts_with(shown->soFar)) {
            std::abort();
        }
        shown.reset();
    }
    seen.push_back(
        {e.kind, e.opcode, e.complete, std::string(e.payload.begin(), e.payload.end()), e.violation.description});
    if (e.kind == FrameEventKind::kClose) parseClosePayload(e.payload);
}

// With `rooms`, a piece goes into the room the reader lends, when it lends
// one, instead of being fed, as a socket receives it.
std::vector<Seen> parse(std::span<const std::uint8_t> input, std::size_t piece, const FrameReaderOptions& options,
                        bool rooms = false) {
    FrameReader reader(options);
    std::vector<Seen> seen;
    std::optional<Shown> shown;
    std::size_t offset = 0;
    while (offset < input.size() && !reader.failed()) {
        auto chunk = input.subspan(offset, std::min(piece, input.size() - offset));
        if (rooms) {
            const std::span<std::uint8_t> room = reader.payloadRoom();
            if (!room.empty()) {
                const std::size_t written = std::min(room.size(), chunk.size());
                std::copy_n(chunk.data(), written, room.data());
                if (const auto event = reader.payloadWritten(written)) {
                    record(seen, *event, options, reader, shown);
                } else {
                    note(reader, shown, options);
                }
                offset += written;
                continue;
            }
        }
        while (!chunk.empty()) {
            const auto step = reader.feed(chunk);
            if (step.event) {
                record(seen, *step.event, options, reader, shown);
            } else {
                note(reader, shown, options);
            }
            if (step.consumed == 0 && !step.event) break;
            chunk = chunk.subspan(step.consumed);
        }
        offset += piece;
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    FrameReaderOptions options;
    options.bufferMessage = data[0] & 1;
    options.maxMessageSize = (data[0] & 2) ? 64 : 1 << 16;
    options.strict = data[0] & 0x80;
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    const auto whole = parse(input, input.size() + 1, options);
    const auto bytes = parse(input, 1, options);
    const auto odd = parse(input, (data[0] >> 2) % 13 + 2, options);
    const auto intoRooms = parse(input, (data[0] >> 2) % 13 + 2, options, true);
    if (whole != bytes || whole != odd || whole != intoRooms) std::abort();
    return 0;
}
