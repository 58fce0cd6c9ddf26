#!/usr/bin/env bash
# The Linux program as players and operators meet it: the window in a real terminal (tmux,
# 100x30) over a damaged client served by nginx. The confirmation answered yes and no, q
# asking before it stops a run, Ctrl-C closing the window, a second copy while the first
# runs, runs without a terminal, and output redirected from an interactive shell.
#   tmux_test.sh REPAIR REPAIR_PUBLISH
set -uo pipefail
repair="$(readlink -f "$1")"; publish="$(readlink -f "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/nginx.sh"
work="$(mktemp -d)"
tmux_() { tmux -S "$work/tmux.sock" -f /dev/null "$@"; }
cleanup() { tmux_ kill-server 2>/dev/null; nginx_stop; rm -rf "$work"; }
trap cleanup EXIT
cd "$work"
# A lock place of our own: a developer's copy of the tool never meets this one.
export XDG_RUNTIME_DIR="$work/run"; mkdir -m 700 "$XDG_RUNTIME_DIR"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "--- $*"; }

# ---- a release, its server, a client with the tool and its string file ----
mkdir -p src/data/maps
for i in $(seq -w 1 40); do printf 'text file %s\n' "$i" > "src/data/file$i.txt"; done
head -c 3000000 /dev/urandom > src/data/maps/world.map
printf 'the last file in the list\n' > src/data/zz_last.dat
"$publish" publish src 1 0 rel >publish.log 2>&1 || { cat publish.log; exit 1; }
nginx_start "$work/rel/remote" || exit 1
printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\nSYS_WINDOWTITLE=Client repair\n' "$NGINX_URL" > strings.txt
"$publish" strings strings.txt repair.dat >/dev/null 2>&1 || fail "repair-publish strings"

client="$work/client"
cp -r src "$client"
cp rel/client-files/buildver.tvf repair.dat "$client/"
cp "$repair" "$client/repair"

# The chained program, in a folder whose name has a space: it records its arguments.
launcher="$work/my launcher/start"
mkdir -p "$work/my launcher"
cat > "$launcher" <<'SCRIPT'
#!/bin/sh
log="$(dirname "$0")/arguments.log"
: > "$log.new"
for argument in "$@"; do printf '%s\n' "$argument" >> "$log.new"; done
mv "$log.new" "$log"
SCRIPT
chmod +x "$launcher"
arguments_log="$work/my launcher/arguments.log"

damage() {
  printf 'corrupt' > "$client/data/file03.txt"
  : > "$client/data/file17.txt"
  rm -f "$client/data/file29.txt"
  printf 'bad tail' > "$client/data/zz_last.dat"
  rm -rf "$client/recovery" "$arguments_log"
}
damaged() {  # true while every damage is still in place
  [ "$(cat "$client/data/file03.txt")" = corrupt ] && [ ! -s "$client/data/file17.txt" ] &&
    [ ! -e "$client/data/file29.txt" ] && [ "$(cat "$client/data/zz_last.dat")" = "bad tail" ]
}
repaired() {
  local f
  for f in data/file03.txt data/file17.txt data/file29.txt data/zz_last.dat data/maps/world.map; do
    cmp -s "src/$f" "$client/$f" || { echo "$f differs"; return 1; }
  done
}
arguments_are() {  # EXPECTED_LINES...: the chained program ran with exactly these arguments
  local expected; expected="$(printf '%s\n' "$@")"
  [ -f "$arguments_log" ] && [ "$(cat "$arguments_log")" = "$expected" ]
}

