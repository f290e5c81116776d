#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian packages on this machine, from build to purge:
#   build     scripts/package from a copy of the checkout; lintian: no error, no warning that
#             debian/*.lintian-overrides does not explain
#   install   apt-get installs every package of debian/control; the files land where CUPS looks;
#             the printer application's service is enabled, and not started (with systemd
#             running, the test masks it for the install); its user exists, not root, in the
#             unit's group, and owns the spool folder; systemd-analyze rates the unit's
#             sandbox 4.0 or lower
#   print     a private cupsd whose filters are the system's own runs a two-page PDF (a text
#             page and a picture page) on a queue made from the installed PPD into a file;
#             the installed kembview decodes it to two pages with dots, as the built one does
#   app       the installed printer application, started on its unit's ExecStart command line
#             as the unit's user and group, with a loopback port, no TLS and private folders,
#             prints the same PDF through Ghostscript to a file: device and to a socket printer
#             on loopback; both decode the same way; stopped by its PID
#   purge     apt-get purges them; no file, folder or dpkg record of theirs is left, and the
#             service's folders in /var (state, spool, log) go with them
#
# Usage: package_test.sh SOURCE_DIR [BUILD_BIN_DIR]
# Installs into the running system, so it needs root; exits 77 (skipped) without it, and when
# one of the packages is installed already: that installation is not the test's to remove.
set -euo pipefail

root=$(cd "$1" && pwd)
build_bin=${2:-}
readonly skipped=77
readonly wait_seconds=120

say() { echo "package test: $*"; }
# Waits for dpkg's lock rather than failing while another installation runs.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600 "$@"; }
fail() {
  echo "package test: FAILED: $*" >&2
  exit 1
}

if [ "$(id -u)" -ne 0 ]; then
  say "skipped: installs packages into the system, so it runs only as root"
  exit $skipped
fi

# One run at a time on a machine: a second checkout's run would purge what this one prints with.
# The lock lives where system locks do, not among temporary files.
mkdir -p /run/lock
exec 9>/run/lock/kemb-package-test.lock
flock -w 600 9 || fail "another package test has held /run/lock/kemb-package-test.lock for 10 minutes"

