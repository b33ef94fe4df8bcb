#!/usr/bin/python3
"""Open Connect emulator: the simulator's side of the Open Connect API v1
(JSON over TCP), as Taltrix meets it.

Listens (127.0.0.1:921 by default) and takes one client at a time: a second
connection is closed at once. Every object the client sends is cut out of the
stream by its braces and checked against the protocol's field rules; a good
shot is answered with code 200, anything wrong with code 501, and heartbeats
with nothing, as the protocol has it. Like the strictest simulators, it
refuses a ShotNumber that is not above the last shot it saw, across
reconnections and restarts of the client too, or that does not fit a signed
32-bit integer.

Output, one line per event:
  listening HOST PORT | connected PEER | refused PEER | dropped PEER
  disconnected PEER clean|reset      (clean: the client ended with a FIN)
  shot ok NUMBER TEXT                a shot that passed every check
  heartbeat ok ready=0|1 detected=0|1
  BAD REASON: TEXT                   a message that broke a rule (answered 501)
Commands on standard input, one per line:
  club CODE [YARDS [RH|LH [SURFACE]]]
                                     a 201 with the player's club, distance, hand and lie
                                     (Surface: Fairway, Rough, Green...)
  ready                              a 202: the simulator is ready for shots
  ended                              a 203: the round has ended
  glued REPLY REPLY ...              several replies in one write, {...}{...}; a REPLY
                                     is 200, 202, 203, a 5xx code, or
                                     CODE[:YARDS[:HAND[:SURFACE]]] for a 201
  split CODE [YARDS]                 a 201 in two writes, half a second apart
  raw TEXT                           TEXT as it stands
  drop                               drop the connection abruptly (a reset)
  quit                               end the emulator
"""

import argparse
import asyncio
import json
import math
import socket
import struct

from console import listen, run, stdin_lines

ROOT_KEYS = {"DeviceID", "Units", "ShotNumber", "APIversion", "BallData", "ClubData", "ShotDataOptions"}
BALL_REQUIRED = {"Speed", "SpinAxis", "TotalSpin", "BackSpin", "SideSpin", "HLA", "VLA"}
BALL_KEYS = BALL_REQUIRED | {"CarryDistance"}
CLUB_KEYS = {"Speed", "AngleOfAttack", "FaceToTarget", "Lie", "Loft", "Path", "SpeedAtImpact", "VerticalFaceImpact",
             "HorizontalFaceImpact", "ClosureRate"}
OPTION_KEYS = ["ContainsBallData", "ContainsClubData", "LaunchMonitorIsReady", "LaunchMonitorBallDetected",
               "IsHeartBeat"]
# Angles a real launch cannot exceed, in degrees.
ANGLE_LIMIT = 90
# The simulator keeps ShotNumber in a signed 32-bit integer.
LARGEST_SHOT_NUMBER = 2**31 - 1
REPLY_TEXTS = {200: "Shot received successfully", 202: "Ready", 203: "Round Ended"}


class RuleBroken(Exception):
    pass


def no_duplicates(pairs):
    keys = [key for key, _ in pairs]
    duplicated = {key for key in keys if keys.count(key) > 1}
    if duplicated:
        raise RuleBroken(f"key given twice: {sorted(duplicated)[0]}")
    return dict(pairs)


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def check_fields(obj, allowed, required, where):
    if not isinstance(obj, dict):
        raise RuleBroken(f"{where} is not an object")
    unknown = set(obj) - allowed
    if unknown:
        raise RuleBroken(f"{where} has an unknown field {sorted(unknown)[0]}")
    missing = required - set(obj)
    if missing:
        raise RuleBroken(f"{where} lacks {sorted(missing)[0]}")


class ShotCounter:
    """The last shot number the simulator saw, kept across its connections."""

    def __init__(self):
        self.last_shot = 0


