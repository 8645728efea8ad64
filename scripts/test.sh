#!/usr/bin/env bash
# Runs every test of both builds: native unit and language tests, the same under the
# sanitizers and in collector torture mode, and the Windows executable's tests under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

display=:97
Xvfb $display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wineserver_kill' EXIT
wineserver_kill() {
  WINEPREFIX="$root/build/wineprefix" "$(command -v wineserver || command -v wineserver-stable)" -k \
    >/dev/null 2>&1 || true
}
export DISPLAY=$display

status=0
run() { # label, build dir, extra env...
  local label=$1 dir=$2
  shift 2
  echo "=== $label"
  if ! env "$@" ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600; then
    status=1
  fi
}

run "native" build/native
run "native, ASan+UBSan" build/asan ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
run "native, ASan+UBSan, collector torture" build/asan ZAN_GC_TORTURE=1 \
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
run "windows, under Wine" build/windows

exit $status
