#!/usr/bin/python3
"""Relay emulator: the Halvex Play relay service's side of Taltrix's WebSocket link.

A WebSocket server (ws, or wss when given --cert and --key) that checks the
bridge's two sign-in commands and their order, prints every launch command it
receives with the result of its launch-code check, and sends the relay's
messages (HXP, HYInfo, HYStatus, HXCONTROL, HALVEX) when told to on standard
input. Messages go to the newest open connection.

Output, one line per event (CR and LF inside a text are shown as \\r and \\n):
  listening HOST PORT | connected PEER | disconnected PEER CLOSE-CODE
  signin ok SIM-KEY             "/password simHoldaVK731", then "/connect SIM-KEY"
  signin BAD REASON             the first deviation from that; checking stops there
  launch ok {...}               "/launch {...}" whose DATA carries the right launch code
  launch BAD REASON {...}       a launch command that is unreadable, not HXP,
                                sent before the sign-in, or with a wrong code
  received TEXT                 any other text message
  received-binary HEX           a binary message
  sent TEXT | pong DATA | pong-timeout DATA | not-connected | bad-command LINE
Commands on standard input, one per line (values may be quoted as in a shell):
  hxp KEY=VALUE ...             {"protocol":"HXP", "DATA":{...}}, e.g.
                                hxp status=200 gameName=Lobby playerClub=I7 distanceToFlag=25 playerSurface=Fairway
  hyinfo KEY=VALUE ...          {"protocol":"HYInfo", "INFO":{...}}, e.g. hyinfo club=DR hand=RH distance=150
  hystatus KEY=VALUE ...        {"protocol":"HYStatus", "INFO":{...}}, e.g. hystatus status=1 message="Hole 3"
  quit                          {"protocol":"HXCONTROL", "DATA":{"COMMAND":"quit"}}
  control COMMAND               HXCONTROL with another command
  halvex KEY=VALUE ...          {"protocol":"HALVEX", "DATA":{...}}, e.g. halvex device=EXT
  raw TEXT                      TEXT as it stands, as one text message
  fragment TEXT                 TEXT as one text message in three fragments, --fragment-gap apart
  ping [DATA]                   a ping; prints pong DATA when the answer comes
  close [CODE [REASON]]         the closing handshake (default code 1000)
  drop                          cut the TCP connection without a close frame
  exit                          end the emulator (end of input does not)
"""

import argparse
import asyncio
import json
import shlex
import ssl

import websockets
from websockets.frames import Opcode

from console import run, stdin_lines
from launch_code import check_launch

PASSWORD_COMMAND = "/password simHoldaVK731"
CONNECT_PREFIX = "/connect SIM-"
LAUNCH_PREFIX = "/launch "
# The codes a server may send in a close frame, besides 3000-4999.
CLOSE_CODES = {1000, 1001, 1002, 1003, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014}

# The object each kind of relay message carries its pairs in.
MESSAGE_KINDS = {
    "hxp": ("HXP", "DATA"),
    "hyinfo": ("HYInfo", "INFO"),
    "hystatus": ("HYStatus", "INFO"),
    "halvex": ("HALVEX", "DATA"),
}


def relay_message(protocol: str, wrapper: str, pairs: list[tuple[str, str]]) -> str:
    """A relay message in the spacing the relay writes: every value a string."""
    body = ", ".join(f'"{key}":"{value}"' for key, value in pairs)
    return '{"protocol":"' + protocol + '", "' + wrapper + '":{' + body + "}}"


def parse_pairs(words: list[str]) -> list[tuple[str, str]]:
    pairs = []
    for word in words:
        key, equals, value = word.partition("=")
        if not equals or not key:
            raise ValueError(word)
        pairs.append((key, value))
    return pairs


def one_line(text: str) -> str:
    return text.replace("\r", "\\r").replace("\n", "\\n")


