#!/usr/bin/env python3
"""Burst wall time with and without 200 clients scraping /metrics without a pause.

Runs inside the near namespace of the lab (run_metrics_bench.sh). For the headless program and the
window (offscreen), each measuring the lab's 20.5 ms host: the first burst's wall time alone, then
the second's while 200 clients scrape; next to the physical limit, 24 x 20.5 ms = 492 ms.
Usage: metrics_bench.py BUILD_DIR LAB_PREFIX
"""
import http.client
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

build, lab = sys.argv[1], sys.argv[2]
tmp = tempfile.mkdtemp(prefix="trelvane-metrics-bench-")


def bursts(log):
    with open(log) as f:
        return [float(m) for m in re.findall(r"burst: ([0-9.]+) ms", f.read())]


def run(name, args, port, env):
    log = os.path.join(tmp, name + ".log")
    process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=open(log, "w"),
                               env=dict(os.environ, TRELVANE_BURST_TRACE="1", **env))
    try:
        while len(bursts(log)) < 1:
            time.sleep(0.05)
        stop = threading.Event()
        scrapes = [0]
        refused = [0]

        def scraper():
            connection = None
            while not stop.is_set():
                try:
                    if connection is None:
                        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
                    connection.request("GET", "/metrics")
                    connection.getresponse().read()
                    scrapes[0] += 1
                except (OSError, http.client.HTTPException):
                    refused[0] += 1
                    connection = None
                    time.sleep(0.01)

        threads = [threading.Thread(target=scraper, daemon=True) for _ in range(200)]
        started = time.monotonic()
        for t in threads:
            t.start()
        while len(bursts(log)) < 2:
            time.sleep(0.05)
        seconds = time.monotonic() - started
        stop.set()
        for t in threads:
            t.join()
        alone, loaded = bursts(log)[:2]
        print("%-9s burst alone %.1f ms (%.3f x the lab's 24 x 20.5 ms), under 200 scrapers "
              "%.1f ms (%.3f x); %.0f scrapes/s, %d reconnections"
              % (name, alone, alone / 492, loaded, loaded / 492, scrapes[0] / seconds, refused[0]),
              flush=True)
    finally:
        process.terminate()
        process.wait()


host = lab + ".8"
run("headless", [os.path.join(build, "trelvane"), "--headless", "--history",
                 os.path.join(tmp, "h.txt"), "--metrics-listen", "127.0.0.1:19711", host],
    19711, {})
run("window", [os.path.join(build, "trelvane"), "--history", os.path.join(tmp, "w.txt"),
               "--metrics-listen", "127.0.0.1:19712", host], 19712,
    {"QT_QPA_PLATFORM": "offscreen"})
subprocess.run(["rm", "-rf", tmp])
