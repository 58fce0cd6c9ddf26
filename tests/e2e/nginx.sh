# Sourced by the end-to-end scripts: a private nginx on a free loopback port.
#   nginx_start ROOT_DIR [RATE] [DIRECTIVES]
#                                 serves ROOT_DIR; sets NGINX_PORT and NGINX_URL
#                                 (RATE, e.g. 200k, limits every response's send rate;
#                                 DIRECTIVES go into the server block as they are)
#   nginx_stop
# Optional, set before nginx_start:
#   NGINX_TLS_CERT, NGINX_TLS_KEY  serve https with this certificate chain and key (PEM);
#                                  NGINX_URL then starts with https://
#   NGINX_HOST                     the loopback address to listen on (default 127.0.0.1)
#   NGINX_EXTRA                    more directives for the server block
# The server runs in the foreground of a background job, with its config, logs and temp
# folders in a folder of its own, and never touches the machine's nginx setup.

nginx_start() {
  local root="$1" rate="${2:-0}" directives="${3:-}"
  local host="${NGINX_HOST:-127.0.0.1}" scheme=http tls=""
  NGINX_DIR="$(mktemp -d)"
  if [ -n "${NGINX_TLS_CERT:-}" ]; then
    scheme=https
    tls="ssl_certificate ${NGINX_TLS_CERT}; ssl_certificate_key ${NGINX_TLS_KEY};"
  fi
  local attempt
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    NGINX_PORT="$(python3 -c 'import socket, sys; s=socket.socket(); s.bind((sys.argv[1], 0)); print(s.getsockname()[1]); s.close()' "$host")"
    cat > "$NGINX_DIR/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/error.log warn;
events { worker_connections 256; }
http {
  access_log $NGINX_DIR/access.log;
  client_body_temp_path $NGINX_DIR/body;
  proxy_temp_path $NGINX_DIR/proxy;
  fastcgi_temp_path $NGINX_DIR/fastcgi;
  uwsgi_temp_path $NGINX_DIR/uwsgi;
  scgi_temp_path $NGINX_DIR/scgi;
  types { }
  default_type application/octet-stream;
  server {
    listen $host:$NGINX_PORT${tls:+ ssl};
    $tls
    root $root;
    limit_rate $rate;
    $directives
    ${NGINX_EXTRA:-}
  }
}
CONF
    nginx -e "$NGINX_DIR/error.log" -p "$NGINX_DIR" -c "$NGINX_DIR/nginx.conf" &
    NGINX_PID=$!
    local i
    for i in $(seq 1 50); do
      if (exec 3<>"/dev/tcp/$host/$NGINX_PORT") 2>/dev/null; then
        NGINX_URL="$scheme://$host:$NGINX_PORT"
        return 0
      fi
      kill -0 "$NGINX_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$NGINX_PID" 2>/dev/null; wait "$NGINX_PID" 2>/dev/null
  done
  echo "nginx did not start:"; cat "$NGINX_DIR/error.log"
  return 1
}

nginx_stop() {
  if [ -n "${NGINX_PID:-}" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
    NGINX_PID=""
  fi
  [ -n "${NGINX_DIR:-}" ] && rm -rf "$NGINX_DIR"
  NGINX_DIR=""
}