class Connection:
    """What the emulator knows of the client on one connection."""

    def __init__(self, counter=None):
        self.device_id = None
        self.counter = counter or ShotCounter()

    @property
    def last_shot(self):
        return self.counter.last_shot

    def check(self, message):
        """('shot', number) or ('heartbeat', ready, detected); raises RuleBroken."""
        check_fields(message, ROOT_KEYS, {"DeviceID", "ShotNumber", "ShotDataOptions"}, "the message")
        device = message["DeviceID"]
        if not isinstance(device, str) or not device:
            raise RuleBroken("DeviceID is no name")
        if self.device_id is None:
            self.device_id = device
        elif device != self.device_id:
            raise RuleBroken(f"DeviceID changed from {self.device_id!r}")
        if message.get("Units", "Yards") not in ("Yards", "Metric"):
            raise RuleBroken("Units is neither Yards nor Metric")
        if message.get("APIversion", "1") != "1":
            raise RuleBroken("APIversion is not \"1\"")
        number = message["ShotNumber"]
        if not isinstance(number, int) or isinstance(number, bool) or number < 0:
            raise RuleBroken("ShotNumber is no whole number")
        if number > LARGEST_SHOT_NUMBER:
            raise RuleBroken(f"ShotNumber {number} overflows a 32-bit integer")

        options = message["ShotDataOptions"]
        check_fields(options, set(OPTION_KEYS), set(OPTION_KEYS), "ShotDataOptions")
        for key in OPTION_KEYS:
            if not isinstance(options[key], bool):
                raise RuleBroken(f"ShotDataOptions.{key} is not true or false")
        for section, flag in (("BallData", "ContainsBallData"), ("ClubData", "ContainsClubData")):
            if (section in message) != options[flag]:
                raise RuleBroken(f"{flag} does not match the presence of {section}")

        if options["IsHeartBeat"]:
            if options["ContainsBallData"]:
                raise RuleBroken("a heartbeat carries ball data")
            if number < self.last_shot:
                raise RuleBroken(f"heartbeat ShotNumber {number} is below the last shot {self.last_shot}")
            return ("heartbeat", options["LaunchMonitorIsReady"], options["LaunchMonitorBallDetected"])

        if not options["ContainsBallData"]:
            raise RuleBroken("a shot without ball data")
        if not options["LaunchMonitorIsReady"]:
            raise RuleBroken("a shot from a launch monitor that is not ready")
        if number <= self.last_shot:
            raise RuleBroken(f"ShotNumber {number} does not increase on {self.last_shot}")
        ball = message["BallData"]
        check_fields(ball, BALL_KEYS, BALL_REQUIRED, "BallData")
        for key, value in ball.items():
            if not is_number(value):
                raise RuleBroken(f"BallData.{key} is no number")
        if ball["Speed"] < 0 or ball["TotalSpin"] < 0:
            raise RuleBroken("a negative ball speed or total spin")
        for key in ("HLA", "VLA", "SpinAxis"):
            if abs(ball[key]) > ANGLE_LIMIT:
                raise RuleBroken(f"BallData.{key} beyond {ANGLE_LIMIT} degrees")
        if "ClubData" in message:
            club = message["ClubData"]
            check_fields(club, CLUB_KEYS, set(), "ClubData")
            for key, value in club.items():
                if not is_number(value):
                    raise RuleBroken(f"ClubData.{key} is no number")
        self.counter.last_shot = number
        return ("shot", number)


def take_object(buffer: bytearray):
    """Cuts the first whole object off the front of buffer by brace balance
    (braces inside strings do not count) and returns its text; None while it
    is incomplete. Anything but blanks before an object raises RuleBroken."""
    depth, in_string, escaped, start = 0, False, False, None
    for i, c in enumerate(buffer):
        if in_string:
            if escaped:
                escaped = False
            elif c == 0x5C:  # backslash
                escaped = True
            elif c == 0x22:
                in_string = False
        elif c == 0x22:
            in_string = True
        elif c == 0x7B:  # {
            if depth == 0:
                stray = bytes(buffer[:i]).strip()
                if stray:
                    del buffer[:i]
                    raise RuleBroken(f"stray text before an object: {stray.decode('utf-8', 'replace')}")
                start = i
            depth += 1
        elif c == 0x7D and depth > 0:  # }
            depth -= 1
            if depth == 0:
                text = bytes(buffer[start:i + 1]).decode("utf-8", "replace")
                del buffer[:i + 1]
                return text
    return None


