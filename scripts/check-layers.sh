#!/usr/bin/env bash
# Fails when an include of src/ or tools/ breaks the layering, and names the file and line:
#   - app -> ui -> engine -> strings -> codec -> platform -> common: each layer of src/ may
#     include itself and those to its right.
#   - Win32 headers (any spelling: <Windows.h>, <winbase.h>, the C run-time's <io.h>,
#     <process.h>, <direct.h>, ...) only in src/ui/win32/, src/platform/win32/ and the operator
#     tool's win32/ folder. Anywhere else, a header of those folders is included only if it
#     brings in no Win32 header, not even through another header.
#   - <curl/...> only in src/platform/posix/.
#   - The OS folders keep to their own kind: platform/posix/ and ui/terminal/ are included only
#     from those folders and the Linux host and entry point (app/posix_host*, app/main_posix*);
#     platform/win32/ and ui/win32/ only from those folders and the Windows host and entry point
#     (app/win32_host*, app/main_win32*). The operator tool's posix/ and win32/ likewise.
#   - Test-only headers (*_test_hooks.h, *_test_helper.h) are included by tests, by other
#     test-only headers, and by the module that defines them: a file in the header's folder or
#     below whose name starts with the header's stem (platform/http_client_test_hooks.h is
#     defined by platform/posix/http_client_curl.cpp and platform/win32/http_client_wininet.cpp).
# tests/ is not checked: a test may reach whatever it tests.
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
# The Windows SDK's headers (every win*.h among them) and the Microsoft C run-time's own ones,
# compared in lower case. glibc has none of these names.
win32_headers='win[a-z0-9_]*|ws2tcpip|ws2def|ws2ipdef|mswsock|iphlpapi|icmpapi|mstcpip|commctrl'
win32_headers+='|commdlg|cderr|dlgs|shellapi|shlobj|shlobj_core|shlwapi|shobjidl|shtypes'
win32_headers+='|knownfolders|objbase|objidl|ole2|oleauto|olectl|unknwn|combaseapi|rpc|rpcndr'
win32_headers+='|tlhelp32|psapi|dbghelp|imagehlp|userenv|lmcons|lmerr|sddl|aclapi|accctrl'
win32_headers+='|mmsystem|richedit|uxtheme|dwmapi|setupapi|ntdef|ntstatus|minwindef|sdkddkver'
win32_headers+='|versionhelpers|strsafe|wtsapi32|fileapi|handleapi|processthreadsapi|synchapi'
win32_headers+='|errhandlingapi|libloaderapi|sysinfoapi|memoryapi|heapapi|ioapiset|namedpipeapi'
win32_headers+='|processenv|securitybaseapi|consoleapi|debugapi|profileapi|stringapiset'
win32_headers+='|tchar|process|io|direct|conio|share|crtdbg|mbstring|mbctype|excpt'

shopt -s extglob
win32_places='@(src/ui/win32/*|src/platform/win32/*|tools/*/win32/*)'
posix_kind='@(src/platform/posix/*|src/ui/terminal/*|tools/*/posix/*|src/app/posix_host*|src/app/main_posix*)'
win32_kind='@(src/platform/win32/*|src/ui/win32/*|tools/*/win32/*|src/app/win32_host*|src/app/main_win32*)'

failures=0
fail() { echo "check-layers: $1"; failures=$((failures + 1)); }

sources=()
while IFS= read -r file; do sources+=("$file"); done < <(
  find src tools -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) 2>/dev/null | sort)

# Every include as FILE<TAB>LINE<TAB>< or "<TAB>TARGET.
includes=""
if [ "${#sources[@]}" -gt 0 ]; then
  includes="$(grep -nHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "${sources[@]}" |
    sed -E 's|^([^:]+):([0-9]+):[^<"]*([<"])([^>"]*)[>"].*|\1\t\2\t\3\t\4|')"
fi

