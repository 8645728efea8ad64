#!/usr/bin/env bash
# Runs the built executable the way a user does and checks what it answers.
# usage: run.sh EXECUTABLE PLATFORM [NAME...]   (PLATFORM: posix or win32, run under Wine)
# Each tests/lang/NAME.zan runs with its expected standard output NAME.out, and optionally
# NAME.err (standard error) and NAME.status (exit status, 0 when absent). CR LF is folded to
# LF before comparing. With ZAN_GC_TORTURE set, only the scripts named in torture.list run.
set -u
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
platform=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
run=()
[[ $platform == win32 ]] && run=("$here/../../scripts/wine-run")
export ZAN_ERROR_BOX=stderr ZAN_STDOUT=1

failed=0
check() { # name, expected status, actual status
  if [[ $2 != "$3" ]]; then
    echo "FAIL: $1: exit status $3, expected $2"
    failed=1
  else
    echo "ok: $1"
  fi
}

if [[ $# -eq 0 ]]; then
  out=$("${run[@]}" "$exe" </dev/null 2>&1)
  check "start-up and orderly end" 0 $?
  [[ -z $out ]] || { echo "FAIL: unexpected output: $out"; failed=1; }
fi

names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  if [[ -n ${ZAN_GC_TORTURE:-} ]]; then
    mapfile -t names < <(grep -v '^\s*$' "$here/torture.list")
  else
    for f in "$here"/*.zan; do names+=("$(basename "$f" .zan)"); done
  fi
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for name in "${names[@]}"; do
  (cd "$here" && "${run[@]}" "$exe" "$name.zan" >"$tmp/out" 2>"$tmp/err" </dev/null)
  status=$?
  expected=0
  [[ -f $here/$name.status ]] && expected=$(<"$here/$name.status")
  # Statuses are bytes on the native build: -2 reads as 254.
  (( expected < 0 )) && expected=$(( (expected + 256) % 256 ))
  ok=1
  if [[ $status != "$expected" ]]; then
    echo "FAIL: $name: exit status $status, expected $expected"; ok=0
  fi
  if ! diff -u <(tr -d '\r' <"$here/$name.out") <(tr -d '\r' <"$tmp/out") >"$tmp/diff"; then
    echo "FAIL: $name: standard output differs"; head -40 "$tmp/diff"; ok=0
  fi
  if [[ -f $here/$name.err ]] && ! diff -u <(tr -d '\r' <"$here/$name.err") <(tr -d '\r' <"$tmp/err") >"$tmp/diff"; then
    echo "FAIL: $name: standard error differs"; head -40 "$tmp/diff"; ok=0
  fi
  if (( ok )); then echo "ok: $name"; else failed=1; fi
done
exit $failed
