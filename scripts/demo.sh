#!/usr/bin/env bash
# The built-in demo: installs what it needs, builds, makes a sample client of a few hundred
# files, publishes it with repair-publish, serves the release on 127.0.0.1 with nginx, damages
# the client (corrupted, truncated, emptied and deleted files, a deleted folder), runs the
# repair tool on it and shows that every file matches the manifest again.
#   scripts/demo.sh          the Linux tool: interactive in a terminal, /quiet otherwise
#   scripts/demo.sh --wine   the Windows program, repair.exe, under Wine (on a virtual display);
#                            where Wine cannot run 32-bit programs (scripts/wine-arch.sh), its
#                            64-bit build under wine64
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

wine=0
for arg in "$@"; do
  case "$arg" in
    --wine) wine=1 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

if [ "$wine" = 1 ]; then scripts/setup.sh --windows; else scripts/setup.sh; fi
echo "== building"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$(nproc)" --target repair repair-publish >/dev/null
publish="$root/build/native/tools/repair-publish"
if [ "$wine" = 1 ]; then
  wine_arch="$(scripts/wine-arch.sh)"
  wine_name=Wine
  if [ "$wine_arch" = win32 ]; then
    scripts/build-windows.sh build/windows >/dev/null
    exe="$root/build/windows/src/repair.exe"
  else
    why="$(scripts/wine-arch.sh --reason)"
    [ -n "${REPAIR_WINE_ARCH:-}" ] || why="32-bit programs cannot run on this machine ($why)"
    echo "$why; running the 64-bit build of repair.exe under wine64"
    scripts/build-windows.sh --arch x86_64 build/windows64 >/dev/null
    exe="$root/build/windows64/src/repair.exe"
    wine_name=wine64
  fi
fi

demo="$root/build/demo"
rm -rf "$demo" && mkdir -p "$demo"
cd "$demo"

echo "== making a sample client"
python3 - <<'PY'
import os, random
random.seed(7)
root = "sample"
folders = ["data", "data/ui", "data/ui/fonts", "data/maps", "data/maps/north", "data/maps/south",
           "data/sound", "data/sound/music", "bin", "config", "docs"]
count = 0
for folder in folders:
    os.makedirs(os.path.join(root, folder), exist_ok=True)
    for i in range(random.randint(15, 40)):
        # A long tail of small files and a few larger ones.
        size = random.choice([random.randint(10, 2000)] * 8 + [random.randint(20000, 400000)])
        name = os.path.join(root, folder, "%s_%03d.%s" % (os.path.basename(folder), i,
                                                          random.choice(["dat", "cfg", "bin", "txt"])))
        with open(name, "wb") as f:
            f.write(random.randbytes(size))
        count += 1
with open(os.path.join(root, "data", "read me.txt"), "w") as f:
    f.write("A file with a space in its name.\n")
print("sample client: %d files" % (count + 1))
PY
du -sh sample | cut -f1 | sed 's/^/sample client size: /'

echo "== publishing build 1.0"
"$publish" publish sample 1 0 release
nginx_log="$demo/nginx"
source "$root/tests/e2e/nginx.sh"
trap 'nginx_stop' EXIT
nginx_start "$demo/release/remote"
echo "serving the release at $NGINX_URL"

echo "== installing the client with the tool"
cp -r sample client
cp release/client-files/buildver.tvf client/
cat > strings.txt <<TEXT
SYS_WINDOWTITLE=Demo Client Repair
SYS_REMOTEPATH=$NGINX_URL/\$MAJORVER\$.\$MINORVER\$
TEXT
if [ "$wine" = 1 ]; then
  cp "$exe" client/
  "$publish" strings strings.txt client/repair.dat >/dev/null
else
  cp "$root/build/native/src/repair" client/
  "$publish" strings strings.txt client/repair.dat >/dev/null
fi

echo "== damaging it"
first() { find "$1" -maxdepth 1 -type f | sort | sed -n "${2:-1}p"; }
printf 'corrupted' | dd of="$(first client/data/ui)" bs=1 seek=3 conv=notrunc status=none
truncate -s 5 "$(first client/data/maps)"
: > "$(first client/config)"
rm -f "$(first client/bin)" "$(first client/bin 2)" client/data/read\ me.txt
rm -rf client/data/sound/music
echo "corrupted, truncated, emptied and deleted files, and the folder data/sound/music"

verify() {  # prints the files that differ from the manifest; returns 1 when any does
  local bad=0 md5 size name path
  while read -r md5 size name; do
    path="client/${name//\\//}"
    if [ ! -f "$path" ] || [ "$(md5sum < "$path" | cut -c1-32)" != "$md5" ]; then
      echo "  differs: $name"; bad=1
    fi
  done < <("$publish" inspect release/remote/1.0/filehash.tsf 2>/dev/null)
  return $bad
}
echo "before the repair, these differ from the manifest:"
verify | sed -n '1,8p;9s/.*/  .../p' || true

echo "== running the repair tool"
cd client
if [ "$wine" = 1 ]; then
  echo "(repair.exe /quiet under $wine_name on a virtual display)"
  # (Wine notes the virtual display going away at the end; that line is dropped.)
  REPAIR_WINE_ARCH="$wine_arch" "$root/scripts/wine-env.sh" timeout 600 \
    xvfb-run -a -s "-screen 0 1024x768x24" wine repair.exe /quiet \
    2> >(grep -v '^X connection to' >&2)
elif [ -t 0 ] && [ -t 1 ]; then
  # Its exit status says how it ended (repair --help): 3 when the question was answered No.
  ./repair || echo "(repair exited with status $?)"
else
  ./repair /quiet || echo "(repair exited with status $?)"
fi
cd ..

echo "== after the repair"
if verify; then
  echo "every file matches the manifest again"
else
  echo "the client still differs from the manifest"; exit 1
fi
