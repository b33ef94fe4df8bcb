#!/usr/bin/python3
"""TGC emulator: the simulator's side of Taltrix's local TCP link.

Listens (127.0.0.1:3344 by default), greets every connection with the
"ready" status 203, prints every launch message it receives with the result
of its launch-code check, and sends club, lie, distance and status messages
when told to on standard input.

Output, one line per event:
  listening HOST PORT | connected PEER | disconnected PEER
  launch ok {...} | launch BAD <reason> {...} | received TEXT (anything else)
  (a line not ended by CR LF is reported as "received BAD-LINE-END TEXT")
Commands on standard input, one per line:
  club CODE [SURFACE [YARDS]]   status 150 with playerClub, playerSurface, playerDistanceToFlag
  status CODE                   a status message (203 ready, 204/205 not ready, ...)
  message TEXT                  a status 102 message with a free text
  raw TEXT                      TEXT as it stands, followed by CR LF
  split TEXT                    TEXT in two writes, half a second apart
  close                         close the current connection
  quit                          end the emulator
"""

import argparse
import asyncio
import json

from console import listen, run, stdin_lines
from launch_code import check_launch


def sdk_message(**info) -> str:
    """An HXSDK message in the spacing TGC writes."""
    body = ", ".join(f'"{key}":"{value}"' for key, value in info.items())
    return '{"protocol":"HXSDK", "INFO":{' + body + "}}"


class Simulator:
    def __init__(self, args):
        self.args = args
        self.writer = None

    def say(self, *words):
        print(*words, flush=True)

    async def send(self, text: str):
        if self.writer is None:
            self.say("not-connected")
            return
        self.writer.write(text.encode("latin-1") + b"\r\n")
        await self.writer.drain()

    async def serve_client(self, reader, writer):
        peer = writer.get_extra_info("peername")
        if self.writer is not None:
            self.writer.close()
        self.writer = writer
        self.say("connected", f"{peer[0]}:{peer[1]}")
        if self.args.greet:
            await self.send(sdk_message(status="203"))
        try:
            while line := await reader.readline():
                self.report(line)
        except ConnectionError:
            pass
        finally:
            if self.writer is writer:
                self.writer = None
            writer.close()
            self.say("disconnected", f"{peer[0]}:{peer[1]}")

    def report(self, line: bytes):
        text = line.decode("latin-1").rstrip("\r\n")
        if not line.endswith(b"\r\n"):
            # Every message is one line ended by CR LF.
            self.say("received", "BAD-LINE-END", text)
            return
        try:
            message = json.loads(text)
        except ValueError:
            self.say("received", text)
            return
        if not isinstance(message, dict) or message.get("protocol") != "HXLAUNCH":
            self.say("received", text)
            return
        ok, reason = check_launch(message.get("DATA") or {})
        self.say("launch", "ok" if ok else f"BAD {reason}", text)

    async def commands(self):
        async for line in stdin_lines():
            command, _, rest = line.strip().partition(" ")
            words = rest.split()
            if command == "club" and words:
                info = {"status": "150", "playerClub": words[0]}
                if len(words) > 1:
                    info["playerSurface"] = words[1]
                if len(words) > 2:
                    info["playerDistanceToFlag"] = words[2]
                await self.send(sdk_message(**info))
            elif command == "status" and words:
                await self.send(sdk_message(status=words[0]))
            elif command == "message":
                await self.send(sdk_message(status="102", message=rest))
            elif command == "raw":
                await self.send(rest)
            elif command == "split" and self.writer is not None:
                half = len(rest) // 2
                self.writer.write(rest[:half].encode("latin-1"))
                await self.writer.drain()
                await asyncio.sleep(0.5)
                await self.send(rest[half:])
            elif command == "close" and self.writer is not None:
                self.writer.close()
            elif command == "quit":
                return
            elif command:
                self.say("unknown-command", command)
        await asyncio.Event().wait()


async def main(args):
    simulator = Simulator(args)
    server = await listen(simulator, args.host, args.port)
    async with server:
        await simulator.commands()


def parse_args(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=3344, help="port to listen on (default 3344; 0: any free port)")
    parser.add_argument("--greet", action=argparse.BooleanOptionalAction, default=True,
                        help="send status 203 to every new connection (default on)")
    return parser.parse_args(argv)


if __name__ == "__main__":
    run(main(parse_args()))
