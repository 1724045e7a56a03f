#!/usr/bin/env bash
# Configures and builds one tree: build.sh DIR [cmake -D options...]
# BUILD_TARGET=name builds that target only.
set -euo pipefail
dir=$1; shift
cmake -S "$(dirname "$0")/.." -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}
