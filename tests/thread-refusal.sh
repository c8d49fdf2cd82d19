#!/usr/bin/env bash
# The inflating workers follow the CPUs the process may run on: under taskset, with the preloaded
# SHIM starting the runtime's own threads and the first worker and refusing every later thread,
# the refusals (a byte each in a file) are the workers asked for before the reading thread: one
# on one CPU, two on two.   tests/thread-refusal.sh TQ5 SHIM   (status 77: cannot be run here)
set -uo pipefail
[ -f "$2" ] && taskset -c 0 true 2>/dev/null || { echo "SKIPPED: no shim or no taskset -c 0" && exit 77; }
# ThreadSanitizer's runtime starts a thread of its own through the same call.
! grep -q __tsan_init "$1" || { echo "SKIPPED: a ThreadSanitizer build starts threads of its own" && exit 77; }
tq5=$(realpath "$1") shim=$(realpath "$2") tests=$(realpath "$(dirname "$0")") work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && awk -v records=100 -f "$tests/genbank.awk" >text && python3 "$tests/../bench/bgzf.py" text in.gb || exit 1
refused() { # refused INPUT STARTS CPUS: the threads refused
    rm -f refusals out.t5 && printf '%s out g\n' "$1" | LD_PRELOAD="$shim" TQ5_TEST_THREAD_STARTS=$2 \
        TQ5_TEST_THREAD_REFUSALS=refusals timeout 60 taskset -c "$3" "$tq5" >/dev/null
    stat -c %s refusals 2>/dev/null || echo 0
}
own=$(refused text 0 0)
for cpus in 0 0,1; do
    taskset -c "$cpus" true 2>/dev/null || break
    workers=$(refused in.gb $((own + 1)) "$cpus") expected=$((${#cpus} / 2 + 1))
    echo "taskset -c $cpus: $workers inflating workers asked for"
    [ "$workers" = "$expected" ] || { echo "FAILED: on CPUs $cpus not $expected workers"; exit 1; }
done
