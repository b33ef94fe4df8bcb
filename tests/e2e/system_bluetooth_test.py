"""Taltrix on the system Bluetooth backend (Qt Bluetooth on BlueZ), end to
end: our stand-in for bluetoothd on a private D-Bus bus, the ES16 emulator
behind the links it hands over, the TGC emulator, and taltrix --headless
between them. The kernel's Bluetooth sockets play no part: the link is a
socketpair that BlueZ's profile manager passes to Qt over D-Bus."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import zipfile

from processes import HeldPort, Process, start_tgc_after_the_device, stop_process

TALTRIX = os.environ["TALTRIX"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]
EMULATORS = os.path.join(SOURCE_DIR, "tools", "emulators")
sys.path.insert(0, EMULATORS)

from bluez_standin import standin_command, start_private_bus  # noqa: E402

TICK = 4.5  # the connection timer
ADDRESS = "00:06:66:E7:8A:D1"
NO_RADIO = "No Bluetooth found, please turn Bluetooth on."
NOT_PAIRED = ("ES16 Range is not paired with this computer. Pair it in the Bluetooth settings "
              "(or with bluetoothctl), then Taltrix connects to it by itself.")


class SystemBluetoothCase(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="taltrix-bluez-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.home = os.path.join(self.folder, "home")
        os.mkdir(self.home)
        bus, self.bus_address = start_private_bus(self.folder)
        self.addCleanup(stop_process, bus)
        self.device = Process(["/usr/bin/python3", os.path.join(EMULATORS, "es16_emulator.py"), "--random", "5"])
        self.addCleanup(self.device.stop)
        words = self.device.wait_for(lambda l: l.startswith("listening"), 10).split()
        self.es16 = f"{words[1]}:{words[2]}"
        self.tgc_port = HeldPort()
        self.addCleanup(self.tgc_port.release)
        self.bluez = None

    def start_bluez(self, *options):
        """bluetoothd's stand-in, started as bluetoothd is: owning org.bluez."""
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.bus_address)
        self.bluez = Process(standin_command("--es16", self.es16, *options), env=env, with_stderr=True,
                             executable="/usr/bin/python3")
        self.addCleanup(self.bluez.stop)
        self.bluez.wait_for(lambda l: l == "ready", 10)
        return self.bluez

    def start_tgc(self):
        """TGC's emulator, once the device is connected."""
        def start():
            tgc = Process(["/usr/bin/python3", os.path.join(EMULATORS, "tgc_emulator.py"),
                           "--port", str(self.tgc_port.port)])
            self.addCleanup(tgc.stop)
            tgc.wait_for(lambda l: l.startswith("listening"), 10)
            return tgc
        return start_tgc_after_the_device(self.bridge, self.tgc_port, start, TICK)

    def start_bridge(self):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.bus_address, XDG_RUNTIME_DIR=self.folder,
                   QT_QPA_PLATFORM="offscreen", TALTRIX_BLUETOOTH_INQUIRY_MS="20")
        env.pop("TALTRIX_ANSWER", None)
        self.bridge_env = env
        self.bridge = Process([TALTRIX, "--headless", "--home", self.home, "--tgc", f"127.0.0.1:{self.tgc_port.port}"],
                              env=env, with_stderr=True)
        self.addCleanup(self.bridge.stop)
        return self.bridge

    def bluetooth_report(self):
        """bluetooth.txt of a diagnostics bundle made now, beside the bridge."""
        bundle = os.path.join(self.folder, "diagnostics.zip")
        done = subprocess.run([TALTRIX, "--home", self.home, "--diagnostics", bundle], env=self.bridge_env,
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        with zipfile.ZipFile(bundle) as z:
            return z.read("bluetooth.txt").decode("utf-8")

    def status(self, text, timeout):
        return self.bridge.wait_for(lambda l: l == text, timeout)

    def connected(self, timeout=2 * TICK + 2):
        self.status("Connected to ES16", timeout)
        self.device.wait_for(lambda l: l.startswith("connected"), 5)

    def assert_still_running_and_stops_cleanly(self):
        self.assertIsNone(self.bridge.process.poll(), self.bridge.seen[-8:])
        self.bridge.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.bridge.process.wait(timeout=20), 0, self.bridge.seen[-8:])


