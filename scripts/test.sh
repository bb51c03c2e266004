#!/usr/bin/env bash
# Runs every test layer against a build folder and ends with one line "N passed, N failed":
# the source checks (include arrows between folders, header names, format), native unit tests (ASan/UBSan), varnex against simulated units (native), Windows-side
# tests under Wine, the web board in a real browser, fuzz targets for a bounded time each, and the end-to-end scenarios. A layer with no tests yet is reported and skipped;
# a layer that cannot run counts as a failure. Logs go to BUILD_DIR/test-logs.
set -uo pipefail

cd "$(dirname "$0")/.."
BUILD_DIR=$(realpath -m "${1:-build}")
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
# Whole-layer bounds: a test that hangs fails its layer instead of stalling the run until
# CI's own limit. Each is several times the layer's usual time on a loaded machine.
NATIVE_LIMIT_S=${NATIVE_LIMIT_S:-1200}
CLI_LIMIT_S=${CLI_LIMIT_S:-1500}
E2E_LIMIT_S=${E2E_LIMIT_S:-3000}
RELEASE_LIMIT_S=${RELEASE_LIMIT_S:-1500}
CHECKS_LIMIT_S=${CHECKS_LIMIT_S:-300}
BROWSER_LIMIT_S=${BROWSER_LIMIT_S:-600}
# One fuzz target's run: its own time, its last input's -timeout, start-up and the report.
FUZZ_TARGET_LIMIT_S=${FUZZ_TARGET_LIMIT_S:-$((FUZZ_SECONDS * 3 + 60))}
KILL_GRACE_S=30
LOGS="$BUILD_DIR/test-logs"
RUN_DIR="$BUILD_DIR/test-run"
mkdir -p "$LOGS"
rm -f "$LOGS"/*.log
rm -rf "$RUN_DIR" "$BUILD_DIR/e2e-artifacts"
export VARNEX_BUILD_DIR="$BUILD_DIR" VARNEX_RUN_DIR="$RUN_DIR"

total_passed=0
total_failed=0
add() {  # layer passed failed
  total_passed=$((total_passed + $2))
  total_failed=$((total_failed + $3))
  printf '%-10s %d passed, %d failed\n' "$1" "$2" "$3"
}
show_failures() {  # log
  grep -E '^\[  FAILED  \] \S+ \([0-9]+ ms\)|ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|^TIME LIMIT' "$1" | head -50
}

# Runs a command under a time limit; on expiry says so in the log ("TIME LIMIT: ...", which
# the layer shows) and answers 124, which every layer counts as a failure.
bounded() {  # seconds log command...
  local seconds=$1 log=$2
  shift 2
  timeout --kill-after="$KILL_GRACE_S" "$seconds" "$@"
  local rc=$?
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    echo "TIME LIMIT: $1 ran past ${seconds} s and was stopped" >>"$log"
    rc=124
  fi
  return "$rc"
}

gtest_layer() {  # name log seconds command...
  local name=$1 log=$2 seconds=$3
  shift 3
  bounded "$seconds" "$log" "$@" >>"$log" 2>&1
  local rc=$?
  read -r p f < <(python3 scripts/gtest_count.py "$log" "$rc")
  add "$name" "$p" "$f"
  [ "$f" -gt 0 ] && { show_failures "$log"; echo "  (full output: $log)"; }
}

# A pytest layer under its time limit: name log layer-seconds test-seconds folder.
pytest_layer() {
  local name=$1 log=$2 seconds=$3 per_test=$4 folder=$5
  bounded "$seconds" "$log" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider --timeout="$per_test" "$folder" >>"$log" 2>&1
  local rc=$?
  read -r p f < <(python3 scripts/pytest_count.py "$log")
  [ "$rc" -eq 124 ] && { f=$((f + 1)); grep '^TIME LIMIT' "$log"; }
  add "$name" "$p" "$f"
  [ "$f" -gt 0 ] && { grep -E '^(FAILED|ERROR) ' "$log" | head -20; echo "  (full output: $log)"; }
}

# A check script whose last line is "passed failed"; its findings are shown when it fails.
check_layer() {  # name log seconds command...
  local name=$1 log=$2 seconds=$3
  shift 3
  bounded "$seconds" "$log" "$@" >"$log" 2>&1
  local rc=$?
  local p f
  read -r p f < <(tail -n 1 "$log" | grep -E '^[0-9]+ [0-9]+$')
  p=${p:-0} f=${f:-0}
  [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1  # it stopped without its count
  add "$name" "$p" "$f"
  [ "$f" -gt 0 ] && { grep -vE '^(ok  |[0-9]+ [0-9]+$)' "$log" | head -60; echo "  (full output: $log)"; }
}

echo "== source checks: include arrows between folders, header names, format"
check_layer layers "$LOGS/layers.log" "$CHECKS_LIMIT_S" /usr/bin/python3 scripts/check_layers.py
check_layer format "$LOGS/format.log" "$CHECKS_LIMIT_S" /usr/bin/python3 scripts/check_format.py
pytest_layer checks "$LOGS/checks.log" "$CHECKS_LIMIT_S" 60 tests/checks

echo "== native unit tests"
native_bin="$BUILD_DIR/native/tests/varnex_native_tests"
if [ -x "$native_bin" ]; then
  gtest_layer native "$LOGS/native.log" "$NATIVE_LIMIT_S" "$native_bin" --gtest_color=no
else
  echo "native     no tests built yet: skipped"
fi

echo "== varnex against simulated units (native, no Wine)"
if ls tests/cli/test_*.py >/dev/null 2>&1; then
  pytest_layer cli "$LOGS/cli.log" "$CLI_LIMIT_S" 180 tests/cli
else
  echo "cli        no tests yet: skipped"
fi

echo "== the web board in a real browser (Debian's chromium, driven by playwright-core)"
if ls tests/browser/*.test.mjs >/dev/null 2>&1; then
  : >"$LOGS/browser.log"
  bounded "$BROWSER_LIMIT_S" "$LOGS/browser.log" \
    node --test --test-reporter=tap tests/browser/*.test.mjs >>"$LOGS/browser.log" 2>&1
  rc=$?
  p=$(sed -n 's/^# pass \([0-9]*\)$/\1/p' "$LOGS/browser.log" | tail -n 1)
  f=$(sed -n 's/^# fail \([0-9]*\)$/\1/p' "$LOGS/browser.log" | tail -n 1)
  p=${p:-0} f=${f:-0}
  [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1  # it stopped without its count
  add browser "$p" "$f"
  [ "$f" -gt 0 ] && { grep -E '^ *(not ok|TIME LIMIT)|^ +(error|expected|actual):' "$LOGS/browser.log" | head -30
                      echo "  (full output: $LOGS/browser.log)"; }
else
  echo "browser    no tests yet: skipped"
fi

echo "== shipped programs import only system DLLs"
programs=("$BUILD_DIR"/win/bin/Varnex410Download.exe "$BUILD_DIR"/win/bin/Varnex410Service.exe "$BUILD_DIR"/win/bin/varnex.exe)
check_layer imports "$LOGS/imports.log" "$CHECKS_LIMIT_S" python3 scripts/check_imports.py "${programs[@]}"

echo "== Windows-side tests under Wine"
win_bin="$BUILD_DIR/win/bin/varnex_win_tests.exe"
if [ -f "$win_bin" ]; then
  gtest_layer wine "$LOGS/wine.log" 1500 python3 scripts/wine_exec.py --timeout 1200 -- \
    wine "$win_bin" --gtest_color=no
else
  echo "wine       no tests built yet: skipped"
fi

echo "== fuzz targets (${FUZZ_SECONDS} s each)"
if [ -f tests/fuzz/CMakeLists.txt ]; then
  if cmake -S . -B "$BUILD_DIR/fuzz" -DVARNEX_FUZZ=ON -DCMAKE_C_COMPILER=clang \
       -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$LOGS/fuzz-build.log" 2>&1 &&
     cmake --build "$BUILD_DIR/fuzz" -j "${JOBS:-2}" >>"$LOGS/fuzz-build.log" 2>&1; then
    fp=0 ff=0
    shopt -s nullglob
    for target in "$BUILD_DIR"/fuzz/bin/*_fuzz; do
      name=$(basename "$target")
      corpus="$BUILD_DIR/fuzz/corpus/$name"
      mkdir -p "$corpus"
      [ -d "tests/fuzz/corpus/$name" ] && cp -n tests/fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null
      : >"$LOGS/$name.log"
      if (cd "$BUILD_DIR/fuzz" && bounded "$FUZZ_TARGET_LIMIT_S" "$LOGS/$name.log" "$target" \
            -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus") \
           >>"$LOGS/$name.log" 2>&1; then
        fp=$((fp + 1))
      else
        ff=$((ff + 1))
        echo "  $name failed:"; tail -n 30 "$LOGS/$name.log" | sed 's/^/    /'
      fi
    done
    shopt -u nullglob
    add fuzz "$fp" "$ff"
  else
    echo "  fuzz build failed:"; tail -n 30 "$LOGS/fuzz-build.log" | sed 's/^/    /'
    add fuzz 0 1
  fi
else
  echo "fuzz       no fuzz targets yet: skipped"
fi

echo "== end-to-end scenarios under Wine"
if ls tests/e2e/test_*.py >/dev/null 2>&1; then
  # pytest and its timeout plugin come from Debian, for the system interpreter.
  if /usr/bin/python3 -c 'import pytest, pytest_timeout' 2>/dev/null; then
    : >"$LOGS/e2e.log"
    bounded "$E2E_LIMIT_S" "$LOGS/e2e.log" \
      /usr/bin/python3 -m pytest -c tests/e2e/pytest.ini -v tests/e2e 2>&1 | tee -a "$LOGS/e2e.log"
  else
    echo "  pytest or pytest-timeout is missing for /usr/bin/python3: run make setup" | tee "$LOGS/e2e.log"
  fi
  grep '^TIME LIMIT' "$LOGS/e2e.log"
  result=$(grep -E '^E2E-RESULT ' "$LOGS/e2e.log" | tail -n 1)
  if [ -n "$result" ]; then
    p=$(sed -E 's/.*passed=([0-9]+).*/\1/' <<<"$result")
    f=$(sed -E 's/.*failed=([0-9]+).*/\1/' <<<"$result")
    add e2e "$p" "$f"
  else
    echo "  the end-to-end runner ended without a result"
    add e2e 0 1
  fi
