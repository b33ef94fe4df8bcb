// The pure rules of following redirects during the opening handshake.
#pragma once

#include <string_view>

namespace morvane::websocket {

// TFollowRedirects, with the control's values.
enum FollowRedirects : int { frNever = 0, frAlways = 1, frSameScheme = 2 };

inline constexpr int kDefaultMaxRedirectAttempts = 20;

// 300 to 303 and 306 to 399: the codes that are followed (304 and 305 are not).
constexpr bool isRedirectStatus(int status) {
    return (status >= 300 && status <= 303) || (status >= 306 && status <= 399);
}

// The number of redirects one Connect may still follow.
class RedirectAllowance {
public:
    void reset(int maxAttempts) { remaining_ = maxAttempts < 0 ? 0 : maxAttempts; }
    // Uses one up; false when none is left.
    bool take() {
        if (remaining_ <= 0) return false;
        --remaining_;
        return true;
    }
    int remaining() const { return remaining_; }

private:
    int remaining_ = kDefaultMaxRedirectAttempts;
};

// The verdict offered to the Redirect event: True under frAlways; under
// frSameScheme when the target's scheme (the current one for a relative
// target) equals the current scheme, compared without regard to case.
bool redirectVerdict(FollowRedirects policy, std::string_view currentScheme, std::string_view location);

}  // namespace morvane::websocket
