#!/usr/bin/env bash
# The benchmark (not part of CI) of the Linux program itself, `repair /quiet` in plain output
# mode, on a generated client of realistic shape (a long tail of small files, a few large ones
# holding most of the bytes), 10% of its files damaged, served by nginx on loopback. In one
# run, each figure beside what standard tools take for the same files:
#   check phase     vs  md5sum over the same files (warm page cache for both)
#   download phase  vs  one curl writing the same damaged files to disk over one connection
#   peak memory     vs  the bound of the block-wise engine (96 MiB, whatever the file sizes)
#   a resumed run   vs  a full one: a run killed (SIGKILL) half-way through its download
#                       phase, then run again: its download time and the bytes it fetched
# and the refresh's cost per call with 100,000 rows.
#
#   bench/run_bench.sh [--8g] [FILES [TOTAL_MIB]]   default 2000 files, 1024 MiB; --8g: 8192 MiB
#
# Phase times: the plain output prints one line per status change, but the refresh prints it
# up to 500 ms after the worker changed phase. The exact edges are the worker's own rests: it
# sleeps 500 ms at a time in each phase handshake, and nothing else in a run sleeps that long.
# strace (seccomp-filtered: only the sleeps stop the program, the rest runs at full speed)
# records them, and each status line tells which handshake a rest belongs to (bench/phases.py).
# Needs about 2.3 times TOTAL_MIB of free disk in build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
if [ "${1:-}" = --8g ]; then shift; set -- "${1:-2000}" 8192; fi
files="${1:-2000}"
total_mib="${2:-1024}"
RSS_BOUND_MIB=96

scripts/setup.sh
command -v strace >/dev/null || apt-get install -y -q strace >/dev/null
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target repair repair-publish refresh_bench >/dev/null
repair="$root/build/native/src/repair"
publish="$root/build/native/tools/repair-publish"

work="$root/build/bench"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
export XDG_RUNTIME_DIR="$work/run"; mkdir -m 700 "$XDG_RUNTIME_DIR"   # a lock of its own

