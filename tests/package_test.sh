#!/usr/bin/env bash
# cpack makes a .deb that holds the binary and the manual page where dpkg puts them, and
# the packed binary runs.
# Usage: package_test.sh CPACK BUILD_DIR
set -euo pipefail

cpack=$1
build_dir=$2
# 77 tells ctest the test was skipped.
command -v dpkg-deb >/dev/null || { echo "dpkg-deb not found, skipping"; exit 77; }

tmp=$(mktemp -d "$build_dir/package-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

"$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" ||
  { cat "$tmp/cpack.log" >&2; exit 1; }
debs=("$tmp"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "expected one .deb in $tmp, found: ${debs[*]}" >&2
  exit 1
fi
deb=${debs[0]}

fail() { echo "$deb: $*" >&2; exit 1; }
dpkg-deb -c "$deb" >"$tmp/contents"
for program in lzma2-chunks lzma2-chunks-xz; do
  grep -Eq "^-rwxr-xr-x .* \./usr/bin/$program\$" "$tmp/contents" ||
    fail "no executable usr/bin/$program"
  grep -Eq " \./usr/share/man/man1/$program\.1(\.gz)?\$" "$tmp/contents" ||
    fail "no usr/share/man/man1/$program.1"
done
[ "$(dpkg-deb -f "$deb" Package)" = lzma2-chunks ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section is not utils"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "does not depend on libc6"

# Debian's own checker: no error, no warning, and no hardening tag or override left unused
# even among the notes.
if command -v lintian >/dev/null; then
  lintian -I "$deb" 2>&1 | grep -v 'running with root privileges' >"$tmp/lintian" || true
  if grep -Eq '^[EW]: |^.: lzma2-chunks: (hardening|unused-override)' "$tmp/lintian"; then
    cat "$tmp/lintian" >&2
    fail "lintian finds fault with the package"
  fi
else
  echo "lintian not found, package not checked by it"
fi

dpkg-deb -x "$deb" "$tmp/root"
printf '\0' >"$tmp/end-marker"
[ "$("$tmp/root/usr/bin/lzma2-chunks" "$tmp/end-marker" 0; echo x)" = $'ofs=0\n00000000: 00 x' ] ||
  fail "packed binary does not list a lone end marker"
"$tmp/root/usr/bin/lzma2-chunks-xz" "$tmp/end-marker" >"$tmp/xz-out" && fail "packed lzma2-chunks-xz finds a stream in a lone 00"
[ "$(cat "$tmp/xz-out")" = "no .xz stream found" ] || fail "packed lzma2-chunks-xz does not run"
