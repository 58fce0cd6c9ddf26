#!/usr/bin/env bash
# An operator's own key: a build configured with -DREPAIR_KEY_FILE embeds exactly that key,
# and a key file of the wrong form is refused when the build is configured.
#   operator_key_test.sh SOURCE_DIR REPAIR_PUBLISH
set -euo pipefail
src="$1"; publish="$2"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
"$publish" keygen "$work/op.der" "$work/op.pub" >/dev/null
cmake -S "$src" -B "$work/build" -DREPAIR_BUILD_TESTS=OFF -DREPAIR_KEY_FILE="$work/op.der" >/dev/null
cmake --build "$work/build" --target repair-publish -j"$(nproc)" >/dev/null
"$work/build/tools/repair-publish" export-key --private "$work/embedded.der"
cmp "$work/op.der" "$work/embedded.der"
printf 'for the operator' > "$work/plain"
"$publish" seal --public "$work/op.pub" "$work/plain" "$work/sealed"
"$work/build/tools/repair-publish" open "$work/sealed" "$work/opened"
cmp "$work/plain" "$work/opened"

head -c 201 "$work/op.der" > "$work/short.der"
if cmake -S "$src" -B "$work/bad" -DREPAIR_BUILD_TESTS=OFF -DREPAIR_KEY_FILE="$work/short.der" \
     >"$work/bad.log" 2>&1; then
  echo "a 201-byte key was accepted"; exit 1
fi
grep -q "202-byte" "$work/bad.log"
echo "operator key: embedded and checked"
