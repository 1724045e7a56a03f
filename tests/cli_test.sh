#!/usr/bin/env bash
# The program's command line without a display or a network: help, version, usage errors.
set -u
program=$1
failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
check() {  # check NAME EXPECTED_STATUS STDOUT_PATTERN STDERR_PATTERN -- ARGS...
  local name=$1 want=$2 out_pattern=$3 err_pattern=$4; shift 5
  local out err rc
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$program" "$@" 2>"$tmp/err"); rc=$?
  err=$(cat "$tmp/err")
  if [ "$rc" != "$want" ] || ! grep -q -E -- "$out_pattern" <<<"$out" ||
     ! grep -q -E -- "$err_pattern" <<<"$err"; then
    echo "FAILED $name: status $rc"; echo "stdout: $out"; echo "stderr: $err"; failed=1
  else
    echo "ok $name"
  fi
}
check help 0 '^Usage: trelvane \[HOST\]' '^$' -- --help
check version 0 "^trelvane $2\$" '^$' -- --version
check burst-without-host 2 '^$' 'needs a host' -- --burst
check burst-with-blank-host 2 '^$' 'Usage:' -- --burst "   "
# Without a display: a word that is no option of ours is a usage error, not a host.
check unknown-long-option 2 '^$' "unrecognized option '--bogus'" -- --bogus
check unknown-short-option 2 '^$' '^Usage:' -- -v
exit $failed
