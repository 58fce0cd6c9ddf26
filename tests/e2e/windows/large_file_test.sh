#!/usr/bin/env bash
# repair.exe /quiet on a client with a file past 2 GiB (2.5 GiB and a bit) beside small ones:
# the intact client ends without a single box and chains without /recoverfail; the same client
# with that file damaged past 2 GiB is repaired, again without a box. A 32-bit program that
# holds a file whole cannot do either: it shows "There is not enough free memory." instead.
#   large_file_test.sh REPAIR_EXE RECORD_ARGS_EXE NATIVE_PUBLISH [ARTIFACT_DIR]
# Costs about 3 GB of temporary disk (removed at the end) and a few minutes, most of them
# the 2.5 GiB download through WinINet under Wine: under 3 minutes in all at 60 MB/s over
# loopback, about 5 at 13 MB/s.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/gui_lib.sh"
source "$here/../large_client.sh"
gui_init "$@"

SIZE=$(( (2560 << 20) + 12345 ))
REPAIR_TIMEOUT=1500
# The captions of every box the tool has: none may come up in a quiet run that succeeds.
BOX_CAPTIONS=(Error Confirm)

cd "$work" || exit 1
large_make_source src "$SIZE" "$publish" || { echo "cannot make the client"; exit 1; }
large_publish src rel "$publish" || { echo "cannot publish the client"; exit 1; }
nginx_start "$work/rel" || exit 1
client="$work/client"
large_install src rel "$client" || { echo "cannot install the client"; exit 1; }
install_tool

# The window redraws its status dots twice a second while the tool works. Under Wine every
# message the window gets passes through the wineserver, which also deletes and renames files
# for the worker: while it frees a large file's blocks (a minute and more on some file
# systems) the window stands still. How long it stood still is printed, and a screenshot kept
# when it stood still longer than this; it is no failure, since the product's Windows has
# no such server.
STILL_NOTE=30

# quiet_run NAME: runs the tool with /quiet, answering (and failing on) any box that comes up
# while it works, so that a box can never hold the run until the timeout, and timing how long
# the screen stands still.
quiet_run() {
  : > "$NGINX_DIR/access.log"
  start_repair "$work/$1.log" /quiet "/exec:$exec_win" one
  local caption id shown="" screen last="" changed=$SECONDS still=0 kept=""
  while kill -0 "$REPAIR_PID" 2>/dev/null; do
    for caption in "${BOX_CAPTIONS[@]}"; do
      for id in $(xdotool search --name "^${caption}\$" 2>/dev/null); do
        [ -n "$shown" ] || fail "$1: a \"$caption\" box came up"
        shown=1
        answer_box "$id" Return
      done
    done
    screen="$(import -window root rgb:- 2>/dev/null | md5sum)"
    if [ "$screen" != "$last" ]; then
      last="$screen"; changed=$SECONDS
    elif [ $((SECONDS - changed)) -gt "$still" ]; then
      still=$((SECONDS - changed))
      if [ "$still" -gt "$STILL_NOTE" ] && [ -z "$kept" ] && [ -n "$artifacts" ]; then
        import -window root "$artifacts/large_file-$1-still.png" 2>/dev/null
        kept=1
      fi
    fi
    sleep 1
  done
  wait_repair_exit
  echo "$1: the screen stood still for at most $still s while the tool ran"
  [ "$REPAIR_EXIT" = 0 ] || fail "$1: exit code $REPAIR_EXIT"
  box_text_shown "$work/$1.log" \
    "There is not enough free memory.  Exit the programs that are not in use to free more memory space." &&
    fail "$1: the tool ran out of memory"
  grep -q 'MSGBOX_OnInit' "$work/$1.log" && fail "$1: boxes shown: $(grep MSGBOX_OnInit "$work/$1.log")"
  local got
  got="$(chained_arguments)" || { fail "$1: the chained program was not started"; return; }
  [ "$got" = one ] || fail "$1: the chained program got [$(echo $got)] (a failed run gets /recoverfail)"
}

step "the intact client: checked without a box, nothing downloaded"
before="$(stat -c '%i %Y' "$client/data/big.pak")"
quiet_run intact
grep -q 'big.pak' "$NGINX_DIR/access.log" && fail "intact: big.pak was downloaded"
[ "$(stat -c '%i %Y' "$client/data/big.pak")" = "$before" ] || fail "intact: big.pak was replaced"

step "the same client with big.pak damaged past 2 GiB: repaired without a box"
large_damage "$client/data/big.pak"
quiet_run damaged
grep -q 'big.pak' "$NGINX_DIR/access.log" || fail "damaged: big.pak was not requested"
got="$(md5sum < "$client/data/big.pak" | cut -c1-32)"
[ "$got" = "$LARGE_MD5" ] || fail "damaged: big.pak has MD5 $got after the run, the manifest says $LARGE_MD5"

gui_finish
