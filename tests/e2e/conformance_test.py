"""morvane --echo through the conformance suite in tests/e2e/conformance,
with StrictProtocol off and on. Writes the Markdown report to
CONFORMANCE_REPORT (if set) and holds the verdicts to what the control
promises: strict, every case passes but those that need an empty message
echoed; lax, the same for every case that breaks no rule.

Run by hand to write a report, with the large-message group (or with
--reference-all every group, as docs/conformance.md has it) also played
against the python3-websockets reference client in the same run:
    conformance_test.py --build BUILD_DIR --report FILE [--reference-all]"""

import argparse
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from conformance.cases import GROUPS  # noqa: E402
from conformance.engine import FAIL, LAX, PASS, play_all  # noqa: E402
from conformance.report import write_report  # noqa: E402
from processes import registered_control_env  # noqa: E402

LAX_NAME, STRICT_NAME, REFERENCE_NAME = "Morvane", "Morvane, StrictProtocol", "python3-websockets"


def run_suite(morvane, report, reference_groups=()):
    """Every group with morvane in both modes, and the reference client on
    reference_groups (None: on every group)."""
    folder = tempfile.mkdtemp(prefix="morvane-conformance-")
    try:
        os.environ.update(registered_control_env(folder))
        clients = [(LAX_NAME, [morvane, "--echo"], False, True),
                   (STRICT_NAME, [morvane, "--config", "StrictProtocol=True", "--echo"], True, True),
                   (REFERENCE_NAME, ["/usr/bin/python3", os.path.join(HERE, "testdata", "ws_echo_client.py")], True,
                    False)]
        if reference_groups is not None and not reference_groups:
            clients.pop()
        results, times = play_all(GROUPS, clients, None if reference_groups is None else
                                  {REFERENCE_NAME: set(reference_groups)})
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    write_report(report, GROUPS, results, times, [name for name, *_ in clients])
    return results


class ConformanceTest(unittest.TestCase):
    def test_every_case_in_both_modes(self):
        folder = tempfile.mkdtemp(prefix="conformance-report-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        report = os.environ.get("CONFORMANCE_REPORT") or os.path.join(folder, "conformance.md")
        results = run_suite(os.environ["MORVANE"], report)
        for group in GROUPS:
            for case in group.cases:
                wanted = FAIL if case.empty else PASS
                with self.subTest(case=case.id, title=case.title):
                    strict, lax = results[STRICT_NAME][case.id], results[LAX_NAME][case.id]
                    self.assertEqual(strict.outcome, wanted, strict.note)
                    self.assertEqual(lax.outcome, LAX if case.breaks else wanted, lax.note)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the build folder, e.g. build/default")
    parser.add_argument("--report", required=True, help="where to write the Markdown report")
    parser.add_argument("--reference-all", action="store_true", help="every group against python3-websockets")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    os.environ.setdefault("COMREG", os.path.join(build, "tools", "comreg", "comreg"))
    os.environ.setdefault("MORVANE_LIBRARY", os.path.join(build, "control", "com", "libmorvane.so"))
    results = run_suite(os.path.join(build, "tools", "morvane", "morvane"), args.report,
                        None if args.reference_all else {9})
    failed = sum(v.outcome == FAIL for verdicts in results.values() for v in verdicts.values())
    print(f"{args.report}: {failed} failing verdicts")


if __name__ == "__main__":
    main()
