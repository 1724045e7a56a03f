#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program: ./run.sh [host]
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
BUILD_TARGET=trelvane scripts/build.sh build >/dev/null
exec build/trelvane "$@"
