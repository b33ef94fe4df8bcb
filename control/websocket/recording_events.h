// Test support: an event sink that records what the engine raises, in order,
// as short lines ("Header Location: /next"), with the payloads kept whole.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "control/engine/engine_events.h"

namespace morvane::testing {

struct ReceivedData {
    int format = 0;
    std::string bytes;
    bool eom = false;
};

// One dataArriving call.
struct Arrival {
    std::string soFar;
    std::uint64_t total = 0;
    bool first = false;
};

class RecordingEvents : public IgnoringEvents {
public:
    std::vector<std::string> log;
    std::vector<ReceivedData> data;
    // For each entry of `data`, the dataArriving calls that came before it.
    std::vector<std::vector<Arrival>> arrivals;
    std::vector<std::pair<int, std::string>> disconnects;
    std::vector<std::pair<int, std::string>> errors;
    int readyToSendCount = 0;
    // Answers Redirect; gets the verdict the engine offered.
    std::function<bool(const std::string&, bool)> onRedirect = [](const std::string&, bool verdict) { return verdict; };
    std::function<void(const ReceivedData&)> onDataIn;
    std::function<void(const std::string&, const std::string&)> onHeader;
    // Answers SSLServerAuthentication; gets the verdict the engine offered.
    std::function<bool(bool)> onServerAuthentication = [](bool verdict) { return verdict; };
    std::string lastCertEncoded;
    std::function<void()> onConnected;

    bool logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
    std::size_t count(std::string_view prefix) const {
        return static_cast<std::size_t>(
            std::count_if(log.begin(), log.end(), [&](const std::string& line) { return line.starts_with(prefix); }));
    }

    void connected(std::int16_t code, const std::string& text) override {
        log.push_back("Connected " + std::to_string(code) + " " + text);
        if (onConnected) onConnected();
    }
    void connectionStatus(const std::string& text, std::int16_t code, const std::string& description) override {
        log.push_back("Status " + text + " " + std::to_string(code) + " " + description);
    }
    void dataArriving(std::span<const std::uint8_t> soFar, std::uint64_t total, bool first) override {
        arriving_.push_back({std::string(reinterpret_cast<const char*>(soFar.data()), soFar.size()), total, first});
    }
    void dataIn(std::int16_t format, std::span<const std::uint8_t> bytes, bool eom) override {
        arrivals.push_back(std::exchange(arriving_, {}));
        data.push_back({format, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), eom});
        log.push_back("DataIn " + std::to_string(format) + " " + std::to_string(bytes.size()) + (eom ? " EOM" : ""));
        if (onDataIn) onDataIn(data.back());
    }
    void disconnected(std::int16_t code, const std::string& reason) override {
        disconnects.emplace_back(code, reason);
        log.push_back("Disconnected " + std::to_string(code) + " " + reason);
    }
    void error(std::int16_t code, const std::string& text) override {
        errors.emplace_back(code, text);
        log.push_back("Error " + std::to_string(code) + " " + text);
    }
    void header(const std::string& field, const std::string& value) override {
        log.push_back("Header " + field + ": " + value);
        if (onHeader) onHeader(field, value);
    }
    void readyToSend() override {
        ++readyToSendCount;
        log.push_back("ReadyToSend");
    }
    void redirect(const std::string& location, bool& accept) override {
        log.push_back("Redirect " + location + (accept ? " True" : " False"));
        accept = onRedirect(location, accept);
    }
    void sslStatus(const std::string& message) override { log.push_back("SSLStatus " + message); }
    void sslServerAuthentication(std::span<const std::uint8_t> certEncoded, const std::string& subject,
                                 const std::string& issuer, const std::string& status, bool& accept) override {
        lastCertEncoded.assign(reinterpret_cast<const char*>(certEncoded.data()), certEncoded.size());
        log.push_back("SSLServerAuthentication " + subject + "|" + issuer + "|" + status +
                      (accept ? "|True" : "|False"));
        accept = onServerAuthentication(accept);
    }
    void setCookie(const std::string& name, const std::string& value, const std::string& expires,
                   const std::string& domain, const std::string& path, bool secure) override {
        log.push_back("SetCookie " + name + "|" + value + "|" + expires + "|" + domain + "|" + path + "|" +
                      (secure ? "secure" : ""));
    }

private:
    std::vector<Arrival> arriving_;
};

// Runs the engine's wait steps until `done` holds; false after 20 s.
template <class Engine, class Done>
bool pumpUntil(Engine& engine, Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        engine.doEvents();
    }
    return true;
}

}  // namespace morvane::testing
