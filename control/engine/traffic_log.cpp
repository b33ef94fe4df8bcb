#include "control/engine/traffic_log.h"

#include <cstdio>
#include <fstream>

namespace morvane {
namespace {

std::string stamp(int instance, const std::tm& t) {
    char text[64];
    std::snprintf(text, sizeof text, "[%d][%04d/%02d/%02d %02d:%02d:%02d] ", instance, t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

constexpr std::string_view hexDigits = "0123456789ABCDEF";
constexpr std::size_t hexBytesPerLine = 32;

}  // namespace

std::string formatDebugLogBlock(int instance, const std::tm& localTime, TrafficDirection direction,
                                std::span<const std::uint8_t> data, std::int32_t option) {
    std::string block = stamp(instance, localTime);
    block += "------";
    block += direction == TrafficDirection::Send ? "SEND" : "RECEIVE";
    block += "------(";
    block += std::to_string(data.size());
    block += " bytes)\r\n";
    if (option & logDebugHex) {
        block.reserve(block.size() + data.size() * 3 + data.size() / hexBytesPerLine + 2);
        for (std::size_t i = 0; i < data.size(); ++i) {
            block += hexDigits[data[i] >> 4];
            block += hexDigits[data[i] & 0x0F];
            if ((i + 1) % hexBytesPerLine == 0)
                block += "\r\n";
            else
                block += ' ';
        }
    } else {
        block.append(reinterpret_cast<const char*>(data.data()), data.size());
    }
    block += "\r\n";
    return block;
}

std::string formatDebugLogLine(int instance, const std::tm& localTime, std::string_view text) {
    std::string line = stamp(instance, localTime);
    line += text;
    line += "\r\n";
    return line;
}

std::string escapeRecordedBytes(std::span<const std::uint8_t> data) {
    constexpr std::string_view quoted = "\\$\"{}[]";
    std::string text;
    text.reserve(data.size());
    for (const std::uint8_t byte : data) {
        const char c = static_cast<char>(byte);
        if (byte == '\r' || byte == '\n') {
            text += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            if (quoted.find(c) != std::string_view::npos) text += '\\';
            text += c;
        } else {
            text += '\\';
            text += static_cast<char>('0' + ((byte >> 6) & 7));
            text += static_cast<char>('0' + ((byte >> 3) & 7));
            text += static_cast<char>('0' + (byte & 7));
        }
    }
    return text;
}

std::string formatRecording(TrafficDirection direction, std::span<const std::uint8_t> data) {
    std::string block = direction == TrafficDirection::Receive ? "\r\nsend -nonewline \"" : "\r\nexpect -exact \"";
    block += escapeRecordedBytes(data);
    block += "\"\r\n";
    return block;
}

bool appendToFile(const std::string& path, std::string_view text) {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file) return false;
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(file);
}

}  // namespace morvane
