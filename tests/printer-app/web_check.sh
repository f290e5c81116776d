#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The web interface through Debian's headless Chromium: the home page lists the printer, the
# printer's page shows its name, model and state; the Add Printer page opens (without
# avahi-daemon PAPPL's own aborted the server); a screenshot of the printer page is kept in
# BUILD_DIR/app-web/printer.png for people to look at. The server runs on loopback and is
# stopped by its PID.
#
# Usage: web_check.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
. "$(cd "$(dirname "$0")" && pwd)/app_server.sh"
app="$build/bin/kemb-printer-app"
work="$build/app-web"
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "chromium is not installed (package chromium)"; exit 1; }
rm -rf "$work"; mkdir -p "$work/state" "$work/profile"
: > "$work/device.prn"
start_app_server "$app" "$work" || exit 1
"$app" add -d office-wmz24 -m kemb_wmz24 -v "file://$work/device.prn" || exit 1

chrome() {
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-dev-shm-usage \
    --no-first-run --user-data-dir="$work/profile" "$@" 2>>"$work/chromium.log"
}
status=0
home=$(chrome --dump-dom "http://localhost:$port/")
printer=$(chrome --dump-dom "http://localhost:$port/office-wmz24")
addprinter=$(chrome --dump-dom "http://localhost:$port/addprinter")
chrome --screenshot="$work/printer.png" --window-size=1280,1000 "http://localhost:$port/office-wmz24" >/dev/null
printf '%s' "$home" > "$work/home.html"; printf '%s' "$printer" > "$work/printer.html"
check() { # WHAT PAGE TEXT
  if grep -q -- "$3" <<<"$2"; then echo "ok: $1 shows '$3'"; else echo "FAIL: $1 lacks '$3'"; status=1; fi
}
check "home page" "$home" "office-wmz24"
check "printer page" "$printer" "office-wmz24"
check "printer page" "$printer" "KEMB WMZ-24"
check "printer page" "$printer" "[Ii]dle"
check "add printer page" "$addprinter" "Add Printer"
if [ -s "$work/printer.png" ]; then echo "ok: screenshot $work/printer.png"; else echo "FAIL: no screenshot"; status=1; fi
kill -0 $pid 2>/dev/null || { echo "FAIL: the server died"; status=1; }
exit $status
