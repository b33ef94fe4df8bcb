#!/usr/bin/python3
"""Writes a program's manual page from its own --help text, so the two say
the same thing: the usage lines become the synopsis, the opening paragraphs
the description, headings ending in ':' sections, and each indented option
with its explanation a tagged paragraph. The page is written gzipped as
Debian wants it (gzip -9n: no name, no time stamp).

Usage: man_page.py --name NAME --summary TEXT --version TEXT --output FILE.1.gz
                   --changelog FILE [--drop PREFIX] PROGRAM
The page is dated by the changelog's newest entry, so that the same sources
give the same page. --drop leaves out the paragraph that starts with PREFIX
(what --help says of this one run, such as the folder in use)."""

import argparse
import email.utils
import gzip
import re
import subprocess
import sys

TAGGED = re.compile(r"^( {0,2})(\S(?:\S| (?! ))*)( {2,})(\S.*)$")


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text


def paragraphs(lines):
    block = []
    for line in lines:
        if line.strip():
            block.append(line.rstrip())
        elif block:
            yield block
            block = []
    if block:
        yield block


def release_date(changelog):
    """The date of the changelog's newest entry, as the page's date: a page
    made again from the same sources is the same page."""
    with open(changelog, encoding="utf-8") as f:
        for line in f:
            if line.startswith(" -- "):
                return email.utils.parsedate_to_datetime(line.rsplit("  ", 1)[1].strip()).strftime("%Y-%m-%d")
    sys.exit(f"man_page.py: {changelog} has no entry trailer (\" -- NAME  DATE\")")


def page(name, summary, version, date, help_text, drop):
    lines = help_text.splitlines()
    synopsis = []
    while lines and (lines[0].startswith("Usage: ") or (synopsis and lines[0].startswith(" ") and lines[0].strip())):
        synopsis.append(lines.pop(0).replace("Usage: ", "", 1).strip())
    out = [f'.TH {name.upper()} 1 "{date}" "{roff(version)}" "User Commands"',
           ".SH NAME", f"{roff(name)} \\- {roff(summary)}", ".SH SYNOPSIS"]
    for line in synopsis:
        out += [".B " + roff(line), ".br"]
    section = "DESCRIPTION"
    out.append(".SH DESCRIPTION")
    for block in paragraphs(lines):
        if drop and block[0].startswith(drop):
            continue
        if not block[0].startswith(" ") and block[0].endswith(":"):
            section = block[0][:-1].upper()
            out.append(".SH " + roff(section))
            block = block[1:]
        entry_open = in_text = False
        for line in block:
            tagged = TAGGED.match(line)
            tag_only = line.startswith("  -") and not tagged
            if tagged or tag_only:
                if section == "DESCRIPTION" and line.startswith("  "):
                    section = "OPTIONS"
                    out.append(".SH OPTIONS")
                tag = tagged.group(2) if tagged else line.strip()
                out.append(".TQ" if entry_open and out[-1].startswith(".B ") else ".TP")
                out.append(".B " + roff(tag))
                if tagged:
                    out.append(roff(tagged.group(4)))
                entry_open, in_text = True, False
            elif entry_open and line.startswith("    "):
                out.append(roff(line.strip()))
            else:
                if not in_text:
                    out.append(".PP")
                entry_open, in_text = False, True
                out.append(roff(line.strip()))
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--name", required=True)
    parser.add_argument("--summary", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--drop")
    parser.add_argument("--changelog", required=True, help="the Debian changelog whose newest entry dates the page")
    parser.add_argument("program")
    args = parser.parse_args()
    # Run under its plain name, so the usage lines read as a user types them.
    done = subprocess.run([args.name, "--help"], executable=args.program, capture_output=True, text=True,
                          encoding="latin-1")
    if done.returncode != 0 or not done.stdout.startswith("Usage: "):
        sys.exit(f"man_page.py: {args.program} --help gave no usage text: {done.stderr.strip()}")
    text = page(args.name, args.summary, args.version, release_date(args.changelog), done.stdout, args.drop)
    with open(args.output, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9,
                                                       mtime=0) as packed:
        packed.write(text.encode("utf-8"))


if __name__ == "__main__":
    main()
