#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Packs this build tree as a Debian package and checks what a user gets from it: the file list
# (deb_contents.txt), the dependencies found by dpkg-shlibdeps and the library's shlibs entry.
# Then it unpacks the package into a scratch root and uses it from there: `cutcomp --version`,
# the examples the package ships built against it with find_package and pkg-config, and the
# Python module. The machine itself is never changed: no package database, no maintainer script,
# no root, no lock; everything lives in a temporary directory that is removed at the end.
# Usage: check_deb.sh BUILD_DIR SOURCE_DIR CPACK VERSION CXX "CXX_FLAGS" CC "C_FLAGS"
#        "LINKER_FLAGS"
# Exit status 77 (skipped) on a machine without dpkg-deb.
set -euo pipefail
build=$1 source=$2 cpack=$3 version=$4 cxx=$5 cxxflags=${6:-} cc=$7 cflags=${8:-} ldflags=${9:-}
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

# 3. Unpacked into a scratch root, as dpkg would place its files, and used from there.
root=$work/root
dpkg-deb -x "$deb" "$root"
libdir=$(dirname "$(find "$root" -name 'libcutcomp.so.1' | head -1)")
out=$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/cutcomp" --version)
[ "$out" = "cutcomp $version" ] || fail "cutcomp --version printed '$out'"
"$source/check_consumer.sh" "$root/usr" "$root/usr/share/doc/cutcomp/examples" "$work/consumer" \
  "$cxx" "$cxxflags" "$cc" "$cflags" "$ldflags"
# The Python module, when the package holds one; not under the sanitizers (an instrumented module
# needs their runtime preloaded into the interpreter).
init=$(find "$root" -path '*/cutcomp/__init__.py' | head -1)
if [ -n "$init" ] && [[ "$cxxflags" != *-fsanitize* ]]; then
  [ -f "$(dirname "$init")/__init__.pyi" ] || fail "the Python module has no type stubs"
  PYTHONPATH=$(dirname "$(dirname "$init")") /usr/bin/python3 -c '
import cutcomp
square = [("line", (-5, 0), (0, 0)), ("line", (0, 0), (10, 0)), ("line", (10, 0), (10, 5))]
path = cutcomp.compensate(square, 1.0, with_blocks=True)
assert cutcomp.audit(square, path, 1.0) == [], path
print("python module from the package:", len(path), "pieces")'
fi
echo "unpacked into a scratch root: cutcomp --version, examples with find_package and pkg-config, python: OK"
