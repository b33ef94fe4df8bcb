"""Taltrix end to end with the Halvex Play relay: the emulated ES16 and the relay
emulator as real processes, taltrix --headless between them on loopback, and
the Morvane control created through a component registry of the test's own.
The link is plain ws here; relay_wss_test.py runs the signed-in cases again
over wss."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from processes import Process, ThrowawayPki

TALTRIX = os.environ["TALTRIX"]
COMREG = os.environ["COMREG"]
MORVANE_LIBRARY = os.environ["MORVANE_LIBRARY"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]
EMULATORS = os.path.join(SOURCE_DIR, "tools", "emulators")

EXAMPLE = ("ES16Prt001CS093.0BS131.1CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0"
           "AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End")


def relay_form(club):
    """The example shot as the relay receives it (after "/launch "), with the game's club."""
    return ('{"protocol":"HXP",  "DATA":{"club":"' + club + '", "ballSpeedMPH":"131.1", '
            '"ballDirection":"-004.8", "ballAngle":"013.0", "spinAxis":"-001.0", "sideSpin":"-94", '
            '"backSpin":"4217",  "launchCode":"4004392"}}')


TICK = 4.5  # the connection timer
WRONG_STATE = "Timer_check_Connection: Wrong WebSocket state: Closed  GoTo fn_connect_to_websocket."
ESTABLISHED = "HalvexPlay connection established."
NOT_ESTABLISHED = "HalvexPlay connection could not be established."
RECEIVED = "HalvexPlay data reveived.\\r\\n"  # CR LF as the headless front end writes them


class RelayLinkTestBase(unittest.TestCase):
    key = "K123"
    register_control = True
    # "wss": the relay emulator serves TLS with a certificate from a CA made
    # for the test; trust_ca puts that CA in the user's Root store, and
    # send_root has the relay send the CA's certificate after its own.
    scheme = "ws"
    trust_ca = True
    send_root = False

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="taltrix-home-")
        self.runtime = tempfile.mkdtemp(prefix="taltrix-run-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.addCleanup(shutil.rmtree, self.runtime, True)
        # Certificate stores of the test's own, so that neither the user's
        # nor the machine's stores decide what the bridge trusts.
        self.user_certs = os.path.join(self.home, "certs-user")
        self.machine_certs = os.path.join(self.home, "certs-machine")
        os.makedirs(self.user_certs)
        os.makedirs(self.machine_certs)
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, QT_QPA_PLATFORM="offscreen",
                        TALTRIX_COM_USER_HIVE=os.path.join(self.home, "user-classes.reg"),
                        TALTRIX_COM_MACHINE_HIVE=os.path.join(self.home, "machine-classes.reg"),
                        TALTRIX_CERT_USER_DIR=self.user_certs, TALTRIX_CERT_MACHINE_DIR=self.machine_certs)
        self.env.pop("TALTRIX_ANSWER", None)
        if self.register_control:
            subprocess.run([COMREG, "register", "--user", MORVANE_LIBRARY], env=self.env, check=True,
                           stdout=subprocess.DEVNULL)
        with open(os.path.join(self.home, "Settings.pgs"), "w", newline="") as settings:
            settings.write(f"[Software]\r\nHalvexPlay_key={self.key}\r\nSim_software=HalvexPlay\r\n")
        self.device = self.start_emulator("es16_emulator.py", "--random", "3")

    def start_emulator(self, script, *options):
        process = Process(["/usr/bin/python3", os.path.join(EMULATORS, script), "--port", "0", *options])
        self.addCleanup(process.stop)
        process.port = int(process.wait_for(lambda l: l.startswith("listening"), 10).split()[2])
        return process

    def start_bridge(self, relay_url, *options):
        # Standard error too: the certificate question is reported there.
        self.bridge = Process([TALTRIX, "--headless", "--home", self.home,
                               "--bluetooth", f"emulator:ES16 Range@127.0.0.1:{self.device.port}",
                               "--relay-url", relay_url, *options], env=self.env, with_stderr=True)
        self.addCleanup(self.bridge.stop)

    def start_relay(self):
        """The relay emulator, serving the test's scheme."""
        if self.scheme == "ws":
            return self.start_emulator("relay_emulator.py")
        certs = tempfile.mkdtemp(prefix="taltrix-pki-")
        self.addCleanup(shutil.rmtree, certs, True)
        self.pki = ThrowawayPki(certs)
        if self.trust_ca:
            self.pki.put_ca(self.user_certs)
        return self.start_emulator("relay_emulator.py", "--cert", self.pki.chain if self.send_root else self.pki.cert,
                                   "--key", self.pki.key)

    def relay_url(self, port):
        return f"{self.scheme}://127.0.0.1:{port}"


