#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian packages, from build to purge, on each supported release, never on this machine:
#   build     the running release's packages with scripts/package here, every other release's
#             inside a root of that release with its build tools (scripts/debian-root); the
#             package cups is no dependency; lintian of the same release finds no error and no
#             warning that debian/*.lintian-overrides does not explain
#   roots     a minimal root of each release (debootstrap), fresh from a tarball that stays in
#             ROOTS_DIR between runs; in it, in_root.sh installs the packages with apt, prints
#             through the filter and the application's submit, purges, and checks what is left
#   decode    the built kembview lists what each root's printers received as the installed
#             one did; whether the releases printed the same bytes is reported
# The roots live in a temporary folder of ROOTS_DIR, removed at the end; each step runs in
# namespaces of its own, so no mount or process of it outlives it.
#
# Usage: package_test.sh SOURCE_DIR BUILD_BIN_DIR ROOTS_DIR [RELEASE...]
#   RELEASE defaults to bookworm trixie (Debian 12 and 13).
# Needs root for debootstrap, chroot and mounts; exits 77 (skipped) without it.
set -euo pipefail

root=$(cd "$1" && pwd)
build_bin=$2
roots=$(realpath -m -- "$3")
shift 3
releases=("$@")
[ ${#releases[@]} -gt 0 ] || releases=(bookworm trixie)
readonly skipped=77

say() { echo "package test: $*"; }
fail() {
  echo "package test: FAILED: $*" >&2
  exit 1
}

if [ "$(id -u)" -ne 0 ]; then
  say "skipped: it builds Debian roots with debootstrap and installs the packages in them," \
    "which needs root; nothing was built or installed"
  exit $skipped
fi
for tool in debootstrap unshare chroot lintian; do
  command -v "$tool" >/dev/null || fail "no $tool: scripts/setup package installs it"
done

mapfile -t packages < <(sed -n 's/^Package: *//p' "$root/debian/control")
[ ${#packages[@]} -gt 0 ] || fail "debian/control names no package"
debian_root=$root/scripts/debian-root
this_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mkdir -p "$roots"
work=$(mktemp -d "$roots/package-test.XXXX")
chmod 755 "$work"
# Nothing is mounted outside the steps' namespaces, so the roots go with a plain removal.
trap 'rm -rf --one-file-system "$work"' EXIT
trap 'exit 143' TERM INT

# lint CHANGES: lintian on the packages of CHANGES, in the running system or root.
lint() {
  lintian --fail-on error,warning -I --show-overrides "$1" 2>&1 |
    grep -v 'running with root privileges'
  return "${PIPESTATUS[0]}"
}

for release in "${releases[@]}"; do
  dir=$work/$release
  mkdir -p "$dir/debs" "$dir/out"
  # --- build -------------------------------------------------------------------------------
  if [ "$release" = "$this_release" ]; then
    say "$release: building ${packages[*]} here"
    "$root/scripts/package" "$dir/debs" >/dev/null || fail "scripts/package failed"
    say "$release: lintian $(lintian --version | sed 's/^Lintian v//')"
    lint "$dir"/debs/*.changes || fail "$release: lintian found errors or warnings"
  else
    say "$release: building ${packages[*]} in a $release root"
    "$debian_root" make "$release" "$roots/$release-dev.tar" build test package
    "$debian_root" unpack "$roots/$release-dev.tar" "$dir/dev"
    # What the tarball lacks since scripts/setup or debian/control changed comes from the
    # archive; the build itself runs without network. The checkout is read-only: scripts/package
    # copies it and builds the copy.
    "$debian_root" run --net --bind "$root:/src:ro" "$dir/dev" /src/scripts/setup package ||
      fail "$release: scripts/setup package failed"
    "$debian_root" run --bind "$root:/src:ro" --bind "$dir/debs:/out" "$dir/dev" \
      /src/scripts/package /out >/dev/null || fail "$release: scripts/package failed"
    say "$release: lintian $("$debian_root" run "$dir/dev" lintian --version | sed 's/^Lintian v//')"
    "$debian_root" run --bind "$dir/debs:/out:ro" "$dir/dev" bash -c "$(declare -f lint); lint /out/*.changes" ||
      fail "$release: lintian found errors or warnings"
    rm -rf --one-file-system "$dir/dev"
  fi
  debs=()
  for p in "${packages[@]}"; do
    deb=$(find "$dir/debs" -maxdepth 1 -name "${p}_*.deb")
    [ -n "$deb" ] && [ "$(wc -l <<<"$deb")" -eq 1 ] || fail "$release: not exactly one package file for $p"
    debs+=("$deb")
    say "$release: $(basename "$deb"): $(stat -c %s "$deb") bytes," \
      "depends on $(dpkg-deb -f "$deb" Depends)"
  done
  # The package `cups` carries other makers' drivers; the driver needs only the scheduler and
  # the filter chain, and must not depend on it. It may recommend it.
  for deb in "${debs[@]}"; do
    for field in Pre-Depends Depends; do
      if dpkg-deb -f "$deb" "$field" | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g' |
        grep -qx cups; then
        fail "$(basename "$deb"): $field names the package cups"
      fi
    done
  done

  # --- install, print, purge in a minimal root ---------------------------------------------
  "$debian_root" make "$release" "$roots/$release.tar"
  "$debian_root" unpack "$roots/$release.tar" "$dir/root"
  cp "$root/tests/package/in_root.sh" "$root/tests/scheduler/cupsd.conf.in" \
    "$root/tests/scheduler/cups-files.conf.in" "$root/ppd/kemb.drv" "$dir/"
  run() { "$debian_root" run "$@"; }
  # apt needs the archive; printing runs with loopback alone.
  run --net --bind "$dir:/test" "$dir/root" /test/in_root.sh install "${packages[@]}" ||
    fail "$release: install"
  run --bind "$dir:/test" "$dir/root" /test/in_root.sh print "${packages[@]}" ||
    fail "$release: print"
  run --bind "$dir:/test" "$dir/root" /test/in_root.sh purge "${packages[@]}" ||
    fail "$release: purge"
  rm -rf --one-file-system "$dir/root"

  # --- decode with the built kembview --------------------------------------------------------
  if [ -x "$build_bin/kembview" ]; then
    for prn in "$dir"/out/*.prn; do
      "$build_bin/kembview" --list "$prn" | cmp -s - "$prn.listing" ||
        fail "$release: the installed kembview lists $(basename "$prn") unlike $build_bin/kembview"
    done
  fi
  say "$release: passed"
done
# Each release has its own Ghostscript, so equal bytes are reported, not required.
first=${releases[0]}
for release in "${releases[@]:1}"; do
  for prn in queue app-file; do
    a=$work/$first/out/$prn.prn b=$work/$release/out/$prn.prn
    if cmp -s "$a" "$b"; then
      say "$prn: $release printed the same $(stat -c %s "$b") bytes as $first"
    else
      say "$prn: $release printed $(stat -c %s "$b") bytes, $first $(stat -c %s "$a"): they differ"
    fi
  done
done
say "passed"
