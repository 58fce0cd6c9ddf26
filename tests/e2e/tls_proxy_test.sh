#!/usr/bin/env bash
# The Linux program, /quiet with plain output, over https and through a proxy: nginx serving
# TLS with certificates of a CA made for the test (trusted through SYS_CAFILE, refused
# without it), tinyproxy on loopback as named by https_proxy, HTTPS_PROXY and http_proxy
# (HTTP_PROXY never read, no_proxy honoured), and, in a network namespace of the test's own
# whose only interface is loopback, tinyproxy as the only way to a server on a non-loopback
# address (192.0.2.1, which exists only inside that namespace).
#   tls_proxy_test.sh REPAIR REPAIR_PUBLISH
# The namespace part needs root (unshare -n); without it, it is skipped with a message.
set -uo pipefail
if [ "${1:-}" = --in-namespace ]; then in_namespace=1; shift; else in_namespace=0; fi
repair="$(readlink -f "$1")"; publish="$(readlink -f "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/nginx.sh"
source "$here/tinyproxy.sh"
source "$here/tls.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "--- $*"; }
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# A client of a few files, published as build 1.0 into rel/.
make_release() {
  mkdir -p src/data/sub
  local i
  for i in 1 2 3 4 5; do printf 'file %s\n' "$i" > "src/data/f$i.txt"; done
  head -c 200000 /dev/urandom > src/data/sub/big.bin
  "$publish" publish src 1 0 rel >publish.log 2>&1 || { cat publish.log; return 1; }
}

