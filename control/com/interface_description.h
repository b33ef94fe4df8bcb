// The members of the control's interfaces as data: the dual interface IMorvane
// (properties and methods), the event interface _IMorvaneEvents and the
// enumerations of the MORVANELib type library. The COM surface builds its type
// description, name lookup and accessor checks from these tables.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace morvane {

inline constexpr std::string_view typeLibraryName = "MORVANELib";
inline constexpr std::uint16_t typeLibraryMajorVersion = 1;
inline constexpr std::uint16_t typeLibraryMinorVersion = 0;
inline constexpr std::uint32_t typeLibraryLocale = 0x409;
inline constexpr std::string_view dispatchInterfaceName = "IMorvane";
inline constexpr std::string_view eventInterfaceName = "_IMorvaneEvents";
inline constexpr std::string_view className = "Morvane";

enum class EnumerationKind : std::uint8_t {
    AuthSchemes,
    DataFormats,
    FirewallTypes,
    TFollowRedirects,
    ProxySSLTypes,
    CertStoreTypes,
};

// Automation types: Boolean is VARIANT_BOOL, Integer 16-bit, Long 32-bit,
// String BSTR, ByteArray a VARIANT holding a one-dimensional byte SAFEARRAY,
// Enumeration a 32-bit value of one of the enumerations, Unknown an IUnknown.
enum class AutomationType : std::uint8_t { Boolean, Integer, Long, String, ByteArray, Enumeration, Unknown };

struct TypeRef {
    AutomationType type;
    EnumerationKind enumeration = EnumerationKind::AuthSchemes;  // for Enumeration only

    friend constexpr bool operator==(const TypeRef&, const TypeRef&) = default;
};

enum class PropertyAccess : std::uint8_t { ReadWrite, ReadOnly, WriteOnly };

// Which accessors refuse in design mode.
enum class RuntimeOnly : std::uint8_t { No, Get, GetAndPut };

// The value a property has on a new control, as the property table gives it.
struct PropertyDefault {
    enum class Kind : std::uint8_t { None, Boolean, Number, Text };
    Kind kind = Kind::None;
    std::int32_t number = 0;  // Boolean: 1 for True
    std::string_view text;
};

struct PropertyDescription {
    std::int32_t dispid;
    std::string_view name;
    TypeRef type;
    PropertyAccess access;
    RuntimeOnly runtimeOnly;
    PropertyDefault defaultValue;
    // A put of a value above this fails with "Value is out of range.".
    std::optional<std::int32_t> maximum;
    // Name of the 0-based Integer index of an indexed property, else empty.
    std::string_view indexName;
    // The engine accessor behind the property.
    std::string_view engineMember;
};

struct ParameterDescription {
    std::string_view name;
    TypeRef type;
    // Events: the value the handler leaves is read back.
    bool readBack = false;
};

struct MethodDescription {
    std::int32_t dispid;
    std::string_view name;
    std::span<const ParameterDescription> parameters;
    std::optional<TypeRef> result;
};

// Every event parameter is passed by reference.
struct EventDescription {
    std::int32_t dispid;
    std::string_view name;
    std::span<const ParameterDescription> parameters;
};

struct EnumerationMember {
    std::string_view name;
    std::int32_t value;
};

struct EnumerationDescription {
    EnumerationKind kind;
    std::string_view name;
    std::span<const EnumerationMember> members;
};

inline constexpr std::int32_t aboutBoxDispid = -552;

std::span<const PropertyDescription> properties();
// AboutBox and the methods 502 to 511.
std::span<const MethodDescription> methods();
// OnStartPage and OnEndPage: on the interface, without WebSocket behaviour.
std::span<const MethodDescription> pageHostingMethods();
std::span<const EventDescription> events();
std::span<const EnumerationDescription> enumerations();

// Lookups by name compare without regard to case, as name-to-DISPID
// resolution of late-binding callers does.
const PropertyDescription* findProperty(std::string_view name);
const PropertyDescription* findProperty(std::int32_t dispid);
const MethodDescription* findMethod(std::string_view name);
const EventDescription* findEvent(std::int32_t dispid);
const EnumerationDescription& enumeration(EnumerationKind kind);

// The put's range rule: true when the value may be stored.
bool inRange(const PropertyDescription& property, std::int64_t value);

}  // namespace morvane
