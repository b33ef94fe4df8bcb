"""The window on a real X server (Xvfb) where nothing hosts a system tray:
Taltrix must show its window at start, or the golfer would see nothing."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

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
        self.addCleanup(self.stop, self.xvfb)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        self.assertTrue(number.isdigit(), "Xvfb gave no display")
        # No session bus either: no StatusNotifier host can answer.
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("DBUS_", "WAYLAND_", "TALTRIX_"))}
        self.env.update(DISPLAY=":" + number, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.folder)

    @staticmethod
    def stop(process):
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()

    def map_state(self):
        done = subprocess.run(["xwininfo", "-name", TITLE], env=self.env, capture_output=True, text=True, timeout=10)
        for line in done.stdout.splitlines():
            if "Map State:" in line:
                return line.split(":", 1)[1].strip()
        return None

    def test_window_is_mapped_at_start(self):
        bridge = subprocess.Popen([TALTRIX, "--home", self.folder, "--bluetooth", "emulator:ES16@127.0.0.1:9"],
                                  env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.stop, bridge)
        deadline = time.monotonic() + 15
        state = None
        while time.monotonic() < deadline and bridge.poll() is None:
            state = self.map_state()
            if state == "IsViewable":
                break
            time.sleep(0.2)
        self.assertIsNone(bridge.poll(), bridge.stderr.read() if bridge.poll() is not None else "")
        self.assertEqual(state, "IsViewable")


if __name__ == "__main__":
    unittest.main()
