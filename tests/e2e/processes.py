"""Helpers the end-to-end tests share: child processes whose output lines
are collected in the background, to be waited on, throwaway certificates
for the TLS peers, the control registered in a registry of a test's own,
and a bridge's shot history as its CSV export gives it."""

import csv
import io
import os
import queue
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest


def free_port():
    """A loopback port nobody listens on at the moment."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop_process(process):
    """Stops a child that may still run: SIGTERM, and SIGKILL after 10 s."""
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def history_rows(taltrix, home, at_least=0, timeout=10):
    """The rows of the shot history in home, as taltrix --export-csv writes
    them, once it holds at_least of them (the bridge stores shots on a
    thread of its own) or timeout seconds have gone."""
    deadline = time.monotonic() + timeout
    while True:
        done = subprocess.run([taltrix, "--home", home, "--export-csv", "-"], capture_output=True, text=True,
                              timeout=60, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        if done.returncode != 0:
            raise AssertionError(done.stderr)
        rows = list(csv.DictReader(io.StringIO(done.stdout)))
        if len(rows) >= at_least or time.monotonic() > deadline:
            return rows
        time.sleep(0.2)


class HeldPort:
    """A loopback port bound but not listened on until released: a connection
    to it is refused as to a free port, and nothing else can take it meanwhile."""

    def __init__(self):
        self._socket = socket.socket()
        self._socket.bind(("127.0.0.1", 0))
        self.port = self._socket.getsockname()[1]

    def release(self):
        self._socket.close()


def start_tgc_after_the_device(bridge, tgc_port, start_tgc, tick):
    """For a bridge that has just said "Connected to ES16": releases the
    HeldPort tgc_port, starts TGC on it with start_tgc and returns what that
    returns once the bridge says "TGC connected". The device's connection
    reopens the TGC link; had TGC been listening before, the greeting of the
    connection so closed could be the "TGC connected" seen while the new one
    is still being opened, and a shot sent then is not sent at all. Started
    after, TGC has one connection, and the greeting is its own."""
    tgc_port.release()
    tgc = start_tgc()
    bridge.wait_for(lambda l: l == "TGC connected", 2 * tick)
    return tgc


class Process:
    """A child whose output lines are collected by a thread, to wait on."""

    def __init__(self, args, env=None, with_stderr=False, executable=None):
        # with_stderr: the standard error lines (taltrix reports its message
        # boxes there) join the output lines, in the order they were written.
        # executable: the program to run, when args[0] is to say another.
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT if with_stderr else subprocess.PIPE,
                                        env=env, text=True, encoding="latin-1", executable=executable)
        self.lines = queue.Queue()
        self.seen = []
        # A child's standard error, when kept apart, is drained too: one that
        # writes more than a pipe holds would otherwise stall in its write.
        self.errors = []
        self._readers = [threading.Thread(target=self._read, daemon=True)]
        if not with_stderr:
            self._readers.append(threading.Thread(target=self._drain_stderr, daemon=True))
        for reader in self._readers:
            reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def _drain_stderr(self):
        for line in self.process.stderr:
            self.errors.append(line.rstrip("\n"))

    def tell(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def wait_for(self, predicate, timeout):
        """The first line from now on that satisfies predicate, within timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                errors = f"; its standard error: {self.errors[-8:]}" if self.errors else ""
                raise AssertionError(f"nothing matching within {timeout} s; recent: {self.seen[-8:]}{errors}")
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
        stop_process(self.process)
        try:
            self.process.stdin.close()
        except OSError:
            pass  # the last buffered command, to a child that has gone
        # A grandchild that inherited the output keeps its pipe open; a pipe
        # still being read is left to the reader, which closing would block.
        for reader, stream in zip(self._readers, (self.process.stdout, self.process.stderr)):
            reader.join(timeout=5)
            if not reader.is_alive():
                stream.close()


