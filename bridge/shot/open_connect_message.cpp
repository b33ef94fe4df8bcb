#include "bridge/shot/open_connect_message.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "bridge/shot/number_text.h"
#include "bridge/shot/rounding.h"

namespace taltrix {

namespace {

// A JSON number with one decimal, halves to even, "." whatever the locale,
// and none of the zero padding of the TGC form: JSON numbers may not start
// with a zero.
std::string oneDecimal(double value) {
    double rounded = roundHalfEven(value, 1);
    if (!std::isfinite(rounded)) rounded = 0;
    rounded += 0.0;  // no "-0.0"
    char digits[400];
    const auto end = std::to_chars(digits, digits + sizeof digits, rounded, std::chars_format::fixed, 1).ptr;
    return std::string(digits, end);
}

std::string whole(double value) {
    const std::optional<std::int32_t> number = toInt32(value);
    return formatInteger(number.value_or(0));
}

std::string flag(bool on) { return on ? "true" : "false"; }

class ObjectWriter {
public:
    ObjectWriter& text(std::string_view key, std::string_view value) {
        return raw(key, "\"" + std::string(value) + "\"");
    }
    ObjectWriter& raw(std::string_view key, std::string_view value) {
        text_.append(text_.empty() ? "{" : ",");
        text_.append("\"").append(key).append("\":").append(value);
        return *this;
    }
    std::string finish() { return std::move(text_.append("}")); }

private:
    std::string text_;
};

ObjectWriter envelope(std::int32_t shotNumber) {
    ObjectWriter root;
    root.text("DeviceID", openConnectDeviceId)
        .text("Units", openConnectUnits)
        .raw("ShotNumber", formatInteger(shotNumber))
        .text("APIversion", openConnectApiVersion);
    return root;
}

std::string options(bool ballData, bool clubData, bool ready, bool heartbeat) {
    return ObjectWriter()
        .raw("ContainsBallData", flag(ballData))
        .raw("ContainsClubData", flag(clubData))
        .raw("LaunchMonitorIsReady", flag(ready))
        .raw("LaunchMonitorBallDetected", flag(ready))
        .raw("IsHeartBeat", flag(heartbeat))
        .finish();
}

}  // namespace

std::int32_t openConnectSideSpin(const ShotRecord& shot, const PreciseShot& precise) {
    return toInt32(precise.spinAxis * shot.backSpin / 45.0).value_or(0);
}

std::int32_t nextShotNumber(std::int64_t last) {
    if (last < 0 || last >= std::numeric_limits<std::int32_t>::max()) return 1;
    return static_cast<std::int32_t>(last + 1);
}

std::int32_t firstShotNumber(std::optional<std::int64_t> lastSent, std::int64_t unixSeconds) {
    return nextShotNumber(std::max(lastSent.value_or(0), unixSeconds - openConnectNumberEpoch));
}

std::string openConnectShot(const ShotRecord& shot, const PreciseShot& precise, std::int32_t shotNumber) {
    // The total is the magnitude of back and side spin, so that the three
    // agree with each other and with the axis.
    const std::int32_t sideSpin = openConnectSideSpin(shot, precise);
    const double totalSpin = std::hypot(static_cast<double>(shot.backSpin), static_cast<double>(sideSpin));
    const std::string ball = ObjectWriter()
                                 .raw("Speed", oneDecimal(shot.ballSpeedMPH))
                                 .raw("SpinAxis", oneDecimal(precise.spinAxis))
                                 .raw("TotalSpin", whole(totalSpin))
                                 .raw("BackSpin", formatInteger(shot.backSpin))
                                 .raw("SideSpin", formatInteger(sideSpin))
                                 .raw("HLA", oneDecimal(shot.ballDirection))
                                 .raw("VLA", oneDecimal(precise.launchAngle))
                                 .finish();
    const std::string club = ObjectWriter()
                                 .raw("Speed", oneDecimal(shot.clubSpeedMPH))
                                 .raw("Path", oneDecimal(shot.swingPath))
                                 .raw("FaceToTarget", oneDecimal(shot.clubFace))
                                 .finish();
    return envelope(shotNumber)
        .raw("BallData", ball)
        .raw("ClubData", club)
        .raw("ShotDataOptions", options(true, true, true, false))
        .finish();
}

std::string openConnectHeartbeat(std::int32_t shotNumber, bool monitorReady) {
    return envelope(shotNumber).raw("ShotDataOptions", options(false, false, monitorReady, true)).finish();
}

}  // namespace taltrix
