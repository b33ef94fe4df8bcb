// Cookies of the handshake: Set-Cookie parsing and the list that goes out
// with the next request.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvane::websocket {

// The seven fields of a CookieList record, in the control's order.
struct Cookie {
    std::string name;
    std::string value;
    std::string expiration;
    std::string domain;
    std::string path;
    bool secure = false;
    bool added = false;  // added by AddCookie rather than received
};

// name=value[; attribute[=value]]...  EXPIRES, DOMAIN and PATH (any case)
// fill their fields, SECURE sets the flag, other attributes are ignored.
Cookie parseSetCookie(std::string_view headerValue);

class CookieStore {
public:
    const std::vector<Cookie>& records() const { return records_; }
    std::size_t size() const { return records_.size(); }
    void add(Cookie cookie) { records_.push_back(std::move(cookie)); }
    void clear() { records_.clear(); }
    // On a change of host or port only the records added by AddCookie stay.
    void keepOnlyAdded();
    // Every record as name=value, joined with "; ".
    std::string requestHeader() const;

private:
    std::vector<Cookie> records_;
};

}  // namespace morvane::websocket
