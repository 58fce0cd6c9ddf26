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

finish "releases"
