#!/usr/bin/env bash
# The layering check on small trees: one that keeps the rules passes, each kind of breach fails
# and is named. Then the real tree. Usage: check_layers_test.sh CHECK_SCRIPT SOURCE_ROOT
set -uo pipefail
check="$1"
source_root="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

tree() {  # tree NAME FILE=TEXT...: a tree of src/ (and tools/) files with the given lines
  local dir="$work/$1"; shift
  rm -rf "$dir"; mkdir -p "$dir"
  for entry in "$@"; do
    mkdir -p "$dir/$(dirname "${entry%%=*}")"
    printf '%s\n' "${entry#*=}" >"$dir/${entry%%=*}"
  done
  echo "$dir"
}

expect() {  # expect pass|fail DIR [TEXT]: the check's verdict on DIR, and TEXT in what it says
  local want="$1" dir="$2" text="${3:-}" out rc
  out="$("$check" "$dir" 2>&1)"; rc=$?
  if { [ "$want" = pass ] && [ "$rc" != 0 ]; } || { [ "$want" = fail ] && [ "$rc" != 1 ]; }; then
    echo "FAIL: expected $want on $(basename "$dir"), got exit $rc:"; echo "$out"; failed=1
  elif [ -n "$text" ] && ! grep -qF -- "$text" <<<"$out"; then
    echo "FAIL: $(basename "$dir"): no '$text' in:"; echo "$out"; failed=1
  else
    echo "ok: $(basename "$dir") ($want)"
  fi
}

good=$(tree good 'src/app/main.cpp=#include "ui/refresh.h"' 'src/ui/refresh.h=#include "engine/state.h"' \
  'src/engine/state.h=#include "strings/table.h"' 'src/strings/table.h=#include "codec/codec.h"' \
  'src/codec/codec.h=#include "common/format.h"' 'src/platform/win32/io.cpp=#include <windows.h>' \
  'src/ui/win32/window.cpp=#include <windows.h>' 'src/platform/posix/http.cpp=#include <curl/curl.h>' \
  'tools/publish/win32/files.cpp=#include <windows.h>' 'src/common/format.h=#include <string>')
expect pass "$good"
expect fail "$(tree platform_up 'src/platform/posix/host.h=#include "app/app_host.h"')" \
  'src/platform/posix/host.h:1 includes "app/app_host.h"'
expect fail "$(tree engine_up 'src/engine/run.cpp=  #  include "ui/window_controls.h"')" \
  'engine may include only'
expect fail "$(tree windows_in_app 'src/app/main_win32.cpp=#include <windows.h>')" \
  'src/app/main_win32.cpp:1'
expect fail "$(tree wininet_in_engine 'src/engine/fetch.cpp=#include <wininet.h>')" 'Win32 headers'
expect fail "$(tree curl_in_engine 'src/engine/fetch.cpp=#include <curl/curl.h>')" 'libcurl belongs'
expect fail "$(tree unknown_layer 'src/misc/x.cpp=int x;')" 'not in a known layer'

echo "--- the source tree"
"$check" "$source_root" || failed=1
exit "$failed"
