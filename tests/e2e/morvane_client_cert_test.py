"""The morvane tool shows a client certificate to a python3-websockets server
behind Python's ssl that requires one, and the server reports which
certificate it got. The certificate comes from a PFX file, a PFX held in
memory, a PEM key file, the user's MY store, or SSLCertEncoded with its key
found in the user's store."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

from processes import registered_control_env, ThrowawayPki

MORVANE = os.environ["MORVANE"]
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testdata", "wss_echo_server.py")


class ClientCertificateTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="morvane-client-cert-")
        pki = cls.pki = ThrowawayPki(cls.folder)
        user = os.path.join(cls.folder, "stores", "user")
        pki.put_ca(user)
        cls.client = {name: pki.issue_client(name, name, key_type)
                      for name, key_type in (("alice", "rsa"), ("bob", "ec"), ("carol", "ec"), ("dave", "rsa"))}
        pki._openssl("pkcs12", "-export", "-in", cls.client["alice"][0], "-inkey", cls.client["alice"][1],
                     "-certfile", pki.ca, "-passout", "pass:secret", "-out", cls.path("alice.pfx"))
        with open(cls.path("bob-key.pem"), "w") as combined:
            for part in cls.client["bob"]:
                with open(part) as f:
                    combined.write(f.read())
        # The user's personal store: carol's certificate and key side by
        # side, and dave's key alone (his certificate is given whole).
        personal = os.path.join(user, "MY")
        os.makedirs(personal)
        shutil.copy(cls.client["carol"][0], os.path.join(personal, "carol.crt"))
        shutil.copy(cls.client["carol"][1], os.path.join(personal, "carol.key"))
        shutil.copy(cls.client["dave"][1], os.path.join(personal, "dave.key"))

        cls.env = registered_control_env(cls.folder, dict(os.environ, TALTRIX_CERT_USER_DIR=user,
                                                          TALTRIX_CERT_MACHINE_DIR=os.path.join(cls.folder, "stores",
                                                                                                "machine")))
        cls.server = subprocess.Popen(["/usr/bin/python3", SERVER, "--cert", pki.cert, "--key", pki.key,
                                       "--client-ca", pki.ca], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                      text=True)
        cls.url = f"wss://127.0.0.1:{int(cls.server.stdout.readline())}/"

    @classmethod
    def path(cls, name):
        return os.path.join(cls.folder, name)

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(timeout=10)
        shutil.rmtree(cls.folder, ignore_errors=True)

    def morvane(self, *args):
        result = subprocess.run([MORVANE, "--set", "Timeout=10", *args], env=self.env, input="hi\n",
                                capture_output=True, text=True, timeout=30)
        return result.returncode, [json.loads(line) for line in result.stdout.splitlines()]

    def client_seen(self):
        return json.loads(self.server.stdout.readline())["client"]

    def test_each_source_of_a_certificate_reaches_the_server(self):
        cases = [
            ("PFX file, first certificate with a key",
             ["--set", "SSLCertStoreType=2", "--set", "SSLCertStore=" + self.path("alice.pfx"),
              "--set", "SSLCertStorePassword=secret", "--set", "SSLCertSubject=*"], "alice"),
            ("PFX held in memory",
             ["--set", "SSLCertStoreType=3", "--set", "SSLCertStore=@" + self.path("alice.pfx"),
              "--set", "SSLCertStorePassword=secret", "--set", "SSLCertSubject=CN=alice"], "alice"),
            ("PEM key file, part of the subject",
             ["--set", "SSLCertStoreType=6", "--set", "SSLCertStore=" + self.path("bob-key.pem"),
              "--set", "SSLCertSubject=bob"], "bob"),
            ("the user's MY store, exact distinguished name",
             ["--set", "SSLCertSubject=O=Taltrix Tests, CN=carol"], "carol"),
            ("SSLCertEncoded, key from the user's store",
             ["--set", "SSLCertEncoded=@" + self.client["dave"][0]], "dave"),
        ]
        for title, options, name in cases:
            with self.subTest(title):
                status, lines = self.morvane(*options, self.url)
                self.assertEqual(status, 0, lines)
                self.assertEqual([line["Text"] for line in lines if line.get("event") == "DataIn"], ["hi"])
                self.assertEqual(self.client_seen(), f"organizationName=Taltrix Tests,commonName={name}")

    def test_the_chosen_subject_reads_back_in_full(self):
        status, lines = self.morvane("--set", "SSLCertStoreType=2", "--set", "SSLCertStore=" + self.path("alice.pfx"),
                                     "--set", "SSLCertStorePassword=secret", "--set", "SSLCertSubject=*",
                                     "--get", "SSLCertSubject")
        self.assertEqual(status, 0, lines)
        self.assertEqual(lines[-1], {"get": "SSLCertSubject", "value": "O=Taltrix Tests, CN=alice"})

    def test_failures_name_their_cause(self):
        cases = [
            ("no such subject", ["--set", "SSLCertSubject=CN=nobody"], "Cannot find specified certificate."),
            ("JKS is not read", ["--set", "SSLCertStoreType=4", "--set", "SSLCertStore=x.jks",
                                 "--set", "SSLCertSubject=*"], "Unknown or unsupported certificate store type."),
            ("a missing PFX file", ["--set", "SSLCertStoreType=2", "--set", "SSLCertStore=/no/such.pfx",
                                    "--set", "SSLCertSubject=*"], "The certificate file could not be opened."),
            ("a missing store", ["--set", "SSLCertStore=Nowhere", "--set", "SSLCertSubject=*"],
             "The certificate store could not be opened (2)."),
        ]
        for title, options, text in cases:
            with self.subTest(title):
                status, lines = self.morvane(*options)
                self.assertEqual(status, 1, lines)
                self.assertEqual(lines[-1]["error"]["member"], "SSLCertSubject")
                self.assertEqual(lines[-1]["error"]["description"], text)

    def test_a_certificate_without_its_key_is_refused_before_connecting(self):
        status, lines = self.morvane("--set", "SSLCertEncoded=@" + self.client["bob"][0], self.url)
        self.assertEqual(status, 1, lines)
        self.assertEqual(lines[-1]["error"]["member"], "Connect")
        self.assertEqual(lines[-1]["error"]["description"], "Could not acquire security credentials: error -2146893042.")

    def test_without_a_certificate_the_server_refuses(self):
        status, lines = self.morvane(self.url)
        self.assertNotEqual(status, 0, lines)
        self.assertIn("Client certificate requested from server.",
                      [line["Message"] for line in lines if line.get("event") == "SSLStatus"])
        self.assertFalse([line for line in lines if line.get("event") in ("Connected", "DataIn")])
        self.assertEqual([line["error"]["member"] for line in lines if "error" in line], ["Connect"])


if __name__ == "__main__":
    unittest.main()
