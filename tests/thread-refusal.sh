#!/usr/bin/env bash
# tq5 on compressed input where the system refuses to start threads: SHIM,
# preloaded, lets the first N calls of pthread_create start their thread and
# fails every later one with EAGAIN.  For N = 0 to 6 and without a limit,
# each input (one gzip member; three members joined with cat; BGZF with its
# end-of-file member; BGZF followed by a plain gzip member, all holding the
# same text of about 870 KB) must give, under `timeout 60`, the console and
# the record file of the run of the plain text byte for byte.  A hang or any
# difference fails the test.  Under ThreadSanitizer the runtime's own first
# thread is one of the N.  Then, under `taskset`, the BGZF file with its
# first worker started (after the runtime's own threads, counted on the plain
# text) and every later thread refused: the program asks for its workers and
# then the reading thread, so the refusals are the workers it asked for: one on
# one CPU, two on two.  On one CPU with every thread started it must give the
# plain text's run.
#   tests/thread-refusal.sh TQ5 SHIM       (status 77: cannot be run here)
set -uo pipefail
skip() { echo "SKIPPED: $*"; exit 77; }
[ -f "$2" ] || skip "no shim $2"
for tool in gzip python3 timeout; do
    command -v "$tool" >/dev/null || skip "no $tool"
done
tq5=$(realpath "$1") shim=$(realpath "$2")
bgzf=$(realpath "$(dirname "$0")/../bench/bgzf.py")
genbank=$(realpath "$(dirname "$0")/genbank.awk")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# 100 records of 48 CDS features: about 870 KB, so the reader hands it over
# in four jobs.
awk -v records=100 -f "$genbank" >text
size=$(stat -c %s text)
third=$((size / 3))
head -c "$third" text >part1
tail -c +"$((third + 1))" text | head -c "$third" >part2
tail -c +"$((2 * third + 1))" text >part3
cat part1 part2 >first-two-thirds
inputs="one-member three-members bgzf bgzf-then-gzip"
mkdir plain $inputs
cp text plain/in.gb
gzip -c text >one-member/in.gb
for part in part1 part2 part3; do gzip -c $part; done >three-members/in.gb
python3 "$bgzf" text bgzf/in.gb || exit 1
python3 "$bgzf" first-two-thirds bgzf-then-gzip/in.gb && gzip -c part3 >>bgzf-then-gzip/in.gb || exit 1

# Runs tq5 on FOLDER/in.gb into FOLDER/out.t5 (console in FOLDER.console),
# with the variables given; its status in FOLDER.status.
run() {
    rm -f "$1/out.t5" "$1.refusals"
    (cd "$1" && printf '%s out g\n' in.gb |
        timeout -k 5 60 env TQ5_TEST_THREAD_REFUSALS="$work/$1.refusals" "${@:2}" "$tq5" >"../$1.console")
    echo $? >"$1.status"
}
same_as_plain() { cmp -s plain.console "$1.console" && cmp -s plain/out.t5 "$1/out.t5"; }

run plain
[ "$(cat plain.status)" = 0 ] || { echo "FAILED: the plain text, status $(cat plain.status)"; exit 1; }
for input in $inputs; do
    run "$input"
    [ "$(cat "$input.status")" = 0 ] && same_as_plain "$input" ||
        { echo "FAILED: $input with every thread started: not the plain text's run"; exit 1; }
done
# The refusals must reach the program's pthread_create (a sanitizer's
# runtime that starts threads its own way would pass them by).
run one-member LD_PRELOAD="$shim" TQ5_TEST_THREAD_STARTS=0
[ -s one-member.refusals ] || skip "the preloaded pthread_create is not called by $tq5"

failed=0
printf '%-9s %-16s %-10s %s\n' allowed input outcome refusals
for allowed in 0 1 2 3 4 5 6 unlimited; do
    limit=()
    [ "$allowed" = unlimited ] || limit=(TQ5_TEST_THREAD_STARTS="$allowed")
    # The inputs side by side: a hang costs the 60 s once per line of starts.
    for input in $inputs; do run "$input" LD_PRELOAD="$shim" "${limit[@]}" & done
    wait
    for input in $inputs; do
        status=$(cat "$input.status")
        if [ "$status" = 124 ] || [ "$status" = 137 ]; then
            outcome=HUNG
        elif [ "$status" != 0 ]; then
            outcome="status $status"
        elif same_as_plain "$input"; then
            outcome=same
        else
            outcome=DIFFERENT
        fi
        [ "$outcome" = same ] || failed=$((failed + 1))
        printf '%-9s %-16s %-10s %s\n' "$allowed" "$input" "$outcome" \
            "$(stat -c %s "$input.refusals" 2>/dev/null || echo 0)"
    done
done
[ "$failed" -eq 0 ] || { echo "FAILED: $failed runs not the same as with threads"; exit 1; }
echo "every run the same as with threads"

# The inflating workers follow the CPUs the process may run on.
refused() { stat -c %s "$1.refusals" 2>/dev/null || echo 0; }
if ! command -v taskset >/dev/null || ! taskset -c 0 true 2>/dev/null; then
    echo "not checked: the workers on one CPU (taskset -c 0 cannot be run here)"
    exit 0
fi
# ThreadSanitizer's runtime starts a thread of its own with the program's
# first one, through the same call: the refusals then do not count workers.
if grep -q __tsan_init "$tq5"; then
    echo "not checked: the workers on one CPU (a ThreadSanitizer build starts threads of its own)"
    exit 0
fi
run plain LD_PRELOAD="$shim" TQ5_TEST_THREAD_STARTS=0 taskset -c 0
own=$(refused plain)
for cpus in 0 0,1; do
    [ "$cpus" = 0 ] || taskset -c "$cpus" true 2>/dev/null || break
    run bgzf LD_PRELOAD="$shim" TQ5_TEST_THREAD_STARTS=$((own + 1)) taskset -c "$cpus"
    workers=$(refused bgzf) expected=$((${#cpus} / 2 + 1))
    echo "taskset -c $cpus: $workers inflating workers asked for"
    [ "$workers" = "$expected" ] || { echo "FAILED: on CPUs $cpus $workers workers, not $expected"; exit 1; }
done
run bgzf taskset -c 0
[ "$(cat bgzf.status)" = 0 ] && same_as_plain bgzf || { echo "FAILED: BGZF on one CPU: not the plain text's run"; exit 1; }
