#!/usr/bin/env bash
# Signs repair.exe with the operator's code-signing certificate (Authenticode, SHA-256):
#   scripts/sign-windows.sh [--timestamp URL] [--pass-file FILE] EXE CERT KEY
# CERT is the certificate, with its chain if any, in PEM or DER; KEY its private key. The file
# is signed in place (through a temporary copy, so a failed signing leaves it as it was).
# --timestamp has a Time-Stamp Authority (RFC 3161) countersign, so that the signature stays
# valid after the certificate expires; it needs the network and is off unless asked for.
# --pass-file reads the key's passphrase from FILE ("-" for standard input).
set -euo pipefail

usage() { sed -n '2,9p' "$0" >&2; exit 2; }

timestamp=""
pass_file=""
while [ $# -gt 0 ]; do
  case "$1" in
    --timestamp) [ $# -ge 2 ] || usage; timestamp="$2"; shift 2 ;;
    --pass-file) [ $# -ge 2 ] || usage; pass_file="$2"; shift 2 ;;
    -h|--help) usage ;;
    --) shift; break ;;
    -*) echo "sign-windows: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# = 3 ] || usage
exe="$1" cert="$2" key="$3"
for f in "$exe" "$cert" "$key"; do
  [ -f "$f" ] || { echo "sign-windows: $f: no such file" >&2; exit 1; }
done
command -v osslsigncode >/dev/null || { echo "sign-windows: osslsigncode is not installed" >&2; exit 1; }

args=(sign -certs "$cert" -key "$key" -h sha256 -n "Client Repair Tool")
[ -n "$pass_file" ] && args+=(-readpass "$pass_file")
[ -n "$timestamp" ] && args+=(-ts "$timestamp")

signed="$(mktemp "$(dirname "$exe")/.signing.XXXXXX")"
trap 'rm -f "$signed"' EXIT
rm -f "$signed"   # osslsigncode refuses to overwrite
osslsigncode "${args[@]}" -in "$exe" -out "$signed" >/dev/null
chmod --reference="$exe" "$signed"
mv -f "$signed" "$exe"
echo "signed $exe"
