// Hive files can be edited by hand: any bytes must either be refused with a
// reason or parse into a hive whose text form reads back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/com/registry_hive.h"

namespace {

void walk(const com::registry::Hive& hive, const std::string& path, int depth) {
    if (depth > 70) std::abort();  // deeper than the hive allows
    for (const auto& [name, value] : hive.enumValues(path)) {
        if (hive.queryValue(path, name) != value) std::abort();
    }
    for (const auto& key : hive.enumKeys(path)) {
        walk(hive, path.empty() ? key : path + "\\" + key, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto hive = com::registry::Hive::parse(text, &error);
    if (!hive) {
        if (error.rfind("line ", 0) != 0 && error.find("limit") == std::string::npos) std::abort();
        return 0;
    }
    walk(*hive, "", 0);
    const std::string once = hive->serialize();
    auto again = com::registry::Hive::parse(once, &error);
    if (!again || again->serialize() != once) std::abort();
    hive->setString("Fuzz\\Key", "Name", text.substr(0, 64));
    if (hive->queryString("fuzz\\key", "NAME") != text.substr(0, 64)) std::abort();
    return 0;
}
