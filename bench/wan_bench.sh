#!/usr/bin/env bash
# The WAN benchmark (not part of CI): the Linux program, `repair /quiet`, repairing a client over
# an emulated distant link, beside standard tools fetching the same bytes over the same link.
#
#   bench/wan_bench.sh [--small] [--wine] [--rtt-ms MS] [--rate-mbit MBIT]
#
# The client: 1,500 small files (2 to 40 KiB, a few MB in all) and two paks of 256 MiB
# (--small: 300 files and two paks of 16 MiB). It is published with repair-publish and served
# by nginx on loopback behind bench/link_relay (build/native/bench/link_relay): 40 ms round
# trip and 100 Mbit/s each way by default, set-up paying the round trip, every connection
# taking turns on the one rate. The damage: 600 small files deleted (--small: 120) and 4 KiB
# overwritten in the middle of each pak, the same before each tool. Each line of the table is
# one tool through a relay of its own, whose counts give the bytes through the link and the
# connections:
#   repair      the program itself, /quiet (--wine: only this line, with repair.exe under Wine);
#               with REPAIR_DOWNLOADS="1 4 8" in the environment, once for each of those
#               SYS_MAXDOWNLOADS values (lines repair-j1, repair-j4, ...), then the others
#   curl        one curl, one connection, the deleted files and both paks whole
#   aria2c -j8  the same files, eight at a time, one connection each
#   zsync       both paks from the block index of zsyncmake (the .zsync files, served beside)
# and, apart from the link, the check: the program on an intact client of 1 GiB (--small:
# 128 MiB) served by nginx directly, its check phase (the run_bench.sh method: the worker's
# handshake rests, recorded by strace, see bench/phases.py) beside md5sum of the same files,
# both with a warm page cache. Peak memory is the largest resident set of the tool's process
# (/usr/bin/time). Needs about 3.5 GB of free disk in build/wanbench (--small: 0.4 GB).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

small_files=1500 deleted_count=600 pak_mib=256 check_mib=1024 wine=0 rtt_ms=40 rate_mbit=100
while [ $# -gt 0 ]; do
  case "$1" in
    --small) small_files=300 deleted_count=120 pak_mib=16 check_mib=128 ;;
    --wine) wine=1 ;;
    --rtt-ms) rtt_ms="$2"; shift ;;
    --rate-mbit) rate_mbit="$2"; shift ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
  esac
  shift
done

need=()
command -v aria2c >/dev/null || need+=(aria2)
command -v zsync >/dev/null && command -v zsyncmake >/dev/null || need+=(zsync)
command -v strace >/dev/null || need+=(strace)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then apt-get install -y -q "${need[@]}" >/dev/null; fi
command -v nginx >/dev/null || { echo "nginx is missing: run scripts/setup.sh"; exit 1; }
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target repair repair-publish link_relay >/dev/null
repair="$root/build/native/src/repair"
publish="$root/build/native/tools/repair-publish"
relay="$root/build/native/bench/link_relay"
if [ "$wine" = 1 ]; then
  repair_exe="${REPAIR_EXE:-$root/build/windows/src/repair.exe}"
  if [ ! -f "$repair_exe" ]; then
    scripts/build-windows.sh build/windows -DREPAIR_NATIVE_PUBLISH="$publish" >/dev/null
  fi
fi

work="$root/build/wanbench"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
export XDG_RUNTIME_DIR="$work/run"; mkdir -m 700 "$XDG_RUNTIME_DIR"   # a lock of its own

echo "== generating $small_files small files and two paks of $pak_mib MiB"
python3 - "$small_files" "$pak_mib" <<'PY'
import os, random, sys
random.seed(2025)
files, pak = int(sys.argv[1]), int(sys.argv[2]) << 20
for i in range(files):   # most a few KiB, a tail up to 40 KiB
    size = min(int(random.paretovariate(1.2) * 2048), 40 << 10)
    folder = os.path.join("src", "data", "set%02d" % (i % 23))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%04d.dat" % i), "wb") as f:
        f.write(os.urandom(size))
os.makedirs("src/paks")
for name in ("pak0.pak", "pak1.pak"):   # random throughout: no block of one is found elsewhere
    with open(os.path.join("src/paks", name), "wb") as f:
        for _ in range(pak >> 20):
            f.write(os.urandom(1 << 20))
PY

