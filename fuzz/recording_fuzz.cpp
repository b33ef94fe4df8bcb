// Feeds arbitrary bytes to the recording reader (what taltrix --record
// writes and a support request brings back), and checks what must hold
// whatever the file holds: pieces inside the data, within the limits, times
// never going back; and the pieces, written again, read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bridge/record/recording_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace taltrix::record;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Recording read = readRecording(bytes);
    if (read.readUpTo > size) std::abort();
    std::uint64_t previous = 0;
    std::string again = headerLine(read.started);
    for (const RecordedPiece& piece : read.pieces) {
        if (piece.bytes.empty() || piece.bytes.size() > maxPieceLength) std::abort();
        if (piece.bytes.data() < bytes.data() || piece.bytes.data() + piece.bytes.size() > bytes.data() + size) {
            std::abort();
        }
        if (piece.microseconds < previous) std::abort();
        previous = piece.microseconds;
        appendRecord(again, piece.microseconds, piece.bytes);
    }
    if (read.version != recordingVersion || read.started.find('\n') != std::string::npos) return 0;
    const Recording reread = readRecording(again);
    if (reread.end != RecordingEnd::complete || reread.pieces.size() != read.pieces.size()) std::abort();
    for (std::size_t i = 0; i < read.pieces.size(); ++i) {
        if (reread.pieces[i].bytes != read.pieces[i].bytes) std::abort();
    }
    return 0;
}
