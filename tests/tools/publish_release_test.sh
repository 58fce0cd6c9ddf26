#!/usr/bin/env bash
# Releases from repair-publish 'publish': the remote folder and the shipped version file,
# checked against md5sum and the file system, and refusals that leave nothing behind.
#   publish_release_test.sh REPAIR_PUBLISH
set -uo pipefail
. "$(dirname "$(realpath "$0")")/publish_test_lib.sh"

expect_help publish
make_keys
make_client
# A client whose longest name is one byte over the limit.
long_dir="$(printf 'd%.0s' $(seq 200))"
mkdir -p "names/$long_dir"
printf 'z' > "names/$long_dir/$(printf 'g%.0s' $(seq 59))"

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

# --- block indexes ---------------------------------------------------------------------------
# Each index read independently of the tool: its header binds it to the file's size and MD5, and
# each block's MD5 is md5sum's of that block.
check_index() {  # INDEX FILE BLOCK_SIZE
  python3 - "$@" <<'PY' || fail "$1 does not describe $2"
import hashlib, struct, sys
index, path, block = open(sys.argv[1], 'rb').read(), sys.argv[2], int(sys.argv[3])
data = open(path, 'rb').read()
count = (len(data) + block - 1) // block
assert index[:8] == b'tovak-bi', 'magic'
version, bsize, size = struct.unpack('<III', index[8:20])
assert (version, bsize, size) == (1, block, len(data)), (version, bsize, size)
assert index[20:36] == hashlib.md5(data).digest(), 'file md5'
assert struct.unpack('<I', index[36:40])[0] == count, 'count'
assert len(index) == 40 + 16 * count, 'length'
for i in range(count):
    assert index[40 + 16 * i:56 + 16 * i] == hashlib.md5(data[i * block:(i + 1) * block]).digest(), i
PY
}
mkdir -p blocks/data
head -c $((33 * 1048576 + 777)) /dev/urandom > blocks/data/large.pak
head -c $((32 * 1048576 - 1)) /dev/urandom > blocks/under.pak
expect 0 "publish with block indexes" "$publish" publish blocks 1 0 brel
grep -q '^block indexes: 1 ' out.txt || { fail "the block index count is not printed"; cat out.txt; }
check_index brel/remote/1.0/data/large.pak.blockidx blocks/data/large.pak 1048576
[ ! -e brel/remote/1.0/under.pak.blockidx ] || fail "a block index for a file under 32 MiB"
expect 0 "inspect a release with a block index" "$publish" inspect brel/remote/1.0/filehash.tsf
grep -qF 'data\large.pak: block index of 34 blocks of 1024 KiB, bound to this entry' err.txt ||
  { fail "inspect does not show the block index"; cat err.txt; }
grep -q 'under.pak' err.txt && fail "inspect speaks of an index for a file under 32 MiB"
head -c 300 brel/remote/1.0/data/large.pak.blockidx > cut.idx
cp brel/remote/1.0/data/large.pak.blockidx whole.idx
cp cut.idx brel/remote/1.0/data/large.pak.blockidx
expect 0 "inspect a cut index" "$publish" inspect brel/remote/1.0/filehash.tsf
grep -qF 'block index is not the length its header gives' err.txt || { fail "inspect takes a cut index"; cat err.txt; }
cp whole.idx brel/remote/1.0/data/large.pak.blockidx
expect 0 "64 KiB blocks" "$publish" publish --block-size 64 blocks 1 1 brel
check_index brel/remote/1.1/data/large.pak.blockidx blocks/data/large.pak 65536
expect 0 "no block indexes" "$publish" publish --block-index-min off blocks 1 2 brel
[ -z "$(find brel/remote/1.2 -name '*.blockidx')" ] || fail "--block-index-min off wrote an index"
expect 0 "inspect a release without indexes" "$publish" inspect brel/remote/1.2/filehash.tsf
grep -qF 'data\large.pak: no block index beside the manifest' err.txt || { fail "inspect misses the missing index"; cat err.txt; }
expect 0 "a higher threshold" "$publish" publish --block-index-min 34 blocks 1 3 brel
[ -z "$(find brel/remote/1.3 -name '*.blockidx')" ] || fail "an index for a file under the threshold"
expect 1 "a threshold the tool never looks at" "$publish" publish --block-index-min 16 blocks 1 4 brel
expect 1 "a block size that is no power of two" "$publish" publish --block-size 96 blocks 1 4 brel
expect 2 "a threshold that is no number" "$publish" publish --block-index-min lots blocks 1 4 brel
# A client file, or folder, where an index would go, as Windows compares names: refused whole.
mkdir -p "blocks/DATA"
printf 'x' > blocks/DATA/LARGE.PAK.BLOCKIDX
expect 1 "a file named as an index" "$publish" publish blocks 1 5 brel
grep -q 'block index' err.txt || { fail "no word of the index's name"; cat err.txt; }
rm -r blocks/DATA
mkdir -p blocks/data/large.pak.blockidx
printf 'x' > blocks/data/large.pak.blockidx/inner.txt
expect 1 "a folder named as an index" "$publish" publish blocks 1 5 brel
[ ! -e brel/remote/1.5 ] && [ -z "$(find brel -name '*.publishing')" ] || fail "a refused publish left files"
expect 0 "the same client without indexes" "$publish" publish --block-index-min off blocks 1 5 brel

finish "releases"
