#!/usr/bin/python3
"""ES16 launch-monitor emulator.

Serves the monitor's serial stream on a TCP port, the way Taltrix's emulated
Bluetooth backend expects it (--bluetooth emulator:ES16@HOST:PORT). Sends
shots from a file of recorded messages or generated realistic ones, cut into
random chunks with line ends and device chatter around them, and logs (and
answers) the club commands the bridge writes back.

With --replay FILE it plays back a recording Taltrix made (taltrix --record
FILE): the same bytes in the same pieces, with the gaps between them as they
were recorded (--fast: no gaps), from the moment the bridge connects (with
--hold: on the "replay" command). Club commands are logged but not answered
then, since the recording holds the device's answers of that session.

Every event is printed to standard output as one line:
  listening HOST PORT | connected PEER | sent MESSAGE | command TEXT | disconnected PEER
  | cut-off MESSAGE (the connection dropped while it went) | replayed PIECES BYTES
  | replay-damaged REASON
Commands on standard input (one per line): "shot" sends one shot now,
"shot MESSAGE" sends that exact text, "replay" plays the recording (again),
"drop" closes the connection, "quit" ends the emulator.
"""

import argparse
import asyncio
import random
import struct

from console import listen, run, stdin_lines

CLUB_RANGES = {
    # device club: (club speed mph, smash factor, launch angle, spin rpm)
    "Drv": ((90, 115), (1.40, 1.49), (9, 15), (2000, 3200)),
    "3Wd": ((85, 105), (1.38, 1.47), (10, 15), (3000, 4200)),
    "5Wd": ((82, 100), (1.36, 1.45), (11, 16), (3500, 4800)),
    "2Hy": ((80, 98), (1.33, 1.42), (11, 16), (3500, 4800)),
    "3Hy": ((80, 96), (1.32, 1.41), (12, 17), (3800, 5000)),
    "4Hy": ((78, 94), (1.30, 1.40), (13, 18), (4000, 5400)),
    "5Hy": ((76, 92), (1.29, 1.39), (14, 19), (4300, 5800)),
    "2Ir": ((80, 96), (1.30, 1.40), (10, 14), (3500, 4800)),
    "3Ir": ((78, 94), (1.30, 1.39), (11, 15), (3800, 5000)),
    "4Ir": ((76, 92), (1.29, 1.38), (12, 16), (4200, 5400)),
    "5Ir": ((74, 90), (1.28, 1.37), (13, 17), (4600, 5800)),
    "6Ir": ((72, 88), (1.27, 1.36), (14, 18), (5200, 6400)),
    "7Ir": ((70, 86), (1.26, 1.35), (15, 20), (5800, 7200)),
    "8Ir": ((68, 84), (1.24, 1.33), (17, 22), (6600, 8000)),
    "9Ir": ((66, 82), (1.22, 1.31), (19, 25), (7400, 8800)),
    "Ptw": ((64, 80), (1.18, 1.28), (22, 28), (8000, 9500)),
    "Gpw": ((60, 76), (1.15, 1.25), (24, 30), (8500, 10000)),
    "Sdw": ((55, 72), (1.10, 1.22), (27, 34), (9000, 10500)),
    "Lbw": ((50, 68), (1.05, 1.18), (30, 38), (9000, 11000)),
    "Chp": ((20, 35), (1.00, 1.15), (30, 45), (2500, 5000)),
    "Ptt": ((3, 12), (1.00, 1.10), (1, 4), (0, 300)),
}

CHATTER = ["OK", "ES16 ready", "BAT 87%", "End of calibration", "Etc"]

# The recording format of taltrix --record (see bridge/record/recording_format.h).
RECORDING_MAGIC = b"TaltrixRecording "
RECORDING_VERSION = 1
MAX_HEADER = 200
MAX_PIECE = 65536
MAX_RECORDING = 256 * 1024 * 1024


