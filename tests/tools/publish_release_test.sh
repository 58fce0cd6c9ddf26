#!/usr/bin/env bash
# Manifests and releases from repair-publish, checked against md5sum and the file system, and
# against the independent implementation of the formats (publish_ref.py) in both directions.
#   publish_release_test.sh REPAIR_PUBLISH PYTHON PUBLISH_REF
set -uo pipefail
publish="$(realpath "$1")"; python="$2"; ref="$(realpath "$3")"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect EXIT_CODE description command...
  local want="$1" what="$2"; shift 2
  "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" = "$want" ] || { fail "$what: exit $got, expected $want"; cat err.txt; }
}
# What inspect must list for a folder: "md5 size name" per regular file, names with
# backslashes, in byte order of the names.
expected_listing() {  # DIR [find arguments...]
  local dir="$1"; shift
  (cd "$dir" && find . -type f "$@" -printf '%P\n' | while IFS= read -r f; do
     local name="${f//\//\\}"
     printf '%s\t%s %s %s\n' "$name" "$(md5sum < "$f" | cut -c1-32)" "$(stat -c %s "$f")" "$name"
   done) | LC_ALL=C sort -t$'\t' -k1,1 | cut -f2-
}

for c in manifest inspect publish; do
  expect 0 "$c --help" "$publish" "$c" --help
  grep -q "usage: repair-publish $c" out.txt || fail "$c --help has no usage"
done
"$publish" export-key --private key.der --public key.pub
"$publish" keygen other.der other.pub > /dev/null

# A client: nested folders, an empty file, spaces, binary data over several 1 MiB read pieces,
# names whose order differs between '/' and '\' separators, and a link out of the tree.
mkdir -p client/data/ui/fonts client/data-x "client/with space" outside
printf 'hello\n' > client/readme.txt
printf 'x' > client/data0.txt
printf 'y' > client/data-x/y.txt
printf 'font' > client/data/ui/fonts/main.fnt
printf 'spaced' > "client/with space/a b.txt"
head -c 2621447 /dev/urandom > client/data/big.bin
head -c 1000 /dev/urandom > client/B.bin
: > client/data/empty.log
printf 'secret' > outside/secret.txt
ln -s "$work/outside" client/linked
ln -s ../readme.txt client/data/readme-link

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
mkdir huge && truncate -s 4294967296 huge/4gib.bin
expect 1 "a 4 GiB file" "$publish" manifest huge h.tsf
grep -q "under 4 GiB" err.txt || { fail "no clear message for a 4 GiB file"; cat err.txt; }
expect 1 "a missing folder" "$publish" manifest no-such-dir x.tsf
expect 1 "a file as the folder" "$publish" manifest m.tsf x.tsf
expect 2 "manifest without output" "$publish" manifest client
expect 2 "a misspelt option" "$publish" manifest --exlude x client x.tsf
expect 1 "a public key that is no key" "$publish" manifest --public m.tsf client x.tsf

