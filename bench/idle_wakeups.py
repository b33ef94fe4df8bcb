#!/usr/bin/python3
"""How often an idle, connected Morvane or Taltrix wakes up.

An idle program that wakes for nothing costs battery and steals the CPU from
others, and no throughput figure shows it. This script brings each program
up with every link connected and nothing to carry, then counts its wake-ups
over a window: the voluntary and involuntary context switches of all its
threads (/proc/PID/task/*/status), sampled every second so that threads that
come and go are counted too. With strace installed, a second window of
strace -f -c counts its system calls (not during the first: a tracer adds
switches of its own).

  morvane        an interactive morvane session connected to
                 websocket_bench_server, standard input open and silent
  taltrix-tgc    taltrix --headless, the emulated ES16 and TGC connected
  taltrix-relay  taltrix --headless, the emulated ES16 connected and signed in
                 to the relay emulator (ws) through the Morvane control

Prints one JSON line per process: process, seconds, wakeups, wakeups_per_s,
expected_per_s (from the timers the code runs when idle, see TIMERS), the
wake-ups per connection tick, per thread, and the system calls.

Usage: idle_wakeups.py BUILD_DIR [--seconds N] [--strace-seconds N] [--only NAME,...]
"""

import argparse
import glob
import json
import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EMULATORS = os.path.join(SOURCE, "tools", "emulators")
PROCESSES = ("morvane", "taltrix-tgc", "taltrix-relay")
# Taltrix's four timers (bridge/app/app_core.h) and whether each runs once
# every link is up and nothing moves: the connection check always runs; the
# Bluetooth light blinks only while the ES16 is being found or is lost; the
# receive and transmit lights blink once after traffic, then stop.
TIMERS = [("Timer_check_Connection", 4.5, True), ("Timer_BT", 0.35, False), ("Timer_RX", 0.8, False),
               ("Timer_TX", 1.4, False)]
TICK = 4.5


class Child:
    """A child process whose output lines a thread collects; its standard
    input stays open and silent (the emulators end when it closes)."""

    def __init__(self, args, env=None):
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, env=env, text=True, encoding="latin-1")
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_for(self, predicate, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(deadline - time.monotonic(), 0.01))
            except queue.Empty:
                continue
            if predicate(line):
                return line
        raise RuntimeError(f"{self.process.args[0]}: nothing expected within {timeout} s")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def switches(pid):
    """{tid: (thread name, context switches so far)} for a process."""
    counts = {}
    for task in glob.glob(f"/proc/{pid}/task/*"):
        try:
            with open(os.path.join(task, "status")) as f:
                fields = dict(line.split(":", 1) for line in f if ":" in line)
            counts[os.path.basename(task)] = (fields["Name"].strip(), int(fields["voluntary_ctxt_switches"]) +
                                              int(fields["nonvoluntary_ctxt_switches"]))
        except (OSError, KeyError, ValueError):
            pass  # the thread has just ended
    return counts


def count_wakeups(pids, seconds):
    """Context switches of each process over the window, per thread name."""
    first = {pid: switches(pid) for pid in pids}
    last = {pid: dict(counts) for pid, counts in first.items()}
    end = time.monotonic() + seconds
    while (left := end - time.monotonic()) > 0:
        time.sleep(min(1.0, left))
        for pid in pids:
            last[pid].update(switches(pid))
    result = {}
    for pid in pids:
        threads = {}
        for tid, (name, count) in last[pid].items():
            threads[name] = threads.get(name, 0) + count - first[pid].get(tid, (name, 0))[1]
        result[pid] = threads
    return result


def count_syscalls(pids, seconds, folder):
    """System calls per process over a window of strace -f -c; None without strace."""
    if not shutil.which("strace") or seconds <= 0:
        return {}
    tracers = {pid: subprocess.Popen(["strace", "-f", "-c", "-o", os.path.join(folder, f"strace-{pid}"),
                                      "-p", str(pid)], stderr=subprocess.DEVNULL) for pid in pids}
    time.sleep(seconds)
    result = {}
    for pid, tracer in tracers.items():
        tracer.send_signal(signal.SIGINT)
        tracer.wait(timeout=10)
        calls = {}
        with open(os.path.join(folder, f"strace-{pid}")) as f:
            for line in f:
                words = line.split()
                if len(words) >= 5 and words[0][0].isdigit() and words[-1] != "total":
                    calls[words[-1]] = int(words[3])
        result[pid] = calls
    return result


