// Settings files are edited by hand: any bytes must parse, come back out
// unchanged, and take an edit that reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/profile/profile_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    platform::profile::ProfileDocument document(bytes);
    if (document.bytes() != bytes) {
        std::abort();
    }
    for (const std::string& section : document.sectionNames()) {
        for (const std::string& key : document.keyNames(section)) {
            if (!document.value(section, key)) {
                std::abort();
            }
        }
    }
    document.setValue("Software", "Sim_software", "TGC");
    if (document.value("software", "SIM_SOFTWARE") != "TGC") {
        std::abort();
    }
    const platform::profile::ProfileDocument reread(document.bytes());
    if (reread.value("Software", "Sim_software") != "TGC") {
        std::abort();
    }
    document.removeSection("Software");
    return 0;
}