def fragments_of(text: str, count: int = 3) -> list[str]:
    """TEXT cut into up to `count` non-empty pieces."""
    count = max(1, min(count, len(text)))
    size = -(-len(text) // count) if text else 0
    return [text[at:at + size] for at in range(0, len(text), size)] if text else [""]


class SignIn:
    """The sign-in of one connection: the password command, then the account key."""

    def __init__(self):
        self.state = "password"  # -> "connect" -> "done", or "failed"

    @property
    def done(self) -> bool:
        return self.state == "done"

    def check(self, text: str) -> tuple[bool, str | None]:
        """Whether TEXT was taken as a sign-in step, and the line to print if any."""
        password = text == "/password" or text.startswith("/password ")
        connect = text == "/connect" or text.startswith("/connect ")
        if self.state == "password":
            if text == PASSWORD_COMMAND:
                self.state = "connect"
                return True, None
            if password:
                return self.fail(f"wrong password: {text}")
            if connect:
                return self.fail(f"/connect before /password: {text}")
            return self.fail(f"expected /password first, got: {text}")
        if self.state == "connect":
            if text.startswith(CONNECT_PREFIX):
                self.state = "done"
                return True, "signin ok " + text[len("/connect "):]
            if connect:
                return self.fail(f"account id without SIM- prefix: {text}")
            if password:
                return self.fail(f"/password sent twice: {text}")
            return self.fail(f"expected /connect after /password, got: {text}")
        if self.state == "done" and (password or connect):
            return self.fail(f"sign-in command repeated: {text}")
        return False, None

    def fail(self, reason: str) -> tuple[bool, str]:
        self.state = "failed"
        return False, "signin BAD " + one_line(reason)


def launch_verdict(body: str, signed_in: bool) -> str:
    try:
        message = json.loads(body)
    except ValueError:
        return "BAD unreadable JSON"
    if not isinstance(message, dict) or message.get("protocol") != "HXP":
        protocol = message.get("protocol") if isinstance(message, dict) else None
        return f"BAD protocol {protocol!r}, expected 'HXP'"
    data = message.get("DATA")
    if not isinstance(data, dict):
        return "BAD no DATA object"
    if not signed_in:
        return "BAD before sign-in"
    ok, reason = check_launch(data)
    return "ok" if ok else f"BAD {reason}"


class Relay:
    def __init__(self, args):
        self.args = args
        self.connections = []  # oldest first

    def say(self, *words):
        print(*words, flush=True)

    @property
    def current(self):
        return self.connections[-1] if self.connections else None

    async def serve_client(self, websocket):
        peer = "{}:{}".format(*websocket.remote_address[:2])
        self.connections.append(websocket)
        self.say("connected", peer)
        sign_in = SignIn()
        try:
            async for message in websocket:
                self.report(sign_in, message)
        except websockets.ConnectionClosed:
            pass
        finally:
            self.connections.remove(websocket)
            self.say("disconnected", peer, websocket.close_code)

    def report(self, sign_in: SignIn, message):
        if isinstance(message, bytes):
            self.say("received-binary", message.hex())
            return
        taken, line = sign_in.check(message)
        if line:
            self.say(line)
        if taken:
            return
        if message.startswith(LAUNCH_PREFIX):
            body = message[len(LAUNCH_PREFIX):]
            self.say("launch", launch_verdict(body, sign_in.done), one_line(body))
        else:
            self.say("received", one_line(message))

    async def send(self, text: str, pieces: int = 1):
        websocket = self.current
        if websocket is None:
            self.say("not-connected")
            return
        try:
            if pieces == 1:
                await websocket.send(text)
            else:
                await self.send_fragments(websocket, fragments_of(text, pieces))
        except websockets.ConnectionClosed:
            self.say("not-connected")
            return
        self.say("sent", one_line(text))

    async def send_fragments(self, websocket, fragments: list[str]):
        # Frame by frame rather than through send(), which ends every
        # fragmented message with an extra empty fragment; apart in time, so
        # that the fragments reach the bridge in separate reads.
        for index, fragment in enumerate(fragments):
            if index:
                await asyncio.sleep(self.args.fragment_gap)
            opcode = Opcode.CONT if index else Opcode.TEXT
            await websocket.write_frame(index == len(fragments) - 1, opcode, fragment.encode())

    async def ping(self, data: str):
        websocket = self.current
        if websocket is None:
            self.say("not-connected")
            return
        try:
            answered = await websocket.ping(data)
            await asyncio.wait_for(answered, timeout=5)
            self.say("pong", data)
        except (asyncio.TimeoutError, websockets.ConnectionClosed):
            self.say("pong-timeout", data)

    async def run_command(self, line: str):
        command, _, rest = line.partition(" ")
        if command == "raw":
            await self.send(rest)
            return
        if command == "fragment" and rest:
            await self.send(rest, pieces=3)
            return
        if command == "ping":
            asyncio.create_task(self.ping(rest))
            return
        words = shlex.split(rest)
        if command in MESSAGE_KINDS and words:
            protocol, wrapper = MESSAGE_KINDS[command]
            await self.send(relay_message(protocol, wrapper, parse_pairs(words)))
        elif command == "quit" and not words:
            await self.send(relay_message("HXCONTROL", "DATA", [("COMMAND", "quit")]))
        elif command == "control" and len(words) == 1:
            await self.send(relay_message("HXCONTROL", "DATA", [("COMMAND", words[0])]))
        elif command == "close" and len(words) <= 2:
            code = int(words[0]) if words else 1000
            if not (code in CLOSE_CODES or 3000 <= code < 5000):
                raise ValueError(code)
            if self.current is None:
                self.say("not-connected")
                return
            # The closing handshake waits for the bridge's answer; commands go on meanwhile.
            asyncio.create_task(self.current.close(code, words[1] if len(words) > 1 else ""))
        elif command == "drop" and not words:
            if self.current is None:
                self.say("not-connected")
                return
            self.current.transport.abort()
        else:
            raise ValueError(command)

    async def commands(self):
        async for line in stdin_lines():
            if not line.strip():
                continue
            if line.strip() == "exit":
                return
            try:
                await self.run_command(line.lstrip())
            except ValueError:
                self.say("bad-command", line)
        await asyncio.Event().wait()


async def main(args):
    context = None
    if args.cert or args.key:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    relay = Relay(args)
    async with websockets.serve(relay.serve_client, args.host, args.port, ssl=context,
                                ping_interval=args.ping_interval or None, close_timeout=2) as server:
        host, port = next(iter(server.sockets)).getsockname()[:2]
        relay.say("listening", host, port)
        await relay.commands()


def parse_args(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=5555, help="port to listen on (default 5555; 0: any free port)")
    parser.add_argument("--cert", help="PEM certificate (chain) file: serve wss instead of ws")
    parser.add_argument("--key", help="PEM private key of the certificate")
    parser.add_argument("--ping-interval", type=float, default=0,
                        help="send a keep-alive ping every so many seconds (default 0: never)")
    parser.add_argument("--fragment-gap", type=float, default=0.05,
                        help="seconds between the fragments of a 'fragment' command (default 0.05)")
    args = parser.parse_args(argv)
    if bool(args.cert) != bool(args.key):
        parser.error("--cert and --key go together")
    return args


if __name__ == "__main__":
    run(main(parse_args()))
