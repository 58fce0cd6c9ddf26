#!/usr/bin/env bash
# The layering check on small trees: one that keeps the rules passes, each kind of breach fails
# and is named. Then the real tree. Usage: check_layers_test.sh CHECK_SCRIPT SOURCE_ROOT
set -uo pipefail
check="$1"
source_root="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

tree() {  # tree NAME FILE=TEXT...: a tree of src/ (and tools/) files; \n in TEXT starts a line
  local dir="$work/$1"; shift
  rm -rf "$dir"; mkdir -p "$dir"
  for entry in "$@"; do
    mkdir -p "$dir/$(dirname "${entry%%=*}")"
    printf '%b\n' "${entry#*=}" >"$dir/${entry%%=*}"
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
  'tools/publish/win32/files.cpp=#include <io.h>' 'src/common/format.h=#include <string>' \
  'src/ui/win32/setup.h=#include <Windows.h>' 'src/ui/win32/main_window.h=#include <string>' \
  'src/platform/win32/mutex.h=#include <cstdint>' 'src/platform/posix/tty.h=#include <termios.h>' \
  'src/ui/terminal/window.h=#include "platform/posix/tty.h"' \
  "src/app/posix_host.cpp=#include \"ui/terminal/window.h\"\\n#include \"platform/posix/tty.h\"" \
  "src/app/win32_host.h=#include \"platform/win32/mutex.h\"\\n#include \"ui/win32/main_window.h\"" \
  'src/app/main_win32.cpp=#include "app/win32_host.h"' 'src/app/main_posix.cpp=#include <unistd.h>' \
  'src/platform/hooks_test_hooks.h=#include <cstdint>' 'src/ui/terminal/window_test_helper.h=' \
  'src/platform/posix/hooks_curl.cpp=#include "platform/hooks_test_hooks.h"' \
  'src/platform/win32/hooks_wininet.cpp=#include "platform/hooks_test_hooks.h"' \
  'src/ui/terminal/window.cpp=#include "ui/terminal/window_test_helper.h"' \
  'tests/app/host_test.cpp=#include "ui/terminal/window_test_helper.h"')
expect pass "$good"

# Each breach is a small tree of its own; the check must refuse it and name the file and line.
# Each line: NAME|what the check must say|FILE=TEXT;FILE=TEXT...
while IFS='|' read -r name text files; do
  IFS=';' read -ra entries <<<"$files"
  expect fail "$(tree "$name" "${entries[@]}")" "$text"
done <<'BREACHES'
platform_up|src/platform/posix/host.h:1 includes "app/app_host.h"|src/platform/posix/host.h=#include "app/app_host.h"
engine_up|engine may include only|src/engine/run.cpp=  #  include "ui/window_controls.h"
unknown_layer|src/misc/x.cpp: not in a known layer|src/misc/x.cpp=int
windows_in_app|src/app/main_win32.cpp:1 includes <windows.h>|src/app/main_win32.cpp=#include <windows.h>
windows_capitalised|src/app/main_win32.cpp:2 includes <Windows.h>|src/app/main_win32.cpp=//\n#include <Windows.h>
winbase_in_engine|src/engine/files.cpp:1 includes <winbase.h>|src/engine/files.cpp=#include <winbase.h>
wininet_in_engine|src/engine/fetch.cpp:1 includes <wininet.h>|src/engine/fetch.cpp=#include <wininet.h>
winsock_quoted|src/platform/net.cpp:1 includes <WinSock2.h>|src/platform/net.cpp=#include "WinSock2.h"
process_in_engine|src/engine/run.cpp:2 includes <process.h>|src/engine/run.cpp=#include <cstdio>\n#include <process.h>
io_in_tool|tools/publish/files.cpp:1 includes <io.h>|tools/publish/files.cpp=#include <io.h>
direct_in_common|src/common/dir.cpp:1 includes <direct.h>|src/common/dir.cpp=#include <direct.h>
curl_in_engine|src/engine/fetch.cpp:1 includes <curl/curl.h>: libcurl belongs|src/engine/fetch.cpp=#include <curl/curl.h>
tty_in_engine|src/engine/run.cpp:1 includes "platform/posix/tty.h": the Linux folders|src/engine/run.cpp=#include "platform/posix/tty.h";src/platform/posix/tty.h=
terminal_in_refresh|src/ui/refresh.cpp:1 includes "ui/terminal/layout.h": the Linux folders|src/ui/refresh.cpp=#include "ui/terminal/layout.h";src/ui/terminal/layout.h=
posix_in_win32_ui|src/ui/win32/window.cpp:1 includes "platform/posix/fd_io.h"|src/ui/win32/window.cpp=#include "platform/posix/fd_io.h";src/platform/posix/fd_io.h=
win32_in_posix_host|src/app/posix_host.cpp:1 includes "platform/win32/mutex.h": the Win32 folders|src/app/posix_host.cpp=#include "platform/win32/mutex.h";src/platform/win32/mutex.h=
win32_in_lifecycle|src/app/lifecycle.cpp:1 includes "ui/win32/main_window.h": the Win32 folders|src/app/lifecycle.cpp=#include "ui/win32/main_window.h";src/ui/win32/main_window.h=
tool_win32_backend|tools/publish/files.cpp:1 includes "publish/win32/paths.h": the Win32 folders|tools/publish/files.cpp=#include "publish/win32/paths.h";tools/publish/win32/paths.h=
windows_through_header|src/app/win32_host.h:1 includes "platform/win32/handle.h", which brings in Win32|src/app/win32_host.h=#include "platform/win32/handle.h";src/platform/win32/handle.h=#include <windows.h>
windows_two_steps|src/app/win32_host.cpp:1 includes "ui/win32/main_window.h", which brings in Win32|src/app/win32_host.cpp=#include "ui/win32/main_window.h";src/ui/win32/main_window.h=#include "ui/win32/setup.h";src/ui/win32/setup.h=#include <WINDOWS.H>
hooks_in_engine|src/engine/fetch.cpp:1 includes "platform/http_client_test_hooks.h": test-only|src/engine/fetch.cpp=#include "platform/http_client_test_hooks.h";src/platform/http_client_test_hooks.h=
hooks_in_other_backend|src/platform/posix/file_io.cpp:1 includes "platform/http_client_test_hooks.h": test-only|src/platform/posix/file_io.cpp=#include "platform/http_client_test_hooks.h";src/platform/http_client_test_hooks.h=
helper_in_app|src/app/lifecycle.cpp:1 includes "app/posix_host_test_helper.h": test-only|src/app/lifecycle.cpp=#include "app/posix_host_test_helper.h";src/app/posix_host_test_helper.h=
helper_in_main|src/app/main_posix.cpp:1 includes "ui/terminal/terminal_window_test_helper.h": test-only|src/app/main_posix.cpp=#include "ui/terminal/terminal_window_test_helper.h";src/ui/terminal/terminal_window_test_helper.h=
BREACHES

echo "--- the source tree"
"$check" "$source_root" || failed=1
exit "$failed"
