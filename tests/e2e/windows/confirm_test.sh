#!/usr/bin/env bash
# Without /quiet the tool asks before it touches anything. Answered Yes (Return), the run
# repairs the client and ends with the completion box; answered No (n), nothing is touched and
# the chained program is told the repair failed.
#   confirm_test.sh REPAIR_EXE RECORD_ARGS_EXE NATIVE_PUBLISH [ARTIFACT_DIR]
set -uo pipefail
source "$(dirname "$0")/gui_lib.sh"
gui_init "$@"

make_client "$work/src"
setup_release

# Digest of every file in the client, to tell whether a run touched any of them.
client_snapshot() { (cd "$client" && find . -type f ! -name repair.exe -print0 | sort -z | xargs -0 md5sum); }

step "answered Yes: the run repairs the client and reports it"
damage_client
before="$(client_snapshot)"
start_repair "$work/yes.log" "/exec:$exec_win" one "three four"
question="$(find_box Confirm)" || fail "no confirmation box"
if [ -n "$question" ]; then
  [ "$(client_snapshot)" = "$before" ] || fail "files changed before the question was answered"
  [ -d "$client/recovery" ] && fail "the cache folder exists before the question was answered"
  answer_box "$question" Return
  done_box="$(find_box Confirm "$question")" || fail "no completion box"
  [ -n "$done_box" ] && answer_box "$done_box" Return
fi
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "exit code $REPAIR_EXIT"
question_text="Recovery of the corrupted client files will commence. Please shut down all"
question_text+=" running operations before it begins.\nWould you like to proceed?"
box_text_shown "$work/yes.log" "$question_text" ||
  fail "confirmation text: $(grep MSGBOX "$work/yes.log")"
box_text_shown "$work/yes.log" "File recovery is finished." ||
  fail "completion text: $(grep MSGBOX "$work/yes.log")"
[ "$(grep -c MSGBOX_OnInit "$work/yes.log")" = 2 ] || fail "boxes: $(grep MSGBOX "$work/yes.log")"
client_matches_release || fail "the client differs from the release after the run"
got="$(chained_arguments)" || fail "the chained program was not started"
[ "$got" = "$(printf 'one\nthree four')" ] || fail "chained arguments: [$got]"

step "answered Yes on an intact client: there is no corrupted file"
start_repair "$work/intact.log"
question="$(find_box Confirm)" || fail "no confirmation box"
if [ -n "$question" ]; then
  answer_box "$question" Return
  done_box="$(find_box Confirm "$question")" || fail "no completion box"
  [ -n "$done_box" ] && answer_box "$done_box" Return
fi
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "exit code $REPAIR_EXIT"
box_text_shown "$work/intact.log" "There is no corrupted file." ||
  fail "completion text: $(grep MSGBOX "$work/intact.log")"

step "answered No: nothing is touched and the chained program gets /recoverfail"
damage_client
before="$(client_snapshot)"
rm -rf "$client/recovery"
start_repair "$work/no.log" "/exec:$exec_win" one "three four"
question="$(find_box Confirm)" || fail "no confirmation box"
[ -n "$question" ] && answer_box "$question" n
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "exit code $REPAIR_EXIT"
[ "$(grep -c MSGBOX_OnInit "$work/no.log")" = 1 ] || fail "boxes after No: $(grep MSGBOX "$work/no.log")"
[ "$(client_snapshot)" = "$before" ] || fail "a declined run changed files"
[ -d "$client/recovery" ] && fail "a declined run made the cache folder"
got="$(chained_arguments)" || fail "the chained program was not started"
[ "$got" = "$(printf '/recoverfail\none\nthree four')" ] || fail "chained arguments: [$got]"

gui_finish
