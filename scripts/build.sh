#!/usr/bin/env bash
# Configures and builds one tree: build.sh DIR [cmake -D options...]
# BUILD_TARGET="name ..." builds those targets only.
set -euo pipefail
dir=$1; shift
cmake -S "$(dirname "$0")/.." -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
# shellcheck disable=SC2086 # BUILD_TARGET may name several targets
cmake --build "$dir" -j "$(nproc)" ${BUILD_TARGET:+--target $BUILD_TARGET}
