"""The Open Connect emulator's checks, without processes: the end-to-end test
trusts its "shot ok", so each field rule must be able to say no."""

import copy
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.environ["TALTRIX_SOURCE_DIR"], "tools", "emulators"))
from openconnect_emulator import (Connection, RuleBroken, ShotCounter, parse_reply,  # noqa: E402
                                  take_object)

SHOT = {"DeviceID": "Taltrix ES16", "Units": "Yards", "ShotNumber": 1, "APIversion": "1",
        "BallData": {"Speed": 131.1, "SpinAxis": -1.0, "TotalSpin": 4218, "BackSpin": 4217, "SideSpin": -94,
                     "HLA": -4.8, "VLA": 13.0},
        "ClubData": {"Speed": 93.0, "Path": 0.0, "FaceToTarget": 0.0},
        "ShotDataOptions": {"ContainsBallData": True, "ContainsClubData": True, "LaunchMonitorIsReady": True,
                            "LaunchMonitorBallDetected": True, "IsHeartBeat": False}}
HEARTBEAT = {"DeviceID": "Taltrix ES16", "Units": "Yards", "ShotNumber": 1, "APIversion": "1",
             "ShotDataOptions": {"ContainsBallData": False, "ContainsClubData": False, "LaunchMonitorIsReady": False,
                                 "LaunchMonitorBallDetected": False, "IsHeartBeat": True}}


def changed(message, path, value):
    """A copy of message with the field at path ("BallData.HLA") set, or removed for None."""
    result = copy.deepcopy(message)
    *parents, last = path.split(".")
    target = result
    for key in parents:
        target = target[key]
    if value is None:
        del target[last]
    else:
        target[last] = value
    return result


class FieldRulesTest(unittest.TestCase):
    def test_good_messages_pass(self):
        connection = Connection()
        self.assertEqual(connection.check(SHOT), ("shot", 1))
        self.assertEqual(connection.check(HEARTBEAT), ("heartbeat", False, False))
        self.assertEqual(connection.check(changed(SHOT, "ShotNumber", 2)), ("shot", 2))

    def test_each_rule_can_refuse(self):
        broken = [
            changed(SHOT, "DeviceID", None), changed(SHOT, "DeviceID", ""), changed(SHOT, "Units", "Feet"),
            changed(SHOT, "APIversion", "2"), changed(SHOT, "ShotNumber", "1"), changed(SHOT, "ShotNumber", True),
            changed(SHOT, "Colour", "red"), changed(SHOT, "BallData.Spin", 1), changed(SHOT, "BallData.VLA", None),
            changed(SHOT, "BallData.HLA", "4"), changed(SHOT, "BallData.Speed", -1.0),
            changed(SHOT, "BallData.SpinAxis", 91.0), changed(SHOT, "ClubData.Lie", True),
            changed(SHOT, "ClubData", None), changed(SHOT, "ShotDataOptions.IsHeartBeat", None),
            changed(SHOT, "ShotDataOptions.LaunchMonitorIsReady", False),
            changed(SHOT, "ShotDataOptions.ContainsBallData", 1),
            changed(HEARTBEAT, "BallData", SHOT["BallData"]),
        ]
        for message in broken:
            with self.subTest(message=json.dumps(message)), self.assertRaises(RuleBroken):
                Connection().check(message)

    def test_numbers_and_the_device_are_followed_along_the_connection(self):
        connection = Connection()
        connection.check(changed(SHOT, "ShotNumber", 5))
        for message in (changed(SHOT, "ShotNumber", 5), changed(HEARTBEAT, "ShotNumber", 4),
                        changed(changed(SHOT, "ShotNumber", 6), "DeviceID", "Other")):
            with self.subTest(message=json.dumps(message)), self.assertRaises(RuleBroken):
                connection.check(message)

    def test_numbers_must_rise_across_connections_and_fit_32_bits(self):
        counter = ShotCounter()
        Connection(counter).check(changed(SHOT, "ShotNumber", 7))
        # The client came back (a restarted bridge) and numbers from the start.
        for number in (1, 7, 2**31):
            with self.subTest(number=number), self.assertRaises(RuleBroken):
                Connection(counter).check(changed(SHOT, "ShotNumber", number))
        self.assertEqual(Connection(counter).check(changed(SHOT, "ShotNumber", 2**31 - 1)), ("shot", 2**31 - 1))

    def test_replies_it_can_send(self):
        self.assertEqual(json.loads(parse_reply("202")), {"Code": 202, "Message": "Ready"})
        self.assertEqual(json.loads(parse_reply("203")), {"Code": 203, "Message": "Round Ended"})
        self.assertEqual(json.loads(parse_reply("LW:20:LH:Green"))["Player"],
                         {"Handed": "LH", "Club": "LW", "DistanceToTarget": 20.0, "Surface": "Green"})

    def test_objects_are_cut_by_their_braces(self):
        buffer = bytearray(b' {"a":"}{"}{"b":{"c":1}} {"d"')
        self.assertEqual(take_object(buffer), '{"a":"}{"}')
        self.assertEqual(take_object(buffer), '{"b":{"c":1}}')
        self.assertIsNone(take_object(buffer))
        self.assertEqual(bytes(buffer), b' {"d"')
        with self.assertRaises(RuleBroken):
            take_object(bytearray(b'x{"a":1}'))


if __name__ == "__main__":
    unittest.main()
