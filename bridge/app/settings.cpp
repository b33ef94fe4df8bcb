#include "bridge/app/settings.h"

#include <cctype>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <optional>

#include "bridge/app/app_texts.h"
#include "platform/profile/private_profile.h"

namespace taltrix::app {

namespace {

constexpr std::string_view keyHalvexPlay = "HalvexPlay_key";
constexpr std::string_view keySimSoftware = "Sim_software";
constexpr std::string_view keyDevice = "BT_Connected_device";
constexpr std::string_view keyDebug = "Debug_mode";
constexpr std::string_view keyChipping = "Chipping_mode_distance";
constexpr std::string_view keyRelayHost = "HalvexPlay_host";
constexpr std::string_view keyOpenConnectHost = "OpenConnect_host";
constexpr std::string_view keyOpenConnectPort = "OpenConnect_port";

constexpr std::string_view simRelay = "HalvexPlay";
constexpr std::string_view simTgc = "TGC";
constexpr std::string_view simOpenConnect = "OpenConnect";
constexpr std::string_view defaultDevice = "ES16";
constexpr std::string_view defaultDebug = "False";
constexpr std::string_view defaultChipping = "1000";
constexpr double chippingCeiling = 1000.0;
// A stored "None" is how a key was blanked out by hand; it counts as missing.
constexpr std::string_view noneValue = "None";

constexpr std::string_view tgcName = "The Golf Club Simulator";
constexpr std::string_view relayName = "HALVEX PLAY";
constexpr std::string_view tgcCaption = "TGC for Taltrix ";
constexpr std::string_view relayCaption = "HalvexPlay for Taltrix ";
constexpr std::string_view openConnectName = "Open Connect Simulator";
constexpr std::string_view openConnectCaption = "OpenConnect for Taltrix ";

constexpr std::string_view keyPrompt = "Enter your valid HalvexPlay_key:";
constexpr std::string_view keyTitle = "Enter key";

constexpr std::string_view tooLongText = "Can't write more than ";
constexpr std::string_view tooLongTail = " characters for key or value.";
constexpr std::size_t maxKeyOrValue = 255;

constexpr int errOverflow = 6;
constexpr std::string_view errOverflowText = "Overflow";

// Reads with a 256-character buffer announced as 255, as the settings always
// have: at most 254 characters come back.
constexpr std::uint32_t readBufferSize = 255;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// A plain decimal number with optional sign, fraction and exponent, blanks
// around it allowed; "." is the separator whatever the locale.
std::optional<double> parseNumber(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars alone would also take "inf", "nan" and hexadecimal forms.
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

// A TCP port: digits only, 1 to 65535.
std::optional<std::int32_t> parsePort(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int32_t port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

// The nearest 16-bit integer, halves to the even neighbour; nothing when the
// result does not fit.
std::optional<int> toInt16(double value) {
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(mode);
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) {
        return std::nullopt;
    }
    return static_cast<int>(rounded);
}

}  // namespace

void Settings::setProgramFolder(std::string_view folder) {
    path_ = std::string(folder);
    if (path_.empty() || path_.back() != '/') {
        path_ += '/';
    }
    path_ += fileName;
}

std::string Settings::readValue(std::string_view sectionName, std::string_view key) const {
    std::string buffer(readBufferSize + 1, ' ');
    const std::string sectionText(sectionName);
    const std::string keyText(key);
    const std::uint32_t n = platform::profile::GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), "",
                                                                        buffer.data(), readBufferSize, path_.c_str());
    if (n < 1) {
        return {};
    }
    buffer.resize(n);
    return buffer;
}

int Settings::writeValue(std::string_view sectionName, std::string_view key, std::string_view value) {
    if (key.size() > maxKeyOrValue || value.size() > maxKeyOrValue) {
        const std::string text = std::string(shortVersionText) + " --> " + std::string(tooLongText) +
                                 std::to_string(maxKeyOrValue) + std::string(tooLongTail);
        host_.dialogs().messageBox(text, {}, BoxButtons::ok, BoxIcon::none);
        return -1;
    }
    const std::string sectionText(sectionName);
    const std::string keyText(key);
    const std::string valueText(value);
    return platform::profile::WritePrivateProfileStringA(sectionText.c_str(), keyText.c_str(), valueText.c_str(),
                                                         path_.c_str());
}

