#!/usr/bin/env bash
# The folder walk of repair-publish 'manifest': what it lists (checked against md5sum and the
# file system through 'inspect'), leaves out, refuses and notes, and its progress line.
#   client_scan_test.sh REPAIR_PUBLISH
set -uo pipefail
. "$(dirname "$(realpath "$0")")/publish_test_lib.sh"

expect_help manifest
make_keys
make_client

# --- manifest and inspect ------------------------------------------------------------------
expect 0 "manifest" "$publish" manifest client m.tsf
grep -q "linked: a symbolic link" err.txt || fail "the link to a folder is not reported"
grep -q "readme-link: a symbolic link" err.txt || fail "the link to a file is not reported"
grep -q "empty" err.txt && fail "the empty file is treated apart"
expect 0 "inspect" "$publish" inspect m.tsf
expected_listing client > want.txt
cmp -s want.txt out.txt || { fail "inspect does not list what md5sum sees"; diff want.txt out.txt; }
grep -q "^d41d8cd98f00b204e9800998ecf8427e 0 data\\\\empty.log$" out.txt || fail "the empty file is not listed"
grep -q secret out.txt && fail "a link out of the tree was followed"
# --keep-empty is still taken from old scripts, and changes nothing.
expect 0 "manifest --keep-empty" "$publish" manifest --keep-empty client m-empty.tsf
"$publish" inspect m-empty.tsf > listed.txt 2>/dev/null
cmp -s want.txt listed.txt || { fail "--keep-empty changes the listing"; diff want.txt listed.txt; }

expect 0 "manifest with exclusions" "$publish" manifest --exclude data/ui --exclude 'with space\a b.txt' \
  --exclude no/such client m-ex.tsf
grep -q "no\\\\such matched nothing" err.txt || fail "an exclusion that matched nothing is not reported"
"$publish" inspect m-ex.tsf > listed.txt 2>/dev/null
expected_listing client -not -path './data/ui/*' -not -name 'a b.txt' > want.txt
cmp -s want.txt listed.txt || { fail "excluded names are listed"; diff want.txt listed.txt; }

# The output inside the folder is not listed, however often the manifest is made.
expect 0 "manifest into the folder" "$publish" manifest client client/own.tsf
expect 0 "manifest into the folder again" "$publish" manifest client client/own.tsf
"$publish" inspect client/own.tsf 2>/dev/null | grep -q own.tsf && fail "the manifest lists itself"
rm client/own.tsf

# Refusals: 259 bytes of name is the limit, 4 GiB of size; no half-written output.
long_dir="$(printf 'd%.0s' $(seq 200))"
mkdir -p "names/$long_dir"
printf 'z' > "names/$long_dir/$(printf 'f%.0s' $(seq 58))"
expect 0 "a 259-byte name" "$publish" manifest names n.tsf
printf 'z' > "names/$long_dir/$(printf 'g%.0s' $(seq 59))"
expect 1 "a 260-byte name" "$publish" manifest names n2.tsf
grep -q "260 bytes; the tool takes at most 259" err.txt || { fail "no clear message for a long name"; cat err.txt; }
[ ! -e n2.tsf ] || fail "a refused manifest was written"
mkdir trailing && printf 'z' > trailing/name.
expect 1 "a name that ends with a dot" "$publish" manifest trailing t.tsf
grep -q "ends with a dot or a space" err.txt || { fail "no clear message for a trailing dot"; cat err.txt; }
mkdir -p device/data && printf 'z' > device/data/Aux.txt
expect 1 "a device's name" "$publish" manifest device d.tsf
grep -q "opens a device" err.txt || { fail "no clear message for a device's name"; cat err.txt; }
mkdir huge && truncate -s 4294967296 huge/4gib.bin
expect 1 "a 4 GiB file" "$publish" manifest huge h.tsf
grep -q "under 4 GiB" err.txt || { fail "no clear message for a 4 GiB file"; cat err.txt; }
expect 1 "a missing folder" "$publish" manifest no-such-dir x.tsf
expect 1 "a file as the folder" "$publish" manifest m.tsf x.tsf
expect 2 "manifest without output" "$publish" manifest client
expect 2 "a misspelt option" "$publish" manifest --exlude x client x.tsf
expect 1 "a public key that is no key" "$publish" manifest --public m.tsf client x.tsf

