"""A two-minute run of the whole bridge against an Open Connect simulator,
with both links dropping and coming back and the bridge restarted once: every
shot the framer cut out must be in the history with what became of it, none
may be lost or sent twice while both links are up, a stale shot is never
sent late, and taltrix's memory and open files stay flat.

The emulated ES16 sends about ten shots a second with its chatter around
them; taltrix --record keeps the pieces as they reached the framer, and the
test frames them again by the framer's rules to know which shots it saw."""

import os
import shutil
import statistics
import sys
import tempfile
import time
import unittest
from datetime import datetime

from processes import Process, free_port, history_rows

TALTRIX = os.environ["TALTRIX"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]
EMULATORS = os.path.join(SOURCE_DIR, "tools", "emulators")
sys.path.insert(0, EMULATORS)
from es16_emulator import read_recording  # noqa: E402

TICK = 4.5  # the connection timer
SHOT_INTERVAL = 0.1
PREFIX = "ES16Prt"
CHARSET = set("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.,{}+-")
# How long a shot may still be on its way when the simulator drops, and how
# long the bridge may take to find it gone and back.
IN_FLIGHT = 1.0
AWAY_AT_MOST = 2 * TICK + 3
# What "flat" allows between the settled start of a run and its end.
RSS_GROWTH_KIB = 6 * 1024
FD_GROWTH = 2


def framed_shots(recording):
    """The messages the framer cut out of a recording's pieces, by its rules:
    each "End" closes the last "ES16Prt" before it; what cannot become a
    message any more is dropped, and an unfinished one past 2000 characters."""
    with open(recording, "rb") as f:
        pieces, damage = read_recording(f.read())
    if damage:
        raise AssertionError(f"{recording}: {damage}")
    shots, buffer = [], ""
    for _, piece in pieces:
        buffer += "".join(c for c in piece.decode("latin-1") if c in CHARSET)
        while True:
            start = buffer.find(PREFIX)
            end = buffer.find("End", start + len(PREFIX)) if start >= 0 else -1
            if end < 0:
                break
            begin = buffer.rfind(PREFIX, 0, end)
            shots.append(buffer[begin:end + 3])
            buffer = buffer[end + 3:]
        last = buffer.rfind(PREFIX)
        if last >= 0:
            buffer = buffer[last:] if len(buffer) - last <= 2000 else ""
        else:
            keep = min(len(buffer), len(PREFIX) - 1)
            while keep > 0 and not PREFIX.startswith(buffer[len(buffer) - keep:]):
                keep -= 1
            buffer = buffer[len(buffer) - keep:]
    return shots


def between(message, tag, following):
    start = message.index(tag) + len(tag)
    return message[start:message.index(following, start)]


def identity(message):
    """What tells one generated shot from another: ball speed and spin."""
    return float(between(message, "BS", "CD")), int(between(message, "SP", "SF"))


def resources(pid):
    """taltrix's resident memory (KiB) and open file descriptors."""
    with open(f"/proc/{pid}/status") as status:
        rss = next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


class SoakTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="taltrix-home-")
        self.runtime = tempfile.mkdtemp(prefix="taltrix-run-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.addCleanup(shutil.rmtree, self.runtime, True)
        self.device = Process(["/usr/bin/python3", os.path.join(EMULATORS, "es16_emulator.py"), "--random", "11",
                               "--interval", str(SHOT_INTERVAL)])
        self.addCleanup(self.device.stop)
        self.device_port = int(self.device.wait_for(lambda l: l.startswith("listening"), 10).split()[2])
        self.simulator = Process(["/usr/bin/python3", os.path.join(EMULATORS, "openconnect_emulator.py"),
                                  "--port", "0"])
        self.addCleanup(self.simulator.stop)
        port = int(self.simulator.wait_for(lambda l: l.startswith("listening"), 10).split()[2])
        with open(os.path.join(self.home, "Settings.pgs"), "w", newline="") as settings:
            settings.write(f"[Software]\r\nSim_software=OpenConnect\r\nOpenConnect_port={port}\r\n")
        self.recordings = []
        self.drops = []  # when the simulator was dropped (wall clock)
        self.simulator_lines = []
        self.device_lines = []  # those not looked at by a wait

    def start_bridge(self):
        recording = os.path.join(self.home, f"run{len(self.recordings) + 1}.rec")
        self.recordings.append(recording)
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, QT_QPA_PLATFORM="offscreen",
                   TALTRIX_COM_USER_HIVE=os.path.join(self.runtime, "user.reg"),
                   TALTRIX_COM_MACHINE_HIVE=os.path.join(self.runtime, "machine.reg"))
        env.pop("TALTRIX_ANSWER", None)
        # The device's lines of an earlier run (its reconnections too) must
        # not pass for this bridge's connection.
        self.device_lines += self.drain(self.device)
        bridge = Process([TALTRIX, "--headless", "--home", self.home, "--record", recording,
                          "--bluetooth", f"emulator:ES16 Range@127.0.0.1:{self.device_port}",
                          "--tgc", f"127.0.0.1:{free_port()}"], env=env)
        self.addCleanup(bridge.stop)
        self.device.wait_for(lambda l: l.startswith("connected"), 3 * TICK)
        self.simulator_lines += self.simulator.lines_until(lambda l: l.startswith("connected"), 2 * TICK)
        return bridge

    def run_with_faults(self, seconds, faults, sample=None):
        """Lets shots flow for `seconds`, with faults[(at, what)] on the way
        ("simulator" or "device" dropped) and a resource sample every 2 s."""
        begun, pending, next_sample = time.monotonic(), sorted(faults), 0.0
        while (elapsed := time.monotonic() - begun) < seconds:
            if pending and elapsed >= pending[0][0]:
                what = pending.pop(0)[1]
                if what == "simulator":
                    self.drops.append(time.time())
                (self.simulator if what == "simulator" else self.device).tell("drop")
            if sample is not None and elapsed >= next_sample:
                sample.append((elapsed, *resources(sample.pid)))
                next_sample += 2
            self.simulator_lines += self.drain(self.simulator)
            time.sleep(0.1)

    @staticmethod
    def drain(process):
        """The lines of process that came meanwhile."""
        lines = []
        while not process.lines.empty():
            lines.append(process.lines.get_nowait())
        return lines

    def test_every_shot_is_accounted_for_over_two_minutes_of_faults(self):
        first = self.start_bridge()
        self.run_with_faults(25, [(8, "simulator"), (17, "device")])
        first.stop()  # a restart: the next run must number above this one
        self.assertEqual(first.process.returncode, 0)

        second = self.start_bridge()
        samples = Samples(second.process.pid)
        self.run_with_faults(80, [(12, "simulator"), (24, "device"), (36, "simulator"), (48, "device"),
                                  (60, "simulator"), (72, "device")], samples)
        second.stop()
        self.assertEqual(second.process.returncode, 0)
        self.simulator_lines += self.drain(self.simulator)

        framed = [shot for recording in self.recordings for shot in framed_shots(recording)]
        rows = history_rows(TALTRIX, self.home)
        self.assertGreater(len(framed), 500)

        # Every shot the framer cut out is kept, once, in order. A shot the
        # device's dropped link cut off is not one: the bridge forgets it at
        # the reconnection, where the rules above, which see no connections,
        # may close it with the "End" of the device's chatter.
        device_lines = self.device.seen + self.device_lines + self.drain(self.device)
        cut_off = {line.split(" ", 1)[1] for line in device_lines if line.startswith("cut-off ")}
        whole = [shot for shot in framed if shot.endswith("VER109End") and shot not in cut_off]
        self.assertEqual([(float(r["ball_speed_mph"]), int(r["back_spin"])) for r in rows],
                         [identity(shot) for shot in whole])

        # Every one says what became of it; those not sent fell while the
        # simulator was away.
        outcomes = {r["outcome"] for r in rows}
        self.assertLessEqual(outcomes, {"sent", "simulator not connected", "send failed"})
        away = [r for r in rows if r["outcome"] != "sent"]
        self.assertTrue(away, "no shot fell while the simulator was away: the faults did not bite")
        for row in away:
            self.assertEqual(row["delivered"], "no")
            self.assertTrue(self.near_a_drop(row, 0, AWAY_AT_MOST), row["time"])

        # The simulator saw each sent shot once, none it was not sent, and
        # no number twice or falling (it says BAD to those).
        bad = [line for line in self.simulator_lines if line.startswith("BAD")]
        self.assertEqual(bad, [])
        seen = [int(line.split(" ", 3)[2]) for line in self.simulator_lines if line.startswith("shot ok ")]
        sent = {int(r["shot_number"]): r for r in rows if r["outcome"] == "sent"}
        self.assertEqual(len(seen), len(set(seen)))
        self.assertLessEqual(set(seen), set(sent))
        # A shot sent just as the simulator dropped may die with its connection.
        for number in set(sent) - set(seen):
            self.assertTrue(self.near_a_drop(sent[number], IN_FLIGHT, IN_FLIGHT), sent[number]["time"])
        self.assertLess(len(set(sent) - set(seen)), len(self.drops) * 3)
        print(f"{len(framed)} shots framed ({len(framed) - len(whole)} cut off), {len(seen)} seen by the simulator, {len(away)} not sent, "
              f"{len(set(sent) - set(seen))} lost with a dropped connection", file=sys.stderr)

        samples.assert_flat(self)

    def near_a_drop(self, row, before, after):
        when = local_time(row["time"])
        return any(drop - before <= when <= drop + after for drop in self.drops)


def local_time(text):
    """Seconds since 1970 of the CSV's time, e.g. 2025-12-08T10:14:03.120+01:00."""
    return datetime.fromisoformat(text).timestamp()


class Samples(list):
    """(seconds into the run, RSS KiB, open fds) of one taltrix."""

    def __init__(self, pid):
        super().__init__()
        self.pid = pid
        # AddressSanitizer holds freed blocks in its quarantine (256 MiB by
        # default), so a sanitized bridge's RSS climbs by design; its leaks
        # are LeakSanitizer's to find at exit.
        with open(f"/proc/{pid}/maps") as maps:
            self.sanitized = "libasan" in maps.read()

    def assert_flat(self, test):
        # The first samples include start-up; compare the settled start
        # with the end.
        start = [s for s in self if 8 <= s[0] < 20]
        end = [s for s in self if s[0] >= self[-1][0] - 12]
        test.assertTrue(start and end, self)
        rss_start, rss_end = statistics.median(s[1] for s in start), statistics.median(s[1] for s in end)
        fds_start, fds_end = min(s[2] for s in start), min(s[2] for s in end)
        print(f"taltrix RSS {rss_start:.0f} -> {rss_end:.0f} KiB, fds {fds_start} -> {fds_end}", file=sys.stderr)
        if not self.sanitized:
            test.assertLess(rss_end - rss_start, RSS_GROWTH_KIB, self)
        test.assertLessEqual(fds_end - fds_start, FD_GROWTH, self)


if __name__ == "__main__":
    unittest.main()
