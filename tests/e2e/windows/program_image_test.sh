#!/usr/bin/env bash
# repair.exe as it ships, read without running it (so the check holds on machines whose Wine
# cannot start 32-bit programs): a large-address-aware PE32 image for i386 and the Windows GUI
# subsystem, importing no mingw runtime DLL (everything is linked statically), carrying both
# icon groups, the version block and the manifest that asks for administrator rights and
# common controls 6.
#   program_image_test.sh I686_OBJDUMP I686_WINDRES REPAIR_EXE
set -uo pipefail
objdump="$1"; windres="$2"; exe="${3:-}"
if [ -z "$exe" ]; then
  echo "SKIPPED: no i686 repair.exe given; configure this build with" \
       "-DREPAIR_I686_EXE=<i686 build>/src/repair.exe"
  exit 77
fi
[ -f "$exe" ] || { echo "FAIL: $exe does not exist"; exit 1; }
for tool in "$objdump" "$windres"; do
  [ -x "$tool" ] || { echo "FAIL: $tool is missing (scripts/setup.sh --windows installs it)"; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$objdump" -f "$exe" >"$work/file" 2>&1 || fail "objdump -f: $(cat "$work/file")"
"$objdump" -p "$exe" >"$work/headers" 2>&1 || fail "objdump -p: $(head -n 3 "$work/headers")"
: >"$work/resources.rc"
"$windres" -i "$exe" -O rc -o "$work/resources.rc" 2>"$work/windres.err" ||
  fail "windres cannot read the resources: $(cat "$work/windres.err")"
# windres writes the manifest's lines as rc strings, doubling every quote.
tr -d '\n' <"$work/resources.rc" | sed 's/\\n"  *"//g; s/""/"/g' >"$work/resources.flat"

# what | file | fixed text it must hold
checks=(
  "i386 image|file|file format pei-i386"
  "PE32, not PE32+|headers|(PE32)"
  "Windows GUI subsystem|headers|(Windows GUI)"
  "large address aware (4 GiB of address space under 64-bit Windows)|headers|large address aware"
  "large icon group 103|resources.rc|103 14 /* RT_GROUP_ICON */"
  "small icon group 104|resources.rc|104 14 /* RT_GROUP_ICON */"
  "version block|resources.rc|VALUE \"OriginalFilename\", \"repair.exe\""
  "manifest asks for administrator rights|resources.flat|level=\"requireAdministrator\""
  "manifest names common controls 6|resources.flat|name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""
  "manifest is for x86|resources.flat|processorArchitecture=\"x86\""
)
for check in "${checks[@]}"; do
  IFS='|' read -r what file text <<<"$check"
  grep -qF -- "$text" "$work/$file" || fail "$what: no '$text' in $file"
done
grep -q 'Magic[[:space:]]*010b' "$work/headers" || fail "PE32 magic 010b missing"

# Every import is a system DLL: a mingw runtime (libstdc++-6, libgcc_s_*, libwinpthread-1)
# would have to ship beside the program.
imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/headers")"
[ -n "$imports" ] || fail "no imports listed"
runtime="$(grep -iE '^(lib|mingw)' <<<"$imports")"
[ -z "$runtime" ] || fail "imports mingw runtime DLLs: $runtime"
grep -qix 'KERNEL32.dll' <<<"$imports" || fail "KERNEL32.dll is not imported: $imports"

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "program image: all checks passed ($(tr '\n' ' ' <<<"$imports"))"
