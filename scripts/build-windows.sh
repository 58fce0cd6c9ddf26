#!/usr/bin/env bash
# Cross-builds the Windows program and the core's test programs (32-bit, mingw-w64).
#   scripts/build-windows.sh [BUILD_DIR [CMAKE_ARGS...]]   (default build/windows; needs
#                                                            scripts/setup.sh --windows)
# CMAKE_ARGS go to the configure step, for example
#   -DREPAIR_NATIVE_PUBLISH=build/native/tools/repair-publish
# which lets the Windows tests publish a release and run repair.exe end to end.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build/windows}"
[ $# -gt 0 ] && shift
prefix="${REPAIR_CACHE:-/var/cache/repair-build}/cryptopp-mingw-current"
if [ ! -f "$prefix/lib/libcryptopp.a" ]; then
  echo "build-windows: Crypto++ for mingw missing; run scripts/setup.sh --windows" >&2
  exit 1
fi
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" \
  -DCRYPTOPP_PREFIX="$(readlink -f "$prefix")" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
