// Resumable reader of the HTTP/1.1 response to the upgrade request. Bytes go
// in as they arrive, in pieces of any size; the reader stops consuming at the
// end of the response, so that bytes after a 101's empty line are left for
// the WebSocket layer. Every line, the header count and size and the body
// are bounded; no length from the wire is trusted for an allocation.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/engine/engine_errors.h"

namespace morvane::websocket {

struct ResponseLimits {
    std::size_t maxLineLength = 8192;
    std::size_t maxHeaderCount = 100;
    std::size_t maxHeaderBytes = 64 * 1024;
    std::size_t maxBodySize = 4 * 1024 * 1024;
};

struct HttpHeader {
    std::string name;
    std::string value;
};

class ResponseReader {
public:
    enum class State { kStatusLine, kHeaders, kBody, kComplete, kFailed };

    explicit ResponseReader(ResponseLimits limits = {}) : limits_(limits) {}

    // Consumes bytes up to the end of the response and returns how many.
    std::size_t feed(std::string_view bytes);
    // The connection ended: completes a body that runs to the close, and
    // fails a response that was cut short.
    void endOfInput();
    void reset();

    State state() const { return state_; }
    bool complete() const { return state_ == State::kComplete; }
    bool failed() const { return state_ == State::kFailed; }
    bool headersDone() const { return state_ == State::kBody || state_ == State::kComplete; }
    int errorCode() const { return errorCode_; }
    const std::string& errorText() const { return errorText_; }

    const std::string& statusLine() const { return statusLine_; }
    int statusCode() const { return statusCode_; }
    const std::string& reasonPhrase() const { return reason_; }
    // Headers in arrival order; a header appears once its line (with any
    // folded continuation) is finished, so callers may raise one event per
    // new entry after each feed.
    const std::vector<HttpHeader>& headers() const { return headers_; }
    // Every header line as received, each followed by CR LF.
    const std::string& transferredHeaders() const { return transferred_; }
    const std::string& body() const { return body_; }
    // The first header of that name (any letter case); empty when missing.
    std::string_view header(std::string_view name) const;

private:
    enum class BodyMode { kNone, kLength, kChunked, kUntilClose };
    enum class ChunkStage { kSize, kData, kDataEnd, kTrailer };

    bool takeLine(std::string_view bytes, std::size_t& pos, std::string& line);
    void statusLineDone(std::string_view line);
    void headerLineDone(std::string_view line);
    void flushPendingHeader();
    void headersEnded();
    void chunkLineDone(std::string_view line);
    void appendBody(std::string_view bytes);
    void fail(std::string_view text);

    ResponseLimits limits_;
    State state_ = State::kStatusLine;
    int errorCode_ = 0;
    std::string errorText_;
    std::string line_;
    std::size_t headerBytes_ = 0;

    std::string statusLine_;
    int statusCode_ = 0;
    std::string reason_;
    std::vector<HttpHeader> headers_;
    bool pendingHeader_ = false;
    HttpHeader pending_;
    std::string transferred_;

    BodyMode bodyMode_ = BodyMode::kNone;
    std::uint64_t remaining_ = 0;
    ChunkStage chunkStage_ = ChunkStage::kSize;
    std::string body_;
};

}  // namespace morvane::websocket
