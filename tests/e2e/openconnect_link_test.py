"""Taltrix end to end with an Open Connect simulator: the emulated ES16 and
the Open Connect emulator as real processes, taltrix --headless between
them, all on loopback. The emulator checks every message against the
protocol's field rules; a message that breaks one is printed as BAD."""

import json
import os
import shutil
import tempfile
import time
import unittest

from processes import Process, free_port, history_rows

TALTRIX = os.environ["TALTRIX"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]
EMULATORS = os.path.join(SOURCE_DIR, "tools", "emulators")

EXAMPLE = ("ES16Prt001CS093.0BS131.1CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0"
           "AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End")
# Worked out by hand, the angles as the device wrote them: side spin
# -1.4 x 4217 / 45 = -131.2 gives -131, the total is sqrt(4217^2 + 131^2) = 4219.03.
EXAMPLE_OPEN_CONNECT = (
    '{"DeviceID":"Taltrix ES16","Units":"Yards","ShotNumber":NUMBER,"APIversion":"1",'
    '"BallData":{"Speed":131.1,"SpinAxis":-1.4,"TotalSpin":4219,"BackSpin":4217,"SideSpin":-131,'
    '"HLA":-4.8,"VLA":13.1},"ClubData":{"Speed":93.0,"Path":0.0,"FaceToTarget":0.0},'
    '"ShotDataOptions":{"ContainsBallData":true,"ContainsClubData":true,"LaunchMonitorIsReady":true,'
    '"LaunchMonitorBallDetected":true,"IsHeartBeat":false}}')
# A run without history numbers its shots from the seconds since 2024 began.
NUMBER_EPOCH = 1704067200

TICK = 4.5  # the connection timer


def shot_line(line):
    # Heartbeats come every 10 s besides; a message that breaks a rule is BAD.
    return line.startswith(("shot", "BAD"))


def shot_number(line):
    """The number of a "shot ok NUMBER TEXT" line."""
    words = line.split(" ", 3)
    if words[:2] != ["shot", "ok"]:
        raise AssertionError(line)
    return int(words[2])


class OpenConnectEndToEndTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="taltrix-home-")
        self.runtime = tempfile.mkdtemp(prefix="taltrix-run-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.addCleanup(shutil.rmtree, self.runtime, True)
        self.device = Process(["/usr/bin/python3", os.path.join(EMULATORS, "es16_emulator.py"), "--random", "5"])
        self.addCleanup(self.device.stop)
        device_port = int(self.device.wait_for(lambda l: l.startswith("listening"), 10).split()[2])
        self.simulator = Process(["/usr/bin/python3", os.path.join(EMULATORS, "openconnect_emulator.py"),
                                  "--port", "0"])
        self.addCleanup(self.simulator.stop)
        simulator_port = int(self.simulator.wait_for(lambda l: l.startswith("listening"), 10).split()[2])
        with open(os.path.join(self.home, "Settings.pgs"), "w", newline="") as settings:
            settings.write("[Software]\r\nSim_software=OpenConnect\r\nChipping_mode_distance=50\r\n"
                           f"OpenConnect_port={simulator_port}\r\n")
        self.device_port = device_port
        self.start_bridge()

    def start_bridge(self):
        # A registry of the test's own, empty: no control of another build is
        # loaded for the relay, which this test does not use.
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, QT_QPA_PLATFORM="offscreen",
                   TALTRIX_COM_USER_HIVE=os.path.join(self.runtime, "user.reg"),
                   TALTRIX_COM_MACHINE_HIVE=os.path.join(self.runtime, "machine.reg"))
        env.pop("TALTRIX_ANSWER", None)
        # The launch monitor's connection also opens TGC's link: it finds nobody there.
        self.bridge = Process([TALTRIX, "--headless", "--home", self.home,
                               "--bluetooth", f"emulator:ES16 Range@127.0.0.1:{self.device_port}",
                               "--tgc", f"127.0.0.1:{free_port()}"], env=env)
        self.addCleanup(self.bridge.stop)
        # The first timer tick connects the device, then the simulator; the
        # simulator hears of the device at connect or when it comes.
        self.device.wait_for(lambda l: l.startswith("connected"), 3 * TICK)
        self.simulator.wait_for(lambda l: l.startswith("connected"), 2 * TICK)
        self.heartbeat(ready=True)

    def next_shot(self):
        return self.simulator.wait_for(shot_line, 10)

    def heartbeat(self, ready):
        state = int(ready)
        line = f"heartbeat ok ready={state} detected={state}"
        self.simulator.wait_for(lambda l: l == line or l.startswith("BAD"), TICK + 2)
        self.assertEqual(self.simulator.seen[-1], line)

    def next_command(self):
        return self.device.wait_for(lambda l: l.startswith("command"), 10)

    def test_shots_arrive_valid_and_the_simulators_clubs_reach_the_device(self):
        self.device.tell("shot " + EXAMPLE)
        line = self.next_shot()
        first = shot_number(line)
        self.assertEqual(line, f"shot ok {first} " + EXAMPLE_OPEN_CONNECT.replace("NUMBER", str(first)))
        self.assertLess(abs(first - (time.time() - NUMBER_EPOCH)), 120)
        self.device.tell("shot")
        self.assertEqual(shot_number(self.next_shot()), first + 1)

        for command, club in [("club I7", "CLUB7IrLOFT000"), ("club W7 210 LH", "CLUB5WdLOFT000"),
                              ("club LW 25", "CLUBChpLOFT000"), ("club LW 150", "CLUBLbwLOFT000")]:
            self.simulator.tell(command)
            self.assertEqual(self.next_command(), "command " + club, command)

        # Both shots are in the history, with the message as the simulator got it.
        rows = history_rows(TALTRIX, self.home, 2)
        self.assertEqual([(row["simulator"], row["delivered"], row["outcome"]) for row in rows],
                         [("OpenConnect", "yes", "sent")] * 2)
        self.assertEqual([json.loads(row["message"])["ShotNumber"] for row in rows], [first, first + 1])
        self.assertEqual([row["shot_number"] for row in rows], [str(first), str(first + 1)])

    def test_readiness_the_end_of_the_round_and_the_lie(self):
        self.simulator.tell("ready")
        self.bridge.wait_for(lambda l: l == "Open Connect simulator ready. ", 5)
        self.simulator.tell("ended")
        self.bridge.wait_for(lambda l: l == "Open Connect round ended. ", 5)
        # Chipping distance 50: on the green the lob wedge never chips.
        for command, club in [("club LW 20 RH Green", "CLUBLbwLOFT000"), ("club LW 20 RH Fairway", "CLUBChpLOFT000"),
                              ("glued 202 LW:20:RH:Green 203", "CLUBLbwLOFT000"), ("club LW 20", "CLUBChpLOFT000")]:
            self.simulator.tell(command)
            self.assertEqual(self.next_command(), "command " + club, command)
        self.assertTrue(self.bridge.quiet_for(lambda l: l.startswith("Non valid"), 0.5))

    def test_a_restarted_bridge_numbers_above_its_last_run(self):
        self.device.tell("shot")
        last = shot_number(self.next_shot())
        history_rows(TALTRIX, self.home, 1)
        self.bridge.stop()
        self.simulator.wait_for(lambda l: l.startswith("disconnected"), 5)
        self.device.wait_for(lambda l: l.startswith("disconnected"), 5)
        self.start_bridge()
        self.device.tell("shot")
        # The emulator refuses (BAD) a number that is not above the last it saw.
        self.assertGreater(shot_number(self.next_shot()), last)

    def test_glued_and_split_replies_are_each_read(self):
        self.simulator.tell("glued 200 I7:150 PW:95:LH")
        self.assertEqual(self.next_command(), "command CLUB7IrLOFT000")
        self.assertEqual(self.next_command(), "command CLUBPtwLOFT000")
        self.simulator.tell("split H7 180")
        self.assertEqual(self.next_command(), "command CLUB5HyLOFT000")
        self.assertTrue(self.bridge.quiet_for(lambda l: l.startswith("Non valid"), 0.5))

    def test_heartbeats_follow_the_launch_monitor_and_a_cut_off_shot_stays_cut_off(self):
        # The link drops in the middle of a shot; the device's chatter on the
        # new connection has an "End" that must not complete it.
        self.device.tell("shot " + EXAMPLE[:20])
        self.device.wait_for(lambda l: l.startswith("sent"), 5)
        self.device.tell("drop")
        self.heartbeat(ready=False)
        self.device.wait_for(lambda l: l.startswith("connected"), TICK + 1)
        self.heartbeat(ready=True)
        self.device.tell("shot End of calibration")
        self.device.tell("shot " + EXAMPLE)
        line = self.next_shot()
        self.assertEqual(line, f"shot ok {shot_number(line)} " +
                         EXAMPLE_OPEN_CONNECT.replace("NUMBER", str(shot_number(line))))
        self.assertTrue(self.simulator.quiet_for(shot_line, 0.5))

    def test_simulator_dropping_is_reconnected_and_the_shots_meanwhile_are_kept_not_sent(self):
        self.device.tell("shot")
        before = shot_number(self.next_shot())
        self.simulator.tell("drop")
        self.bridge.wait_for(lambda l: l == "Open Connect not connected", 5)
        self.device.tell("shot")
        self.bridge.wait_for(lambda l: l == "Shot not sent: Open Connect is not connected", 5)
        self.simulator.wait_for(lambda l: l.startswith("connected"), TICK + 1)
        self.heartbeat(ready=True)
        self.device.tell("shot")
        # The shot played while the simulator was away is not sent late.
        self.assertEqual(shot_number(self.next_shot()), before + 1)
        self.assertTrue(self.simulator.quiet_for(shot_line, 0.5))
        rows = history_rows(TALTRIX, self.home, 3)
        self.assertEqual([(row["outcome"], row["delivered"]) for row in rows],
                         [("sent", "yes"), ("simulator not connected", "no"), ("sent", "yes")])

    def test_quitting_closes_the_connection_cleanly(self):
        self.bridge.stop()
        self.assertEqual(self.bridge.process.returncode, 0)
        self.assertTrue(self.simulator.wait_for(lambda l: l.startswith("disconnected"), 5).endswith(" clean"))


if __name__ == "__main__":
    unittest.main()
