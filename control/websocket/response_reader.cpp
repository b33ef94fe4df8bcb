#include "control/websocket/response_reader.h"

#include <algorithm>
#include <charconv>

#include "control/engine/ascii.h"

namespace morvane::websocket {
namespace {

constexpr std::string_view kMalformedStatusLine = "HTTP protocol error. Malformed status line.";
constexpr std::string_view kLineTooLong = "HTTP protocol error. Header line too long.";
constexpr std::string_view kTooManyHeaders = "HTTP protocol error. Too many headers.";
constexpr std::string_view kBadContentLength = "HTTP protocol error. Invalid Content-Length.";
constexpr std::string_view kBadChunk = "HTTP protocol error. Invalid chunked encoding.";
constexpr std::string_view kBodyTooLarge = "HTTP protocol error. Response body too large.";
constexpr std::string_view kCutShort = "HTTP protocol error. Connection closed before the response was complete.";

bool endsWithChunked(std::string_view codings) {
    // The last transfer coding decides; "gzip, chunked" is chunked.
    const auto comma = codings.rfind(',');
    const std::string_view last = trimBlanks(comma == std::string_view::npos ? codings : codings.substr(comma + 1));
    return equalsNoCase(last, "chunked");
}

}  // namespace

void ResponseReader::reset() { *this = ResponseReader(limits_); }

std::string_view ResponseReader::header(std::string_view name) const {
    for (const auto& h : headers_) {
        if (equalsNoCase(h.name, name)) return h.value;
    }
    return {};
}

void ResponseReader::fail(std::string_view text) {
    state_ = State::kFailed;
    errorCode_ = errc::httpProtocol;
    errorText_ = std::string(text);
}

// Collects one line ending in LF (a CR before it is dropped). Returns true
// with the line in `line` when it is complete.
bool ResponseReader::takeLine(std::string_view bytes, std::size_t& pos, std::string& line) {
    const auto newline = bytes.find('\n', pos);
    const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline;
    if (line_.size() + (end - pos) > limits_.maxLineLength) {
        fail(kLineTooLong);
        return false;
    }
    line_.append(bytes.substr(pos, end - pos));
    if (newline == std::string_view::npos) {
        pos = bytes.size();
        return false;
    }
    pos = newline + 1;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    line.swap(line_);
    line_.clear();
    return true;
}

std::size_t ResponseReader::feed(std::string_view bytes) {
    std::size_t pos = 0;
    std::string line;
    while (pos < bytes.size()) {
        switch (state_) {
            case State::kComplete:
            case State::kFailed: return pos;
            case State::kStatusLine: {
                const std::size_t before = pos;
                const bool done = takeLine(bytes, pos, line);
                headerBytes_ += pos - before;
                if (done) statusLineDone(line);
                break;
            }
            case State::kHeaders: {
                const std::size_t before = pos;
                const bool done = takeLine(bytes, pos, line);
                headerBytes_ += pos - before;
                if (headerBytes_ > limits_.maxHeaderBytes) {
                    fail(kTooManyHeaders);
                    break;
                }
                if (!done) break;
                if (line.empty()) {
                    flushPendingHeader();
                    headersEnded();
                } else {
                    headerLineDone(line);
                }
                break;
            }
            case State::kBody:
                if (bodyMode_ == BodyMode::kLength ||
                    (bodyMode_ == BodyMode::kChunked && chunkStage_ == ChunkStage::kData)) {
                    const std::size_t take =
                        static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, bytes.size() - pos));
                    appendBody(bytes.substr(pos, take));
                    pos += take;
                    remaining_ -= take;
                    if (remaining_ == 0 && state_ == State::kBody) {
                        if (bodyMode_ == BodyMode::kLength) {
                            state_ = State::kComplete;
                        } else {
                            chunkStage_ = ChunkStage::kDataEnd;
                        }
                    }
                } else if (bodyMode_ == BodyMode::kChunked) {
                    if (takeLine(bytes, pos, line)) chunkLineDone(line);
                } else {
                    appendBody(bytes.substr(pos));
                    pos = bytes.size();
                }
                break;
        }
    }
    return pos;
}

void ResponseReader::endOfInput() {
    if (state_ == State::kBody && bodyMode_ == BodyMode::kUntilClose) {
        state_ = State::kComplete;
    } else if (state_ != State::kComplete && state_ != State::kFailed) {
        fail(kCutShort);
    }
}

