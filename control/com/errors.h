// How the control's failures reach a caller: the HRESULT of the failing
// member, the description and the help context of its error information.
// HRESULTs are plain 32-bit integers here; the COM surface hands them on.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace morvane {

class EngineContext;

inline constexpr std::string_view helpFile = "quillonws.chm";

// Errors of the accessors themselves, with their fixed HRESULTs.
struct AccessorError {
    std::int32_t hresult;
    std::string_view description;
};

namespace accessor_error {
inline constexpr AccessorError runtimeOnly{static_cast<std::int32_t>(0x800A018A),
                                           "Property is runtime only (no supported in design time)."};
inline constexpr AccessorError invalidArrayIndex{static_cast<std::int32_t>(0x800A017D), "Invalid array index."};
inline constexpr AccessorError readOnly{static_cast<std::int32_t>(0x800A017F), "Property is read-only."};
inline constexpr AccessorError writeOnly{static_cast<std::int32_t>(0x800A018A), "Property is write-only."};
inline constexpr AccessorError notOneDimensional{static_cast<std::int32_t>(0x800A017C),
                                                 "Property accepts only one-dimensional byte arrays."};
inline constexpr AccessorError outOfRange{static_cast<std::int32_t>(0x800A017C), "Value is out of range."};
}  // namespace accessor_error

inline constexpr std::int32_t hresultOk = 0;
inline constexpr std::int32_t hresultOutOfMemory = static_cast<std::int32_t>(0x800A0007);

// 0 is success; 200 is the automation out-of-memory error; every other code c
// becomes 0x800A0000 | (c + 20001), or | (c + 15001) above 10000, so that an
// automation client sees error number 20001 + c (25001 + c - 10000 above).
std::int32_t hresultFromCode(int code);

// The error number an automation client reads from such an HRESULT.
int automationErrorNumber(std::int32_t hresult);

// Help contexts: a property's errors carry 22000 + its DISPID, except the
// byte-array properties (22001 to 22005 for DISPIDs 47 to 51, 32000 and 32001
// for the two event-data slots); AddCookie to SendText carry 42001 to 42010.
// Members without one give 0, and so does an engine error out of a getter.
std::uint32_t propertyHelpContext(std::int32_t dispid);
std::uint32_t methodHelpContext(std::int32_t dispid);

struct RaisedError {
    std::int32_t hresult = hresultOk;
    std::string description;
    std::uint32_t helpContext = 0;
};

// The error an engine code raises. The description is the engine's last-error
// text, which the engine first fills from the code when it is empty;
// "No description available." when even that finds nothing.
RaisedError raisedEngineError(EngineContext& engine, int code, std::uint32_t helpContext);

// The control's own codes and the members that raise them.
struct ControlError {
    int code;
    std::string_view description;
    std::string_view raisedBy;
};

std::span<const ControlError> controlErrors();

}  // namespace morvane