echo "== generating $files files, $total_mib MiB"
python3 - "$files" "$total_mib" <<'PY'
import os, random, sys
random.seed(2024)
files, total = int(sys.argv[1]), int(sys.argv[2]) << 20
large = max(1, files // 200)            # a few large files hold most of the bytes
small_sizes = [int(random.paretovariate(1.2) * 4096) for _ in range(files - large)]
small_sizes = [min(s, 8 << 20) for s in small_sizes]
left = max(total - sum(small_sizes), large)
large_sizes = [left // large] * large
chunk = os.urandom(1 << 20)
for i, size in enumerate(small_sizes + large_sizes):
    folder = os.path.join("src", "data", "set%02d" % (i % 37), "sub%d" % (i % 5))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%05d.bin" % i), "wb") as f:
        f.write(i.to_bytes(4, "little"))     # no two files alike
        left = size - 4
        while left > 0:
            n = min(left, len(chunk))
            f.write(chunk[:n]); left -= n
PY
largest=$(find src -type f -printf '%s\n' | sort -n | tail -1)
echo "largest file: $((largest >> 20)) MiB"

echo "== publishing"
"$publish" publish src 1 0 release >/dev/null 2>&1
source "$root/tests/e2e/nginx.sh"
trap 'nginx_stop; rm -rf "$work/client" "$work/release"' EXIT   # the logs stay
nginx_start "$work/release/remote"
mv src client
cp release/client-files/buildver.tvf release/remote/1.0/filehash.tsf "$repair" client/
printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\n' "$NGINX_URL" > strings.txt
"$publish" strings strings.txt client/repair.dat >/dev/null

find client/data -type f | sort > all.txt
awk 'NR % 10 == 3' all.txt > damaged.txt
damage() {  # the same damage before every run, and no cache left from the run before
  local f
  while read -r f; do printf 'damage' | dd of="$f" bs=1 seek=0 conv=notrunc status=none; done < damaged.txt
  rm -rf client/recovery
}
damage
damaged_mib=$(( $(xargs -d '\n' stat -c %s < damaged.txt | awk '{s += $1} END {print s}') >> 20 ))
echo "$(wc -l < damaged.txt) damaged files, $damaged_mib MiB"

echo "== floors with standard tools (warm page cache for both)"
now() { date +%s.%N; }
cat client/data/*/*/* >/dev/null   # warm the cache as the tool will find it
t0=$(now); xargs -d '\n' md5sum < all.txt >/dev/null; t1=$(now)
md5_floor=$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')
mkdir -p curl-out
awk -v url="$NGINX_URL/1.0/" '{sub(/^client\//, ""); printf "url = %s%s\noutput = curl-out/%d\n", url, $0, NR}' \
  damaged.txt > curl.cfg
t0=$(now); curl -s --config curl.cfg; t1=$(now)
curl_floor=$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')
rm -rf curl-out

# Each line of the program's plain output with the wall-clock time it arrived.
stamp() {
  python3 -u -c '
import sys, time
for line in iter(sys.stdin.readline, ""):
    sys.stdout.write("%.6f %s" % (time.time(), line)); sys.stdout.flush()'
}

# run NAME: one run of the program, /quiet, in plain output mode, its output stamped in
# NAME.log, its handshake rests in NAME.sleeps, its peak memory in NAME.rss (KiB).
run() {
  : > "$NGINX_DIR/access.log"
  ( cd client && /usr/bin/time -f '%M' -o "$work/$1.rss" \
      strace -f --seccomp-bpf -q -ttt -T -e trace=clock_nanosleep,nanosleep -o "$work/$1.sleeps" \
      ./repair /quiet ) < /dev/null 2>&1 | stamp > "$1.log"
  cp "$NGINX_DIR/access.log" "$1.access"
}

# phases NAME: "check download recover" in seconds, from NAME.log and NAME.sleeps.
phases() { python3 "$root/bench/phases.py" times "$1.log" "$1.sleeps"; }

fetched_mib() {  # bytes nginx sent in NAME.access, in MiB
  awk '{n += $10} END {printf "%.1f", n / 1048576}' "$1.access"
}

verify() {  # every listed file matches the manifest after run NAME
  "$publish" inspect release/remote/1.0/filehash.tsf 2>/dev/null |
    awk '{name = $3; gsub(/\\/, "/", name); print $1 "  client/" name}' > expected.md5
  md5sum --quiet -c expected.md5 >/dev/null 2>&1 || { echo "the client differs after the $1 run"; exit 1; }
}

echo "== the program: a full run"
run full
verify full
read -r check download recover < <(phases full)
peak_kib=$(tail -1 full.rss)
full_fetched=$(fetched_mib full)

echo "== the program: a run killed half-way through its download phase, then run again"
damage
: > "$NGINX_DIR/access.log"
( ( cd client && echo "$BASHPID" > "$work/killed.pid" &&
    exec strace -f --seccomp-bpf -q -ttt -T -e trace=clock_nanosleep,nanosleep \
      -o "$work/killed.sleeps" ./repair /quiet ) < /dev/null 2>&1 | stamp > killed.log ) 2>/dev/null &
runner=$!
victim=""
for _ in $(seq 1 200); do
  [ -s killed.pid ] && victim="$(pgrep -P "$(cat killed.pid)" -x repair)" && break
  sleep 0.05
done
killed_at=$(python3 "$root/bench/phases.py" kill killed.log killed.sleeps "$download" "$victim")
wait "$runner" || true
# What the killed run kept for the next one: whatever it left in the cache folder.
kept_mib=$(du -sb client/recovery 2>/dev/null | awk '{printf "%.1f", $1 / 1048576}')
run resumed
verify resumed
read -r _ resumed_download _ < <(phases resumed)
resumed_fetched=$(fetched_mib resumed)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
echo
echo "== results ($files files, $total_mib MiB, $(wc -l < damaged.txt) damaged: $damaged_mib MiB)"
printf 'check phase:    %7.2f s   md5sum: %6.2f s   ratio %s   (target <= 1.1)\n' \
  "$check" "$md5_floor" "$(ratio "$check" "$md5_floor")"
printf 'download phase: %7.2f s   curl:   %6.2f s   ratio %s   (target <= 1.3)\n' \
  "$download" "$curl_floor" "$(ratio "$download" "$curl_floor")"
printf 'recover phase:  %7.2f s\n' "$recover"
printf 'peak memory:    %7d MiB  bound:  %6d MiB   largest file: %d MiB   (target: within the bound)\n' \
  "$((peak_kib >> 10))" "$RSS_BOUND_MIB" "$((largest >> 20))"
printf 'resumed run:    %7.2f s   download phase (full run: %.2f s), %s MiB fetched (full run: %s MiB)\n' \
  "$resumed_download" "$download" "$resumed_fetched" "$full_fetched"
printf '                            the run killed %s%% into its download phase kept %s MiB in the cache\n' \
  "$killed_at" "${kept_mib:-0}"
printf '                            (target: about %s MiB fetched, what the killed run did not keep)\n' \
  "$(awk -v f="$full_fetched" -v k="${kept_mib:-0}" 'BEGIN {d = f - k; printf "%.1f", d < 0 ? 0 : d}')"
echo "(phase times exclude the 500 ms handshakes with the window)"
"$root/build/native/bench/refresh_bench"
