// Any bytes as the client's first handshake token and as the server's first
// record: the commentary readers report exactly when the bytes hold what they
// read, say the same with more bytes behind, and never read past the end.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/tls/handshake_commentary.h"

using namespace morvane::tls;

namespace {

std::size_t readU16(const std::uint8_t* data, std::size_t at) { return (std::size_t{data[at]} << 8) | data[at + 1]; }

std::size_t count(std::string_view text, std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    std::vector<std::uint8_t> longer(data, data + size);
    longer.push_back(0xC0);

    // Offered suites.
    const auto offered = offeredCipherSuitesText(input);
    std::size_t listLength = 0;
    bool fits = false;
    if (size >= 46 && size >= 46 + std::size_t{data[43]}) {
        const std::size_t listAt = 46 + std::size_t{data[43]};
        listLength = readU16(data, listAt - 2);
        fits = size - listAt >= listLength;
    }
    check(offered.has_value() == fits);
    if (offered) {
        const std::string_view prefix = "Cipher Suites:\r\n    ";
        check(offered->starts_with(prefix));
        const std::size_t suites = listLength / 2;
        check(count(*offered, ";\r\n    ") == (suites == 0 ? 0 : suites - 1));
        check(offered->size() > prefix.size() || suites == 0);
        check(offeredCipherSuitesText(longer) == offered);
    }

    // The server's choice.
    const auto choice = serverChoice(input);
    check(choice.has_value() == (size >= 46 && size >= 46 + std::size_t{data[43]}));
    if (choice) {
        check(choice->version.starts_with("Selected TLS Version: "));
        check(choice->cipherSuite.starts_with("Selected Cipher Suite: "));
        const auto again = serverChoice(longer);
        check(again && again->version == choice->version && again->cipherSuite == choice->cipherSuite);
    }
    check(announcesOversizedRecord(input) == (size >= 5 && readU16(data, 3) > kMaxRecordLength));
    check(startsWithServerHello(input) == (size > 5 && data[0] == 22 && data[5] == 2));
    return 0;
}
