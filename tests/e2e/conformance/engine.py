"""The engine that plays the cases: a raw-socket server on loopback that
takes one connection per case from a client started for it, answers its
opening handshake, plays the case's steps, and judges what comes back.

The client is any program that echoes every message (morvane --echo, or the
python3-websockets reference): it is started with the server's URL as its
last argument."""

import base64
import collections
import hashlib
import re
import select
import socket
import subprocess
import time

from conformance.cases import BINARY, CLOSE, CONTINUATION, PING, PONG, TEXT, frame, close_payload

GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
Verdict = collections.namedtuple("Verdict", "outcome note seconds")
PASS, FAIL, LAX = "pass", "FAIL", "lax"
CLIENT_OPCODES = {TEXT, BINARY, CONTINUATION, CLOSE, PING, PONG}
SANITIZER_REPORT = re.compile(r"ERROR: \w*Sanitizer.*|runtime error:.*")
VALID_CLOSE = lambda code: 1000 <= code <= 1003 or 1007 <= code <= 1014 or 3000 <= code <= 4999  # noqa: E731


class Mismatch(Exception):
    pass


def unmask(data, key):
    """XOR with the key, a whole payload at a time (fast for megabytes)."""
    if not data:
        return data
    stream = (key * (len(data) // 4 + 1))[:len(data)]
    return (int.from_bytes(data, "big") ^ int.from_bytes(stream, "big")).to_bytes(len(data), "big")


def describe(kind, opcode=None, payload=b""):
    if kind == "close":
        code = int.from_bytes(payload[:2], "big") if len(payload) >= 2 else None
        return f"a close ({code})" if code is not None else "a close without code"
    if kind == "message":
        return f"{'text' if opcode == TEXT else 'binary'} of {len(payload)} bytes"
    return kind if kind == "the end of the connection" else f"a {kind} of {len(payload)} bytes"


class ClientStream:
    """The client's side of the connection: its frames, checked as a server
    must check a client's (masked, no reserved bits, known opcodes), and
    joined into messages."""

    def __init__(self, conn):
        self.conn = conn
        self.buffer = bytearray()

    def _read(self, n, deadline):
        while len(self.buffer) < n:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Mismatch("nothing more came in time")
            ready, _, _ = select.select([self.conn], [], [], left)
            if not ready:
                continue
            try:
                chunk = self.conn.recv(max(1 << 20, n - len(self.buffer)))
            except ConnectionError:
                chunk = b""
            if not chunk:
                raise EOFError
            self.buffer += chunk
        data = bytes(self.buffer[:n])
        del self.buffer[:n]
        return data

    def frame(self, deadline):
        first, second = self._read(2, deadline)
        length = second & 0x7F
        if length >= 126:
            length = int.from_bytes(self._read(2 if length == 126 else 8, deadline), "big")
        if not second & 0x80:
            raise Mismatch("the client sent an unmasked frame")
        if first & 0x70 or first & 0x0F not in CLIENT_OPCODES:
            raise Mismatch(f"the client sent a frame with first byte {first:#04x}")
        key = self._read(4, deadline)
        return bool(first & 0x80), first & 0x0F, unmask(self._read(length, deadline), key)

    def next(self, deadline):
        """(kind, opcode, payload, frame sizes): a whole message, or a control
        frame, or the end of the connection."""
        parts, opcode, sizes = [], None, []
        while True:
            try:
                fin, op, payload = self.frame(deadline)
            except EOFError:
                return "the end of the connection", None, b"", []
            if op in (CLOSE, PING, PONG):
                if not fin or len(payload) > 125:
                    raise Mismatch("the client sent a fragmented or long control frame")
                return {CLOSE: "close", PING: "ping", PONG: "pong"}[op], op, payload, []
            if (op == CONTINUATION) != (opcode is not None):
                raise Mismatch("the client's fragments do not make a message")
            opcode = opcode if op == CONTINUATION else op
            parts.append(payload)
            sizes.append(len(payload))
            if fin:
                return "message", opcode, b"".join(parts), sizes


class Server:
    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]

    def close(self):
        self.listener.close()

    def accept(self, client, timeout=20):
        self.listener.settimeout(timeout)
        try:
            conn, _ = self.listener.accept()
        except socket.timeout:
            raise Mismatch(f"the client did not connect: {client.describe()}") from None
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        conn.settimeout(timeout)
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = conn.recv(4096)
            if not chunk:
                raise Mismatch("the client left during the handshake")
            request += chunk
        headers = {}
        for line in request.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            headers[name.strip().lower()] = value.strip()
        accept = base64.b64encode(hashlib.sha1(headers[b"sec-websocket-key"] + GUID).digest())
        conn.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     b"Sec-WebSocket-Accept: " + accept + b"\r\n\r\n")
        conn.setblocking(True)
        return conn


