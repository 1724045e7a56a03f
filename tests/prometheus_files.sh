#!/usr/bin/env bash
# The Prometheus files we ship: the configuration and the rules as promtool reads them, and each
# alert firing when it should (promtool's rule tests). Usage: prometheus_files.sh SOURCE_DIR
set -euo pipefail
command -v promtool >/dev/null || { echo "SKIPPED: promtool (Debian prometheus) is not installed"; exit 77; }
cd "$1/docs/prometheus"
promtool check config prometheus.yml
promtool check rules rules.yml
promtool test rules rules_test.yml