void ResponseReader::statusLineDone(std::string_view line) {
    if (line.empty()) return;  // stray empty lines before a response are skipped
    // HTTP/x.y SP code [SP reason]
    const auto space = line.find(' ');
    if (!line.starts_with("HTTP/") || space == std::string_view::npos) {
        fail(kMalformedStatusLine);
        return;
    }
    std::string_view rest = line.substr(space + 1);
    while (rest.starts_with(' ')) rest.remove_prefix(1);
    int code = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + std::min<std::size_t>(rest.size(), 3), code);
    if (ec != std::errc() || end != rest.data() + 3 || (rest.size() > 3 && rest[3] != ' ')) {
        fail(kMalformedStatusLine);
        return;
    }
    statusLine_ = std::string(line);
    statusCode_ = code;
    reason_ = rest.size() > 4 ? std::string(rest.substr(4)) : std::string();
    state_ = State::kHeaders;
}

void ResponseReader::headerLineDone(std::string_view line) {
    transferred_.append(line).append("\r\n");
    if ((line.front() == ' ' || line.front() == '\t') && pendingHeader_) {
        // A folded line continues the previous header's value.
        const std::string_view more = trimBlanks(line);
        if (!more.empty()) {
            if (!pending_.value.empty()) pending_.value.push_back(' ');
            pending_.value.append(more);
        }
        return;
    }
    flushPendingHeader();
    if (headers_.size() >= limits_.maxHeaderCount) {
        fail(kTooManyHeaders);
        return;
    }
    const auto colon = line.find(':');
    pending_.name = std::string(trimBlanks(line.substr(0, colon)));
    pending_.value = colon == std::string_view::npos ? std::string() : std::string(trimBlanks(line.substr(colon + 1)));
    pendingHeader_ = true;
}

void ResponseReader::flushPendingHeader() {
    if (!pendingHeader_) return;
    headers_.push_back(std::move(pending_));
    pending_ = {};
    pendingHeader_ = false;
}

void ResponseReader::headersEnded() {
    if (statusCode_ >= 100 && statusCode_ < 200 && statusCode_ != 101) {
        // An interim response (100 Continue and the like): the real one follows.
        statusLine_.clear();
        reason_.clear();
        statusCode_ = 0;
        headers_.clear();
        transferred_.clear();
        headerBytes_ = 0;
        state_ = State::kStatusLine;
        return;
    }
    if (statusCode_ == 101 || statusCode_ == 204 || statusCode_ == 304) {
        state_ = State::kComplete;
        return;
    }
    state_ = State::kBody;
    bool sawLength = false;
    std::uint64_t length = 0;
    for (const auto& h : headers_) {
        if (equalsNoCase(h.name, "Transfer-Encoding") && endsWithChunked(h.value)) {
            bodyMode_ = BodyMode::kChunked;
            chunkStage_ = ChunkStage::kSize;
            return;
        }
    }
    for (const auto& h : headers_) {
        if (!equalsNoCase(h.name, "Content-Length")) continue;
        std::uint64_t value = 0;
        const auto [end, ec] = std::from_chars(h.value.data(), h.value.data() + h.value.size(), value);
        if (h.value.empty() || ec != std::errc() || end != h.value.data() + h.value.size() ||
            (sawLength && value != length)) {
            fail(kBadContentLength);
            return;
        }
        sawLength = true;
        length = value;
    }
    if (sawLength) {
        if (length > limits_.maxBodySize) {
            fail(kBodyTooLarge);
            return;
        }
        bodyMode_ = BodyMode::kLength;
        remaining_ = length;
        if (length == 0) state_ = State::kComplete;
        return;
    }
    bodyMode_ = BodyMode::kUntilClose;
}

void ResponseReader::chunkLineDone(std::string_view line) {
    switch (chunkStage_) {
        case ChunkStage::kSize: {
            std::string_view digits = trimBlanks(line.substr(0, line.find(';')));
            std::uint64_t size = 0;
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size, 16);
            if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
                fail(kBadChunk);
                return;
            }
            if (size > limits_.maxBodySize - body_.size()) {
                fail(kBodyTooLarge);
                return;
            }
            remaining_ = size;
            chunkStage_ = size == 0 ? ChunkStage::kTrailer : ChunkStage::kData;
            return;
        }
        case ChunkStage::kDataEnd:
            if (!line.empty()) {
                fail(kBadChunk);
                return;
            }
            chunkStage_ = ChunkStage::kSize;
            return;
        case ChunkStage::kTrailer:
            // Trailer fields are read and dropped; they count against the header bound.
            headerBytes_ += line.size() + 2;
            if (headerBytes_ > limits_.maxHeaderBytes) {
                fail(kTooManyHeaders);
            } else if (line.empty()) {
                state_ = State::kComplete;
            }
            return;
        case ChunkStage::kData: return;
    }
}

void ResponseReader::appendBody(std::string_view bytes) {
    if (bytes.size() > limits_.maxBodySize - body_.size()) {
        fail(kBodyTooLarge);
        return;
    }
    body_.append(bytes);
}

}  // namespace morvane::websocket
