"""taltrix --convert as a filter: launch-monitor text in, simulator messages out."""

import os
import re
import subprocess
import time
import unittest

TALTRIX = os.environ["TALTRIX"]
SOURCE_DIR = os.environ["TALTRIX_SOURCE_DIR"]

EXAMPLE = ("ES16Prt001CS093.0BS131.1CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0"
           "AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End")


def launch_code(back_spin, ball_angle):
    """The check value, computed here from the constants the build shares with the simulators."""
    with open(os.path.join(SOURCE_DIR, "bridge/shot/launch_code.h")) as header:
        text = header.read()
    multiplier = int(re.search(r"launchCodeMultiplier = (\d+);", text).group(1))
    offset = int(re.search(r"launchCodeOffset = (\d+);", text).group(1))
    return back_spin * multiplier * ball_angle + offset


def convert(chunks, *options, pause=0.05):
    """Runs the filter, writing each chunk separately so each arrives as its own read."""
    process = subprocess.Popen([TALTRIX, "--convert", *options], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for chunk in chunks:
        process.stdin.write(chunk)
        process.stdin.flush()
        time.sleep(pause)
    out, err = process.communicate(timeout=30)
    return process.returncode, out.decode("latin-1"), err.decode("latin-1")


class ConvertTest(unittest.TestCase):
    def test_example_shot_to_tgc(self):
        code = launch_code(4217, 13)
        status, out, err = convert([EXAMPLE[:60].encode(), EXAMPLE[60:130].encode(),
                                    EXAMPLE[130:].encode() + b"\r\n"], "--sim", "TGC")
        self.assertEqual(status, 0, err)
        self.assertEqual(out, '{"protocol":"HXLAUNCH",  "DATA":{"ballSpeedMPH":"131.1", "ballSpeedKMH":"210.9", '
                              '"ballDirection":"-004.8", "ballAngle":"013.0", "spinAxis":"-001.0", '
                              '"sideSpin":"-94", "backSpin":"4217", "clubSpeedMPH":"093.0", '
                              '"clubSpeedKMH":"149.6", "clubFace":"0", "swingPath":"0",  '
                              f'"launchCode":"{code}"}}}}\n')

    def test_example_shot_to_halvex_play(self):
        code = launch_code(4217, 13)
        status, out, err = convert([EXAMPLE.encode()], "--sim", "HalvexPlay", "--club", "DR")
        self.assertEqual(status, 0, err)
        self.assertEqual(out, '/launch {"protocol":"HXP",  "DATA":{"club":"DR", "ballSpeedMPH":"131.1", '
                              '"ballDirection":"-004.8", "ballAngle":"013.0", "spinAxis":"-001.0", '
                              f'"sideSpin":"-94", "backSpin":"4217",  "launchCode":"{code}"}}}}\n')

    def test_every_shot_in_a_noisy_stream_comes_out_in_order(self):
        second = EXAMPLE.replace("LA13.1", "LA20.5").replace("SP04217", "SP03000")
        stream = ("OK\r\n" + EXAMPLE[:100] + "\r\n" + EXAMPLE[100:] + "\r\nEnd\r\n" + second + "\r\n"
                  + EXAMPLE[:50]).encode()
        status, out, _ = convert([stream[i:i + 37] for i in range(0, len(stream), 37)], "--sim", "TGC",
                                 pause=0.005)
        self.assertEqual(status, 0)
        lines = out.splitlines()
        self.assertEqual(len(lines), 2)
        self.assertIn(f'"launchCode":"{launch_code(4217, 13)}"', lines[0])
        self.assertIn('"ballAngle":"020.0"', lines[1])
        self.assertIn(f'"launchCode":"{launch_code(3000, 20)}"', lines[1])

    def test_usage_errors_and_help(self):
        for arguments in (["--sim", "Other"], ["--bogus"], ["--club"]):
            result = subprocess.run([TALTRIX, "--convert", *arguments], capture_output=True, timeout=10)
            self.assertEqual(result.returncode, 2, arguments)
            self.assertIn(b"--help", result.stderr)
        result = subprocess.run([TALTRIX, "--help"], capture_output=True, timeout=10)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"--convert --sim TGC|HalvexPlay", result.stdout)


if __name__ == "__main__":
    unittest.main()
