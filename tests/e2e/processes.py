"""Helpers the end-to-end tests share: child processes whose output lines
are collected in the background, to be waited on."""

import queue
import signal
import socket
import subprocess
import threading
import time


def free_port():
    """A loopback port nobody listens on at the moment."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Process:
    """A child whose output lines are collected by a thread, to wait on."""

    def __init__(self, args, env=None):
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env, text=True, encoding="latin-1")
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def tell(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def wait_for(self, predicate, timeout):
        """The first line from now on that satisfies predicate, within timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"nothing matching within {timeout} s; recent: {self.seen[-8:]}")
            try:
                line = self.lines.get(timeout=remaining)
            except queue.Empty:
                continue
            self.seen.append(line)
            if predicate(line):
                return line

    def lines_until(self, predicate, timeout):
        """Every line from now on up to and including the first that satisfies predicate."""
        start = len(self.seen)
        self.wait_for(predicate, timeout)
        return self.seen[start:]

    def quiet_for(self, predicate, seconds):
        """True when no line satisfying predicate arrives for the given time."""
        try:
            self.wait_for(predicate, seconds)
        except AssertionError:
            return True
        return False

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
