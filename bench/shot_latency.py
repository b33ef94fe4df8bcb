#!/usr/bin/python3
"""The time Taltrix adds to a shot.

Measures, for each shot, the time from the device side writing a shot
message (one write) to the TGC side having read the whole launch message, with
taltrix --headless between the two; then the same with the device side wired
straight to the TGC side (a socket pair carrying the shot itself). Prints one
JSON line with the medians and 99th percentiles (nearest rank) of both paths
and what Taltrix adds.

With --feed-clients 0,1,32 it measures the shot feed instead: the same
bridged shots with the feed off, then on with each number of live clients
connected to /api/live and reading, and prints what the feed adds to the
median and 99th percentile of the shot road for each. With live clients it
also measures how long a shot takes from the device's write to the first
client (the history stores each before the feed has it, so this includes
the history's disk sync). These runs leave 3 ms between shots, as play
leaves seconds.

Usage: shot_latency.py TALTRIX [--shots N] [--feed-clients N,N,...]
"""

import argparse
import json
import math
import os
import select
import shutil
import socket
import subprocess
import tempfile
import threading
import time

SHOT = ("ES16Prt001CS093.0BS{speed:05.1f}CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0"
        "AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End\r\n")
READY = b'{"protocol":"HXSDK", "INFO":{"status":"203"}}\r\n'


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(fraction * len(ordered)) - 1)]


def read_line(sock, pending):
    """Reads until CR LF; returns the line and what followed it."""
    while b"\r\n" not in pending:
        chunk = sock.recv(65536)
        if not chunk:
            raise RuntimeError("connection closed")
        pending += chunk
    line, _, rest = pending.partition(b"\r\n")
    return line, rest


def timed_shots(device, tgc, shots, check, gap=0.0, starts=None):
    samples, pending = [], b""
    for i in range(shots):
        message = SHOT.format(speed=100 + (i % 500) / 10).encode()
        if gap:
            time.sleep(gap)
        # The device's write is counted in both paths alike.
        start = time.perf_counter_ns()
        device.sendall(message)
        line, pending = read_line(tgc, pending)
        samples.append((time.perf_counter_ns() - start) / 1000.0)
        if starts is not None:
            starts.append(start)
        check(line, message)
    return samples


class LiveClients:
    """N clients of /api/live on a thread of their own, each reading every
    message; the arrival times of the first one's shot messages are kept."""

    def __init__(self, port, count):
        import asyncio
        import websockets
        self.arrivals = []
        self.arrived = threading.Condition()
        self.ready = threading.Event()
        self.failure = None

        async def client(index):
            async with websockets.connect(f"ws://127.0.0.1:{port}/api/live", max_queue=None) as ws:
                await ws.recv()  # the status
                self.connected += 1
                if self.connected == count:
                    self.ready.set()
                async for message in ws:
                    if index == 0 and message.startswith('{"type":"shot"'):
                        with self.arrived:
                            self.arrivals.append(time.perf_counter_ns())
                            self.arrived.notify_all()

        async def run():
            try:
                await asyncio.gather(*(client(i) for i in range(count)))
            except Exception as error:  # a client that fails spoils the run
                self.failure = error
                self.ready.set()

        self.connected = 0
        threading.Thread(target=lambda: asyncio.run(run()), daemon=True).start()
        if not self.ready.wait(30) or self.failure:
            raise RuntimeError(f"live clients did not connect: {self.failure}")

    def wait_for(self, count):
        with self.arrived:
            if not self.arrived.wait_for(lambda: len(self.arrivals) >= count, 30):
                raise RuntimeError("a shot never reached the live client")
            return self.arrivals[count - 1]


