"""The morvane tool through real proxies on loopback, to python3-websockets
echo servers (ws, and wss where TLS runs end to end through the passage):
microsocks (SOCKS 5, with and without a user and password), dante (SOCKS 4
and SOCKS 5, and its refusals), tinyproxy (CONNECT), squid (CONNECT with
Basic, Digest, Negotiate against a throwaway Kerberos realm, and NTLM
checked by a helper of our own), and apache2 as a forward proxy that
takes ws:// requests itself (Basic, Digest, and TLS to the proxy). Each
proxy runs from a configuration written here, with ports from 0, and is
stopped at the end."""

import base64
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from processes import free_port, registered_control_env

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kerberos_realm import KerberosRealm  # noqa: E402

MORVANE = os.environ["MORVANE"]
TESTDATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testdata")
INTERNET_SETTINGS = r"Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def wait_listening(process, port, describe, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise AssertionError(f"{process.args[0]} ended: {describe()}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise AssertionError(f"{process.args[0]} does not listen on {port}: {describe()}")


class Peer:
    """A server process, its output in a file, stopped on request."""

    def __init__(self, args, folder, name, port, env=None):
        self.log = os.path.join(folder, name + ".out")
        self.output = open(self.log, "w")
        self.process = subprocess.Popen(args, stdout=self.output, stderr=subprocess.STDOUT, env=env)
        self.port = port
        wait_listening(self.process, port, self.text)

    def text(self):
        with open(self.log, errors="replace") as log:
            return log.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.output.close()


