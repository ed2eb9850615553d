#!/usr/bin/env bash
# setup.sh takes a package installed for two architectures, which dpkg-query reports once for
# each, as installed: it neither runs apt-get nor asks for it.
# Usage: setup_test.sh SETUP_SH
set -euo pipefail
setup=$1
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT

# dpkg-query as it answers for liblzma-dev:amd64 and liblzma-dev:i386.
cat >"$fake/dpkg-query" <<'END'
#!/bin/sh
format=$(printf '%s' "${2#-f=}" | sed 's/\${db:Status-Status}/installed/')
printf "$format$format"
END
printf '#!/bin/sh\necho "apt-get $*" >>"%s/called"\nexit 1\n' "$fake" >"$fake/apt-get"
printf '#!/bin/sh\nexec "$@"\n' >"$fake/sudo"
chmod +x "$fake"/*
PATH=$fake:$PATH sh "$setup" tests >"$fake/out" 2>&1 || { cat "$fake/out"; exit 1; }
if [ -e "$fake/called" ] || [ -s "$fake/out" ]; then
  cat "$fake/called" "$fake/out" 2>/dev/null
  echo "setup.sh counts a package installed for two architectures as missing" >&2
  exit 1
fi