class ThrowawayPki:
    """A certificate authority made for one test, and a server certificate it
    issued for 127.0.0.1 and localhost, made with the openssl command in folder."""

    CA_NAME = "Taltrix Test Root"
    SERVER_NAME = "127.0.0.1"

    def __init__(self, folder):
        self.folder = folder
        self.ca_key = os.path.join(folder, "ca.key")
        self.ca = os.path.join(folder, "ca.pem")
        self.key = os.path.join(folder, "server.key")
        self.cert = os.path.join(folder, "server.pem")
        request = os.path.join(folder, "server.csr")
        extensions = os.path.join(folder, "server.ext")
        with open(extensions, "w") as f:
            f.write("subjectAltName = IP:127.0.0.1, DNS:localhost\n"
                    "basicConstraints = critical, CA:FALSE\n"
                    "keyUsage = critical, digitalSignature\n"
                    "extendedKeyUsage = serverAuth\n")
        key_options = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
        self._openssl("req", "-x509", *key_options, "-keyout", self.ca_key, "-out", self.ca, "-days", "2",
                      "-subj", f"/O=Taltrix Tests/CN={self.CA_NAME}",
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        self._openssl("req", *key_options, "-keyout", self.key, "-out", request,
                      "-subj", f"/O=Taltrix Tests/CN={self.SERVER_NAME}")
        self._openssl("x509", "-req", "-in", request, "-CA", self.ca, "-CAkey", self.ca_key, "-CAcreateserial",
                      "-out", self.cert, "-days", "2", "-extfile", extensions)
        # The server certificate followed by the CA's, for a server that sends its root too.
        self.chain = os.path.join(folder, "server-chain.pem")
        with open(self.chain, "w") as chain:
            for part in (self.cert, self.ca):
                with open(part) as f:
                    chain.write(f.read())

    def _openssl(self, *args):
        done = subprocess.run(["openssl", *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"openssl {args[0]} failed: {done.stderr.strip()}")

    def issue_client(self, name, common_name, key_type="ec"):
        """A client certificate from the CA, for common_name: returns the paths
        of its certificate and its (unencrypted PEM) key, name.pem and name.key."""
        key = os.path.join(self.folder, name + ".key")
        cert = os.path.join(self.folder, name + ".pem")
        request = os.path.join(self.folder, name + ".csr")
        extensions = os.path.join(self.folder, name + ".ext")
        with open(extensions, "w") as f:
            f.write("basicConstraints = critical, CA:FALSE\n"
                    "keyUsage = critical, digitalSignature\n"
                    "extendedKeyUsage = clientAuth\n")
        key_options = (["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"] if key_type == "ec"
                       else ["-newkey", "rsa:2048"])
        self._openssl("req", *key_options, "-nodes", "-keyout", key, "-out", request,
                      "-subj", f"/O=Taltrix Tests/CN={common_name}")
        self._openssl("x509", "-req", "-in", request, "-CA", self.ca, "-CAkey", self.ca_key, "-CAcreateserial",
                      "-out", cert, "-days", "2", "-extfile", extensions)
        return cert, key

    def put_ca(self, location_folder, store="Root", form="PEM"):
        """Places the CA certificate in a store (a subfolder of a location's folder)."""
        folder = os.path.join(location_folder, store)
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "taltrix-test-ca." + ("der" if form == "DER" else "pem"))
        self._openssl("x509", "-in", self.ca, "-outform", form, "-out", target)
        return target


def registered_control_env(folder, base=None):
    """An environment whose component registry lives in `folder`, with the
    control (MORVANE_LIBRARY) registered there by comreg."""
    env = dict(base if base is not None else os.environ,
               TALTRIX_COM_MACHINE_HIVE=os.path.join(folder, "machine.reg"),
               TALTRIX_COM_USER_HIVE=os.path.join(folder, "user.reg"))
    subprocess.run([os.environ["COMREG"], "register", os.environ["MORVANE_LIBRARY"]], env=env, check=True,
                   capture_output=True)
    return env


class RegisteredControlCase(unittest.TestCase):
    """Tests that drive the control through the morvane tool, with a registry
    of their own for the whole class."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="morvane-")
        cls.env = registered_control_env(cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def run_morvane(self, *args):
        return subprocess.run([os.environ["MORVANE"], *args], env=self.env, capture_output=True, text=True,
                              timeout=30)