# Runs the tool in a new tmux session NAME with ARGS, under timeout; afterwards the pane
# keeps "exit=CODE" and the terminal modes from before and after the run. With STDOUT set,
# the tool's standard output goes to that file, as a shell's redirection sends it.
start_in_tmux() {  # NAME ARGS...
  local name="$1"; shift
  {
    printf 'cd %q\n' "$client"
    printf 'stty -g > %q\n' "$work/$name.modes-before"
    printf 'timeout --foreground 120 ./repair'; printf ' %q' "$@"
    if [ -n "${STDOUT:-}" ]; then printf ' > %q' "$STDOUT"; fi
    printf '\n'
    printf 'echo "exit=$?"\n'
    printf 'stty -g > %q\n' "$work/$name.modes-after"
    printf 'sleep 600\n'
  } > "$work/$name.sh"
  tmux_ new-session -d -s "$name" -x 100 -y 30 "bash $work/$name.sh"
}
screen() { tmux_ capture-pane -p -t "$1" 2>/dev/null; }
wait_for() {  # NAME TEXT SECONDS: polls the pane until TEXT shows
  local deadline=$((SECONDS + $3))
  while [ "$SECONDS" -lt "$deadline" ]; do
    screen "$1" > "$work/screen.txt"
    grep -qF -- "$2" "$work/screen.txt" && return 0
    sleep 0.2
  done
  echo "(waited for \"$2\"; the screen was:)"; cat "$work/screen.txt"
  return 1
}
terminal_restored() {  # NAME: modes as before, main screen, cursor shown
  cmp -s "$work/$1.modes-before" "$work/$1.modes-after" || { echo "terminal modes changed"; return 1; }
  [ "$(tmux_ display -p -t "$1" '#{alternate_on}#{cursor_flag}')" = 01 ] ||
    { echo "still on the alternate screen or the cursor is hidden"; return 1; }
}

step "in a terminal: confirmed with y, the files are repaired"
damage
start_in_tmux yes "/exec:$launcher" one "three four"
if wait_for yes "Would you like to proceed?" 30; then
  cp screen.txt confirm-screen.txt
  echo "(the confirmation:)"; cat confirm-screen.txt
  grep -q '^ Client repair' confirm-screen.txt || fail "no title bar"
  grep -qE '^#  +File name +Size +Progress' confirm-screen.txt || fail "no column headers"
  grep -qF '+- Confirm ' confirm-screen.txt || fail "the question has no framed caption"
  grep -qF '[ Yes: y ]' confirm-screen.txt || fail "the question shows no keys"
  damaged || fail "files changed before the answer"
  tmux_ send-keys -t yes y
  if wait_for yes "File recovery is finished." 90; then
    cp screen.txt finished-screen.txt
    echo "(the screen at the end of the run:)"; cat finished-screen.txt
    [ "$(grep -cE '^[0-9]+ +data.file[0-9]+\.txt +13 B +Ok *$' finished-screen.txt)" -ge 15 ] ||
      fail "too few rows with Ok cells"
    # Several files travel at once and finish in any order: whichever changed last is in view,
    # and the list has scrolled, since damaged rows lie below its first screen.
    grep -qE '^[0-9]+ +data.(file[0-9]+\.txt|zz_last\.dat) +[0-9]+ B +100 %' finished-screen.txt ||
      fail "the last changed row was not scrolled into view"
    [ "$(grep -m1 -oE '^[0-9]+ +data' finished-screen.txt | grep -oE '^[0-9]+')" != 1 ] ||
      fail "the list never scrolled to the damaged rows below its first screen"
    # The run ends as it reaches Finished: the last refresh may have shown the step before.
    grep -qE '^ (Recovering files|Finished)' finished-screen.txt || fail "the status line is not at the end"
    grep -qE '^ \[#+\] 100 %' finished-screen.txt || fail "the progress bar is not full"
    tmux_ send-keys -t yes Enter
    wait_for yes "exit=0" 20 || fail "the tool did not end with 0 after Enter"
    repaired || fail "the files were not repaired"
    arguments_are one "three four" || fail "chained arguments: $(cat "$arguments_log" 2>&1)"
    terminal_restored yes || fail "terminal after the run"
    grep -qF "Confirm: File recovery is finished." screen.txt ||
      fail "the outcome did not stay in the scroll-back"
  else
    fail "no completion box"
  fi
else
  fail "no confirmation question"
fi
tmux_ kill-session -t yes 2>/dev/null

