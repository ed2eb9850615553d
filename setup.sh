#!/bin/sh
# Installs what is missing to build the tool (`sh setup.sh tool`) or to build and run its
# tests (`sh setup.sh tests`). Names after the first argument are more Debian packages to
# install with them; `sh setup.sh packages NAME...` installs only those (for .ci/).
# Uses apt-get as root or through sudo; without apt-get it only checks for the commands.
set -eu

tool_packages="cmake make g++ pkg-config liblzma-dev"
test_packages="$tool_packages libgtest-dev xz-utils 7zip groff-base dpkg-dev lintian file time"

usage() {
  echo "usage: sh setup.sh tool|tests|packages [DEBIAN-PACKAGE...]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
what=$1
shift
case $what in
  tool) packages="$tool_packages $*" ;;
  tests) packages="$test_packages $*" ;;
  packages) packages="$*" ;;
  *) usage ;;
esac

have() { command -v "$1" >/dev/null 2>&1; }

if ! have apt-get || ! have dpkg-query; then
  if [ "$what" = packages ] || [ $# -gt 0 ]; then
    echo "setup.sh: Debian packages ($*) need apt-get, which is not here" >&2
    exit 1
  fi
  missing=
  for c in cmake make; do
    have "$c" || missing="$missing $c"
  done
  have c++ || have g++ || have clang++ || missing="$missing c++"
  if [ "$what" = tests ]; then
    for c in pkg-config xz 7zz groff; do
      have "$c" || missing="$missing $c"
    done
    if have pkg-config; then
      pkg-config --exists liblzma || missing="$missing liblzma"
      pkg-config --exists gtest || missing="$missing GoogleTest"
    fi
  fi
  [ -z "$missing" ] && exit 0
  echo "setup.sh: not found:$missing. Install cmake, make and a C++17 compiler, and for the" \
    "tests also GoogleTest, liblzma with pkg-config, xz, 7-Zip's 7zz and groff (and dpkg-deb" \
    "and lintian for the Debian package test), with this system's package manager." >&2
  exit 1
fi

missing=
# One line per installed architecture of a multi-arch package: any one of them will do.
for p in $packages; do
  dpkg-query -W -f='${db:Status-Status}\n' "$p" 2>/dev/null | grep -qx installed ||
    missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=
elif have sudo; then
  as_root=sudo
else
  echo "setup.sh: missing Debian packages:$missing. Install them as root" \
    "(apt-get install$missing), or run this again as root." >&2
  exit 1
fi
echo "setup.sh: installing$missing"
# A list that fails to come (a mirror in sync, an architecture's list behind the others)
# leaves the others usable: what is missing still installs from them.
$as_root apt-get update || echo "setup.sh: some package lists did not come; going on with the others" >&2
# shellcheck disable=SC2086 # one word per package
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
