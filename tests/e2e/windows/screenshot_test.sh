#!/usr/bin/env bash
# Photographs the window in the middle of the check phase and keeps the picture as a test
# artifact (ARTIFACT_DIR/window-check-phase.png). Large local files (sparse: no disk used) of the
# sizes the release lists but other bytes keep the check phase going for a few seconds: a file
# of another size is damaged without being read, so the worker reads each of these to its end, and the files the tool holds open tell when it is busy
# with them. The picture must show the window centred on the screen with a partly filled bar.
#   screenshot_test.sh REPAIR_EXE RECORD_ARGS_EXE NATIVE_PUBLISH ARTIFACT_DIR
set -uo pipefail
source "$(dirname "$0")/gui_lib.sh"
gui_init "$@"
[ -n "$artifacts" ] || { echo "an artifact folder is needed"; exit 1; }

BIG_FILES=2
BIG_SIZE_MB=1500

make_client "$work/src"
mkdir -p "$work/src/textures"
for i in $(seq 1 "$BIG_FILES"); do
  truncate -s "${BIG_SIZE_MB}M" "$work/src/textures/pack$i.pak"   # sparse
  printf 'texture pack %s\n' "$i" | dd of="$work/src/textures/pack$i.pak" conv=notrunc status=none
done
setup_release
damage_client
for i in $(seq 1 "$BIG_FILES"); do
  rm -f "$client/textures/pack$i.pak"
  truncate -s "${BIG_SIZE_MB}M" "$client/textures/pack$i.pak"   # sparse: no disk space used
done

reading_big_file() {  # PID
  ls -l "/proc/$1/fd" 2>/dev/null | grep -q 'textures/pack[0-9]*\.pak'
}

pixel() {  # IMAGE X Y
  convert "$1" -format "%[pixel:p{$2,$3}]" info: 2>/dev/null
}

step "the window during the check phase"
shot="$artifacts/window-check-phase.png"
rm -f "$shot"
start_repair "$work/run.log" /quiet
tool_pid=""
for i in $(seq 1 300); do
  tool_pid="$(awk '{ print $1 }' "/proc/$REPAIR_PID/task/$REPAIR_PID/children" 2>/dev/null)"
  [ -n "$tool_pid" ] && break
  sleep 0.1
done
busy=0
for i in $(seq 1 $((BOX_WAIT * 20))); do
  [ -n "$tool_pid" ] && kill -0 "$tool_pid" 2>/dev/null || break
  if reading_big_file "$tool_pid"; then busy=1; break; fi
  sleep 0.05
done
if [ "$busy" = 1 ]; then
  sleep 1.5   # three refreshes: rows, dots and bar are on screen
  import -window root "$shot" || fail "import failed"
else
  fail "the tool never got to the large files"
fi
wait_repair_exit
[ "$REPAIR_EXIT" = 0 ] || fail "exit code $REPAIR_EXIT"
client_matches_release || fail "the client differs from the release after the run"

if [ -f "$shot" ]; then
  # Xvfb's root window is black; the window is 450 x 350, centred on the 1024 x 768 screen.
  left=$(((1024 - 450) / 2)); top=$(((768 - 350) / 2))
  [ "$(pixel "$shot" $((left - 3)) $((top - 3)))" = "srgb(0,0,0)" ] ||
    fail "something is drawn outside the centred window"
  [ "$(pixel "$shot" $((left + 225)) $((top + 175)))" != "srgb(0,0,0)" ] ||
    fail "no window at the centre of the screen"
  # The bar: 10 pixels in from both sides of the client area, its middle 20 pixels above the
  # client area's bottom; filled on the left, empty on the right during the check.
  bar_y=$((top + 350 - 23))
  filled="$(pixel "$shot" $((left + 30)) $bar_y)"
  empty="$(pixel "$shot" $((left + 450 - 30)) $bar_y)"
  [ -n "$filled" ] && [ "$filled" != "$empty" ] ||
    fail "the bar is not partly filled: left $filled, right $empty"
  echo "screenshot: $shot"
fi

gui_finish
