#!/usr/bin/env bash
# The operator tool's command line: results, exit codes and the files it writes.
#   publish_cli_test.sh REPAIR_PUBLISH
set -uo pipefail
publish="$1"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
expect() {  # expect EXIT_CODE description command...
  local want="$1" what="$2"; shift 2
  "$@" >out.txt 2>err.txt
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: exit $got, expected $want"; cat err.txt; failures=$((failures + 1))
  fi
}
size_is() {
  local got; got=$(stat -c %s "$1" 2>/dev/null || echo missing)
  [ "$got" = "$2" ] || { echo "FAIL: $1 is $got bytes, expected $2"; failures=$((failures + 1)); }
}

expect 2 "no command" "$publish"
expect 2 "unknown command" "$publish" frobnicate
expect 0 "overview help" "$publish" --help
for c in keygen export-key seal open strings show-strings version; do
  expect 0 "$c --help" "$publish" "$c" --help
  grep -q "usage: repair-publish $c" out.txt || { echo "FAIL: $c --help has no usage"; failures=$((failures + 1)); }
done

# version: 12- and 16-byte forms, little-endian words, strict numbers.
expect 0 "version 2 numbers" "$publish" version 3 7 v12.tvf
size_is v12.tvf 73
expect 0 "version 4 numbers" "$publish" version 10 0 -5 2147483647 v16.tvf
size_is v16.tvf 77
"$publish" open v16.tvf v16.bin
[ "$(od -An -tx1 v16.bin | tr -d ' \n')" = "0a00000000000000fbffffffffffff7f" ] \
  || { echo "FAIL: version words are not little-endian as given"; failures=$((failures + 1)); }
expect 1 "version with a word that is no number" "$publish" version 3 7x bad.tvf
expect 1 "version past 32 bits" "$publish" version 2147483648 0 bad.tvf
expect 1 "negative minor" "$publish" version 3 -1 bad.tvf
expect 2 "version without output" "$publish" version 3
expect 2 "version with too many words" "$publish" version 1 2 3 4 5 bad.tvf
[ ! -e bad.tvf ] || { echo "FAIL: a refused version wrote a file"; failures=$((failures + 1)); }

# seal/open: unreadable input, damaged blob, nothing half-written.
printf 'payload' > in.txt
expect 1 "seal a missing file" "$publish" seal missing.txt out.bin
expect 1 "seal a folder" "$publish" seal . out.bin
expect 2 "seal without output" "$publish" seal in.txt
expect 0 "seal" "$publish" seal in.txt sealed.bin
size_is sealed.bin 68
expect 0 "open" "$publish" open sealed.bin opened.txt
cmp -s in.txt opened.txt || { echo "FAIL: open did not give the input back"; failures=$((failures + 1)); }
head -c 60 sealed.bin > short.bin
expect 1 "open a 60-byte blob" "$publish" open short.bin x.txt
: > empty.bin
expect 1 "open an empty file" "$publish" open empty.bin x.txt
[ ! -e x.txt ] || { echo "FAIL: a failed open wrote its output"; failures=$((failures + 1)); }
expect 1 "seal into a missing folder" "$publish" seal in.txt no/such/dir/out.bin
expect 1 "open with a key that is no key" "$publish" open --private in.txt sealed.bin x.txt

# strings: warnings for lines the tool ignores; the sealed text is what was given.
printf 'A=1\r\n=empty key\n%s=long\nB = 2\n' "$(head -c 300 /dev/zero | tr '\0' K)" > s.txt
expect 0 "strings" "$publish" strings s.txt repair.dat
grep -q "empty key" err.txt && grep -q "over 255 bytes" err.txt \
  || { echo "FAIL: strings did not warn about ignored lines"; cat err.txt; failures=$((failures + 1)); }
expect 0 "show-strings" "$publish" show-strings repair.dat
[ "$(grep -v '^;' out.txt)" = "$(printf 'A=1\nB = 2')" ] \
  || { echo "FAIL: show-strings listed:"; cat out.txt; failures=$((failures + 1)); }

# show-strings marks a key the tool never reads and lists the keys left to their texts.
printf 'STR_EROR=Oops\nSTR_ERROR=Fehler\n' > typo.txt
expect 0 "strings with a typo" "$publish" strings typo.txt typo.dat
grep -q "typo.txt:1: warning: the tool reads no key 'STR_EROR' (did you mean STR_ERROR?)" err.txt \
  || { echo "FAIL: strings did not warn about the typo"; cat err.txt; failures=$((failures + 1)); }
expect 0 "show-strings with a typo" "$publish" show-strings typo.dat
mark="; not read by the tool (did you mean STR_ERROR?)"
[ "$(grep -B1 '^STR_EROR=' out.txt | head -1)" = "$mark" ] \
  && ! grep -q '^; STR_ERROR=' out.txt && grep -qx '; STR_CONFIRM=Confirm' out.txt \
  || { echo "FAIL: show-strings marks:"; cat out.txt; failures=$((failures + 1)); }

# strings --template: sealed as it stands, the template gives the tool every built-in text,
# which show-strings lists for a file that sets no key. (The file's \n always puts a space
# before the line break, which the confirmation question's built-in text has not: noted.)
expect 0 "strings --template" "$publish" strings --template template.txt
grep -q "note: STR_CONFIRM_RECOVERY: " err.txt \
  || { echo "FAIL: no note about the question's line break"; cat err.txt
       failures=$((failures + 1)); }
expect 0 "seal the template" "$publish" strings template.txt template.dat
[ ! -s err.txt ] \
  || { echo "FAIL: the template drew warnings:"; cat err.txt; failures=$((failures + 1)); }
expect 0 "show-strings of the template" "$publish" show-strings template.dat
sed 's/ \\n/\\n/g' out.txt | sort > loaded.txt
printf '; no entries\n' > none.txt
"$publish" strings none.txt none.dat >/dev/null
"$publish" show-strings none.dat | sed -n 's/^; \([A-Z]\)/\1/p' | sort > defaults.txt
[ -s defaults.txt ] && cmp -s loaded.txt defaults.txt \
  || { echo "FAIL: the template does not read back as the defaults:"; diff loaded.txt defaults.txt
       failures=$((failures + 1)); }
expect 2 "strings --template with a text" "$publish" strings --template t.txt s.txt

# export-key: the embedded key is 202 bytes; keygen keys work with --private/--public.
expect 0 "export-key" "$publish" export-key --private k.der --public k.pub
size_is k.der 202
expect 2 "export-key without a file" "$publish" export-key
expect 0 "keygen" "$publish" keygen mine.der mine.pub
size_is mine.der 202
expect 0 "seal for another key" "$publish" seal --public mine.pub in.txt other.bin
expect 1 "the embedded key cannot open it" "$publish" open other.bin x.txt
expect 0 "its own key can" "$publish" open --private mine.der other.bin x.txt

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "repair-publish command line: all checks passed"
