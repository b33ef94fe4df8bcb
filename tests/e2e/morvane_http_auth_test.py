"""The morvane tool authenticating its opening handshake to real HTTP servers
that proxy the WebSocket to a python3-websockets echo server: Apache with
Basic, Digest, Negotiate (Kerberos, against a throwaway KDC) and NTLM
(gss-ntlmssp behind mod_auth_gssapi), answered by the platform's GSSAPI and
by the control's own NTLM; and lighttpd with Basic and Digest."""

import base64
import hashlib
import json
import os
import re
import struct
import shutil
import subprocess
import sys
import tempfile
import unittest

from processes import registered_control_env

from http_auth_servers import (REALM, Apache, EchoBackend, Lighttpd, htdigest_line, htpasswd_line,
                               missing_programs, write_file)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from kerberos_realm import KerberosRealm  # noqa: E402

MORVANE = os.environ["MORVANE"]

USER, PASSWORD = "ann", "Secret-1"
REFUSED = "HTTP protocol error. 401 Unauthorized."


def hresult(code):
    return f"0x800A{20001 + code:04X}"


class Client:
    """The registered control and the morvane tool, run once per call."""

    def __init__(self, folder, environment=None):
        self.env = registered_control_env(folder, environment)

    def run(self, *args, env=None):
        result = subprocess.run([MORVANE, *args], env=dict(self.env, **(env or {})), input="hi\n",
                                capture_output=True, text=True, timeout=30)
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines()]


def ntlm_channel_binding(value):
    """The channel-binding entry of the target information inside the NTLMv2
    response of an "NTLM " authenticate message, or None."""
    message = base64.b64decode(value[len("NTLM "):])
    length, offset = struct.unpack_from("<H2xI", message, 20)
    response = message[offset:offset + length]
    position = 16 + 28  # the proof, then the blob up to its target information
    while position + 4 <= len(response):
        kind, size = struct.unpack_from("<HH", response, position)
        if kind == 0:
            break
        if kind == 10:
            return response[position + 4:position + 4 + size]
        position += 4 + size
    return None


def credentials(scheme, user=USER, password=PASSWORD):
    return ["--set", f"AuthScheme={scheme}", "--set", f"User={user}", "--set", f"Password={password}"]


class AuthCase(unittest.TestCase):
    def assertEchoed(self, status, lines):
        self.assertEqual(status, 0, lines)
        self.assertEqual([line["Text"] for line in lines if line.get("event") == "DataIn"], ["hi"])

    def assertRefused(self, status, lines, code=151, description=REFUSED):
        self.assertEqual(status, 1, lines)
        self.assertFalse([line for line in lines if line.get("event") == "Connected"])
        error = lines[-1]["error"]
        self.assertEqual((error["member"], error["hresult"]), ("Connect", hresult(code)))
        if isinstance(description, re.Pattern):
            self.assertRegex(error["description"], description)
        else:
            self.assertEqual(error["description"], description)

    @staticmethod
    def challenges(lines):
        return [line["Value"] for line in lines
                if line.get("event") == "Header" and line["Field"] == "WWW-Authenticate"]

    @staticmethod
    def digest_fields(value):
        fields = {}
        for part in value[len("Digest "):].split(", "):
            name, _, text = part.partition("=")
            fields[name] = text.strip('"')
        return fields

    def check_digest(self, server, backend, client):
        status, lines = client.run(*credentials(1), server.url("/digest/"))
        self.assertEchoed(status, lines)
        self.assertEqual(len(self.challenges(lines)), 1)
        [sent] = backend.authorizations(1)
        fields = self.digest_fields(sent)
        self.assertEqual((fields["username"], fields["realm"], fields["uri"]), (USER, REALM, "/digest/"))
        self.assertEqual((fields["qop"], fields["nc"]), ("auth", "00000001"))

        # A wrong password is refused again after the one retry.
        status, lines = client.run(*credentials(1, password="wrong"), server.url("/digest/"))
        self.assertRefused(status, lines)
        self.assertEqual(len(self.challenges(lines)), 2)

    def check_digest_carries_over(self, server, backend, client):
        # Two Connects in one control: the second answers the challenge the
        # first was given, counting on, and the server takes it at once.
        url = server.url("/digest/")
        status, lines = client.run(*credentials(1), "--call", f"Connect={url}", "--call", "Disconnect", url)
        self.assertEchoed(status, lines)
        self.assertEqual(len(self.challenges(lines)), 1)
        first, second = [self.digest_fields(value) for value in backend.authorizations(2)]
        self.assertEqual((first["nc"], second["nc"]), ("00000001", "00000002"))
        self.assertEqual((first["nonce"], first["cnonce"]), (second["nonce"], second["cnonce"]))

    def check_basic(self, server, backend, client):
        status, lines = client.run(*credentials(0), server.url("/basic/"))
        self.assertEchoed(status, lines)
        self.assertEqual(backend.authorizations(1), ["Basic YW5uOlNlY3JldC0x"])
        status, lines = client.run(*credentials(0, password="wrong"), server.url("/basic/"))
        self.assertRefused(status, lines)
        self.assertEqual(len(self.challenges(lines)), 1)


