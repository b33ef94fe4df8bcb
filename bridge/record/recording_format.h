// The file `taltrix --record FILE` writes: every byte the launch monitor
// sent, in the pieces it arrived in, with the time each piece arrived. Made
// to be attached to a support request and replayed by the ES16 emulator
// (tools/emulators/es16_emulator.py --replay FILE).
//
// The file is one header line of ASCII text, then records to the end:
//
//   header  "TaltrixRecording 1 " UTC start time "\n", e.g.
//           "TaltrixRecording 1 2025-12-08T09:14:03.120Z\n" (at most 200 bytes)
//   record  8 bytes  microseconds since the recording began, little-endian,
//                    never less than the record before's
//           4 bytes  N, the piece's length, little-endian, 1 to 65536
//           N bytes  the piece as it arrived
//
// A recording cut short by a crash keeps every complete record; the reader
// says it was cut.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace taltrix::record {

inline constexpr std::string_view recordingMagic = "TaltrixRecording";
inline constexpr int recordingVersion = 1;
inline constexpr std::size_t maxHeaderLength = 200;
inline constexpr std::size_t maxPieceLength = 65536;
inline constexpr std::size_t recordHeadLength = 12;

// The header line for a recording that began at `startUtc` (ISO 8601).
std::string headerLine(std::string_view startUtc);
// One record, appended to `out`. Pieces longer than maxPieceLength are
// split into several records with the same time.
void appendRecord(std::string& out, std::uint64_t microseconds, std::string_view piece);

struct RecordedPiece {
    std::uint64_t microseconds = 0;
    std::string_view bytes;  // into the data given to the reader
};

enum class RecordingEnd {
    complete,       // every byte read
    cutShort,       // the last record stops early (the recording was cut)
    notARecording,  // no header line of ours
    newerVersion,   // a version this reader does not know
    badLength,      // a record claims 0 bytes or more than maxPieceLength
    backwards,      // a record's time is before the one before it
};

struct Recording {
    int version = 0;
    std::string started;  // the header's start time
    std::vector<RecordedPiece> pieces;
    RecordingEnd end = RecordingEnd::complete;
    std::size_t readUpTo = 0;  // bytes of the data that were understood
};

// Reads a whole recording. Never allocates by a length it reads: the pieces
// point into `data`, and their number is bounded by its size.
Recording readRecording(std::string_view data);

// What went wrong, for a person.
std::string_view describe(RecordingEnd end);

}  // namespace taltrix::record
