#!/usr/bin/env bash
# The web interface through Debian's headless Chromium: the home page lists the printer, the
# printer's page shows its name, model and state; a screenshot of the printer page is kept in
# BUILD_DIR/app-web/printer.png for people to look at. The server runs on loopback and is
# stopped by its PID.
#
# Usage: web_check.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
app="$build/bin/kemb-printer-app"
work="$build/app-web"
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "chromium is not installed (package chromium)"; exit 1; }
rm -rf "$work"; mkdir -p "$work/state" "$work/profile"
export SNAP_COMMON="$work/state"
port=""
for _ in $(seq 1 50); do  # a loopback port nothing listens on
  candidate=$((20000 + RANDOM % 20000))
  (exec 3<>/dev/tcp/127.0.0.1/$candidate) 2>/dev/null || { port=$candidate; break; }
done
[ -n "$port" ] || { echo "no free port"; exit 1; }
: > "$work/device.prn"
"$app" server -o server-port=$port -o server-options=no-tls -o listen-hostname=localhost \
  -o server-hostname=localhost -o spool-directory="$work/spool" -o log-file="$work/app.log" \
  > "$work/server.out" 2>&1 &
pid=$!
stop() {
  if kill -0 $pid 2>/dev/null; then
    kill -TERM $pid
    for _ in $(seq 1 150); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    kill -0 $pid 2>/dev/null && kill -KILL $pid
  fi
}
trap stop EXIT
for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done
"$app" add -d office-wmz24 -m kemb_wmz24 -v "file://$work/device.prn" || exit 1

chrome() {
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-dev-shm-usage \
    --no-first-run --user-data-dir="$work/profile" "$@" 2>>"$work/chromium.log"
}
status=0
home=$(chrome --dump-dom "http://localhost:$port/")
printer=$(chrome --dump-dom "http://localhost:$port/office-wmz24")
chrome --screenshot="$work/printer.png" --window-size=1280,1000 "http://localhost:$port/office-wmz24" >/dev/null
printf '%s' "$home" > "$work/home.html"; printf '%s' "$printer" > "$work/printer.html"
check() { # WHAT PAGE TEXT
  if grep -q -- "$3" <<<"$2"; then echo "ok: $1 shows '$3'"; else echo "FAIL: $1 lacks '$3'"; status=1; fi
}
check "home page" "$home" "office-wmz24"
check "printer page" "$printer" "office-wmz24"
check "printer page" "$printer" "KEMB WMZ-24"
check "printer page" "$printer" "[Ii]dle"
if [ -s "$work/printer.png" ]; then echo "ok: screenshot $work/printer.png"; else echo "FAIL: no screenshot"; status=1; fi
kill -0 $pid 2>/dev/null || { echo "FAIL: the server died"; status=1; }
exit $status