# --- malformed manifests: every bound of the format -----------------------------------------
record() {  # NAME_LENGTH_HEX4 NAME: one record, size 1, md5 of zeros
  printf "\\x${1:2:2}\\x${1:0:2}%s\\x01\\x00\\x00\\x00" "$2"; head -c 16 /dev/zero
}
check_pack() {  # EXIT description: the plaintext in plain.bin, packed by the reference
  "$python" "$ref" pack --key key.pub plain.bin crafted.tsf || fail "reference cannot pack ($2)"
  expect "$1" "inspect $2" "$publish" inspect crafted.tsf
}
: > plain.bin; check_pack 0 "an empty list"
[ -s out.txt ] && fail "an empty list lists something"
record 0000 "" > plain.bin; check_pack 0 "a record with an empty name"
record 0003 abc > plain.bin; record 0103 "$(head -c 259 /dev/zero | tr '\0' n)" >> plain.bin
check_pack 0 "a 259-byte name"
record 0104 "$(head -c 260 /dev/zero | tr '\0' n)" > plain.bin; check_pack 1 "a 260-byte name"
grep -q "name length 260" err.txt || { fail "no clear message for name length 260"; cat err.txt; }
record ffff "" > plain.bin; check_pack 1 "a negative name length"
record 0003 abc > plain.bin; printf '\x05' >> plain.bin; check_pack 1 "a cut-off length field"
grep -q "length field runs past the end" err.txt || { fail "no clear message for a cut-off length"; cat err.txt; }
record 0003 abc | head -c 24 > plain.bin; check_pack 1 "a record one byte past the end"
grep -q "needs 25 bytes, the list has 24 left" err.txt || { fail "no clear message for an overrun"; cat err.txt; }
printf '\x05\x00a' > short.tsf; expect 1 "a 3-byte manifest" "$publish" inspect short.tsf
head -c 4 m.tsf > four.tsf; expect 1 "a manifest of only a size field" "$publish" inspect four.tsf
head -c 200 m.tsf > cut.tsf; expect 1 "a cut-off LZMA stream" "$publish" inspect cut.tsf
grep -q "error code = 6" err.txt || { fail "a cut-off stream gives no decoder code"; cat err.txt; }
expect 1 "another key's manifest" "$publish" inspect --private other.der m.tsf
"$publish" manifest --public other.pub client other.tsf > /dev/null 2>&1
expect 0 "a manifest for another key, opened with it" "$publish" inspect --private other.der other.tsf

# --- publish ---------------------------------------------------------------------------------
printf 'stale list' > client/filehash.tsf
printf 'stale version' > client/buildver.tvf
expect 0 "publish" "$publish" publish --exclude B.bin client 3 7 rel
grep -qxF 'SYS_REMOTEPATH=<base URL>/$MAJORVER$.$MINORVER$' out.txt || { fail "no SYS_REMOTEPATH line"; cat out.txt; }
remote=rel/remote/3.7
[ "$(stat -c %s rel/client-files/buildver.tvf)" = 73 ] || fail "the version file is not 73 bytes"
[ "$("$publish" open rel/client-files/buildver.tvf - | od -An -tx1 | tr -d ' \n')" = 030000000700000000000000 ] \
  || fail "the version file does not hold 3, 7, 0"
cmp -s rel/client-files/buildver.tvf "$remote/buildver.tvf" || fail "the served version file is not the shipped one"
"$publish" inspect "$remote/filehash.tsf" > listed.txt 2>/dev/null || fail "the release's manifest does not open"
rm client/filehash.tsf client/buildver.tvf
cp rel/client-files/buildver.tvf client/
expected_listing client -not -name B.bin > want.txt
cmp -s want.txt listed.txt || { fail "the release lists other files"; diff want.txt listed.txt; }
rm client/buildver.tvf
# Byte for byte, and nothing beyond the listed files and the manifest.
while read -r _ _ name; do
  source="client/${name//\\//}"
  [ "$name" = buildver.tvf ] && source=rel/client-files/buildver.tvf
  cmp -s "$remote/${name//\\//}" "$source" || fail "$name is not copied byte for byte"
done < listed.txt
(cd "$remote" && find . -type f -printf '%P\n' | LC_ALL=C sort) > served.txt
{ echo filehash.tsf; cut -d' ' -f3- listed.txt | tr '\\' /; } | LC_ALL=C sort > want.txt
cmp -s want.txt served.txt || { fail "the remote folder holds other files"; diff want.txt served.txt; }
[ -z "$(find rel -name '*.publishing')" ] || fail "a staging folder was left behind"

expect 1 "publishing the same build again" "$publish" publish client 3 7 rel
grep -q "already holds a release" err.txt || fail "no clear message for an existing release"
expect 0 "a nested remote layout" "$publish" publish --keep-empty --remote-layout 'v$MAJORVER$/$MINORVER$' \
  --manifest-name files.lst --version-file build.ver --base-url http://cdn.example.com/game/ client 12 0 rel
