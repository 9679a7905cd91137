#!/usr/bin/env bash
# The program installed under a prefix (cmake --install), or its Debian package built and
# unpacked (deb), started from there by a user with a fresh home until its main window shows:
# the settings and the drive table appear in the user's config folder, the user's program
# folder in the data folder, and nothing under the prefix changes. A second start hands over to
# the first and ends. Skips (77) without cpack or dpkg-deb for the package.
#   installed.sh BUILD_DIR [deb]
set -euo pipefail
build=$1
mode=${2:-install}
if [[ $mode == deb ]]; then
  for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
      exit 77
    fi
  done
fi
work=$(mktemp -d)
pid=
cleanup() {
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

prefix=$work/usr
if [[ $mode == deb ]]; then
  (cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
  deb=$(echo "$work"/package/zelvant32_*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  for needed in unar arj par2 libarchive13 libqt6widgets6 libqt6multimedia6 qt6-qpa-plugins fonts-dejavu-core; do
    [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "the package does not depend on $needed: $depends"
  done
  dpkg-deb -x "$deb" "$work"
else
  cmake --install "$build" --prefix "$prefix" >/dev/null
fi
for f in bin/zelvant32 lib/zelvant32/Zelv32 lib/zelvant32/wrar.exe lib/zelvant32/Zelv32.HLP lib/zelvant32/thunder.wav \
  share/applications/zelvant32.desktop share/metainfo/org.example.zelvant32.metainfo.xml \
  share/icons/hicolor/48x48/apps/zelvant32.png share/icons/hicolor/scalable/apps/zelvant32.svg \
  share/mime/packages/zelvant32.xml share/man/man1/zelvant32.1 share/man/man1/killd.pif.1 share/man/man1/wace.pif.1; do
  [[ -e "$prefix/$f" ]] || fail "$f was not installed"
done
snapshot() { (cd "$prefix" && find . -printf '%p %y %s %m %T@ %l\n' | sort); }
before=$(snapshot)

home=$work/home
mkdir "$home"
# As a user of its own: nothing of the environment but the path, the home and the display.
start=(env -i PATH="$PATH" HOME="$home" QT_QPA_PLATFORM=offscreen "$prefix/bin/zelvant32")
"${start[@]}" >"$work/first.log" 2>&1 &
pid=$!
config=$home/.config/zelvant32
for _ in $(seq 300); do
  [[ -f "$config/Zelv32.ini" ]] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/first.log")"
  sleep 0.1
done
[[ -f "$config/Zelv32.ini" ]] || fail "no settings in $config"
# Answered only by a running window.
timeout 60 "${start[@]}" >"$work/second.log" 2>&1 ||
  fail "the second start did not hand over: $(cat "$work/second.log")"
kill -0 "$pid" 2>/dev/null || fail "the first instance ended"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

[[ "$(readlink "$config/dosdevices/c:")" == "$home" ]] || fail "drive c: is not the home folder"
own=$home/.local/share/zelvant32
[[ "$(readlink "$own/Zelv32")" == "$prefix/lib/zelvant32/Zelv32" ]] || fail "no program folder of the user's own"
[[ "$(readlink "$own/dosdevices")" == "$config/dosdevices" ]] || fail "the drive table is not the config folder's"
[[ ! -e "$own/Zelv32.ini" ]] || fail "settings written beside the links"
# A helper run from the user's program folder reads the user's drive table.
mkdir -p "$home/Zelv001/sub"
env -i PATH="$PATH" HOME="$home" "$own/killd.pif" 'c:\Zelv001' || fail "killd.pif failed on the user's drive c:"
[[ ! -e "$home/Zelv001" ]] || fail "killd.pif left c:\Zelv001"
[[ "$(snapshot)" == "$before" ]] || fail "the prefix changed: $(diff <(echo "$before") <(snapshot) | head)"
echo "installed program ran from $prefix with settings in $config"