class SignedInTestBase(RelayLinkTestBase):
    """The bridge connected to the device and signed in to the relay."""

    def setUp(self):
        super().setUp()
        self.relay = self.start_relay()
        self.start_bridge(self.relay_url(self.relay.port))
        # The first timer tick connects the device, then the relay.
        self.device.wait_for(lambda l: l.startswith("connected"), 3 * TICK)
        self.relay.wait_for(lambda l: l.startswith("connected"), 2 * TICK)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith("signin"), 10), "signin ok SIM-" + self.key)
        self.bridge.wait_for(lambda l: l == ESTABLISHED, 10)


class RelayLinkTest(SignedInTestBase):
    def relay_says(self, command):
        """Has the relay send a message and waits until the bridge has read it."""
        self.relay.tell(command)
        self.relay.wait_for(lambda l: l.startswith("sent"), 5)
        return self.bridge.wait_for(lambda l: l.startswith(RECEIVED) or l.startswith("Non valid"), 10)

    def next_command(self):
        return self.device.wait_for(lambda l: l.startswith("command"), 10)

    def test_shot_goes_out_in_the_relay_form_with_the_games_club(self):
        self.relay_says("hxp status=200 gameName=Hole1 playerClub=I7 distanceToFlag=150 playerSurface=Fairway")
        self.assertEqual(self.next_command(), "command CLUB7IrLOFT000")
        self.device.tell("shot " + EXAMPLE)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith(("launch", "received")), 10),
                         "launch ok " + relay_form("I7"))
        # The same shot again is sent again.
        self.device.tell("shot " + EXAMPLE)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith(("launch", "received")), 10),
                         "launch ok " + relay_form("I7"))

    def test_every_accepted_relay_message_sends_the_club_command(self):
        accepted = ["hyinfo club=DR hand=RH distance=150", 'hystatus status=1 message="Hole 3"', "halvex device=EXT",
                    "control pause"]
        for command in accepted:
            with self.subTest(command=command):
                self.assertTrue(self.relay_says(command).startswith(RECEIVED))
                self.assertEqual(self.next_command(), "command CLUBDrvLOFT000")
        self.assertEqual(self.relay_says("halvex device=ES16"),
                         "Non valid HalvexPlay data received from remote device.")
        self.assertTrue(self.device.quiet_for(lambda l: l.startswith("command"), 2))

    def test_nothing_goes_to_the_relay_while_the_player_is_in_the_lobby(self):
        self.relay_says("hxp status=200 gameName=Lobby playerClub=DR")
        self.device.tell("shot " + EXAMPLE)
        self.device.wait_for(lambda l: l.startswith("sent"), 5)
        self.assertTrue(self.relay.quiet_for(lambda l: l.startswith(("launch", "received")), 3))
        self.relay_says("hxp status=200 gameName=Hole1")
        self.device.tell("shot " + EXAMPLE)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith(("launch", "received")), 10),
                         "launch ok " + relay_form("DR"))

    def test_a_fragmented_message_is_interpreted_once(self):
        message = '{"protocol":"HYInfo", "INFO":{"club":"I7", "surface":"Fairway"}}'
        self.relay.tell("fragment " + message)
        self.relay.wait_for(lambda l: l.startswith("sent"), 5)
        lines = self.bridge.lines_until(lambda l: l.startswith("Send:") or l.startswith("Error sending"), 10)
        self.assertEqual([l for l in lines if "HalvexPlay" in l], [RECEIVED + message])
        self.assertEqual(self.next_command(), "command CLUB7IrLOFT000")
        self.assertTrue(self.device.quiet_for(lambda l: l.startswith("command"), 2))

    def test_quit_ends_taltrix_at_the_next_transmit_tick(self):
        self.relay.tell("quit")
        self.bridge.wait_for(lambda l: l == "quit", 10)
        # Nothing is being sent, so the transmit timer does not run.
        self.assertTrue(self.bridge.quiet_for(lambda l: False, 3))
        self.assertIsNone(self.bridge.process.poll())
        self.device.tell("shot " + EXAMPLE)
        self.assertTrue(self.relay.wait_for(lambda l: l.startswith("launch"), 10).startswith("launch ok"))
        self.assertEqual(self.bridge.process.wait(timeout=10), 0)
        # The terminate path closed the connection with the closing handshake.
        self.assertTrue(self.relay.wait_for(lambda l: l.startswith("disconnected"), 10).endswith(" 1000"))

    def test_the_relay_dropping_is_reconnected_at_the_next_tick(self):
        self.relay.tell("drop")
        self.bridge.wait_for(lambda l: l == "Not Connected to HalvexPlay", 10)
        self.bridge.wait_for(lambda l: l == WRONG_STATE, TICK + 2)
        self.relay.wait_for(lambda l: l.startswith("connected"), 5)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith("signin"), 10), "signin ok SIM-" + self.key)
        self.bridge.wait_for(lambda l: l == ESTABLISHED, 10)
        self.relay_says("hyinfo club=PW")
        self.device.tell("shot " + EXAMPLE)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith(("launch", "received")), 10),
                         "launch ok " + relay_form("PW"))


