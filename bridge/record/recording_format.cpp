#include "bridge/record/recording_format.h"

#include <algorithm>
#include <charconv>

namespace taltrix::record {

namespace {

void putLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t getLittleEndian(std::string_view data, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[at + i]);
    return value;
}

// "TaltrixRecording VERSION START": the version, and the start time in
// `started`; 0 when the line is not ours.
int readHeader(std::string_view line, std::string& started) {
    if (!line.starts_with(recordingMagic) || line.size() <= recordingMagic.size() ||
        line[recordingMagic.size()] != ' ') {
        return 0;
    }
    line.remove_prefix(recordingMagic.size() + 1);
    int version = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), version);
    if (ec != std::errc() || version < 1) return 0;
    line.remove_prefix(static_cast<std::size_t>(end - line.data()));
    if (!line.empty() && line.front() != ' ') return 0;  // "1.5" is no version
    if (!line.empty()) line.remove_prefix(1);
    started = std::string(line);
    return version;
}

}  // namespace

std::string headerLine(std::string_view startUtc) {
    return std::string(recordingMagic) + " " + std::to_string(recordingVersion) + " " + std::string(startUtc) + "\n";
}

void appendRecord(std::string& out, std::uint64_t microseconds, std::string_view piece) {
    while (!piece.empty()) {
        const std::size_t length = std::min(piece.size(), maxPieceLength);
        putLittleEndian(out, microseconds, 8);
        putLittleEndian(out, length, 4);
        out.append(piece.substr(0, length));
        piece.remove_prefix(length);
    }
}

Recording readRecording(std::string_view data) {
    Recording recording;
    const std::size_t lineEnd = data.substr(0, maxHeaderLength).find('\n');
    if (lineEnd == std::string_view::npos) {
        recording.end = RecordingEnd::notARecording;
        return recording;
    }
    recording.version = readHeader(data.substr(0, lineEnd), recording.started);
    if (recording.version == 0) {
        recording.end = RecordingEnd::notARecording;
        return recording;
    }
    if (recording.version > recordingVersion) {
        recording.end = RecordingEnd::newerVersion;
        return recording;
    }
    std::size_t at = lineEnd + 1;
    recording.readUpTo = at;
    std::uint64_t previous = 0;
    while (at < data.size()) {
        if (data.size() - at < recordHeadLength) {
            recording.end = RecordingEnd::cutShort;
            return recording;
        }
        const std::uint64_t microseconds = getLittleEndian(data, at, 8);
        const std::uint64_t length = getLittleEndian(data, at + 8, 4);
        if (length == 0 || length > maxPieceLength) {
            recording.end = RecordingEnd::badLength;
            return recording;
        }
        if (microseconds < previous) {
            recording.end = RecordingEnd::backwards;
            return recording;
        }
        if (data.size() - at - recordHeadLength < length) {
            recording.end = RecordingEnd::cutShort;
            return recording;
        }
        recording.pieces.push_back({microseconds, data.substr(at + recordHeadLength, length)});
        previous = microseconds;
        at += recordHeadLength + length;
        recording.readUpTo = at;
    }
    return recording;
}

std::string_view describe(RecordingEnd end) {
    switch (end) {
        case RecordingEnd::complete: return "complete";
        case RecordingEnd::cutShort: return "the last record is cut short";
        case RecordingEnd::notARecording: return "not a Taltrix recording";
        case RecordingEnd::newerVersion: return "made by a newer Taltrix";
        case RecordingEnd::badLength: return "a record has an impossible length";
        case RecordingEnd::backwards: return "a record's time goes backwards";
    }
    return "unknown";
}

}  // namespace taltrix::record
