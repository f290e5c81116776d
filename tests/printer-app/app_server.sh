# Sourced by the application's shell tests: start_app_server APP WORK [-o OPTION...] starts
# kemb-printer-app on a free loopback port with its state, spool and log in WORK, waits until
# it answers, and stops it by its PID when the script exits. Sets `port` and `pid`.
start_app_server() {
  local app=$1 work=$2 candidate
  shift 2
  port=""
  for _ in $(seq 1 50); do  # a loopback port nothing listens on
    candidate=$((20000 + RANDOM % 20000))
    (exec 3<>/dev/tcp/127.0.0.1/$candidate) 2>/dev/null || { port=$candidate; break; }
  done
  [ -n "$port" ] || { echo "no free port"; return 1; }
  mkdir -p "$work/state"
  export SNAP_COMMON="$work/state"
  "$app" server -o server-port=$port -o server-options=no-tls -o listen-hostname=localhost \
    -o server-hostname=localhost -o spool-directory="$work/spool" -o log-file="$work/app.log" \
    "$@" > "$work/server.out" 2>&1 &
  pid=$!
  trap stop_app_server EXIT
  for _ in $(seq 1 100); do
    (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && return 0
    sleep 0.1
  done
  echo "the server did not answer on port $port"; cat "$work/server.out"
  return 1
}

stop_app_server() {
  if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid"
    for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
  fi
}