echo "== publishing, and the paks' block indexes with zsyncmake"
"$publish" publish src 1 0 release >publish.log 2>&1 || { cat publish.log; exit 1; }
remote="$work/release/remote"
for pak in pak0.pak pak1.pak; do
  (cd "$remote/1.0/paks" && zsyncmake -u "$pak" -o "$pak.zsync" "$pak" >/dev/null 2>&1)
done
zsync_block=$(sed -n 's/^Blocksize: //p' "$remote/1.0/paks/pak0.pak.zsync")
source "$root/tests/e2e/nginx.sh"
relay_pid=""
cleanup() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null && wait "$relay_pid" 2>/dev/null
  nginx_stop
  rm -rf "$work/client" "$work/release" "$work/check" "$work/out"   # the logs stay
}
trap cleanup EXIT
nginx_start "$remote"
relay_port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
relay_url="http://127.0.0.1:$relay_port"

mv src client
cp release/client-files/buildver.tvf "$repair" client/
# Each repair writes its run log, whose time stamps give the phases' times.
printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\nSYS_RUNLOG=run.log\n' "$relay_url" > strings.txt
"$publish" strings strings.txt client/repair.dat >/dev/null 2>&1
"$publish" inspect "$remote/1.0/filehash.tsf" 2>/dev/null |
  awk '{name = $3; gsub(/\\/, "/", name); print $1 "  client/" name}' > expected.md5

now() { date +%s.%N; }
mib() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# ---- the check, apart from the link: an intact client of check_mib, served directly.
check_line=""
if [ "$wine" = 0 ]; then
  echo "== the check: an intact client of $check_mib MiB"
  mkdir check
  cp -al client/data client/paks check/   # the same files (nothing writes them in this run)
  have_mib=$(( $(du -sbL check | cut -f1) >> 20 ))
  i=0
  while [ "$have_mib" -lt "$check_mib" ]; do
    chunk=$(( check_mib - have_mib < 256 ? check_mib - have_mib : 256 ))
    head -c "$((chunk << 20))" /dev/urandom > "check/paks/extra$i.pak"
    have_mib=$((have_mib + chunk)); i=$((i + 1))
  done
  mkdir -p "$remote/2.0"
  "$publish" manifest check "$remote/2.0/filehash.tsf" >/dev/null 2>&1
  "$publish" version 2 0 check/buildver.tvf >/dev/null 2>&1
  cp "$repair" check/
  printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\n' "$NGINX_URL" > check-strings.txt
  "$publish" strings check-strings.txt check/repair.dat >/dev/null 2>&1
  find check/data check/paks -type f | sort > check-files.txt
  xargs -d '\n' cat < check-files.txt >/dev/null   # warm the cache for both
  t0=$(now); xargs -d '\n' md5sum < check-files.txt >/dev/null; t1=$(now)
  md5_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f", b - a}')
  t0=$(now)
  (cd check && strace -f --seccomp-bpf -q -ttt -e trace=openat,close -o "$work/check.trace" \
     ./repair /quiet) > check.log 2>&1 < /dev/null
  t1=$(now)
  intact_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f", b - a}')
  # The check phase: from the first open of a client file to the last close of one, as the
  # file opens and closes recorded by strace (seccomp-filtered: nothing else is slowed) say.
  sed 's|^check/||' check-files.txt > check-names.txt
  check_s=$(python3 "$root/bench/check_span.py" check.trace check-names.txt 2>/dev/null || echo n/a)
  check_line=$(printf 'check (%d MiB intact, warm): %s s (first open to last close of a file), whole run %s s; md5sum %s s; ratio %s (target <= 0.6)' \
    "$check_mib" "$check_s" "$intact_s" "$md5_s" \
    "$( [ "$check_s" = n/a ] && echo n/a || ratio "$check_s" "$md5_s")")
  rm -rf check "$remote/2.0"
fi

# ---- the damage, and the bytes a repair needs.
find client/data -type f | sort | awk -v n="$small_files" -v d="$deleted_count" \
  'int(NR * d / n) != int((NR - 1) * d / n)' > deleted.txt   # spread evenly
