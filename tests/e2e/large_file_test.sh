#!/usr/bin/env bash
# The Linux program on a client with a file past 2 GiB (2.5 GiB and a bit), /quiet, plain
# output, against nginx: the intact client ends without a box and chains without
# /recoverfail, the same client with that file damaged is repaired; in both runs the peak
# memory stays within a bound that no whole-file buffer fits in.
#   large_file_test.sh REPAIR REPAIR_PUBLISH
# Costs about 3 GB of disk in a temporary folder (removed at the end) and about 100 s on
# 2 cores, most of it the release's manifest and the two checks of the large file.
set -uo pipefail
repair="$(readlink -f "$1")"; publish="$(readlink -f "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/nginx.sh"
source "$here/large_client.sh"
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (the time package; scripts/setup.sh installs it)"; exit 1; }

SIZE=$(( (2560 << 20) + 12345 ))
# Blocks of 1 MiB and the program's own few MiB fit with room to spare; a file held whole
# does not come near.
RSS_BOUND_KIB=$(( 96 << 10 ))

work="$(mktemp -d)"
trap 'nginx_stop; rm -rf "$work"' EXIT
cd "$work" || exit 1
export XDG_RUNTIME_DIR="$work/run"; mkdir -m 700 "$XDG_RUNTIME_DIR"   # a lock of our own
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "--- $*"; }

large_make_source src "$SIZE" "$publish" || { echo "cannot make the client"; exit 1; }
large_publish src rel "$publish" || { echo "cannot publish the client"; exit 1; }
nginx_start "$work/rel" || exit 1
client="$work/client"
large_install src rel "$client" || { echo "cannot install the client"; exit 1; }
cp "$repair" "$client/repair"
printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\n' "$NGINX_URL" > strings.txt
"$publish" strings strings.txt "$client/repair.dat" >/dev/null 2>&1 || { echo "no string file"; exit 1; }

launcher="$work/launcher"
cat > "$launcher" <<'SCRIPT'
#!/bin/sh
for argument in "$@"; do printf '%s\n' "$argument"; done > "$0.args.new"
mv "$0.args.new" "$0.args"
SCRIPT
chmod +x "$launcher"

# run NAME: the tool in plain output mode; its output in NAME.log, its peak memory in KiB in
# PEAK_KIB, what the chained program received in NAME.args.
run() {
  rm -f "$launcher.args"
  : > "$NGINX_DIR/access.log"
  ( cd "$client" && timeout 900 /usr/bin/time -f '%M' -o "$work/$1.rss" \
      ./repair /quiet "/exec:$launcher" one ) > "$1.log" 2>&1 < /dev/null
  RUN_EXIT=$?
  PEAK_KIB="$(tail -1 "$1.rss" 2>/dev/null)"
  local i
  for i in $(seq 1 50); do [ -f "$launcher.args" ] && break; sleep 0.1; done
  [ -f "$launcher.args" ] && cp "$launcher.args" "$1.args"
}

# The checks every run shares: it ended, showed no box, chained without /recoverfail and kept
# within the memory bound.
check_run() {  # NAME
  [ "$RUN_EXIT" = 0 ] || fail "$1: exit code $RUN_EXIT: $(tail -3 "$1.log")"
  grep -q 'not enough free memory' "$1.log" && fail "$1: the memory box was shown"
  grep -E '^(Error|Confirm): ' "$1.log" && fail "$1: a box was shown"
  if [ ! -f "$1.args" ]; then
    fail "$1: the chained program was not started"
  elif [ "$(cat "$1.args")" != one ]; then
    fail "$1: the chained program got [$(tr '\n' ' ' < "$1.args")] (a failed run gets /recoverfail)"
  fi
  if ! [ "${PEAK_KIB:-0}" -gt 0 ] 2>/dev/null; then
    fail "$1: no peak memory measured"
  elif [ "$PEAK_KIB" -ge "$RSS_BOUND_KIB" ]; then
    fail "$1: peak memory $((PEAK_KIB >> 10)) MiB, bound $((RSS_BOUND_KIB >> 10)) MiB (file $((SIZE >> 20)) MiB)"
  fi
  echo "$1: peak memory $((${PEAK_KIB:-0} >> 10)) MiB (bound $((RSS_BOUND_KIB >> 10)) MiB)"
}

step "the intact client: checked without a box, nothing downloaded, memory within the bound"
before="$(stat -c '%i %Y' "$client/data/big.pak")"
run intact
check_run intact
grep -q 'big.pak' "$NGINX_DIR/access.log" && fail "intact: big.pak was downloaded"
[ "$(stat -c '%i %Y' "$client/data/big.pak")" = "$before" ] || fail "intact: big.pak was replaced"

step "the same client with big.pak damaged past 2 GiB: repaired, memory within the bound"
large_damage "$client/data/big.pak"
run damaged
check_run damaged
grep -q 'big.pak' "$NGINX_DIR/access.log" || fail "damaged: big.pak was not requested"
got="$(md5sum < "$client/data/big.pak" | cut -c1-32)"
[ "$got" = "$LARGE_MD5" ] || fail "damaged: big.pak has MD5 $got after the run, the manifest says $LARGE_MD5"

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "large file (Linux): all checks passed"
