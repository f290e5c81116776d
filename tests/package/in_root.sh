#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The package test's steps inside a throwaway Debian root (package_test.sh runs each one in it,
# through scripts/debian-root): /test holds the packages (debs/), the scheduler's configuration
# templates and what the steps leave for the host to check (out/).
#   install   apt-get installs the packages, with the scheduler and its clients to print with;
#             the files land where CUPS looks; the service is enabled, not started; its user
#             exists, not root, in the unit's group, and owns the spool folder; where
#             systemd-analyze runs, it rates the unit's sandbox 4.0 or lower
#   print     a private cupsd runs a two-page PDF (a text page and a picture page) on a queue
#             made from the installed PPD into a file; the installed application, started on
#             its unit's ExecStart command line as the unit's user, prints the same PDF through
#             its `submit` to a file: device and to a socket printer on loopback; the installed
#             kembview decodes all three to two pages with dots
#   purge     apt-get purges the packages; no file, folder or dpkg record of theirs is left, nor
#             the service's folders in /var, nor anything named kemb
# Usage: in_root.sh install|print|purge PACKAGE...
set -euo pipefail
readonly step=$1
shift
readonly packages=("$@")
readonly test_dir=/test out=/test/out
readonly wait_seconds=120
readonly service=kemb-printer-app.service
readonly service_dirs=(/var/lib/kemb-printer-app /var/spool/kemb-printer-app
  /var/log/kemb-printer-app)
readonly pages=2

say() { echo "package test ($(. /etc/os-release && echo "$VERSION_CODENAME")): $*"; }
fail() {
  echo "package test: FAILED: $*" >&2
  exit 1
}
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@"; }
mkdir -p "$out"
kemb_named() {
  find / -xdev \( -path /test -o -path /tmp -o -path /proc \) -prune -o -iname '*kemb*' -print |
    sort
}
unit_file() { grep -m 1 "/systemd/system/$service\$" "$out/files-kemb-printer-app"; }
# Whether a process runs PROGRAM (no procps in a minimal root).
running() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" = "$1" ] && return 0
  done
  return 1
}

