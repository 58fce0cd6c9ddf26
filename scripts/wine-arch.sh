#!/usr/bin/env bash
# Tells which kind of Windows program Wine can run on this machine:
#   scripts/wine-arch.sh           prints win32 when 32-bit programs run (the shipped i686 build
#                                  is tested as it is), else win64 (the suites then run as
#                                  64-bit programs under wine64)
#   scripts/wine-arch.sh --reason  prints, in one line, why
# A kernel without its 32-bit emulation refuses to start Wine's i386 loader at all ("Exec format
# error"), so the probe starts that loader and, when it does start, has it run cmd in a scratch
# 32-bit prefix. REPAIR_WINE_ARCH=win32 or win64 overrides the probe. The answer is cached in
# build/wine-arch for this boot of the machine and these Wine loaders.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
wine32="${REPAIR_WINE32_LOADER:-/usr/lib/wine/wine}"
wine64="${REPAIR_WINE64_LOADER:-/usr/lib/wine/wine64}"
cache="$root/build/wine-arch"

want=arch
case "${1:-}" in
  "") ;;
  --reason) want=reason ;;
  -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
  *) echo "wine-arch.sh: unknown option $1" >&2; exit 2 ;;
esac

answer() {  # ARCH REASON
  if [ "$want" = arch ]; then echo "$1"; else echo "$2"; fi
}

case "${REPAIR_WINE_ARCH:-}" in
  "") ;;
  win32|win64) answer "$REPAIR_WINE_ARCH" "REPAIR_WINE_ARCH=$REPAIR_WINE_ARCH was given"; exit 0 ;;
  *) echo "wine-arch.sh: REPAIR_WINE_ARCH must be win32 or win64, not $REPAIR_WINE_ARCH" >&2
     exit 2 ;;
esac

# What the answer depends on: the kernel as booted and the loaders as installed.
loader_id() { stat -L -c '%n %s %Y' "$1" 2>/dev/null || echo "$1 absent"; }
key="$( { cat /proc/sys/kernel/random/boot_id 2>/dev/null || uname -rv; loader_id "$wine32"
          loader_id "$wine64"; } | sha1sum | cut -c1-16)"
if [ -f "$cache" ] && [ "$(sed -n 1p "$cache")" = "$key" ]; then
  answer "$(sed -n 2p "$cache")" "$(sed -n 3p "$cache")"
  exit 0
fi

# The last part of a failed start's message: "Exec format error", "No such file or directory".
why_not() { tail -n 1 | sed 's/.*: //' | cut -c1-120; }

# Prints "ARCH" then "REASON".
probe() {
  local out code scratch
  if [ ! -x "$wine32" ]; then
    printf 'win64\nthe 32-bit Wine loader %s is not installed\n' "$wine32"
    return 0
  fi
  # Started by bash, which names a refused binary as such (timeout's execvp would hand it to
  # /bin/sh as a script instead).
  if ! out="$(timeout 30 bash -c '"$0" --version' "$wine32" 2>&1)"; then
    printf 'win64\nthe 32-bit Wine loader %s does not start: %s\n' "$wine32" \
      "$(why_not <<<"${out:-no output}")"
    return 0
  fi
  mkdir -p "$root/build"
  scratch="$(mktemp -d "$root/build/wine-arch-probe.XXXXXX")"
  code=0
  (export WINEPREFIX="$scratch/prefix" WINEARCH=win32 WINEDEBUG=-all
   unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY
   status=0
   timeout 180 "$wine32" cmd /c exit 7 >"$scratch/out" 2>&1 </dev/null || status=$?
   timeout 30 wineserver -k >/dev/null 2>&1 || true
   exit "$status") || code=$?
  out="$(cat "$scratch/out")"
  rm -rf "$scratch"
  if [ "$code" = 7 ]; then
    printf 'win32\n32-bit programs run under %s\n' "$wine32"
  elif [ "$code" = 124 ]; then
    printf 'win64\nthe 32-bit Wine loader %s did not run cmd within 180 s\n' "$wine32"
  else
    printf 'win64\nthe 32-bit Wine loader %s did not run cmd (exit code %s: %s)\n' "$wine32" \
      "$code" "$(why_not <<<"${out:-no output}")"
  fi
}

result="$(probe)"
arch="$(sed -n 1p <<<"$result")"
reason="$(sed -n 2p <<<"$result")"
if [ "$arch" = win64 ] && ! out="$(timeout 30 bash -c '"$0" --version' "$wine64" 2>&1)"; then
  echo "wine-arch.sh: no Windows program can run here: $reason, and the 64-bit loader" \
       "$wine64 does not start either ($(why_not <<<"${out:-no output}"))" >&2
  exit 1
fi
mkdir -p "$root/build"
printf '%s\n%s\n%s\n' "$key" "$arch" "$reason" >"$cache.tmp.$$"
mv -f "$cache.tmp.$$" "$cache"
answer "$arch" "$reason"
