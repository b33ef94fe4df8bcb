// The socket engine's receive buffer: received bytes wait here until they
// are handed upward, whole lines at a time when an end-of-line string is set.
//
// The buffer has a fixed capacity (MaxLineLength). Bytes are received straight
// into its free part; delivered bytes are consumed from the front, and the
// unread rest is moved back to the start only when more room is needed, so a
// read that holds many lines costs time in proportion to its size.
//
// Line mode is on while an end-of-line string is set. Each line is handed up
// without its terminator. With SplitCRLF, a line ends at any CR or LF instead,
// and a CR LF or LF CR pair counts as one end of line even when its second
// byte arrives in a later read. Without an end-of-line string everything
// received is handed up as it comes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class LineBuffer {
public:
    // The default and largest MaxLineLength.
    static constexpr std::size_t defaultCapacity = 2048;
    static constexpr std::size_t largestCapacity = 65536;
    // Without line mode nothing has to be held back, so reads may be larger
    // than a line: fewer system calls for bulk transfers.
    static constexpr std::size_t streamReadSize = 65536;

    explicit LineBuffer(std::size_t capacity = defaultCapacity);

    struct Piece {
        std::span<const std::uint8_t> bytes;
        // True for a complete line (its terminator dropped), false for bytes
        // handed up without one.
        bool endOfLine = false;
    };

    // Empties the buffer and forgets a half-seen CR LF pair. The capacity is
    // changed only here, as the engine allows it only between connections.
    void clear();
    void setCapacity(std::size_t capacity);
    std::size_t capacity() const { return capacity_; }

    void setEndOfLine(std::string_view endOfLine);
    const std::string& endOfLine() const { return endOfLine_; }
    void setSplitCrlf(bool split);
    bool splitCrlf() const { return splitCrlf_; }
    bool lineMode() const { return !endOfLine_.empty(); }

    // Where the next receive may write: the free part after compaction.
    // Empty when the buffer is full.
    std::span<std::uint8_t> freeSpace();
    // Counts `count` bytes written into the span that freeSpace returned.
    void commit(std::size_t count);

    std::size_t size() const { return end_ - begin_; }
    bool empty() const { return begin_ == end_; }
    bool full() const { return size() >= readLimit(); }

    // The next piece that is ready to go up, consumed from the buffer: a
    // complete line in line mode, everything in stream mode. The bytes stay
    // valid until the next call that changes the buffer.
    std::optional<Piece> next();
    // What next() leaves behind when no more bytes can come or the buffer is
    // full with no line in it: the unread rest as one piece without an end
    // of line. When the buffer is merely full, a tail that could be the start
    // of a split terminator is kept back for the next read.
    std::optional<Piece> takeRest(bool finalRest);

private:
    std::size_t readLimit() const { return lineMode() ? capacity_ : std::max(capacity_, streamReadSize); }
    // Drops a LF (or CR) that completes the pair begun at the end of the
    // previous line, once it is there.
    void skipPairedByte();
    std::optional<Piece> nextLine();
    std::optional<Piece> consume(std::size_t length, std::size_t terminatorLength, bool endOfLine);

    std::vector<std::uint8_t> storage_;
    std::size_t capacity_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    // Unread bytes before begin_ + scanned_ are known to hold no terminator
    // start, so a line that arrives a byte at a time is not searched again
    // from its beginning on every read.
    std::size_t scanned_ = 0;
    std::string endOfLine_;
    bool splitCrlf_ = false;
    // The byte that would complete a CR LF / LF CR pair, 0 for none.
    std::uint8_t pairedByte_ = 0;
};

}  // namespace morvane
