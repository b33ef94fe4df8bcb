"""The shot feed end to end: taltrix --headless with its feed on, shots sent
by a device socket and taken by a TGC socket, and the feed read by
independent clients: urllib, python3-websockets and plain sockets."""

import asyncio
import json
import os
import select
import socket
import subprocess
import unittest

import websockets

from feed_peers import FeedBridge, club_message, raw_exchange


async def next_of(ws, kind, timeout=20):
    """The next live message of the given type."""
    while True:
        message = json.loads(await asyncio.wait_for(ws.recv(), timeout))
        if message["type"] == kind:
            return message


class FeedTest(unittest.TestCase):
    """One bridge for the whole class; each test counts from where the last left off."""

    @classmethod
    def setUpClass(cls):
        cls.bridge = FeedBridge()
        cls.sent = 0

    @classmethod
    def tearDownClass(cls):
        cls.bridge.stop()

    def send_shots(self, speeds):
        for speed in speeds:
            self.bridge.shot(speed)
        type(self).sent += len(speeds)
        self.bridge.wait_tgc(self.sent)

    def live_url(self):
        return f"ws://127.0.0.1:{self.bridge.port}/api/live"

    def test_status_shots_and_live_pushes_in_order(self):
        speeds = [100.0 + i for i in range(12)]

        async def run():
            async with websockets.connect(self.live_url()) as ws:
                hello = json.loads(await ws.recv())
                self.assertEqual(hello["type"], "status")
                self.assertEqual(hello["device"], {"connected": True, "name": "ES16"})
                self.assertEqual(hello["simulator"], {"name": "TGC", "connected": True})
                before = hello["shots_this_session"]
                self.send_shots(speeds)
                pushed = [await next_of(ws, "shot") for _ in speeds]
                return before, [m["shot"] for m in pushed]

        before, shots = asyncio.run(run())
        self.assertEqual([s["ball_speed_mph"] for s in shots], speeds)
        self.assertTrue(all(s["delivered"] is True and s["outcome"] == "sent" and s["simulator"] == "TGC"
                            for s in shots))
        self.assertEqual(shots[0]["back_spin"], 4217)

        # The keys are the CSV export's columns, in its order.
        csv = subprocess.run([os.environ["TALTRIX"], "--home", self.bridge.home, "--export-csv", "-"],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(",".join(shots[0].keys()), csv.splitlines()[0])

        status, body = self.bridge.get("/api/status")
        self.assertEqual(status, 200)
        self.assertEqual(body["shots_this_session"], before + len(speeds))
        status, body = self.bridge.get("/api/shots?limit=5")
        self.assertEqual(status, 200)
        self.assertEqual([s["ball_speed_mph"] for s in body["shots"]], speeds[::-1][:5])
        self.assertEqual(body["shots"][0], shots[-1])
        _, body = self.bridge.get("/api/shots?since=2999-01-01")
        self.assertEqual(body["shots"], [])
        # The history began with this session: every shot it holds is one of them.
        _, body = self.bridge.get("/api/shots?since=2000-01-01T00:00&limit=1000")
        self.assertEqual(len(body["shots"]), self.bridge.get("/api/status")[1]["shots_this_session"])

    def test_status_is_pushed_when_the_club_changes(self):
        async def run():
            async with websockets.connect(self.live_url()) as ws:
                await next_of(ws, "status")
                self.bridge.tell_tgc(club_message("I7"))
                return await next_of(ws, "status")

        self.assertEqual(asyncio.run(run())["club_in_play"], "I7")
        self.assertEqual(self.bridge.get("/api/status")[1]["club_in_play"], "I7")

    def test_a_shot_the_simulator_did_not_take_is_pushed_too_and_so_is_the_link_change(self):
        async def run():
            async with websockets.connect(self.live_url()) as ws:
                await next_of(ws, "status")
                self.bridge.tell_tgc(b'{"protocol":"HXSDK", "INFO":{"status":"204"}}\r\n')
                away = await next_of(ws, "status")
                self.bridge.shot(77.7)
                shot = (await next_of(ws, "shot"))["shot"]
                self.bridge.tell_tgc(b'{"protocol":"HXSDK", "INFO":{"status":"203"}}\r\n')
                back = await next_of(ws, "status")
                return away, shot, back

        away, shot, back = asyncio.run(run())
        self.assertEqual(away["simulator"], {"name": "TGC", "connected": False})
        self.assertEqual((shot["ball_speed_mph"], shot["outcome"]), (77.7, "simulator not ready"))
        self.assertIsNot(shot["delivered"], True)
        self.assertEqual(back["simulator"], {"name": "TGC", "connected": True})

    def test_bad_requests_are_refused_with_a_reason(self):
        port = self.bridge.port
        key = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
        upgrade = f"GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        cases = [
            ("unknown path", f"GET /api/nothing HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n", 404),
            ("wrong method", f"POST /api/shots HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Length: 0\r\n\r\n", 405),
            ("bad limit", f"GET /api/shots?limit=0 HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n", 400),
            ("bad since", f"GET /api/shots?since=yesterday HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n", 400),
            ("not HTTP", "HELLO THERE\r\n\r\n", 400),
            ("broken header", "GET /api/status HTTP/1.1\r\nHost 127.0.0.1\r\n\r\n", 400),
            ("header past 8 KiB", f"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX: {'a' * 9000}\r\n\r\n",
             431),
            ("body past 8 KiB",
             f"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Length: 9000\r\n\r\n{'b' * 9000}", 413),
            ("another host name", "GET /api/status HTTP/1.1\r\nHost: rebound.example:%d\r\n\r\n" % port, 403),
            ("live without upgrade", f"GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n", 426),
            ("foreign origin", upgrade + key + "Origin: http://evil.example\r\n\r\n", 403),
            ("file page origin", upgrade + key + "Origin: null\r\n\r\n", 403),
        ]
        for name, request, expected in cases:
            with self.subTest(name):
                answer = raw_exchange(port, request.encode())
                head, _, body = answer.partition(b"\r\n\r\n")
                self.assertTrue(head.startswith(b"HTTP/1.1 %d " % expected), answer[:200])
                self.assertIn(b"Content-Type: application/json", head)
                self.assertIsInstance(json.loads(body)["error"], str)
        # The feed's own page may listen.
        async def own_origin():
            async with websockets.connect(self.live_url(), origin=f"http://127.0.0.1:{port}") as ws:
                return json.loads(await ws.recv())["type"]
        self.assertEqual(asyncio.run(own_origin()), "status")

    def test_at_most_32_clients_at_once(self):
        port = self.bridge.port
        held = [socket.create_connection(("127.0.0.1", port)) for _ in range(32)]
        try:
            # Every one of them is served: one request on each.
            for s in held:
                s.sendall(f"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
                self.assertTrue(s.recv(65536).startswith(b"HTTP/1.1 200 "))
            answer = raw_exchange(port, f"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
            self.assertTrue(answer.startswith(b"HTTP/1.1 503 "), answer[:100])
        finally:
            for s in held:
                s.close()
        # Room again once they are gone; the feed hears of it as they close.
        for _ in range(100):
            if raw_exchange(port, b"GET /api/status HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.1 200 "):
                break
        else:
            self.fail("the feed stays full after its clients left")

    def test_a_client_that_reads_no_answers_is_read_no_further(self):
        port = self.bridge.port
        # Requests near the size limit, one after another, and no answer read.
        request = f"GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Pad: {'p' * 7000}\r\n\r\n".encode()
        limit = 64 << 20
        with socket.create_connection(("127.0.0.1", port)) as s:
            s.setblocking(False)
            sent = 0
            while sent < limit and select.select([], [s], [], 1)[1]:
                offset = sent % len(request)
                sent += s.send(request[offset:] + request * 8)
            self.assertLess(sent, limit)
            self.assertEqual(self.bridge.get("/api/status")[0], 200)
            s.setblocking(True)
            s.settimeout(10)
            self.assertTrue(s.recv(65536).startswith(b"HTTP/1.1 200 "))

    def test_a_client_that_stops_reading_is_dropped_and_holds_up_nothing(self):
        count = 400

        async def run():
            stalled = socket.socket()
            stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            stalled.connect(("127.0.0.1", self.bridge.port))
            async with websockets.connect(self.live_url(), sock=stalled, max_queue=1, read_limit=4096) as slow, \
                    websockets.connect(self.live_url()) as reader:
                await next_of(reader, "status")
                # The slow client reads nothing from here on: its transport is paused.
                slow.transport.pause_reading()
                first = self.sent
                speeds = [50.0 + i / 10 for i in range(count)]
                await asyncio.get_running_loop().run_in_executor(None, self.send_shots, speeds)
                got = [(await next_of(reader, "shot"))["shot"]["ball_speed_mph"] for _ in speeds]
                self.assertEqual(got, speeds)
                slow.transport.resume_reading()
                seen = 0
                try:
                    while True:
                        if json.loads(await asyncio.wait_for(slow.recv(), 20))["type"] == "shot":
                            seen += 1
                except websockets.ConnectionClosed:
                    pass
                return first, seen

        first, seen = asyncio.run(run())
        self.assertLess(seen, count)
        self.assertEqual(len(self.bridge.tgc_lines), first + count)


class TakenPortTest(unittest.TestCase):
    def test_a_taken_port_is_named_and_the_bridge_runs_on(self):
        with socket.create_server(("127.0.0.1", 0)) as taken:
            port = taken.getsockname()[1]
            bridge = FeedBridge(feed_port=port)
            self.addCleanup(bridge.stop)
            self.assertTrue(bridge.feed_line.startswith(f"The shot feed cannot listen on port {port}: "),
                            bridge.feed_line)
            bridge.shot(123.4)
            bridge.wait_tgc(1)
            self.assertIn(b'"ballSpeedMPH":"123.4"', bridge.tgc_lines[0])


if __name__ == "__main__":
    unittest.main()
