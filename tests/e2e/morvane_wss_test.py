"""The morvane tool over wss against a python3-websockets server behind
Python's ssl: a certificate from a CA in the user's Root store is trusted, a
self-signed one is put to the SSLServerAuthentication handler, and one given
in advance with SSLAcceptServerCertEncoded=@FILE is taken at once."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

from processes import registered_control_env

MORVANE = os.environ["MORVANE"]
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testdata", "wss_echo_server.py")

UNTRUSTED = ("[0x800b0109] A certification chain processed correctly but terminated in a root certificate not "
             "trusted by the trust provider.")


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    """A CA and a server certificate from it for 127.0.0.1, and a
    self-signed server certificate."""
    names = "subjectAltName=DNS:localhost,IP:127.0.0.1"
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test Root",
            "-keyout", "ca.key", "-out", "ca.pem", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", "server.key",
            "-out", "server.csr", cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as ext:
        ext.write(names + "\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-days", "2", "-extfile", "server.ext", "-out", "server.pem", cwd=folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
            "-addext", names, "-keyout", "self.key", "-out", "self.pem", cwd=folder)


class Server:
    def __init__(self, cert, key):
        self.process = subprocess.Popen(["/usr/bin/python3", SERVER, "--cert", cert, "--key", key],
                                        stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())

    def url(self):
        return f"wss://127.0.0.1:{self.port}/"

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class MorvaneWssTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="morvane-wss-")
        make_certificates(cls.folder)
        stores = os.path.join(cls.folder, "stores")
        os.makedirs(os.path.join(stores, "user", "Root"))
        shutil.copy(os.path.join(cls.folder, "ca.pem"), os.path.join(stores, "user", "Root"))
        cls.env = registered_control_env(cls.folder, dict(os.environ, TALTRIX_CERT_USER_DIR=os.path.join(stores, "user"),
                                                          TALTRIX_CERT_MACHINE_DIR=os.path.join(stores, "machine")))
        path = lambda name: os.path.join(cls.folder, name)
        cls.trusted = Server(path("server.pem"), path("server.key"))
        cls.self_signed = Server(path("self.pem"), path("self.key"))

    @classmethod
    def tearDownClass(cls):
        cls.trusted.stop()
        cls.self_signed.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def morvane(self, *args, text="hi\n"):
        result = subprocess.run([MORVANE, *args], env=self.env, input=text, capture_output=True, text=True,
                                timeout=30)
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        return result.returncode, lines

    @staticmethod
    def events(lines, name):
        return [line for line in lines if line.get("event") == name]

    def test_a_trusted_server_echoes(self):
        status, lines = self.morvane(self.trusted.url())
        self.assertEqual(status, 0, lines)
        order = [line["event"] for line in lines
                 if line.get("event") in ("Connected", "DataIn", "Disconnected")]
        self.assertEqual(order, ["Connected", "DataIn", "Disconnected"])
        self.assertEqual(self.events(lines, "DataIn")[0]["Text"], "hi")
        statuses = [line["Message"] for line in self.events(lines, "SSLStatus")]
        self.assertIn("Socket connection established.", statuses)
        self.assertTrue(any(s.startswith("Negotiated SSL parameters: Protocol: TLS1.2 ") for s in statuses), statuses)
        authentication = self.events(lines, "SSLServerAuthentication")[0]
        self.assertEqual(authentication["Status"], "[0x0] OK")
        self.assertTrue(authentication["Accept"])

    def test_texts_come_back_as_they_were_sent(self):
        # Short ASCII goes out from the stack, the rest the general way.
        texts = ["hi", "x" * 256, "y" * 257, "caf\u00e9", "z" * 40 + "\u00e9"]
        status, lines = self.morvane(self.trusted.url(), text="".join(t + "\n" for t in texts))
        self.assertEqual(status, 0, lines)
        self.assertEqual([line["Text"] for line in self.events(lines, "DataIn")], texts)

    def test_a_self_signed_server_is_put_to_the_handler(self):
        status, lines = self.morvane(self.self_signed.url())
        self.assertEqual(status, 1)
        authentication = self.events(lines, "SSLServerAuthentication")
        self.assertEqual(len(authentication), 1)
        self.assertEqual(authentication[0]["Status"], UNTRUSTED)
        self.assertFalse(authentication[0]["Accept"])
        self.assertTrue(authentication[0]["CertEncoded"].startswith("-----BEGIN CERTIFICATE-----\r\n"))
        self.assertEqual(authentication[0]["CertSubject"], "CN=localhost")
        self.assertEqual(self.events(lines, "Error")[0]["ErrorCode"], 280)
        failure = lines[-1]["error"]
        self.assertEqual(failure["member"], "Connect")
        self.assertEqual(failure["hresult"], "0x800A4F35")  # 276
        self.assertEqual(failure["description"], "Server certificate verification failed. Connection aborted.")
        self.assertFalse(self.events(lines, "Connected"))

        status, lines = self.morvane("--accept-cert", "yes", self.self_signed.url())
        self.assertEqual(status, 0, lines)
        self.assertEqual(self.events(lines, "DataIn")[0]["Text"], "hi")

    def test_a_certificate_accepted_in_advance_is_taken_without_asking(self):
        certificate = os.path.join(self.folder, "self.pem")
        status, lines = self.morvane("--set", f"SSLAcceptServerCertEncoded=@{certificate}", self.self_signed.url())
        self.assertEqual(status, 0, lines)
        self.assertFalse(self.events(lines, "SSLServerAuthentication"))
        self.assertEqual(self.events(lines, "DataIn")[0]["Text"], "hi")

        status, lines = self.morvane("--set", "SSLAcceptServerCertEncoded=@/no/such/file", self.self_signed.url())
        self.assertEqual(status, 2)


if __name__ == "__main__":
    unittest.main()
