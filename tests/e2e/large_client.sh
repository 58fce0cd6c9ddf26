# Sourced by the large-file tests: a client with one file past 2 GiB beside small ones, and a
# release of it whose served copy costs no disk of its own.
#   large_make_source DIR SIZE_BYTES PUBLISH   the client as published: data/big.pak of SIZE
#                                              bytes, a few small files, buildver.tvf (1.0)
#   large_publish SRC ROOT PUBLISH             ROOT/1.0/: hard links to SRC's files and the
#                                              manifest of SRC; sets LARGE_MD5 (of big.pak)
#   large_install SRC ROOT CLIENT              a sparse copy of SRC with ROOT/1.0's manifest
#   large_damage FILE                          changes a few bytes past 2 GiB
#
# big.pak is sparse: holes, with a 16-byte stamp (its own offset and "bigpak!!") every 64 KiB
# and at its very end. Its blocks all differ, so a block dropped, repeated, moved or cut short
# by a download or a check changes the MD5, while the file costs about 170 MB of disk
# (a dense copy of it is what a repair writes).

LARGE_NAME='data\big.pak'

large_make_source() {  # DIR SIZE_BYTES PUBLISH
  local dir="$1" size="$2" publish="$3" i
  mkdir -p "$dir/data/small"
  python3 - "$dir/data/big.pak" "$size" <<'PY' || return 1
import sys
path, size = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    f.truncate(size)
    for offset in list(range(0, size - 16, 65536)) + [size - 16]:
        f.seek(offset)
        f.write(offset.to_bytes(8, "little") + b"bigpak!!")
PY
  for i in $(seq 1 8); do printf 'small file %s beside the large one\n' "$i" > "$dir/data/small/s$i.txt"; done
  printf 'game binary\n' > "$dir/game.exe"
  "$publish" version 1 0 "$dir/buildver.tvf" >/dev/null 2>&1
}

large_publish() {  # SRC ROOT PUBLISH
  local src="$1" root="$2" publish="$3"
  mkdir -p "$root/1.0" || return 1
  cp -al "$src/." "$root/1.0/" || return 1
  "$publish" manifest "$src" "$root/1.0/filehash.tsf" >"$root.manifest.log" 2>&1 || {
    cat "$root.manifest.log"; return 1; }
  local md5 size name
  LARGE_MD5=""
  while read -r md5 size name; do
    [ "$name" = "$LARGE_NAME" ] && LARGE_MD5="$md5"
  done < <("$publish" inspect "$root/1.0/filehash.tsf" 2>/dev/null)
  [ ${#LARGE_MD5} = 32 ]
}

large_install() {  # SRC ROOT CLIENT
  rm -rf "$3"
  cp -r --sparse=always "$1" "$3" && cp "$2/1.0/filehash.tsf" "$3/"
}

large_damage() {  # FILE
  printf 'damaged bytes' | dd of="$1" bs=1 seek=$(( (2 << 30) + 4099 )) conv=notrunc status=none
}
