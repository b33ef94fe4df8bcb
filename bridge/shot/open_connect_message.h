// The messages the bridge sends an Open Connect simulator: one JSON object
// per shot, and the same envelope as a heartbeat that carries the launch
// monitor's readiness and no ball data. No delimiter follows either; the
// simulator finds the end of an object by its braces.
//
// What goes where, with units and signs (the README has it as a table):
//   BallData.Speed      ballSpeedMPH     mph, one decimal
//   BallData.VLA        launch angle     degrees up, one decimal as the device wrote it
//   BallData.HLA        ballDirection    degrees, + right of the target line
//   BallData.SpinAxis   spin axis        degrees, one decimal as written, + tilted right
//                                        (the ball curves right)
//   BallData.BackSpin   backSpin         rpm
//   BallData.SideSpin   spin axis x backSpin / 45 (TGC's rule, on the precise axis), rpm, + right
//   BallData.TotalSpin  hypot(backSpin, SideSpin), rpm, whole
//   ClubData.Speed      clubSpeedMPH     mph, one decimal
//   ClubData.Path       swingPath        degrees, + right (in to out for a right-hander)
//   ClubData.FaceToTarget clubFace       degrees, + open (right of the target line)
// Signs pass as the ES16 writes them, the same numbers TGC and Halvex Play
// get. The device's other values have no documented meaning, so nothing is
// sent for CarryDistance or the club's other fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/shot/shot_record.h"

namespace taltrix {

// Fixed for the program, as the protocol asks of DeviceID.
inline constexpr std::string_view openConnectDeviceId = "Taltrix ES16";
inline constexpr std::string_view openConnectUnits = "Yards";
inline constexpr std::string_view openConnectApiVersion = "1";

// A shot. The monitor has just measured it, so both readiness flags are true.
// The record gives everything but the two angles it keeps whole, which
// come from `precise`.
std::string openConnectShot(const ShotRecord& shot, const PreciseShot& precise, std::int32_t shotNumber);

// The side spin Open Connect gets: TGC's rule (axis x back spin / 45,
// rounded half to even) on the axis as the device wrote it, so that side,
// back and total spin agree with the SpinAxis sent beside them.
std::int32_t openConnectSideSpin(const ShotRecord& shot, const PreciseShot& precise);

// The number of the shot after `last`: one more, always a positive signed
// 32-bit integer; past 2147483647 it starts again at 1.
std::int32_t nextShotNumber(std::int64_t last);

// The number of the first shot of a run. Some simulators refuse a number
// that is not above the last one they saw, even across a restart of the
// bridge, and every number must fit a signed 32-bit integer: the first shot
// is numbered above both the last number sent (kept in the shot history,
// nothing when there is none) and the seconds since 2024 began (UTC), which
// only grow. Past the 32-bit range it starts again at 1 (nextShotNumber).
std::int32_t firstShotNumber(std::optional<std::int64_t> lastSent, std::int64_t unixSeconds);
inline constexpr std::int64_t openConnectNumberEpoch = 1704067200;  // 2024-01-01T00:00:00Z

// A heartbeat or status message: `shotNumber` is the last shot sent (before
// the first, the number the run's first shot follows). The ES16 reports no
// separate ball detection and is armed whenever it is connected, so both
// flags follow `monitorReady`.
std::string openConnectHeartbeat(std::int32_t shotNumber, bool monitorReady);

}  // namespace taltrix