install_step() {
  kemb_named >"$out/kemb-named-before"
  apt_get update
  local debs=()
  for p in "${packages[@]}"; do
    debs+=("$(find "$test_dir/debs" -maxdepth 1 -name "${p}_*.deb")")
  done
  # Never the package cups: the scheduler and the clients the test prints with, by name.
  apt_get install --no-install-recommends "${debs[@]}" cups-daemon cups-client \
    >"$out/apt-install.log" 2>&1 || { cat "$out/apt-install.log"; fail "apt-get install failed"; }
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${db:Status-Status}' "$p" | grep -qx installed ||
      fail "$p is not installed after apt-get install"
    dpkg-query -L "$p" >"$out/files-$p"
    say "$p $(dpkg-query -W -f='${Version}' "$p") installed"
  done
  # The libraries' names differ between releases (libcups2t64 on Debian 13): some are unknown.
  dpkg-query -W -f='${db:Status-Status} ${Package} ${Version}\n' libcups2 libcups2t64 libpappl1 \
    libpappl1t64 cups-daemon cups-filters ghostscript 2>/dev/null |
    sed -n 's/^installed /  with /p' || true

  local filters=/usr/lib/cups/filter
  for program in rastertokemb texttokemb kemb_ID; do
    # The scheduler refuses filters that are not root's or that others could rewrite.
    [ "$(stat -c '%U %a' "$filters/$program")" = "root 755" ] ||
      fail "$filters/$program: $(stat -c '%U %a' "$filters/$program" 2>&1), want root 755"
  done
  [ "$(command -v kembview)" = /usr/bin/kembview ] || fail "kembview is not /usr/bin/kembview"
  for page in man8/rastertokemb.8 man8/texttokemb.8 man1/kemb_ID.1 man1/kembview.1 \
    man8/kemb-printer-app.8; do
    [ -f "/usr/share/man/$page.gz" ] || fail "no man page /usr/share/man/$page.gz"
  done
  local ppds=(/usr/share/ppd/kemb/*.ppd) want have
  want=$(sed -n 's/^[[:space:]]*PCFileName[[:space:]]*"\([^"]*\)".*/\1/p' "$test_dir/kemb.drv" |
    sort)
  have=$(for ppd in "${ppds[@]}"; do basename "$ppd"; done | sort)
  [ "$have" = "$want" ] || fail "PPDs in /usr/share/ppd/kemb: $(echo $have), want $(echo $want)"
  for ppd in "${ppds[@]}"; do
    grep -q '^\*1284DeviceID: "MFG:KEMB;MDL:' "$ppd" || fail "$ppd has no KEMB *1284DeviceID"
  done
  # Without a stand-in: the filter each PPD names must be the installed one.
  cupstestppd -q "${ppds[@]}" || fail "cupstestppd rejects the installed PPDs and filter"

  # The unit, its program, and its enabling as deb-systemd-helper does it.
  local unit exec_start app_bin
  unit=$(unit_file) || fail "kemb-printer-app ships no $service"
  # Debian 13 wants units below /usr; Debian 12's debhelper enables only those in /lib.
  local want_units=/usr/lib/systemd/system
  [ "$(. /etc/os-release && echo "$VERSION_ID")" -ge 13 ] || want_units=/lib/systemd/system
  [ "$(dirname "$unit")" = "$want_units" ] || fail "$unit is not in $want_units"
  [ "$(grep -c '^ExecStart=' "$unit")" -eq 1 ] || fail "$unit: want one ExecStart line"
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  # The command line is replayed word by word, so it must not need systemd's quoting.
  [[ $exec_start != *[\$\"\'\\%\;]* && $exec_start != [-@:+!]* ]] ||
    fail "$unit: ExecStart=$exec_start uses systemd syntax this test does not replay"
  app_bin=${exec_start%% *}
  grep -qx "$app_bin" "$out/files-kemb-printer-app" && [ -x "$app_bin" ] ||
    fail "$unit: ExecStart runs $app_bin, which is not the package's program"
  [ "$(stat -c '%U %a' "$app_bin")" = "root 755" ] || fail "$app_bin is not root's with mode 755"
  for target in $(sed -n 's/^WantedBy=//p' "$unit"); do
    [ "$(readlink "/etc/systemd/system/$target.wants/$service")" = "$unit" ] ||
      fail "$service is not enabled: no /etc/systemd/system/$target.wants/$service -> $unit"
  done
  running "$app_bin" && fail "the install started $app_bin"

  local unit_user unit_group unit_uid spool_dir
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
  local runtime
  runtime=$(sed -n 's/^RuntimeDirectory=//p' "$unit")
  [ "$(sed -n 's/^Environment=SNAP_COMMON=//p' "$unit")" = "/run/$runtime" ] ||
    fail "$unit: SNAP_COMMON is not its RuntimeDirectory /run/$runtime"
  if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no "$unit" || fail "systemd-analyze finds faults in $unit"
    local exposure
    exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 |
      sed -n 's/^.*Overall exposure level for [^:]*: \([0-9.]*\) .*$/\1/p')
    [ -n "$exposure" ] || fail "systemd-analyze security gives no rating for $unit"
    awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' ||
      fail "systemd-analyze security rates $unit $exposure, want 4.0 or lower"
    say "$service runs as $unit_user:$unit_group, exposure $exposure"
  else
    say "$service runs as $unit_user:$unit_group (no systemd-analyze in this root)"
  fi
}

# decode WHO FILE: FILE decodes with the installed kembview to $pages pages, each with dots;
# its listing is kept for the host to compare with the built kembview's.
decode() {
  local who=$1 file=$2 dir
  [ -s "$file" ] || fail "$who wrote nothing to $file"
  dir=$(mktemp -d "/tmp/decode.XXXX")
  kembview --render "$dir/page.pbm" "$file" >/dev/null ||
    fail "kembview: the output of $who does not decode cleanly"
  local images=("$dir"/page-*.pbm)
  [ ${#images[@]} -eq $pages ] || fail "$who: want $pages pages, kembview drew ${#images[@]}"
  kembview --list "$file" >"$file.listing"
  # Every page, up to its form feed, holds at least one bit image with columns.
  awk -v pages=$pages '
    $2 == "FF" { if (!images) blank = blank " " (feeds + 1); feeds++; images = 0 }
    $2 == "ESC" && $3 == "*" && $0 !~ /columns=0 / { images++ }
    END {
      if (feeds == pages && blank == "") exit 0
      print "form feeds: " feeds ", pages without dots:" blank
      exit 1
    }
  ' "$file.listing" || fail "$who: the pages do not all carry dots"
  rm -rf "$dir"
}

print_step() {
  # Page 1 is black text, page 2 a grey ramp with no dark pixel, so one page takes each path:
  # the filter's own thresholding, and the halftoner it finds in the filter folder.
  local work=/tmp/package-test
  mkdir -p "$work"
  chmod 755 "$work"
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
  chmod 644 "$work/document.pdf"

  # The scheduler tests' configuration, with the system's filters.
  local cups=$work/cups
  mkdir -p "$cups"/{spool/tmp,cache,state,log,home}
  local socket=$cups/cups.sock conf
  for conf in cupsd.conf cups-files.conf; do
    sed -e "s|@SOCKET@|$socket|g" -e "s|@SERVERROOT@|$cups|g" -e "s|@FOLDER@|$cups|g" \
        -e "s|@SERVERBIN@|/usr/lib/cups|g" -e "s|@DATADIR@|/usr/share/cups|g" \
        "$test_dir/$conf.in" >"$cups/$conf" || fail "cannot write $conf"
  done
  /usr/sbin/cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" >"$cups/log/cupsd.out" 2>&1 &
  local cupsd_pid=$!
  client() { CUPS_SERVER=$socket HOME=$cups/home "$@"; }
  for _ in $(seq 300); do
    [ -S "$socket" ] && client lpstat -r 2>/dev/null | grep -q "scheduler is running" && break
    kill -0 "$cupsd_pid" 2>/dev/null || { cat "$cups/log/cupsd.out"; fail "cupsd ended at start"; }
    sleep 0.1
  done
  client lpstat -r 2>/dev/null | grep -q "scheduler is running" ||
    fail "cupsd does not answer on $socket"

  local output=$out/queue.prn request job
  client lpadmin -p kembpkg -E -v "file://$work/queue.prn" -P /usr/share/ppd/kemb/kemb24.ppd ||
    fail "lpadmin with the installed PPD failed"
  request=$(client lp -d kembpkg "$work/document.pdf") || fail "lp failed"
  job=${request#request id is kembpkg-}
  job=${job%% *}
  [[ $job =~ ^[0-9]+$ ]] || fail "no job ID in \"$request\""
  local log=$cups/log/error_log state=""
  for _ in $(seq $((wait_seconds * 5))); do
    state=$(grep -oE "\[Job $job\] Job (completed|stopped|aborted|canceled)" "$log" |
      tail -n 1 || true)
    [ -n "$state" ] && break
    sleep 0.2
  done
  [ "$state" = "[Job $job] Job completed" ] || {
    grep -F "[Job $job]" "$log" | grep -vE '^[dD] ' | tail -n 40
    fail "job $job did not complete: ${state:-still running after $wait_seconds s}"
  }
  grep -F "[Job $job] PID" "$log" |
    grep -qF "(/usr/lib/cups/filter/rastertokemb) exited with no errors" ||
    fail "the log does not show /usr/lib/cups/filter/rastertokemb ending cleanly"
  kill "$cupsd_pid"
  wait "$cupsd_pid" 2>/dev/null || true
  # Page 1 on the text path, page 2 on the picture path: the filter logs each page's dark share.
  local ratios
  mapfile -t ratios < <(grep -F "[Job $job]" "$log" | sed -n 's/.*pic number:\([0-9.]*\).*/\1/p')
  [ ${#ratios[@]} -eq $pages ] || fail "want $pages dark-share lines, got: ${ratios[*]:-none}"
  awk -v r="${ratios[0]}" 'BEGIN { exit !(r >= 0.3) }' ||
    fail "page 1 took the picture path (dark share ${ratios[0]})"
  awk -v r="${ratios[1]}" 'BEGIN { exit !(r < 0.3) }' ||
    fail "page 2 took the text path (dark share ${ratios[1]})"
  cp "$work/queue.prn" "$output"
  decode "the queue" "$output"
  [ -z "$(find /tmp -maxdepth 1 -name "kemb${job}_*")" ] || fail "the filter left its files in /tmp"
  say "queue: $pages pages, $(stat -c %s "$output") bytes, decoded"

  # The unit's command line as its user, on a loopback port without TLS and with private
  # folders (later options win); SNAP_COMMON holds the socket the sub-commands find it by.
  local unit exec_start app_command unit_user unit_group
  unit=$(unit_file)
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  read -ra app_command <<<"$exec_start"
  unit_user=$(sed -n 's/^User=//p' "$unit")
  unit_group=$(sed -n 's/^Group=//p' "$unit")
  local app=$work/app
  mkdir -p "$app"/{state,spool,log}
  : >"$app/device.prn"  # a file: device must exist before the printer is added
  chown -R "$unit_user:$unit_group" "$app"
  app_client() { SNAP_COMMON=$app/state "${app_command[0]}" "$@"; }

  # A socket printer on loopback: the first connection that carries bytes goes to a file.
  perl -MIO::Socket::INET -e '
    my $listener = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 0, Listen => 5)
      or die "listen: $!";
    open(my $port, ">", "$ARGV[1].new") or die; print $port $listener->sockport, "\n";
    close $port; rename("$ARGV[1].new", $ARGV[1]) or die;
    open(my $out, ">", $ARGV[0]) or die; binmode $out;
    while (my $peer = $listener->accept) {
      my ($n, $total) = (0, 0);
      while (($n = sysread($peer, my $buffer, 65536)) > 0) { print $out $buffer; $total += $n }
      close $peer;
      last if $total > 0;
    }
    close $out;' "$work/socket.prn" "$work/socket.port" &
  local printer_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/socket.port" ] && break
    sleep 0.1
  done
  local printer_port
  printer_port=$(cat "$work/socket.port" 2>/dev/null) || fail "the socket printer did not start"

  # The network namespace is the test's own: the port is free.
  local port=8631
  setpriv --reuid="$unit_user" --regid="$unit_group" --init-groups \
    env HOME="$app/state" SNAP_COMMON="$app/state" \
    "${app_command[@]}" -o server-port=$port -o server-options=no-tls \
    -o listen-hostname=localhost -o server-hostname=localhost -o state-directory="$app/state" \
    -o spool-directory="$app/spool" -o log-file="$app/log/kemb-printer-app.log" \
    >"$app/server.out" 2>&1 &
  local app_pid=$! started=0
  for _ in $(seq 300); do
    kill -0 "$app_pid" 2>/dev/null || break
    if [ -S "$app/state/kemb-printer-app.sock" ] && (: <>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
    then
      started=1
      break
    fi
    sleep 0.1
  done
  [ $started -eq 1 ] || {
    tail -n 20 "$app/server.out" "$app/log/kemb-printer-app.log" 2>&1
    fail "${app_command[0]} server did not start"
  }
  [ "$(stat -c %U "/proc/$app_pid")" = "$unit_user" ] || fail "the server does not run as $unit_user"

  # print_app PRINTER DEVICE-URI: adds the printer and prints the PDF on it to the job's end.
  print_app() {
    local printer=$1 uri=$2 submitted app_job app_state=""
    app_client add -d "$printer" -m kemb_wmz24 -v "$uri" >"$app/add.out" 2>&1 ||
      { cat "$app/add.out"; fail "add -v $uri failed"; }
    submitted=$(app_client submit -d "$printer" "$work/document.pdf" 2>&1) ||
      fail "submit to $uri failed: $submitted"
    app_job=${submitted##*-}
    [[ $app_job =~ ^[0-9]+$ ]] || fail "no job ID in \"$submitted\""
    for _ in $(seq $((wait_seconds * 5))); do
      kill -0 "$app_pid" 2>/dev/null || fail "the server ended during job $app_job"
      app_state=$(app_client jobs -d "$printer" 2>/dev/null |
        awk -v id="$app_job" '$1 == id { print $2 }')
      [[ $app_state =~ ^(completed|aborted|canceled)$ ]] && break
      sleep 0.2
    done
    [ "$app_state" = completed ] || {
      tail -n 40 "$app/log/kemb-printer-app.log"
      fail "job $app_job to $uri did not complete: ${app_state:-still running after $wait_seconds s}"
    }
  }
  print_app kembpkg "file://$app/device.prn"
  print_app kembsock "socket://127.0.0.1:$printer_port"
  for _ in $(seq $((wait_seconds * 10))); do
    kill -0 "$printer_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$printer_pid" 2>/dev/null && fail "the socket printer is still waiting for the job's end"
  wait "$printer_pid" || fail "the socket printer failed"
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  running "${app_command[0]}" && fail "a client sub-command left a server running"
  [ -z "$(find "$app/spool" -mindepth 1)" ] || fail "the application left files in its spool"
  cp "$app/device.prn" "$out/app-file.prn"
  cp "$work/socket.prn" "$out/app-socket.prn"
  decode "the application's file: device" "$out/app-file.prn"
  decode "the application's socket printer" "$out/app-socket.prn"
  cmp -s "$out/app-file.prn" "$out/app-socket.prn" ||
    fail "the file and the socket printer received different bytes"
  say "application: $pages pages, $(stat -c %s "$out/app-file.prn") bytes to each printer, decoded"

  # What a run of the service leaves in /var, for the purge to remove.
  for dir in "${service_dirs[@]}"; do
    mkdir -p -m 700 "$dir"
  done
  cp "$app/state/kemb-printer-app.state" "${service_dirs[0]}/"
  cp "$app/log/kemb-printer-app.log" "${service_dirs[2]}/"
  rm -rf "$work"
}

purge_step() {
  apt_get purge "${packages[@]}" >"$out/apt-purge.log" 2>&1 ||
    { cat "$out/apt-purge.log"; fail "apt-get purge failed"; }
  local p status path
  for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ -z "$status" ] || [ "$status" = not-installed ] || fail "$p is still known to dpkg: $status"
    compgen -G "/var/lib/dpkg/info/$p.*" >/dev/null && fail "dpkg still holds files of $p"
    # A folder may stay only while another package still owns it.
    while read -r path; do
      [ "$path" = /. ] && continue
      [ -e "$path" ] || [ -L "$path" ] || continue
      [ -d "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1 && continue
      fail "$path of $p is left after the purge"
    done <"$out/files-$p"
  done
  for dir in "${service_dirs[@]}"; do
    [ ! -e "$dir" ] || fail "$dir is left after the purge"
  done
  kemb_named >"$out/kemb-named-after"
  local left
  left=$(comm -13 "$out/kemb-named-before" "$out/kemb-named-after")
  [ -z "$left" ] || fail "left after the purge: $left"
  say "purged, nothing left"
}

case $step in
  install) install_step ;;
  print) print_step ;;
  purge) purge_step ;;
  *) fail "unknown step $step" ;;
esac
