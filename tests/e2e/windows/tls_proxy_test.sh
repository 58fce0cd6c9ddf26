#!/usr/bin/env bash
# repair.exe over https and through a proxy under Wine: nginx serving TLS with a certificate of
# a CA made for the test is refused until that CA is in the Root store of the Wine prefix
# (added with add_root_cert.exe, as an administrator adds one on Windows), then trusted; the
# system's proxy settings (ProxyEnable and ProxyServer of the user's Internet Settings, which
# WinINet's preconfigured access reads) and Wine's own reading of http_proxy send the run
# through tinyproxy on loopback.
#   tls_proxy_test.sh REPAIR_EXE RECORD_ARGS_EXE NATIVE_PUBLISH ARTIFACT_DIR ADD_ROOT_CERT_EXE
# The test uses a Wine prefix of its own, so that the CA never reaches another test's store.
set -uo pipefail
source "$(dirname "$0")/gui_lib.sh"
source "$here/../tls.sh"
source "$here/../tinyproxy.sh"
add_root_cert="$(readlink -f "${5:-}")"
prefix_dir="$(mktemp -d)"
export WINEPREFIX="$prefix_dir/prefix"
gui_init "$@"
trap 'proxy_stop; timeout 120 wineserver -k >/dev/null 2>&1; gui_cleanup; rm -rf "$prefix_dir"' EXIT
[ -f "$add_root_cert" ] || { echo "no add_root_cert.exe given"; exit 1; }

settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
# Wine matches the server's name against the certificate's DNS names only, so the server is
# asked for as localhost.
make_client "$work/src"
tls_make_ca "$work" ca && tls_make_cert "$work" ca server "DNS:localhost" || exit 1
NGINX_TLS_CERT="$work/server.pem" NGINX_TLS_KEY="$work/server.key" setup_release
tls_url="https://localhost:${NGINX_URL##*:}"
write_strings "$tls_url"
proxy_start || exit 1

run_quiet() {  # NAME [VAR=VALUE...]: a quiet run with those variables, its log in NAME.log
  local name="$1"; shift
  damage_client
  : > "$NGINX_DIR/access.log"
  : > "$PROXY_LOG"
  local assignment
  for assignment in "$@"; do local -x "$assignment"; done
  start_repair "$work/$name.log" /quiet
  wait_repair_exit
}

expect_repaired() {  # NAME
  [ "$REPAIR_EXIT" = 0 ] || fail "$1: exit code $REPAIR_EXIT"
  grep -q 'MSGBOX_OnInit' "$work/$1.log" && fail "$1: a box: $(grep MSGBOX "$work/$1.log")"
  client_matches_release || fail "$1: the client differs from the release"
  # Several downloads at once: Wine's WinINet asks over some of its connections through the
  # proxy with HTTP/1.0, whichever takes the file.
  grep -qE '"GET /1.0/data/file1.txt HTTP/1.[01]" 200' "$NGINX_DIR/access.log" \
    || { cat "$NGINX_DIR/access.log"; fail "$1: the server did not serve the file"; }
}

step "https with a CA the Windows store does not hold: refused"
damage_client
start_repair "$work/untrusted.log" /quiet
box="$(find_box Error)" || fail "untrusted: no error box"
[ -n "$box" ] && answer_box "$box" Return
wait_repair_exit
box_text_shown "$work/untrusted.log" \
  "Recovery information cannot be verified.  Exit the program and try again." ||
  fail "untrusted: error box text: $(grep MSGBOX "$work/untrusted.log")"
[ "$(cat "$client/data/file1.txt")" = corrupt ] || fail "untrusted: a refused run changed a file"
grep -q 'GET /1.0' "$NGINX_DIR/access.log" && fail "untrusted: a request reached the server"

step "the CA in the Root store: the https run repairs the client (SYS_CAFILE is Linux's)"
wine "$add_root_cert" "$(winepath -w "$work/ca.pem")" || fail "the CA could not be added"
# The Windows program trusts its store alone: a CA file named for the Linux program, even one
# that is not there, changes nothing here.
printf 'SYS_REMOTEPATH=%s/$MAJORVER$.$MINORVER$\nSYS_WINDOWTITLE=%s\nSYS_CAFILE=missing.pem\n' \
  "$tls_url" "$WINDOW_TITLE" > "$work/strings.txt"
"$publish" strings "$work/strings.txt" "$client/repair.dat" >/dev/null 2>&1 ||
  fail "cannot write the string file"
run_quiet trusted
expect_repaired trusted
grep -aq "CONNECT" "$PROXY_LOG" && fail "trusted: a request went through the proxy unasked"

step "the system's proxy settings send the run through tinyproxy"
wine reg add "$settings" /v ProxyServer /t REG_SZ /d "127.0.0.1:$PROXY_PORT" /f >/dev/null 2>&1 &&
  wine reg add "$settings" /v ProxyEnable /t REG_DWORD /d 1 /f >/dev/null 2>&1 ||
  fail "cannot set the proxy settings"
run_quiet system-proxy
expect_repaired system-proxy
grep -aq "CONNECT localhost:${tls_url##*:}" "$PROXY_LOG" \
  || fail "system-proxy: the proxy's log shows no CONNECT to the server"
wine reg add "$settings" /v ProxyEnable /t REG_DWORD /d 0 /f >/dev/null 2>&1

step "Wine's WinINet takes http_proxy from the environment as well"
run_quiet env-proxy "http_proxy=$PROXY_URL"
expect_repaired env-proxy
grep -aq "CONNECT localhost:${tls_url##*:}" "$PROXY_LOG" \
  || fail "env-proxy: the proxy's log shows no CONNECT to the server"

gui_finish