pak_size=$(stat -c %s client/paks/pak0.pak)
damage_at=$((pak_size / 2))
head -c 4096 /dev/urandom > garbage.bin
damage() {
  xargs -d '\n' rm -f < deleted.txt
  local pak
  for pak in client/paks/pak0.pak client/paks/pak1.pak; do
    dd if=garbage.bin of="$pak" bs=4096 seek="$((damage_at / 4096))" conv=notrunc status=none
  done
  rm -rf client/recovery out
  mkdir -p out
}
deleted_bytes=$(xargs -d '\n' stat -c %s < deleted.txt | awk '{s += $1} END {print s}')
damage
needed_bytes=$((deleted_bytes + 2 * 4096))
(printf '%s\n' client/paks/pak0.pak client/paks/pak1.pak; cat deleted.txt) |
  sed 's|^client/||' > fetch.txt   # the files the standard tools fetch whole

# relay_start NAME / relay_stop NAME: a fresh link for one tool; its counts in NAME.stats.
relay_start() {
  "$relay" --listen "127.0.0.1:$relay_port" --upstream "$NGINX_PORT" --delay-ms "$((rtt_ms / 2))" \
    --rate-mbit "$rate_mbit" --stats "$work/$1.stats" > "$work/$1.relay" &
  relay_pid=$!
  local i
  for i in $(seq 1 100); do grep -q listening "$work/$1.relay" 2>/dev/null && return 0; sleep 0.05; done
  echo "the link relay did not start"; exit 1
}
relay_stop() {
  kill -TERM "$relay_pid"; wait "$relay_pid" || true; relay_pid=""
}
stat_of() { awk -v k="$2" '$1 == k {print $2}' "$work/$1.stats"; }

# measure NAME COMMAND...: runs COMMAND through a fresh link; sets wall (s) and rss (KiB).
measure() {
  local name="$1"; shift
  relay_start "$name"
  local t0 t1
  t0=$(now)
  /usr/bin/time -f '%M' -o "$work/$name.rss" "$@" > "$work/$name.log" 2>&1 < /dev/null ||
    echo "  ($name ended with an error: see build/wanbench/$name.log)"
  t1=$(now)
  relay_stop
  wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f", b - a}')
  rss=$(tail -1 "$work/$name.rss")
}

phase_lines=()
phases() {  # NAME: the time of each phase of that repair, from the run log it left in client/
  [ -f client/run.log ] || return 0
  mv client/run.log "$1.runlog"
  phase_lines+=("$(awk -v n="$1" '$2 == "phase:" {
      t = $1; $1 = ""; $2 = ""; sub(/^ +/, "")
      if (name != "") line = line sprintf("%s %.2f s, ", name, t - prev)
      name = $0; prev = t }
    END { sub(/, $/, "", line); printf "  %-11s %s", n, line }' "$1.runlog")")
}

rows=()
row() {  # NAME: one line of the table from the figures of measure
  local down up
  down=$(stat_of "$1" bytes_to_client); up=$(stat_of "$1" bytes_to_upstream)
  rows+=("$(printf '%-12s %9s %11s %9s %6s %9s' "$1" "$wall" "$(mib "$down")" \
    "$(awk -v b="$up" 'BEGIN {printf "%.0f", b / 1024}')" "$(stat_of "$1" connections)" \
    "$((rss >> 10))")")
}

same_as_release() {  # DIR: the fetched files in DIR, named as in fetch.txt, match the release
  local f
  while read -r f; do
    cmp -s "$1/$f" "$remote/1.0/$f" || { echo "  $f differs after the run into $1"; return 1; }
  done < "${2:-fetch.txt}"
}

echo "== $(wc -l < deleted.txt) small files deleted ($(mib "$deleted_bytes") MiB), 4 KiB damaged in each pak"
echo "== link: ${rtt_ms} ms round trip, ${rate_mbit} Mbit/s each way"

if [ "$wine" = 1 ]; then
  echo "== repair.exe under Wine"
  cp "$repair_exe" client/repair.exe
  # One X server and one Wine server for the warm-up and the run: the figure is the run, not
  # the start of Wine (a desktop stays bound to the display it first met, so both share it).
  relay_start repair.exe
  "$root/scripts/wine-env.sh" xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    wine cmd /c exit >/dev/null 2>&1
    cd client
    t0=$(date +%s.%N)
    /usr/bin/time -f %M -o ../repair.exe.rss wine repair.exe /quiet > ../repair.exe.log 2>&1
    echo "$t0 $(date +%s.%N)" > ../repair.exe.wall
    timeout 60 wineserver -w' || echo "  (the Wine run failed: see build/wanbench/repair.exe.log)"
  relay_stop
  wall=$(awk '{printf "%.2f", $2 - $1}' repair.exe.wall)
  rss=$(tail -1 repair.exe.rss)
  md5sum --quiet -c expected.md5 >/dev/null 2>&1 || echo "  the client differs after the run"
  row repair.exe
  phases repair.exe
