#!/usr/bin/env bash
# Cross-builds the Windows program and the core's test programs (mingw-w64).
#   scripts/build-windows.sh [--arch i686|x86_64] [BUILD_DIR [CMAKE_ARGS...]]
# i686 (the default) is the program as it ships, a 32-bit one, in build/windows; x86_64 builds
# the same tree as 64-bit programs, in build/windows64, for machines whose Wine cannot run
# 32-bit ones (scripts/wine-arch.sh). Needs scripts/setup.sh --windows (which builds the x86_64
# Crypto++ where it is needed, or when REPAIR_WINE_ARCH=win64 is given).
# CMAKE_ARGS go to the configure step, for example
#   -DREPAIR_NATIVE_PUBLISH=build/native/tools/repair-publish
# which lets the Windows tests publish a release and run repair.exe end to end.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=i686
case "${1:-}" in
  --arch) arch="${2:?build-windows: --arch needs i686 or x86_64}"; shift 2 ;;
  --arch=*) arch="${1#--arch=}"; shift ;;
  -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
esac
cache="${REPAIR_CACHE:-/var/cache/repair-build}"
case "$arch" in
  i686) default_dir=build/windows; prefix="$cache/cryptopp-mingw-current" ;;
  x86_64) default_dir=build/windows64; prefix="$cache/cryptopp-mingw-x86_64-current" ;;
  *) echo "build-windows: --arch must be i686 or x86_64, not $arch" >&2; exit 2 ;;
esac
toolchain="$PWD/cmake/mingw-$arch.cmake"
dir="${1:-$default_dir}"
[ $# -gt 0 ] && shift

if [ ! -f "$prefix/lib/libcryptopp.a" ]; then
  hint="scripts/setup.sh --windows"
  [ "$arch" = x86_64 ] && hint="REPAIR_WINE_ARCH=win64 scripts/setup.sh --windows"
  echo "build-windows: Crypto++ for $arch mingw missing; run $hint" >&2
  exit 1
fi
# CMake keeps the toolchain a tree was first configured with: one tree, one architecture.
configured="$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$dir/CMakeCache.txt" 2>/dev/null ||
  true)"
if [ -n "$configured" ] && [ "$configured" != "$toolchain" ]; then
  echo "build-windows: $dir was configured with $configured; use another folder for $arch" >&2
  exit 1
fi
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCRYPTOPP_PREFIX="$(readlink -f "$prefix")" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
