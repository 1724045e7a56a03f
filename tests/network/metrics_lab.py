#!/usr/bin/env python3
"""Headless measuring with real Prometheus and node_exporter, inside the near namespace of a lab.

Two headless programs measure the lab's host .2 (every fourth request dropped) and .8 (all
answered), each serving its metrics on this namespace's loopback; the first also writes the
textfile collector's file. A Prometheus server scrapes both every 5 s; node_exporter reads the
file. After two measurements each, PromQL gives the counters, and the last figures equal the
history lines. Meanwhile the first program's server is abused (a 1 MB request line, 1,000 idle
connections, a reader of one byte a second, a path with "..") and must stay small and on time.
Usage: metrics_lab.py BUILD_DIR SOURCE_DIR LAB_PREFIX
"""
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

build, source, lab = sys.argv[1], sys.argv[2], sys.argv[3]
trelvane = os.path.join(build, "trelvane")
tmp = tempfile.mkdtemp(prefix="trelvane-metrics-")
started = []  # (name, process), ended by their ids at the end
failures = []


def check(ok, what):
    print(("ok: " if ok else "FAILED: ") + what, flush=True)
    if not ok:
        failures.append(what)


def start(name, args, **kwargs):
    log = open(os.path.join(tmp, name + ".log"), "w")
    process = subprocess.Popen(args, stdout=kwargs.pop("stdout", log), stderr=log, **kwargs)
    started.append((name, process))
    return process


def get(url, accept=None, timeout=5):
    request = urllib.request.Request(url, headers={"Accept": accept} if accept else {})
    with urllib.request.urlopen(request, timeout=timeout) as response:
        return response.status, response.headers.get("Content-Type"), response.read().decode()


