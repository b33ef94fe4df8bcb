// URLs and redirect Locations from anywhere: parse as a new URL, then as a
// Location against it, and build the request for the result.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control/websocket/handshake_request.h"
#include "control/websocket/url.h"

using namespace morvane::websocket;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto split = input.find('\n');
    const std::string_view first = input.substr(0, split);
    const std::string_view second = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    Url url;
    RedirectAllowance allowance;
    UrlOptions options;
    options.encodePath = flags & 1;
    options.encodeQuery = flags & 2;
    options.allowIdentical = flags & 4;
    options.maxRedirectAttempts = flags >> 4;
    parseUrl(first, url, options, allowance);
    if (!first.empty() && (url.path.empty() || url.text != first)) std::abort();

    const Url before = url;
    options.relative = true;
    const UrlChange change = parseUrl(second, url, options, allowance);
    if (change.code != 0 && (url.text != before.text || url.path != before.path)) std::abort();
    if (change.hostOrPortChanged) std::abort();  // never in relative mode

    RequestFields fields;
    fields.viaHttpProxy = flags & 8;
    const std::string request = buildUpgradeRequest(url, fields, "AAECAwQFBgcICQoLDA0ODw==");
    if (!request.starts_with("GET ") || !request.ends_with("\r\n\r\n")) std::abort();

    // The path part is always escaped; the query too when asked.
    const std::string encoded = encodeUrlPath(first, flags & 2);
    const std::string_view checked =
        (flags & 2) ? std::string_view(encoded) : std::string_view(encoded).substr(0, encoded.find('?'));
    for (char c : checked) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) std::abort();
    }
    return 0;
}