else
  echo "e2e        no scenarios yet: skipped"
fi

echo "== release builds: the arm64 varnex under qemu-user, the service under systemd, packaging, versions"
# The arm64 and x86-64 builds are make dist's own (shared, so either one's work serves the
# other), with the placeholder images the simulated unit is checked against; only varnex is
# built. The x86-64 one goes into the package that the service tests install.
arm64="$BUILD_DIR/dist-linux-arm64"
x86_64="$BUILD_DIR/dist-linux-x86_64"
if { cmake -S . -B "$arm64" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
       -DVARNEX_RELEASE=ON -DVARNEX_BUILD_TESTS=OFF -DVARNEX_FIRMWARE_DIR= &&
     cmake --build "$arm64" -j "${JOBS:-2}" --target varnex &&
     cmake -S . -B "$x86_64" -DCMAKE_BUILD_TYPE=Release -DVARNEX_RELEASE=ON -DVARNEX_BUILD_TESTS=OFF \
       -DVARNEX_FIRMWARE_DIR= &&
     cmake --build "$x86_64" -j "${JOBS:-2}" --target varnex &&
     mkdir -p "$arm64/modemlines" &&
     clang --target=aarch64-linux-gnu -O2 -Wall -Wextra -shared -fPIC -o "$arm64/modemlines/libvarnexmodem.so" \
       tests/harness/modemlines/modemlines.c -ldl; } >"$LOGS/release-build.log" 2>&1; then
  pytest_layer release "$LOGS/release.log" "$RELEASE_LIMIT_S" 300 tests/release
else
  echo "  the release builds failed:"; tail -n 30 "$LOGS/release-build.log" | sed 's/^/    /'
  add release 0 1
fi

if [ "$total_failed" -gt 0 ]; then
  echo "== what failed (logs in $LOGS)"
  grep -hE '^\[  FAILED  \] \S+ \([0-9]+ ms\)' "$LOGS"/native.log "$LOGS"/wine.log 2>/dev/null
  grep -hE '^(FAILED|ERROR) ' "$LOGS"/e2e.log 2>/dev/null
  grep -hE '^(FAILED|ERROR) ' "$LOGS"/cli.log "$LOGS"/release.log "$LOGS"/checks.log 2>/dev/null
  grep -hE '^ *not ok ' "$LOGS"/browser.log 2>/dev/null
  grep -hE '^FAIL ' "$LOGS"/layers.log "$LOGS"/format.log 2>/dev/null
fi
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
