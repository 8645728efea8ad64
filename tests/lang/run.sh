#!/usr/bin/env bash
# Runs the built executable the way a user does and checks what it answers.
# usage: run.sh EXECUTABLE PLATFORM [PATTERN...]   (PLATFORM: posix, or win32 to run under Wine)
#
# PATTERNs (shell globs over script names, without .zan) pick which scripts run; all of them
# when none is given. With ZAN_LANG_BLESS=1, what each picked script writes becomes its
# expectation: NAME.out always, NAME.err where the script wrote to standard error or the file
# exists, NAME.status where the status is not 0 (review the diff before committing it).
#
# Each tests/lang/NAME.zan is run from this folder as `EXECUTABLE NAME.zan`, under a time
# limit, with ZAN_ERROR_BOX=stderr and ZAN_STDOUT=1, reading NAME.in as its standard input
# where that file exists (nothing otherwise). Its standard output must equal NAME.out;
# where they exist, its standard error must equal NAME.err and its exit status the number
# in NAME.status (0 otherwise). CR LF is folded to LF before comparing. A failure shows a
# unified diff. With ZAN_GC_TORTURE set (and not 0), only the scripts named in torture.list
# run (one name a line; blank lines and lines starting with # are skipped).
# ZAN_LANG_TIMEOUT (seconds a script, default 120, 300 under Wine or collector torture) and
# ZAN_LANG_JOBS (scripts at once, default the processor count) tune the run.
set -u
exe=$(realpath "$1")
platform=$2
shift 2
patterns=("$@")
bless=${ZAN_LANG_BLESS:-0}
here=$(cd "$(dirname "$0")" && pwd)
run=()
[[ $platform == win32 ]] && run=("$here/../../scripts/wine-run")
# Under Wine a script that starts child programs can take minutes on a loaded machine.
default_limit=120
[[ $platform == win32 ]] && default_limit=300
# Under collector torture every allocation collects: the longest scripts take over a minute
# on an idle core, and a machine with two cores runs two at once.
[[ ${ZAN_GC_TORTURE:-0} != 0 ]] && default_limit=300
limit=${ZAN_LANG_TIMEOUT:-$default_limit}
jobs=${ZAN_LANG_JOBS:-$(nproc)}
export ZAN_ERROR_BOX=stderr ZAN_STDOUT=1
scratch=$(mktemp -d)
server=
trap '[[ -n $server ]] && kill "$server" 2>/dev/null; rm -rf "$scratch"' EXIT
exe_dir=$(cd "$(dirname "$exe")" && pwd)

# A helper program of tests/helpers that runs on this machine: the one built next to the
# executable, or one built here with the host compiler. Prints its path.
host_helper() {
    local helper=$exe_dir/$1
    if [[ ! -x $helper ]]; then
        helper=$scratch/$1
        c++ -std=c++20 -O1 -o "$helper" "$here/../helpers/$1.cpp" >&2 || return 1
    fi
    echo "$helper"
}