[ -f rel/remote/v12/0/files.lst ] && [ -f rel/client-files/build.ver ] || fail "nested layout or names not used"
grep -qxF 'SYS_REMOTEPATH=http://cdn.example.com/game/v$MAJORVER$/$MINORVER$' out.txt || { fail "wrong SYS_REMOTEPATH"; cat out.txt; }
grep -qx 'SYS_FILEHASHFNAME=files.lst' out.txt && grep -qx 'SYS_LOCALVERFNAME=build.ver' out.txt \
  || fail "the names to set in the string file are not printed"
expect 1 "a layout that leaves the remote folder" "$publish" publish --remote-layout '../$MINORVER$' client 1 0 rel
expect 1 "a negative minor" "$publish" publish client 1 -1 rel
expect 1 "an output folder inside the client" "$publish" publish client 1 0 client/rel
[ ! -e client/rel ] || fail "a refused publish wrote into the client"
expect 1 "a client with a refused name" "$publish" publish names 1 0 rel
[ ! -e rel/remote/1.0 ] && [ -z "$(find rel -name '*.publishing')" ] || fail "a failed publish left files"
expect 2 "publish without OUT_DIR" "$publish" publish client 1 0

# --- the independent implementation, both ways ----------------------------------------------
"$python" "$ref" publish --key key.pub client 4 2 refrel > /dev/null 2>&1 || fail "the reference cannot publish"
expect 0 "inspect a reference manifest" "$publish" inspect refrel/remote/4.2/filehash.tsf
"$python" "$ref" list --key key.der refrel/remote/4.2/filehash.tsf > ref-list.txt || fail "the reference cannot list"
cmp -s ref-list.txt out.txt || { fail "inspect and the reference list a reference manifest differently"; diff ref-list.txt out.txt; }
expect 0 "open a reference version file" "$publish" open refrel/client-files/buildver.tvf ver.bin
[ "$(od -An -tx1 ver.bin | tr -d ' \n')" = 040000000200000000000000 ] || fail "reference version file differs"
"$python" "$ref" list --key key.der "$remote/filehash.tsf" > ref-list.txt || fail "the reference cannot list ours"
cmp -s ref-list.txt listed.txt || { fail "the reference lists our manifest differently"; diff ref-list.txt listed.txt; }
expect 0 "the reference verifies our manifest against the client" \
  "$python" "$ref" verify --key key.der m.tsf client
cp -r client damaged && printf 'X' | dd of=damaged/data/big.bin bs=1 seek=1048576 conv=notrunc status=none
expect 1 "the reference finds a damaged file" "$python" "$ref" verify --key key.der m.tsf damaged
grep -q "data\\\\big.bin: md5" err.txt || { fail "the damaged file is not named"; cat err.txt; }
# A size field larger than the stream: accepted only because both encoders end with a marker.
for m in m.tsf refrel/remote/4.2/filehash.tsf; do
  "$python" -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); n=struct.unpack_from("<I",d)[0]
open("grown.tsf","wb").write(struct.pack("<I",n+100)+d[4:])' "$m"
  expect 0 "a size field 100 bytes too large ($m)" "$publish" inspect grown.tsf
  grep -q "ends with its end marker" err.txt || fail "the larger size field is not noted ($m)"
done

# --- progress: one redrawn line on a terminal, none elsewhere -------------------------------
expect 0 "manifest off a terminal" "$publish" manifest client p.tsf
grep -q $'\r' err.txt && fail "progress drawn off a terminal"
if command -v script > /dev/null; then
  script -qec "'$publish' manifest client p.tsf" /dev/null > tty.txt 2>&1
  grep -q $'\r'"digesting [0-9]*/8 files" tty.txt || { fail "no progress line on a terminal"; od -c tty.txt | head; }
fi

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "manifests and releases: all checks passed"
