#include "control/transport/line_buffer.h"

#include <algorithm>
#include <cstring>

namespace morvane {
namespace {

constexpr std::uint8_t cr = '\r';
constexpr std::uint8_t lf = '\n';

std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace

LineBuffer::LineBuffer(std::size_t capacity) : capacity_(defaultCapacity) { setCapacity(capacity); }

void LineBuffer::clear() {
    begin_ = 0;
    end_ = 0;
    scanned_ = 0;
    pairedByte_ = 0;
}

void LineBuffer::setCapacity(std::size_t capacity) {
    capacity_ = std::clamp<std::size_t>(capacity, 1, largestCapacity);
    clear();
}

void LineBuffer::setEndOfLine(std::string_view endOfLine) {
    endOfLine_ = endOfLine;
    scanned_ = 0;
    pairedByte_ = 0;
}

void LineBuffer::setSplitCrlf(bool split) {
    if (split == splitCrlf_) return;
    splitCrlf_ = split;
    scanned_ = 0;
    pairedByte_ = 0;
}

std::span<std::uint8_t> LineBuffer::freeSpace() {
    const std::size_t limit = readLimit();
    if (begin_ > 0) {
        std::memmove(storage_.data(), storage_.data() + begin_, size());
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ >= limit) return {};
    if (storage_.size() < limit) storage_.resize(limit);
    return {storage_.data() + end_, limit - end_};
}

void LineBuffer::commit(std::size_t count) { end_ = std::min(end_ + count, storage_.size()); }

std::optional<LineBuffer::Piece> LineBuffer::consume(std::size_t length, std::size_t terminatorLength, bool endOfLine) {
    Piece piece{{storage_.data() + begin_, length}, endOfLine};
    begin_ += length + terminatorLength;
    scanned_ = 0;
    if (begin_ == end_) {
        // The bytes stay where they are, so the piece is still good.
        begin_ = 0;
        end_ = 0;
    }
    return piece;
}

void LineBuffer::skipPairedByte() {
    if (pairedByte_ == 0 || empty()) return;
    if (storage_[begin_] == pairedByte_) {
        ++begin_;
        if (begin_ == end_) begin_ = end_ = 0;
    }
    pairedByte_ = 0;
}

std::optional<LineBuffer::Piece> LineBuffer::nextLine() {
    if (splitCrlf_) skipPairedByte();
    if (empty()) return std::nullopt;
    const std::uint8_t* data = storage_.data() + begin_;
    const std::size_t available = size();

    if (splitCrlf_) {
        const auto* found =
            std::find_if(data + scanned_, data + available, [](std::uint8_t byte) { return byte == cr || byte == lf; });
        if (found == data + available) {
            scanned_ = available;
            return std::nullopt;
        }
        pairedByte_ = *found == cr ? lf : cr;
        return consume(static_cast<std::size_t>(found - data), 1, true);
    }

    const std::size_t at = asText(data, available).find(endOfLine_, scanned_);
    if (at == std::string_view::npos) {
        // A terminator may have begun in the last bytes; look there again.
        const std::size_t overlap = endOfLine_.size() - 1;
        scanned_ = available > overlap ? available - overlap : 0;
        return std::nullopt;
    }
    return consume(at, endOfLine_.size(), true);
}

std::optional<LineBuffer::Piece> LineBuffer::next() {
    if (lineMode()) return nextLine();
    if (empty()) return std::nullopt;
    return consume(size(), 0, false);
}

std::optional<LineBuffer::Piece> LineBuffer::takeRest(bool finalRest) {
    if (empty()) return std::nullopt;
    std::size_t keep = 0;
    if (!finalRest && lineMode() && !splitCrlf_) {
        // The longest tail that the next bytes could turn into a terminator,
        // always leaving at least one byte to hand up.
        const std::string_view unread = asText(storage_.data() + begin_, size());
        for (std::size_t k = std::min(endOfLine_.size() - 1, unread.size() - 1); k > 0; --k) {
            if (unread.substr(unread.size() - k) == std::string_view(endOfLine_).substr(0, k)) {
                keep = k;
                break;
            }
        }
    }
    return consume(size() - keep, 0, false);
}

}  // namespace morvane
