"""taltrix --headless and the window as real processes: settings on first start,
status lines, one instance per session, and a clean stop by signal."""

import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

TALTRIX = os.environ["TALTRIX"]
# A preload that makes ending threads and the main thread's exit handlers
# meet in the worst order (see slow_thread_end.cpp).
SLOW_THREAD_END = os.environ["SLOW_THREAD_END"]

DEFAULTS = (b"[Software]\r\n"
            b"HalvexPlay_key=\r\n"
            b"Sim_software=TGC\r\n"
            b"BT_Connected_device=ES16\r\n"
            b"Debug_mode=False\r\n"
            b"Chipping_mode_distance=1000\r\n")

ALREADY_STARTED = ("taltrix: message box \"TGC for Taltrix\"\n"
                   "  TGC for Taltrix already started.\n"
                   "  The application resides in system tray.\n"
                   "taltrix: answered OK\n")


class Bridge:
    """One taltrix process with its own home and runtime folder."""

    def __init__(self, home, runtime, *options, env=None):
        environment = dict(os.environ, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen")
        environment.pop("TALTRIX_ANSWER", None)
        environment.pop("TALTRIX_INPUT", None)
        environment.update(env or {})
        self.process = subprocess.Popen([TALTRIX, "--home", home, *options], env=environment,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def read_line(self, timeout=20):
        """The next line of standard output, waiting at most timeout seconds."""
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        if not ready:
            raise AssertionError("no status line within %s s" % timeout)
        return self.process.stdout.readline().decode("utf-8")

    def wait_for_line(self, ending, timeout=20):
        """Reads status lines (the links report too) until one ends in ending."""
        deadline = time.monotonic() + timeout
        while True:
            line = self.read_line(max(0.0, deadline - time.monotonic()))
            if line.endswith(ending):
                return line
            if line == "":
                raise AssertionError("standard output closed before %r" % ending)

    def stop(self, signo=signal.SIGTERM):
        self.process.send_signal(signo)
        out, err = self.process.communicate(timeout=20)
        return self.process.returncode, out.decode("utf-8"), err.decode("utf-8")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.communicate()


class ShellTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="taltrix-home.")
        self.runtime = tempfile.mkdtemp(prefix="taltrix-run.")
        self.bridges = []

    def tearDown(self):
        for bridge in self.bridges:
            bridge.kill()
        shutil.rmtree(self.home)
        shutil.rmtree(self.runtime)

    def start(self, *options, env=None):
        bridge = Bridge(self.home, self.runtime, *options, env=env)
        self.bridges.append(bridge)
        return bridge

    def settings(self):
        with open(os.path.join(self.home, "Settings.pgs"), "rb") as f:
            return f.read()

    def test_first_headless_start_writes_the_defaults_and_says_it_runs(self):
        bridge = self.start("--headless")
        self.assertEqual(bridge.wait_for_line("running without a window.\n"),
                         "TGC for Taltrix - Version 2.37 running without a window.\n")
        self.assertEqual(self.settings(), DEFAULTS)
        status, _, err = bridge.stop(signal.SIGTERM)
        self.assertEqual(status, 0, err)
        self.assertNotIn("message box", err)

    def test_second_start_reports_the_first_and_leaves_it_running(self):
        first = self.start("--headless")
        first.wait_for_line("running without a window.\n")
        second = self.start("--headless")
        out, err = second.process.communicate(timeout=20)
        self.assertEqual(second.process.returncode, 1)
        self.assertEqual(out, b"")
        self.assertEqual(err.decode("utf-8"), ALREADY_STARTED)
        self.assertIsNone(first.process.poll())
        status, _, err1 = first.stop(signal.SIGINT)
        self.assertEqual(status, 0, err1)
        # With the first gone, a new start runs.
        third = self.start("--headless")
        third.wait_for_line("running without a window.\n")
        status, _, err3 = third.stop()
        self.assertEqual(status, 0, err3)

    def test_stop_lets_the_dbus_thread_end_before_qt_tears_down(self):
        # The system Bluetooth stack starts Qt's D-Bus thread. Qt stops it at
        # exit, but the thread still has a step to take after Qt's wait for
        # it; if the exit runs on past that, the thread's data is never freed
        # and the leak checker turns the clean stop into status 1.
        asan = os.environ.get("ASAN_OPTIONS", "")
        env = {"LD_PRELOAD": SLOW_THREAD_END,
               "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0"}
        for signo in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signo.name):
                bridge = self.start("--headless", env=env)
                bridge.wait_for_line("running without a window.\n")
                status, _, err = bridge.stop(signo)
                self.assertIn("slow-thread-end: QDBusConnection ended\n", err)
                self.assertNotIn("while a thread was still ending", err)
                self.assertEqual(status, 0, err)

    def test_settings_of_an_earlier_run_are_kept_and_the_relay_game_named(self):
        with open(os.path.join(self.home, "Settings.pgs"), "wb") as f:
            f.write(b"; mine\r\n[software]\r\nsim_software=HalvexPlay\r\nChipping_mode_distance=1500\r\n")
        bridge = self.start("--headless")
        self.assertEqual(bridge.wait_for_line("running without a window.\n"),
                         "HalvexPlay for Taltrix - Version 2.37 running without a window.\n")
        self.assertEqual(bridge.stop()[0], 0)
        self.assertEqual(self.settings(),
                         b"; mine\r\n[software]\r\nsim_software=HalvexPlay\r\nChipping_mode_distance=1500\r\n"
                         b"HalvexPlay_key=\r\nBT_Connected_device=ES16\r\nDebug_mode=False\r\n")

    def test_loader_error_box_goes_to_standard_error(self):
        with open(os.path.join(self.home, "Settings.pgs"), "wb") as f:
            f.write(b"[Software]\r\nChipping_mode_distance=99999\r\n")
        bridge = self.start("--headless")
        bridge.wait_for_line("running without a window.\n")
        _, _, err = bridge.stop()
        self.assertIn("Version 2.37 --> Error number: 6\n", err)
        self.assertIn("  Description:Overflow\n", err)

    def test_window_without_a_tray_stays_open_and_stops_on_sigterm(self):
        bridge = self.start()
        # No status lines without --headless; wait for the settings instead.
        deadline = time.monotonic() + 20
        while not os.path.exists(os.path.join(self.home, "Settings.pgs")) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.3)
        self.assertIsNone(bridge.process.poll())
        status, out, err = bridge.stop(signal.SIGTERM)
        self.assertEqual(status, 0, err)
        self.assertEqual(self.settings(), DEFAULTS)

    def test_unknown_answer_is_a_usage_error(self):
        process = subprocess.run([TALTRIX, "--headless", "--answer", "maybe"], capture_output=True, timeout=20)
        self.assertEqual(process.returncode, 2)
        self.assertIn(b"--answer takes yes, no or cancel", process.stderr)


if __name__ == "__main__":
    unittest.main()
