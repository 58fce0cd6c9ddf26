#!/usr/bin/env bash
# The manifest's byte format from repair-publish: every bound 'inspect' checks, and the
# independent implementation of the formats (publish_ref.py) in both directions.
#   manifest_format_test.sh REPAIR_PUBLISH PYTHON PUBLISH_REF
set -uo pipefail
python="$2"; ref="$(realpath "$3")"
. "$(dirname "$(realpath "$0")")/publish_test_lib.sh"

expect_help inspect
make_keys
make_client
"$publish" manifest client m.tsf 2>/dev/null || fail "manifest"
"$publish" publish --exclude B.bin client 3 7 rel > /dev/null 2>&1 || fail "publish"
remote=rel/remote/3.7
"$publish" inspect "$remote/filehash.tsf" > listed.txt 2>/dev/null || fail "the release's manifest does not open"

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

finish "the manifest format"
