"""A throwaway MIT Kerberos realm on loopback, for tests that need a real KDC.

As a module:

    with KerberosRealm(users={"alice": "Secret-1"}, services=["HTTP/localhost"]) as realm:
        env = dict(os.environ, **realm.environment())
        realm.kinit("alice")          # fills the credential cache named by KRB5CCNAME

As a program (for tests written in other languages):

    python3 kerberos_realm.py [--user NAME:PASSWORD]... [--service PRINCIPAL]... [--realm NAME]

prints NAME=VALUE lines (KRB5_CONFIG, KRB5_KDC_PROFILE, KRB5_KTNAME, KRB5CCNAME, KRB5_REALM,
KRB5_KDC_PORT) and then "ready", and keeps the KDC up until its standard input closes or it
gets SIGTERM; then it stops the KDC and removes every file it made. A caller that dies
without a word closes that pipe, so no KDC is ever left behind.

Everything lives in one temporary folder: the configuration files, the database, the
keytab holding every service principal, the credential cache and the KDC's log.
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

DEFAULT_REALM = "MORVANE.TEST"


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class KerberosRealm:
    TOOLS = ("krb5kdc", "kdb5_util", "kadmin.local", "kinit")

    def __init__(self, users=None, services=(), realm=DEFAULT_REALM):
        self.realm = realm
        self.users = dict(users or {})
        self.services = list(services)
        self.folder = None
        self.port = None
        self._kdc = None

    @classmethod
    def missing_tools(cls):
        search = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
        return [t for t in cls.TOOLS if shutil.which(t, path=search) is None]

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def path(self, name):
        return os.path.join(self.folder, name)

    def environment(self):
        return {
            "KRB5_CONFIG": self.path("krb5.conf"),
            "KRB5_KDC_PROFILE": self.path("kdc.conf"),
            "KRB5_KTNAME": "FILE:" + self.path("services.keytab"),
            "KRB5CCNAME": "FILE:" + self.path("ccache"),
            "KRB5_REALM": self.realm,
            "KRB5_KDC_PORT": str(self.port),
        }

    def start(self):
        self.folder = tempfile.mkdtemp(prefix="krb5-realm-")
        try:
            self._create_database()
            # The port is free when chosen but another process may take it before the KDC
            # binds it; the KDC then gives up, and a new port is tried.
            for _ in range(5):
                self.port = _free_port()
                self._write_configuration()
                if self._start_kdc():
                    return
            raise RuntimeError("the KDC did not start: " + self._log_tail())
        except BaseException:
            self.stop()
            raise

    def stop(self):
        if self._kdc is not None:
            if self._kdc.poll() is None:
                self._kdc.terminate()
                try:
                    self._kdc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self._kdc.kill()
                    self._kdc.wait()
            self._kdc = None
        if self.folder is not None:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None

    def kinit(self, user, password=None):
        """Puts a ticket-granting ticket for user into the cache named by KRB5CCNAME."""
        self._run(["kinit", user], stdin=(password if password is not None else self.users[user]) + "\n")

    def _run(self, args, stdin=None):
        env = dict(os.environ, **self.environment())
        env["PATH"] = env.get("PATH", "") + ":/usr/sbin:/sbin"
        done = subprocess.run(args, input=stdin, env=env, text=True, capture_output=True, timeout=30)
        if done.returncode != 0:
            raise RuntimeError(f"{args[0]} failed: {(done.stderr or done.stdout).strip()}")
        return done.stdout

    def _kadmin(self, query):
        self._run(["kadmin.local", "-r", self.realm, "-q", query])

    def _create_database(self):
        # Port 0 until the KDC is started: the database tools do not listen anywhere.
        self.port = 0
        self._write_configuration()
        with open(self.path("kadm5.acl"), "w") as f:
            f.write("")
        master = "master-" + os.urandom(8).hex()
        self._run(["kdb5_util", "create", "-s", "-r", self.realm, "-P", master])
        for user, password in self.users.items():
            self._kadmin(f"addprinc -pw {password} {user}")
        for service in self.services:
            self._kadmin(f"addprinc -randkey {service}")
            self._kadmin(f"ktadd -k {self.path('services.keytab')} {service}")

    def _write_configuration(self):
        realm, port, folder = self.realm, self.port, self.folder
        with open(self.path("krb5.conf"), "w") as f:
            f.write(f"""[libdefaults]
    default_realm = {realm}
    dns_lookup_kdc = false
    dns_lookup_realm = false
    dns_canonicalize_hostname = false
    rdns = false
    udp_preference_limit = 1
    default_ccache_name = FILE:{folder}/ccache
    default_keytab_name = FILE:{folder}/services.keytab

[realms]
    {realm} = {{
        kdc = 127.0.0.1:{port}
    }}

[domain_realm]
    localhost = {realm}
    127.0.0.1 = {realm}
""")
        with open(self.path("kdc.conf"), "w") as f:
            f.write(f"""[kdcdefaults]
    kdc_listen = 127.0.0.1:{port}
    kdc_tcp_listen = 127.0.0.1:{port}

[realms]
    {realm} = {{
        database_name = {folder}/principal
        key_stash_file = {folder}/stash
        acl_file = {folder}/kadm5.acl
        kdc_listen = 127.0.0.1:{port}
        kdc_tcp_listen = 127.0.0.1:{port}
        max_life = 1h
        max_renewable_life = 1h
    }}

[logging]
    kdc = FILE:{folder}/kdc.log
""")

    def _start_kdc(self):
        log = self.path("kdc.log")
        if os.path.exists(log):
            os.remove(log)
        env = dict(os.environ, **self.environment())
        kdc = shutil.which("krb5kdc", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
        self._kdc = subprocess.Popen([kdc, "-n", "-r", self.realm], env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self._kdc.poll() is not None:
                break
            if "commencing operation" in self._log_tail():
                if self._accepts():
                    return True
                break
            time.sleep(0.02)
        if self._kdc.poll() is None:
            self._kdc.kill()
        self._kdc.wait()
        self._kdc = None
        return False

    def _accepts(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=2):
                return True
        except OSError:
            return False

    def _log_tail(self):
        try:
            with open(self.path("kdc.log")) as f:
                return f.read()[-2000:]
        except OSError:
            return ""


def main():
    parser = argparse.ArgumentParser(description="Run a throwaway Kerberos realm until stdin closes.")
    parser.add_argument("--realm", default=DEFAULT_REALM)
    parser.add_argument("--user", action="append", default=[], metavar="NAME:PASSWORD")
    parser.add_argument("--service", action="append", default=[], metavar="PRINCIPAL")
    options = parser.parse_args()

    missing = KerberosRealm.missing_tools()
    if missing:
        print("missing=" + " ".join(missing), flush=True)
        return 3

    users = dict(u.split(":", 1) for u in options.user)
    realm = KerberosRealm(users=users, services=options.service, realm=options.realm)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        realm.start()
        for name, value in realm.environment().items():
            print(f"{name}={value}")
        print("ready", flush=True)
        sys.stdin.read()
    finally:
        realm.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