# The client folder, damaged, with the tool, the test CA at certs/ca.pem and a string file
# whose remote path is $1 and whose other lines are the rest of the arguments.
install_client() {  # REMOTE_URL [KEY=VALUE...]
  local remote="$1"; shift
  rm -rf client && cp -r src client && cp rel/client-files/buildver.tvf client/
  cp "$repair" client/repair
  mkdir -p client/certs && cp "$work/ca.pem" client/certs/ca.pem
  printf 'corrupt' > client/data/f1.txt
  rm client/data/sub/big.bin
  { printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\n' "$remote"; printf '%s\n' "$@"; } > strings.txt
  "$publish" strings strings.txt client/repair.dat >strings.log 2>&1 || cat strings.log
}

repaired() { cmp -s src/data/f1.txt client/data/f1.txt && cmp -s src/data/sub/big.bin client/data/sub/big.bin; }

# run NAME [VAR=VALUE...]: the tool with those variables; output in NAME.log.
run() {
  local name="$1"; shift
  ( cd client && env "$@" timeout 120 ./repair /quiet ) > "$name.log" 2>&1 < /dev/null
}

# The run ended without a box, and repaired the client.
expect_repaired() {  # NAME
  grep -E '^Error: ' "$1.log" && fail "$1: an error box: $(grep -E '^Error: ' "$1.log")"
  repaired || fail "$1: the client was not repaired: $(tail -3 "$1.log")"
}

# The run ended with this error box, and the client is still damaged.
expect_error() {  # NAME TEXT
  grep -q "^Error: $2" "$1.log" || fail "$1: no error box \"$2\": $(tail -3 "$1.log")"
  repaired && fail "$1: the client was repaired"
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'; }

cleanup() {
  proxy_stop; nginx_stop
  NGINX_PID="${PLAIN_PID:-}"; NGINX_DIR="${PLAIN_DIR:-}"; PLAIN_PID=""; PLAIN_DIR=""
  nginx_stop
}

no_hash_file="Recovery information cannot be verified"
no_network="There is no network connection"

# ---- inside the namespace: only lo, 192.0.2.1 on it, tinyproxy the only way to the server ----
namespace_part() {
  ip link set lo up && ip addr add 192.0.2.1/32 dev lo || { echo "cannot set up loopback"; exit 1; }
  [ -n "$(ip -o link show up | grep -v ' lo:')" ] && { echo "an interface besides lo is up"; exit 1; }
  tls_make_cert "$work" ca ns-server "IP:192.0.2.1" || exit 1
  # Only the proxy's connections (from 127.0.0.1) are served: a direct request gets a 403.
  NGINX_HOST=192.0.2.1 NGINX_EXTRA="allow 127.0.0.1; deny all;" nginx_start "$work/rel/remote" \
    || exit 1
  PLAIN_PID="$NGINX_PID"; PLAIN_DIR="$NGINX_DIR"; local plain_url="$NGINX_URL" plain_log="$NGINX_DIR/access.log"
  NGINX_HOST=192.0.2.1 NGINX_EXTRA="allow 127.0.0.1; deny all;" NGINX_TLS_CERT="$work/ns-server.pem" \
    NGINX_TLS_KEY="$work/ns-server.key" nginx_start "$work/rel/remote" || exit 1
  proxy_start || exit 1

  step "namespace: without a proxy the network check finds no network"
  install_client "$plain_url"
  run ns-none
  expect_error ns-none "$no_network"

  step "namespace: http_proxy on loopback is the way out"
  install_client "$plain_url"
  run ns-http "http_proxy=$PROXY_URL"
  expect_repaired ns-http
  grep -aq "GET http://192.0.2.1:[0-9]*/1.0/filehash.tsf" "$PROXY_LOG" \
    || fail "ns-http: the proxy's log shows no manifest request"
  grep -q '"GET /1.0/data/sub/big.bin HTTP/1.1" 200' "$plain_log" \
    || fail "ns-http: the server did not serve the file (to the proxy)"

  step "namespace: https through https_proxy on loopback"
  install_client "$NGINX_URL" SYS_CAFILE=certs/ca.pem
  : > "$PROXY_LOG"
  run ns-https "https_proxy=$PROXY_URL"
  expect_repaired ns-https
  grep -aq "CONNECT 192.0.2.1:" "$PROXY_LOG" || fail "ns-https: the proxy's log shows no CONNECT"
  cleanup
}

if [ "$in_namespace" = 1 ]; then
  work="$WORK_DIR"
  cd "$work" || exit 1
  trap cleanup EXIT
  namespace_part
  exit $((failures != 0))
fi

work="$(mktemp -d)"
chmod 755 "$work"
trap 'cleanup; rm -rf "$work"' EXIT
cd "$work" || exit 1
export XDG_RUNTIME_DIR="$work/run"; mkdir -m 700 "$XDG_RUNTIME_DIR"   # a lock of our own
tls_make_ca "$work" ca && tls_make_ca "$work" other || exit 1
tls_make_cert "$work" ca server "IP:127.0.0.1,DNS:localhost" || exit 1
make_release || exit 1

NGINX_TLS_CERT="$work/server.pem" NGINX_TLS_KEY="$work/server.key" nginx_start "$work/rel/remote" || exit 1
tls_url="$NGINX_URL"; tls_log="$NGINX_DIR/access.log"
PLAIN_PID="$NGINX_PID"; PLAIN_DIR="$NGINX_DIR"
nginx_start "$work/rel/remote" || exit 1
plain_url="$NGINX_URL"
# swap: NGINX_* is the plain server from here on, PLAIN_* the TLS one (cleanup stops both)
proxy_start || exit 1
dead_proxy="http://127.0.0.1:$(free_port)"

step "https with the operator's CA (SYS_CAFILE, relative to the program's folder)"
install_client "$tls_url" SYS_CAFILE=certs/ca.pem
run https-ca
expect_repaired https-ca
grep -q '"GET /1.0/data/sub/big.bin HTTP/1.1" 200' "$tls_log" || fail "https-ca: the file was not fetched over TLS"

step "https with the operator's CA named by an absolute path"
install_client "$tls_url" "SYS_CAFILE=$work/ca.pem"
run https-absolute
expect_repaired https-absolute

step "https without SYS_CAFILE: the system's store does not know the test CA"
install_client "$tls_url"
run https-system
expect_error https-system "$no_hash_file"

step "https with another CA, and with a CA file that does not exist"
install_client "$tls_url" "SYS_CAFILE=$work/other.pem"
run https-other
expect_error https-other "$no_hash_file"
install_client "$tls_url" SYS_CAFILE=certs/missing.pem
run https-missing
expect_error https-missing "$no_hash_file"

step "repair-publish check over https: passes with --ca-file, refuses without it"
"$publish" check --ca-file "$work/ca.pem" "$tls_url/\$MAJORVER\$.\$MINORVER\$" 1 0 \
  > check-ca.log 2>&1 || fail "check --ca-file: $(tail -3 check-ca.log)"
"$publish" check "$tls_url/\$MAJORVER\$.\$MINORVER\$" 1 0 > check-system.log 2>&1 \
  && fail "check without the test CA passed"
"$publish" check --ca-file "$work/other.pem" "$tls_url/\$MAJORVER\$.\$MINORVER\$" 1 0 \
  > check-other.log 2>&1 && fail "check with another CA passed"

step "https through tinyproxy, named by https_proxy and by HTTPS_PROXY"
for variable in https_proxy HTTPS_PROXY; do
  install_client "$tls_url" SYS_CAFILE=certs/ca.pem
  : > "$PROXY_LOG"
  run "https-$variable" "$variable=$PROXY_URL"
  expect_repaired "https-$variable"
  grep -aq "CONNECT 127.0.0.1:${tls_url##*:}" "$PROXY_LOG" \
    || fail "https-$variable: the proxy's log shows no CONNECT to the server"
done

step "http through tinyproxy, named by http_proxy"
install_client "$plain_url"
: > "$PROXY_LOG"
run http-proxy "http_proxy=$PROXY_URL"
expect_repaired http-proxy
grep -aq "GET $plain_url/1.0/data/sub/big.bin" "$PROXY_LOG" \
  || fail "http-proxy: the proxy's log shows no request for the file"

step "HTTP_PROXY is never read; no_proxy is honoured"
install_client "$plain_url"
run http-upper "HTTP_PROXY=$dead_proxy"
expect_repaired http-upper
install_client "$plain_url"
run http-no-proxy "http_proxy=$dead_proxy" "no_proxy=localhost,127.0.0.1"
expect_repaired http-no-proxy
install_client "$plain_url"
run http-dead "http_proxy=$dead_proxy"
expect_error http-dead "$no_hash_file"   # the proxy named is the one used
cleanup

step "a machine whose only way out is a proxy on loopback"
if [ "$(id -u)" != 0 ] || ! unshare -n true 2>/dev/null; then
  echo "SKIPPED: the namespace part needs root (unshare -n) to make a network namespace"
else
  WORK_DIR="$work" unshare -n "$here/tls_proxy_test.sh" --in-namespace "$repair" "$publish" \
    || failures=$((failures + 1))
fi

if [ "$failures" != 0 ]; then echo "$failures failures"; exit 1; fi
echo "tls and proxy end to end: all checks passed"
