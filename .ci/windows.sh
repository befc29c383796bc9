#!/usr/bin/env bash
# The Windows DLL: cross-builds the mingw preset and runs the whole suite under Wine, headless.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v clang >/dev/null && command -v ld.lld >/dev/null || need+=(clang lld)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v wineboot >/dev/null || need+=(wine wine64)
[ -d /usr/src/googletest ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# A throw-away Wine prefix, made once per run (about 10 s), with no display and no debug noise.
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$(mktemp -d /tmp/kalo-wine.XXXXXX)}"
unset DISPLAY WAYLAND_DISPLAY
wineboot -i >/dev/null 2>&1

cmake --workflow --preset mingw
