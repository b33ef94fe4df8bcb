"""morvane --draw: the control's design-time picture, drawn through
IViewObject::Draw by the tool acting as a container in design mode, and read
back here with a PNG decoder of the test's own (zlib and the chunk layout)."""

import os
import shutil
import struct
import subprocess
import unittest
import zlib

from processes import RegisteredControlCase


BLACK = (0, 0, 0, 255)
FACE = (0xF0, 0xF0, 0xF0, 255)
HIGHLIGHT = (255, 255, 255, 255)
SHADOW = (0xA0, 0xA0, 0xA0, 255)
PIN = (0x80, 0x80, 0x80, 255)
BODY = (0x00, 0x80, 0x80, 255)


def read_png(path):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA PNG without filters."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, packed, width, height = 8, b"", 0, 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert zlib.crc32(kind + body) == crc, kind
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 6)
        elif kind == b"IDAT":
            packed += body
        at += 12 + length
    raw = zlib.decompress(packed)
    stride = 1 + 4 * width
    rows = []
    for y in range(height):
        line = raw[y * stride:(y + 1) * stride]
        assert line[0] == 0
        rows.append([tuple(line[1 + 4 * x:5 + 4 * x]) for x in range(width)])
    return width, height, rows


class MorvaneDrawTest(RegisteredControlCase):
    def morvane(self, *args):
        return self.run_morvane(*args)

    def test_design_time_picture(self):
        path = os.path.join(self.folder, "control.png")
        result = self.morvane("--draw", path, "40x30")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        width, height, rows = read_png(path)
        self.assertEqual((width, height), (40, 30))
        expected = {
            (0, 0): BLACK, (39, 0): BLACK, (0, 29): BLACK, (39, 29): BLACK,
            (1, 1): HIGHLIGHT, (38, 1): SHADOW, (1, 28): SHADOW, (38, 28): SHADOW,
            (30, 20): FACE,
            (6, 7): FACE,     # the bitmap's transparent corner
            (11, 8): PIN, (16, 10): PIN, (9, 11): BLACK, (10, 12): BODY,
        }
        for (x, y), colour in expected.items():
            self.assertEqual(rows[y][x], colour, (x, y))
        if shutil.which("pngcheck"):
            subprocess.run(["pngcheck", "-q", path], check=True)

    def test_bad_sizes_and_paths(self):
        for size in ("40", "0x10", "10x", "40x30x2", "-5x5", "5000x10"):
            result = self.morvane("--draw", os.path.join(self.folder, "x.png"), size)
            self.assertEqual(result.returncode, 2, size)
            self.assertIn("--draw takes", result.stderr)
        result = self.morvane("--draw", os.path.join(self.folder, "missing", "x.png"), "8x8")
        self.assertEqual(result.returncode, 1)
        self.assertIn('"member":"Draw"', result.stdout)


if __name__ == "__main__":
    unittest.main()
