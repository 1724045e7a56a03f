#!/usr/bin/env bash
# The installed tree and the Debian package: `cmake --install` puts every file in place, the
# desktop entry and the AppStream metadata validate, and the .deb, unpacked in a clean folder,
# runs. Usage: check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# What ./run.sh builds (the program alone) is enough for an install.
rm -f "$build/data/trelvane.1.gz" "$build/data/changelog.Debian.gz"
cmake --build "$build" --target trelvane >/dev/null
DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
root=$tmp/root/usr
for file in bin/trelvane share/applications/trelvane.desktop \
  share/metainfo/io.trelvane.Trelvane.metainfo.xml share/man/man1/trelvane.1.gz \
  share/icons/hicolor/scalable/apps/trelvane.svg share/doc/trelvane/copyright \
  share/doc/trelvane/changelog.Debian.gz lib/systemd/user/trelvane-headless@.service; do
  [ -f "$root/$file" ] || { echo "FAILED: $file is not installed"; exit 1; }
done
# The sizes the build renders, as ui/CMakeLists.txt lists them.
sizes=$(sed -n 's/^set(icon_sizes \(.*\))$/\1/p' "$(dirname "$0")/../ui/CMakeLists.txt")
[ -n "$sizes" ] || { echo "FAILED: no icon sizes in ui/CMakeLists.txt"; exit 1; }
for size in $sizes; do
  icon=$root/share/icons/hicolor/${size}x${size}/apps/trelvane.png
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || { echo "FAILED: $icon"; exit 1; }
done
desktop-file-validate "$root/share/applications/trelvane.desktop"
appstreamcli validate --no-net "$root/share/metainfo/io.trelvane.Trelvane.metainfo.xml"
man --warnings -l "$root/share/man/man1/trelvane.1.gz" >/dev/null
# The service unit as the user's session manager reads it (where systemd is installed): nothing
# but the absence of the program and its manual from this machine's /usr may be reported.
if command -v systemd-analyze >/dev/null; then
  unit=$tmp/trelvane-headless@192.0.2.1.service
  cp "$root/lib/systemd/user/trelvane-headless@.service" "$unit"
  if XDG_RUNTIME_DIR=$tmp systemd-analyze verify --user "$unit" 2>&1 |
    grep -v -E 'Command /usr/bin/trelvane is not executable|man trelvane\(1\)'; then
    echo "FAILED: systemd-analyze verify"; exit 1
  fi
fi
echo "installed tree: ok"

rm -f "$build"/trelvane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/trelvane_*.deb)
# No error and no warning; the informational tags left are listed in the README.
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$tmp/lintian" 2>&1; then
  cat "$tmp/lintian"; echo "FAILED: lintian"; exit 1
fi
grep -v 'running with root' "$tmp/lintian" || true
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -ge 4 ] || { echo "FAILED: no long description"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "package $(basename "$deb"): Depends: $depends"
for needed in libqt6widgets6 libc6 qt6-qpa-plugins; do
  grep -q "$needed" <<<"$depends" || { echo "FAILED: $needed missing from Depends"; exit 1; }
done
dpkg-deb -e "$deb" "$tmp/control"
grep -q 'setcap cap_net_raw+ep' "$tmp/control/postinst" || { echo "FAILED: no postinst"; exit 1; }
if dpkg-deb -c "$deb" | grep -E '^-..s|^-.....s'; then echo "FAILED: setuid file"; exit 1; fi

dpkg -x "$deb" "$tmp/unpacked"
"$tmp/unpacked/usr/bin/trelvane" --version
out=$("$tmp/unpacked/usr/bin/trelvane" --burst 127.0.0.1)
lines=$(wc -l <<<"$out")
[ "$lines" = 25 ] || { echo "FAILED: --burst printed $lines lines"; echo "$out"; exit 1; }
echo "$out" | tail -n 1
echo "package: ok"
