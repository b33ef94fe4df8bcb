"""The Markdown report: a summary, the large-message group's times, and a
table of verdicts per group with a column per client."""

from conformance.engine import FAIL, LAX, PASS

INTRO = """# RFC 6455 conformance

Morvane's `morvane --echo` against a conformance suite of our own
(`tests/e2e/conformance`), which plays the client cases of RFC 6455 in the
groups that conformance reports use: framing, pings, reserved bits, opcodes,
fragmentation, UTF-8, close handling, large messages and the client's own
fragmentation. A raw-socket server answers the handshake and plays each
case; the client echoes every message. Each case runs with the
`StrictProtocol` setting off (the default) and on, and also against an echo
client built on Debian's python3-websockets, in the same run, to compare
with and to time the large messages beside.

Verdicts: **pass**, **FAIL** (with what went wrong), and **lax** for a case
that breaks a rule of RFC 6455 when `StrictProtocol` is off: the control is
then not held to the rule, as its hosts expect (it reads such frames for
their structure only), and the note says what it did instead when it did not
go on as if nothing were wrong.

**Empty messages.** The control sends nothing for an empty payload, and an
empty incoming message raises no `DataIn`, so an echo client built on it
cannot send an empty message back: the cases that echo an empty message
(1.1.1, 1.2.1, 5.16, 6.1.1, 6.1.2) fail in both modes. That is how the
control is specified, and it stays so.

To reproduce (from the source folder, after `./run build`):

    /usr/bin/python3 tests/e2e/conformance_test.py --build build/default --report docs/conformance.md --reference-all

Without `--reference-all`, the python3-websockets client plays the large
messages only. The end-to-end test `e2e_conformance` runs the same suite
without it and holds Morvane's verdicts to the above.
"""


def cell(verdict):
    if verdict is None:
        return ""
    if verdict.outcome == PASS or (verdict.outcome == LAX and verdict.note.startswith("went on")) or not verdict.note:
        return verdict.outcome
    return f"{verdict.outcome}: {verdict.note}".replace("|", "\\|")


def write_report(path, groups, results, times, names):
    lines = [INTRO, "## Summary", "", "| Group | Cases | " + " | ".join(names) + " |",
             "|---|---|" + "---|" * len(names)]
    for group in groups:
        row = [f"{group.number} {group.title}", str(len(group.cases))]
        for name in names:
            verdicts = [results[name][c.id] for c in group.cases if c.id in results[name]]
            if not verdicts:
                row.append("")
                continue
            counts = {o: sum(v.outcome == o for v in verdicts) for o in (PASS, LAX, FAIL)}
            row.append(", ".join(f"{n} {o}" for o, n in counts.items() if n))
        lines.append("| " + " | ".join(row) + " |")
    lines += ["", "## Time of the large-message group", "",
              "Wall time of group 9 (each case's client start, handshake, echo and close), the clients taking turns "
              "group by group in the same run. On a machine shared with other work the times move from run to run; "
              "the clients were measured under the same load.", "", "| Client | Seconds |", "|---|---|"]
    lines += [f"| {name} | {times[name][9]:.1f} |" for name in names if times[name][9]]
    for group in groups:
        lines += ["", f"## {group.number} {group.title}", "", "| Case | The server sends | " + " | ".join(names) + " |",
                  "|---|---|" + "---|" * len(names)]
        for case in group.cases:
            lines.append(f"| {case.id} | {case.title} | " +
                         " | ".join(cell(results[name].get(case.id)) for name in names) + " |")
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")