class Client:
    """One client process for one case."""

    def __init__(self, command, url):
        self.process = subprocess.Popen(command + [url], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        self.killed = False
        self.output = None  # read once it has exited

    def finish(self, timeout=20):
        """Waits for the client to exit, killing it after `timeout`: its exit
        status (None when it had to be killed) and its output."""
        if self.output is None:
            try:
                self.output = self.process.communicate(timeout=timeout)[0].decode(errors="replace")
            except subprocess.TimeoutExpired:
                self.stop()
        return (None if self.killed else self.process.returncode), self.output

    def stop(self):
        self.killed = True
        self.process.kill()
        self.output = self.process.communicate()[0].decode(errors="replace")

    def crash(self):
        """How the client crashed, if it did: a signal it was not sent, or a
        sanitizer's report (a sanitized client exits 1, as on a failure)."""
        if self.process.returncode is not None and self.process.returncode < 0 and not self.killed:
            return f"the client died of signal {-self.process.returncode}"
        report = SANITIZER_REPORT.search(self.output)
        return f"the client crashed: {report.group(0)}" if report else None

    def describe(self):
        code, out = self.finish(timeout=2)
        return f"exit {code}, output {out[-400:]!r}"


def patience(case):
    """Seconds a step may wait: more for the big messages, less for the echo
    of an empty message, which a client may never send."""
    if case.empty:
        return 2
    biggest = max((len(step[1]) for step in case.steps if step[0] in ("send", "chop")), default=0)
    return 10 + 4 * biggest / (1 << 20)


def write(conn, step):
    data = step[1]
    try:
        if step[0] == "send":
            conn.sendall(data)
            return
        size = step[2]
        # Small pieces are spaced so that each arrives on its own.
        pause = 0.001 if len(data) // size <= 300 else 0
        for i in range(0, len(data), size):
            conn.sendall(data[i:i + size])
            if pause:
                time.sleep(pause)
    except (BrokenPipeError, ConnectionResetError):
        pass  # what the client did instead shows in the next expectation


def matches(step, kind, opcode, payload):
    if step[0] == "echo":
        return kind == "message" and opcode == step[1] and payload == step[2]
    if step[0] == "pong":
        return kind == "pong" and payload == step[1]
    return kind == "close"


def expect(stream, step, deadline, sizes_checked, extra=None):
    """Checks the client's next message or control frame against the step.
    With `extra` (a lax client after a broken rule), a message or pong that
    does not match is noted there and passed over."""
    kind, opcode, payload, sizes = stream.next(deadline)
    while extra is not None and kind in ("message", "pong") and not matches(step, kind, opcode, payload):
        extra.append(describe(kind, opcode, payload))
        kind, opcode, payload, sizes = stream.next(deadline)
    got = describe(kind, opcode, payload)
    if step[0] == "echo":
        if not matches(step, kind, opcode, payload):
            raise Mismatch(f"expected the echo ({describe('message', step[1], step[2])}), got {got}")
        if len(step) > 3 and sizes_checked and max(sizes) > step[3]:
            raise Mismatch(f"a frame of {max(sizes)} bytes in the echo, more than {step[3]}")
    elif step[0] == "pong":
        if not matches(step, kind, opcode, payload):
            raise Mismatch(f"expected a pong of {len(step[1])} bytes, got {got}")
    elif step[0] == "closing":
        if kind != "close":
            raise Mismatch(f"expected the close reply, got {got}")
        if len(payload) >= 2 and not VALID_CLOSE(int.from_bytes(payload[:2], "big")):
            raise Mismatch(f"the close reply carries {got}")


def play(server, command, case, strict, configurable=True):
    """Plays one case with a fresh client; returns its Verdict."""
    started = time.monotonic()
    options = [a for setting in case.client_config for a in ("--config", setting)] if configurable else []
    client = Client(command[:-1] + options + command[-1:],
                    f"ws://127.0.0.1:{server.port}/{case.id}")
    failed_as_told = False
    conn = None
    extra = None  # what a lax client sent back for a broken rule
    try:
        conn = server.accept(client)
        stream = ClientStream(conn)
        deadline = lambda: time.monotonic() + patience(case)  # noqa: E731
        steps = list(case.steps)
        if steps[-1] != ("closing",):
            if case.breaks and not strict:
                # The close waits for the pong of a ping sent after the
                # broken rule: what a lax client sends back for the rule has
                # gone out before it reads the close, so the note does not
                # vary with what one of its reads happened to hold.
                steps += [("send", frame(PING, "sync")), ("pong", b"sync")]
            steps += [("send", frame(CLOSE, close_payload(1000))), ("closing",)]
        for step in steps:
            if step[0] in ("send", "chop"):
                write(conn, step)
            elif step[0] == "broken":
                if strict:
                    # Failing is due at once: nothing more is coming.
                    kind, opcode, payload, _ = stream.next(time.monotonic() + 3)
                    code = int.from_bytes(payload[:2], "big") if kind == "close" and len(payload) >= 2 else None
                    if code != case.breaks:
                        raise Mismatch(f"expected the client to fail with a close ({case.breaks}), got "
                                       f"{describe(kind, opcode, payload)}")
                    failed_as_told = True
                    break
                extra = []
            else:
                expect(stream, step, deadline(), configurable, extra)
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass  # the client has gone already
        status, output = client.finish()
        wanted = 1 if failed_as_told else 0
        if status != wanted:
            raise Mismatch(f"the client exited with {status}, not {wanted}: {output[-300:]!r}")
        outcome, note = PASS, "failed the connection as it must" if failed_as_told else ""
    except (Mismatch, OSError) as problem:
        outcome, note = FAIL, str(problem)
    finally:
        if conn:
            conn.close()
        if client.process.poll() is None:
            client.stop()
        else:
            client.finish()
    crash = client.crash()
    if crash:
        # Whatever the case broke, a crash fails it, lax or strict.
        outcome, note = FAIL, crash
    elif case.breaks and not strict:
        # A lax client is not held to the rule the case breaks.
        if outcome == PASS:
            note = "sent back " + ", ".join(extra) if extra else "went on as if nothing were wrong"
        outcome = LAX
    return Verdict(outcome, note, time.monotonic() - started)


def play_all(groups, clients, only_groups=None):
    """{client name: {case id: Verdict}} for every (name, command, strict,
    configurable) client, case by case in turn, and group times."""
    only_groups = only_groups or {}
    server = Server()
    results = {name: {} for name, *_ in clients}
    times = {name: collections.Counter() for name, *_ in clients}
    try:
        for group in groups:
            for name, command, strict, configurable in clients:
                if name in only_groups and group.number not in only_groups[name]:
                    continue
                for case in group.cases:
                    verdict = play(server, command, case, strict, configurable)
                    results[name][case.id] = verdict
                    times[name][group.number] += verdict.seconds
    finally:
        server.close()
    return results, times