step "in a terminal: declined with n, nothing is touched"
damage
start_in_tmux no "/exec:$launcher" one "three four"
if wait_for no "Would you like to proceed?" 30; then
  # A smaller terminal: the window and the box are drawn again to its size.
  tmux_ resize-window -t no -x 72 -y 20
  wait_for no "$(printf ' [%s] 0 %%' "$(printf '.%.0s' $(seq 1 62))")" 10 ||
    fail "the window did not follow the terminal's new size"
  grep -qF '+- Confirm ' screen.txt || fail "the box was lost in the resize"
  [ "$(awk '{ if (length($0) > 72) n++ } END { print n + 0 }' screen.txt)" = 0 ] ||
    fail "lines wider than the terminal after the resize"
  tmux_ send-keys -t no n
  wait_for no "exit=3" 20 || fail "the tool did not end with 3 (declined) after n"
  damaged || fail "a declined run changed files"
  [ ! -e "$client/recovery" ] || fail "a declined run made the recovery cache"
  arguments_are /recoverfail one "three four" || fail "chained arguments: $(cat "$arguments_log" 2>&1)"
  terminal_restored no || fail "terminal after n"
else
  fail "no confirmation question"
fi
tmux_ kill-session -t no 2>/dev/null

step "in a terminal: Ctrl-C closes the window; a second copy meanwhile exits at once"
nginx_stop; nginx_start "$work/rel/remote" 300k || exit 1   # a download that lasts
printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\n' "$NGINX_URL" > strings.txt
"$publish" strings strings.txt "$client/repair.dat" >/dev/null 2>&1
damage
printf 'damaged map' > "$client/data/maps/world.map"
start_in_tmux interrupt /quiet "/exec:$launcher" one
if wait_for interrupt "Downloading files" 60; then
  # One q does not abandon the run: it asks, and n carries on.
  tmux_ send-keys -t interrupt q
  if wait_for interrupt "Stop the file recovery now?" 10; then
    tmux_ send-keys -t interrupt n
    sleep 1
    screen interrupt > screen.txt
    grep -qF "Stop the file recovery now?" screen.txt && fail "the stop question stayed after n"
    grep -qF "exit=" screen.txt && fail "the run ended after q and n"
  else
    fail "q did not ask before stopping the run"
  fi
  started=$SECONDS
  timeout 20 "$client/repair" "/exec:$launcher" > second.log 2>&1 < /dev/null
  code=$?
  [ "$code" = 5 ] || fail "the second copy exited with $code, not 5 (another copy)"
  [ $((SECONDS - started)) -lt 5 ] || fail "the second copy did not exit at once"
  [ ! -s second.log ] || fail "the second copy printed: $(cat second.log)"
  [ ! -e "$arguments_log" ] || fail "the second copy launched the chained program"
  tmux_ send-keys -t interrupt C-c
  # The missing files the check found are files to repair, not errors of the run: closing
  # the window mid-download shows no error box.
  until wait_for interrupt "exit=" 1 >/dev/null; do
    if grep -qF '[ OK: Enter ]' screen.txt; then
      fail "a box after Ctrl-C: $(grep -F -B3 '[ OK: Enter ]' screen.txt)"
      tmux_ send-keys -t interrupt Enter
    fi
    [ $((SECONDS - started)) -lt 30 ] || break
  done
  grep -qF "exit=4" screen.txt || fail "the tool did not end with 4 after Ctrl-C: $(cat screen.txt)"
  arguments_are /recoverfail one || fail "chained arguments: $(cat "$arguments_log" 2>&1)"
  terminal_restored interrupt || fail "terminal after Ctrl-C"
else
  fail "the download phase never showed"
fi
tmux_ kill-session -t interrupt 2>/dev/null
nginx_stop; nginx_start "$work/rel/remote" || exit 1
printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\n' "$NGINX_URL" > strings.txt
"$publish" strings strings.txt "$client/repair.dat" >/dev/null 2>&1

step "without a terminal: /quiet, plain lines, the arguments as the shell split them"
damage
timeout 120 "$client/repair" /quiet "/exec:$launcher" one "three four" > plain.log 2>&1 < /dev/null
code=$?
[ "$code" = 0 ] || fail "plain run exited with $code: $(cat plain.log)"
repaired || fail "the plain run did not repair"
arguments_are one "three four" || fail "chained arguments: $(cat "$arguments_log" 2>&1)"
grep -q $'\x1b' plain.log && fail "escape sequences in the plain output"
for line in Ready "Downloading recovery information" "Checking file integrity"; do
  grep -qx -- "$line" plain.log || fail "no status line \"$line\""
