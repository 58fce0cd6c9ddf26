#!/usr/bin/env bash
# Runs a command with the environment the Windows programs need under Wine:
#   scripts/wine-env.sh COMMAND [ARGS...]
# REPAIR_WINE_ARCH names the kind of program to run: win32 (the i686 build, under Wine's 32-bit
# loader) or win64 (the x86_64 build, under wine64); unset, whatever this machine can run
# (scripts/wine-arch.sh). Then: a prefix of that kind of our own (created on first use, by one
# caller while the others wait), no debug noise, and no proxy variables: WinINet under Wine
# sends even 127.0.0.1 requests to a proxy it finds there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
arch="${REPAIR_WINE_ARCH:-$("$root/scripts/wine-arch.sh")}"
case "$arch" in
  win32) default_prefix="$root/build/wineprefix" ;;
  win64) default_prefix="$root/build/wineprefix64" ;;
  *) echo "wine-env: REPAIR_WINE_ARCH must be win32 or win64, not $arch" >&2; exit 2 ;;
esac
# A prefix chosen here follows the kind of program a nested call runs; one given is kept.
if [ -z "${WINEPREFIX:-}" ] || [ "$WINEPREFIX" = "${REPAIR_WINE_DEFAULT_PREFIX:-}" ]; then
  export WINEPREFIX="$default_prefix" REPAIR_WINE_DEFAULT_PREFIX="$default_prefix"
fi
export REPAIR_WINE_ARCH="$arch" WINEARCH="$arch" WINEDEBUG=-all
# wine64-bin/ makes "wine" mean wine64 (see the script there); a 32-bit run must not inherit it.
path=":$PATH:"
path="${path//":$root/scripts/wine64-bin:"/:}"
path="${path#:}"
export PATH="${path%:}"
if [ "$arch" = win64 ]; then
  export WINELOADER=/usr/lib/wine/wine64 PATH="$root/scripts/wine64-bin:$PATH"
elif [ "${WINELOADER:-}" = /usr/lib/wine/wine64 ]; then
  unset WINELOADER
fi
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY

mkdir -p "$(dirname "$WINEPREFIX")"
(
  # Parallel test programs must not race to create the prefix.
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
) 9>"$WINEPREFIX.lock"
have=""
if [ -f "$WINEPREFIX/system.reg" ]; then
  have="$(sed -n 's/^#arch=//p' "$WINEPREFIX/system.reg" | head -n 1)"
fi
if [ -n "$have" ] && [ "$have" != "$arch" ]; then
  echo "wine-env: $WINEPREFIX is a $have prefix, but $arch programs are to run in it;" \
       "give another WINEPREFIX" >&2
  exit 1
fi
exec "$@"
