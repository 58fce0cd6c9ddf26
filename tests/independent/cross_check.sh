#!/usr/bin/env bash
# Cross-checks repair-publish against an independent implementation of the sealed format
# (ecies_ref.py: plain integer curve arithmetic, hashlib and hmac, no shared code):
#   cross_check.sh REPAIR_PUBLISH PYTHON ECIES_REF
# 1. blobs that repair-publish seals for the embedded key open with the reference;
# 2. blobs the reference seals for the embedded key open with repair-publish;
# 3. a blob with one flipped bit opens with neither;
# 4. a key pair from repair-publish keygen works the same way in both directions.
set -euo pipefail
publish="$1"; python="$2"; ref="$3"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
cd "$work"

"$publish" export-key --private key.der --public key.pub
[ "$(stat -c %s key.der)" = 202 ] || { echo "embedded key is not 202 bytes"; exit 1; }

check_roundtrip() {  # KEYFLAG_PRIV KEYFLAG_PUB label size
  local priv="$1" pub="$2" label="$3" size="$4"
  head -c "$size" /dev/urandom > "plain-$label"
  "$publish" seal ${pub:+--public "$pub"} "plain-$label" "ours-$label"
  [ "$(stat -c %s "ours-$label")" = "$((size + 61))" ] || { echo "$label: blob is not 61 bytes longer"; exit 1; }
  "$python" "$ref" open "${priv:-key.der}" "ours-$label" "ref-opened-$label"
  cmp "plain-$label" "ref-opened-$label"
  "$python" "$ref" seal "${pub:-key.pub}" "plain-$label" "ref-$label"
  "$publish" open ${priv:+--private "$priv"} "ref-$label" "ours-opened-$label"
  cmp "plain-$label" "ours-opened-$label"
}

for size in 0 1 16 1000 70000; do check_roundtrip "" "" "embedded-$size" "$size"; done

# A flipped bit anywhere (point, body or tag) must make both refuse.
head -c 300 /dev/urandom > plain
"$publish" seal plain sealed
for offset in 0 5 30 100 340; do
  cp sealed bad
  byte=$(od -An -tu1 -j"$offset" -N1 bad | tr -d ' ')
  printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of=bad bs=1 seek="$offset" conv=notrunc status=none
  if "$publish" open bad out 2>/dev/null; then echo "repair-publish opened a damaged blob (offset $offset)"; exit 1; fi
  if "$python" "$ref" open key.der bad out 2>/dev/null; then echo "reference opened a damaged blob (offset $offset)"; exit 1; fi
done

"$publish" keygen other.der other.pub >/dev/null
[ "$(stat -c %s other.der)" = 202 ] || { echo "keygen key is not 202 bytes"; exit 1; }
check_roundtrip other.der other.pub other 500
# A blob for another key does not open with the embedded one.
if "$publish" open ours-other out 2>/dev/null; then echo "opened a blob sealed for another key"; exit 1; fi

echo "cross-check passed"
