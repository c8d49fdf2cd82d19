#!/usr/bin/env bash
# tq5 over the folder of tests/many-files/fixture.sh, both ways of the README
# (the Snakefile, the parallel line): the skipped files named, the record
# files tq5's own, the bad inputs reported; a second run redoes only those;
# new, removed (parallel: touched) files alone run; then nothing.  Then
# run-tq5 alone: a quit fails, the record file is synced before its rename
# (strace, where installed), TERM ends it and its tq5 at once.
# Usage: tests/many-files.sh TQ5     (status 77: snakemake or parallel missing)
set -euo pipefail
tq5=$(realpath "$1")
for tool in snakemake parallel; do
    command -v $tool >/dev/null || { echo "SKIPPED: $tool is not installed" && exit 77; }
done
source "$(dirname "$0")/many-files/fixture.sh"
parallel_line=$(awk '/^examples\/workflow\/genbank-names genbank \|/ { print; getline; print; exit }' "$root"/README.md) ||
    fail "no parallel line in README.md"
run() { # FAILED: the way's run in $dir, whose status must be 0 (FAILED 0) or not (1); its output in $dir/run.txt
    local status=0
    touch "$dir/marker" && sleep 0.05
    if [ $way = snakemake ]; then
        snakemake -s "$root/examples/workflow/Snakefile" -d "$dir" --cores 2 --keep-going --config tq5="$tq5" \
            >"$dir/run.txt" 2>&1 || status=$?
    else
        (cd "$dir" && TQ5=$tq5 bash -c "set -o pipefail; $parallel_line") >"$dir/run.txt" 2>&1 || status=$?
    fi
    [ $((status != 0)) = "$1" ] || fail "status $status: $(cat "$dir/run.txt")"
}
wrote() { # FILE...: the last run wrote these files in t5/ and no others
    local files
    files=$(cd "$dir" && find t5 -newer marker -type f | sort)
    [ "$files" = "$(printf '%s\n' "$@" | sort | sed '/^$/d')" ] || fail "wrote: $files"
}

for way in snakemake parallel; do
    dir=$work/$way names=("${good[@]}")
    [ $way = parallel ] || names=("${plain[@]}")
    mkdir "$dir" && cp -r "$in" "$dir/" && ln -s "$root/examples" "$dir/examples"
    step="$way, first run" && run 1
    check "$dir/t5" "${names[@]}" && reasons "$dir/t5" "$dir/run.txt"
    grep -q -F -- "$skipped" "$dir/run.txt" || fail "the skipped files not named"
    [ $way = parallel ] || grep -q "Snakefile: left out, Snakemake cannot take braces .*: a{1}.gb$" "$dir/run.txt" ||
        fail "a{1}.gb not named"
    step="$way, second run" && run 1
    wrote t5/logs/cut-short.seq.gz.log "t5/logs/has blank.gb.log"
    step="$way, new, removed and touched" && rm "$dir/genbank/cut-short.seq.gz" "$dir/genbank/has blank.gb" "$dir/t5/-leading-dash.gbk.t5"
    cp "$work/late.seq.gz" "$dir/genbank/"
    [ $way = snakemake ] || touch "$dir/genbank/it's.gb" # Snakemake 7 takes a small file's checksum
    run $([ $way = snakemake ] && echo 1 || echo 0)
    wrote t5/{-leading-dash.gbk,late.seq.gz}.t5 t5/logs/{-leading-dash.gbk,late.seq.gz}.log \
        $([ $way = snakemake ] || echo "t5/it's.gb.t5 t5/logs/it's.gb.log")
    check "$dir/t5" "${names[@]}" late.seq.gz
    step="$way, nothing to do" && run $([ $way = snakemake ] && echo 1 || echo 0) && wrote
    echo "passed: $way"
done

step="run-tq5 alone" dir=$work/alone
mkdir "$dir" && cd "$dir" && cp "$in/plasmid.gb" . && truncate -s 1T endless.gb
printf '#!/bin/sh\nread -r name out go && exec "%s" <<EOF\n$name $out q\nEOF\n' "$tq5" >quits && chmod +x quits
! TQ5=./quits "$root/examples/workflow/run-tq5" plasmid.gb t5/q.t5 q.log 2>err.txt || fail "status 0"
[ ! -e t5/q.t5 ] && grep -q 'without "done": TQ5_v3 halted' err.txt || fail "a quit: $(cat err.txt; ls t5)"
if command -v strace >/dev/null; then
    TQ5=$tq5 strace -f -y -qq -e trace=fsync,fdatasync,rename,renameat,renameat2 -o trace.txt \
        "$root/examples/workflow/run-tq5" plasmid.gb t5/p.t5 p.log && cmp t5/p.t5 "$work/ref/plasmid.gb.t5"
    [ "$(grep -E -o '(f(data)?sync\(.*/out/plasmid.gb.t5>|rename.*/out/plasmid.gb.t5", .*"t5/p.t5")' trace.txt |
        cut -c 1-5)" = "$(printf 'fsync\nrenam')" ] || fail "not synced before its rename: $(cat trace.txt)"
else
    echo "not checked (strace is not installed): the record file synced before its rename"
fi
TQ5=$tq5 setsid "$root/examples/workflow/run-tq5" endless.gb t5/e.t5 e.log 2>err.txt &
wrapper=$! # in a process group of its own, with its tq5
for _ in $(seq 100); do grep -q 'Type G' e.log 2>/dev/null && break; sleep 0.1; done
program=$(pgrep -x -g $wrapper tq5) || fail "no tq5 running"
kill -TERM $wrapper && for _ in $(seq 30); do kill -0 $wrapper 2>/dev/null || break; sleep 0.1; done
if kill -0 $wrapper 2>/dev/null || kill -0 "$program" 2>/dev/null; then
    kill -KILL -- -$wrapper 2>/dev/null
    fail "still running 3 s after TERM"
fi
[ ! -e t5/e.t5 ] && [ -z "$(find t5 -name '.run-tq5.*')" ] && grep -q 'endless.gb: ended by a signal' err.txt ||
    fail "TERM: $(ls -A t5; cat err.txt)"
echo "passed: run-tq5 alone (a quit, synced before the rename, TERM)"
cd "$root" && echo "3 passed, 0 failed"
