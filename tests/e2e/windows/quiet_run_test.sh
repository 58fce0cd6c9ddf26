#!/usr/bin/env bash
# repair.exe /quiet /exec:PROGRAM ARGS... repairs a damaged client without a single box and
# starts the chained program with the pass-through arguments only; with the server gone the
# run fails, shows the error box, and the chained program gets /recoverfail first.
#   quiet_run_test.sh REPAIR_EXE RECORD_ARGS_EXE NATIVE_PUBLISH [ARTIFACT_DIR]
set -uo pipefail
source "$(dirname "$0")/gui_lib.sh"
gui_init "$@"

make_client "$work/src"
setup_release

step "a quiet run repairs the client and chains with the pass-through arguments"
damage_client
start_repair "$work/quiet.log" /quiet "/exec:$exec_win" one "three four"
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "exit code $REPAIR_EXIT: $(cat "$work/quiet.log")"
grep -q 'MSGBOX_OnInit' "$work/quiet.log" && fail "a quiet run showed a box: $(grep MSGBOX "$work/quiet.log")"
got="$(chained_arguments)" || fail "the chained program was not started"
[ "$got" = "$(printf 'one\nthree four')" ] || fail "chained arguments: [$got]"
client_matches_release || fail "the client differs from the release after the run"
cmp -s "$repair_exe" "$client/repair.exe" || fail "the running tool's own file was replaced"
[ -d "$client/recovery" ] || fail "no recovery cache folder was made"

step "a quiet run on an intact client chains without /recoverfail"
start_repair "$work/intact.log" /quiet "/exec:$exec_win"
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "exit code $REPAIR_EXIT on an intact client"
got="$(chained_arguments)" || fail "the chained program was not started"
[ -z "$got" ] || fail "chained arguments of an intact run: [$got]"

step "with the server stopped the run fails and chains with /recoverfail first"
nginx_stop
printf 'damaged again' > "$client/data/file4.txt"
start_repair "$work/fail.log" /quiet "/exec:$exec_win" one "three four"
box="$(find_box Error)" || fail "no error box"
[ -n "$box" ] && answer_box "$box" Return
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "exit code $REPAIR_EXIT after a failed run"
box_text_shown "$work/fail.log" \
  "Recovery information cannot be verified.  Exit the program and try again." ||
  fail "error box text: $(grep MSGBOX "$work/fail.log")"
got="$(chained_arguments)" || fail "the chained program was not started after the failure"
[ "$got" = "$(printf '/recoverfail\none\nthree four')" ] || fail "chained arguments: [$got]"
[ "$(cat "$client/data/file4.txt")" = "damaged again" ] || fail "a failed run changed a file"

gui_finish
