#!/usr/bin/env bash
# The built-in demo: installs what it needs, builds, and walks through the operator's side
# with the project's demo key: a string file (repair.dat) and a version file are sealed,
# opened again and read back the way the tool reads them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target repair-publish >/dev/null
publish="$PWD/build/native/tools/repair-publish"

demo="build/demo"
rm -rf "$demo" && mkdir -p "$demo" && cd "$demo"
cat > strings.txt <<'TEXT'
; Texts and settings of the repair tool. Keys are case-sensitive; nothing is trimmed.
SYS_WINDOWTITLE=Demo Client Repair
SYS_REMOTEPATH=http://127.0.0.1:8080/demo/$MAJORVER$.$MINORVER$
SYS_LOCALVERFNAME=buildver.tvf
SYS_FILEHASHFNAME=filehash.tsf
STR_CONFIRM_RECOVERY=Damaged client files will be repaired.\nWould you like to proceed?
TEXT

echo "== sealing the string file"
"$publish" strings strings.txt repair.dat
echo "repair.dat: $(stat -c %s repair.dat) bytes (the text is $(stat -c %s strings.txt) bytes; 61 bytes of seal)"
echo
echo "== the entries as the tool reads them"
"$publish" show-strings repair.dat
echo
echo "== opening it again"
"$publish" open repair.dat - | head -n 3
echo "..."
echo
echo "== a version file for build 3.7"
"$publish" version 3 7 buildver.tvf
echo "buildver.tvf: $(stat -c %s buildver.tvf) bytes; plaintext: $("$publish" open buildver.tvf - | od -An -tx1 | tr -s ' ')"
echo
echo "== a damaged file is refused"
printf 'X' | dd of=repair.dat bs=1 seek=50 conv=notrunc status=none
if "$publish" open repair.dat - >/dev/null; then echo "unexpected: damaged file opened"; exit 1; fi
echo
echo "demo finished: files in $PWD"
