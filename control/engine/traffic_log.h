// Transcripts of a connection's traffic: the debug log (LogDebugFile) and the
// session recording (RecordToFile, RecordToString), which writes the traffic
// as a script that a mock server can play back.
//
// The formatting is kept apart from the files so that the exact bytes can be
// checked; the engine appends what these functions return.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace morvane {

enum class TrafficDirection { Send, Receive };

// LogDebugOption bits.
inline constexpr std::int32_t logDebugHex = 1;        // data as hexadecimal pairs
inline constexpr std::int32_t logDebugNoTraffic = 2;  // information lines only

// One traffic block of the debug log:
//   [instance][YYYY/MM/DD hh:mm:ss] ------SEND------(n bytes)\r\n data \r\n
std::string formatDebugLogBlock(int instance, const std::tm& localTime, TrafficDirection direction,
                                std::span<const std::uint8_t> data, std::int32_t option);

// An information line of the debug log, stamped like a block:
//   [instance][YYYY/MM/DD hh:mm:ss] text\r\n
std::string formatDebugLogLine(int instance, const std::tm& localTime, std::string_view text);

// One block of the session recording. What the server sent becomes a line the
// mock server sends, what this side sent one the mock server expects.
std::string formatRecording(TrafficDirection direction, std::span<const std::uint8_t> data);

// The script form of raw bytes: CR, LF and printable characters as they are,
// with a backslash before \ $ " { } [ ], every other byte as a backslash and
// three octal digits.
std::string escapeRecordedBytes(std::span<const std::uint8_t> data);

// Appends to a file, creating it when missing. False when it cannot be written.
bool appendToFile(const std::string& path, std::string_view text);

}  // namespace morvane
