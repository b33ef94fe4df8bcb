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

constexpr std::array<std::uint8_t, 256> classes = [] {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        Class c = kNever;
        if (b < 0x80)
            c = kAscii;
        else if (b < 0x90)
            c = kTail80;
        else if (b < 0xA0)
            c = kTail90;
        else if (b < 0xC0)
            c = kTailA0;
        else if (b < 0xC2)
            c = kNever;
        else if (b < 0xE0)
            c = kLead2;
        else if (b == 0xE0)
            c = kLeadE0;
        else if (b == 0xED)
            c = kLeadED;
        else if (b < 0xF0)
            c = kLead3;
        else if (b == 0xF0)
            c = kLeadF0;
        else if (b < 0xF4)
            c = kLead4;
        else if (b == 0xF4)
            c = kLeadF4;
        table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(c);
    }
    return table;
}();

// next[state * kClasses + class]
constexpr std::size_t kTableSize = std::size_t{kStates} * kClasses;
constexpr std::array<std::uint8_t, kTableSize> next = [] {
    std::array<std::uint8_t, kTableSize> table{};
    table.fill(kReject);
    auto set = [&](State from, Class c, State to) {
        table[static_cast<std::size_t>(from) * kClasses + static_cast<std::size_t>(c)] = to;
    };
    set(kAccept, kAscii, kAccept);
    set(kAccept, kLead2, kNeed1);
    set(kAccept, kLeadE0, kAfterE0);
    set(kAccept, kLead3, kNeed2);
    set(kAccept, kLeadED, kAfterED);
    set(kAccept, kLeadF0, kAfterF0);
    set(kAccept, kLead4, kNeed3);
    set(kAccept, kLeadF4, kAfterF4);
    for (Class tail : {kTail80, kTail90, kTailA0}) {
        set(kNeed1, tail, kAccept);
        set(kNeed2, tail, kNeed1);
        set(kNeed3, tail, kNeed2);
    }
    set(kAfterE0, kTailA0, kNeed1);
    set(kAfterED, kTail80, kNeed1);
    set(kAfterED, kTail90, kNeed1);
    set(kAfterF0, kTail90, kNeed2);
    set(kAfterF0, kTailA0, kNeed2);
    set(kAfterF4, kTail80, kNeed2);
    return table;
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
        state = next[std::size_t{state} * kClasses + classes[*p++]];
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
