#!/usr/bin/env bash
# Runs a command with the environment the Windows programs need under Wine:
#   scripts/wine-env.sh COMMAND [ARGS...]
# A 32-bit prefix of our own (created on first use), no debug noise, and no proxy variables:
# WinINet under Wine sends even 127.0.0.1 requests to a proxy it finds there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEARCH=win32
export WINEDEBUG=-all
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Create the prefix once, before parallel test programs could race to create it.
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
exec "$@"
