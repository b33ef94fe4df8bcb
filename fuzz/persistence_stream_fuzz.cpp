// A saved control comes back from a container's document, which may be
// damaged or not ours at all. The reader must refuse such bytes cleanly; what
// it accepts must be exactly what the writer produces for the values read,
// and reading through a stream must agree with reading the bytes. The same
// bytes also go through the text form of a property bag.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control/com/morvane_persistence_format.h"
#include "platform/com/persist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    const std::span<const std::uint8_t> bytes(data, size);
    PersistedValues values;
    std::size_t used = 0;
    const HRESULT direct = decodePersistedValues(bytes, values, &used);
    if (SUCCEEDED(direct)) {
        if (used > size) std::abort();
        const std::vector<std::uint8_t> again = encodePersistedValues(values);
        if (again.size() != used || !std::equal(again.begin(), again.end(), data)) std::abort();
        for (std::size_t i = 0; i < persistedPropertyCount; ++i) {
            if (FAILED(checkPersistedValue(persistedProperties()[i], values[i]))) std::abort();
        }
    }

    com::ComPtr<IStream> stream;
    if (FAILED(com::createMemoryStream(std::vector<std::uint8_t>(data, data + size), stream.put()))) return 0;
    PersistedValues streamed;
    const HRESULT throughStream = readPersistedValues(stream.get(), streamed);
    if (throughStream != direct) std::abort();
    if (SUCCEEDED(direct)) {
        if (!samePersistedValues(values, streamed)) std::abort();
        ULARGE_INTEGER position{};
        LARGE_INTEGER none{};
        stream->Seek(none, STREAM_SEEK_CUR, &position);
        if (position.QuadPart != used) std::abort();
    }

    auto bag = com::ComPtr<com::MemoryPropertyBag>::attach(com::newMemoryPropertyBag());
    if (SUCCEEDED(bag->fromText(std::string_view(reinterpret_cast<const char*>(data), size)))) {
        std::string text;
        if (FAILED(bag->toText(text))) std::abort();
        auto reread = com::ComPtr<com::MemoryPropertyBag>::attach(com::newMemoryPropertyBag());
        if (FAILED(reread->fromText(text))) std::abort();
        std::string twice;
        reread->toText(twice);
        if (twice != text) std::abort();
    }
    return 0;
}
