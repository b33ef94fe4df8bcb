#include "control/com/errors.h"

#include "control/engine/engine_context.h"
#include "control/engine/engine_errors.h"

namespace morvane {
namespace {

constexpr std::uint32_t automationFacility = 0x800A0000;
constexpr int highCodeThreshold = 10000;
constexpr int lowCodeOffset = 20001;
constexpr int highCodeOffset = 15001;

constexpr std::string_view noDescription = "No description available.";

constexpr std::int32_t firstByteArrayDispid = 47;
constexpr std::int32_t lastByteArrayDispid = 51;
constexpr std::int32_t dataInTextBDispid = 52;
constexpr std::int32_t certEncodedBDispid = 53;
constexpr std::int32_t firstMethodDispid = 502;
constexpr std::int32_t lastMethodDispid = 511;

constexpr ControlError controlErrorTable[] = {
    {errc::unknownConfigSetting, errtext::unknownConfigSetting, "Config"},
    {errc::fileToSend, errtext::noFileName, "SendFile"},
    {errc::fileToSend, errtext::couldNotOpenFile, "SendFile"},
    {errc::alreadyConnected, errtext::alreadyConnected, "Connect, Connected = True"},
    {errc::busy, errtext::busy, "Connect, ResetHeaders"},
    {errc::httpProtocol, errtext::httpProtocol, "Connect"},
    {errc::httpProtocol, errtext::missingRedirectLocation, "Connect"},
    {errc::httpProtocol, errtext::identicalRedirect, "Connect"},
    {errc::noServer, errtext::noServer, "Connect"},
    {errc::proxyProtocol, errtext::proxyError, "Connect"},
    {errc::outOfMemory, errtext::outOfMemory, "any"},
    {errc::securityLibrary, errtext::securityLibrary, "Connect"},
    {errc::certificateNotFound, errtext::certificateNotFound, "SSLCertSubject"},
    {errc::interrupted, errtext::interrupted, "any blocking member"},
    {errc::interrupted, errtext::timeout, "any blocking member"},
    {errc::tooManyRedirects, errtext::tooManyRedirects, "Connect"},
    {errc::outOfRange, errtext::outOfRange, "Config"},
    {errc::sendFailed, {}, "sending a message"},
    {errc::closeSendFailed, {}, "Disconnect"},
    {errc::invalidHandshake, errtext::invalidHandshake, "Error event"},
    {errc::randomUnavailable, {}, "the random generator"},
    {errc::needsBlocking, errtext::needsBlocking, "SendFile"},
    {errc::wouldBlock, errtext::disconnectWouldBlock, "Disconnect, Send"},
};

}  // namespace

std::int32_t hresultFromCode(int code) {
    if (code == 0) return hresultOk;
    if (code == errc::outOfMemory) return hresultOutOfMemory;
    if (code == errc::outOfRange) return accessor_error::outOfRange.hresult;
    const int offset = code <= highCodeThreshold ? lowCodeOffset : highCodeOffset;
    // Only the low 16 bits carry the number; anything wider would spill into
    // the facility and severity bits.
    const auto number = static_cast<std::uint32_t>(static_cast<std::int64_t>(code) + offset) & 0xFFFFu;
    return static_cast<std::int32_t>(automationFacility | number);
}

int automationErrorNumber(std::int32_t hresult) {
    return static_cast<int>(static_cast<std::uint32_t>(hresult) & 0xFFFFu);
}

std::uint32_t propertyHelpContext(std::int32_t dispid) {
    if (dispid >= firstByteArrayDispid && dispid <= lastByteArrayDispid) {
        return 22001 + static_cast<std::uint32_t>(dispid - firstByteArrayDispid);
    }
    if (dispid == dataInTextBDispid) return 32000;
    if (dispid == certEncodedBDispid) return 32001;
    if (dispid >= 1 && dispid < firstByteArrayDispid) return 22000 + static_cast<std::uint32_t>(dispid);
    return 0;
}

std::uint32_t methodHelpContext(std::int32_t dispid) {
    if (dispid >= firstMethodDispid && dispid <= lastMethodDispid) {
        return 42001 + static_cast<std::uint32_t>(dispid - firstMethodDispid);
    }
    return 0;
}

RaisedError raisedEngineError(EngineContext& engine, int code, std::uint32_t helpContext) {
    if (code == 0) return {};
    if (code == errc::outOfMemory) return {hresultOutOfMemory, std::string(errtext::outOfMemory), 0};
    if (code == errc::outOfRange) {
        return {accessor_error::outOfRange.hresult, std::string(accessor_error::outOfRange.description), helpContext};
    }
    engine.describeError(code);
    std::string description = engine.lastErrorText();
    if (description.empty()) description = noDescription;
    return {hresultFromCode(code), std::move(description), helpContext};
}

std::span<const ControlError> controlErrors() { return controlErrorTable; }

}  // namespace morvane
