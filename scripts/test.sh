#!/usr/bin/env bash
# The whole test run: installs what it needs, then builds and runs
#   1. the native suite (Linux, gcc),
#   2. the same suite with AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. each fuzz target for a short bounded time (FUZZ_SECONDS, default 20),
#   4. the Windows build of the core's suites (mingw-w64, i686) under Wine. Where Wine cannot
#      run 32-bit programs (scripts/wine-arch.sh; REPAIR_WINE_ARCH=win64 forces it) the i686
#      build is still made and its repair.exe checked without running it, and the same tree is
#      built for x86_64 and its suites run under wine64.
# The native and sanitizer suites include the end-to-end runs against a private nginx.
# Options: --native-only skips the Windows suite; --no-sanitize skips the sanitizer suite and
# the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."

windows=1
sanitize=1
for arg in "$@"; do
  case "$arg" in
    --native-only) windows=0 ;;
    --no-sanitize) sanitize=0 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

if [ "$windows" = 1 ]; then scripts/setup.sh --windows; else scripts/setup.sh; fi

jobs="$(nproc)"
BUILD_ROOT="${BUILD_ROOT:-build}"
started=$SECONDS

section() { printf '\n=== %s (%ds)\n' "$1" "$((SECONDS - started))"; }

section "native build"
cmake -S . -B "$BUILD_ROOT/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_ROOT/native" -j"$jobs"
section "native tests"
ctest --test-dir "$BUILD_ROOT/native" --output-on-failure -j"$jobs"

if [ "$sanitize" = 1 ]; then
  section "sanitizer build"
  cmake -S . -B "$BUILD_ROOT/sanitize" -DCMAKE_BUILD_TYPE=Debug -DREPAIR_SANITIZE=ON >/dev/null
  cmake --build "$BUILD_ROOT/sanitize" -j"$jobs"
  section "sanitizer tests"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$BUILD_ROOT/sanitize" --output-on-failure -j"$jobs"
  section "fuzzers"
  BUILD_ROOT="$BUILD_ROOT" scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
fi

if [ "$windows" = 1 ]; then
  publish="$(readlink -f "$BUILD_ROOT/native/tools/repair-publish")"
  wine_arch="$(scripts/wine-arch.sh)"
  section "windows build"
  if [ "$wine_arch" = win64 ]; then
    why="$(scripts/wine-arch.sh --reason)"
    [ -n "${REPAIR_WINE_ARCH:-}" ] || why="32-bit programs cannot run on this machine ($why)"
    echo "$why; running the Windows suites as 64-bit programs under wine64"
  fi
  scripts/build-windows.sh "$BUILD_ROOT/windows" -DREPAIR_NATIVE_PUBLISH="$publish"
  if [ "$wine_arch" = win32 ]; then
    section "windows tests (wine)"
    scripts/wine-env.sh ctest --test-dir "$BUILD_ROOT/windows" --output-on-failure -j"$jobs"
  else
    section "windows build (x86_64)"
    scripts/build-windows.sh --arch x86_64 "$BUILD_ROOT/windows64" \
      -DREPAIR_NATIVE_PUBLISH="$publish" \
      -DREPAIR_I686_EXE="$(readlink -f "$BUILD_ROOT/windows/src/repair.exe")"
    section "windows tests (wine64)"
    REPAIR_WINE_ARCH=win64 scripts/wine-env.sh \
      ctest --test-dir "$BUILD_ROOT/windows64" --output-on-failure -j"$jobs"
  fi
fi
section "all suites passed"
