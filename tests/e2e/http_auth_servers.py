"""Real HTTP servers from Debian in front of the plain WebSocket echo server,
for the authentication tests: Apache (mod_auth_basic, mod_auth_digest,
mod_auth_gssapi, mod_proxy_wstunnel) and lighttpd (mod_auth, mod_proxy with
upgrade). Each runs from a configuration written into a folder of the test's
own, listens on 127.0.0.1 with a port from 0, and is stopped with the test."""

import base64
import hashlib
import json
import os
import queue
import shutil
import socket
import subprocess
import threading
import time

from processes import free_port, stop_process

HERE = os.path.dirname(os.path.abspath(__file__))
ECHO_SERVER = os.path.join(HERE, "testdata", "ws_echo_server.py")
APACHE_MODULES = "/usr/lib/apache2/modules"
REALM = "Morvane Tests"


def missing_programs(*names):
    search = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
    return [name for name in names if shutil.which(name, path=search) is None]


def wait_for_port(port, process, log, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            break
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("the server did not start: " + tail(log))


def tail(path, size=3000):
    try:
        with open(path, errors="replace") as f:
            return f.read()[-size:]
    except OSError:
        return ""


class EchoBackend:
    """The python3-websockets echo server, and the Authorization values that
    reached it through the proxy, one per connection."""

    def __init__(self):
        self.process = subprocess.Popen(["/usr/bin/python3", ECHO_SERVER], stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())
        self._seen = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self._seen.put(json.loads(line)["authorization"])

    def authorizations(self, expected=0):
        """What arrived since the last call, waiting a little for `expected`
        values: the backend reports a connection on its own time."""
        out = []
        deadline = time.monotonic() + 5
        while True:
            try:
                out.append(self._seen.get(timeout=max(0, deadline - time.monotonic()) if len(out) < expected else 0))
            except queue.Empty:
                return out

    def stop(self):
        stop_process(self.process)


def prepare_folder(folder):
    # Apache gives up root for nobody before it reads a request, and must
    # still read the keytab and the password files.
    os.chmod(folder, 0o755)


def write_file(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)
    return path


class Apache:
    """apache2 in the foreground on a configuration of its own. `locations`
    maps a path ("/basic/") to the authentication directives of that
    location; each location proxies WebSocket connections to the backend.
    With `tls` (certificate and key files) it serves TLS only."""

    MODULES = ("mpm_event", "authn_core", "authn_file", "authz_core", "authz_user", "auth_basic", "auth_digest",
               "auth_gssapi", "proxy", "proxy_http", "proxy_wstunnel")

    def __init__(self, folder, backend_port, locations, environment=None, tls=None):
        self.folder = folder
        self.scheme = "wss" if tls else "ws"
        self.port = free_port()
        self.log = os.path.join(folder, "apache-error.log")
        prepare_folder(folder)
        lines = [f'ServerRoot "{folder}"', f"Listen 127.0.0.1:{self.port}", "ServerName localhost",
                 f"PidFile {folder}/apache.pid", f"DefaultRuntimeDir {folder}", f"Mutex file:{folder} default",
                 f"ErrorLog {self.log}", "LogLevel warn auth_gssapi:debug auth_digest:info",
                 # One connection carries every round of an NTLM exchange.
                 "KeepAlive On", "MaxKeepAliveRequests 100", "KeepAliveTimeout 15",
                 "StartServers 1", "ServerLimit 2", "ThreadsPerChild 8", "ThreadLimit 8", "MaxRequestWorkers 16"]
        modules = self.MODULES + (("socache_shmcb", "ssl") if tls else ())
        lines += [f"LoadModule {name}_module {APACHE_MODULES}/mod_{name}.so" for name in modules]
        if tls:
            lines += ["SSLEngine on", f"SSLCertificateFile {tls[0]}", f"SSLCertificateKeyFile {tls[1]}"]
        if os.geteuid() == 0:
            lines += ["User nobody", "Group nogroup"]
        for path, directives in locations.items():
            lines += [f"<Location {path}>", *directives, "Require valid-user",
                      f"ProxyPass ws://127.0.0.1:{backend_port}/", "</Location>"]
        config = write_file(os.path.join(folder, "apache.conf"), "\n".join(lines) + "\n")
        self.process = subprocess.Popen(["apache2", "-f", config, "-DFOREGROUND"], env=environment,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        try:
            wait_for_port(self.port, self.process, self.log)
        except BaseException:
            self.stop()
            raise

    def url(self, path, host="127.0.0.1"):
        return f"{self.scheme}://{host}:{self.port}{path}"

    def stop(self):
        stop_process(self.process)


class Lighttpd:
    """lighttpd in the foreground with mod_auth over a plain user file, in
    front of the backend through mod_proxy with upgrades allowed."""

    def __init__(self, folder, backend_port, user, password):
        self.port = free_port()
        self.log = os.path.join(folder, "lighttpd-error.log")
        users = write_file(os.path.join(folder, "lighttpd.users"), f"{user}:{password}\n")
        lines = [f'server.document-root = "{folder}"', f"server.port = {self.port}", 'server.bind = "127.0.0.1"',
                 f'server.errorlog = "{self.log}"', f'server.pid-file = "{folder}/lighttpd.pid"',
                 'server.modules += ("mod_auth", "mod_authn_file", "mod_proxy")',
                 'auth.backend = "plain"', f'auth.backend.plain.userfile = "{users}"',
                 'auth.require = ("/basic/" => ("method" => "basic", "realm" => "' + REALM + '", '
                 '"require" => "valid-user"), "/digest/" => ("method" => "digest", "realm" => "' + REALM + '", '
                 '"require" => "valid-user"))',
                 f'proxy.server = ("" => (("host" => "127.0.0.1", "port" => {backend_port})))',
                 'proxy.header = ("upgrade" => "enable")']
        config = write_file(os.path.join(folder, "lighttpd.conf"), "\n".join(lines) + "\n")
        self.process = subprocess.Popen(["lighttpd", "-D", "-f", config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.STDOUT)
        try:
            wait_for_port(self.port, self.process, self.log)
        except BaseException:
            self.stop()
            raise

    def url(self, path):
        return f"ws://127.0.0.1:{self.port}{path}"

    def stop(self):
        stop_process(self.process)


def htpasswd_line(user, password):
    """A user file line in Apache's {SHA} form."""
    return f"{user}:{{SHA}}{base64.b64encode(hashlib.sha1(password.encode()).digest()).decode()}\n"


def htdigest_line(user, password, realm=REALM):
    return f"{user}:{realm}:{hashlib.md5(f'{user}:{realm}:{password}'.encode()).hexdigest()}\n"