else
  for downloads in ${REPAIR_DOWNLOADS:-}; do
    echo "== repair /quiet, SYS_MAXDOWNLOADS=$downloads"
    { cat strings.txt; echo "SYS_MAXDOWNLOADS=$downloads"; } > strings-j.txt
    "$publish" strings strings-j.txt client/repair.dat >/dev/null 2>&1
    damage
    measure "repair-j$downloads" env -C client ./repair /quiet
    md5sum --quiet -c expected.md5 >/dev/null 2>&1 || echo "  the client differs after the run"
    row "repair-j$downloads"
    phases "repair-j$downloads"
  done
  "$publish" strings strings.txt client/repair.dat >/dev/null 2>&1
  damage
  echo "== repair /quiet"
  measure repair env -C client ./repair /quiet
  md5sum --quiet -c expected.md5 >/dev/null 2>&1 || echo "  the client differs after the run"
  row repair
  phases repair
  repair_wall=$wall repair_rss=$rss
  repair_link=$(( $(stat_of repair bytes_to_client) + $(stat_of repair bytes_to_upstream) ))

  echo "== curl, one connection"
  damage
  awk -v url="$relay_url/1.0/" '{printf "url = %s%s\noutput = out/curl/%s\n", url, $0, $0}' \
    fetch.txt > curl.cfg
  measure curl curl -s --create-dirs --config curl.cfg
  same_as_release out/curl || true
  row curl
  curl_wall=$wall

  echo "== aria2c -j8"
  damage
  awk -v url="$relay_url/1.0/" '{printf "%s%s\n  out=%s\n", url, $0, $0}' fetch.txt > aria2.txt
  measure aria2c aria2c -q -j8 -x1 -s1 --allow-overwrite=true --auto-file-renaming=false \
    --file-allocation=none -d out/aria2 -i aria2.txt
  same_as_release out/aria2 || true
  row aria2c

  echo "== zsync, the two paks"
  damage
  mkdir -p out/zsync/paks
  measure zsync bash -c 'for pak in pak0.pak pak1.pak; do
      zsync -q -i "client/paks/$pak" -o "out/zsync/paks/$pak" "$0/1.0/paks/$pak.zsync" || exit 1
    done' "$relay_url"
  printf '%s\n' paks/pak0.pak paks/pak1.pak > zsync-files.txt
  same_as_release out/zsync zsync-files.txt || true
  row zsync
fi

echo
echo "== results: $small_files small files and two paks of $pak_mib MiB; ${rtt_ms} ms, ${rate_mbit} Mbit/s"
printf '%-12s %9s %11s %9s %6s %9s\n' tool "wall (s)" "down (MiB)" "up (KiB)" conns "RSS (MiB)"
printf '%s\n' "${rows[@]}"
if [ ${#phase_lines[@]} -gt 0 ]; then
  echo "phases (from each run log; the window's 2 s start comes before the first):"
  printf '%s\n' "${phase_lines[@]}"
fi
echo "needed: $(mib "$needed_bytes") MiB ($(mib "$deleted_bytes") MiB of deleted small files," \
  "2 x 4 KiB damaged in the paks; zsync's blocks: $zsync_block bytes)"
if [ "$wine" = 0 ]; then
  echo "targets:"
  printf '  wall time    %7.2f s    <= 0.2 x one-connection curl = %.2f s   ratio %s\n' \
    "$repair_wall" "$(awk -v c="$curl_wall" 'BEGIN {print c * 0.2}')" "$(ratio "$repair_wall" "$curl_wall")"
  printf '  link bytes   %7s MiB  <= 1.2 x deleted small files + 10 MiB = %s MiB\n' \
    "$(mib "$repair_link")" "$(awk -v d="$deleted_bytes" 'BEGIN {printf "%.1f", (1.2 * d + 10485760) / 1048576}')"
  printf '  peak RSS     %7d MiB  <= 64 MiB\n' "$((repair_rss >> 10))"
  echo "  $check_line"
fi
