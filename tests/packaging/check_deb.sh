#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Packs this build tree as a Debian package and checks what a user gets from it: the file list
# (deb_contents.txt), the dependencies found by dpkg-shlibdeps and the library's shlibs entry.
# As root it also installs the package with dpkg, runs `cutcomp --version`, builds a consumer
# through the system's pkg-config and purges the package again. That part only runs when
# nothing of the package is on the machine yet, so an existing install is never touched.
# Usage: check_deb.sh BUILD_DIR SOURCE_DIR CPACK VERSION CXX "CXX_FLAGS" "LINKER_FLAGS"
# Exit status 77 (skipped) when the install part cannot run; the contents were checked then.
set -euo pipefail
build=$1 source=$2 cpack=$3 version=$4 cxx=$5 cxxflags=${6:-} ldflags=${7:-}
command -v dpkg-deb >/dev/null || { echo "not a Debian system: nothing checked"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(echo "$work"/cutcomp_*.deb)
fail() { echo "FAIL: $*"; exit 1; }

# 1. Contents: every expected entry, and nothing outside /usr.
dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' >"$work/list"
lib='lib(/[a-z0-9_]+-linux-[a-z0-9_]+)?'
version_re=${version//./\\.}
while read -r row; do
  case "$row" in '' | '#'*) continue ;; esac
  pattern=${row//@LIB@/$lib}
  grep -Eqx "${pattern//@VERSION@/$version_re}" "$work/list" || fail "no entry matching $row"
done <"$source/deb_contents.txt"
if grep -Ev '^\./(usr/.*)?$' "$work/list"; then fail "entries outside /usr"; fi

# 2. Control: run-time dependencies read off the binaries, and the library's shlibs line.
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libstdc++6; do
  [[ "$depends" == *"$dep ("* ]] || fail "Depends lacks $dep: $depends"
done
shlibs=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./shlibs 2>/dev/null) || true
[ "$shlibs" = "libcutcomp 1 cutcomp (>= $version)" ] || fail "shlibs: $shlibs"
echo "package contents and control: OK"

# 3. Install, use, purge: root only, one run at a time on this machine, never over files that
# are already there.
[ "$(id -u)" -eq 0 ] || { echo "not root: install check skipped"; exit 77; }
exec 9>/tmp/cutcomp-deb-check.lock
flock -w 600 9
if dpkg-query -W cutcomp >/dev/null 2>&1; then
  echo "a cutcomp package is installed already: install check skipped"; exit 77
fi
while read -r path; do
  [ -d "/$path" ] || [ ! -e "/$path" ] || { echo "/$path exists: install check skipped"; exit 77; }
done < <(sed 's/ -> .*//' "$work/list")

dpkg_retry() {  # another apt or dpkg run may hold the lock for a while
  for _ in $(seq 60); do
    if dpkg "$@" >"$work/dpkg.log" 2>&1; then return 0; fi
    grep -q 'lock' "$work/dpkg.log" || { cat "$work/dpkg.log"; return 1; }
    sleep 5
  done
  cat "$work/dpkg.log"; return 1
}
trap 'dpkg_retry --purge cutcomp || true; rm -rf "$work"' EXIT
dpkg_retry -i "$deb"
out=$(/usr/bin/cutcomp --version)
[ "$out" = "cutcomp $version" ] || fail "cutcomp --version printed '$out'"
# shellcheck disable=SC2046,SC2086
"$cxx" $cxxflags "$source/consumer/main.cpp" -o "$work/consumer" $(pkg-config --cflags --libs cutcomp) $ldflags
"$work/consumer"
dpkg_retry --purge cutcomp
trap 'rm -rf "$work"' EXIT
[ ! -e /usr/bin/cutcomp ] || fail "/usr/bin/cutcomp left behind after purge"
echo "dpkg -i, cutcomp --version, pkg-config consumer, dpkg --purge: OK"
