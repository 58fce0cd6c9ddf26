#!/usr/bin/env bash
# End to end against a real nginx on loopback: releases published by repair-publish and by an
# independent implementation of the formats, clients damaged in every way we know, crashes in
# the middle of a run, rollback and explicit versions.
#   engine_e2e.sh ENGINE_RUNNER REPAIR_PUBLISH PUBLISH_REF_PY
set -uo pipefail
runner="$(readlink -f "$1")"; publish="$(readlink -f "$2")"; publish_ref="$(readlink -f "$3")"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/nginx.sh"
work="$(mktemp -d)"
trap 'nginx_stop; rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "--- $*"; }

# A client of a few dozen files in nested folders; build 1.1 differs from 1.0 in some files.
make_client() {  # DIR BUILD
  local dir="$1" build="$2" i
  mkdir -p "$dir/data/ui" "$dir/data/maps/deep/er" "$dir/bin"
  for i in $(seq 1 20); do printf 'text file %s of build %s\n' "$i" "$build" > "$dir/data/file$i.txt"; done
  head -c 300000 /dev/urandom > "$dir/data/maps/world.map"
  head -c 5000 /dev/urandom > "$dir/data/ui/font.dat"
  printf 'font of the other folder\n' > "$dir/data/maps/font.dat"   # same name, other folder
  printf 'deep %s\n' "$build" > "$dir/data/maps/deep/er/leaf.cfg"
  printf 'spaced name\n' > "$dir/data/my file.dat"
  printf 'game %s\n' "$build" > "$dir/bin/game.exe"
  printf 'the tool itself, as published\n' > "$dir/repair"
  : > "$dir/data/empty.log"                                          # empty by design
  mkdir -p "$dir/data/many"   # enough files that a crash can land in the middle of a phase
  for i in $(seq 1 300); do printf 'many %s %s\n' "$i" "$build" > "$dir/data/many/m$i.txt"; done
}

# Every file the release lists matches it, but the tool's own file, which the run leaves alone.
verify_client() {  # CLIENT REMOTE_DIR
  local client="$1" bad=0 md5 size name path
  : > verify.log
  while read -r md5 size name; do
    [ "$name" = repair ] && continue
    path="$client/${name//\\//}"
    if [ ! -f "$path" ] || [ "$(md5sum < "$path" | cut -c1-32)" != "$md5" ]; then
      echo "$name differs" >> verify.log; bad=1
    fi
  done < <("$publish" inspect "$2/filehash.tsf" 2>/dev/null)
  [ -s verify.log ] || [ "$bad" = 0 ]
  return $bad
}

run() {  # CLIENT [runner options...]: runs the engine, output in run.log
  local client="$1"; shift
  "$runner" "$client/" "$NGINX_URL/\$MAJORVER\$.\$MINORVER\$" "$@" >run.log 2>&1
}

"$publish" export-key --private key.der >/dev/null
make_client src10 1.0
make_client src11 1.1
"$publish" publish src10 1 0 rel >/dev/null 2>&1 || fail "publish 1.0"
"$publish" publish src11 1 1 rel >/dev/null 2>&1 || fail "publish 1.1"
nginx_start "$work/rel/remote" || exit 1

step "a damaged client is repaired"
cp -r src11 client
cp rel/client-files/buildver.tvf client/
printf 'corrupt' > client/data/file1.txt                 # corrupted
: > client/data/file2.txt                                # empty
rm client/data/file3.txt                                 # missing
rm -r client/data/maps/deep                              # missing, in a missing folder
printf 'damaged font\n' > client/data/ui/font.dat        # shares its file name with another
printf 'damaged too\n' > client/data/maps/font.dat
printf 'x' > client/data/my\ file.dat
rm client/data/empty.log                                 # an empty file, missing
printf 'local build of the tool\n' > client/repair       # the tool's own file: never touched
mkdir -p client/recovery
cp src11/data/file4.txt client/recovery/file4.txt.recovery   # a matching cache file
printf 'stale cache' > client/recovery/file5.txt.recovery     # a stale one
printf 'wrong' > client/data/file4.txt
printf 'wrong' > client/data/file5.txt
echo outside > outside.txt
run client || fail "the repair run failed: $(cat run.log)"
grep -q 'outcome phase=Finished error=0' run.log || fail "outcome: $(tail -1 run.log)"
verify_client client rel/remote/1.1 || fail "client differs after the repair: $(cat verify.log)"
[ "$(cat client/repair)" = "local build of the tool" ] || fail "the tool's own file was touched"
grep -q '/1.1/data/file4.txt' "$NGINX_DIR/access.log" && fail "a matching cache file was downloaded again"
grep -q '/1.1/data/my%20file.dat' "$NGINX_DIR/access.log" || fail "the spaced name was not requested encoded"
[ "$(cat outside.txt)" = outside ] || fail "a file outside the client was touched"

