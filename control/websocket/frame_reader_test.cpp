#include "control/websocket/frame_reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "control/websocket/frame_writer.h"
#include "control/websocket/test_random.h"

namespace morvane::websocket {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Seen {
    FrameEventKind kind;
    int opcode;
    bool complete;
    std::string payload;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    os << "{kind " << static_cast<int>(s.kind) << ", op " << s.opcode << ", eom " << s.complete << ", ";
    if (s.payload.size() <= 40) return os << "\"" << s.payload << "\"}";
    return os << s.payload.size() << " bytes \"" << s.payload.substr(0, 16) << "...\"}";
}

Seen data(int opcode, bool complete, std::string payload) {
    return {FrameEventKind::kData, opcode, complete, std::move(payload)};
}

// A server frame (unmasked unless a key is given).
Bytes frame(bool fin, std::uint8_t opcode, std::string_view payload, const MaskKey* key = nullptr) {
    FrameHeader header;
    header.fin = fin;
    header.opcode = opcode;
    header.masked = key != nullptr;
    if (key) header.key = *key;
    FrameBuffer out;
    appendFrame(out, header, {reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()});
    return Bytes(out.begin(), out.end());
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Seen seenOf(const FrameEvent& event) {
    return {event.kind, event.opcode, event.complete, std::string(event.payload.begin(), event.payload.end())};
}

// How run() hands the reader its bytes.
enum class Delivery {
    fed,        // through feed() only
    intoRooms,  // straight into every room the reader lends, as a socket would
    // Every other room is asked for and then left unused.
    someRoomsUnused,
};

// What payloadArriving has shown of the payload on its way, byte by byte as
// it was first shown, to be checked against the event that ends it: that
// event must come next, carry that payload unchanged, and be as long as
// promised.
struct Promise {
    std::uint64_t serial = 0;
    std::string shown;
    std::uint64_t total = 0;
};

void notePromise(const FrameReader& reader, std::optional<Promise>& promise) {
    const auto arriving = reader.payloadArriving();
    if (!arriving) return;
    if (promise && promise->serial != arriving->serial) ADD_FAILURE() << "a payload was promised and never came";
    if (!promise || promise->serial != arriving->serial) promise = Promise{arriving->serial, {}, arriving->total};
    ASSERT_EQ(arriving->total, promise->total);
    ASSERT_GE(arriving->soFar.size(), promise->shown.size());
    promise->shown.append(arriving->soFar.begin() + static_cast<std::ptrdiff_t>(promise->shown.size()),
                          arriving->soFar.end());
}

void keepsPromise(const FrameReader& reader, const FrameEvent& event, std::optional<Promise>& promise,
                  std::size_t* kept) {
    if (!promise) return;
    // A payload on its way may still break a rule before it has all come.
    if (event.kind == FrameEventKind::kViolation) return promise.reset();
    EXPECT_EQ(event.kind, FrameEventKind::kData);
    EXPECT_EQ(reader.frameSerial(), promise->serial);
    EXPECT_EQ(event.payload.size(), promise->total);
    const std::string payload(event.payload.begin(), event.payload.end());
    EXPECT_TRUE(payload.starts_with(promise->shown)) << promise->shown.size() << " bytes shown";
    if (kept) ++*kept;
    promise.reset();
}

// Hands `input` over in pieces of `piece` bytes (0 = all at once) and records
// every event, resuming after each one as a caller would. Whatever
// payloadArriving shows between calls is held to the event that follows;
// `kept` counts the payloads it showed on their way.
std::vector<Seen> run(FrameReader& reader, const Bytes& input, std::size_t piece = 0, Delivery delivery = Delivery::fed,
                      std::size_t* roomBytes = nullptr, std::size_t* kept = nullptr) {
    std::vector<Seen> seen;
    std::optional<Promise> promise;
    auto take = [&](const std::optional<FrameEvent>& event) {
        if (!event) return notePromise(reader, promise);
        keepsPromise(reader, *event, promise, kept);
        seen.push_back(seenOf(*event));
    };
    std::size_t offset = 0;
    bool skip = false;
    while (offset < input.size()) {
        const std::size_t size = piece == 0 ? input.size() - offset : std::min(piece, input.size() - offset);
        if (delivery != Delivery::fed) {
            const std::span<std::uint8_t> room = reader.payloadRoom();
            skip = delivery == Delivery::someRoomsUnused && !room.empty() && !skip;
            if (!room.empty() && !skip) {
                const std::size_t written = std::min(size, room.size());
                std::copy_n(input.data() + offset, written, room.data());
                if (roomBytes) *roomBytes += written;
                take(reader.payloadWritten(written));
                offset += written;
                continue;
            }
        }
        std::span<const std::uint8_t> chunk(input.data() + offset, size);
        while (!chunk.empty()) {
            const auto step = reader.feed(chunk);
            take(step.event);
            if (step.consumed == 0 && !step.event) return seen;  // the reader has stopped
            chunk = chunk.subspan(step.consumed);
        }
        offset += size;
    }
    return seen;
}

struct Case {
    const char* name;
    Bytes input;
    bool bufferMessage;
    std::vector<Seen> expected;
    // Accepted only because the reader is not strict.
    bool breaksRule = false;
};

const MaskKey kKey = {0x01, 0x02, 0x03, 0x04};

std::vector<Case> cases() {
    return {
        {"single text", frame(true, kOpText, "hello"), false, {data(1, true, "hello")}},
        {"binary with 16-bit length",
         frame(true, kOpBinary, std::string(126, 'b')),
         false,
         {data(2, true, std::string(126, 'b'))}},
        {"binary with 64-bit length",
         frame(true, kOpBinary, std::string(65536, 'c')),
         false,
         {data(2, true, std::string(65536, 'c'))}},
        {"masked server frame is unmasked",
         frame(true, kOpText, "masked!", &kKey),
         false,
         {data(1, true, "masked!")},
         true},
        {"three fragments delivered as they come",
         join({frame(false, kOpText, "ab"), frame(false, kOpContinuation, "cd"), frame(true, kOpContinuation, "ef")}),
         false,
         {data(1, false, "ab"), data(1, false, "cd"), data(1, true, "ef")}},
        {"three fragments buffered into one",
         join({frame(false, kOpText, "ab"), frame(false, kOpContinuation, "cd", &kKey),
               frame(true, kOpContinuation, "ef")}),
         true,
         {data(1, true, "abcdef")},
         true},
        {"ping between fragments stands alone",
         join({frame(false, kOpBinary, "12"), frame(true, kOpPing, "p"), frame(true, kOpContinuation, "34")}),
         true,
         {{FrameEventKind::kPing, 9, true, "p"}, data(2, true, "1234")}},
        {"close between fragments stands alone",
         join({frame(false, kOpText, "12"), frame(true, kOpClose, "\x03\xe8"), frame(true, kOpContinuation, "3")}),
         false,
         {data(1, false, "12"), {FrameEventKind::kClose, 8, true, "\x03\xe8"}, data(1, true, "3")}},
        {"empty message raises nothing",
         join({frame(true, kOpText, ""), frame(true, kOpBinary, "x")}),
         false,
         {data(2, true, "x")}},
        {"a silent empty frame keeps the next frame's first bytes",
         join({frame(true, kOpText, ""), frame(true, kOpBinary, "0123456789"), frame(false, kOpText, ""),
               frame(true, kOpContinuation, ""), frame(true, kOpText, "abcdefghij")}),
         false,
         {data(2, true, "0123456789"), data(1, true, "abcdefghij")}},
        {"empty fragments raise nothing when nothing was delivered",
         join({frame(false, kOpText, ""), frame(true, kOpContinuation, "")}),
         false,
         {}},
        {"empty last fragment still ends a message given in parts",
         join({frame(false, kOpText, "ab"), frame(false, kOpContinuation, ""), frame(true, kOpContinuation, "")}),
         false,
         {data(1, false, "ab"), data(1, true, "")}},
        {"empty ping and close still arrive",
         join({frame(true, kOpPing, ""), frame(true, kOpClose, "")}),
         false,
         {{FrameEventKind::kPing, 9, true, ""}, {FrameEventKind::kClose, 8, true, ""}}},
        {"pong, unknown opcodes and reserved bits are delivered like data",
         join({frame(true, kOpPong, "po"), frame(true, 3, "u3"), Bytes{0xF1, 0x01, 'r'}}),
         false,
         {data(10, true, "po"), data(3, true, "u3"), data(1, true, "r")},
         true},
        {"a lone continuation frame is complete by itself",
         frame(true, kOpContinuation, "c0"),
         false,
         {data(0, true, "c0")},
         true},
        {"large fragments around a ping, buffered",
         join({frame(false, kOpBinary, std::string(40000, 'L')), frame(true, kOpPing, "p"),
               frame(true, kOpContinuation, std::string(70000, 'M'))}),
         true,
         {{FrameEventKind::kPing, 9, true, "p"}, data(2, true, std::string(40000, 'L') + std::string(70000, 'M'))}},
        {"large fragments delivered as they come, masked among them",
         join({frame(false, kOpText, std::string(50000, 'a')),
               frame(false, kOpContinuation, std::string(40000, 'b'), &kKey),
               frame(true, kOpContinuation, std::string(300000, 'c'))}),
         false,
         {data(1, false, std::string(50000, 'a')), data(1, false, std::string(40000, 'b')),
          data(1, true, std::string(300000, 'c'))},
         true},
        {"fragmented ping is answered whole",
         join({frame(false, kOpPing, "pi"), frame(true, kOpContinuation, "ng")}),
         false,
         {{FrameEventKind::kPing, 9, true, "ping"}},
         true},
        {"text split inside its characters, and every close code a server may send",
         join({frame(false, kOpText, "\xE2"), frame(false, kOpContinuation, "\x82\xAC\xF0\x9F"),
               frame(true, kOpContinuation, "\x98\x80"),
               frame(true, kOpClose,
                     "\x0F\xA0"
                     "caf\xC3\xA9")}),
         false,
         {data(1, false, "\xE2"),
          data(1, false, "\x82\xAC\xF0\x9F"),
          data(1, true, "\x98\x80"),
          {FrameEventKind::kClose, 8, true,
           "\x0F\xA0"
           "caf\xC3\xA9"}}},
    };
}

class FrameReaderCases : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FrameReaderCases, EveryCaseGivesTheSameEventsWholeByteByByteAndInOddPieces) {
    for (const Case& c : cases()) {
        for (const Delivery delivery : {Delivery::fed, Delivery::intoRooms, Delivery::someRoomsUnused}) {
            // Strict, frames that break no rule come out as they do lax.
            if (!c.breaksRule) {
                FrameReader strict({.bufferMessage = c.bufferMessage, .strict = true});
                EXPECT_EQ(run(strict, c.input, GetParam(), delivery), c.expected) << c.name << ", strict";
            }
            FrameReader reader({.bufferMessage = c.bufferMessage});
            std::size_t roomBytes = 0;
            std::size_t shownOnTheirWay = 0;
            EXPECT_EQ(run(reader, c.input, GetParam(), delivery, &roomBytes, &shownOnTheirWay), c.expected)
                << c.name << ", delivery " << static_cast<int>(delivery);
            EXPECT_TRUE(reader.idle()) << c.name;
            // Data payloads that come in pieces are shown on their way; those
            // that come whole, or are collected and not yet known whole, not.
            if (GetParam() != 0 && c.input.size() > 100000) {
                EXPECT_GT(shownOnTheirWay, 0u) << c.name;
            }
            if (GetParam() == 0) {
                EXPECT_EQ(shownOnTheirWay, 0u) << c.name;
            }
            // Rooms are lent for the long unmasked payloads that come in pieces.
            if (delivery == Delivery::intoRooms && GetParam() != 0 && c.input.size() > 100000) {
                EXPECT_GT(roomBytes, 0u) << c.name;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pieces, FrameReaderCases, ::testing::Values(0, 1, 2, 3, 7, 64, 20000));

TEST(FrameReader, LendsRoomOnlyForALongUnmaskedDataPayloadAndNeverBeyondIt) {
    struct RoomCase {
        const char* name;
        Bytes header;
        std::size_t room;
    };
    const RoomCase roomCases[] = {
        {"100000 bytes to come: all of them", {0x82, 0x7F, 0, 0, 0, 0, 0, 0x01, 0x86, 0xA0}, 100000},
        {"60 MB to come: a bounded part", {0x82, 0x7F, 0, 0, 0, 0, 0x03, 0x93, 0x87, 0x00}, 256 * 1024},
        {"a short way to go", {0x82, 0x7E, 0x10, 0x00}, 0},
        {"masked", {0x82, 0xFF, 0, 0, 0, 0, 0, 0x01, 0x86, 0xA0, 1, 2, 3, 4}, 0},
        {"between frames", {}, 0},
    };
    for (const auto& c : roomCases) {
        FrameReader reader;
        EXPECT_EQ(reader.feed(c.header).consumed, c.header.size()) << c.name;
        EXPECT_EQ(reader.payloadRoom().size(), c.room) << c.name;
        // A room given back unused leaves nothing behind.
        EXPECT_FALSE(reader.payloadWritten(0)) << c.name;
    }
}

TEST(FrameReader, StopsInsideAFrameAndResumesWhereItLeftOff) {
    FrameReader reader;
    const Bytes input = frame(true, kOpText, std::string(300, 'z'), &kKey);
    auto step = reader.feed(std::span(input).first(3));  // first byte, length marker, half the length
    EXPECT_EQ(step.consumed, 3u);
    EXPECT_FALSE(step.event);
    EXPECT_FALSE(reader.idle());
    step = reader.feed(std::span(input).subspan(3));
    ASSERT_TRUE(step.event);
    EXPECT_EQ(step.consumed, input.size() - 3);
    EXPECT_EQ(std::string(step.event->payload.begin(), step.event->payload.end()), std::string(300, 'z'));
}

TEST(FrameReader, OneEventPerCallLeavesTheRestForTheCaller) {
    FrameReader reader;
    const Bytes input = join({frame(true, kOpText, "one"), frame(true, kOpText, "two")});
    const auto step = reader.feed(input);
    ASSERT_TRUE(step.event);
    EXPECT_EQ(step.consumed, 5u);
}

TEST(FrameReader, ResetForgetsAHalfParsedMessage) {
    FrameReader reader({.bufferMessage = true});
    run(reader, join({frame(false, kOpText, "old"), Bytes{0x80, 0x05, 'x'}}));
    reader.reset();
    EXPECT_EQ(run(reader, frame(true, kOpBinary, "new")), (std::vector<Seen>{data(2, true, "new")}));
}

TEST(FrameReader, AMillionSmallFramesInOneReadAreAllDelivered) {
    Bytes input;
    const Bytes one = frame(true, kOpText, "0123456789abcdef");
    for (int i = 0; i < 1'000'000; ++i) input.insert(input.end(), one.begin(), one.end());
    FrameReader reader;
    std::size_t events = 0, offset = 0;
    while (offset < input.size()) {
        const auto step = reader.feed(std::span(input).subspan(offset));
        offset += step.consumed;
        events += step.event ? 1 : 0;
    }
    EXPECT_EQ(events, 1'000'000u);
}

// --- strict ------------------------------------------------------------------

TEST(FrameReaderStrict, EachBrokenRuleStopsTheReaderAtItsFirstByteWithTheRfcCloseCode) {
    struct Violation {
        const char* name;
        Bytes input;
        std::size_t deliveredFirst;
        int closeCode;
    };
    Bytes cutShort = frame(true, kOpText, "abc\xFF" + std::string(996, 'x'));
    cutShort.resize(4 + 4);  // the header, then the first bad byte and no more
    const auto close = [](std::string_view payload) { return frame(true, kOpClose, payload); };
    const Violation violations[] = {
        {"RSV1 on text", {0xC1, 0x01, 'r'}, 0, 1002},
        {"RSV2 on a ping", {0xA9, 0x00}, 0, 1002},
        {"RSV3 on binary", join({frame(true, kOpBinary, "ok"), Bytes{0x92, 0x01, 'x'}}), 1, 1002},
        {"reserved data opcode", frame(true, 3, "u3"), 0, 1002},
        {"reserved control opcode", frame(true, 11, ""), 0, 1002},
        {"masked frame", frame(true, kOpText, "m", &kKey), 0, 1002},
        {"ping of 126 bytes", frame(true, kOpPing, std::string(126, 'p')), 0, 1002},
        {"fragmented ping", join({frame(false, kOpPing, "pi"), frame(true, kOpContinuation, "ng")}), 0, 1002},
        {"continuation of nothing", frame(true, kOpContinuation, "c0"), 0, 1002},
        {"new message inside a message", join({frame(false, kOpText, "ab"), frame(true, kOpText, "cd")}), 1, 1002},
        {"overlong text", frame(true, kOpText, "ok\xC0\xAF"), 0, 1007},
        {"surrogate in a later fragment",
         join({frame(false, kOpText, "a\xCE"), frame(false, kOpContinuation, "\xBA"),
               frame(true, kOpContinuation, "\xED\xA0\x80")}),
         2, 1007},
        {"text ending inside a character", frame(true, kOpText, "\xE2\x82"), 0, 1007},
        {"message ending inside a character", join({frame(false, kOpText, "\xE2"), frame(true, kOpContinuation, "")}),
         1, 1007},
        {"bad byte before the frame has all come", cutShort, 0, 1007},
        {"bad byte deep in a long payload",
         frame(true, kOpText, std::string(60000, 'a') + "\xFF" + std::string(39999, 'b')), 0, 1007},
        {"close with one byte", close("\x03"), 0, 1002},
        {"close code 999", close("\x03\xE7"), 0, 1002},
        {"close code 1004", close("\x03\xEC"), 0, 1002},
        {"close code 1005", close("\x03\xED"), 0, 1002},
        {"close code 1006", close("\x03\xEE"), 0, 1002},
        {"close code 1015", close("\x03\xF7"), 0, 1002},
        {"close code 2999", close("\x0B\xB7"), 0, 1002},
        {"close code 5000", close("\x13\x88"), 0, 1002},
        {"close reason not UTF-8", close("\x03\xE8\xFF"), 0, 1007},
    };
    for (const auto& v : violations) {
        for (const std::size_t piece : {0, 1, 5000}) {
            for (const Delivery delivery : {Delivery::fed, Delivery::intoRooms}) {
                FrameReader reader({.strict = true});
                const auto seen = run(reader, v.input, piece, delivery);
                ASSERT_EQ(seen.size(), v.deliveredFirst + 1) << v.name << ", piece " << piece;
                EXPECT_EQ(seen.back().kind, FrameEventKind::kViolation) << v.name;
                EXPECT_TRUE(reader.failed()) << v.name;
            }
        }
        FrameReader reader({.strict = true});
        std::span<const std::uint8_t> rest(v.input);
        std::optional<FrameEvent> last;
        while (!rest.empty() && !reader.failed()) {
            const auto step = reader.feed(rest);
            rest = rest.subspan(step.consumed);
            if (step.event) last = step.event;
        }
        ASSERT_TRUE(last && last->kind == FrameEventKind::kViolation) << v.name;
        EXPECT_EQ(last->violation.closeCode, v.closeCode) << v.name;
    }
}

// --- the size cap ------------------------------------------------------------

TEST(FrameReaderLimits, HugeDeclaredLengthStopsAtTheHeaderWithoutAllocating) {
    FrameReader reader;
    const Bytes header = {0x82, 0x7F, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'x', 'y'};
    const auto step = reader.feed(header);
    ASSERT_TRUE(step.event);
    EXPECT_EQ(step.event->kind, FrameEventKind::kMessageTooBig);
    EXPECT_EQ(step.consumed, 10u);
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.feed(std::span(header).subspan(10)).consumed, 0u);
}

TEST(FrameReaderLimits, CapCountsAllFragmentsOfAMessageAndAllowsExactlyTheCap) {
    struct LimitCase {
        std::uint64_t cap;
        Bytes input;
        bool tooBig;
    };
    const LimitCase limitCases[] = {
        {10, frame(true, kOpText, std::string(10, 'a')), false},
        {10, frame(true, kOpText, std::string(11, 'a')), true},
        {10, join({frame(false, kOpText, "123456"), frame(true, kOpContinuation, "7890")}), false},
        {10, join({frame(false, kOpText, "123456"), frame(true, kOpContinuation, "78901")}), true},
        {2, frame(true, kOpPing, "abc"), true},
        // Each message starts its count afresh.
        {4, join({frame(true, kOpText, "1234"), frame(true, kOpText, "5678")}), false},
    };
    for (const auto& c : limitCases) {
        for (std::size_t piece : {0, 1}) {
            FrameReader reader({.maxMessageSize = c.cap});
            const auto seen = run(reader, c.input, piece);
            const bool tooBig = !seen.empty() && seen.back().kind == FrameEventKind::kMessageTooBig;
            EXPECT_EQ(tooBig, c.tooBig) << c.cap << " piece " << piece;
        }
    }
}

}  // namespace
}  // namespace morvane::websocket
