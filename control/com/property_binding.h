// Which engine accessor stands behind each property of IMorvane. The COM
// surface checks access, design mode, ranges and indices from the property
// table; what remains here is the plain read or write of the engine's state,
// by DISPID, with values in the engine's own form (8-bit text in the code
// page, byte strings for the byte-array properties).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane {

class MorvaneEngine;

struct PropertyValue {
    bool boolean = false;
    std::int32_t number = 0;
    // Text in the code page, or the bytes of a byte-array property.
    std::string text;
};

// The number of records an indexed property reads from (cookies or parsed
// headers); 0 for a property without an index.
std::size_t indexedCount(const MorvaneEngine& engine, std::int32_t dispid);

// 0, or the engine's error code. `index` is already checked against
// indexedCount. Properties without a read (write-only) or write (read-only)
// give -1: the caller refuses them before they get here. The payloads
// (DataToSend, DataToSendB) are sent by the caller itself, from where the
// host has them, and give -1 here too.
int readProperty(MorvaneEngine& engine, std::int32_t dispid, std::size_t index, PropertyValue& value);
int writeProperty(MorvaneEngine& engine, std::int32_t dispid, std::size_t index, const PropertyValue& value);

}  // namespace morvane
