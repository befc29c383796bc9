#!/bin/sh
# Installs the build into a temporary prefix and builds the C header check against it through
# find_package(kalo) and through pkg-config, with the build's own flags (a sanitizer build's
# library finds its run-time in them), and runs both.
set -eu
cmake="$1" build="$2" host="$3" cc="$4" cflags="${5:-}" ldflags="${6:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

"$cmake" -S "$host" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
"$cmake" --build "$work/cmake-host" >/dev/null
"$work/cmake-host/host"

pc=$(find "$prefix" -name kalo.pc)
export PKG_CONFIG_PATH="$(dirname "$pc")"
# shellcheck disable=SC2046,SC2086
"$cc" $cflags $ldflags -DKALO_HOST_MAIN -o "$work/pc-host" "$host/../c_header_test.c" \
  $(pkg-config --cflags --libs kalo)
LD_LIBRARY_PATH="$(pkg-config --variable=libdir kalo)" "$work/pc-host"