class EchoServer:
    def __init__(self, args):
        self.process = subprocess.Popen(["/usr/bin/python3", *args], stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class ProxyTestCase(unittest.TestCase):
    """Registers the control and starts the echo servers; subclasses add
    their proxies to cls.peers."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="morvane-proxy-")
        # Squid drops to its own user and must reach its configuration.
        os.chmod(cls.folder, 0o755)
        cls.user_hive = os.path.join(cls.folder, "user.reg")
        cls.env = registered_control_env(cls.folder, {name: value for name, value in os.environ.items()
                                                      if name.lower() not in ("all_proxy", "http_proxy",
                                                                              "https_proxy", "no_proxy")})
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=echo.test", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", "echo.key", "-out",
                        "echo.pem"], cwd=cls.folder, check=True, capture_output=True)
        cls.peers = []
        cls.ws = EchoServer([os.path.join(TESTDATA, "ws_echo_server.py")])
        cls.wss = EchoServer([os.path.join(TESTDATA, "wss_echo_server.py"), "--cert",
                              os.path.join(cls.folder, "echo.pem"), "--key", os.path.join(cls.folder, "echo.key")])

    @classmethod
    def tearDownClass(cls):
        for peer in reversed(cls.peers):
            peer.stop()
        cls.ws.stop()
        cls.wss.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    @classmethod
    def start(cls, args, name, port, env=None):
        peer = Peer(args, cls.folder, name, port, env)
        cls.peers.append(peer)
        return peer

    @classmethod
    def start_squid(cls, name, auth_lines, access="", env=None):
        """A squid that asks for proxy authentication as auth_lines set it up;
        access adds http_access lines ahead of the one that lets the
        authenticated in."""
        folder = os.path.join(cls.folder, name)
        os.mkdir(folder)
        os.chmod(folder, 0o777)
        port = free_port()
        owner = "cache_effective_user proxy\n" if os.geteuid() == 0 else ""
        with open(os.path.join(folder, "squid.conf"), "w") as out:
            out.write(f"""http_port 127.0.0.1:{port}
pid_filename {folder}/squid.pid
cache_log {folder}/cache.log
access_log stdio:{folder}/access.log
cache deny all
visible_hostname localhost
shutdown_lifetime 0 seconds
max_filedescriptors 256
pinger_enable off
coredump_dir {folder}
{owner}{auth_lines}acl authed proxy_auth REQUIRED
{access}http_access allow authed
http_access deny all
""")
        return cls.start(["squid", "-N", "-f", os.path.join(folder, "squid.conf")], name, port, env)

    def ws_url(self, host="127.0.0.1"):
        return f"ws://{host}:{self.ws.port}/"

    def wss_url(self):
        return f"wss://127.0.0.1:{self.wss.port}/"

    def morvane(self, *args, env=None, sent="through"):
        result = subprocess.run([MORVANE, "--accept-cert", "yes", *args], env=env or self.env, input=sent + "\n",
                                capture_output=True, text=True, timeout=30)
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines()]

    @staticmethod
    def statuses(lines):
        return [line["ConnectionEvent"] for line in lines if line.get("event") == "ConnectionStatus"]

    def assertEchoes(self, *args, secure=False, env=None, sent="through"):
        status, lines = self.morvane(*args, self.wss_url() if secure else self.ws_url(), env=env, sent=sent)
        self.assertEqual(status, 0, lines)
        texts = [line["Text"] for line in lines if line.get("event") == "DataIn"]
        self.assertTrue(texts == [sent], lines if len(sent) < 1000 else [len(text) for text in texts])
        if secure:
            # The certificate is the echo server's own: TLS ran end to end.
            subjects = [line["CertSubject"] for line in lines if line.get("event") == "SSLServerAuthentication"]
            self.assertEqual(subjects, ["CN=echo.test"])
        return lines

    def assertFirewallFailure(self, text, *args, url=None):
        status, lines = self.morvane(*args, url or self.ws_url())
        self.assertEqual(status, 1, lines)
        self.assertEqual(lines[-1]["error"]["description"], text)
        self.assertEqual(lines[-1]["error"]["member"], "Connect")
        errors = [line for line in lines if line.get("event") == "Error"]
        self.assertEqual([(e["ErrorCode"], e["Description"]) for e in errors], [(118, text)])
        self.assertFalse([line for line in lines if line.get("event") == "Connected"])


def through(kind, port, *extra):
    return ["--set", f"FirewallType={kind}", "--set", "FirewallHost=127.0.0.1", "--set", f"FirewallPort={port}",
            *extra]


class SocksTest(ProxyTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        port = free_port()
        cls.microsocks = cls.start(["microsocks", "-i", "127.0.0.1", "-p", str(port)], "microsocks", port)
        port = free_port()
        cls.guarded = cls.start(["microsocks", "-i", "127.0.0.1", "-p", str(port), "-u", "ann", "-P", "secret"],
                                "microsocks-auth", port)
        cls.blocked_port = free_port()
        config = os.path.join(cls.folder, "danted.conf")
        port = free_port()
        with open(config, "w") as out:
            out.write(f"""logoutput: {os.path.join(cls.folder, "danted.log")}
internal: 127.0.0.1 port = {port}
external: 127.0.0.1
socksmethod: none
clientmethod: none
client pass {{
  from: 127.0.0.0/8 to: 0.0.0.0/0
}}
socks block {{
  from: 127.0.0.0/8 to: 127.0.0.1/32 port = {cls.blocked_port}
}}
socks pass {{
  from: 127.0.0.0/8 to: 0.0.0.0/0
  command: connect
  protocol: tcp
}}
""")
        cls.dante = cls.start(["danted", "-f", config, "-p", os.path.join(cls.folder, "danted.pid"), "-N", "1"],
                              "danted", port)

    def test_socks5_carries_ws_and_wss(self):
        lines = self.assertEchoes(*through(3, self.microsocks.port))
        self.assertEqual(self.statuses(lines)[:2], ["Remote host connection complete.", "Firewall connection complete."])
        self.assertEchoes(*through(3, self.microsocks.port), secure=True)
        self.assertIn(f"connected to 127.0.0.1:{self.wss.port}", self.microsocks.text())
        # A message large enough to be received straight into the frame
        # reader, through the tunnel.
        large = "".join(chr(ord("a") + i % 26) for i in range(600000))
        self.assertEchoes(*through(3, self.microsocks.port), sent=large)

    def test_socks5_sends_a_starred_name_for_the_proxy_to_resolve(self):
        status, lines = self.morvane(*through(3, self.microsocks.port), f"ws://*localhost:{self.ws.port}/")
        self.assertEqual(status, 0, lines)
        self.assertIn(f"connected to localhost:{self.ws.port}", self.microsocks.text())

    def test_socks5_user_and_password(self):
        self.assertEchoes(*through(3, self.guarded.port, "--set", "FirewallUser=ann", "--set",
                                   "FirewallPassword=secret"))
        # microsocks refuses a wrong password with status 2.
        self.assertFirewallFailure("firewall authentication failed: 2",
                                   *through(3, self.guarded.port, "--set", "FirewallUser=ann", "--set",
                                            "FirewallPassword=wrong"))
        self.assertFirewallFailure("no acceptable firewall authentication methods", *through(3, self.guarded.port))

    def test_dante_speaks_socks4_and_socks5(self):
        self.assertEchoes(*through(2, self.dante.port, "--set", "FirewallUser=joe"))
        self.assertEchoes(*through(3, self.dante.port), secure=True)

    def test_dante_refusals(self):
        url = f"ws://127.0.0.1:{self.blocked_port}/"
        self.assertFirewallFailure("firewall request rejected or failed", *through(2, self.dante.port), url=url)
        self.assertFirewallFailure("connection not allowed by ruleset", *through(3, self.dante.port), url=url)

    def write_user_hive(self, proxy_server):
        with open(self.user_hive, "w") as hive:
            hive.write(f'[{INTERNET_SETTINGS}]\n"ProxyEnable"=dword:00000001\n"ProxyServer"="{proxy_server}"\n'
                       '"ProxyOverride"="<local>"\n')

    def test_auto_detection_from_the_user_hive(self):
        self.write_user_hive(f"http=127.0.0.1:9;socks=127.0.0.1:{self.dante.port}")
        try:
            status, lines = self.morvane("--set", "FirewallAutoDetect=True", "--get", "FirewallType", "--get",
                                         "FirewallHost", "--get", "FirewallPort", self.ws_url())
        finally:
            os.remove(self.user_hive)
        self.assertEqual(status, 0, lines)
        gets = {line["get"]: line["value"] for line in lines if "get" in line}
        self.assertEqual(gets, {"FirewallType": 3, "FirewallHost": "127.0.0.1", "FirewallPort": self.dante.port})
        self.assertIn("Firewall connection complete.", self.statuses(lines))
        self.assertEqual([line["Text"] for line in lines if line.get("event") == "DataIn"], ["through"])

    def test_auto_detection_from_the_environment(self):
        env = dict(self.env, ALL_PROXY=f"socks5h://127.0.0.1:{self.microsocks.port}")
        status, lines = self.morvane("--set", "FirewallAutoDetect=True", f"ws://localhost:{self.ws.port}/", env=env)
        self.assertEqual(status, 0, lines)
        # socks5h: the proxy resolves the name it is sent.
        self.assertIn(f"connected to localhost:{self.ws.port}", self.microsocks.text())
        # A host on no_proxy goes straight to the server.
        env["no_proxy"] = "localhost"
        status, lines = self.morvane("--set", "FirewallAutoDetect=True", f"ws://localhost:{self.ws.port}/", env=env)
        self.assertEqual(status, 0, lines)
        self.assertNotIn("Firewall connection complete.", self.statuses(lines))


class TunnelTest(ProxyTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        port = free_port()
        config = os.path.join(cls.folder, "tinyproxy.conf")
        with open(config, "w") as out:
            out.write(f'Port {port}\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\n'
                      f'PidFile "{cls.folder}/tinyproxy.pid"\nLogFile "{cls.folder}/tinyproxy.log"\n')
        cls.tinyproxy = cls.start(["tinyproxy", "-d", "-c", config], "tinyproxy", port)

        passwords = os.path.join(cls.folder, "htpasswd")
        hashed = subprocess.run(["openssl", "passwd", "-apr1", "secret"], check=True, capture_output=True,
                                text=True).stdout.strip()
        with open(passwords, "w") as out:
            out.write(f"ann:{hashed}\n")
        digests = os.path.join(cls.folder, "digest")
        with open(digests, "w") as out:
            out.write("ann:secret\n")
        for path in (passwords, digests):
            os.chmod(path, 0o644)
        cls.basic = cls.start_squid("squid-basic", f"auth_param basic program /usr/lib/squid/basic_ncsa_auth {passwords}\n"
                                                   "auth_param basic realm proxy\n")
        cls.digest = cls.start_squid("squid-digest",
                                     f"auth_param digest program /usr/lib/squid/digest_file_auth {digests}\n"
                                     "auth_param digest realm proxy\n")

    def proxy(self, peer, *extra):
        return ["--set", "ProxyServer=127.0.0.1", "--set", f"ProxyPort={peer.port}", *extra]

    def test_tinyproxy_connect(self):
        lines = self.assertEchoes(*through(1, self.tinyproxy.port))
        self.assertIn("Firewall connection complete.", self.statuses(lines))
        # A secure URL through ProxyServer is tunnelled by itself.
        self.assertEchoes(*self.proxy(self.tinyproxy), secure=True)

    def test_squid_connect_with_basic(self):
        credentials = ["--set", "ProxyUser=ann", "--set", "ProxyPassword=secret"]
        self.assertEchoes(*self.proxy(self.basic, *credentials), secure=True)
        self.assertEchoes(*self.proxy(self.basic, "--set", "ProxySSL=3", *credentials))
        self.assertFirewallFailure("Firewall error. HTTP/1.1 407 Proxy Authentication Required.",
                                   *self.proxy(self.basic, "--set", "ProxySSL=3", "--set", "ProxyUser=ann", "--set",
                                               "ProxyPassword=wrong"))

    def test_squid_connect_with_digest(self):
        digest = ["--set", "ProxyAuthScheme=1", "--set", "ProxyUser=ann"]
        self.assertEchoes(*self.proxy(self.digest, *digest, "--set", "ProxyPassword=secret"), secure=True)
        self.assertFirewallFailure(
            "Firewall error after digest authentication. Expected a status code beginning with 2 but got: 407 Proxy "
            "Authentication Required",
            *self.proxy(self.digest, *digest, "--set", "ProxyPassword=wrong", "--set", "ProxySSL=3"))

    def test_exceptions_list_goes_around_the_proxy(self):
        dead = ["--set", "ProxyServer=127.0.0.1", "--set", f"ProxyPort={free_port()}"]
        lines = self.assertEchoes(*dead, "--config", "ProxyExceptionsList=other.test; 127.0.0.*", secure=True)
        self.assertNotIn("Firewall connection complete.", self.statuses(lines))


class TunnelHandshakeAuthTest(ProxyTestCase):
    """CONNECT tunnels whose authentication takes a handshake: squid asking
    for Negotiate, checked by its Kerberos helper against a throwaway realm,
    and for NTLM, checked by a helper of our own that verifies the NTLMv2
    response. Squid lets the authenticated CONNECT only to the wss echo
    server."""

    @classmethod
    def setUpClass(cls):
        missing = KerberosRealm.missing_tools()
        if missing:
            raise unittest.SkipTest("missing: " + " ".join(missing))
        super().setUpClass()
        # HTTP/other is known to the KDC, but squid accepts only HTTP/localhost.
        cls.realm = KerberosRealm(users={"alice": "Alice-Pw1"}, services=["HTTP/localhost", "HTTP/other"])
        try:
            cls.realm.start()
            # The helpers run as squid's user and read the realm's files.
            os.chmod(cls.realm.folder, 0o755)
            os.chmod(cls.realm.path("services.keytab"), 0o644)
            access = f"acl CONNECT method CONNECT\nacl echo port {cls.wss.port}\nhttp_access deny CONNECT !echo\n"
            replay = os.path.join(cls.folder, "rcache")
            os.mkdir(replay)
            os.chmod(replay, 0o777)
            cls.negotiate = cls.start_squid(
                "squid-negotiate",
                f"auth_param negotiate program /usr/lib/squid/negotiate_kerberos_auth -k "
                f"{cls.realm.path('services.keytab')} -s HTTP/localhost@{cls.realm.realm} -c {replay}\n"
                "auth_param negotiate children 2\n", access, env=dict(os.environ, **cls.realm.environment()))
            users = os.path.join(cls.folder, "ntlm.users")
            with open(users, "w") as out:
                out.write("bob:Bob-Pw1\n")
            os.chmod(users, 0o644)
            # Squid runs its helpers as its own user, who may not be let into
            # the source tree (a checkout under a private folder): the helper
            # crashes at its first request and every answer becomes a 407.
            # It runs from the class's folder, which that user can read.
            helper = shutil.copy(os.path.join(TESTDATA, "squid_ntlm_helper.py"), cls.folder)
            os.chmod(helper, 0o644)
            cls.ntlm = cls.start_squid("squid-ntlm", f"auth_param ntlm program /usr/bin/python3 {helper} {users}\n"
                                                     "auth_param ntlm children 2\n", access)
        except BaseException:
            cls.tearDownClass()
            raise
        # The client knows the realm but holds no ticket: it must get one with
        # the password it is given.
        cls.kerberos_env = dict(cls.env, KRB5_CONFIG=cls.realm.path("krb5.conf"),
                                KRB5CCNAME="FILE:" + os.path.join(cls.folder, "no-such-cache"))

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.realm.stop()

    @staticmethod
    def access_log(peer):
        with open(os.path.join(peer.log[:-len(".out")], "access.log")) as log:
            return log.read()

    def logged(self, peer, since, pattern, count):
        """The access log past offset since, once pattern appears count times
        in it: squid writes a tunnel's line only when the tunnel has closed."""
        deadline = time.monotonic() + 5
        while True:
            log = self.access_log(peer)[since:]
            if len(re.findall(pattern, log)) >= count or time.monotonic() > deadline:
                self.assertEqual(len(re.findall(pattern, log)), count, log)
                return log
            time.sleep(0.05)

    def proxy(self, peer, scheme, user, password, *extra):
        # The proxy's name gives the Kerberos service: HTTP/localhost.
        return ["--set", "ProxyServer=localhost", "--set", f"ProxyPort={peer.port}", "--set",
                f"ProxyAuthScheme={scheme}", "--set", f"ProxyUser={user}", "--set", f"ProxyPassword={password}", *extra]

    def assertRefused(self, code, text, *args, env=None):
        status, lines = self.morvane(*args, self.wss_url(), env=env)
        self.assertEqual(status, 1, lines)
        self.assertEqual(lines[-1]["error"]["member"], "Connect")
        errors = [(line["ErrorCode"], line["Description"]) for line in lines if line.get("event") == "Error"]
        self.assertEqual(len(errors), 1, lines)
        self.assertEqual(errors[0][0], code, lines)
        self.assertRegex(errors[0][1], text)
        self.assertFalse([line for line in lines if line.get("event") == "Connected"])

    def test_negotiate_through_squid(self):
        before = len(self.access_log(self.negotiate))
        lines = self.assertEchoes(*self.proxy(self.negotiate, 5, "alice", "Alice-Pw1"), secure=True,
                                  env=self.kerberos_env)
        self.assertIn("Firewall connection complete.", self.statuses(lines))
        self.logged(self.negotiate, before,
                    rf"TCP_TUNNEL/200 .* CONNECT 127\.0\.0\.1:{self.wss.port} alice@{self.realm.realm} ", 1)

    def test_negotiate_refusals(self):
        cases = [
            # The KDC turns the password down before anything is sent.
            ("wrong", [], r"^Could not acquire security credentials \(-2146893044\): The logon attempt failed"),
            # A ticket for a service the KDC does not know cannot be had.
            ("Alice-Pw1", ["--config", "KerberosSPN=HTTP/elsewhere"],
             r"^Could not initialize security context \(-\d+\)$"),
            # A ticket for a service squid holds no key for: squid refuses the
            # token, and again the fresh one sent after its bare challenge.
            ("Alice-Pw1", ["--config", "KerberosSPN=HTTP/other"],
             r"^Firewall error after NTLM authentication\. Expected a status code beginning with 2 but got: 407 "
             r"Proxy Authentication Required$"),
        ]
        before = len(self.access_log(self.negotiate))
        for password, extra, text in cases:
            with self.subTest(password=password, extra=extra):
                self.assertRefused(118, text, *self.proxy(self.negotiate, 5, "alice", password, *extra),
                                   env=self.kerberos_env)
        log = self.logged(self.negotiate, before, rf"TCP_DENIED/407 .* CONNECT 127\.0\.0\.1:{self.wss.port} - ", 2)
        self.assertNotIn("TCP_TUNNEL", log)

    def test_ntlm_through_squid(self):
        before = len(self.access_log(self.ntlm))
        for system in ("True", "False"):
            with self.subTest(system=system):
                ntlm = ["--config", f"UseSystemSSPI={system}"]
                self.assertEchoes(*self.proxy(self.ntlm, 4, "MORVANE\\bob", "Bob-Pw1", *ntlm), secure=True)
                self.assertRefused(
                    118, r"^Firewall error after NTLM authentication\. Expected a status code beginning with 2 but "
                    r"got: 407 Proxy Authentication Required$",
                    *self.proxy(self.ntlm, 4, "MORVANE\\bob", "wrong", *ntlm))
        # Each attempt took two rounds: a challenge, then the answer's verdict.
        self.logged(self.ntlm, before, rf"TCP_TUNNEL/200 .* CONNECT 127\.0\.0\.1:{self.wss.port} bob ", 2)
        self.logged(self.ntlm, before, r"TCP_DENIED/407 ", 6)


    @unittest.skipUnless(shutil.which("curl"), "needs curl")
    def test_ntlm_helper_judges_another_client_alike(self):
        # curl's NTLMv2 answers, through the same squid, are taken and refused
        # as ours are: the helper checks the protocol, not our reading of it.
        before = len(self.access_log(self.ntlm))
        for password, code in (("Bob-Pw1", 0), ("wrong", 56)):
            with self.subTest(password=password):
                done = subprocess.run(
                    ["curl", "-s", "-o", "/dev/null", "--max-time", "10", "--proxytunnel", "--proxy-ntlm",
                     "--proxy-user", f"MORVANE\\bob:{password}", "--proxy", f"http://127.0.0.1:{self.ntlm.port}",
                     "--cacert", os.path.join(self.folder, "echo.pem"), f"https://127.0.0.1:{self.wss.port}/"],
                    env=self.env, capture_output=True, timeout=20)
                # 56: the proxy refused the CONNECT.
                self.assertEqual(done.returncode, code, done.stderr)
        self.logged(self.ntlm, before, rf"TCP_TUNNEL/200 .* CONNECT 127\.0\.0\.1:{self.wss.port} bob ", 1)

class HttpProxyTest(ProxyTestCase):
    """A plain URL goes to the proxy as a request that names the whole URL;
    apache2 with mod_proxy_wstunnel forwards such ws:// requests, asking for
    Basic, Digest, or NTLM (gss-ntlmssp behind mod_auth_gssapi)."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=proxy.test", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", "proxy.key", "-out",
                        "proxy.pem"], cwd=cls.folder, check=True, capture_output=True)
        users = os.path.join(cls.folder, "users")
        with open(users, "w") as out:
            out.write("ann:{SHA}" + base64.b64encode(hashlib.sha1(b"secret").digest()).decode() + "\n")
        digests = os.path.join(cls.folder, "digests")
        with open(digests, "w") as out:
            out.write("ann:proxy:" + hashlib.md5(b"ann:proxy:secret").hexdigest() + "\n")
        ntlm_users = os.path.join(cls.folder, "ntlm.users")
        with open(ntlm_users, "w") as out:
            out.write("MORVANE:bob:Bob-Pw1\n")
        for path in (users, digests, ntlm_users, os.path.join(cls.folder, "proxy.key")):
            os.chmod(path, 0o644)
        folder = os.path.join(cls.folder, "apache")
        os.mkdir(folder)
        os.chmod(folder, 0o777)
        ports = {name: free_port() for name in ("basic", "digest", "secure", "ntlm")}
        modules = ("mpm_event", "authn_core", "authn_file", "authz_core", "authz_user", "auth_basic", "auth_digest",
                   "auth_gssapi", "proxy", "proxy_http", "proxy_wstunnel", "socache_shmcb", "ssl")
        lines = [f'ServerRoot "{folder}"', "ServerName localhost", f"PidFile {folder}/apache.pid",
                 f"DefaultRuntimeDir {folder}", f"Mutex file:{folder} default", f"ErrorLog {folder}/error.log",
                 "StartServers 1", "ServerLimit 2", "ThreadsPerChild 8", "ThreadLimit 8", "MaxRequestWorkers 16",
                 "ProxyRequests On"]
        lines += [f"LoadModule {name}_module /usr/lib/apache2/modules/mod_{name}.so" for name in modules]
        lines += [f"Listen 127.0.0.1:{port}" for port in ports.values()]
        if os.geteuid() == 0:
            lines += ["User nobody", "Group nogroup"]
        basic = ["AuthType Basic", 'AuthName "proxy"', "AuthBasicProvider file", f"AuthUserFile {users}"]
        digest = ["AuthType Digest", 'AuthName "proxy"', "AuthDigestProvider file", f"AuthUserFile {digests}"]
        tls = ["SSLEngine on", f"SSLCertificateFile {cls.folder}/proxy.pem",
               f"SSLCertificateKeyFile {cls.folder}/proxy.key"]
        # NTLM's two rounds are tied together on one kept-alive connection.
        ntlm = ["AuthType GSSAPI", 'AuthName "proxy"', "GssapiAllowedMech ntlmssp", "GssapiConnectionBound On"]
        for name, directives in (("basic", basic), ("digest", digest), ("secure", tls + basic), ("ntlm", ntlm)):
            proxy = [line for line in directives if not line.startswith("SSL")]
            lines += [f"<VirtualHost 127.0.0.1:{ports[name]}>",
                      *[line for line in directives if line.startswith("SSL")],
                      '<Proxy "*">', *proxy, "Require valid-user", "</Proxy>", "</VirtualHost>"]
        config = os.path.join(folder, "apache.conf")
        with open(config, "w") as out:
            out.write("\n".join(lines) + "\n")
        cls.apache = cls.start(["apache2", "-f", config, "-DFOREGROUND"], "apache", ports["basic"],
                               env=dict(os.environ, NTLM_USER_FILE=ntlm_users))
        cls.ports = ports
        for name in ("digest", "secure", "ntlm"):
            wait_listening(cls.apache.process, ports[name], cls.apache.text)

    def proxy(self, name, password="secret", *extra):
        return ["--set", "ProxyServer=127.0.0.1", "--set", f"ProxyPort={self.ports[name]}", "--set", "ProxyUser=ann",
                "--set", f"ProxyPassword={password}", *extra]

    def assertRefused(self, code, *args):
        status, lines = self.morvane(*args, self.ws_url())
        self.assertEqual(status, 1, lines)
        self.assertEqual(lines[-1]["error"]["description"],
                         "Proxy error: HTTP protocol error. 407 Proxy Authentication Required.")
        self.assertEqual(lines[-1]["error"]["hresult"], f"0x800A{20001 + code:04X}")

    def test_basic_proxy_authorization(self):
        lines = self.assertEchoes(*self.proxy("basic"))
        # No tunnel: the proxy itself took the request.
        self.assertNotIn("Firewall connection complete.", self.statuses(lines))
        self.assertRefused(151, *self.proxy("basic", "wrong"))

    def test_digest_answers_the_407(self):
        self.assertEchoes(*self.proxy("digest", "secret", "--set", "ProxyAuthScheme=1"))
        # The second 407, after the answer, ends it.
        self.assertRefused(157, *self.proxy("digest", "wrong", "--set", "ProxyAuthScheme=1"))

    def test_ntlm_answers_the_407(self):
        for system in ("True", "False"):
            ntlm = ["--config", f"UseSystemSSPI={system}", "--set", "ProxyAuthScheme=4", "--set",
                    "ProxyUser=MORVANE\\bob"]
            self.assertEchoes(*self.proxy("ntlm", "Bob-Pw1", *ntlm))
            self.assertRefused(157, *self.proxy("ntlm", "wrong", *ntlm))

    def test_tls_to_the_proxy_itself(self):
        lines = self.assertEchoes(*self.proxy("secure", "secret", "--set", "ProxySSL=1"))
        subjects = [line["CertSubject"] for line in lines if line.get("event") == "SSLServerAuthentication"]
        self.assertEqual(subjects, ["CN=proxy.test"])

    def test_proxy_from_the_environment(self):
        env = dict(self.env, http_proxy=f"http://127.0.0.1:{self.ports['basic']}", no_proxy="other.test")
        status, lines = self.morvane("--set", "ProxyAutoDetect=True", "--set", "ProxyUser=ann", "--set",
                                     "ProxyPassword=secret", self.ws_url(), env=env)
        self.assertEqual(status, 0, lines)
        self.assertEqual([line["Text"] for line in lines if line.get("event") == "DataIn"], ["through"])


if __name__ == "__main__":
    unittest.main()
