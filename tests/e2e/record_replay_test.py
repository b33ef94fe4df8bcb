"""Record and replay, the shot history and the diagnostics bundle, end to
end: the emulated ES16 and TGC as real processes with taltrix --headless
between them. One recorded session of 50 shots serves every test."""

import csv
import io
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from processes import HeldPort, Process, start_tgc_after_the_device

TALTRIX = os.environ["TALTRIX"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]
COMREG = os.environ["COMREG"]
MORVANE_LIBRARY = os.environ["MORVANE_LIBRARY"]
EMULATORS = os.path.join(SOURCE_DIR, "tools", "emulators")

TICK = 4.5  # the connection timer
SHOTS = 50
KEY = "K3Y-SECRET-4711"


def start_emulator(case, script, *options, port=0):
    process = Process(["/usr/bin/python3", os.path.join(EMULATORS, script), "--port", str(port), *options])
    case.addClassCleanup(process.stop)
    process.port = int(process.wait_for(lambda l: l.startswith("listening"), 10).split()[2])
    return process


def run_bridge(case, home, env, device, *options):
    """taltrix between `device` and a new TGC emulator, once both links are up."""
    tgc_port = HeldPort()
    case.addClassCleanup(tgc_port.release)
    bridge = Process([TALTRIX, "--headless", "--home", home, "--bluetooth", f"emulator:ES16 Range@127.0.0.1:{device.port}",
                      "--tgc", f"127.0.0.1:{tgc_port.port}", *options], env=env)
    case.addClassCleanup(bridge.stop)
    device.wait_for(lambda l: l.startswith("connected"), 3 * TICK)
    bridge.wait_for(lambda l: l == "Connected to ES16", 3 * TICK)
    tgc = start_tgc_after_the_device(bridge, tgc_port,
                                     lambda: start_emulator(case, "tgc_emulator.py", port=tgc_port.port), TICK)
    return bridge, tgc


def launches(tgc, count):
    return [tgc.wait_for(lambda l: l.startswith(("launch", "received")), 20) for _ in range(count)]


class RecordedSessionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="taltrix-record-")
        cls.addClassCleanup(shutil.rmtree, cls.folder, True)
        cls.home = os.path.join(cls.folder, "home")
        os.makedirs(cls.home)
        cls.recording = os.path.join(cls.folder, "session.rec")
        cls.env = dict(os.environ, XDG_RUNTIME_DIR=cls.folder, QT_QPA_PLATFORM="offscreen",
                       TALTRIX_COM_USER_HIVE=os.path.join(cls.folder, "user-classes.reg"),
                       TALTRIX_COM_MACHINE_HIVE=os.path.join(cls.folder, "machine-classes.reg"))
        cls.env.pop("TALTRIX_ANSWER", None)
        subprocess.run([COMREG, "register", "--user", MORVANE_LIBRARY], env=cls.env, check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(cls.home, "Settings.pgs"), "w", newline="") as settings:
            settings.write(f"[Software]\r\nHalvexPlay_key={KEY}\r\nSim_software=TGC\r\n")
        # A log file of a build with file logging on, naming the key.
        with open(os.path.join(cls.home, "debug.001"), "w", newline="") as log:
            log.write(f"Sent: /connect SIM-{KEY}\r\n")

        # The session: noisy, chunked generated shots, recorded on the way in.
        device = start_emulator(cls, "es16_emulator.py", "--random", "11")
        bridge, tgc = run_bridge(cls, cls.home, cls.env, device, "--record", cls.recording)
        for _ in range(SHOTS):
            device.tell("shot")
        cls.sent = launches(tgc, SHOTS)
        bridge.stop()
        device.stop()

    def test_replaying_the_recording_gives_the_same_simulator_messages(self):
        self.assertTrue(all(line.startswith("launch ok ") for line in self.sent), self.sent[:3])
        home = os.path.join(self.folder, "replay-home")
        os.makedirs(home)
        device = start_emulator(self, "es16_emulator.py", "--replay", self.recording, "--fast", "--hold")
        bridge, tgc = run_bridge(self, home, self.env, device)
        device.tell("replay")
        device.wait_for(lambda l: l.startswith(("replayed", "replay-damaged")), 20)
        self.assertEqual(launches(tgc, SHOTS), self.sent)
        self.assertTrue(tgc.quiet_for(lambda l: l.startswith(("launch", "received")), 1))

    def test_every_shot_is_in_the_history_and_its_csv_export(self):
        done = subprocess.run([TALTRIX, "--home", self.home, "--export-csv", "-"], env=self.env,
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = list(csv.DictReader(io.StringIO(done.stdout)))
        self.assertEqual([row["message"] for row in rows], [line[len("launch ok "):] for line in self.sent])
        for row in rows:
            self.assertEqual((row["simulator"], row["delivered"]), ("TGC", "yes"))
            self.assertRegex(row["ball_speed_mph"], r"^\d+(\.\d)?$")
            self.assertGreater(float(row["latency_us"]), 0)
        # --since tomorrow leaves nothing but the header.
        later = subprocess.run([TALTRIX, "--home", self.home, "--export-csv", "-", "--since", "2999-01-01"],
                               env=self.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(later.stdout.count("\n"), 1)

    def test_the_diagnostics_bundle_is_complete_and_the_key_masked(self):
        bundle = os.path.join(self.folder, "diagnostics.zip")
        done = subprocess.run([TALTRIX, "--home", self.home, "--diagnostics", bundle,
                               "--bluetooth", "emulator:ES16@127.0.0.1:9"], env=self.env,
                              capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        with zipfile.ZipFile(bundle) as z:
            self.assertIsNone(z.testzip())
            names = set(z.namelist())
            self.assertEqual(names, {"manifest.txt", "Settings.pgs", "logs/debug.001", "status_trace.txt",
                                     "versions.txt", "control_registration.txt", "bluetooth.txt",
                                     "last_shots.csv"})
            text = {name: z.read(name).decode("utf-8") for name in names}
        for name, content in text.items():
            self.assertNotIn(KEY, content, name)
        self.assertIn("HalvexPlay_key=********\r\n", text["Settings.pgs"])
        self.assertIn("Sim_software=TGC", text["Settings.pgs"])
        self.assertIn("/connect SIM-********", text["logs/debug.001"])
        self.assertIn("Connected to ES16", text["status_trace.txt"])
        for part in ("Taltrix: Version 2.37", "Qt: 6.", "OpenSSL: OpenSSL 3", "SQLite: 3.", "Operating system: "):
            self.assertIn(part, text["versions.txt"])
        self.assertIn("QuillonWS.Morvane: class {", text["control_registration.txt"])
        self.assertIn(MORVANE_LIBRARY, text["control_registration.txt"])
        self.assertIn("adapter 0:", text["bluetooth.txt"])
        shots = list(csv.DictReader(io.StringIO(text["last_shots.csv"])))
        self.assertEqual(len(shots), SHOTS)


if __name__ == "__main__":
    unittest.main()
