# Sourced by the tests: a private tinyproxy on a free loopback port.
#   proxy_start   sets PROXY_PORT, PROXY_URL (http://127.0.0.1:PORT) and PROXY_LOG
#   proxy_stop
# The proxy listens on 127.0.0.1 only, takes requests from loopback only, opens its own
# connections from 127.0.0.1 (so that a server can tell them from direct ones) and allows
# CONNECT to any port. It runs in the foreground of a background job with its config and log
# in a folder of its own.

proxy_start() {
  PROXY_DIR="$(mktemp -d)"
  chmod 755 "$PROXY_DIR"
  local attempt user=""
  # As root, tinyproxy would switch to a user that may not exist: name one that does.
  [ "$(id -u)" = 0 ] && user="User root
Group root"
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    PROXY_PORT="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')"
    PROXY_LOG="$PROXY_DIR/tinyproxy.log"
    cat > "$PROXY_DIR/tinyproxy.conf" <<CONF
$user
Port $PROXY_PORT
Listen 127.0.0.1
Bind 127.0.0.1
Timeout 60
LogFile "$PROXY_LOG"
LogLevel Info
PidFile "$PROXY_DIR/tinyproxy.pid"
MaxClients 32
Allow 127.0.0.1
DisableViaHeader Yes
CONF
    tinyproxy -d -c "$PROXY_DIR/tinyproxy.conf" >"$PROXY_DIR/stdout.log" 2>&1 &
    PROXY_PID=$!
    local i
    for i in $(seq 1 50); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$PROXY_PORT") 2>/dev/null; then
        PROXY_URL="http://127.0.0.1:$PROXY_PORT"
        return 0
      fi
      kill -0 "$PROXY_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$PROXY_PID" 2>/dev/null; wait "$PROXY_PID" 2>/dev/null
  done
  echo "tinyproxy did not start:"; cat "$PROXY_DIR/stdout.log" "$PROXY_LOG" 2>/dev/null
  return 1
}

proxy_stop() {
  if [ -n "${PROXY_PID:-}" ]; then
    kill "$PROXY_PID" 2>/dev/null || true
    wait "$PROXY_PID" 2>/dev/null || true
    PROXY_PID=""
  fi
  [ -n "${PROXY_DIR:-}" ] && rm -rf "$PROXY_DIR"
  PROXY_DIR=""
}