mapfile -t packages < <(sed -n 's/^Package: *//p' "$root/debian/control")
[ ${#packages[@]} -gt 0 ] || fail "debian/control names no package"
installed() {
  dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed
}
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qvx not-installed; then
    say "skipped: $p is on this system already; purge it to run this test"
    exit $skipped
  fi
done

work=$(mktemp -d)
chmod 755 "$work"  # apt's unprivileged downloader and the scheduler's filters read in here
readonly service=kemb-printer-app.service
# Where the service keeps printers, jobs and log; purging the package removes them.
readonly service_dirs=(/var/lib/kemb-printer-app /var/spool/kemb-printer-app
  /var/log/kemb-printer-app)
cupsd_pid=""
app_pid=""
printer_pid=""
app_bin=""
we_installed=0
masked=0
filled=0  # the test has put files in the service's folders for the purge to remove
# Processes of the installed application: only this test runs that program.
app_processes() {
  [ -n "$app_bin" ] || return 0
  local exe
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" = "$app_bin" ] && basename "$(dirname "$exe")"
  done
  return 0
}
cleanup() {
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
  fi
  [ -n "$printer_pid" ] && { kill "$printer_pid" 2>/dev/null || true; }
  for pid in $app_pid $(app_processes); do
    kill "$pid" 2>/dev/null || true
  done
  [ -n "$app_pid" ] && { wait "$app_pid" 2>/dev/null || true; }
  if [ $we_installed -eq 1 ]; then
    apt_get purge "${packages[@]}" >/dev/null 2>&1 || true
  fi
  [ $masked -eq 1 ] && { systemctl unmask --runtime "$service" >/dev/null 2>&1 || true; }
  [ $filled -eq 1 ] && rm -rf "${service_dirs[@]}"
  local kept=1
  for i in "${!service_dirs[@]}"; do
    [ -e "$work/kept/$i" ] || continue
    if [ -e "${service_dirs[$i]}" ]; then
      echo "package test: ${service_dirs[$i]} exists again; the earlier one is in $work/kept/$i" >&2
      kept=0
    else
      mv -T "$work/kept/$i" "${service_dirs[$i]}"
    fi
  done
  [ $kept -eq 1 ] && rm -rf "$work"
}
trap cleanup EXIT

# The service's folders from an earlier root run of the program (a build's, say) would go with
# the purge: they are kept aside meanwhile and put back at the end.
mkdir "$work/kept"
for i in "${!service_dirs[@]}"; do
  if [ -e "${service_dirs[$i]}" ]; then
    say "keeping ${service_dirs[$i]} aside until the end"
    mv -T "${service_dirs[$i]}" "$work/kept/$i"
  fi
done

# Everything on the system whose name says kemb, outside the temporary and home folders: what
# is there after the purge must have been there before the install.
kemb_named() {
  find /etc /usr /var /opt /srv /run -xdev -iname '*kemb*' -not -path '/var/tmp/*' 2>/dev/null |
    sort
}
kemb_named >"$work/kemb-named-before"

# --- build ---------------------------------------------------------------------------------
say "building ${packages[*]}"
"$root/scripts/package" "$work/debs" >/dev/null || fail "scripts/package failed"
debs=()
for p in "${packages[@]}"; do
  deb=$(find "$work/debs" -maxdepth 1 -name "${p}_*.deb")
  [ -n "$deb" ] && [ "$(wc -l <<<"$deb")" -eq 1 ] || fail "not exactly one package file for $p"
  debs+=("$deb")
  say "$(basename "$deb"): $(stat -c %s "$deb") bytes"
done
# The package `cups` carries other makers' drivers; the driver needs only the scheduler and
# the filter chain, and must not depend on it. It may recommend it, for the backends and the
# driver listing users expect; this test installs without recommendations.
for deb in "${debs[@]}"; do
  for field in Pre-Depends Depends; do
    if dpkg-deb -f "$deb" "$field" | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g' |
      grep -qx cups; then
      fail "$(basename "$deb"): $field names the package cups"
    fi
  done
done
say "lintian"
lint=0
lintian --fail-on error,warning -I --show-overrides "$work"/debs/*.changes \
  >"$work/lintian.log" 2>&1 || lint=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ $lint -eq 0 ] || fail "lintian found errors or warnings"

# --- install -------------------------------------------------------------------------------
say "installing"
# With systemd running, the package's postinst starts the service as Debian does; a runtime
# mask keeps it from the machine's port 8000 and /var for the test, until the next boot at most.
if [ -d /run/systemd/system ]; then
  systemctl mask --runtime "$service" >/dev/null || fail "systemctl mask --runtime $service failed"
  masked=1
fi
we_installed=1
apt_get install --no-install-recommends "${debs[@]}" >"$work/apt-install.log" 2>&1 ||
  { cat "$work/apt-install.log"; fail "apt-get install failed"; }
if [ $masked -eq 1 ]; then
  systemctl unmask --runtime "$service" >/dev/null || fail "systemctl unmask --runtime failed"
  masked=0
fi
for p in "${packages[@]}"; do
  installed "$p" || fail "$p is not installed after apt-get install"
  dpkg-query -L "$p" >"$work/files-$p"
done

serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)
filters=$serverbin/filter
for program in rastertokemb texttokemb kemb_ID; do
  # The scheduler refuses filters that are not root's or that others could rewrite.
  [ "$(stat -c '%U %a' "$filters/$program")" = "root 755" ] ||
    fail "$filters/$program: $(stat -c '%U %a' "$filters/$program" 2>&1), want root 755"
done
[ "$(command -v kembview)" = /usr/bin/kembview ] || fail "kembview is not /usr/bin/kembview"
for page in man8/rastertokemb.8 man8/texttokemb.8 man1/kemb_ID.1 man1/kembview.1 man8/kemb-printer-app.8; do
  [ -f "/usr/share/man/$page.gz" ] || fail "no man page /usr/share/man/$page.gz"
done
ppds=(/usr/share/ppd/kemb/*.ppd)
want=$(sed -n 's/^[[:space:]]*PCFileName[[:space:]]*"\([^"]*\)".*/\1/p' "$root/ppd/kemb.drv" | sort)
have=$(for ppd in "${ppds[@]}"; do basename "$ppd"; done | sort)
[ "$have" = "$want" ] || fail "PPDs in /usr/share/ppd/kemb: $(echo $have), want $(echo $want)"
for ppd in "${ppds[@]}"; do
  grep -q '^\*1284DeviceID: "MFG:KEMB;MDL:' "$ppd" || fail "$ppd has no KEMB *1284DeviceID"
done
# Without a stand-in: the filter each PPD names must be the installed one.
cupstestppd -q "${ppds[@]}" || fail "cupstestppd rejects the installed PPDs and filter"

# The unit, its program, and its enabling the way deb-systemd-helper does it on any machine.
unit=$(grep -m 1 "/systemd/system/$service\$" "$work/files-kemb-printer-app") ||
  fail "kemb-printer-app ships no $service"
[ "$(grep -c '^ExecStart=' "$unit")" -eq 1 ] || fail "$unit: want one ExecStart line"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
# The command line is replayed word by word, so it must not need systemd's quoting or expansion.
[[ $exec_start != *[\$\"\'\\%\;]* && $exec_start != [-@:+!]* ]] ||
  fail "$unit: ExecStart=$exec_start uses systemd syntax this test does not replay"
read -ra app_command <<<"$exec_start"
app_bin=${app_command[0]}
grep -qx "$app_bin" "$work/files-kemb-printer-app" && [ -x "$app_bin" ] ||
  fail "$unit: ExecStart runs $app_bin, which is not the package's program"
[ "$(stat -c '%U %a' "$app_bin")" = "root 755" ] || fail "$app_bin is not root's with mode 755"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify --man=no "$unit" || fail "systemd-analyze finds faults in $unit"
fi
for target in $(sed -n 's/^WantedBy=//p' "$unit"); do
  [ "$(readlink "/etc/systemd/system/$target.wants/$service")" = "$unit" ] ||
    fail "$service is not enabled: no /etc/systemd/system/$target.wants/$service -> $unit"
done
[ -z "$(app_processes)" ] || fail "the install started $app_bin: $(app_processes)"

# The service's user, made by the install, and its sandbox.
unit_user=$(sed -n 's/^User=//p' "$unit")
unit_group=$(sed -n 's/^Group=//p' "$unit")
[ -n "$unit_user" ] && [ -n "$unit_group" ] || fail "$unit: want User= and Group="
unit_uid=$(id -u "$unit_user" 2>/dev/null) || fail "the install made no user $unit_user"
[ "$unit_uid" -ne 0 ] || fail "$unit runs as a user with UID 0"
[ "$(id -gn "$unit_user")" = "$unit_group" ] ||
  fail "$unit_user's group is $(id -gn "$unit_user"), the unit's $unit_group"
spool_dir=${service_dirs[1]}
[ "$(stat -c '%U %G %a' "$spool_dir" 2>&1)" = "$unit_user $unit_group 700" ] ||
  fail "$spool_dir: $(stat -c '%U %G %a' "$spool_dir" 2>&1), want $unit_user $unit_group 700"
# Root's sub-commands find the service's socket through the unit's SNAP_COMMON.
runtime=$(sed -n 's/^RuntimeDirectory=//p' "$unit")
[ "$(sed -n 's/^Environment=SNAP_COMMON=//p' "$unit")" = "/run/$runtime" ] ||
  fail "$unit: SNAP_COMMON is not its RuntimeDirectory /run/$runtime"
exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 |
  sed -n 's/^.*Overall exposure level for [^:]*: \([0-9.]*\) .*$/\1/p')
[ -n "$exposure" ] || fail "systemd-analyze security gives no rating for $unit"
awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' ||
  fail "systemd-analyze security rates $unit $exposure, want 4.0 or lower"
say "$service runs as $unit_user:$unit_group, exposure $exposure"

# --- print ---------------------------------------------------------------------------------
# Page 1 is black text, page 2 a grey ramp with no dark pixel, so one page takes each path:
# the filter's own thresholding, and the halftoner it finds in the filter folder.
cat >"$work/document.ps" <<'EOF'
%!PS-Adobe-3.0
%%Pages: 2
%%EndComments
<< /PageSize [595 842] >> setpagedevice
%%Page: 1 1
/Helvetica-Bold findfont 28 scalefont setfont
72 720 moveto (KEMB package test) show
/Helvetica findfont 14 scalefont setfont
72 680 moveto (Printed by the installed rastertokemb from the system filter folder.) show
showpage
%%Page: 2 2
0 1 99 { dup 3 mul 150 add 250 moveto 0 400 rlineto 3 0 rlineto 0 -400 rlineto closepath
         0.45 exch 0.005 mul add setgray fill } for
showpage
%%EOF
EOF
ps2pdf "$work/document.ps" "$work/document.pdf" || fail "ps2pdf failed"
readonly pages=2

cups=$work/cups
mkdir -p "$cups"/{spool/tmp,cache,state,log,home}
socket=$cups/cups.sock
# Job IDs of their own, so the filter's /tmp/kemb<job>_<page> files meet no other test's.
job_base=$(((100 + $$ % 900) * 1000 + 800))
echo "NextJobId $job_base" >"$cups/cache/job.cache"
# The scheduler tests' configuration; ServerBin is the system's own: the filters run are exactly
# the installed ones.
for conf in cupsd.conf cups-files.conf; do
  sed -e "s|@SOCKET@|$socket|g" -e "s|@SERVERROOT@|$cups|g" -e "s|@FOLDER@|$cups|g" \
      -e "s|@SERVERBIN@|$serverbin|g" -e "s|@DATADIR@|$datadir|g" \
      "$root/tests/scheduler/$conf.in" >"$cups/$conf" || fail "cannot write $conf"
done
cupsd=$(command -v cupsd || echo /usr/sbin/cupsd)
# An enforcing AppArmor profile on the scheduler's path keeps it to /etc/cups; a copy elsewhere
# runs unconfined, and still runs the system's filters.
if grep -qs "^$cupsd (enforce)" /sys/kernel/security/apparmor/profiles; then
  cp "$cupsd" "$cups/cupsd"
  cupsd=$cups/cupsd
fi
"$cupsd" -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" >"$cups/log/cupsd.out" 2>&1 9>&- &
cupsd_pid=$!
client() { CUPS_SERVER=$socket HOME=$cups/home "$@"; }
for _ in $(seq 300); do
  [ -S "$socket" ] && client lpstat -r 2>/dev/null | grep -q "scheduler is running" && break
  kill -0 "$cupsd_pid" 2>/dev/null || { cat "$cups/log/cupsd.out"; fail "cupsd ended at start"; }
  sleep 0.1
done
client lpstat -r 2>/dev/null | grep -q "scheduler is running" ||
  fail "cupsd does not answer on $socket"

output=$work/printer.prn
client lpadmin -p kembpkg -E -v "file://$output" -P /usr/share/ppd/kemb/kemb24.ppd ||
  fail "lpadmin with the installed PPD failed"
request=$(client lp -d kembpkg "$work/document.pdf") || fail "lp failed"
job=${request#request id is kembpkg-}
job=${job%% *}
[[ $job =~ ^[0-9]+$ ]] || fail "no job ID in \"$request\""
say "printing job $job"

log=$cups/log/error_log
state=""
for _ in $(seq $((wait_seconds * 5))); do
  state=$(grep -oE "\[Job $job\] Job (completed|stopped|aborted|canceled)" "$log" |
    tail -n 1 || true)
  [ -n "$state" ] && break
  sleep 0.2
done
job_lines() { grep -F "[Job $job]" "$log" | grep -vE '^[dD] ' || true; }
[ "$state" = "[Job $job] Job completed" ] || {
  job_lines | tail -n 40
  fail "job $job did not complete: ${state:-still running after $wait_seconds s}"
}
grep -F "[Job $job] PID" "$log" | grep -qF "($filters/rastertokemb) exited with no errors" ||
  fail "the log does not show $filters/rastertokemb ending cleanly"
kill "$cupsd_pid" && wait "$cupsd_pid" 2>/dev/null || true
cupsd_pid=""

# Page 1 on the text path, page 2 on the picture path: the filter logs each page's dark share.
mapfile -t ratios < <(grep -F "[Job $job]" "$log" | sed -n 's/.*pic number:\([0-9.]*\).*/\1/p')
[ ${#ratios[@]} -eq $pages ] || fail "want $pages dark-share lines, got: ${ratios[*]:-none}"
awk -v r="${ratios[0]}" 'BEGIN { exit !(r >= 0.3) }' ||
  fail "page 1 took the picture path (dark share ${ratios[0]})"
awk -v r="${ratios[1]}" 'BEGIN { exit !(r < 0.3) }' ||
  fail "page 2 took the text path (dark share ${ratios[1]})"

# decode WHO FILE: FILE, as written by WHO, decodes with the installed kembview to $pages
# pages, each carrying dots, and lists the same with the built kembview.
decode() {
  local who=$1 file=$2 dir
  [ -s "$file" ] || fail "$who wrote nothing to $file"
  dir=$(mktemp -d "$work/decode.XXXX")
  kembview --render "$dir/page.pbm" "$file" >/dev/null ||
    fail "kembview: the output of $who does not decode cleanly"
  local images=("$dir"/page-*.pbm)
  [ ${#images[@]} -eq $pages ] || fail "$who: want $pages pages, kembview drew ${#images[@]}"
  kembview --list "$file" >"$dir/listing"
  # Every page, up to its form feed, holds at least one bit image with columns.
  awk -v pages=$pages '
    $2 == "FF" { if (!images) blank = blank " " (feeds + 1); feeds++; images = 0 }
    $2 == "ESC" && $3 == "*" && $0 !~ /columns=0 / { images++ }
    END {
      if (feeds == pages && blank == "") exit 0
      print "form feeds: " feeds ", pages without dots:" blank
      exit 1
    }
  ' "$dir/listing" || fail "$who: the pages do not all carry dots"
  if [ -n "$build_bin" ] && [ -x "$build_bin/kembview" ]; then
    "$build_bin/kembview" --list "$file" | cmp -s - "$dir/listing" ||
      fail "$who: the installed kembview lists the output unlike $build_bin/kembview"
  fi
}
decode "the queue" "$output"
leftovers=$(find /tmp -maxdepth 1 -name "kemb${job}_*" 2>/dev/null)
[ -z "$leftovers" ] || fail "the filter left $leftovers"
say "job $job: $pages pages, $(stat -c %s "$output") bytes, decoded"

# --- printer application -------------------------------------------------------------------
# The unit's command line as its user, moved to a loopback port without TLS and to private
# folders (later options win): SNAP_COMMON holds the state and the socket the sub-commands
# find the server by.
app=$work/app
mkdir -p "$app"/{state,spool,log}
device=$app/device.prn
: >"$device"  # a file: device must exist before the printer is added
chown -R "$unit_user:$unit_group" "$app"
app_client() { SNAP_COMMON=$app/state "$app_bin" "$@"; }

# A socket printer on loopback: the first connection that carries bytes goes to a file.
received=$work/socket-printer.prn
perl -MIO::Socket::INET -e '
  my $listener = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 0, Listen => 5)
    or die "listen: $!";
  open(my $port, ">", "$ARGV[1].new") or die; print $port $listener->sockport, "\n"; close $port;
  rename("$ARGV[1].new", $ARGV[1]) or die;
  open(my $out, ">", $ARGV[0]) or die; binmode $out;
  while (my $peer = $listener->accept) {
    my ($n, $total) = (0, 0);
    while (($n = sysread($peer, my $buffer, 65536)) > 0) { print $out $buffer; $total += $n }
    close $peer;
    last if $total > 0;
  }
  close $out;' "$received" "$work/socket-printer.port" 9>&- &
printer_pid=$!
for _ in $(seq 100); do
  [ -s "$work/socket-printer.port" ] && break
  sleep 0.1
done
printer_port=$(cat "$work/socket-printer.port" 2>/dev/null) || fail "the socket printer did not start"

app_port=""
for try in 1 2 3 4 5; do
  port=$((20000 + (RANDOM * 7 + $$ + try) % 40000))
  setpriv --reuid="$unit_user" --regid="$unit_group" --init-groups \
    env HOME="$app/state" SNAP_COMMON="$app/state" \
    "${app_command[@]}" -o server-port=$port -o server-options=no-tls \
    -o listen-hostname=localhost -o server-hostname=localhost -o state-directory="$app/state" \
    -o spool-directory="$app/spool" -o log-file="$app/log/kemb-printer-app.log" \
    >"$app/server.out" 2>&1 9>&- &
  app_pid=$!
  for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    if [ -S "$app/state/kemb-printer-app.sock" ] && (: <>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
    then
      app_port=$port
      break 2
    fi
    sleep 0.1
  done
  # Taken port or slow start: stop it and try another port.
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
done
[ -n "$app_port" ] || {
  tail -n 20 "$app/server.out" "$app/log/kemb-printer-app.log" 2>&1
  fail "$app_bin server did not start"
}
[ "$(stat -c %U "/proc/$app_pid")" = "$unit_user" ] || fail "the server does not run as $unit_user"
say "$app_bin server on port $app_port, PID $app_pid, as $unit_user"

# print_app PRINTER DEVICE-URI: adds the printer and prints the PDF on it to the job's end.
print_app() {
  local printer=$1 uri=$2 submitted app_job app_state=""
  app_client add -d "$printer" -m kemb_wmz24 -v "$uri" >"$app/add.out" 2>&1 ||
    { cat "$app/add.out"; fail "$app_bin add -v $uri failed"; }
  submitted=$(app_client submit -d "$printer" "$work/document.pdf" 2>&1) ||
    fail "$app_bin submit to $uri failed: $submitted"
  app_job=${submitted##*-}
  [[ $app_job =~ ^[0-9]+$ ]] || fail "no job ID in \"$submitted\""
  for _ in $(seq $((wait_seconds * 5))); do
    kill -0 "$app_pid" 2>/dev/null || fail "$app_bin server ended during job $app_job"
    app_state=$(app_client jobs -d "$printer" 2>/dev/null |
      awk -v id="$app_job" '$1 == id { print $2 }')
    [[ $app_state =~ ^(completed|aborted|canceled)$ ]] && break
    sleep 0.2
  done
  [ "$app_state" = completed ] || {
    tail -n 40 "$app/log/kemb-printer-app.log"
    fail "app job $app_job to $uri did not complete: ${app_state:-still running after $wait_seconds s}"
  }
  say "application job $app_job to $uri completed"
}
print_app kembpkg "file://$device"
print_app kembsock "socket://127.0.0.1:$printer_port"
for _ in $(seq $((wait_seconds * 10))); do
  kill -0 "$printer_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$printer_pid" 2>/dev/null && fail "the socket printer is still waiting for the job's end"
wait "$printer_pid" || fail "the socket printer failed"
printer_pid=""
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""
[ -z "$(app_processes)" ] || fail "a client sub-command left a server running: $(app_processes)"
left=$(find "$app/spool" -mindepth 1)
[ -z "$left" ] || fail "the application left in its spool: $left"
decode "the printer application" "$device"
decode "the printer application's socket printer" "$received"
cmp -s "$device" "$received" || fail "the file and the socket printer received different bytes"
say "application: $pages pages, $(stat -c %s "$device") bytes to each printer, decoded"

# What a run of the service leaves in /var, for the purge to remove: the state it saved, the
# spool folder and the log.
filled=1
for i in "${!service_dirs[@]}"; do
  mkdir -p -m 700 "${service_dirs[$i]}"
done
cp "$app/state/kemb-printer-app.state" "${service_dirs[0]}/"
cp "$app/log/kemb-printer-app.log" "${service_dirs[2]}/"

# --- purge ---------------------------------------------------------------------------------
say "purging"
apt_get purge "${packages[@]}" >"$work/apt-purge.log" 2>&1 ||
  { cat "$work/apt-purge.log"; fail "apt-get purge failed"; }
we_installed=0
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ -z "$status" ] || [ "$status" = not-installed ] || fail "$p is still known to dpkg: $status"
  compgen -G "/var/lib/dpkg/info/$p.*" >/dev/null && fail "dpkg still holds files of $p"
  # A folder may stay only while another package still owns it (a merged /usr makes /lib a
  # link to one).
  while read -r path; do
    [ "$path" = /. ] && continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    [ -d "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1 && continue
    fail "$path of $p is left after the purge"
  done <"$work/files-$p"
done
for dir in "${service_dirs[@]}"; do
  [ ! -e "$dir" ] || fail "$dir is left after the purge"
done
filled=0
kemb_named >"$work/kemb-named-after"
left=$(comm -13 "$work/kemb-named-before" "$work/kemb-named-after")
[ -z "$left" ] || fail "left after the purge: $left"
say "passed"
