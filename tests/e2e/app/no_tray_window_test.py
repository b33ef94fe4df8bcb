"""The window on a real X server (Xvfb) where nothing hosts a system tray:
Taltrix must show its window at start, or the golfer would see nothing; and
when a tray host (trayer, an XEmbed tray) starts later, Taltrix's icon goes
into it and a window started hidden goes there too, and back out when the
tray's host stops."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from processes import stop_process  # noqa: E402

TALTRIX = os.environ["TALTRIX"]
TITLE = "TGC for Taltrix - Version 2.37"


class NoTrayWindowTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="taltrix-x-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        read_end, write_end = os.pipe()
        # -displayfd: the server picks a free display and says which.
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
                                      "800x600x24"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        self.addCleanup(stop_process, self.xvfb)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        self.assertTrue(number.isdigit(), "Xvfb gave no display")
        # No session bus either: no StatusNotifier host can answer.
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("DBUS_", "WAYLAND_", "TALTRIX_"))}
        self.env.update(DISPLAY=":" + number, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.folder)

    def map_state(self):
        done = subprocess.run(["xwininfo", "-name", TITLE], env=self.env, capture_output=True, text=True, timeout=10)
        for line in done.stdout.splitlines():
            if "Map State:" in line:
                return line.split(":", 1)[1].strip()
        return None

    def start_bridge(self, *options):
        bridge = subprocess.Popen([TALTRIX, "--home", self.folder, "--bluetooth", "emulator:ES16@127.0.0.1:9",
                                   *options], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True)
        self.addCleanup(stop_process, bridge)
        return bridge

    def wait_for_state(self, bridge, wanted, seconds):
        deadline = time.monotonic() + seconds
        state = None
        while time.monotonic() < deadline and bridge.poll() is None:
            state = self.map_state()
            if state == wanted:
                break
            time.sleep(0.2)
        self.assertIsNone(bridge.poll(), bridge.stderr.read() if bridge.poll() is not None else "")
        return state

    def test_window_is_mapped_at_start(self):
        bridge = self.start_bridge()
        self.assertEqual(self.wait_for_state(bridge, "IsViewable", 15), "IsViewable")

    def test_a_tray_that_starts_later_takes_the_icon_and_the_hidden_window(self):
        # --hidden with no tray: minimised, which without a window manager still leaves it mapped.
        bridge = self.start_bridge("--hidden")
        self.assertEqual(self.wait_for_state(bridge, "IsViewable", 15), "IsViewable")
        tray = subprocess.Popen(["trayer", "--edge", "bottom", "--widthtype", "request"], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop_process, tray)
        # The next connection tick (4.5 s) finds the tray.
        self.assertEqual(self.wait_for_state(bridge, "IsUnMapped", 12), "IsUnMapped")
        # Every window below the tray's panel: our icon is one of them.
        below = subprocess.run(["xwininfo", "-name", "panel", "-tree"], env=self.env, capture_output=True,
                               text=True, timeout=10).stdout
        self.assertIn('"taltrix": ("taltrix" "taltrix")', below)
        # The tray's host stops: the window comes back rather than staying lost.
        stop_process(tray)
        self.assertEqual(self.wait_for_state(bridge, "IsViewable", 12), "IsViewable")


if __name__ == "__main__":
    unittest.main()
