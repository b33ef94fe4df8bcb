// The socket engine's receive buffer: any bytes, cut into reads of any size,
// with any end-of-line string, capacity and SplitCRLF. What goes up plus the
// terminators it dropped must be exactly what came in, and no piece may be
// longer than the buffer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "control/transport/line_buffer.h"

using morvane::LineBuffer;

namespace {

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string withoutLineEnds(std::string text) {
    std::erase_if(text, isLineEnd);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Header: flags, capacity (2 bytes), end-of-line length, read-size stir.
    if (size < 5) return 0;
    const bool splitCrlf = data[0] & 1;
    const bool lineMode = data[0] & 2;
    const std::size_t capacity = (static_cast<std::size_t>(data[1]) << 8 | data[2]) % 300 + 1;
    const std::size_t endOfLineLength = lineMode ? data[3] % 4 + 1 : 0;
    std::size_t stir = data[4];
    std::span<const std::uint8_t> rest(data + 5, size - 5);
    if (rest.size() < endOfLineLength) return 0;
    const std::string endOfLine(reinterpret_cast<const char*>(rest.data()), endOfLineLength);
    rest = rest.subspan(endOfLineLength);

    LineBuffer buffer(capacity);
    buffer.setEndOfLine(endOfLine);
    buffer.setSplitCrlf(splitCrlf);

    std::string rebuilt;
    const auto take = [&](const LineBuffer::Piece& piece) {
        if (piece.bytes.size() > std::max(capacity, LineBuffer::streamReadSize)) std::abort();
        if (lineMode && piece.bytes.size() > capacity) std::abort();
        rebuilt.append(reinterpret_cast<const char*>(piece.bytes.data()), piece.bytes.size());
        if (piece.endOfLine && !splitCrlf) rebuilt += endOfLine;
    };

    std::size_t offset = 0;
    while (offset < rest.size()) {
        while (auto piece = buffer.next()) take(*piece);
        auto space = buffer.freeSpace();
        if (space.empty()) {
            auto piece = buffer.takeRest(false);
            if (!piece) std::abort();  // full yet nothing to hand up: it would stall
            take(*piece);
            continue;
        }
        stir = stir * 1103515245 + 12345;
        const std::size_t read = std::min({space.size(), rest.size() - offset, (stir >> 8) % 17 + 1});
        std::memcpy(space.data(), rest.data() + offset, read);
        buffer.commit(read);
        offset += read;
    }
    while (auto piece = buffer.next()) take(*piece);
    if (auto piece = buffer.takeRest(true)) take(*piece);
    if (!buffer.empty()) std::abort();

    const std::string input(reinterpret_cast<const char*>(rest.data()), rest.size());
    const bool same = (lineMode && splitCrlf) ? withoutLineEnds(rebuilt) == withoutLineEnds(input) : rebuilt == input;
    if (!same) std::abort();
    return 0;
}
