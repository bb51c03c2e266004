#!/usr/bin/env bash
# `make dist`: the release builds (Windows, Linux x86-64, Linux arm64), the packages made from
# them in DIST_DIR, and the checks every package must pass before it is given to users.
# Every date in the output is the last commit's, so two runs of one commit agree byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=$(realpath -m "${1:-build}")
DIST_DIR=$(realpath -m "${2:-dist}")
JOBS=${JOBS:-2}
# Always given, so that a folder from an earlier run's cache is never used by mistake.
FIRMWARE_DIR=""
[ -n "${VARNEX_FIRMWARE_DIR:-}" ] && FIRMWARE_DIR=$(realpath "$VARNEX_FIRMWARE_DIR")

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || {
    echo "dist: not a git checkout; set SOURCE_DATE_EPOCH to the release's date (seconds since 1970)" >&2
    exit 2
  }
fi
export SOURCE_DATE_EPOCH
# Nothing of this machine's locale, time zone or umask reaches the files.
export LC_ALL=C TZ=UTC
umask 022

release_build() {  # folder toolchain-file|"" targets...
  local folder=$1 toolchain=$2
  shift 2
  local options=(-DCMAKE_BUILD_TYPE=Release -DVARNEX_RELEASE=ON -DVARNEX_BUILD_TESTS=OFF -DVARNEX_FIRMWARE_DIR="$FIRMWARE_DIR")
  [ -n "$toolchain" ] && options+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
  echo "== release build: $folder"
  cmake --no-warn-unused-cli -S . -B "$BUILD_DIR/$folder" "${options[@]}" >/dev/null
  local target
  for target in "$@"; do
    cmake --build "$BUILD_DIR/$folder" -j "$JOBS" --target "$target" -- --no-print-directory
  done
}

release_build dist-win cmake/mingw-i686.cmake Varnex410Download Varnex410Service varnex
release_build dist-linux-x86_64 "" varnex
release_build dist-linux-arm64 cmake/aarch64-linux-gnu.cmake varnex

echo "== packages in $DIST_DIR"
/usr/bin/python3 scripts/dist.py --build-dir "$BUILD_DIR" --out "$DIST_DIR"

echo "== checks"
failed=0
windows=("$BUILD_DIR"/dist-win/bin/{Varnex410Download,Varnex410Service,varnex}.exe)
linux=("$BUILD_DIR"/dist-linux-x86_64/cli/varnex "$BUILD_DIR"/dist-linux-arm64/cli/varnex)
imports=$(python3 scripts/check_imports.py "${windows[@]}")
grep -v '^[0-9]' <<<"$imports" || true
[ "$(tail -n 1 <<<"$imports")" = "${#windows[@]} 0" ] || failed=1
/usr/bin/python3 scripts/release_checks.py --version "$(cat VERSION)" --pe "${windows[@]}" --elf "${linux[@]}" || failed=1
# Control-flow protection is compiled in but cannot be marked on the programs: the C library's
# own start files on Debian 12 carry no such mark, and the linker marks a program only when
# every part has it (and hardening-check reads the x86 mark alone, not arm64's).
hardening-check --nocfprotection "${linux[@]}" || failed=1
for deb in "$DIST_DIR"/*.deb; do
  echo "lintian $(basename "$deb"):"
  lintian --tag-display-limit 0 "$deb" 2>&1 | tee "$BUILD_DIR/lintian-$(basename "$deb" .deb).log" | sed 's/^/  /' || true
  if grep -q '^E: ' "$BUILD_DIR/lintian-$(basename "$deb" .deb).log"; then failed=1; fi
done

if [ "$failed" -ne 0 ]; then
  echo "dist: a check failed (see above); the packages in $DIST_DIR must not be given out" >&2
  exit 1
fi
echo "== $DIST_DIR"
(cd "$DIST_DIR" && cat SHA256SUMS)
