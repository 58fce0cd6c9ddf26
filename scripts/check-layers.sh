#!/usr/bin/env bash
# Fails when an include points the wrong way between the layers of src/, or when an operating
# system's headers appear outside the folders that may use them:
#   app -> ui -> engine -> strings -> codec -> platform -> common   (each may include those below)
#   <windows.h> (and the other Win32 headers) only in src/ui/win32/ and src/platform/win32/,
#   and in the operator tool's own win32/ folder; <curl/curl.h> only in src/platform/posix/.
# Usage: check-layers.sh [SOURCE_ROOT]   (default: the tree this script lies in)
set -uo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root" || exit 2

# What each layer of src/ may include, itself always.
declare -A allowed=(
  [common]="common"
  [platform]="platform common"
  [codec]="codec platform common"
  [strings]="strings codec platform common"
  [engine]="engine strings codec platform common"
  [ui]="ui engine strings codec platform common"
  [app]="app ui engine strings codec platform common"
)
win32_headers='windows|winsock2|ws2tcpip|wininet|commctrl|shellapi|objbase|ole2|shlobj|winerror'

failures=0
fail() { echo "check-layers: $1"; failures=$((failures + 1)); }

while IFS= read -r file; do
  layer="${file#src/}"; layer="${layer%%/*}"
  rules="${allowed[$layer]:-}"
  [ -n "$rules" ] || fail "$file: not in a known layer (${!allowed[*]})"
  while IFS=: read -r line target; do
    target_layer="${target%%/*}"
    case " $rules " in
      *" $target_layer "*) ;;
      *) fail "$file:$line includes \"$target\": $layer may include only: $rules" ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file" |
           sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | sort)

while IFS= read -r hit; do
  file="${hit%%:*}"
  case "$file" in
    src/ui/win32/*|src/platform/win32/*|tools/*/win32/*) ;;
    *) fail "$hit: Win32 headers belong in src/ui/win32/ and src/platform/win32/" ;;
  esac
done < <(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($win32_headers)\.h>" \
           --include='*.h' --include='*.cpp' --include='*.c' src tools)

while IFS= read -r hit; do
  case "${hit%%:*}" in
    src/platform/posix/*) ;;
    *) fail "$hit: libcurl belongs in src/platform/posix/" ;;
  esac
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<curl/' \
           --include='*.h' --include='*.cpp' --include='*.c' src tools)

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures include(s) against the layering"
  exit 1
fi
echo "check-layers: every include of src/ points down its layers"