class EmptyKeyTest(SignedInTestBase):
    key = ""

    def test_an_empty_key_signs_in_as_the_bare_prefix(self):
        # setUp saw "signin ok SIM-": "/connect SIM-" alone, after the password.
        self.relay.tell("hyinfo club=W3")
        self.assertEqual(self.device.wait_for(lambda l: l.startswith("command"), 10), "command CLUB3WdLOFT000")


class UnansweredConnectTest(RelayLinkTestBase):
    def test_a_connect_that_never_completes_leaves_the_timers_running(self):
        # A listener whose backlog is full: the kernel drops further SYNs, so
        # the bridge's connect neither succeeds nor fails.
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(0)
        self.addCleanup(listener.close)
        port = listener.getsockname()[1]
        for _ in range(2):
            filler = socket.socket()
            filler.setblocking(False)
            filler.connect_ex(("127.0.0.1", port))
            self.addCleanup(filler.close)
        time.sleep(0.3)

        self.start_bridge(f"ws://127.0.0.1:{port}")
        self.bridge.wait_for(lambda l: l == WRONG_STATE, 3 * TICK)
        # Connect is now waiting; the connection timer still ticks inside it.
        lines = self.bridge.lines_until(lambda l: l == WRONG_STATE, 2 * TICK)
        self.assertNotIn(NOT_ESTABLISHED, lines)
        self.assertNotIn(ESTABLISHED, lines)
        # And the bridge still ends at once when asked to.
        self.bridge.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.bridge.process.wait(timeout=10), 0)


class MissingControlTest(RelayLinkTestBase):
    register_control = False

    def test_an_unregistered_control_is_reported_and_the_bridge_goes_on(self):
        self.start_bridge("ws://127.0.0.1:9")
        reason = ("WSClient1 is not available: the Morvane control (QuillonWS.Morvane) is not registered; "
                  "register libmorvane.so with comreg.")
        self.bridge.wait_for(lambda l: l == reason, 10)
        self.device.wait_for(lambda l: l.startswith("connected"), 3 * TICK)
        self.bridge.wait_for(lambda l: l == WRONG_STATE, TICK)
        self.bridge.wait_for(lambda l: l == reason, 5)
        self.device.tell("shot " + EXAMPLE)
        self.device.wait_for(lambda l: l.startswith("sent"), 5)
        self.assertIsNone(self.bridge.process.poll())


if __name__ == "__main__":
    unittest.main()