def register_control(build, home):
    env = dict(os.environ, TALTRIX_COM_MACHINE_HIVE=os.path.join(home, "machine-classes.reg"),
               TALTRIX_COM_USER_HIVE=os.path.join(home, "user-classes.reg"),
               TALTRIX_CERT_USER_DIR=os.path.join(home, "certs-user"),
               TALTRIX_CERT_MACHINE_DIR=os.path.join(home, "certs-machine"),
               XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="offscreen")
    subprocess.run([os.path.join(build, "tools/comreg/comreg"), "register", "--user",
                    os.path.join(build, "control/com/libmorvane.so")], env=env, check=True, capture_output=True)
    return env


def start_morvane(build, home, children):
    env = register_control(build, home)
    server = Child([os.path.join(build, "bench/websocket_bench_server"), "0"])
    children.append(server)
    port = server.wait_for(lambda l: l.startswith("listening")).split()[1]
    morvane = Child([os.path.join(build, "tools/morvane/morvane"), f"ws://127.0.0.1:{port}/"], env)
    children.append(morvane)
    morvane.wait_for(lambda l: l.startswith('{"event":"Connected"'))
    return morvane


def start_taltrix(build, home, children, relay):
    env = register_control(build, home)

    def emulator(script):
        child = Child(["/usr/bin/python3", os.path.join(EMULATORS, script), "--port", "0"])
        children.append(child)
        return child.wait_for(lambda l: l.startswith("listening")).split()[2]
    device_port = emulator("es16_emulator.py")
    if relay:
        with open(os.path.join(home, "Settings.pgs"), "w", newline="") as settings:
            settings.write("[Software]\r\nHalvexPlay_key=IDLE\r\nSim_software=HalvexPlay\r\n")
        link = ["--relay-url", f"ws://127.0.0.1:{emulator('relay_emulator.py')}"]
        up = {"Connected to ES16", "HalvexPlay connection established."}
    else:
        link = ["--tgc", f"127.0.0.1:{emulator('tgc_emulator.py')}"]
        up = {"Connected to ES16", "TGC connected"}
    taltrix = Child([os.path.join(build, "bridge/taltrix"), "--headless", "--home", home,
                     "--bluetooth", f"emulator:ES16 Idle@127.0.0.1:{device_port}", *link], env)
    children.append(taltrix)
    # The first connection tick comes 4.5 s after start-up; the simulator
    # link follows the device's.
    while up:
        up.discard(taltrix.wait_for(lambda l: l in up, 4 * TICK))
    return taltrix


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--strace-seconds", type=float, default=10, help="0: no system call count")
    parser.add_argument("--only", default=",".join(PROCESSES), help="comma-separated: " + ", ".join(PROCESSES))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    names = [n for n in args.only.split(",") if n]
    if unknown := set(names) - set(PROCESSES):
        parser.error(f"unknown process {', '.join(sorted(unknown))}")
    folder = tempfile.mkdtemp(prefix="idle-wakeups-")
    children = []
    try:
        pids = {}
        for name in names:
            home = os.path.join(folder, name)
            os.makedirs(home)
            child = (start_morvane(build, home, children) if name == "morvane"
                     else start_taltrix(build, home, children, relay=name == "taltrix-relay"))
            pids[name] = child.process.pid
        time.sleep(2)  # what connecting set off has settled
        wakeups = count_wakeups(list(pids.values()), args.seconds)
        syscalls = count_syscalls(list(pids.values()), args.strace_seconds, folder)
        ended = [" ".join(c.process.args[:2]) for c in children if c.process.poll() is not None]
        if ended:
            raise RuntimeError("ended during the window: " + "; ".join(ended))
        for name, pid in pids.items():
            total = sum(wakeups[pid].values())
            line = {"process": name, "seconds": args.seconds, "wakeups": total,
                    "wakeups_per_s": round(total / args.seconds, 2)}
            if name == "morvane":
                # The control runs no timer while connected and idle, and the
                # server sends nothing: nothing should wake the session.
                line["expected_per_s"] = 0.0
            else:
                running = [t for t in TIMERS if t[2]]
                line["expected_per_s"] = round(sum(1 / period for _, period, _ in running), 3)
                line["timers"] = [{"timer": n, "period_s": p, "running": r, "expected_per_period": 1 if r else 0}
                                  for n, p, r in TIMERS]
                line["wakeups_per_connection_tick"] = round(total * TICK / args.seconds, 2)
            line["threads"] = {n: c for n, c in sorted(wakeups[pid].items(), key=lambda item: -item[1]) if c}
            if pid in syscalls:
                calls = syscalls[pid]
                line["syscalls_per_s"] = round(sum(calls.values()) / args.strace_seconds, 1)
                line["top_syscalls"] = dict(sorted(calls.items(), key=lambda item: -item[1])[:5])
            print(json.dumps(line), flush=True)
    finally:
        for child in reversed(children):
            child.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
