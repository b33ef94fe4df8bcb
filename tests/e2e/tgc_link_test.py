"""Taltrix end to end with TGC: the emulated ES16 and TGC as real processes,
taltrix --headless between them, all on loopback."""

import os
import shutil
import tempfile
import time
import unittest

from processes import HeldPort, Process, start_tgc_after_the_device

TALTRIX = os.environ["TALTRIX"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]
EMULATORS = os.path.join(SOURCE_DIR, "tools", "emulators")

EXAMPLE = ("ES16Prt001CS093.0BS131.1CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0"
           "AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End")
EXAMPLE_TGC = ('{"protocol":"HXLAUNCH",  "DATA":{"ballSpeedMPH":"131.1", "ballSpeedKMH":"210.9", '
               '"ballDirection":"-004.8", "ballAngle":"013.0", "spinAxis":"-001.0", "sideSpin":"-94", '
               '"backSpin":"4217", "clubSpeedMPH":"093.0", "clubSpeedKMH":"149.6", "clubFace":"0", '
               '"swingPath":"0",  "launchCode":"4004392"}}')

TICK = 4.5  # the connection timer


class TgcEndToEndTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="taltrix-home-")
        self.runtime = tempfile.mkdtemp(prefix="taltrix-run-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.addCleanup(shutil.rmtree, self.runtime, True)
        self.device = self.start_device()
        held = HeldPort()
        self.addCleanup(held.release)
        self.tgc_port = held.port
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, QT_QPA_PLATFORM="offscreen")
        env.pop("TALTRIX_ANSWER", None)
        self.bridge = Process([TALTRIX, "--headless", "--home", self.home,
                               "--bluetooth", f"emulator:ES16 Range@127.0.0.1:{self.device_port}",
                               "--tgc", f"127.0.0.1:{self.tgc_port}"], env=env)
        self.addCleanup(self.bridge.stop)
        # Start-up discovers the device; the first timer tick connects it.
        self.device.wait_for(lambda l: l.startswith("connected"), 3 * TICK)
        self.bridge.wait_for(lambda l: l == "Connected to ES16", 3 * TICK)
        self.tgc = start_tgc_after_the_device(self.bridge, held, self.start_tgc, TICK)

    def start_device(self):
        device = Process(["/usr/bin/python3", os.path.join(EMULATORS, "es16_emulator.py"), "--random", "3"])
        self.addCleanup(device.stop)
        words = device.wait_for(lambda l: l.startswith("listening"), 10).split()
        self.device_port = int(words[2])
        return device

    def start_tgc(self):
        tgc = Process(["/usr/bin/python3", os.path.join(EMULATORS, "tgc_emulator.py"), "--port", str(self.tgc_port)])
        self.addCleanup(tgc.stop)
        tgc.wait_for(lambda l: l.startswith("listening"), 10)
        return tgc

    def test_shot_reaches_tgc_exactly_and_clubs_reach_the_device(self):
        self.device.tell("shot " + EXAMPLE)
        line = self.tgc.wait_for(lambda l: l.startswith(("launch", "received")), 10)
        self.assertEqual(line, "launch ok " + EXAMPLE_TGC)

        self.tgc.tell("club I7")
        self.assertEqual(self.device.wait_for(lambda l: l.startswith("command"), 10), "command CLUB7IrLOFT000")
        self.tgc.tell("club LW Fairway 25")
        self.assertEqual(self.device.wait_for(lambda l: l.startswith("command"), 10), "command CLUBChpLOFT000")
        self.tgc.tell("club LW Green 5")
        self.assertEqual(self.device.wait_for(lambda l: l.startswith("command"), 10), "command CLUBLbwLOFT000")

    def test_not_ready_tgc_gets_no_shots(self):
        self.tgc.tell("status 204")
        self.bridge.wait_for(lambda l: l == "TGC not connected", 10)
        self.device.tell("shot")
        self.assertTrue(self.tgc.quiet_for(lambda l: l.startswith("launch"), 2))
        self.tgc.tell("status 203")
        self.bridge.wait_for(lambda l: l == "TGC connected", 10)
        self.device.tell("shot")
        self.assertTrue(self.tgc.wait_for(lambda l: l.startswith("launch"), 10).startswith("launch ok"))

    def test_tgc_going_away_and_coming_back(self):
        self.tgc.stop()
        self.tgc = self.start_tgc()
        started = time.monotonic()
        self.tgc.wait_for(lambda l: l.startswith("connected"), 2 * TICK + 1)
        self.assertLess(time.monotonic() - started, 2 * TICK + 1)
        self.bridge.wait_for(lambda l: l == "TGC connected", 5)
        self.device.tell("shot")
        self.assertTrue(self.tgc.wait_for(lambda l: l.startswith("launch"), 10).startswith("launch ok"))

    def test_device_dropping_reconnects_at_the_next_tick(self):
        self.device.tell("drop")
        self.bridge.wait_for(lambda l: l == "Disconnected", 5)
        self.device.wait_for(lambda l: l.startswith("connected"), TICK + 1)
        self.bridge.wait_for(lambda l: l == "Connected to ES16", 5)
        # The reconnection reopened TGC's link too; this is its greeting.
        self.bridge.wait_for(lambda l: l == "TGC connected", 5)
        self.device.tell("shot " + EXAMPLE)
        self.assertEqual(self.tgc.wait_for(lambda l: l.startswith("launch"), 10), "launch ok " + EXAMPLE_TGC)


if __name__ == "__main__":
    unittest.main()