# --- names Windows takes for one file: warned about, both named; the manifest is written -----
U=$'\xdc' u=$'\xfc'
mkdir -p folds/Data folds/north folds/south
printf 'a' > folds/README.txt
printf 'b' > folds/readme.TXT
printf 'c' > folds/data
printf 'd' > folds/Data/x.txt
printf 'e' > "folds/north/${U}bersicht.txt"
printf 'f' > "folds/north/${u}bersicht.txt"
printf 'g' > "folds/south/${u}bersicht.txt"
expect 0 "manifest of names Windows folds" "$publish" manifest folds f.tsf
[ -s f.tsf ] || fail "no manifest written for names Windows folds"
grep -q "README.txt and readme.TXT differ only in letter case: on Windows they are one file" \
  err.txt || { fail "no warning for an ASCII letter-case pair"; cat err.txt; }
grep -q "data is a file on Windows where Data\\\\x.txt needs a folder" err.txt ||
  { fail "no warning for a file where a folder goes"; cat err.txt; }
grep -q "bersicht.txt and" err.txt && fail "letters beyond ASCII folded without a code page"
expect 0 "manifest of names Windows folds in 1252" "$publish" manifest --code-page 1252 folds f2.tsf
grep -qF "north\\${U}bersicht.txt and north\\${u}bersicht.txt differ only in letter case, in code page 1252" \
  err.txt || { fail "no warning for a pair that folds in code page 1252"; cat err.txt; }
[ "$(grep -c "bersicht.txt and" err.txt)" = 1 ] || { fail "names in two folders warned about"; cat err.txt; }
"$publish" inspect f2.tsf > listed.txt 2>/dev/null
[ "$(wc -l < listed.txt)" = 7 ] || fail "a warned-about name left out of the manifest"
# In code page 932 "\x95\x5C" is one character, and full-width a and A are one letter.
mkdir -p sjis
printf 'h' > sjis/$'\x95\x5c'.txt
printf 'i' > sjis/$'\x82\x81'
printf 'j' > sjis/$'\x82\x60'
expect 1 "a backslash byte read as bytes" "$publish" manifest sjis s.tsf
grep -q "cannot be told apart from the folder separator" err.txt || fail "a backslash byte taken"
expect 0 "manifest in code page 932" "$publish" publish --code-page 932 sjis 1 0 sjis-out
grep -qF $'\x82\x60 and \x82\x81 differ only in letter case, in code page 932' err.txt ||
  { fail "no warning for full-width letters in code page 932"; cat err.txt; }
printf 'k' > sjis/$'\x95'
expect 1 "a name that ends inside a character" "$publish" manifest --code-page 932 sjis s.tsf
grep -q "ends with the first byte of a double-byte character in code page 932" err.txt ||
  { fail "a lone lead byte taken"; cat err.txt; }
expect 2 "a code page that is no number" "$publish" manifest --code-page latin1 folds x.tsf
grep -q "code page number" err.txt || fail "no clear message for a bad code page"
expect 2 "a code page iconv does not know" "$publish" publish --code-page 65000 folds 1 0 x-out
grep -q "code page 65000 cannot be read" err.txt || fail "no clear message for an unknown code page"

# --- progress: one redrawn line on a terminal, none elsewhere -------------------------------
expect 0 "manifest off a terminal" "$publish" manifest client p.tsf
grep -q $'\r' err.txt && fail "progress drawn off a terminal"
if command -v script > /dev/null; then
  script -qec "'$publish' manifest client p.tsf" /dev/null > tty.txt 2>&1
  grep -q $'\r'"digesting [0-9]*/8 files" tty.txt || { fail "no progress line on a terminal"; od -c tty.txt | head; }
fi

finish "the folder walk"
