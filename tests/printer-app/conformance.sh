#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# IPP conformance of kemb-printer-app with ipptool's stock test files (package cups-ipp-utils).
# Debian ships the .test files without the documents they print, and ipptool looks for every
# FILE when it reads a test file, so this makes them: PWG raster at the resolutions and raster
# types the printer offers (sRGB and sGray, 180 dpi), PDF and JPEG; empty files for the rest,
# which the tests skip because the printer does not offer them. Each test's result must be PASS
# or SKIP, or a FAIL listed in conformance-expected.txt with its cause; the table of results
# (PASS, FAIL, SKIP per file) is printed at the end. The server runs on
# loopback and is stopped by its PID.
#
# Usage: conformance.sh BUILD_DIR [TEST_FILE...]
set -uo pipefail
build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/app_server.sh"
app="$build/bin/kemb-printer-app"
stock=/usr/share/cups/ipptool
work="$build/app-conformance"
files=("$@")
[ ${#files[@]} -eq 0 ] && files=(ipp-1.1.test ipp-2.0.test ipp-everywhere.test
  get-printer-attributes.test get-jobs.test get-job-attributes.test get-completed-jobs.test
  print-job.test print-job-letter.test print-job-media-col.test validate-job.test create-job.test
  create-job-format.test cancel-current-job.test identify-printer.test print-job-and-wait.test)

rm -rf "$work"; mkdir -p "$work/ipptool" "$work/data" "$work/state"
cd "$work/ipptool"
cp "$stock"/*.test .

# Documents. PostScript (document-*.ps, testprint.ps) stays empty: not a format we take.
ps_text='/Helvetica findfont 14 scalefont setfont
/page { /n exch def 72 720 moveto (KEMB conformance page ) show n 3 string cvs show
  0 1 30 { /i exch def 72 700 i 20 mul sub moveto (The quick brown fox jumps over the lazy dog.) show } for
  0.5 setgray 300 100 200 150 rectfill 0 setgray showpage } def'
mkpdf() { # PAPER PAGES OUT
  local pages="" i; for ((i = 1; i <= $2; i++)); do pages+=" $i page"; done
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE="$1" -o "$3" -c "$ps_text $pages" || exit 1
}
mkpdf a4 3 document-a4.pdf
mkpdf letter 3 document-letter.pdf
mkpdf a4 1 onepage-a4.pdf
mkpdf letter 1 onepage-letter.pdf
photo='0 1 99 { /i exch def i 100 div 1 i 100 div sub 0.5 setrgbcolor 0 i 4.32 mul 288 4.32 rectfill } for showpage'
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432 -o photo-4x6.pdf -c "$photo" || exit 1
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r72 -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432 -o color.jpg photo-4x6.pdf || exit 1
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r72 -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432 -o gray.jpg photo-4x6.pdf || exit 1
: > document-a4.ps; : > document-letter.ps; : > ../data/testprint.ps

# PWG raster samples: every path the test files name exists; the offered ones are real.
grep -h -o 'pwg-raster-samples-[0-9]*dpi/[a-z0-9-]*/[A-Za-z0-9._-]*\.pwg' *.test | sort -u |
while read -r path; do
  mkdir -p "$(dirname "$path")"; : > "$path"
done
for type in srgb-8 sgray-8; do
  space=19; [ $type = sgray-8 ] && space=18
  dir=pwg-raster-samples-180dpi/$type
  render() { # PDF OUT [size options]
    local in=$1 out=$2; shift 2
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -dcupsColorSpace=$space -dcupsBitsPerColor=8 \
       -r180 "$@" -o "$out" "$in" 2>/dev/null || exit 1
  }
  render document-a4.pdf $dir/document-a4-$type-180dpi.pwg -sPAPERSIZE=a4
  render document-letter.pdf $dir/document-letter-$type-180dpi.pwg -sPAPERSIZE=letter
  render onepage-a4.pdf $dir/onepage-a4-$type-180dpi.pwg -sPAPERSIZE=a4
  render onepage-letter.pdf $dir/onepage-letter-$type-180dpi.pwg -sPAPERSIZE=letter
  render photo-4x6.pdf $dir/color.jpg-4x6-$type-180dpi.pwg -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432
  render photo-4x6.pdf $dir/gray.jpg-4x6-$type-180dpi.pwg -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432
done

# The server, on a free loopback port.
: > "$work/device.prn"
start_app_server "$app" "$work" -o log-level=info || exit 1
for _ in $(seq 1 100); do
  ipptool -T 2 ipp://localhost:$port/ipp/system get-system-attributes.test >/dev/null 2>&1 && break
  sleep 0.1
done
"$app" add -d conf -m kemb_wmz24 -v "file://$work/device.prn" || { echo "add failed"; cat "$work/server.out"; exit 1; }
uri=ipp://localhost:$port/ipp/print/conf
sleep 1  # printer-up-time must be above 0

# Results: FILE<TAB>TEST<TAB>PASS|FAIL|SKIP, from ipptool's -t report.
status=0
: > "$work/results.txt"
cat > "$work/idle.test" <<'TEST'
{
	NAME "Printer has no job that is not done"
	OPERATION Get-Jobs
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri $uri
	ATTR keyword which-jobs not-completed
	STATUS successful-ok
	EXPECT !job-id
}
TEST
idle() { # until the printer has no job left (the previous file's last job has printed)
  for _ in $(seq 1 300); do
    ipptool -T 5 "$uri" "$work/idle.test" >/dev/null 2>&1 && { sleep 1; return; }
    sleep 0.1
  done
}
for f in "${files[@]}"; do
  idle
  # A file whose job is refused may wait for that job for ever (print-job-and-wait.test).
  timeout 120 ipptool -t -I -T 60 -f document-a4.pdf "$uri" "$f" > "$work/$f.out" 2>&1
  sed -n 's/^ *\(.*[^ ]\) *\[\(PASS\|FAIL\|SKIP\)\]$/\1\t\2/p' "$work/$f.out" |
    while IFS=$'\t' read -r name result; do printf '%s\t%s\t%s\n' "$f" "$name" "$result"; done \
    >> "$work/results.txt"
  if ! kill -0 $pid 2>/dev/null; then echo "the server died during $f"; status=1; break; fi
done

# Compare with the expected failures.
expected="$here/conformance-expected.txt"
unexpected=$(awk -F'\t' 'NR==FNR { if ($0 !~ /^#/ && NF >= 2) want[$1 "\t" $2] = 1; next }
  $3 == "FAIL" && !(($1 "\t" $2) in want) { print $1 ": " $2 }' "$expected" "$work/results.txt")
fixed=$(awk -F'\t' 'NR==FNR { if ($3 == "PASS") pass[$1 "\t" $2] = 1; next }
  $0 !~ /^#/ && NF >= 2 && (($1 "\t" $2) in pass) { print $1 ": " $2 }' "$work/results.txt" "$expected")
printf '%-32s %5s %5s %5s\n' FILE PASS FAIL SKIP
awk -F'\t' '{ n[$1, $3]++; seen[$1] = 1 } END { for (f in seen) printf "%-32s %5d %5d %5d\n", f, n[f, "PASS"], n[f, "FAIL"], n[f, "SKIP"] }' \
  "$work/results.txt" | sort
if [ -n "$unexpected" ]; then
  echo "Unexpected failures (see $work/*.out):"; echo "$unexpected"; status=1
fi
if [ -n "$fixed" ]; then
  # Some listed failures depend on timing (busy answers); passing is no failure.
  echo "Listed as expected failures but passing this time:"; echo "$fixed"
fi
[ -s "$work/results.txt" ] || { echo "no results"; status=1; }
exit $status