step "a second run finds everything intact"
run client || fail "second run: $(cat run.log)"
grep -q 'recovered=0$' run.log || fail "second run replaced files: $(tail -1 run.log)"

step "rollback and explicit versions"
run client --rollback || fail "rollback: $(cat run.log)"
verify_client client rel/remote/1.0 || fail "rollback did not give build 1.0: $(cat verify.log)"
run client --version 1_1 || fail "explicit 1.1: $(cat run.log)"
verify_client client rel/remote/1.1 || fail "explicit version did not give build 1.1: $(cat verify.log)"

step "a rollback killed in the recover phase, then repeated, ends at the same build"
# Until the version file goes in, last, the client still says it is build 1.1.
( "$runner" client/ "$NGINX_URL/\$MAJORVER\$.\$MINORVER\$" --rollback --kill-when recovered:50 >run.log; exit $? ) 2>/dev/null
[ $? = 137 ] || fail "the rollback was not killed: $(tail -2 run.log)"
run client --rollback || fail "the repeated rollback: $(cat run.log)"
verify_client client rel/remote/1.0 || fail "the repeated rollback did not give build 1.0: $(cat verify.log)"
run client --version 1_1 || fail "back to 1.1: $(cat run.log)"
run client --version 9_9
grep -q 'error=8' run.log || fail "a build the server lacks: $(tail -1 run.log)"

step "a failure in the recover phase, then a run that completes"
printf 'bad' > client/data/file6.txt
printf 'bad' > client/data/file7.txt
rm client/data/file8.txt; mkdir -p client/data/file8.txt/blocker   # a folder where a file goes
run client && fail "a run with a folder in a file's place succeeded"
grep -q 'phase=RecoverFiles error=1' run.log || fail "recover failure: $(tail -1 run.log)"
rm -r client/data/file8.txt
run client || fail "the run after the recover failure: $(cat run.log)"
verify_client client rel/remote/1.1 || fail "after the recover failure: $(cat verify.log)"

step "killed during the download phase, then repaired"
nginx_stop; nginx_start "$work/rel/remote" 400k || exit 1
for i in 1 2 3 4 5 6 7 8 9 10; do printf 'damage' > client/data/file$i.txt; done
printf 'damage' > client/data/maps/world.map
# (a subshell, so that the shell's note of the kill goes nowhere)
( "$runner" client/ "$NGINX_URL/\$MAJORVER\$.\$MINORVER\$" --kill-when downloaded:5 >run.log; exit $? ) 2>/dev/null
[ $? = 137 ] || fail "the run was not killed: $(tail -2 run.log)"
run client || fail "the run after the kill: $(cat run.log)"
verify_client client rel/remote/1.1 || fail "after a kill in the download phase: $(cat verify.log)"

step "killed during the recover phase, then repaired"
for i in $(seq 1 300); do printf 'damage' > client/data/many/m$i.txt; done
( "$runner" client/ "$NGINX_URL/\$MAJORVER\$.\$MINORVER\$" --kill-when recovered:100 >run.log; exit $? ) 2>/dev/null
[ $? = 137 ] || fail "the run was not killed: $(tail -2 run.log)"
run client || fail "the run after the kill: $(cat run.log)"
grep -q 'recovered=0$' run.log && fail "nothing was left to recover after the kill"
verify_client client rel/remote/1.1 || fail "after a kill in the recover phase: $(cat verify.log)"
nginx_stop

