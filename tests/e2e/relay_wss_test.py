"""Taltrix and the relay over wss: the signed-in cases of relay_link_test.py
again with TLS, which certificate stores make the relay's certificate
trusted, the certificate question when none does, and what an observer on
the loopback sees of the sign-in."""

import asyncio
import struct
import threading
import unittest
import zlib

import relay_link_test
from relay_link_test import ESTABLISHED, EXAMPLE, NOT_ESTABLISHED, TICK, RelayLinkTestBase, relay_form

QUESTION_TITLE = 'taltrix: message box "Server Certificate Verification Failure"'
# The relay sends its own certificate only: the chain cannot reach a root.
NO_CHAIN = "[0x800b010a] A chain of certificates was not correctly created."
# The chain reaches a root, but none the bridge trusts.
UNTRUSTED_ROOT = ("[0x800b0109] A certification chain processed correctly but terminated in a root certificate "
                  "not trusted by the trust provider.")
PASSWORD = b"simHoldaVK731"


def question_lines(status, answer):
    """The certificate question for the test's relay certificate, as the headless front end reports it."""
    return [QUESTION_TITLE,
            "  Server provided the following certificate:",
            "  ",
            # The names in the order of their encoding, as the platform writes them.
            "      Issuer: O=Taltrix Tests, CN=Taltrix Test Root",
            "      Subject: O=Taltrix Tests, CN=127.0.0.1",
            "  ",
            "  The following problems have been determined for this certificate: " + status,
            "  ",
            "  Would you like to continue or cancel the connection?",
            "taltrix: answered " + answer]


class RelayLinkOverWssTest(relay_link_test.RelayLinkTest):
    """Every signed-in case of the ws link, with the relay's CA in the user's Root store."""
    scheme = "wss"


class WssTestBase(RelayLinkTestBase):
    scheme = "wss"

    def start(self, *bridge_options):
        self.relay = self.start_relay()
        self.start_bridge(self.relay_url(self.relay.port), *bridge_options)

    def signs_in(self):
        """The bridge's lines up to the sign-in, once the relay has seen it."""
        self.relay.wait_for(lambda l: l.startswith("connected"), 3 * TICK)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith("signin"), 10), "signin ok SIM-" + self.key)
        return self.bridge.lines_until(lambda l: l == ESTABLISHED, 10)


class TrustedStoreTest(WssTestBase):
    """Where the relay's CA may be kept for the bridge to trust the relay without asking."""
    trust_ca = False

    def check_trusted_in(self, location, store, form):
        self.relay = self.start_relay()
        self.pki.put_ca(self.user_certs if location == "user" else self.machine_certs, store, form)
        self.start_bridge(self.relay_url(self.relay.port))
        lines = self.signs_in()
        self.assertNotIn(QUESTION_TITLE, lines)
        self.assertFalse([l for l in lines if l.startswith("WSClient Error")], lines)

    def test_the_users_root_store_in_pem(self):
        self.check_trusted_in("user", "Root", "PEM")

    def test_the_users_root_store_in_der(self):
        self.check_trusted_in("user", "Root", "DER")

    def test_the_machines_root_store(self):
        self.check_trusted_in("machine", "Root", "PEM")


