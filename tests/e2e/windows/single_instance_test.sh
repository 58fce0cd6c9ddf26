#!/usr/bin/env bash
# While one copy runs, a second one exits with code 0 at once: no window, no run, no chained
# launch; the first goes on unaffected.
#   single_instance_test.sh REPAIR_EXE RECORD_ARGS_EXE NATIVE_PUBLISH [ARTIFACT_DIR]
set -uo pipefail
source "$(dirname "$0")/gui_lib.sh"
gui_init "$@"

make_client "$work/src"
setup_release
cp "$record_exe" "$work/second.exe"
second_win="$(winepath -w "$work/second.exe" 2>/dev/null)"

step "a second copy exits while the first waits for its answer"
damage_client
start_repair "$work/first.log" "/exec:$exec_win" first
question="$(find_box Confirm)" || fail "the first copy asked nothing"
if [ -n "$question" ]; then
  # Quiet, so that a second copy that wrongly ran would repair and chain without any answer.
  (cd "$work" && timeout 120 wine "$client/repair.exe" /quiet "/exec:$second_win" second) \
    >"$work/second.log" 2>&1
  code=$?
  [ "$code" = 0 ] || fail "the second copy ended with $code: $(cat "$work/second.log")"
  sleep 2  # room for a chained program the second copy should not have started
  [ -e "$work/second.exe.args" ] && fail "the second copy started its chained program"
  [ "$(xdotool search --name "^${WINDOW_TITLE}\$" 2>/dev/null | wc -l)" = 1 ] ||
    fail "not exactly one main window"
  [ "$(cat "$client/data/file1.txt")" = corrupt ] || fail "a file was repaired before the answer"
  xdotool search --name '^Confirm$' 2>/dev/null | grep -qx "$question" ||
    fail "the first copy's question went away"
  answer_box "$question" n
fi
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "the first copy ended with $REPAIR_EXIT"
got="$(chained_arguments)" || fail "the first copy did not chain"
[ "$got" = "$(printf '/recoverfail\nfirst')" ] || fail "first copy's chained arguments: [$got]"

step "once the first has ended, a new copy runs"
start_repair "$work/third.log" /quiet "/exec:$exec_win" third
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "the next copy ended with $REPAIR_EXIT"
got="$(chained_arguments)" || fail "the next copy did not chain"
[ "$got" = third ] || fail "next copy's chained arguments: [$got]"
client_matches_release || fail "the next copy did not repair the client"

gui_finish
