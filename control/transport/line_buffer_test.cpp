#include "control/transport/line_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace morvane {
namespace {

struct Delivered {
    std::string bytes;
    bool endOfLine;
    bool operator==(const Delivered&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Delivered& d) {
    return out << '"' << d.bytes << '"' << (d.endOfLine ? "+eol" : "");
}

// Feeds `reads` one at a time, as the engine does: deliver what is ready,
// receive, and when the buffer is full hand up its content.
std::vector<Delivered> feed(LineBuffer& buffer, const std::vector<std::string>& reads, bool endOfStream = false) {
    std::vector<Delivered> out;
    const auto take = [&](const LineBuffer::Piece& p) {
        out.push_back({std::string(reinterpret_cast<const char*>(p.bytes.data()), p.bytes.size()), p.endOfLine});
    };
    while (auto piece = buffer.next()) take(*piece);
    for (const std::string& read : reads) {
        std::size_t offset = 0;
        while (offset < read.size()) {
            while (auto piece = buffer.next()) take(*piece);
            auto space = buffer.freeSpace();
            if (space.empty()) {
                if (auto rest = buffer.takeRest(false)) take(*rest);
                continue;
            }
            const std::size_t n = std::min(space.size(), read.size() - offset);
            std::memcpy(space.data(), read.data() + offset, n);
            buffer.commit(n);
            offset += n;
        }
        while (auto piece = buffer.next()) take(*piece);
    }
    if (endOfStream) {
        if (auto rest = buffer.takeRest(true)) take(*rest);
    }
    return out;
}

TEST(LineBufferTest, EndOfLineStringSplitsAcrossReads) {
    LineBuffer buffer;
    buffer.setEndOfLine("\r\n");
    EXPECT_EQ(feed(buffer, {"HTTP/1.1 101 OK\r", "\nUpgrade: websocket\r\n\r", "\nrest"}),
              (std::vector<Delivered>{{"HTTP/1.1 101 OK", true}, {"Upgrade: websocket", true}, {"", true}}));
    // The incomplete rest waits, and goes up at the end of the stream.
    EXPECT_EQ(buffer.size(), 4u);
    EXPECT_EQ(feed(buffer, {}, true), (std::vector<Delivered>{{"rest", false}}));
    EXPECT_TRUE(buffer.empty());
}

TEST(LineBufferTest, ByteAtATimeArrival) {
    LineBuffer buffer;
    buffer.setEndOfLine("END");
    std::vector<std::string> reads;
    for (char c : std::string("oneENDtwoENENDthree")) reads.emplace_back(1, c);
    EXPECT_EQ(feed(buffer, reads, true), (std::vector<Delivered>{{"one", true}, {"twoEN", true}, {"three", false}}));
}

TEST(LineBufferTest, SplitCrlfTakesEitherByteAndPairsAcrossReads) {
    LineBuffer buffer;
    buffer.setEndOfLine("\n");
    buffer.setSplitCrlf(true);
    // a CR | LF b CR LF: the LF completing the first pair is no empty line.
    EXPECT_EQ(feed(buffer, {"a\r", "\nb\r\n"}), (std::vector<Delivered>{{"a", true}, {"b", true}}));
    // LF CR pairs too; CR CR is two ends of line; a lone LF ends one.
    EXPECT_EQ(feed(buffer, {"c\n\rd\r\re\nf"}),
              (std::vector<Delivered>{{"c", true}, {"d", true}, {"", true}, {"e", true}}));
    EXPECT_EQ(feed(buffer, {}, true), (std::vector<Delivered>{{"f", false}}));
}

TEST(LineBufferTest, StreamModeHandsUpEverythingAtOnce) {
    LineBuffer buffer;
    EXPECT_EQ(feed(buffer, {"ab\r\ncd", "ef"}), (std::vector<Delivered>{{"ab\r\ncd", false}, {"ef", false}}));
    // SplitCRLF only shapes lines; raw bytes pass untouched.
    buffer.setSplitCrlf(true);
    EXPECT_EQ(feed(buffer, {"\r\n\0x"}), (std::vector<Delivered>{{"\r\n", false}}));
}

TEST(LineBufferTest, StreamModeReadsMoreThanALineAtATime) {
    LineBuffer buffer(16);
    EXPECT_EQ(buffer.freeSpace().size(), LineBuffer::streamReadSize);
    buffer.setEndOfLine("\n");
    EXPECT_EQ(buffer.freeSpace().size(), 16u);
}

TEST(LineBufferTest, FullBufferWithoutALineGoesUpWhole) {
    LineBuffer buffer(8);
    buffer.setEndOfLine("\n");
    EXPECT_EQ(feed(buffer, {"0123456789ab\nz"}), (std::vector<Delivered>{{"01234567", false}, {"89ab", true}}));
    EXPECT_EQ(feed(buffer, {}, true), (std::vector<Delivered>{{"z", false}}));
}

TEST(LineBufferTest, FullBufferKeepsBackAStartedTerminator) {
    LineBuffer buffer(6);
    buffer.setEndOfLine("\r\n");
    // The CR at the end of the full buffer waits for its LF.
    EXPECT_EQ(feed(buffer, {"abcde\r", "\nx\r\n"}),
              (std::vector<Delivered>{{"abcde", false}, {"", true}, {"x", true}}));
}

TEST(LineBufferTest, CapacityIsClampedAndClearsTheBuffer) {
    LineBuffer buffer;
    buffer.setEndOfLine("\n");
    feed(buffer, {"partial"});
    EXPECT_EQ(buffer.size(), 7u);
    buffer.setCapacity(1'000'000);
    EXPECT_EQ(buffer.capacity(), LineBuffer::largestCapacity);
    EXPECT_TRUE(buffer.empty());
    buffer.setCapacity(0);
    EXPECT_EQ(buffer.capacity(), 1u);
    // One byte of room still makes progress.
    EXPECT_EQ(feed(buffer, {"ab\n"}), (std::vector<Delivered>{{"a", false}, {"b", false}, {"", true}}));
}

TEST(LineBufferTest, ManySmallLinesInOneReadAreConsumedInPlace) {
    LineBuffer buffer(LineBuffer::largestCapacity);
    buffer.setEndOfLine("\n");
    std::string read;
    for (int i = 0; i < 20000; ++i) read += "x\n";
    const auto lines = feed(buffer, {read});
    EXPECT_EQ(lines.size(), 20000u);
    EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [](const Delivered& d) { return d == Delivered{"x", true}; }));
}

TEST(LineBufferTest, ChangingTheEndOfLineAppliesToWhatIsBuffered) {
    LineBuffer buffer;
    buffer.setEndOfLine("\n");
    EXPECT_EQ(feed(buffer, {"line\nframe-bytes"}), (std::vector<Delivered>{{"line", true}}));
    buffer.setEndOfLine("");
    EXPECT_EQ(feed(buffer, {}), (std::vector<Delivered>{{"frame-bytes", false}}));
}

}  // namespace
}  // namespace morvane