def reply(code, message, player=None):
    body = {"Code": code, "Message": message}
    if player is not None:
        body["Player"] = player
    return json.dumps(body, separators=(",", ":"))


def player_reply(code, yards=None, hand="RH", surface=None):
    player = {"Handed": hand, "Club": code}
    if yards is not None:
        player["DistanceToTarget"] = float(yards)
    if surface is not None:
        player["Surface"] = surface
    return reply(201, "Player Information", player)


def parse_reply(word):
    """A REPLY of the glued command: 200, 202, 203, 5xx, or CODE[:YARDS[:HAND[:SURFACE]]]."""
    if word.isdigit():
        code = int(word)
        return reply(code, REPLY_TEXTS.get(code, "Failure Occurred"))
    return player_reply(*word.split(":")[:4])


class Simulator:
    def __init__(self):
        self.writer = None
        self.dropped = set()
        self.counter = ShotCounter()

    def say(self, *words):
        print(*words, flush=True)

    async def send(self, text: str):
        if self.writer is None:
            self.say("not-connected")
            return
        self.writer.write(text.encode("utf-8"))
        await self.writer.drain()

    async def serve_client(self, reader, writer):
        peer = writer.get_extra_info("peername")
        name = f"{peer[0]}:{peer[1]}"
        if self.writer is not None:
            # One client at a time: a second bridge cannot attach.
            self.say("refused", name)
            writer.close()
            return
        self.writer = writer
        self.say("connected", name)
        connection = Connection(self.counter)
        buffer = bytearray()
        ending = "clean"
        try:
            while data := await reader.read(4096):
                buffer += data
                await self.read_messages(connection, buffer)
        except ConnectionResetError:
            ending = "reset"
        except (ConnectionError, OSError):
            ending = "lost"
        finally:
            if self.writer is writer:
                self.writer = None
            writer.close()
            if writer in self.dropped:
                self.dropped.discard(writer)
            else:
                self.say("disconnected", name, ending)

    async def read_messages(self, connection, buffer):
        while True:
            text = ""
            try:
                text = take_object(buffer)
                if text is None:
                    return
                try:
                    message = json.loads(text, object_pairs_hook=no_duplicates)
                except ValueError as error:
                    raise RuleBroken(f"no JSON ({error})") from None
                outcome = connection.check(message)
            except RuleBroken as broken:
                self.say("BAD", f"{broken}:", text)
                await self.send(reply(501, f"Failure Occurred: {broken}"))
                continue
            if outcome[0] == "heartbeat":
                self.say("heartbeat", "ok", f"ready={int(outcome[1])}", f"detected={int(outcome[2])}")
            else:
                self.say("shot", "ok", outcome[1], text)
                await self.send(reply(200, "Shot received successfully"))

    def drop(self):
        """Ends the connection with a reset, as a simulator that crashes would."""
        sock = self.writer.get_extra_info("socket")
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        peer = self.writer.get_extra_info("peername")
        self.dropped.add(self.writer)
        self.writer.transport.abort()
        self.writer = None
        self.say("dropped", f"{peer[0]}:{peer[1]}")

    async def commands(self):
        async for line in stdin_lines():
            command, _, rest = line.strip().partition(" ")
            words = rest.split()
            if command == "club" and words:
                await self.send(player_reply(*words[:4]))
            elif command in ("ready", "ended"):
                await self.send(parse_reply("202" if command == "ready" else "203"))
            elif command == "glued" and words:
                await self.send("".join(parse_reply(word) for word in words))
            elif command == "split" and words and self.writer is not None:
                text = player_reply(*words[:2])
                half = len(text) // 2
                await self.send(text[:half])
                await asyncio.sleep(0.5)
                await self.send(text[half:])
            elif command == "raw":
                await self.send(rest)
            elif command == "drop" and self.writer is not None:
                self.drop()
            elif command == "quit":
                return
            elif command:
                self.say("unknown-command", command)
        await asyncio.Event().wait()


async def main(args):
    simulator = Simulator()
    server = await listen(simulator, args.host, args.port)
    async with server:
        await simulator.commands()


def parse_args(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=921, help="port to listen on (default 921; 0: any free port)")
    return parser.parse_args(argv)


if __name__ == "__main__":
    run(main(parse_args()))