is_win32_header() {  # is_win32_header TARGET: a bare name of the Win32 family, any case
  local name="${1,,}"
  [[ "$name" != */* && "$name" =~ ^($win32_headers)\.h$ ]]
}

# The file of src/ or tools/ each quoted include names, where there is one.
declare -A resolved=()
while IFS=$'\t' read -r file line delim target; do
  [ -n "$file" ] && [ "$delim" = '"' ] && [ -z "${resolved[$target]+set}" ] || continue
  if [ -f "src/$target" ]; then
    resolved[$target]="src/$target"
  elif [ -f "tools/$target" ]; then
    resolved[$target]="tools/$target"
  else
    resolved[$target]=""
  fi
done <<<"$includes"

# The files that bring in a Win32 header, by themselves or through the headers they include.
declare -A brings_win32=()
while IFS=$'\t' read -r file line delim target; do
  [ -n "$file" ] && is_win32_header "$target" && brings_win32[$file]=1
done <<<"$includes"
grown=1
while [ "$grown" = 1 ]; do
  grown=0
  while IFS=$'\t' read -r file line delim target; do
    [ -n "$file" ] && [ "$delim" = '"' ] && [ -z "${brings_win32[$file]:-}" ] || continue
    header="${resolved[$target]:-}"
    if [ -n "$header" ] && [ -n "${brings_win32[$header]:-}" ]; then
      brings_win32[$file]=1; grown=1
    fi
  done <<<"$includes"
done

for file in "${sources[@]}"; do
  case "$file" in
    src/*)
      layer="${file#src/}"; layer="${layer%%/*}"
      [ -n "${allowed[$layer]:-}" ] || fail "$file: not in a known layer (${!allowed[*]})" ;;
  esac
done

while IFS=$'\t' read -r file line delim target; do
  [ -n "$file" ] || continue
  at="$file:$line"

  if is_win32_header "$target"; then
    # shellcheck disable=SC2254
    case "$file" in
      $win32_places) ;;
      *) fail "$at includes <$target>: Win32 headers belong in src/ui/win32/, src/platform/win32/ and tools/publish/win32/" ;;
    esac
    continue
  fi
  if [ "$delim" = '<' ]; then
    case "$target" in
      curl/*)
        case "$file" in
          src/platform/posix/*) ;;
          *) fail "$at includes <$target>: libcurl belongs in src/platform/posix/" ;;
        esac ;;
    esac
    continue
  fi

  # A quoted include: the layers of src/.
  case "$file" in
    src/*)
      layer="${file#src/}"; layer="${layer%%/*}"
      rules="${allowed[$layer]:-}"
      if [ -n "$rules" ]; then
        case " $rules " in
          *" ${target%%/*} "*) ;;
          *) fail "$at includes \"$target\": $layer may include only: $rules" ;;
        esac
      fi ;;
  esac

  # The OS folders.
  # shellcheck disable=SC2254
  case "$target" in
    platform/posix/*|ui/terminal/*|publish/posix/*)
      case "$file" in
        $posix_kind) ;;
        *) fail "$at includes \"$target\": the Linux folders are reached only from themselves and the Linux host (app/posix_host*, app/main_posix*)" ;;
      esac ;;
    platform/win32/*|ui/win32/*|publish/win32/*)
      case "$file" in
        $win32_kind) ;;
        *) fail "$at includes \"$target\": the Win32 folders are reached only from themselves and the Windows host (app/win32_host*, app/main_win32*)" ;;
      esac ;;
  esac
  # shellcheck disable=SC2254
  case "$file" in
    $win32_places) ;;
    *)
      header="${resolved[$target]:-}"
      case "$header" in
        $win32_places)
          [ -n "${brings_win32[$header]:-}" ] &&
            fail "$at includes \"$target\", which brings in Win32 headers" ;;
      esac ;;
  esac

  # Test-only headers.
  name="${target##*/}"
  case "$name" in
    *_test_hooks.h|*_test_helper.h)
      stem="${name%_test_hooks.h}"; stem="${stem%_test_helper.h}"
      header="${resolved[$target]:-}"
      folder="$(dirname "${header:-src/$target}")"
      own_name="${file##*/}"
      case "$own_name" in
        *_test_hooks.h|*_test_helper.h) ;;
        *)
          if [[ "$file" != "$folder"/* || "$own_name" != "$stem"* ]]; then
            fail "$at includes \"$target\": test-only headers are for tests and the module that defines them"
          fi ;;
      esac ;;
  esac
done <<<"$includes"

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures include(s) against the layering"
  exit 1
fi
echo "check-layers: every include of src/ and tools/ keeps to its layers and folders"