std::string Settings::readOrDefault(std::string_view key, std::string_view fallback) {
    std::string value = readValue(section, key);
    if (value.empty() || value == noneValue) {
        value = std::string(fallback);
        writeValue(section, key, value);
    }
    return value;
}

void Settings::applyChoice() {
    SimulatorChoice choice;
    choice.relay = values_.Sim_software == simRelay;
    choice.openConnect = values_.Sim_software == simOpenConnect;
    choice.nameCaption = choice.relay ? relayName : choice.openConnect ? openConnectName : tgcName;
    choice.nameItalic = choice.relay;
    choice.windowCaption = std::string(choice.relay         ? relayCaption
                                       : choice.openConnect ? openConnectCaption
                                                            : tgcCaption) +
                           std::string(versionText);
    relayMode_ = choice.relay;
    openConnectMode_ = choice.openConnect;
    host_.applySimulatorChoice(choice);
}

bool Settings::loadChippingDistance(RuntimeError& error) {
    const std::string stored = readValue(section, keyChipping);
    const std::optional<double> number = stored == noneValue ? std::nullopt : parseNumber(stored);
    if (!number) {
        values_.Chipping_mode_distance = chippingCeiling;
        writeValue(section, keyChipping, defaultChipping);
        return true;
    }
    const std::optional<int> whole = toInt16(*number);
    if (!whole) {
        error = {errOverflow, std::string(errOverflowText)};
        return false;
    }
    // Clamped in memory only: the user's number stays in the file.
    values_.Chipping_mode_distance = *whole >= chippingCeiling ? chippingCeiling : *whole;
    return true;
}

void Settings::showLoaderError(const RuntimeError& error) {
    host_.resetPointer();
    const std::string text = std::string(shortVersionText) + " --> " + "Error number: " + std::to_string(error.number) +
                             "\r\n" + "Function: fn_load_constants " + "\r\n" + "Source:" + std::string(projectName) +
                             "\r\n" + "Description:" + error.description;
    host_.dialogs().messageBox(text, {}, BoxButtons::ok, BoxIcon::critical);
}

void Settings::fn_load_constants() {
    values_.HalvexPlay_key = readOrDefault(keyHalvexPlay, "");

    const std::string sim = readOrDefault(keySimSoftware, simTgc);
    values_.Sim_software = sim == simRelay || sim == simOpenConnect ? sim : std::string(simTgc);
    applyChoice();

    values_.BT_Connected_device = readOrDefault(keyDevice, defaultDevice);
    values_.Debug_mode = readOrDefault(keyDebug, defaultDebug);

    RuntimeError error{};
    if (!loadChippingDistance(error)) {
        showLoaderError(error);
        return;
    }
    // Read after the original keys, so that their order in a new file stays
    // as it always was; a missing host is not written back.
    const std::string relayHost = readValue(section, keyRelayHost);
    values_.HalvexPlay_host = relayHost.empty() || relayHost == noneValue ? std::string(relayDefaultHost) : relayHost;
    loadOpenConnectEndpoint();
    host_.letEventsRun();
}

void Settings::loadOpenConnectEndpoint() {
    // Like the relay host: read after the original keys and never written
    // back, so that the file of a first start stays as it always was.
    const std::string host = readValue(section, keyOpenConnectHost);
    values_.OpenConnect_host = host.empty() || host == noneValue ? std::string(openConnectDefaultHost) : host;
    values_.OpenConnect_port = parsePort(readValue(section, keyOpenConnectPort)).value_or(openConnectDefaultPort);
}

void Settings::optHalvexPlay_Click(bool selected) {
    if (selected) {
        const std::optional<std::string> entered =
            host_.dialogs().inputBox(keyPrompt, keyTitle, values_.HalvexPlay_key);
        if (entered && !entered->empty()) {
            writeValue(section, keyHalvexPlay, *entered);
        }
        values_.Sim_software = simRelay;
    } else {
        values_.Sim_software = simTgc;
    }
    writeValue(section, keySimSoftware, values_.Sim_software);
    fn_load_constants();
}

void Settings::optOpenConnect_Click(bool selected) {
    values_.Sim_software = selected ? simOpenConnect : simTgc;
    writeValue(section, keySimSoftware, values_.Sim_software);
    fn_load_constants();
}

void Settings::optTGC_Click(bool selected) {
    values_.Sim_software = selected ? simTgc : simRelay;
    writeValue(section, keySimSoftware, values_.Sim_software);
    fn_load_constants();
}

}  // namespace taltrix::app
