#!/usr/bin/env bash
# scripts/sign-windows.sh on a copy of repair.exe with a throwaway self-signed certificate:
# the signature is there, SHA-256, its digest matches the file, and it verifies once the
# certificate is trusted; a changed byte breaks it; a key that does not match the certificate
# fails and leaves the file as it was; the signed program still starts under Wine.
#   sign_test.sh SIGN_SCRIPT REPAIR_EXE
set -uo pipefail
sign="$(readlink -f "$1")"; repair_exe="$(readlink -f "$2")"
root="$(cd "$(dirname "$0")/../../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "--- $*"; }

make_cert() {  # NAME: NAME.pem and NAME.key
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 \
    -subj "/CN=Repair Test Signer $1" -addext "extendedKeyUsage=codeSigning" \
    -addext "keyUsage=digitalSignature" >/dev/null 2>&1 || { echo "openssl failed"; exit 1; }
}
digests_match() {  # VERIFY_OUTPUT
  local current calculated
  current="$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$1")"
  calculated="$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$1")"
  [ -n "$current" ] && [ "$current" = "$calculated" ]
}

make_cert signer
make_cert other

step "an unsigned program has no signature"
cp "$repair_exe" unsigned.exe
osslsigncode verify -in unsigned.exe >verify.out 2>&1 && fail "an unsigned file verified"
grep -q 'No signature found' verify.out || fail "unsigned: $(cat verify.out)"

step "a signed copy carries one SHA-256 signature whose digest matches the file"
cp "$repair_exe" signed.exe
"$sign" signed.exe signer.pem signer.key >sign.out 2>&1 || fail "signing failed: $(cat sign.out)"
osslsigncode verify -CAfile signer.pem -in signed.exe >verify.out 2>&1 ||
  fail "the signature does not verify against its certificate: $(cat verify.out)"
grep -q '^Signature verification: ok' verify.out || fail "verification: $(cat verify.out)"
grep -q '^Message digest algorithm *: SHA256' verify.out || fail "digest algorithm: $(grep -i algorithm verify.out)"
grep -q 'Subject: /CN=Repair Test Signer signer' verify.out || fail "signer missing"
grep -q 'Text description: Client Repair Tool' verify.out || fail "description missing"
grep -q 'Timestamp is not available' verify.out || fail "a timestamp was added without being asked for"
digests_match verify.out || fail "digests differ: $(grep -i 'message digest' verify.out)"

step "without trusting the certificate the chain fails, the signature itself does not"
osslsigncode verify -in signed.exe >verify.out 2>&1 && fail "a self-signed chain was trusted"
digests_match verify.out || fail "digests differ: $(grep -i 'message digest' verify.out)"

step "a changed byte breaks the signature"
cp signed.exe tampered.exe
printf '\x90' | dd of=tampered.exe bs=1 seek=$((0x1000 + 0x40)) conv=notrunc status=none
osslsigncode verify -CAfile signer.pem -in tampered.exe >verify.out 2>&1 && fail "a changed file verified"
digests_match verify.out && fail "the digests of a changed file match"

step "a key that does not belong to the certificate fails and leaves the file alone"
cp "$repair_exe" mismatch.exe
"$sign" mismatch.exe signer.pem other.key >sign.out 2>&1 && fail "signing with a foreign key succeeded"
cmp -s "$repair_exe" mismatch.exe || fail "a failed signing changed the file"
[ -z "$(find . -name '.signing.*')" ] || fail "a temporary file was left behind"

step "the signed program still loads and runs"
# Without its string file the program ends with exit code 1 before it opens a window.
"$root/scripts/wine-env.sh" timeout 120 wine signed.exe >run.out 2>&1
code=$?
[ "$code" = 1 ] || fail "the signed program ended with $code: $(cat run.out)"

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "signing: all checks passed"
