#!/usr/bin/env python3
"""The automatic trace, headless, in the router lab (tracelab.sh), from inside its near namespace.

A headless program measures far (10.201.2.8), outages counted from one measurement at 100 %. After
its first measurement far goes silent: the second measurement is an outage, and exactly one trace
is appended to trelvane-traces.txt, headed by that measurement's stamp and the run's key, ending at
the router. The bursts keep their minute around it (60,000 +- 50 ms between their starts), and the
report names the router as the outage's last hop. Usage: auto_trace.py BUILD_DIR LAB_SCRIPT LAB
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

build, lab_script, lab = sys.argv[1], sys.argv[2], sys.argv[3]
trelvane = os.path.join(build, "trelvane")
tmp = tempfile.mkdtemp(prefix="trelvane-auto-trace-")
failures = []


def check(ok, what):
    print(("ok: " if ok else "FAILED: ") + what, flush=True)
    if not ok:
        failures.append(what)


def read(path, encoding="latin-1"):
    try:
        with open(path, "rb") as f:
            return f.read().decode(encoding)
    except OSError:
        return ""


def wait_for(what, test, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if test():
            return True
        time.sleep(0.2)
    check(False, what + " within %d s" % seconds)
    return False


os.makedirs(os.path.join(tmp, "config", "trelvane"))
with open(os.path.join(tmp, "config", "trelvane", "trelvane.conf"), "w") as conf:
    conf.write("[alerts]\nenabled=true\ndown_after=1\ndegraded_threshold=25\n")
history = os.path.join(tmp, "h.txt")
traces = os.path.join(tmp, "trelvane-traces.txt")
err_path = os.path.join(tmp, "err.txt")
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"), TRELVANE_BURST_TRACE="1")
program = subprocess.Popen([trelvane, "--headless", "--quiet", "--history", history, "10.201.2.8"],
                           stderr=open(err_path, "w"), env=env)
try:
    measurements = lambda: [l for l in read(history).split("\r\n") if l[:1].isdigit()]
    began = lambda: [float(x) for x in re.findall(r"burst began: ([0-9.]+) s", read(err_path))]
    if wait_for("the first measurement", lambda: len(measurements()) == 1, 10):
        subprocess.run([lab_script, "blackhole", lab], check=True)
    wait_for("a trace", lambda: "===== Fin de la trace" in read(traces), 120)
    wait_for("the third burst", lambda: len(began()) == 3, 30)
    program.send_signal(signal.SIGTERM)
    check(program.wait(timeout=10) == 0, "SIGTERM: status 0")

    lines = measurements()
    check(len(lines) == 2 and lines[1].endswith(" 100 2000"), "an outage measured: %s" % lines)
    blocks = read(traces).split("===== Trace : ")[1:]
    check(len(blocks) == 1, "exactly one trace (%d)" % len(blocks))
    if blocks:
        key = re.search(r"\*\*\*\*\* (.{21})\r\n", read(history)).group(1)
        heading = blocks[0].split("\r\n")[0]
        check(heading == "%s ; s\xe9rie : %s ; adresse : 10.201.2.8 ; h\xf4te : 10.201.2.8"
              % (lines[1][:16], key), "headed by the outage's stamp and the run: " + heading)
        hops = blocks[0].split("\r\n")[1:-2]
        check(len(hops) == 30 and hops[0].split()[:2] == ["1", "10.201.1.2"] and
              all(h.split()[1:] == ["*", "*", "*"] for h in hops[1:]),
              "the trace ends at the router: " + "|".join(hops[:3]))
    starts = began()
    gaps = [round((b - a) * 1000) for a, b in zip(starts, starts[1:])]
    check(len(gaps) == 2 and all(abs(g - 60000) <= 50 for g in gaps),
          "bursts 60,000 +- 50 ms apart around the trace: %s ms" % gaps)
    check("trace: dernier saut joignable : 1 \u2014 10.201.1.2" in read(err_path, "utf-8"),
          "the trace told on stderr")
    report = subprocess.run([trelvane, "--report", history], capture_output=True, text=True).stdout
    check("dernier saut joignable : 1 \u2014 10.201.1.2" in report, "the report names the hop")
    page = subprocess.run([trelvane, "--report", "--format", "html", history],
                          capture_output=True, text=True).stdout
    check('<pre class="trace">' in page and "10.201.1.2" in page, "the page shows the trace")
finally:
    if program.poll() is None:
        program.kill()
        program.wait()
    if failures:
        print(read(err_path, "utf-8")[-3000:])
    subprocess.run(["rm", "-rf", tmp])
sys.exit(1 if failures else 0)