class UntrustedCertificateTest(WssTestBase):
    """The relay's CA in no Root store: the user is asked, and only Yes connects."""
    trust_ca = False

    def asked(self):
        """The bridge's lines before the next certificate question, and the question."""
        lines = self.bridge.lines_until(lambda l: l.startswith("taltrix: answered"), 3 * TICK)
        start = lines.index(QUESTION_TITLE)
        return lines[:start], lines[start:]

    def check_declined(self, answer_option, shown, send_root, status):
        self.send_root = send_root
        self.start("--answer", answer_option)
        before, question = self.asked()
        self.assertEqual(question, question_lines(status, shown))
        code = status[1:status.index("]")]
        self.assertIn("WSClient Error 280: error verifying server certificate: " + code, before)
        self.bridge.wait_for(lambda l: l == NOT_ESTABLISHED, 5)
        # The TLS handshake was never completed, so the relay saw no connection.
        self.assertTrue(self.relay.quiet_for(lambda l: l.startswith(("connected", "signin")), 1))
        # The next tick asks again, and is declined again.
        self.assertEqual(self.asked()[1], question_lines(status, shown))
        self.bridge.wait_for(lambda l: l == NOT_ESTABLISHED, 5)
        self.assertTrue(self.relay.quiet_for(lambda l: l.startswith(("connected", "signin")), 0.5))

    def test_no_refuses_the_link_and_the_next_tick_asks_again(self):
        self.check_declined("no", "No", False, NO_CHAIN)

    def test_cancel_refuses_the_link_as_no_does(self):
        self.check_declined("cancel", "Cancel", True, UNTRUSTED_ROOT)

    def test_yes_connects_and_signs_in(self):
        self.start("--answer", "yes")
        self.assertEqual(self.asked()[1], question_lines(NO_CHAIN, "Yes"))
        self.assertNotIn(NOT_ESTABLISHED, self.signs_in())
        self.relay.tell("hyinfo club=PW")
        self.assertEqual(self.device.wait_for(lambda l: l.startswith("command"), 10), "command CLUBPtwLOFT000")
        self.device.tell("shot " + EXAMPLE)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith(("launch", "received")), 10),
                         "launch ok " + relay_form("PW"))

    def test_a_ca_store_is_not_a_root_store(self):
        # The CA store only supplies intermediates: the chain reaches the
        # root kept there, but that root is not trusted.
        self.relay = self.start_relay()
        self.pki.put_ca(self.user_certs, "CA")
        self.start_bridge(self.relay_url(self.relay.port))
        self.assertEqual(self.asked()[1], question_lines(UNTRUSTED_ROOT, "No"))
        self.bridge.wait_for(lambda l: l == NOT_ESTABLISHED, 5)


class RecordingForwarder:
    """A TCP forwarder on loopback that keeps every byte it passes, each
    direction apart, in a thread of its own."""

    def __init__(self, target_port):
        self.target_port = target_port
        self.upstream = bytearray()  # bridge to relay
        self.downstream = bytearray()  # relay to bridge
        self.connections = 0
        self.lock = threading.Lock()
        self.loop = asyncio.new_event_loop()
        self.all_closed = threading.Event()
        self.open = 0
        ready = threading.Event()
        threading.Thread(target=self._run, args=(ready,), daemon=True).start()
        ready.wait(5)

    def _run(self, ready):
        asyncio.set_event_loop(self.loop)
        self.server = self.loop.run_until_complete(asyncio.start_server(self._serve, "127.0.0.1", 0))
        self.port = self.server.sockets[0].getsockname()[1]
        ready.set()
        self.loop.run_forever()

    async def _serve(self, bridge_reader, bridge_writer):
        with self.lock:
            self.connections += 1
            self.open += 1
            self.all_closed.clear()
        try:
            relay_reader, relay_writer = await asyncio.open_connection("127.0.0.1", self.target_port)
            await asyncio.gather(self._pump(bridge_reader, relay_writer, self.upstream),
                                 self._pump(relay_reader, bridge_writer, self.downstream))
        finally:
            bridge_writer.close()
            with self.lock:
                self.open -= 1
                if self.open == 0:
                    self.all_closed.set()

    async def _pump(self, reader, writer, record):
        try:
            while data := await reader.read(65536):
                with self.lock:
                    record += data
                writer.write(data)
                await writer.drain()
        except ConnectionError:
            pass
        finally:
            writer.close()

    def captured(self):
        with self.lock:
            return bytes(self.upstream), bytes(self.downstream)

    def close(self):
        self.loop.call_soon_threadsafe(self.server.close)
        self.loop.call_soon_threadsafe(self.loop.stop)