def wait_for(what, test, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if test():
                return True
        except (OSError, urllib.error.URLError, ValueError, KeyError, IndexError):
            pass
        time.sleep(0.25)
    check(False, what + " within %d s" % seconds)
    return False


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def samples(text):
    """The samples of an exposition: {(name, sorted labels): value}."""
    found = {}
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        series, value = line.rsplit(" ", 1)
        name, _, labels = series.partition("{")
        found[(name, ",".join(sorted(labels.rstrip("}").split(","))))] = value
    return found


def measurement_lines(path):
    with open(path, "rb") as f:
        return [l.decode("latin-1").strip() for l in f
                if l[:1].isdigit()]


def main():
    ports = {"dropping": 19611, "clean": 19612, "prometheus": 19613, "node": 19614}
    textfiles = os.path.join(tmp, "textfile")
    os.mkdir(textfiles)
    runs = {}
    for name, host in (("dropping", lab + ".2"), ("clean", lab + ".8")):
        args = [trelvane, "--headless", "--history", os.path.join(tmp, name + ".txt"),
                "--metrics-listen", "127.0.0.1:%d" % ports[name]]
        if name == "dropping":
            args += ["--metrics-file", os.path.join(textfiles, "trelvane.prom")]
        out = open(os.path.join(tmp, name + ".out"), "w")
        runs[name] = start(name, args + [host], stdout=out)
    with open(os.path.join(tmp, "prometheus.yml"), "w") as config:
        config.write("global:\n  scrape_interval: 5s\n  scrape_timeout: 4s\n"
                     "scrape_configs:\n  - job_name: trelvane\n    static_configs:\n"
                     "      - targets: ['127.0.0.1:%d', '127.0.0.1:%d']\n"
                     % (ports["dropping"], ports["clean"]))
    start("prometheus", ["prometheus", "--config.file=" + os.path.join(tmp, "prometheus.yml"),
                         "--storage.tsdb.path=" + os.path.join(tmp, "tsdb"),
                         "--web.listen-address=127.0.0.1:%d" % ports["prometheus"]])
    start("node_exporter", ["prometheus-node-exporter", "--collector.disable-defaults",
                            "--collector.textfile",
                            "--collector.textfile.directory=" + textfiles,
                            "--web.listen-address=127.0.0.1:%d" % ports["node"]])
    base = "http://127.0.0.1:%d/metrics" % ports["dropping"]
    dropping_history = os.path.join(tmp, "dropping.txt")
    # When each program's lines come, to a tenth of a second, read by a thread of its own.
    seen = {name: [] for name in runs}

    def watch():
        while any(len(seen[n]) < 2 for n in runs):
            for name in runs:
                try:
                    count = len(measurement_lines(os.path.join(tmp, name + ".txt")))
                except OSError:
                    count = 0  # not made yet
                if count > len(seen[name]):
                    seen[name].append(time.monotonic())
            time.sleep(0.1)

    import threading
    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()
    wait_for("the first measurements", lambda: all(len(seen[n]) == 1 for n in runs), 20)

    # The abuse, between the first measurement and the second.
    status, content_type, text = get(base)
    check(status == 200 and content_type.startswith("text/plain; version=0.0.4"), "text format")
    status, content_type, om = get(base, "application/openmetrics-text; version=1.0.0")
    check(content_type.startswith("application/openmetrics-text") and om.endswith("# EOF\n"),
          "OpenMetrics when asked for")
    with open(os.path.join(tmp, "scrape.txt"), "w") as f:
        f.write(text)
    promtool = subprocess.run(["promtool", "check", "metrics"], input=text, text=True,
                              capture_output=True)
    check(promtool.returncode == 0, "promtool check metrics: " + promtool.stdout + promtool.stderr)
    for path in ("/", "/metrics/../metrics", "/../etc/passwd", "/metricsx"):
        try:
            get("http://127.0.0.1:%d%s" % (ports["dropping"], path))
            check(False, path + " answered")
        except urllib.error.HTTPError as error:
            check(error.code == 404, "%s: %d" % (path, error.code))
    rss_before = rss_kb(runs["dropping"].pid)
    big = socket.create_connection(("127.0.0.1", ports["dropping"]))
    try:
        big.sendall(b"GET /" + b"a" * (1 << 20) + b" HTTP/1.1\r\nHost: x\r\n\r\n")
    except OSError:
        pass  # dropped while it was still sending: as it should be
    # A scraper that reads one byte a second gets its answer all the same.
    slow = socket.create_connection(("127.0.0.1", ports["dropping"]))
    slow.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
    slow.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
    first = b""
    for _ in range(3):
        first += slow.recv(1)
        time.sleep(1)
    check(first == b"HTT", "a slow reader is answered (%r)" % first)
    # A thousand connections that say nothing: those past the bound are closed at once, the
    # others after a few seconds.
    idle = []
    for _ in range(1000):
        try:
            idle.append(socket.create_connection(("127.0.0.1", ports["dropping"]), timeout=2))
        except OSError:
            break
    check(len(idle) == 1000, "1,000 connections opened (%d)" % len(idle))
    # The scrapes still work once the idle ones are dropped.
    wait_for("a scrape after the idle connections", lambda: get(base)[0] == 200, 15)
    rss_after = rss_kb(runs["dropping"].pid)
    if "ASAN_OPTIONS" in os.environ:  # the sanitizers keep freed memory aside: no figure to judge
        print("memory under abuse (sanitizers): %d kB before, %d kB after" % (rss_before, rss_after))
    else:
        check(rss_after - rss_before < 8000,
              "memory under abuse: %d kB before, %d kB after" % (rss_before, rss_after))
    for s in idle + [big, slow]:
        s.close()

    wait_for("the second measurements", lambda: all(len(seen[n]) == 2 for n in runs), 70)
    for name in runs:
        interval = seen[name][1] - seen[name][0]
        check(59.5 < interval < 60.5,
              "%s: the second burst a minute after the first (%.2f s)" % (name, interval))
    for name in runs:
        check(runs[name].poll() is None, name + " still running")

    # PromQL, once a scrape after the second measurements is in.
    api = "http://127.0.0.1:%d/api/v1/query?query=" % ports["prometheus"]

    def values(query):
        result = json.loads(get(api + urllib.request.quote(query))[2])["data"]["result"]
        return {r["metric"]["target"]: r["value"][1] for r in result}

    wanted = {lab + ".2": "48", lab + ".8": "48"}
    wait_for("Prometheus's counters", lambda: values("trelvane_requests_total") == wanted, 20)
    check(values("trelvane_requests_total") == wanted, "requests 24 x 2 each")
    check(values("trelvane_replies_total") == {lab + ".2": "36", lab + ".8": "48"},
          "replies 18 x 2 and 24 x 2: %s" % values("trelvane_replies_total"))
    check(values("trelvane_link_state") == {lab + ".2": "0", lab + ".8": "0"}, "both links up")
    for name, host in (("dropping", lab + ".2"), ("clean", lab + ".8")):
        last = measurement_lines(os.path.join(tmp, name + ".txt"))[-1].split()
        loss, response = int(last[1]), int(last[2])
        check(float(values("trelvane_last_loss_ratio")[host]) == loss / 100,
              "%s: last loss %d %% as in the history" % (name, loss))
        check(float(values("trelvane_last_response_seconds")[host]) == response / 1000,
              "%s: last response %d ms as in the history" % (name, response))
        out = open(os.path.join(tmp, name + ".out")).read().split("\n")
        check(out[:2] == measurement_lines(os.path.join(tmp, name + ".txt")),
              name + ": stdout has the history's lines")
    # node_exporter's textfile collector reads the same.
    node = samples(get("http://127.0.0.1:%d/metrics" % ports["node"])[2])
    served = samples(get(base)[2])
    for key, value in served.items():
        if key[0].startswith("trelvane_") and key[0] != "trelvane_last_measurement_timestamp_seconds":
            check(node.get(key) == value, "node_exporter gives %s{%s} %s" % (key + (value,)))
    check(node.get(("node_textfile_scrape_error", "")) == "0", "node_exporter read the file without error")

    # SIGTERM: exit 0 at once, nothing half-written.
    runs["dropping"].send_signal(signal.SIGTERM)
    try:
        code = runs["dropping"].wait(timeout=5)
    except subprocess.TimeoutExpired:
        code = None
    check(code == 0, "SIGTERM ends it with status 0 (%s)" % code)
    with open(dropping_history, "rb") as f:
        check(f.read().endswith(b"\r\n"), "the history ends with a whole line")


try:
    main()
finally:
    for name, process in started:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    if failures:
        for name in ("dropping", "clean", "prometheus", "node_exporter"):
            path = os.path.join(tmp, name + ".log")
            if os.path.exists(path):
                print("--- %s" % name, open(path).read()[-2000:])
    subprocess.run(["rm", "-rf", tmp])
sys.exit(1 if failures else 0)
