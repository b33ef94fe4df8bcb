"""The overlay page in a real browser: Debian's headless Chromium loads
/overlay from a running bridge while shots are sent, and shows them."""

import asyncio
import os
import tempfile
import unittest

from feed_peers import FeedBridge
from overlay_browser import Chromium, show_shot


class OverlayTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bridge = FeedBridge()
        cls.chromium = Chromium()

    @classmethod
    def tearDownClass(cls):
        cls.chromium.stop()
        cls.bridge.stop()

    def test_the_page_shows_each_new_shot_in_the_units_asked_for(self):
        folder = tempfile.mkdtemp(prefix="taltrix-overlay-")
        screenshot = os.path.join(folder, "overlay.png")
        cases = [
            ("/overlay", 152.3, {"ball-speed": "152.3mph", "club-speed": "93.0mph"}),
            ("/overlay?units=metric", 100.0, {"ball-speed": "160.9km/h", "club-speed": "149.6km/h"}),
        ]
        for path, speed, expected in cases:
            with self.subTest(path):
                values = asyncio.run(show_shot(self.chromium, self.bridge.url(path),
                                               lambda: self.bridge.shot(speed), screenshot))
                for key, text in expected.items():
                    self.assertEqual(values[key], text)
                self.assertEqual(values["launch-angle"], "13.0°")
                self.assertEqual(values["back-spin"], "4217rpm")
                self.assertEqual(values["spin-axis"], "-1.0°")
                self.assertEqual(values["club"], "5Ir")
                self.assertEqual(values["background"], "rgba(0, 0, 0, 0)")
                with open(screenshot, "rb") as f:
                    self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    unittest.main()
