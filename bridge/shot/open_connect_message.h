// The messages the bridge sends an Open Connect simulator: one JSON object
// per shot, and the same envelope as a heartbeat that carries the launch
// monitor's readiness and no ball data. No delimiter follows either; the
// simulator finds the end of an object by its braces.
//
// What goes where, with units and signs (the README has it as a table):
//   BallData.Speed      ballSpeedMPH     mph, one decimal
//   BallData.VLA        ballAngle        degrees up, whole (the record keeps it whole)
//   BallData.HLA        ballDirection    degrees, + right of the target line
//   BallData.SpinAxis   spinAxis         degrees, + tilted right (the ball curves right)
//   BallData.BackSpin   backSpin         rpm
//   BallData.SideSpin   sideSpin         rpm, + right; the record's spinAxis x backSpin / 45
//   BallData.TotalSpin  hypot(backSpin, sideSpin), rpm, whole
//   ClubData.Speed      clubSpeedMPH     mph, one decimal
//   ClubData.Path       swingPath        degrees, + right (in to out for a right-hander)
//   ClubData.FaceToTarget clubFace       degrees, + open (right of the target line)
// Signs pass as the ES16 writes them, the same numbers TGC and Halvex Play
// get. The device's other values have no documented meaning, so nothing is
// sent for CarryDistance or the club's other fields.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/shot/shot_record.h"

namespace taltrix {

// Fixed for the program, as the protocol asks of DeviceID.
inline constexpr std::string_view openConnectDeviceId = "Taltrix ES16";
inline constexpr std::string_view openConnectUnits = "Yards";
inline constexpr std::string_view openConnectApiVersion = "1";

// A shot. The monitor has just measured it, so both readiness flags are true.
std::string openConnectShot(const ShotRecord& shot, std::int32_t shotNumber);

// A heartbeat or status message: `shotNumber` is the last shot sent (0
// before the first). The ES16 reports no separate ball detection and is
// armed whenever it is connected, so both flags follow `monitorReady`.
std::string openConnectHeartbeat(std::int32_t shotNumber, bool monitorReady);

}  // namespace taltrix
