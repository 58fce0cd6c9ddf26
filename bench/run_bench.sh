#!/usr/bin/env bash
# The benchmark (not part of CI): a generated client of realistic shape, 10% of it damaged,
# served by nginx on loopback, repaired by the engine; each phase is set against the floor a
# user could reach with standard tools on the same files, in the same run:
#   check phase     vs  md5sum over the same files
#   download phase  vs  one curl fetching the same damaged files over one connection
# plus the refresh's cost per call with 100,000 rows and the peak memory against the largest
# file. Needs ~3 GiB of free disk in build/bench.
#   bench/run_bench.sh [FILES [TOTAL_MIB]]     (default 2000 files, 1024 MiB)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
files="${1:-2000}"
total_mib="${2:-1024}"

scripts/setup.sh
[ -x /usr/bin/time ] && command -v bc >/dev/null || apt-get install -y -q time bc >/dev/null
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target engine_runner repair-publish refresh_bench >/dev/null
runner="$root/build/native/tests/engine_runner"
publish="$root/build/native/tools/repair-publish"

work="$root/build/bench"
rm -rf "$work" && mkdir -p "$work" && cd "$work"

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
    folder = os.path.join("client", "data", "set%02d" % (i % 37), "sub%d" % (i % 5))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%05d.bin" % i), "wb") as f:
        f.write(i.to_bytes(4, "little"))     # no two files alike
        left = size - 4
        while left > 0:
            n = min(left, len(chunk))
            f.write(chunk[:n]); left -= n
PY
largest=$(find client -type f -printf '%s\n' | sort -n | tail -1)
echo "largest file: $((largest >> 20)) MiB"

echo "== publishing"
"$publish" publish client 1 0 release >/dev/null 2>&1
cp release/client-files/buildver.tvf client/
source "$root/tests/e2e/nginx.sh"
trap 'nginx_stop' EXIT
nginx_start "$work/release/remote"

echo "== damaging 10% of the files"
find client/data -type f | sort > all.txt
awk 'NR % 10 == 3' all.txt > damaged.txt
while read -r f; do printf 'damage' | dd of="$f" bs=1 seek=0 conv=notrunc status=none; done < damaged.txt
echo "$(wc -l < damaged.txt) damaged files, $(($(xargs -d '\n' stat -c %s < damaged.txt | paste -sd+ | bc) >> 20)) MiB"

echo "== floors with standard tools (warm page cache for both)"
cat client/data/*/*/* >/dev/null   # warm the cache as the tool will find it
t0=$(date +%s.%N); xargs -d '\n' md5sum < all.txt >/dev/null; t1=$(date +%s.%N)
md5_floor=$(echo "$t1 - $t0" | bc)
sed "s|^client/|url = $NGINX_URL/1.0/|; s|\$|\noutput = /dev/null|" damaged.txt > curl.cfg
t0=$(date +%s.%N); curl -s --config curl.cfg; t1=$(date +%s.%N)
curl_floor=$(echo "$t1 - $t0" | bc)

echo "== the engine"
/usr/bin/time -v "$runner" client/ "$NGINX_URL/\$MAJORVER\$.\$MINORVER\$" > run.log 2> time.log
cat run.log
peak_kib=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' time.log)
phase_at() { awk -v p="$1" '$1 == "phase" && $2 == p {print $4}' run.log; }
end_at=$(awk '$1 == "end" {print $3}' run.log)
check=$(echo "$(phase_at DownloadFiles) - $(phase_at CheckFiles) - 0.5" | bc)
download=$(echo "$(phase_at RecoverFiles) - $(phase_at DownloadFiles) - 0.5" | bc)
recover=$(echo "$end_at - $(phase_at RecoverFiles) - 0.5" | bc)

echo
echo "== results ($files files, $total_mib MiB, $(wc -l < damaged.txt) damaged)"
printf 'check phase:    %6.2f s   md5sum: %6.2f s   ratio %.2f\n' "$check" "$md5_floor" "$(echo "$check / $md5_floor" | bc -l)"
printf 'download phase: %6.2f s   curl:   %6.2f s   ratio %.2f\n' "$download" "$curl_floor" "$(echo "$download / $curl_floor" | bc -l)"
printf 'recover phase:  %6.2f s\n' "$recover"
printf 'peak memory:    %6d MiB   largest file: %d MiB   ratio %.2f\n' "$((peak_kib >> 10))" "$((largest >> 20))" "$(echo "$peak_kib * 1024 / $largest" | bc -l)"
echo "(each phase's time excludes the 500 ms handshake with the window)"
"$root/build/native/bench/refresh_bench"