class ApacheTest(AuthCase):
    """One Apache with a location per scheme, a Kerberos realm that knows
    HTTP/localhost and alice, and a gss-ntlmssp user file that knows bob."""

    @classmethod
    def setUpClass(cls):
        missing = missing_programs("apache2") + KerberosRealm.missing_tools()
        if missing:
            raise unittest.SkipTest("missing: " + " ".join(missing))
        cls.folder = tempfile.mkdtemp(prefix="morvane-apache-auth-")
        cls.realm = KerberosRealm(users={"alice": "Alice-Pw1"}, services=["HTTP/localhost"])
        cls.backend = cls.server = cls.tls_server = None
        try:
            cls.realm.start()
            cls.start_apache()
            cls.client = Client(cls.folder, dict(os.environ, **cls.realm.environment()))
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def start_apache(cls):
        folder, realm = cls.folder, cls.realm
        # Apache's workers run as nobody and read the keytab.
        os.chmod(realm.folder, 0o755)
        os.chmod(realm.path("services.keytab"), 0o644)
        write_file(os.path.join(folder, "users.htpasswd"), htpasswd_line(USER, PASSWORD))
        write_file(os.path.join(folder, "users.htdigest"), htdigest_line(USER, PASSWORD))
        cls.ntlm_users = write_file(os.path.join(folder, "ntlm.users"), "MORVANE:bob:Bob-Pw1\n")
        gssapi = ["AuthType GSSAPI", f'AuthName "{REALM}"']
        locations = {
            "/basic/": ["AuthType Basic", f'AuthName "{REALM}"', "AuthBasicProvider file",
                        f"AuthUserFile {folder}/users.htpasswd"],
            "/digest/": ["AuthType Digest", f'AuthName "{REALM}"', "AuthDigestProvider file",
                         f"AuthUserFile {folder}/users.htdigest", "AuthDigestQop auth"],
            "/negotiate/": gssapi + [f"GssapiCredStore keytab:{realm.path('services.keytab')}",
                                     "GssapiAllowedMech krb5"],
            # NTLM takes two rounds, which the server can only tie together on
            # one kept-alive connection.
            "/ntlm/": gssapi + ["GssapiAllowedMech ntlmssp", "GssapiConnectionBound On"],
        }
        cls.backend = EchoBackend()
        environment = dict(os.environ, **realm.environment(), NTLM_USER_FILE=cls.ntlm_users)
        cls.server = Apache(folder, cls.backend.port, locations, environment)
        # The same NTLM location over TLS, with a certificate of its own.
        tls = os.path.join(folder, "tls")
        os.mkdir(tls)
        cls.certificate = os.path.join(tls, "server.pem")
        key = os.path.join(tls, "server.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                        "-keyout", key, "-out", cls.certificate], check=True, capture_output=True)
        os.chmod(key, 0o644)
        cls.tls_server = Apache(tls, cls.backend.port, {"/ntlm/": locations["/ntlm/"]}, environment,
                                tls=(cls.certificate, key))

    @classmethod
    def tearDownClass(cls):
        for part in (cls.tls_server, cls.server, cls.backend, cls.realm):
            if part is not None:
                part.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.backend.authorizations()

    def test_basic(self):
        self.check_basic(self.server, self.backend, self.client)

    def test_digest(self):
        self.check_digest(self.server, self.backend, self.client)

    def test_digest_challenge_carries_over_to_the_next_connect(self):
        self.check_digest_carries_over(self.server, self.backend, self.client)

    def test_negotiate_with_a_password(self):
        # The service name is HTTP/ and the host of the URL, or KerberosSPN.
        url = self.server.url("/negotiate/", host="localhost")
        by_address = self.server.url("/negotiate/")
        cases = [
            ([url], None),
            (["--config", "KerberosSPN=HTTP/localhost", by_address], None),
            ([url], "Could not acquire security credentials (-2146893044): The logon attempt failed"),
            (["--config", "KerberosSPN=HTTP/elsewhere", url],
             re.compile(r"^Could not initialize security context \(-\d+\)$")),
        ]
        for args, failure in cases:
            with self.subTest(args=args, failure=failure):
                password = "wrong" if isinstance(failure, str) else "Alice-Pw1"
                status, lines = self.client.run(*credentials(5, "alice", password), *args)
                if failure is None:
                    self.assertEchoed(status, lines)
                    [sent] = self.backend.authorizations(1)
                    self.assertTrue(sent.startswith("Negotiate YII"), sent)
                else:
                    self.assertRefused(status, lines, 880, failure)
                    self.assertEqual(self.backend.authorizations(), [])

    def test_negotiate_with_the_default_credential_cache(self):
        url = self.server.url("/negotiate/", host="localhost")
        status, lines = self.client.run("--set", "AuthScheme=5", url,
                                        env={"KRB5CCNAME": "FILE:" + os.path.join(self.folder, "no-such-cache")})
        self.assertRefused(status, lines, 880, re.compile(r"^Could not acquire security credentials \(-\d+\): "))
        self.realm.kinit("alice")
        status, lines = self.client.run("--set", "AuthScheme=5", url)
        self.assertEchoed(status, lines)
        self.assertEqual(len(self.backend.authorizations(1)), 1)

    def test_ntlm(self):
        cases = [
            (True, "Bob-Pw1"), (False, "Bob-Pw1"),
            (True, "wrong"), (False, "wrong"),
        ]
        for system, password in cases:
            with self.subTest(system=system, password=password):
                status, lines = self.client.run(*credentials(4, "MORVANE\\bob", password), "--config",
                                                f"UseSystemSSPI={system}", self.server.url("/ntlm/", "localhost"))
                # Each attempt opens with a negotiate message and answers the
                # server's challenge with an authenticate message.
                self.assertTrue(self.challenges(lines)[0].startswith("NTLM TlRMTVNTUAACAAAA"), lines)
                if password == "wrong":
                    self.assertRefused(status, lines)
                    self.assertEqual(self.backend.authorizations(), [])
                else:
                    self.assertEchoed(status, lines)
                    [sent] = self.backend.authorizations(1)
                    self.assertTrue(sent.startswith("NTLM TlRMTVNTUAADAAAA"), sent)

    def test_ntlm_over_tls_binds_the_channel(self):
        # Apache does not check the binding, but both NTLM clients must put
        # the same one in their answer: the MD5 of channel bindings whose
        # application data is "tls-server-end-point:" and the SHA-256 of the
        # server's certificate.
        der = subprocess.run(["openssl", "x509", "-in", self.certificate, "-outform", "DER"], check=True,
                             capture_output=True).stdout
        data = b"tls-server-end-point:" + hashlib.sha256(der).digest()
        binding = hashlib.md5(bytes(16) + struct.pack("<I", len(data)) + data).digest()
        for system in (True, False):
            for protection in (True, False):
                with self.subTest(system=system, protection=protection):
                    status, lines = self.client.run(*credentials(4, "MORVANE\\bob", "Bob-Pw1"), "--accept-cert", "yes",
                                                    "--config", f"UseSystemSSPI={system}", "--config",
                                                    f"ExtendedProtection={protection}",
                                                    self.tls_server.url("/ntlm/", "localhost"))
                    self.assertEchoed(status, lines)
                    [sent] = self.backend.authorizations(1)
                    self.assertEqual(ntlm_channel_binding(sent), binding if protection else None)

    def test_ntlm_with_the_default_credentials(self):
        # gss-ntlmssp finds the logged-on user in its user file.
        status, lines = self.client.run("--set", "AuthScheme=4", self.server.url("/ntlm/", "localhost"),
                                        env={"NTLM_USER_FILE": self.ntlm_users, "NTLMUSER": "bob"})
        self.assertEchoed(status, lines)


class LighttpdTest(AuthCase):
    @classmethod
    def setUpClass(cls):
        missing = missing_programs("lighttpd")
        if missing:
            raise unittest.SkipTest("missing: " + " ".join(missing))
        cls.folder = tempfile.mkdtemp(prefix="morvane-lighttpd-auth-")
        cls.backend = EchoBackend()
        cls.server = None
        try:
            cls.server = Lighttpd(cls.folder, cls.backend.port, USER, PASSWORD)
            cls.client = Client(cls.folder)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for part in (cls.server, cls.backend):
            if part is not None:
                part.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.backend.authorizations()

    def test_basic(self):
        self.check_basic(self.server, self.backend, self.client)

    def test_digest(self):
        self.check_digest(self.server, self.backend, self.client)

    def test_digest_challenge_carries_over_to_the_next_connect(self):
        self.check_digest_carries_over(self.server, self.backend, self.client)


if __name__ == "__main__":
    unittest.main()