def read_recording(data: bytes):
    """The pieces of a recording as (microseconds, bytes), and why reading
    stopped early (None when it did not). Every length is checked against
    what is there before it is used."""
    line_end = data.find(b"\n", 0, MAX_HEADER)
    if line_end < 0 or not data.startswith(RECORDING_MAGIC):
        return [], "not a Taltrix recording"
    words = data[len(RECORDING_MAGIC):line_end].split(b" ", 1)
    if not words[0].isdigit() or int(words[0]) < 1:
        return [], "not a Taltrix recording"
    if int(words[0]) > RECORDING_VERSION:
        return [], "made by a newer Taltrix"
    pieces, at, previous = [], line_end + 1, 0
    while at < len(data):
        if len(data) - at < 12:
            return pieces, "the last record is cut short"
        microseconds, length = struct.unpack_from("<QI", data, at)
        if not 1 <= length <= MAX_PIECE:
            return pieces, "a record has an impossible length"
        if microseconds < previous:
            return pieces, "a record's time goes backwards"
        if len(data) - at - 12 < length:
            return pieces, "the last record is cut short"
        pieces.append((microseconds, data[at + 12:at + 12 + length]))
        previous, at = microseconds, at + 12 + length
    return pieces, None


def generate_shot(rng: random.Random, club: str) -> str:
    """One realistic shot message for the club the device is set to."""
    speed_range, smash_range, angle_range, spin_range = CLUB_RANGES.get(club, CLUB_RANGES["7Ir"])
    club_speed = rng.uniform(*speed_range)
    smash = rng.uniform(*smash_range)
    ball_speed = club_speed * smash
    launch = rng.uniform(*angle_range)
    spin = rng.randint(*spin_range)
    path = rng.uniform(-6, 6)
    face = path + rng.uniform(-4, 4)
    axis = max(-45.0, min(45.0, (face - path) * 3.5 + rng.uniform(-2, 2)))
    direction = face * 0.75 + path * 0.25
    return ("ES16Prt001"
            f"CS{club_speed:05.1f}BS{ball_speed:05.1f}CD000.0TD000.0LA{launch:04.1f}SP{spin:05d}"
            f"SF{smash:.2f}CL{club}SPA{axis:+05.1f}DIR{direction:+05.1f}LDA00.0AA+0.0DL00.0MH000.0"
            f"SC+000.0ST+000.0CPTH{path:+05.1f}CFAC{face:+05.1f}SPL00.0HT00.00BV0.00VER109End")


def chunked(rng: random.Random, message: str, noise: bool) -> list[bytes]:
    """The message as the radio delivers it: in pieces, with line ends and chatter around."""
    text = message + "\r\n"
    if noise:
        text = rng.choice(CHATTER) + "\r\n" + text
        # The device breaks long lines.
        cut = rng.randint(1, len(message) - 1)
        text = text.replace(message, message[:cut] + "\r\n" + message[cut:])
    pieces, at = [], 0
    while at < len(text):
        size = rng.randint(1, 48)
        pieces.append(text[at:at + size].encode("ascii"))
        at += size
    return pieces