# call.zan's child program (tests/helpers/pipe-echo), named as the executable sees it: under
# Wine the Windows build's, by a Windows path whose Z: drive is the root.
if [[ $platform == win32 ]]; then
    pipe_echo=Z:${exe_dir//\//\\}\\pipe-echo.exe
else
    pipe_echo=$(host_helper pipe-echo)
fi
export ZAN_PIPE_ECHO=$pipe_echo
cd "$here"

failed=0
passed=0

# Start-up and orderly end: with no arguments, zan exits 0 and writes nothing. Kept until
# the interpreter gives a bare start a behaviour of its own. Checked on full runs only.
if ((${#patterns[@]} == 0)); then
    out=$(timeout "$limit" "${run[@]}" "$exe" </dev/null 2>&1)
    st=$?
    if [[ $st != 0 || -n $out ]]; then
        echo "FAIL: start-up and orderly end: exit status $st, expected 0; output: $out"
        failed=$((failed + 1))
    else
        echo "ok: start-up and orderly end"
        passed=$((passed + 1))
    fi
fi

# Whether a script name is one of the patterns given (every name when none was).
picked() {
    local pattern
    ((${#patterns[@]} == 0)) && return 0
    for pattern in "${patterns[@]}"; do
        # shellcheck disable=SC2053 # the pattern is a glob on purpose
        [[ $1 == $pattern ]] && return 0
    done
    return 1
}

# The scripts to run.
names=()
torture=${ZAN_GC_TORTURE:-0}
if [[ $torture != 0 ]]; then
    if [[ -f torture.list ]]; then
        while IFS= read -r line || [[ -n $line ]]; do
            line=${line%$'\r'}
            [[ -z ${line//[[:space:]]/} || $line == \#* ]] && continue
            name=${line%.zan}
            if [[ ! -f $name.zan ]]; then
                echo "FAIL: torture.list names $line, which has no script"
                failed=$((failed + 1))
                continue
            fi
            picked "$name" && names+=("$name")
        done <torture.list
    fi
else
    for f in *.zan; do
        [[ -e $f ]] && picked "${f%.zan}" && names+=("${f%.zan}")
    done
fi
if ((${#names[@]} == 0)); then
    if [[ $torture != 0 ]]; then
        echo "no language test scripts named in torture.list"
    else
        echo "no language test scripts (tests/lang/*.zan)"
    fi
fi

# http.zan and remote-files.zan talk to a local server (tests/helpers/http-echo) whose ports reach it as
# ZAN_HTTP_PORT and ZAN_HTTP_CLOSED_PORT. When the server cannot start, the script says so and
# fails.
start_http_server() {
    local helper i
    helper=$(host_helper http-echo) || return 1
    "$helper" "$scratch/http.port" $((limit * 5)) &
    server=$!
    for ((i = 0; i < 100; i++)); do
        [[ -s $scratch/http.port ]] && break
        sleep 0.1
    done
    read -r ZAN_HTTP_PORT ZAN_HTTP_CLOSED_PORT <"$scratch/http.port" || return 1
    export ZAN_HTTP_PORT ZAN_HTTP_CLOSED_PORT
}
for name in "${names[@]}"; do
    if [[ $name == http || $name == remote-files ]]; then
        start_http_server || echo "the HTTP test server did not start"
        break
    fi
done

# Expected text (CR LF folded) against what the script wrote: a unified diff when they differ.
compare() { # expected file, what, actual file
    sed 's/\r$//' "$1" | diff -u --label "$1" --label "$2" - "$3"
}

# One script: writes its report to $scratch/NAME.report, empty when it passed.
check() {
    local name=$1 out=$scratch/$1.stdout err=$scratch/$1.stderr report=$scratch/$1.report
    local st expected=0
    local input=/dev/null
    [[ -f $name.in ]] && input=$name.in
    timeout "$limit" "${run[@]}" "$exe" "$name.zan" <"$input" >"$out" 2>"$err"
    st=$?
    sed -i 's/\r$//' "$out" "$err"
    if [[ $bless != 0 ]]; then
        # A file whose text already matches is left as it is (its line ends included).
        compare "$name.out" "" "$out" >/dev/null 2>&1 || cp "$out" "$name.out"
        if [[ -f $name.err || -s $err ]]; then
            compare "$name.err" "" "$err" >/dev/null 2>&1 || cp "$err" "$name.err"
        fi
        if [[ $st != 0 ]]; then
            echo "$st" >"$name.status"
        else
            rm -f "$name.status"
        fi
        : >"$report"
        return
    fi
    [[ -f $name.status ]] && expected=$(tr -d '[:space:]' <"$name.status")
    # A process status is a byte as the shell sees it: -2 reads as 254.
    ((expected < 0)) && expected=$(((expected + 256) % 256))
    {
        if [[ $st == 124 ]]; then
            echo "timed out after ${limit}s"
        elif [[ $st != "$expected" ]]; then
            echo "exit status $st, expected $expected"
        fi
        if [[ -f $name.out ]]; then
            compare "$name.out" "standard output" "$out"
        else
            echo "no $name.out"
        fi
        [[ -f $name.err ]] && compare "$name.err" "standard error" "$err"
    } >"$report" 2>&1
    if [[ -s $report && ! -f $name.err && -s $err ]]; then
        { echo "standard error:"; cat "$err"; } >>"$report"
    fi
}

# The checks run in parallel; only they are waited for (the HTTP server is a job too).
running=0
checks=()
for name in "${names[@]}"; do
    check "$name" &
    checks+=($!)
    running=$((running + 1))
    if ((running >= jobs)); then
        wait -n
        running=$((running - 1))
    fi
done
((${#checks[@]} > 0)) && wait "${checks[@]}"

for name in "${names[@]}"; do
    report=$scratch/$name.report
    if [[ -f $report && ! -s $report ]]; then
        echo "ok: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        [[ -f $report ]] && sed 's/^/    /' "$report"
        failed=$((failed + 1))
    fi
done

echo "language tests: $passed passed, $failed failed"
((failed == 0))
