// Config texts through the whole engine: the setting syntax, name routing and
// every setter, one setting text per input line, on one engine so that
// settings meet each other's values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/engine/morvane_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morvane::MorvaneEngine engine;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string result;
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        const int code = engine.config(line, result);
        // A failed Config hands back no text.
        if (code != 0 && !result.empty()) __builtin_trap();
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    morvane::EngineContext::setZeroMemory(false);
    return 0;
}
