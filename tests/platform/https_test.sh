#!/usr/bin/env bash
# Runs the https suite against a private nginx serving TLS with certificates of a CA made for
# the test (see https_test.cpp for what it is told through the environment).
#   https_test.sh PROGRAM [ARGS...]     natively
#   https_test.sh --wine PROGRAM        the Windows build under Wine (run by scripts/wine-env.sh);
#                                       the test CA is added to the Root store of a Wine prefix of
#                                       the test's own first, with the tool that PROGRAM's folder
#                                       holds (add_root_cert.exe)
set -uo pipefail
wine_mode=0
if [ "${1:-}" = --wine ]; then wine_mode=1; shift; fi
program="$(readlink -f "$1")"; shift
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../e2e/nginx.sh"
source "$here/../e2e/tls.sh"
work="$(mktemp -d)"
trap 'nginx_stop; NGINX_PID="${WRONG_PID:-}"; NGINX_DIR="${WRONG_DIR:-}"; nginx_stop; rm -rf "$work"' EXIT
cd "$work" || exit 1

tls_make_ca "$work" ca && tls_make_ca "$work" other || exit 1
tls_make_cert "$work" ca server "IP:127.0.0.1,DNS:localhost" || exit 1
tls_make_cert "$work" ca wrong "DNS:wrong.invalid" || exit 1
mkdir -p www cadir
size=300001
yes 'tls test body 0123456789' | head -c "$size" > www/probe.bin

NGINX_TLS_CERT="$work/wrong.pem" NGINX_TLS_KEY="$work/wrong.key" nginx_start "$work/www" || exit 1
wrong_url="$NGINX_URL/probe.bin"; WRONG_PID="$NGINX_PID"; WRONG_DIR="$NGINX_DIR"
NGINX_TLS_CERT="$work/server.pem" NGINX_TLS_KEY="$work/server.key" nginx_start "$work/www" || exit 1

export REPAIR_TEST_HTTPS_URL="$NGINX_URL/probe.bin" REPAIR_TEST_HTTPS_WRONG_NAME="$wrong_url"
export REPAIR_TEST_HTTPS_SIZE="$size" REPAIR_TEST_CA_FILE="$work/ca.pem"
export REPAIR_TEST_OTHER_CA_FILE="$work/other.pem" REPAIR_TEST_CA_DIR="$work/cadir"
export REPAIR_TEST_SYSTEM_TRUSTS_CA=0
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

if [ "$wine_mode" = 0 ]; then
  "$program" "$@"
  exit $?
fi

# Under Wine: first without the CA (every request refused), then with it in the Root store.
# Wine's WinINet matches the server's name against the certificate's DNS names only (an IP
# address entry is never matched: error 12038), so the server is asked for as localhost.
export REPAIR_TEST_HTTPS_URL="https://localhost:${NGINX_URL##*:}/probe.bin"
export WINEPREFIX="$work/wineprefix"
wine "$program" "$@" || { echo "FAIL: the Windows suite without the test CA"; exit 1; }
wine "$(dirname "$program")/add_root_cert.exe" "$(winepath -w "$work/ca.pem")" \
  || { echo "FAIL: the test CA could not be added to Wine's Root store"; exit 1; }
export REPAIR_TEST_SYSTEM_TRUSTS_CA=1
wine "$program" "$@"
