#include "control/websocket/utf8.h"

#include <array>
#include <cstring>

namespace morvane::websocket {
namespace {

// A table-driven automaton over RFC 3629's byte ranges. Each byte falls in
// one of twelve classes; a state says what the current character still
// needs.
enum Class : std::uint8_t {
    kAscii,   // 00..7F
    kTail80,  // 80..8F
    kTail90,  // 90..9F
    kTailA0,  // A0..BF
    kNever,   // C0 C1 F5..FF
    kLead2,   // C2..DF
    kLeadE0,  // E0: second byte A0..BF (no overlong forms)
    kLead3,   // E1..EC EE EF
    kLeadED,  // ED: second byte 80..9F (no surrogates)
    kLeadF0,  // F0: second byte 90..BF (no overlong forms)
    kLead4,   // F1..F3
    kLeadF4,  // F4: second byte 80..8F (nothing above U+10FFFF)
    kClasses
};

enum State : std::uint8_t {
    kAccept = Utf8Validator::kAccept,
    kReject = Utf8Validator::kReject,
    kNeed1,    // one tail byte to come
    kNeed2,    // two
    kAfterE0,  // A0..BF, then one
    kAfterED,  // 80..9F, then one
    kNeed3,    // three
    kAfterF0,  // 90..BF, then two
    kAfterF4,  // 80..8F, then two
    kStates
};

struct ByteRange {
    std::uint8_t first, last;
    Class of;
};
constexpr ByteRange byteRanges[] = {
    {0x00, 0x7F, kAscii},  {0x80, 0x8F, kTail80}, {0x90, 0x9F, kTail90}, {0xA0, 0xBF, kTailA0}, {0xC0, 0xC1, kNever},
    {0xC2, 0xDF, kLead2},  {0xE0, 0xE0, kLeadE0}, {0xE1, 0xEC, kLead3},  {0xED, 0xED, kLeadED}, {0xEE, 0xEF, kLead3},
    {0xF0, 0xF0, kLeadF0}, {0xF1, 0xF3, kLead4},  {0xF4, 0xF4, kLeadF4}, {0xF5, 0xFF, kNever},
};

constexpr std::array<std::uint8_t, 256> classes = [] {
    std::array<std::uint8_t, 256> table{};
    for (const ByteRange& range : byteRanges) {
        for (int b = range.first; b <= range.last; ++b) table[static_cast<std::size_t>(b)] = range.of;
    }
    return table;
}();

// next[state][class]: the state a byte of that class leads to.
constexpr auto next = [] {
    constexpr std::uint8_t A = kAccept, X = kReject, N1 = kNeed1, N2 = kNeed2, N3 = kNeed3, E0 = kAfterE0,
                           ED = kAfterED, F0 = kAfterF0, F4 = kAfterF4;
    using Row = std::array<std::uint8_t, kClasses>;
    return std::array<Row, kStates>{{
        // clang-format off
        //              Ascii   Tail80  Tail90  TailA0  Never   Lead2   LeadE0  Lead3   LeadED  LeadF0  Lead4   LeadF4
        /* kAccept  */ {A,      X,      X,      X,      X,      N1,     E0,     N2,     ED,     F0,     N3,     F4},
        /* kReject  */ {X,      X,      X,      X,      X,      X,      X,      X,      X,      X,      X,      X},
        /* kNeed1   */ {X,      A,      A,      A,      X,      X,      X,      X,      X,      X,      X,      X},
        /* kNeed2   */ {X,      N1,     N1,     N1,     X,      X,      X,      X,      X,      X,      X,      X},
        /* kAfterE0 */ {X,      X,      X,      N1,     X,      X,      X,      X,      X,      X,      X,      X},
        /* kAfterED */ {X,      N1,     N1,     X,      X,      X,      X,      X,      X,      X,      X,      X},
        /* kNeed3   */ {X,      N2,     N2,     N2,     X,      X,      X,      X,      X,      X,      X,      X},
        /* kAfterF0 */ {X,      X,      N2,     N2,     X,      X,      X,      X,      X,      X,      X,      X},
        /* kAfterF4 */ {X,      N2,     X,      X,      X,      X,      X,      X,      X,      X,      X,      X},
        // clang-format on
    }};
}();

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

std::uint8_t run(std::uint8_t state, const std::uint8_t* p, const std::uint8_t* end) {
    while (p < end) {
        // Between characters, plain ASCII goes sixteen bytes at a time: the
        // usual text payload never meets the table.
        if (state == kAccept) {
            while (end - p >= 16) {
                std::uint64_t a, b;
                std::memcpy(&a, p, 8);
                std::memcpy(&b, p + 8, 8);
                if (((a | b) & kHighBits) != 0) break;
                p += 16;
            }
            if (p == end) break;
        }
        state = next[state][classes[*p++]];
        if (state == kReject) break;
    }
    return state;
}

}  // namespace

bool isValidUtf8(std::span<const std::uint8_t> bytes) {
    return run(kAccept, bytes.data(), bytes.data() + bytes.size()) == kAccept;
}

bool Utf8Validator::feed(std::span<const std::uint8_t> bytes) {
    if (state_ != kReject) state_ = run(state_, bytes.data(), bytes.data() + bytes.size());
    return state_ != kReject;
}

std::size_t utf8PrefixLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t cut = limit;
    // Step back over continuation bytes to the start of the cut character.
    while (cut > 0 && (static_cast<std::uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

}  // namespace morvane::websocket
