# Sourced by the tests that run repair.exe under Wine in an X server of their own. Each test
# script is started as
#   scripts/wine-env.sh xvfb-run -a -s "-screen 0 1024x768x24" SCRIPT REPAIR_EXE RECORD_ARGS_EXE \
#       NATIVE_PUBLISH ARTIFACT_DIR
# and gets: a published release served by a private nginx, a client folder holding repair.exe,
# its string file and the version file, helpers to start the tool, find and answer its message
# boxes by caption, read what the chained program received, and compare the client with the
# release. Message box texts are read from Wine's msgbox trace in the tool's log.

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=../nginx.sh
source "$here/../nginx.sh"

WINDOW_TITLE="Client Repair"
BOX_WAIT=90        # seconds: a box or an exit that never comes fails the test, it never hangs it
REPAIR_TIMEOUT=300  # seconds after which a run of the tool is stopped
failures=0
REPAIR_PID=""

step() { echo "--- $*"; }

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
  if [ -n "${artifacts:-}" ] && [ -n "${DISPLAY:-}" ]; then
    import -window root "$artifacts/failure-$(basename "$0" .sh)-$failures.png" 2>/dev/null || true
  fi
}

gui_finish() {
  if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
  echo "$(basename "$0" .sh): all checks passed"
  exit 0
}

gui_cleanup() {
  if [ -n "$REPAIR_PID" ] && kill -0 "$REPAIR_PID" 2>/dev/null; then
    kill "$REPAIR_PID" 2>/dev/null
    wait "$REPAIR_PID" 2>/dev/null
  fi
  nginx_stop
  [ -n "${work:-}" ] && rm -rf "$work"
}

# gui_init REPAIR_EXE RECORD_ARGS_EXE NATIVE_PUBLISH [ARTIFACT_DIR]
gui_init() {
  if [ -z "${3:-}" ]; then
    echo "SKIPPED: no native repair-publish to publish the test release with; configure the" \
         "Windows build with -DREPAIR_NATIVE_PUBLISH=<native build>/tools/repair-publish"
    exit 77
  fi
  repair_exe="$(readlink -f "$1")"
  record_exe="$(readlink -f "$2")"
  publish="$(readlink -f "$3")"
  artifacts="${4:-}"
  [ -n "$artifacts" ] && mkdir -p "$artifacts"
  if [ -z "${DISPLAY:-}" ]; then echo "no DISPLAY: run this under xvfb-run"; exit 1; fi
  if [ -z "${WINEPREFIX:-}" ]; then echo "no WINEPREFIX: run this under scripts/wine-env.sh"; exit 1; fi
  work="$(mktemp -d)"
  trap gui_cleanup EXIT
  # Without a window manager the X server draws no frames; let Wine draw the caption itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 ||
    { echo "cannot set up the Wine prefix"; exit 1; }
}

# A small client of build 1.0: text files in nested folders, a binary, and a file named like
# the tool, which the manifest lists and the run must leave alone.
make_client() {  # DIR
  local dir="$1" i
  mkdir -p "$dir/data/sub" "$dir/bin"
  for i in $(seq 1 12); do printf 'data file %s of the client\n' "$i" > "$dir/data/file$i.txt"; done
  head -c 200000 /dev/urandom > "$dir/data/world.map"
  printf 'deep setting\n' > "$dir/data/sub/deep.cfg"
  printf 'game binary\n' > "$dir/bin/game.exe"
  printf 'the tool as published\n' > "$dir/repair.exe"
}

# Publishes $work/src (made by make_client, then extended by the caller if it likes) as build
# 1.0, serves it, and makes $client ready to run: sets client, exec_win (the Windows path of
# the chained program) and args_file (where that program writes what it received).
setup_release() {
  cd "$work" || exit 1
  "$publish" publish src 1 0 rel >publish.log 2>&1 || { echo "publish failed:"; cat publish.log; exit 1; }
  nginx_start "$work/rel/remote" || exit 1
  client="$work/client"
  rm -rf "$client"
  cp -r src "$client"
  cp rel/client-files/buildver.tvf "$client/"
  install_tool
}

