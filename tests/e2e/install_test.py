"""Taltrix as installed: `cmake --install` into a scratch prefix, then the
installed programs with a brand-new user's home, the installed emulators
and the desktop's own validators on the installed files."""

import gzip
import os
import shutil
import stat
import subprocess
import tempfile
import unittest

from processes import HeldPort, Process, start_tgc_after_the_device

BUILD_DIR = os.environ["TALTRIX_BUILD_DIR"]
PRIVATE_LIBDIR = os.environ["TALTRIX_PRIVATE_LIBDIR"]
TICK = 4.5  # the connection timer
NOT_AVAILABLE = "WSClient1 is not available"


class InstalledTaltrixTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="taltrix-install-")
        cls.prefix = os.path.join(cls.scratch, "prefix")
        subprocess.run([os.environ.get("CMAKE", "cmake"), "--install", BUILD_DIR, "--prefix", cls.prefix], check=True,
                       stdout=subprocess.DEVNULL)
        cls.bin = os.path.join(cls.prefix, "bin")
        cls.share = os.path.join(cls.prefix, "share")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def new_user(self):
        """The environment of a user who never ran anything: an empty home, no
        XDG variables, no registration anywhere (the machine's registry is an
        empty file of the test's own)."""
        home = tempfile.mkdtemp(prefix="home-", dir=self.scratch)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("XDG_", "TALTRIX_", "DBUS_")) and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(HOME=home, XDG_RUNTIME_DIR=tempfile.mkdtemp(prefix="run-", dir=self.scratch),
                   TALTRIX_COM_MACHINE_HIVE=os.path.join(home, "machine-classes.reg"))
        return home, env

    def emulator(self, name, *args):
        process = Process(["/usr/bin/python3", os.path.join(self.share, "taltrix", "emulators", name), *args])
        self.addCleanup(process.stop)
        return process, process.wait_for(lambda l: l.startswith("listening"), 10)

    def test_installed_bridge_runs_from_the_users_home_and_finds_the_control(self):
        home, env = self.new_user()
        device, listening = self.emulator("es16_emulator.py", "--random", "3")
        device_port = int(listening.split()[2])
        tgc_port = HeldPort()
        self.addCleanup(tgc_port.release)
        bridge = Process([os.path.join(self.bin, "taltrix"), "--headless",
                          "--bluetooth", f"emulator:ES16 Range@127.0.0.1:{device_port}",
                          "--tgc", f"127.0.0.1:{tgc_port.port}"], env=env)
        self.addCleanup(bridge.stop)
        library = os.path.join(self.prefix, PRIVATE_LIBDIR, "libmorvane.so")
        registered = bridge.wait_for(lambda l: "Morvane control" in l or NOT_AVAILABLE in l, 10)
        self.assertEqual(registered, "Morvane control registered for the current user: " + library)
        bridge.wait_for(lambda l: l == "Connected to ES16", 3 * TICK)
        tgc = start_tgc_after_the_device(bridge, tgc_port,
                                         lambda: self.emulator("tgc_emulator.py", "--port", str(tgc_port.port))[0],
                                         TICK)
        device.tell("shot")
        self.assertTrue(tgc.wait_for(lambda l: l.startswith("launch"), 10).startswith("launch ok"))
        bridge.stop()
        self.assertFalse([line for line in bridge.seen if NOT_AVAILABLE in line])

        folder = os.path.join(home, ".local", "share", "taltrix")
        self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(folder, "Settings.pgs")).st_mode), 0o600)
        self.assertFalse(os.path.exists(os.path.join(self.bin, "Settings.pgs")))
        shots = subprocess.run([os.path.join(self.bin, "taltrix"), "--export-csv", "-"], env=env,
                               capture_output=True, text=True, timeout=30)
        self.assertEqual(shots.returncode, 0, shots.stderr)
        self.assertEqual(len(shots.stdout.strip().splitlines()), 2, shots.stdout)  # heading and the shot
        helped = subprocess.run([os.path.join(self.bin, "taltrix"), "--help"], env=env, capture_output=True,
                                text=True, timeout=30)
        self.assertIn(f"Program folder in use: {folder} (this user's, as Taltrix is installed)", helped.stdout)
        # The registration Taltrix made serves the installed morvane as well.
        got = subprocess.run([os.path.join(self.bin, "morvane"), "--get", "Timeout"], env=env, capture_output=True,
                             text=True, timeout=30)
        self.assertEqual(got.stdout.strip(), '{"get":"Timeout","value":60}', got.stderr)

    def test_autostart_entry_starts_the_installed_program_hidden(self):
        home, env = self.new_user()
        taltrix = os.path.join(self.bin, "taltrix")
        entry = os.path.join(home, ".config", "autostart", "taltrix.desktop")
        for state in ("on", "off"):
            done = subprocess.run([taltrix, "--autostart", state], env=env, capture_output=True, text=True,
                                  timeout=30)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertTrue(done.stdout.strip().endswith(entry), done.stdout)
            if state == "on":
                with open(entry) as f:
                    self.assertIn(f"\nExec={taltrix} --hidden\n", f.read())
                self.validate("desktop-file-validate", entry)
        self.assertFalse(os.path.exists(entry))

    def test_desktop_files_validate_and_man_pages_come_from_help(self):
        self.validate("desktop-file-validate", os.path.join(self.share, "applications", "taltrix.desktop"))
        self.validate("appstreamcli", "validate", "--no-net",
                      os.path.join(self.share, "metainfo", "org.taltrix.Taltrix.metainfo.xml"))
        for icon in ("48x48/apps/taltrix.png", "128x128/apps/taltrix.png", "scalable/apps/taltrix.svg"):
            self.assertGreater(os.path.getsize(os.path.join(self.share, "icons", "hicolor", icon)), 100, icon)
        for program, option in (("taltrix", "--autostart"), ("morvane", "--members"), ("comreg", "--user")):
            with gzip.open(os.path.join(self.share, "man", "man1", program + ".1.gz"), "rt") as f:
                page = f.read()
            self.assertTrue(page.startswith(f".TH {program.upper()} 1 "), program)
            self.assertIn(".B " + option.replace("-", "\\-"), page)
            self.assertNotIn("Program folder in use", page)

    def validate(self, *command):
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


if __name__ == "__main__":
    unittest.main()