def websocket_payloads(stream):
    """The payloads an observer reads out of one direction of a plain WebSocket
    connection: past the HTTP upgrade, every frame unmasked, and inflated
    where permessage-deflate compressed it."""
    if not stream.startswith((b"GET ", b"HTTP/1.1 ")):
        return []
    at = stream.find(b"\r\n\r\n")
    if at < 0:
        return []
    at += 4
    payloads = []
    inflater = zlib.decompressobj(-zlib.MAX_WBITS)
    while at + 2 <= len(stream):
        compressed = stream[at] & 0x40
        masked, length = stream[at + 1] & 0x80, stream[at + 1] & 0x7F
        at += 2
        if length == 126:
            length, at = struct.unpack_from(">H", stream, at)[0], at + 2
        elif length == 127:
            length, at = struct.unpack_from(">Q", stream, at)[0], at + 8
        mask = stream[at:at + 4] if masked else b"\0\0\0\0"
        at += 4 if masked else 0
        payload = bytes(b ^ mask[i % 4] for i, b in enumerate(stream[at:at + length]))
        payloads.append(inflater.decompress(payload + b"\0\0\xff\xff") if compressed else payload)
        at += length
    return payloads


def tls_record_types(stream):
    """The content type of every TLS record in one direction, the stream read
    as nothing but whole records (a trailing partial record fails)."""
    types, at = [], 0
    while at < len(stream):
        if at + 5 > len(stream):
            raise AssertionError(f"{len(stream) - at} bytes after the last whole TLS record")
        kind, major, _, length = struct.unpack_from(">BBBH", stream, at)
        if major != 3 or at + 5 + length > len(stream):
            raise AssertionError(f"no TLS record at byte {at}")
        types.append(kind)
        at += 5 + length
    return types


class OnTheWireTest(WssTestBase):
    """A recording forwarder between the bridge and the relay: over wss nothing
    of the sign-in is readable on the wire; over ws (the check that the
    recording and the reading work) it is."""
    key = "AK-5c1f9e77"
    secrets = [PASSWORD, b"/connect SIM-AK-5c1f9e77"]
    # A text only the relay's club change carries.
    relay_text = b"Hole1"

    def sign_in_and_play(self, scheme):
        self.scheme = scheme
        self.relay = self.start_relay()
        forwarder = RecordingForwarder(self.relay.port)
        self.addCleanup(forwarder.close)
        self.start_bridge(self.relay_url(forwarder.port))
        self.signs_in()
        self.relay.tell("hxp status=200 gameName=Hole1 playerClub=I7 distanceToFlag=150 playerSurface=Fairway")
        self.assertEqual(self.device.wait_for(lambda l: l.startswith("command"), 10), "command CLUB7IrLOFT000")
        self.device.tell("shot " + EXAMPLE)
        self.assertEqual(self.relay.wait_for(lambda l: l.startswith(("launch", "received")), 10),
                         "launch ok " + relay_form("I7"))
        self.bridge.stop()
        self.assertTrue(forwarder.all_closed.wait(10))
        self.assertEqual(forwarder.connections, 1)
        return forwarder.captured()

    def test_over_ws_the_sign_in_is_readable(self):
        upstream, downstream = self.sign_in_and_play("ws")
        readable_up = b"\n".join(websocket_payloads(upstream))
        for secret in self.secrets:
            self.assertIn(secret, readable_up)
        self.assertIn(self.relay_text, downstream)

    def test_over_wss_nothing_of_the_sign_in_is_on_the_wire(self):
        upstream, downstream = self.sign_in_and_play("wss")
        for direction, stream in (("upstream", upstream), ("downstream", downstream)):
            with self.subTest(direction=direction):
                types = tls_record_types(stream)
                # A handshake, then application data only (alerts: the close).
                self.assertEqual(types[0], 22)
                self.assertIn(23, types)
                self.assertTrue(set(types) <= {20, 21, 22, 23}, types)
                self.assertEqual(websocket_payloads(stream), [])
                for secret in self.secrets + [self.key.encode(), self.relay_text]:
                    self.assertNotIn(secret, stream)


if __name__ == "__main__":
    unittest.main()