def through_taltrix(taltrix, shots, feed_port=0, live=0, pushes=None, gap=0.0):
    device_server = socket.create_server(("127.0.0.1", 0))
    tgc_server = socket.create_server(("127.0.0.1", 0))
    home = tempfile.mkdtemp(prefix="taltrix-bench-")
    with open(os.path.join(home, "Settings.pgs"), "w") as f:
        f.write(f"[Feed]\nPort={feed_port}\n")
    env = dict(os.environ, XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="offscreen")
    process = subprocess.Popen(
        [taltrix, "--headless", "--home", home,
         "--bluetooth", f"emulator:ES16@127.0.0.1:{device_server.getsockname()[1]}",
         "--tgc", f"127.0.0.1:{tgc_server.getsockname()[1]}"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    try:
        device_server.settimeout(30)
        tgc_server.settimeout(30)
        device, _ = device_server.accept()
        # The bridge opens TGC once the device is up; the first timer tick
        # may open it too, so take the last connection that arrives.
        tgc, _ = tgc_server.accept()
        tgc_server.settimeout(2)
        try:
            while True:
                newer, _ = tgc_server.accept()
                tgc.close()
                tgc = newer
        except socket.timeout:
            pass
        for s in (device, tgc):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        tgc.sendall(READY)
        time.sleep(0.5)

        def check(line, message):
            speed = message[message.index(b"BS") + 2:message.index(b"CD")]
            if b'"ballSpeedMPH":"' + speed + b'"' not in line:
                raise RuntimeError(f"unexpected launch message {line[:80]!r}")
        clients = LiveClients(feed_port, live) if live else None
        starts = []
        samples = timed_shots(device, tgc, shots, check, gap, starts)
        if clients is not None and pushes is not None:
            for i, start in enumerate(starts):
                pushes.append((clients.wait_for(i + 1) - start) / 1000.0)
        return samples
    finally:
        process.terminate()
        process.wait(timeout=10)
        shutil.rmtree(home, ignore_errors=True)


def wired_straight(shots):
    a = socket.create_server(("127.0.0.1", 0))
    device = socket.create_connection(a.getsockname())
    tgc, _ = a.accept()
    for s in (device, tgc):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def check(line, message):
        if line + b"\r\n" != message:
            raise RuntimeError("shot changed on the wire")
    return timed_shots(device, tgc, shots, check)


# Shots in play come seconds apart; the feed's runs leave this much between
# them, so that the history (a disk sync each) keeps up and no client falls
# behind the feed's bounded queue, as in play.
FEED_GAP = 0.003


def feed_costs(taltrix, shots, counts):
    off = through_taltrix(taltrix, shots, gap=FEED_GAP)
    result = {"shots": shots, "feed_off_median_us": round(percentile(off, 0.5), 1),
              "feed_off_p99_us": round(percentile(off, 0.99), 1)}
    for count in counts:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        pushes = []
        on = through_taltrix(taltrix, shots, feed_port=port, live=count, pushes=pushes, gap=FEED_GAP)
        result[f"clients_{count}"] = {
            "median_us": round(percentile(on, 0.5), 1),
            "added_median_us": round(percentile(on, 0.5) - percentile(off, 0.5), 1),
            "added_p99_us": round(percentile(on, 0.99) - percentile(off, 0.99), 1),
        }
        if pushes:
            result[f"clients_{count}"]["push_median_us"] = round(percentile(pushes, 0.5), 1)
            result[f"clients_{count}"]["push_p99_us"] = round(percentile(pushes, 0.99), 1)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("taltrix")
    parser.add_argument("--shots", type=int, default=1000)
    parser.add_argument("--feed-clients", metavar="N,N,...",
                        help="measure the shot feed with these numbers of live clients (e.g. 0,1,32)")
    args = parser.parse_args()
    if args.feed_clients:
        counts = [int(n) for n in args.feed_clients.split(",")]
        if any(n < 0 or n > 32 for n in counts):
            parser.error("--feed-clients takes numbers from 0 to 32")
        print(json.dumps(feed_costs(args.taltrix, args.shots, counts)))
        return
    direct = wired_straight(args.shots)
    bridged = through_taltrix(args.taltrix, args.shots)
    result = {
        "shots": args.shots,
        "direct_median_us": round(percentile(direct, 0.5), 1),
        "direct_p99_us": round(percentile(direct, 0.99), 1),
        "taltrix_median_us": round(percentile(bridged, 0.5), 1),
        "taltrix_p99_us": round(percentile(bridged, 0.99), 1),
    }
    result["added_median_us"] = round(result["taltrix_median_us"] - result["direct_median_us"], 1)
    result["added_p99_us"] = round(result["taltrix_p99_us"] - result["direct_p99_us"], 1)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
