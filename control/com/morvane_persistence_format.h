// What the control saves with its container's document, and how it lays it
// out in a stream.
//
// The saved properties are 24 design-time settings, in this order:
// Authorization, AuthScheme, DataFormat, FirewallAutoDetect, FirewallType,
// FirewallHost, FirewallPassword, FirewallPort, FirewallUser,
// FollowRedirects, Password, ProxyAuthScheme, ProxyAutoDetect, ProxyPassword,
// ProxyPort, ProxyServer, ProxySSL, ProxyUser, SSLCertStore,
// SSLCertStorePassword, SSLCertStoreType, SSLCertSubject, Timeout, User.
// Nothing else is saved: not OtherHeaders, not the run-time state.
// The passwords are among them, in clear text, because containers expect a
// reloaded form to connect as it did when it was saved.
//
// Stream format, version 1 (all numbers little-endian):
//
//   offset  size  field
//   0       4     magic "MVPS"
//   4       2     format version (1)
//   6       2     number of properties (24)
//   8       4     body length N in bytes (at most 16 MiB)
//   12      4     CRC-32 of the body (the polynomial of zlib's crc32)
//   16      N     body: each property in the order above, as
//                   4  its DISPID
//                   1  kind: 1 Boolean, 2 Integer, 3 Long or enumeration,
//                      4 String
//                   the value: Boolean 1 byte (0 or 1), Integer 2 bytes,
//                   Long 4 bytes, String a 4-byte count of UTF-16 code units
//                   followed by the units
//
// A reader stops right after the body, so a container may keep more data of
// its own behind it in the same stream. Failures, with nothing applied:
//   STG_E_INVALIDHEADER   not this format (wrong magic, version 0, or fewer
//                         than 4 bytes)
//   STG_E_OLDDLL          a version newer than this reader knows
//   STG_E_DOCFILECORRUPT  damaged: the stream ends inside the header or the
//                         body, the property count is not 24, the
//                         CRC does not match, or a property is missing,
//                         out of order, of the wrong kind or out of range
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/com/storage.h"
#include "platform/com/variant.h"

namespace morvane {

enum class PersistedKind : std::uint8_t { Boolean = 1, Integer = 2, Long = 3, String = 4 };

struct PersistedProperty {
    std::string_view name;
    std::u16string_view wideName;
    DISPID dispid;
    PersistedKind kind;
};

inline constexpr std::size_t persistedPropertyCount = 24;
inline constexpr std::uint16_t persistenceFormatVersion = 1;
inline constexpr std::size_t persistenceHeaderSize = 16;
inline constexpr std::uint32_t persistenceMaxBody = 16u << 20;

std::span<const PersistedProperty, persistedPropertyCount> persistedProperties();

// One value per persisted property, in their order: VT_BOOL, VT_I2, VT_I4
// or VT_BSTR as the property's kind says.
using PersistedValues = std::array<com::Variant, persistedPropertyCount>;

VARTYPE variantTypeOf(PersistedKind kind);

// The values a new control has.
PersistedValues defaultPersistedValues();

// S_OK when `value` has the kind's type and the property accepts it;
// otherwise the property's out-of-range error (or DISP_E_TYPEMISMATCH).
HRESULT checkPersistedValue(const PersistedProperty& property, const VARIANT& value);

bool samePersistedValue(const VARIANT& a, const VARIANT& b);
bool samePersistedValues(const PersistedValues& a, const PersistedValues& b);

// The whole saved form, header included.
std::vector<std::uint8_t> encodePersistedValues(const PersistedValues& values);

// Reads a saved form from the start of `bytes`; `used` tells how many bytes
// it took. `values` is written only on success.
HRESULT decodePersistedValues(std::span<const std::uint8_t> bytes, PersistedValues& values, std::size_t* used);

// The same through a stream, leaving its seek pointer right after the body.
HRESULT readPersistedValues(IStream* stream, PersistedValues& values);
HRESULT writePersistedValues(IStream* stream, const PersistedValues& values);

}  // namespace morvane
