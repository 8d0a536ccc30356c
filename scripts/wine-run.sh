#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests of the Windows build, in a scratch prefix of its
# own (made on first use, about 15 s), so that nothing of the user's own Wine reaches the tests.
# QS_WINEPREFIX names the prefix; the test command gives each of its runs a fresh one.
set -euo pipefail
if ! command -v wine > /dev/null 2>&1; then
  echo "wine-run: wine is not installed (Debian packages wine and wine64)" >&2
  exit 127
fi
prefix="${QS_WINEPREFIX:-${TMPDIR:-/tmp}/quillstamp-wine-$(id -u)}"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/system.reg" ]; then
  # Two runs that start together must not both make the prefix.
  mkdir -p "$(dirname "$prefix")"
  exec 9> "$prefix.lock"
  flock -w 300 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot --init > /dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
fi
exec wine "$@"
