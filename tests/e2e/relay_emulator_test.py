"""The relay emulator as a bridge meets it: a real process on loopback, driven
by Python's websockets client over ws, and over wss with a certificate the
test makes with openssl."""

import asyncio
import os
import shutil
import subprocess
import ssl
import tempfile
import unittest

import websockets
from websockets.client import ClientConnection
from websockets.frames import Frame, Opcode
from websockets.http11 import Response
from websockets.uri import parse_uri

SOURCE_DIR = os.environ.get("TALTRIX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EMULATOR = os.path.join(SOURCE_DIR, "tools", "emulators", "relay_emulator.py")

PASSWORD = "/password simHoldaVK731"
# The example shot in the relay's form, club DR; 4217 x 73 x 13 + 2459.
LAUNCH = ('{"protocol":"HXP",  "DATA":{"club":"DR", "ballSpeedMPH":"131.1", "ballDirection":"-004.8", '
          '"ballAngle":"013.0", "spinAxis":"-001.0", "sideSpin":"-94", "backSpin":"4217",  '
          '"launchCode":"4004392"}}')


class RelayEmulator:
    """The emulator process, its output read line by line."""

    def __init__(self, process):
        self.process = process
        self.seen = []
        self.port = 0

    @classmethod
    async def start(cls, *options):
        process = await asyncio.create_subprocess_exec(
            "/usr/bin/python3", EMULATOR, "--port", "0", *options,
            stdin=asyncio.subprocess.PIPE, stdout=asyncio.subprocess.PIPE)
        relay = cls(process)
        words = (await relay.wait_for(lambda line: line.startswith("listening"))).split()
        relay.port = int(words[2])
        return relay

    async def wait_for(self, predicate, timeout=10):
        """The next line that satisfies predicate; lines before it are passed over."""
        async def scan():
            while True:
                raw = await self.process.stdout.readline()
                if not raw:
                    raise AssertionError(f"the emulator ended; recent: {self.seen[-8:]}")
                line = raw.decode().rstrip("\n")
                self.seen.append(line)
                if predicate(line):
                    return line
        try:
            return await asyncio.wait_for(scan(), timeout)
        except asyncio.TimeoutError:
            raise AssertionError(f"nothing matching within {timeout} s; recent: {self.seen[-8:]}") from None

    async def starting(self, prefix):
        return await self.wait_for(lambda line: line.startswith(prefix))

    async def tell(self, command):
        self.process.stdin.write(command.encode() + b"\n")
        await self.process.stdin.drain()

    async def stop(self):
        if self.process.returncode is None:
            self.process.terminate()
            await self.process.wait()


class RelayEmulatorTest(unittest.IsolatedAsyncioTestCase):
    scheme = "ws"
    client_ssl = None

    async def asyncSetUp(self):
        self.relay = await RelayEmulator.start(*self.emulator_options())
        self.addAsyncCleanup(self.relay.stop)

    def emulator_options(self):
        return []

    @property
    def url(self):
        return f"{self.scheme}://127.0.0.1:{self.relay.port}"

    async def connect(self):
        client = await websockets.connect(self.url, ssl=self.client_ssl)
        self.addAsyncCleanup(client.close)
        await self.relay.starting("connected ")
        return client

    async def signed_in(self, key="K123"):
        client = await self.connect()
        await client.send(PASSWORD)
        await client.send("/connect SIM-" + key)
        self.assertEqual(await self.relay.starting("signin "), "signin ok SIM-" + key)
        return client

    async def test_sign_in_with_a_key_and_with_an_empty_one(self):
        await self.signed_in("A1B2")
        await self.signed_in("")

    async def test_sign_in_faults_are_named(self):
        cases = [
            (["/connect SIM-K", PASSWORD], "signin BAD /connect before /password: /connect SIM-K"),
            (["/password letmein"], "signin BAD wrong password: /password letmein"),
            ([PASSWORD, "/connect K"], "signin BAD account id without SIM- prefix: /connect K"),
            ([PASSWORD, PASSWORD], "signin BAD /password sent twice: " + PASSWORD),
            (["hello"], "signin BAD expected /password first, got: hello"),
        ]
        for messages, expected in cases:
            with self.subTest(messages=messages):
                client = await self.connect()
                for message in messages:
                    await client.send(message)
                self.assertEqual(await self.relay.starting("signin "), expected)
                await client.close()
        client = await self.signed_in()
        await client.send(PASSWORD)
        self.assertEqual(await self.relay.starting("signin "), "signin BAD sign-in command repeated: " + PASSWORD)

    async def test_launch_commands_are_checked(self):
        early = await self.connect()
        await early.send("/launch " + LAUNCH)
        self.assertEqual(await self.relay.starting("launch "), "launch BAD before sign-in " + LAUNCH)

        client = await self.signed_in()
        await client.send("/launch " + LAUNCH)
        self.assertEqual(await self.relay.starting("launch "), "launch ok " + LAUNCH)
        wrong = LAUNCH.replace("4004392", "4004393")
        await client.send("/launch " + wrong)
        self.assertEqual(await self.relay.starting("launch "),
                         "launch BAD launch code 4004393, expected 4004392 " + wrong)
        tgc_form = LAUNCH.replace('"HXP"', '"HXLAUNCH"')
        await client.send("/launch " + tgc_form)
        self.assertEqual(await self.relay.starting("launch "),
                         "launch BAD protocol 'HXLAUNCH', expected 'HXP' " + tgc_form)
        await client.send("/launch {")
        self.assertEqual(await self.relay.starting("launch "), "launch BAD unreadable JSON {")
        await client.send("line one\r\nline two")
        self.assertEqual(await self.relay.starting("received "), "received line one\\r\\nline two")

    async def test_scripted_messages_arrive_as_the_relay_writes_them(self):
        older = await self.signed_in("OLD")
        client = await self.signed_in()
        script = [
            ("hxp status=200 gameName=Lobby playerClub=I7 distanceToFlag=25 playerSurface=Fairway",
             '{"protocol":"HXP", "DATA":{"status":"200", "gameName":"Lobby", "playerClub":"I7", '
             '"distanceToFlag":"25", "playerSurface":"Fairway"}}'),
            ("hyinfo club=DR hand=LH distance=150.5 surface=Rough",
             '{"protocol":"HYInfo", "INFO":{"club":"DR", "hand":"LH", "distance":"150.5", "surface":"Rough"}}'),
            ('hystatus status=1 message="Hole 3, par 4"',
             '{"protocol":"HYStatus", "INFO":{"status":"1", "message":"Hole 3, par 4"}}'),
            ("quit", '{"protocol":"HXCONTROL", "DATA":{"COMMAND":"quit"}}'),
            ("control pause", '{"protocol":"HXCONTROL", "DATA":{"COMMAND":"pause"}}'),
            ("halvex device=EXT", '{"protocol":"HALVEX", "DATA":{"device":"EXT"}}'),
            ("raw #json {'odd': \"quotes\"}", "#json {'odd': \"quotes\"}"),
        ]
        for command, text in script:
            with self.subTest(command=command):
                await self.relay.tell(command)
                self.assertEqual(await self.relay.starting("sent "), "sent " + text)
                self.assertEqual(await asyncio.wait_for(client.recv(), 10), text)
        # Only the newest connection is spoken to.
        with self.assertRaises(asyncio.TimeoutError):
            await asyncio.wait_for(older.recv(), 0.3)
        for bad in ["hxp status", "close 1005", "close x", "nonsense", 'hystatus message="open']:
            with self.subTest(command=bad):
                await self.relay.tell(bad)
                self.assertEqual(await self.relay.starting("bad-command"), "bad-command " + bad)

    async def test_nothing_is_sent_without_a_connection(self):
        await self.relay.tell("hxp status=200")
        self.assertEqual(await self.relay.starting("not-connected"), "not-connected")

    async def test_a_fragmented_message_travels_in_fragments(self):
        text = '{"protocol":"HXP", "DATA":{"status":"200", "gameName":"Augusta", "playerClub":"SW"}}'
        # A client that shows frames as they come, where websockets' own
        # client would join them.
        reader, writer = await asyncio.open_connection("127.0.0.1", self.relay.port, ssl=self.client_ssl)
        self.addCleanup(writer.close)
        connection = ClientConnection(parse_uri(self.url))
        connection.send_request(connection.connect())

        async def events():
            for data in connection.data_to_send():
                writer.write(data)
            await writer.drain()
            while not (received := connection.events_received()):
                data = await asyncio.wait_for(reader.read(65536), 10)
                self.assertTrue(data, "the emulator closed the connection")
                connection.receive_data(data)
            return received

        handshake = await events()
        self.assertIsInstance(handshake[0], Response)
        self.assertEqual(handshake[0].status_code, 101)
        await self.relay.starting("connected ")
        await self.relay.tell("fragment " + text)
        frames = []
        while not (frames and frames[-1].fin):
            frames += [event for event in await events() if isinstance(event, Frame)]
        self.assertEqual(len(frames), 3)
        self.assertEqual([frame.opcode for frame in frames], [Opcode.TEXT, Opcode.CONT, Opcode.CONT])
        self.assertEqual([frame.fin for frame in frames], [False, False, True])
        self.assertEqual(b"".join(frame.data for frame in frames).decode(), text)
        self.assertEqual(await self.relay.starting("sent "), "sent " + text)

    async def test_close_with_a_code_and_drop_without_a_close_frame(self):
        client = await self.connect()
        await self.relay.tell("close 4001 bye")
        await asyncio.wait_for(client.wait_closed(), 10)
        self.assertEqual((client.close_code, client.close_reason), (4001, "bye"))
        self.assertTrue((await self.relay.starting("disconnected ")).endswith(" 4001"))

        client = await self.connect()
        await self.relay.tell("drop")
        with self.assertRaises(websockets.ConnectionClosedError):
            await asyncio.wait_for(client.recv(), 10)
        self.assertEqual(client.close_code, 1006)  # no close frame came
        self.assertTrue((await self.relay.starting("disconnected ")).endswith(" 1006"))

    async def test_pings_are_answered_by_the_client(self):
        await self.connect()
        await self.relay.tell("ping are-you-there")
        self.assertEqual(await self.relay.starting("pong"), "pong are-you-there")


class SecureRelayEmulatorTest(RelayEmulatorTest):
    """The same over wss, with a self-signed certificate for 127.0.0.1."""

    scheme = "wss"

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="relay-cert-")
        cls.cert = os.path.join(cls.folder, "cert.pem")
        cls.key = os.path.join(cls.folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", cls.key, "-out", cls.cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.client_ssl = ssl.create_default_context(cafile=cls.cert)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, True)

    def emulator_options(self):
        return ["--cert", self.cert, "--key", self.key]

    async def test_a_client_that_does_not_trust_the_certificate_is_refused(self):
        with self.assertRaises(ssl.SSLCertVerificationError):
            await websockets.connect(self.url, ssl=ssl.create_default_context())

    async def test_a_plain_client_gets_no_websocket(self):
        with self.assertRaises((websockets.InvalidMessage, websockets.InvalidHandshake, ConnectionError, EOFError)):
            client = await websockets.connect(f"ws://127.0.0.1:{self.relay.port}", open_timeout=5)
            await client.close()


if __name__ == "__main__":
    unittest.main()
