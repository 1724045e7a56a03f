# Sourced by the lab runners: where a lab cannot be built the test is skipped (exit 77), saying why.
skip() { echo "SKIPPED: $*"; exit 77; }
need_lab() {  # need_lab LAB_NAME
  [ "$(id -u)" = 0 ] || skip "network namespaces need root (CI runs these as root)"
  command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
  ip netns add "$1-probe" 2>/dev/null || skip "this machine does not allow network namespaces"
  ip netns del "$1-probe"
}
