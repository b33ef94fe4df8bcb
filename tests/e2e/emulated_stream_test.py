"""The emulated ES16's noisy, chunked stream through taltrix --convert: every
shot it sends comes out as one launch message whose launch code the
simulator side accepts."""

import json
import os
import socket
import subprocess
import sys
import threading
import unittest

TALTRIX = os.environ["TALTRIX"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]
EMULATORS = os.path.join(SOURCE_DIR, "tools", "emulators")
sys.path.insert(0, EMULATORS)

from launch_code import check_launch  # noqa: E402


class EmulatedStreamTest(unittest.TestCase):
    def test_every_generated_shot_arrives_once_and_checks_out(self):
        shots = 25
        device = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(EMULATORS, "es16_emulator.py"), "--random", "7", "--club", "Drv"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(device.kill)
        words = device.stdout.readline().split()
        self.assertEqual(words[0], "listening")
        link = socket.create_connection((words[1], int(words[2])), timeout=10)
        self.addCleanup(link.close)
        self.assertTrue(device.stdout.readline().startswith("connected"))

        convert = subprocess.Popen([TALTRIX, "--convert", "--sim", "TGC"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(convert.kill)

        def pump():
            # Whatever the radio delivers goes on to the bridge, read by read.
            while data := link.recv(4096):
                convert.stdin.buffer.write(data)
                convert.stdin.buffer.flush()
        threading.Thread(target=pump, daemon=True).start()

        sent = []
        for _ in range(shots):
            device.stdin.write("shot\n")
            device.stdin.flush()
            line = device.stdout.readline().split(" ", 1)
            self.assertEqual(line[0], "sent")
            sent.append(line[1].strip())

        received = [convert.stdout.readline() for _ in range(shots)]
        for message, line in zip(sent, received):
            launch = json.loads(line)
            self.assertEqual(launch["protocol"], "HXLAUNCH")
            ok, reason = check_launch(launch["DATA"])
            self.assertTrue(ok, reason)
            # The ball speed the device sent is the one the simulator gets.
            ball_speed = message[message.index("BS") + 2:message.index("CD")]
            self.assertEqual(launch["DATA"]["ballSpeedMPH"], ball_speed)

        device.stdin.write("quit\n")
        device.stdin.flush()


if __name__ == "__main__":
    unittest.main()