done
# The download's line says how much comes: the damaged files and their bytes.
grep -qxE -- 'Downloading files: [0-9]+ files, [0-9]+ [KM]?B' plain.log ||
  fail "no status line \"Downloading files: N files, SIZE\": $(grep Downloading plain.log)"
[ -z "$(grep -v '^#' plain.log | sort | uniq -d)" ] || fail "a status was printed twice: $(cat plain.log)"
grep -qE '^#1 filehash\.tsf \([0-9]+ [KM]?B\): (Ok|100 %)$' plain.log || fail "no line for the manifest: $(head -8 plain.log)"
grep -qE '^#[0-9]+ data.file01\.txt \(13 B\): Ok$' plain.log || fail "no Ok line for an intact file"
grep -qE '^#[0-9]+ data.file03\.txt \(13 B\): 100 %$' plain.log || fail "no line for a repaired file"
[ "$(grep -c '^#' plain.log)" = 44 ] || fail "not one line per file: $(grep -c '^#' plain.log)"
grep -q 'Confirm' plain.log && fail "a quiet run asked or reported"

step "without a terminal: answers from standard input"
damage
printf 'y\n' | timeout 120 "$client/repair" "/exec:$launcher" > answered.log 2>&1
question_lines() {  # the question as the plain output prints it
  printf '%s%s\n' 'Confirm: Recovery of the corrupted client files will commence. Please' \
    ' shut down all running operations before it begins.'
  printf '%s\n' '         Would you like to proceed? [y/N]'
}
[ "$(grep -cxF -f <(question_lines) answered.log)" = 2 ] ||
  fail "the question is not the text as it stands: $(head -4 answered.log)"
grep -qx 'Confirm: File recovery is finished.' answered.log || fail "no completion line"
repaired || fail "the answered run did not repair"
arguments_are || fail "chained arguments after yes: $(cat "$arguments_log" 2>&1)"
damage
timeout 120 "$client/repair" "/exec:$launcher" > eof.log 2>&1 < /dev/null
[ $? = 3 ] || fail "end of input: exit code (not 3, declined)"
damaged || fail "end of input was taken as yes"
arguments_are /recoverfail || fail "chained arguments after end of input: $(cat "$arguments_log" 2>&1)"

step "--help names every exit status"
"$client/repair" --help > help.log 2>&1 || fail "--help exited with $?"
for status in 0 1 2 3 4 5 6; do
  grep -qE "^  $status  " help.log || fail "--help does not name exit status $status"
done

step "without a terminal: error texts as they stand"
mv "$client/buildver.tvf" version.aside
timeout 120 "$client/repair" /quiet > missing.log 2>&1 < /dev/null
code=$?
mv version.aside "$client/buildver.tvf"
[ "$code" = 2 ] || fail "a failed run exited with $code, not 2"
missing_text='Error: Version information cannot be verified.  Please reinstall the client.'
grep -qxF "$missing_text" missing.log ||
  fail "the error text was changed: $(cat missing.log)"

step "output redirected from an interactive shell: the question is asked on the terminal"
damage
STDOUT="$work/redirected.log" start_in_tmux redirected "/exec:$launcher"
if wait_for redirected "Would you like to proceed? [y/N]" 30; then
  tmux_ send-keys -t redirected y Enter
  wait_for redirected "exit=0" 90 || fail "the redirected run did not end with 0"
  repaired || fail "the redirected run did not repair"
  arguments_are || fail "chained arguments after yes: $(cat "$arguments_log" 2>&1)"
  [ "$(grep -cxF -f <(question_lines) redirected.log)" = 2 ] ||
    fail "the question is missing from the redirected output: $(head -4 redirected.log)"
  grep -qx 'Confirm: File recovery is finished.' redirected.log ||
    fail "no completion line in the output"
else
  fail "the question never reached the terminal: $(head -4 redirected.log 2>&1)"
fi
tmux_ kill-session -t redirected 2>/dev/null

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "terminal end to end: all checks passed"
