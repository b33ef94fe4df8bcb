"""morvane --save/--load and --save-bag/--load-bag: the control's persisted
properties through IPersistStreamInit and IPersistPropertyBag, with the
stream form read back here by a reader of the test's own, written from the
documented layout (zlib gives the CRC-32)."""

import json
import os
import stat
import struct
import unittest
import zlib

from processes import RegisteredControlCase


PERSISTED = ["Authorization", "AuthScheme", "DataFormat", "FirewallAutoDetect", "FirewallType",
             "FirewallHost", "FirewallPassword", "FirewallPort", "FirewallUser", "FollowRedirects",
             "Password", "ProxyAuthScheme", "ProxyAutoDetect", "ProxyPassword", "ProxyPort",
             "ProxyServer", "ProxySSL", "ProxyUser", "SSLCertStore", "SSLCertStorePassword",
             "SSLCertStoreType", "SSLCertSubject", "Timeout", "User"]


def read_saved(data):
    """[(dispid, value)] of a saved stream, checking its header and CRC."""
    magic, version, count, length, crc = struct.unpack("<4sHHII", data[:16])
    assert (magic, version, count) == (b"MVPS", 1, 24), (magic, version, count)
    body = data[16:16 + length]
    assert len(body) == length and zlib.crc32(body) == crc
    at, values = 0, []
    for _ in range(count):
        dispid, kind = struct.unpack("<iB", body[at:at + 5])
        at += 5
        if kind == 1:
            value, at = bool(body[at]), at + 1
        elif kind == 2:
            (value,), at = struct.unpack("<h", body[at:at + 2]), at + 2
        elif kind == 3:
            (value,), at = struct.unpack("<i", body[at:at + 4]), at + 4
        else:
            (units,) = struct.unpack("<I", body[at:at + 4])
            value = body[at + 4:at + 4 + 2 * units].decode("utf-16-le")
            at += 4 + 2 * units
        values.append((dispid, value))
    assert at == length
    return values


class MorvanePersistTest(RegisteredControlCase):
    def morvane(self, *args):
        done = self.run_morvane(*args)
        return done.returncode, [json.loads(line) for line in done.stdout.splitlines()]

    def path(self, name):
        return os.path.join(self.folder, name)

    def test_timeout_saved_then_loaded(self):
        saved = self.path("s.bin")
        code, _ = self.morvane("--set", "Timeout=30", "--set", "OtherHeaders=X-Only: here",
                               "--set", "Password=s\u00e9cret", "--save", saved)
        self.assertEqual(code, 0)
        self.assertEqual(stat.S_IMODE(os.stat(saved).st_mode), 0o600)
        code, lines = self.morvane("--load", saved, "--get", "Timeout", "--get", "OtherHeaders")
        self.assertEqual(code, 0)
        self.assertEqual(lines, [{"get": "Timeout", "value": 30}, {"get": "OtherHeaders", "value": ""}])

        with open(saved, "rb") as f:
            values = dict(read_saved(f.read()))
        self.assertEqual(len(values), 24)
        self.assertEqual(values[44], 30)            # Timeout
        self.assertEqual(values[28], "s\u00e9cret")  # Password, in clear
        self.assertNotIn(24, values)                # OtherHeaders

    def test_bag_file_lists_every_persisted_property_once(self):
        bag = self.path("b.txt")
        code, _ = self.morvane("--set", "User=alice", "--set", "FollowRedirects=2", "--save-bag", bag)
        self.assertEqual(code, 0)
        with open(bag, encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertEqual([line.split("=", 1)[0] for line in lines], PERSISTED)
        self.assertIn("User=alice", lines)
        with open(bag, "w", encoding="utf-8") as f:
            f.write("Timeout=15\nProxyServer=proxy.example\n")
        code, lines = self.morvane("--load-bag", bag, "--get", "Timeout", "--get", "ProxyServer", "--get", "ProxyPort")
        self.assertEqual(code, 0)
        self.assertEqual([line["value"] for line in lines], [15, "proxy.example", 80])

    def test_refused_files_leave_the_control_as_it_was(self):
        good = self.path("good.bin")
        self.assertEqual(self.morvane("--set", "Timeout=30", "--save", good)[0], 0)
        with open(good, "rb") as f:
            data = f.read()
        newer = data[:4] + struct.pack("<H", 2) + data[6:]
        cases = {"cut.bin": (data[:-1], "0x80030109"), "newer.bin": (newer, "0x80030105"),
                 "other.bin": (b"not a saved control", "0x800300FB")}
        for name, (content, hresult) in cases.items():
            with open(self.path(name), "wb") as f:
                f.write(content)
            code, lines = self.morvane("--set", "Timeout=45", "--load", self.path(name), "--get", "Timeout")
            self.assertEqual(code, 1, name)
            self.assertEqual(lines[0]["error"]["hresult"], hresult, name)
            self.assertEqual(lines[1], {"get": "Timeout", "value": 45}, name)


if __name__ == "__main__":
    unittest.main()
