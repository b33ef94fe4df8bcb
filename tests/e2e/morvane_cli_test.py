"""The morvane tool as a host sees it: the control registered with comreg in
a registry of the test's own, created by ProgID, driven through IDispatch."""

import json
import os
import subprocess
import tempfile
import unittest

from processes import RegisteredControlCase

MORVANE = os.environ["MORVANE"]
LIBRARY = os.environ["MORVANE_LIBRARY"]
ECHO_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testdata", "ws_echo_server.py")


class MorvaneToolTest(RegisteredControlCase):
    def morvane(self, *args):
        result = self.run_morvane(*args)
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        return result.returncode, lines, result.stderr

    def test_config_through_the_dispatch_interface(self):
        status, lines, _ = self.morvane("--config", "maxframesize=0x1000", "--config", "MaxFrameSize")
        self.assertEqual(status, 0)
        self.assertEqual(lines, [{"config": "MaxFrameSize", "value": "4096"}])

    def test_failed_member_is_reported_with_its_error(self):
        status, lines, _ = self.morvane("--set", "FollowRedirects=3", "--get", "Timeout")
        self.assertEqual(status, 1)
        self.assertEqual(lines, [
            {"error": {"member": "FollowRedirects", "hresult": "0x800A017C",
                       "description": "Value is out of range.", "helpContext": 22021}},
            {"get": "Timeout", "value": 60}])
        status, lines, _ = self.morvane("--config", "NoSuchSetting")
        self.assertEqual(status, 1)
        self.assertEqual(lines[0]["error"]["member"], "Config")
        self.assertEqual(lines[0]["error"]["description"], "Unknown config setting.")

    def test_properties_methods_and_indexes(self):
        status, lines, _ = self.morvane("--set", "Timeout=30", "--get", "Timeout", "--call", "AddCookie",
                                        "--get", "CookieCount", "--get", "CookieName(5)")
        self.assertEqual(status, 1)  # AddCookie needs its arguments; CookieName(5) is out of range
        self.assertEqual(lines[0], {"get": "Timeout", "value": 30})
        self.assertEqual(lines[1]["error"]["member"], "AddCookie")
        self.assertEqual(lines[2], {"get": "CookieCount", "value": 0})
        self.assertEqual(lines[3]["error"]["description"], "Invalid array index.")

    def test_members_come_from_the_type_information(self):
        status, lines, _ = self.morvane("--members")
        self.assertEqual(status, 0)
        kinds = {}
        for line in lines:
            kinds.setdefault(line["kind"], set()).add(line["name"])
        self.assertEqual({kind: len(names) for kind, names in kinds.items()},
                         {"propget": 53, "propput": 53, "method": 11, "event": 11})
        by_key = {(line["name"], line["kind"]): line for line in lines}
        self.assertEqual(by_key[("Timeout", "propget")]["dispid"], 44)
        self.assertEqual(by_key[("Timeout", "propget")]["type"], "Integer")
        self.assertEqual(by_key[("CookieName", "propget")]["params"], [{"name": "CookieIndex", "type": "Integer"}])
        self.assertEqual(by_key[("AuthScheme", "propput")]["params"], [{"type": "AuthSchemes"}])
        self.assertEqual(by_key[("Config", "method")]["params"], [{"name": "ConfigurationString", "type": "String"}])
        self.assertEqual(by_key[("AboutBox", "method")]["dispid"], -552)
        self.assertEqual(by_key[("Redirect", "event")]["params"],
                         [{"name": "Location", "type": "String", "byRef": True},
                          {"name": "Accept", "type": "Boolean", "byRef": True}])
        # The page-hosting entries are callable but hidden from browsing.
        self.assertNotIn(("OnStartPage", "method"), by_key)

    def test_usage_errors(self):
        for args in (["--bogus"], ["--set", "Timeout"], ["--get", "CookieName(x)"], ["--bench", "latency"],
                     ["--bench", "latency", "ws://127.0.0.1:1/", "5", "0"], ["--accept-cert", "maybe"]):
            status, _, err = self.morvane(*args)
            self.assertEqual(status, 2, args)
            self.assertIn("--help", err)

    def test_bench_checks_every_echo(self):
        # The text echoes are checked in their events, the binary ones after;
        # a changed last character or byte must be caught either way.
        for workload, size, spoil, messages, error in (("latency", 64, 0, 40, None),
                                                       ("latency", 64, 7, 6, "echo 6 differs from what was sent"),
                                                       ("throughput", 100000, 2, 1, "echo 1 differs from what was sent")):
            with self.subTest(workload=workload, spoil=spoil):
                server = subprocess.Popen(["/usr/bin/python3", ECHO_SERVER, "--spoil", str(spoil)],
                                          stdout=subprocess.PIPE, text=True)
                try:
                    port = int(server.stdout.readline())
                    status, lines, _ = self.morvane("--bench", workload, f"ws://127.0.0.1:{port}/", "40", str(size))
                finally:
                    server.terminate()
                    server.wait(timeout=10)
                    server.stdout.close()
                result = lines[-1]
                self.assertEqual((status, result["ok"], result["messages"]), (0 if error is None else 1,
                                                                              error is None, messages), result)
                self.assertEqual(result.get("error"), error)

    def create_with_hives(self, machine, user):
        env = dict(self.env, TALTRIX_COM_MACHINE_HIVE=machine, TALTRIX_COM_USER_HIVE=user)
        result = subprocess.run([MORVANE, "--get", "Timeout"], env=env, capture_output=True, text=True, timeout=30)
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual(len(lines), 1, result.stdout)
        return result.returncode, lines[0]["error"]

    def test_unregistered_control_names_the_hives_and_the_remedy(self):
        empty = tempfile.mkdtemp(prefix="morvane-empty-", dir=self.folder)
        for name in ("empty-machine.reg", "empty-user.reg"):
            open(os.path.join(empty, name), "wb").close()
        # Hive files that do not exist yet, and hive files that hold nothing.
        for machine, user in ((os.path.join(empty, "none-m.reg"), os.path.join(empty, "none-u.reg")),
                              (os.path.join(empty, "empty-machine.reg"), os.path.join(empty, "empty-user.reg"))):
            with self.subTest(user=os.path.basename(user)):
                status, error = self.create_with_hives(machine, user)
                self.assertEqual(status, 1)
                self.assertEqual(error["member"], "CreateObject")
                self.assertEqual(error["hresult"], "0x800401F3")
                description = error["description"]
                self.assertIn("QuillonWS.Morvane is not registered", description)
                self.assertIn(user, description)
                self.assertIn(machine, description)
                self.assertTrue(description.endswith("comreg register --user " + LIBRARY), description)

    def test_unreadable_registry_is_named(self):
        folder = tempfile.mkdtemp(prefix="morvane-hive-", dir=self.folder)  # a folder where a hive file belongs
        status, error = self.create_with_hives(os.path.join(self.folder, "machine.reg"), folder)
        self.assertEqual(status, 1)
        self.assertEqual(error["member"], "CreateObject")
        self.assertIn("registry cannot be read", error["description"])
        self.assertIn(folder, error["description"])

if __name__ == "__main__":
    unittest.main()