class Device:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.random)
        self.club = args.club
        self.writer = None
        self.recorded = []
        if args.shots:
            with open(args.shots, encoding="ascii") as f:
                self.recorded = [line.strip() for line in f if line.strip()]
        self.next_recorded = 0
        self.sent = 0
        self.replay, self.replay_damage = [], None
        if args.replay:
            with open(args.replay, "rb") as f:
                data = f.read(MAX_RECORDING + 1)
            if len(data) > MAX_RECORDING:
                raise SystemExit(f"es16_emulator: {args.replay} is larger than 256 MiB")
            self.replay, self.replay_damage = read_recording(data)
        # The device writes whole lines: an answer never lands inside a shot.
        self.output = asyncio.Lock()

    def say(self, *words):
        print(*words, flush=True)

    def next_message(self) -> str:
        if self.recorded:
            message = self.recorded[self.next_recorded % len(self.recorded)]
            self.next_recorded += 1
            return message
        return generate_shot(self.rng, self.club)

    async def send_shot(self, message=None):
        if self.writer is None:
            self.say("not-connected")
            return
        message = message or self.next_message()
        # The connection may drop between two pieces (the drop command, the
        # bridge going): the shot is then cut off, as on a real radio link.
        writer = self.writer
        async with self.output:
            try:
                for piece in chunked(self.rng, message, self.args.noise):
                    if writer.is_closing():
                        self.say("cut-off", message)
                        return
                    writer.write(piece)
                    await writer.drain()
                    await asyncio.sleep(self.args.chunk_gap)
            except ConnectionError:
                self.say("cut-off", message)
                return
        self.sent += 1
        self.say("sent", message)

    async def play_recording(self):
        """Sends the recording's pieces as they arrived then."""
        if self.writer is None:
            self.say("not-connected")
            return
        if self.replay_damage:
            self.say("replay-damaged", self.replay_damage)
        writer, begun = self.writer, asyncio.get_running_loop().time()
        first = self.replay[0][0] if self.replay else 0
        async with self.output:
            for microseconds, piece in self.replay:
                if not self.args.fast:
                    delay = begun + (microseconds - first) / 1e6 - asyncio.get_running_loop().time()
                    if delay > 0:
                        await asyncio.sleep(delay)
                if writer.is_closing():
                    return
                writer.write(piece)
                await writer.drain()
        self.say("replayed", len(self.replay), sum(len(piece) for _, piece in self.replay))

    async def serve_client(self, reader, writer):
        peer = writer.get_extra_info("peername")
        if self.writer is not None:
            # A serial port has one end: a second connection is turned away.
            writer.close()
            return
        self.writer = writer
        self.say("connected", f"{peer[0]}:{peer[1]}")
        if self.args.replay and not self.args.hold:
            asyncio.create_task(self.play_recording())
        try:
            while True:
                line = await reader.readuntil(b"\r")
                command = line.rstrip(b"\r").decode("latin-1")
                self.say("command", command)
                if self.args.replay:
                    continue  # the recording holds the answers
                if command.startswith("CLUB") and command.endswith("LOFT000") and len(command) == 14:
                    self.club = command[4:7]
                    answer = b"OK\r\n"
                else:
                    answer = b"ERR\r\n"
                async with self.output:
                    writer.write(answer)
                    await writer.drain()
        except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
            pass
        finally:
            if self.writer is writer:
                self.writer = None
            writer.close()
            self.say("disconnected", f"{peer[0]}:{peer[1]}")

    async def shots_on_timer(self):
        while self.args.count == 0 or self.sent < self.args.count:
            await asyncio.sleep(self.args.interval)
            if self.writer is not None:
                await self.send_shot()

    async def commands(self):
        async for line in stdin_lines():
            words = line.strip().split(" ", 1)
            if words[0] == "shot":
                await self.send_shot(words[1] if len(words) > 1 else None)
            elif words[0] == "replay":
                await self.play_recording()
            elif words[0] == "drop" and self.writer is not None:
                self.writer.close()
            elif words[0] == "quit":
                return
        if not self.args.interval:
            return  # standard input ended and nothing else would happen
        await asyncio.Event().wait()


async def main(args):
    device = Device(args)
    server = await listen(device, args.host, args.port)
    tasks = [asyncio.create_task(device.commands())]
    if args.interval:
        tasks.append(asyncio.create_task(device.shots_on_timer()))
    async with server:
        await asyncio.wait(tasks, return_when=asyncio.FIRST_COMPLETED)


def parse_args(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (default: any free port)")
    parser.add_argument("--shots", metavar="FILE", help="recorded shot messages, one per line (default: generate)")
    parser.add_argument("--interval", type=float, default=0,
                        help="seconds between shots while connected (default 0: only on the 'shot' command)")
    parser.add_argument("--count", type=int, default=0, help="stop the timer after this many shots (0: no limit)")
    parser.add_argument("--club", default="7Ir", choices=sorted(CLUB_RANGES), help="club the device starts with")
    parser.add_argument("--noise", action=argparse.BooleanOptionalAction, default=True,
                        help="chatter and broken lines around shots (default on)")
    parser.add_argument("--chunk-gap", type=float, default=0.002, help="seconds between chunks (default 0.002)")
    parser.add_argument("--random", type=int, metavar="N",
                        help="start the random generator at N, for a stream that repeats")
    parser.add_argument("--replay", metavar="FILE",
                        help="play back a recording of taltrix --record instead of making shots")
    parser.add_argument("--fast", action="store_true", help="with --replay: no waits between the pieces")
    parser.add_argument("--hold", action="store_true",
                        help="with --replay: wait for the 'replay' command instead of starting at the connection")
    args = parser.parse_args(argv)
    if (args.fast or args.hold) and not args.replay:
        parser.error("--fast and --hold go with --replay")
    return args


if __name__ == "__main__":
    run(main(parse_args()))