step "a large file is repaired block by block: its damaged blocks alone, each once"
mib=1048576
mkdir -p bigsrc/data
head -c $((34 * mib + 99)) /dev/urandom > bigsrc/data/large.pak
printf 'small\n' > bigsrc/small.txt
"$publish" publish bigsrc 9 0 bigrel >/dev/null 2>&1 || fail "publish with a block index"
nginx_start "$work/bigrel/remote" || exit 1
rm -rf bigclient && cp -r bigsrc bigclient
cp bigrel/client-files/buildver.tvf bigclient/
damage_block() {  # FILE BLOCK
  printf 'damage' | dd of="$1" bs=1 seek=$(($2 * mib + 1000)) conv=notrunc 2>/dev/null
}
damage_block bigclient/data/large.pak 3
damage_block bigclient/data/large.pak 30
run bigclient --version 9_0 || fail "the block repair run: $(cat run.log)"
verify_client bigclient bigrel/remote/9.0 || fail "after a block repair: $(cat verify.log)"
grep -q '"GET /9.0/data/large.pak.blockidx HTTP/1.1" 200 ' "$NGINX_DIR/access.log" || fail "no index fetched"
[ "$(grep -c "\"GET /9.0/data/large.pak HTTP/1.1\" 206 $mib " "$NGINX_DIR/access.log")" = 2 ] ||
  { fail "not two ranges of one block each"; grep large.pak "$NGINX_DIR/access.log"; }
grep -q '"GET /9.0/data/large.pak HTTP/1.1" 200 ' "$NGINX_DIR/access.log" && fail "the large file was fetched whole"
nginx_stop

# Killed in the middle of a repair of 16 blocks sent at 1 MiB/s, then run again at full speed:
# the second run asks only for what the first did not write.
nginx_start "$work/bigrel/remote" 1m || exit 1
for b in $(seq 10 25); do damage_block bigclient/data/large.pak "$b"; done
( timeout -s KILL 6 "$runner" bigclient/ "$NGINX_URL/\$MAJORVER\$.\$MINORVER\$" --version 9_0 >run.log; exit $? ) 2>/dev/null
[ $? = 137 ] || fail "the block repair was not killed: $(tail -2 run.log)"
first=$(awk '$7 == "/9.0/data/large.pak" && $9 == 206 {n += $10} END {print n + 0}' "$NGINX_DIR/access.log")
part="bigclient/recovery/large.pak.recovery.part"
[ -f "$part" ] || fail "no part file after the kill"
kept=$(( $(stat -c %s "$part") / mib - 10 ))  # blocks 10 and on the first run fetched whole
nginx_stop; nginx_start "$work/bigrel/remote" || exit 1
run bigclient --version 9_0 || fail "the run after the kill: $(cat run.log)"
verify_client bigclient bigrel/remote/9.0 || fail "after a killed block repair: $(cat verify.log)"
second=$(awk '$7 == "/9.0/data/large.pak" && $9 == 206 {n += $10} END {print n + 0}' "$NGINX_DIR/access.log")
[ "$kept" -gt 0 ] || fail "the killed run wrote no whole block ($first bytes sent)"
[ "$second" = $(( (16 - kept) * mib )) ] || fail "the second run fetched $second bytes, not $((16 - kept)) blocks"
nginx_stop

step "a release made by the independent implementation"
python3 "$publish_ref" publish --key key.der src10 2 0 ref >ref.log 2>&1 || fail "publish_ref: $(cat ref.log)"
nginx_start "$work/ref/remote" || exit 1
rm -rf client2 && cp -r src10 client2
cp ref/client-files/buildver.tvf client2/
printf 'corrupt' > client2/data/file1.txt; : > client2/data/file2.txt; rm -r client2/data/maps client2/data/many/m7.txt
run client2 || fail "repairing the independent release: $(cat run.log)"
verify_client client2 ref/remote/2.0 || fail "independent release: $(cat verify.log)"
run client2 || fail "second run on the independent release: $(cat run.log)"
grep -q 'recovered=0$' run.log || fail "second run changed files: $(tail -1 run.log)"

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "engine end to end: all checks passed"
