#!/usr/bin/env bash
# Runs the built executable the way a user does and checks what it answers.
# usage: run.sh EXECUTABLE PLATFORM   (PLATFORM: posix or win32, run under Wine)
set -u
exe=$1
platform=$2
here=$(cd "$(dirname "$0")" && pwd)
run=()
[[ $platform == win32 ]] && run=("$here/../../scripts/wine-run")

failed=0
check() { # name, expected status, actual status
  if [[ $2 != "$3" ]]; then
    echo "FAIL: $1: exit status $3, expected $2"
    failed=1
  else
    echo "ok: $1"
  fi
}

out=$(ZAN_ERROR_BOX=stderr "${run[@]}" "$exe" 2>&1)
check "start-up and orderly end" 0 $?
[[ -z $out ]] || { echo "FAIL: unexpected output: $out"; failed=1; }

exit $failed
