#include "control/websocket/frame_writer.h"

#include <algorithm>
#include <cstring>

namespace morvane::websocket {

std::size_t frameHeaderSize(std::uint64_t payloadLength, bool masked) {
    std::size_t size = 2;
    if (payloadLength > 65535) {
        size += 8;
    } else if (payloadLength > 125) {
        size += 2;
    }
    return size + (masked ? 4 : 0);
}

void appendFrame(FrameBuffer& out, const FrameHeader& header, std::span<const std::uint8_t> payload) {
    const std::uint64_t length = payload.size();
    std::uint8_t head[14];
    std::uint8_t* p = head;
    *p++ = static_cast<std::uint8_t>((header.fin ? 0x80 : 0) | (header.rsv1 ? 0x40 : 0) | (header.rsv2 ? 0x20 : 0) |
                                     (header.rsv3 ? 0x10 : 0) | (header.opcode & 0x0F));
    const std::uint8_t maskBit = header.masked ? 0x80 : 0;
    if (length <= 125) {
        *p++ = static_cast<std::uint8_t>(maskBit | length);
    } else if (length <= 65535) {
        *p++ = maskBit | 126;
        *p++ = static_cast<std::uint8_t>(length >> 8);
        *p++ = static_cast<std::uint8_t>(length);
    } else {
        *p++ = maskBit | 127;
        for (int shift = 56; shift >= 0; shift -= 8) *p++ = static_cast<std::uint8_t>(length >> shift);
    }
    if (header.masked) {
        std::memcpy(p, header.key.data(), header.key.size());
        p += header.key.size();
    }
    const std::size_t headSize = static_cast<std::size_t>(p - head);
    out.reserve(out.size() + headSize + payload.size());
    out.append({head, headSize});
    if (!header.masked) {
        out.append(payload);
        return;
    }
    // Masked as it is copied: one pass over the payload.
    const std::size_t start = out.size();
    out.resize(start + payload.size());
    copyMasked(out.data() + start, payload, header.key);
}

MessageFramer::MessageFramer(std::uint8_t opcode, std::span<const std::uint8_t> payload, std::int64_t fragmentSize)
    : opcode_(opcode),
      payload_(payload),
      chunk_(fragmentSize < 1 || static_cast<std::uint64_t>(fragmentSize) >= payload.size()
                 ? std::max<std::size_t>(payload.size(), 1)
                 : static_cast<std::size_t>(fragmentSize)),
      frames_(payload.empty() ? 1 : (payload.size() + chunk_ - 1) / chunk_) {}

bool MessageFramer::drawKeys(RandomSource& random) {
    // One draw for every key of the message keeps the random source's cost per
    // message, not per frame; the keys are still independent.
    const std::size_t size = frames_ * 4;
    if (size <= fewKeys_.size()) {
        keys_ = std::span<std::uint8_t>(fewKeys_).first(size);
    } else {
        manyKeys_.resize(size);
        keys_ = manyKeys_;
    }
    if (random.fill(keys_)) return true;
    keys_ = {};
    return false;
}

std::size_t MessageFramer::totalSize() const {
    std::size_t total = 0;
    for (std::size_t i = 0; i < frames_; ++i) {
        const std::size_t size = std::min(chunk_, payload_.size() - std::min(payload_.size(), i * chunk_));
        total += frameHeaderSize(size, true) + size;
    }
    return total;
}

void MessageFramer::appendNext(FrameBuffer& out) {
    const std::size_t i = next_++;
    const std::size_t offset = std::min(payload_.size(), i * chunk_);
    FrameHeader header;
    header.fin = i + 1 == frames_;
    header.opcode = i == 0 ? opcode_ : std::uint8_t{kOpContinuation};
    std::memcpy(header.key.data(), keys_.data() + i * 4, 4);
    appendFrame(out, header, payload_.subspan(offset, std::min(chunk_, payload_.size() - offset)));
}

int appendMessage(FrameBuffer& out, std::uint8_t opcode, std::span<const std::uint8_t> payload,
                  std::int64_t fragmentSize, RandomSource& random) {
    MessageFramer framer(opcode, payload, fragmentSize);
    if (!framer.drawKeys(random)) return kRandomUnavailable;
    out.reserve(out.size() + framer.totalSize());
    while (!framer.done()) framer.appendNext(out);
    return 0;
}

}  // namespace morvane::websocket