class WholeRoadTest(SystemBluetoothCase):
    def test_discovery_connect_shots_clubs_drop_and_reconnect(self):
        bluez = self.start_bluez("--device", f"ES16 Range@{ADDRESS}", "--device", "HEADSET@00:1B:66:00:00:01")
        self.start_bridge()
        listed = self.bridge.lines_until(lambda l: l == "Discovery ended", 10)
        self.assertIn("Discovery started", listed)
        self.assertIn("Device added to list: ES16 Range", listed)
        self.assertNotIn("Device added to list: HEADSET", listed)
        self.connected()
        # Qt went through BlueZ's profile manager, for the Serial Port service.
        calls = [l for l in bluez.lines_until(lambda l: l.startswith("linked"), 5) if l.startswith("called")]
        self.assertTrue(any(l.startswith("called RegisterProfile") and "00001101-0000-1000-8000-00805f9b34fb" in l
                            for l in calls), calls)
        self.assertIn(f"called ConnectProfile {ADDRESS} 00001101-0000-1000-8000-00805f9b34fb", calls)
        self.tgc = self.start_tgc()

        self.device.tell("shot")
        sent = self.device.wait_for(lambda l: l.startswith("sent"), 10)
        launch = self.tgc.wait_for(lambda l: l.startswith("launch"), 10)
        self.assertTrue(launch.startswith("launch ok "), launch)
        self.assertIn('"ballSpeedMPH":"%s"' % sent[sent.index("BS") + 2:sent.index("CD")], launch)
        self.tgc.tell("club I7")
        self.assertEqual(self.device.wait_for(lambda l: l.startswith("command"), 10), "command CLUB7IrLOFT000")

        self.device.tell("drop")
        self.status("Disconnected", 5)
        self.connected(TICK + 2)
        self.status("TGC connected", 5)  # the reopened TGC link's greeting
        self.device.tell("shot")
        self.assertTrue(self.tgc.wait_for(lambda l: l.startswith("launch"), 10).startswith("launch ok "))

        # The diagnostics bundle says what BlueZ says, of our devices only.
        report = self.bluetooth_report()
        for line in ("adapter 0: standin 00:1A:7D:DA:71:13", "bluetoothd: running, version 5.66",
                     "bluez adapter /org/bluez/hci0: 00:1A:7D:DA:71:13 standin, powered yes, discovering no",
                     f"bluez device {ADDRESS} ES16 Range: paired yes, trusted yes, connected yes, "
                     "services 00001101-0000-1000-8000-00805f9b34fb"):
            self.assertIn(line + "\n", report)
        self.assertNotIn("HEADSET", report)
        self.assert_still_running_and_stops_cleanly()


class GarbledAnswerTest(SystemBluetoothCase):
    def test_an_answer_of_another_shape_is_no_radio_and_said_so(self):
        self.start_bluez("--garbled")
        self.start_bridge()
        self.status(NO_RADIO, 10)
        self.assertIn("bluetoothd: does not answer (an answer of type a{sv} to GetManagedObjects)\n",
                      self.bluetooth_report())
        self.assert_still_running_and_stops_cleanly()


class RadioStatesTest(SystemBluetoothCase):
    def test_switched_off_then_on_then_gone_then_plugged_in_again(self):
        # Switched off between the bridge's look and the discovery's start:
        # the discovery fails as an event, after it started, and is tried again.
        bluez = self.start_bluez("--adapter", "racing", "--device", f"ES16 Range@{ADDRESS}/known")
        self.start_bridge()
        for _ in range(2):
            self.assertEqual(self.bridge.lines_until(lambda l: l.startswith("Discovery") or "discovery" in l,
                                                     TICK + 2)[-1], "Discovery started")
            self.status("Bluetooth device discovery error", 5)
        # Switched off, the adapter is no radio to use.
        bluez.tell("power off")
        self.status(NO_RADIO, TICK + 2)
        bluez.tell("power on")
        listed = self.bridge.lines_until(lambda l: l == "Discovery ended", TICK + 2)
        self.assertIn("Device added to list: ES16 Range", listed)
        self.connected(TICK + 2)
        bluez.tell("adapter remove")
        self.status("Disconnected", 5)
        self.status(NO_RADIO, TICK + 2)
        bluez.tell("adapter add")
        listed = self.bridge.lines_until(lambda l: l == "Discovery ended", TICK + 2)
        self.assertIn("Device added to list: ES16 Range", listed)
        self.assert_still_running_and_stops_cleanly()


class BluetoothdComingAndGoingTest(SystemBluetoothCase):
    def test_started_before_bluetoothd_and_through_its_restart(self):
        self.start_bridge()
        self.status(NO_RADIO, 10)
        # The first bluetoothd Qt sees is a current one, so its sockets take
        # the D-Bus road even though the bridge started without one.
        self.start_bluez("--device", f"ES16 Range@{ADDRESS}/known")
        self.status("Discovery ended", TICK + 2)
        self.connected()
        self.bluez.stop()
        self.status("Disconnected", 5)
        self.start_bluez("--device", f"ES16 Range@{ADDRESS}/known")
        self.connected(3 * TICK)
        self.assert_still_running_and_stops_cleanly()


class RefusedConnectsTest(SystemBluetoothCase):
    def test_refusals_and_a_silent_stack_each_fail_and_the_next_tick_tries_again(self):
        bluez = self.start_bluez("--device", f"ES16 Range@{ADDRESS}/known/unpaired")
        for answer in ("Failed", "NotReady", "NotAuthorized", "silent"):
            bluez.tell("answer " + answer)
        self.start_bridge()
        self.status("Discovery ended", 10)
        # A device BlueZ knows but has not paired is named, with what to do.
        self.status("Unable to connect to ES16", TICK + 2)
        self.status(NOT_PAIRED, 2)
        bluez.tell("pair " + ADDRESS)
        for _ in range(2):
            failed = self.bridge.lines_until(lambda l: l == "Unable to connect to ES16", TICK + 2)
            self.assertNotIn(NOT_PAIRED, failed)
        # Answered, but no link comes: the time limit fails it, and the tick after connects.
        self.assertTrue(self.bridge.quiet_for(lambda l: l.startswith(("Unable", "Connected")), 12))
        self.status("Unable to connect to ES16", TICK + 5)
        self.connected(TICK + 2)
        calls = bluez.lines_until(lambda l: l.startswith("linked"), 5)
        self.assertEqual(sum(l.startswith("called ConnectProfile") for l in calls), 5, calls)
        self.assert_still_running_and_stops_cleanly()


if __name__ == "__main__":
    unittest.main()
