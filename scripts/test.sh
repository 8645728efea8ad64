#!/usr/bin/env bash
# Runs every test: native unit and language tests, the same under the sanitizers, then
# collector torture on the sanitizer build (every unit test, and the language tests named in
# tests/lang/torture.list: tests/lang/run.sh picks those when ZAN_GC_TORTURE is set), and the Windows executables' tests under Wine. The Windows tests
# run on the i686 build where this machine can run 32-bit programs, otherwise on the x86-64
# Windows build: the same tests either way (one list, made by CMakeLists.txt).
# Expects the native and asan builds made (make test does that first); makes the Windows
# builds itself: the whole i686 build where it is tested, else its zan.exe and the x86-64 build.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-$(nproc)}

# Which Windows build to test: the 32-bit Wine loader is tried, not guessed from the kernel
# or the packages (a 64-bit kernel may lack 32-bit support, and then the loader cannot start).
wine32_loader=/usr/lib/wine/wine
if probe=$("$wine32_loader" --version 2>&1); then
    windows_dir=build/windows
    echo "Windows tests: i686 build ($windows_dir) under 32-bit Wine, as this machine runs" \
        "32-bit programs ($wine32_loader --version: $probe)"
    make --no-print-directory -C "$root" windows || exit 1
else
    windows_dir=build/windows64
    probe=$(printf '%s' "$probe" | head -n 1)
    probe=${probe#*"$wine32_loader": } # the shell's own prefix
    echo "Windows tests: x86-64 build ($windows_dir) under 64-bit Wine, as this machine" \
        "cannot run 32-bit programs ($wine32_loader --version: ${probe:-no output})"
    # The product is still built, without the tests that could not run here.
    make --no-print-directory -C "$root" windows WINDOWS_TARGETS=zan || exit 1
    make --no-print-directory -C "$root" windows64 || exit 1
fi

display=:97
Xvfb $display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wineserver_kill() {
    local server=/usr/lib/wine/wineserver64 prefix=$root/build/wineprefix64
    if [[ $windows_dir == build/windows ]]; then
        server=$(command -v wineserver || command -v wineserver-stable)
        prefix=$root/build/wineprefix
    fi
    WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1 || true
}
trap 'kill $xvfb 2>/dev/null; wineserver_kill' EXIT
export DISPLAY=$display

status=0
run() { # label, build dir, extra env...
    local label=$1 dir=$2
    shift 2
    echo "=== $label"
    if ! env "$@" ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 900; then
        status=1
    fi
}

sanitizers=(ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1)
run "native" build/native
run "native, ASan+UBSan" build/asan "${sanitizers[@]}"
run "native, ASan+UBSan, collector torture" build/asan ZAN_GC_TORTURE=1 "${sanitizers[@]}"
run "windows, under Wine ($windows_dir)" "$windows_dir"

# Each executable embeds the boot image that its build wrote (the unit test Boot checks it);
# the builds wrote the same bytes.
echo "=== boot image: the same bytes in every build"
for dir in build/asan "$windows_dir"; do
    cmp build/native/generated/boot-image.zanbin "$dir/generated/boot-image.zanbin" || status=1
done

exit $status
