#!/usr/bin/python3
"""Keeps the README and the manual true to the program.

check_docs.py TRELVANE SOURCE_DIR

- the README renders as it reads: its code fences pair up, and every "#" heading of the source
  is a heading of the rendered page, none swallowed by a code block;
- every usage line of --help stands in the manual's SYNOPSIS, and every exit status of --help in
  the README and in the manual's EXIT STATUS;
- the README's example outputs are what the program prints for them, run on the history file
  beside this script.
"""
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import markdown

program, source = str(Path(sys.argv[1]).resolve()), Path(sys.argv[2])
readme = (source / "README.md").read_text(encoding="utf-8")
manual = (source / "data" / "trelvane.1.in").read_text(encoding="utf-8")
failures = []


def fail(message):
    failures.append(message)


# The README's fences pair up and no heading ends up inside a code block.
fences = [line for line in readme.splitlines() if line.startswith("```")]
if len(fences) % 2:
    fail(f"README.md has {len(fences)} code fences, an odd number")
rendered = markdown.markdown(readme, extensions=["fenced_code", "tables"])
headings = {html.unescape(re.sub(r"<[^>]+>", "", h)).strip()
            for h in re.findall(r"<h[1-6][^>]*>(.*?)</h[1-6]>", rendered, re.S)}
in_fence = False
for line in readme.splitlines():
    if line.startswith("```"):
        in_fence = not in_fence
    elif not in_fence and re.match(r"#{1,6} ", line):
        title = re.sub(r"[`*]", "", line.lstrip("#").strip())
        if title not in headings:
            fail(f"README.md: the heading '{title}' does not render as a heading")
for block in re.findall(r"<pre><code[^>]*>(.*?)</code></pre>", rendered, re.S):
    if html.unescape(block).startswith("$ trelvane "):
        continue  # a program's output, checked below: a Markdown report has headings
    for line in html.unescape(block).splitlines():
        if re.match(r"#{1,6} [A-Z]", line):
            fail(f"README.md: a heading inside a code block: '{line}'")


def roff_text(text):
    text = re.sub(r"\\f[BIRP]", "", text).replace("\\-", "-")
    return re.sub(r"^\.(B|I|br|TP)\b ?", "", text, flags=re.M)


def section(text, name):
    match = re.search(rf"^\.SH {name}\n(.*?)(?=^\.SH |\Z)", text, re.S | re.M)
    return roff_text(match.group(1)) if match else ""


usage = subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout
synopsis = " ".join(section(manual, "SYNOPSIS").split())
for line in usage.splitlines():
    match = re.match(r"(?:Usage:|  or:) +(trelvane .*)", line)
    if match and " ".join(match.group(1).split()) not in synopsis:
        fail(f"the manual's SYNOPSIS lacks '{match.group(1)}'")
statuses = re.findall(r"^ (\d)  ", usage.split("Exit status:")[1], re.M)
if not statuses:
    fail("--help lists no exit status")
manual_statuses = set(re.findall(r"^(\d)$", section(manual, "EXIT STATUS"), re.M))
readme_status = re.search(r"^Exit status:(.*?)\n\n", readme, re.S | re.M)
readme_statuses = set(re.findall(r"\b(\d)\b", readme_status.group(1))) if readme_status else set()
for status in statuses:
    if status not in manual_statuses:
        fail(f"the manual's EXIT STATUS lacks {status}")
    if status not in readme_statuses:
        fail(f"the README's exit status list lacks {status}")

# The examples: a block that starts with "$ trelvane ..." shows that command's output, whole, or
# its first lines up to a line "...".
with tempfile.TemporaryDirectory() as folder:
    shutil.copy(Path(__file__).with_name("history.txt"), folder)
    examples = re.findall(r"^```\n\$ (trelvane [^\n]*)\n(.*?)^```", readme, re.S | re.M)
    if not examples:
        fail("README.md shows no example output")
    for command, shown in examples:
        words = command.split()
        # Only what reads files is run here: an example that measures (--burst, --trace) would
        # send requests off this machine, and its figures differ from run to run.
        if not {"--report", "--export", "--help", "--version"} & set(words):
            continue
        printed = subprocess.run([program] + words[1:], cwd=folder, capture_output=True,
                                 text=True, env=dict(os.environ, TZ="UTC")).stdout
        lines = shown.splitlines()
        if lines and lines[-1] == "...":
            printed = "\n".join(printed.splitlines()[: len(lines) - 1]) + "\n...\n"
        if printed != shown:
            fail(f"README.md: the output of '{command}' is not what the program prints:\n"
                 f"{printed}")

for message in failures:
    print("FAILED:", message)
print(f"documentation: {len(failures)} failed")
sys.exit(1 if failures else 0)