# Puts repair.exe and its string file (for the server started last) into $client, and the
# chained program beside it; sets exec_win and args_file.
install_tool() {
  cp "$repair_exe" "$client/repair.exe"
  write_strings "$NGINX_URL"
  cp "$record_exe" "$work/record_args.exe"
  exec_win="$(winepath -w "$work/record_args.exe" 2>/dev/null)"
  [ -n "$exec_win" ] || { echo "winepath failed"; exit 1; }
  args_file="$work/record_args.exe.args"
}

write_strings() {  # BASE_URL
  printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\nSYS_WINDOWTITLE=%s\n' "$1" "$WINDOW_TITLE" \
    > "$work/strings.txt"
  "$publish" strings "$work/strings.txt" "$client/repair.dat" >/dev/null 2>&1 ||
    { echo "cannot write the string file"; exit 1; }
}

# The damage every run repairs: a corrupted, an emptied and a missing file, a missing folder.
damage_client() {
  printf 'corrupt' > "$client/data/file1.txt"
  : > "$client/data/file2.txt"
  rm -f "$client/data/file3.txt"
  rm -rf "$client/data/sub"
}

# True when every file the release lists matches it, the tool's own file aside.
client_matches_release() {
  local md5 size name path bad=0
  while read -r md5 size name; do
    [ "$name" = repair.exe ] && continue
    path="$client/${name//\\//}"
    if [ ! -f "$path" ] || [ "$(md5sum < "$path" | cut -c1-32)" != "$md5" ]; then
      echo "  $name differs"; bad=1
    fi
  done < <("$publish" inspect "$work/rel/remote/1.0/filehash.tsf" 2>/dev/null)
  return $bad
}

# start_repair LOG ARGS...: starts the tool in the background from $work (the chained program
# inherits that folder), its output with Wine's message box trace in LOG.
start_repair() {
  local log="$1"; shift
  rm -f "$args_file"
  (cd "$work" && WINEDEBUG=-all,trace+msgbox exec timeout "$REPAIR_TIMEOUT" wine "$client/repair.exe" "$@") \
    >"$log" 2>&1 &
  REPAIR_PID=$!
}

# wait_repair_exit: waits for the tool started last and sets REPAIR_EXIT to its exit code
# (124 when it had to be stopped).
wait_repair_exit() {
  local i
  for i in $(seq 1 $((BOX_WAIT * 5))); do
    kill -0 "$REPAIR_PID" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$REPAIR_PID" 2>/dev/null; then
    fail "the tool did not end within $BOX_WAIT s"
    kill "$REPAIR_PID" 2>/dev/null
  fi
  wait "$REPAIR_PID"
  REPAIR_EXIT=$?
  REPAIR_PID=""
}

# find_box CAPTION [NOT_ID]: prints the id of a top-level window with exactly this caption
# (other than NOT_ID); empty when none shows up while the tool runs.
find_box() {
  local caption="$1" not="${2:-}" i id
  for i in $(seq 1 $((BOX_WAIT * 5))); do
    for id in $(xdotool search --name "^${caption}\$" 2>/dev/null); do
      if [ "$id" != "$not" ]; then echo "$id"; return 0; fi
    done
    kill -0 "$REPAIR_PID" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

answer_box() {  # ID KEY: Return for Yes or OK, n for No
  timeout 30 xdotool windowfocus --sync "$1" key "$2" 2>/dev/null
}

# True when Wine traced a message box with exactly TEXT in LOG.
box_text_shown() {  # LOG TEXT
  grep -qF "MSGBOX_OnInit L\"$2\"" "$1"
}

# Prints what the chained program received (one argument a line), once it has written all of
# it; empty when it was not started.
chained_arguments() {
  local i
  for i in $(seq 1 150); do
    if [ -f "$args_file" ] && grep -qx -- '--end--' "$args_file"; then
      sed '/^--end--$/d' "$args_file"
      return 0
    fi
    sleep 0.2
  done
  return 1
}
