"""Taltrix --headless with its shot feed on, between a launch monitor and TGC
played by plain sockets of the test's own, so that shots can be sent as fast
as a test needs; and small clients of the feed (urllib, raw HTTP)."""

import json
import os
import shutil
import socket
import tempfile
import threading
import time
import urllib.error
import urllib.request

from processes import Process, free_port

SHOT = ("ES16Prt001CS093.0BS{speed:05.1f}CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0"
        "AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End\r\n")
READY = b'{"protocol":"HXSDK", "INFO":{"status":"203"}}\r\n'


def club_message(club):
    return ('{"protocol":"HXSDK", "INFO":{"status":"150", "playerClub":"%s"}}\r\n' % club).encode()


class FeedBridge:
    """taltrix --headless with [Feed] Port set, connected to a device socket
    and a TGC socket; TGC's lines are collected by a thread."""

    def __init__(self, feed_port=None, settings=""):
        self.home = tempfile.mkdtemp(prefix="taltrix-feed-")
        self.port = feed_port if feed_port is not None else free_port()
        with open(os.path.join(self.home, "Settings.pgs"), "w") as f:
            f.write(f"[Feed]\nPort={self.port}\n{settings}")
        self.device_server = socket.create_server(("127.0.0.1", 0))
        # TGC's port is held but not listened on until the device is
        # connected: that connection reopens TGC's link, and a shot sent
        # while the reopened link is still connecting would not be sent.
        self.tgc_server = socket.socket()
        self.tgc_server.bind(("127.0.0.1", 0))
        env = dict(os.environ, XDG_RUNTIME_DIR=self.home, QT_QPA_PLATFORM="offscreen")
        env.pop("TALTRIX_ANSWER", None)
        self.bridge = Process([os.environ["TALTRIX"], "--headless", "--home", self.home,
                               "--bluetooth", f"emulator:ES16@127.0.0.1:{self.device_server.getsockname()[1]}",
                               "--tgc", f"127.0.0.1:{self.tgc_server.getsockname()[1]}"], env=env)
        self.tgc_lines = []
        self.tgc_seen = threading.Condition()
        self.tgc = None
        self.tgc_all = []
        try:
            self.feed_line = self.bridge.wait_for(lambda l: "shot feed" in l.lower(), 20)
            self.device_server.settimeout(20)
            self.device, _ = self.device_server.accept()
            self.bridge.wait_for(lambda l: l == "Connected to ES16", 20)
            self.tgc_server.listen()
            threading.Thread(target=self._accept_tgc, daemon=True).start()
            self.bridge.wait_for(lambda l: l == "TGC connected", 20)
        except Exception:
            self.stop()
            raise

    def _accept_tgc(self):
        # Each connection is told TGC is ready, and the newest is the one in
        # use: a reconnected device reopens TGC's link.
        while True:
            try:
                tgc, _ = self.tgc_server.accept()
            except OSError:
                return
            tgc.sendall(READY)
            self.tgc = tgc
            self.tgc_all.append(tgc)
            threading.Thread(target=self._read_tgc, args=(tgc,), daemon=True).start()

    def _read_tgc(self, tgc):
        pending = b""
        while True:
            try:
                chunk = tgc.recv(65536)
            except OSError:
                return
            if not chunk:
                return
            pending += chunk
            *lines, pending = pending.split(b"\r\n")
            with self.tgc_seen:
                self.tgc_lines.extend(lines)
                self.tgc_seen.notify_all()

    def tell_tgc(self, data):
        self.tgc.sendall(data)

    def wait_tgc(self, count, timeout=20):
        with self.tgc_seen:
            if not self.tgc_seen.wait_for(lambda: len(self.tgc_lines) >= count, timeout):
                raise AssertionError(f"TGC has {len(self.tgc_lines)} of {count} shots")

    def shot(self, speed):
        self.device.sendall(SHOT.format(speed=speed).encode())

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def get(self, path, headers=None):
        """(status, JSON body) of a GET."""
        request = urllib.request.Request(self.url(path), headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=10) as answer:
                return answer.status, json.loads(answer.read().decode("utf-8"))
        except urllib.error.HTTPError as error:
            return error.code, json.loads(error.read().decode("utf-8"))

    def stop(self):
        self.bridge.stop()
        try:
            self.tgc_server.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        for s in (getattr(self, "device", None), *self.tgc_all, self.device_server, self.tgc_server):
            if s is not None:
                s.close()
        shutil.rmtree(self.home, ignore_errors=True)


def raw_exchange(port, data, timeout=10):
    """Sends bytes as they are and returns everything the feed answers until it closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        answer = b""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            answer += chunk
        return answer
