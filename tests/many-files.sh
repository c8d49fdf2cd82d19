#!/usr/bin/env bash
# tq5 over a folder, both ways of the README: examples/workflow/Snakefile under
# Snakemake (--cores 2 --keep-going) and the GNU parallel line, copied from the
# README.  Inputs: tests/many-files/in/ and copies made here, named with a
# leading "-", with braces and with a blank.  Each way, from an empty t5/:
#   1. every good input's record file equals tq5's own run on it (its bare name
#      typed in its folder) byte for byte; cut-short.seq.gz and the blank name
#      fail, are reported and leave no record file; the status is not 0;
#   2. a second run runs the failed two again and writes nothing else;
#   3. the failed two removed and a new file arrived: only the new one runs;
#   4. then a run does nothing; 5. one record file removed: only it is redone.
# Then run-tq5 alone: a tq5 that quits (status 0, its record file made empty,
# no "done") fails and leaves no record file; the record file is synced before
# its rename (strace, where installed); TERM ends the wrapper and its tq5 at
# once (tq5 reading a sparse file of 1 TiB) and leaves no record file.
# The inputs are made up; cut-short.seq.gz is the first 600 bytes of a gzip file
# of one record with 60 CDS features (a download cut short).
# Usage: tests/many-files.sh TQ5     (status 77: snakemake or parallel missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tq5=$(realpath "$1")
for tool in snakemake parallel; do
    command -v $tool >/dev/null || { echo "SKIPPED: $tool is not installed" && exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED ($way, $step): $*" >&2 && exit 1; }

# tq5's own runs, in the inputs' folder; the good ones must end with status 0.
mkdir "$work/genbank" "$work/ref"
cp "$root"/tests/many-files/in/* "$work/genbank/"
cp "$work/genbank/plasmid.gb" "$work/genbank/-leading-dash.gbk"
cp "$work/genbank/contigs.seq" "$work/genbank/has blank.gb"
cp "$work/genbank/plasmid.gb" "$work/genbank/a{1}.gb"
gzip -nc "$work/genbank/contigs.seq" >"$work/late.seq.gz"
reference() { (cd "$work/genbank" && "$tq5" <<<"$1 $work/ref/$1 g" >/dev/null); }
good=()
for path in "$work"/genbank/*; do
    name=${path##*/}
    [[ $name =~ \.(gb|gbk|gbff|seq)(\.gz)?$ && $name != *' '* && $name != cut-short.seq.gz ]] || continue
    good+=("$name")
    reference "$name" || { echo "FAILED: tq5 on $name" >&2 && exit 1; }
done
! reference cut-short.seq.gz || { echo "FAILED: tq5 did not fail on cut-short.seq.gz" >&2 && exit 1; }
cp "$work/late.seq.gz" "$work/genbank/" && reference late.seq.gz && rm "$work/genbank/late.seq.gz"

parallel_line=$(grep -A1 '^ls genbank | grep' "$root/README.md")
grep -q 'parallel --will-cite' <<<"$parallel_line" || { echo "FAILED: no parallel line in README.md" >&2 && exit 1; }
run() { # the way's run in $dir: its output in $dir/run.txt, its status
    local status=0
    touch "$dir/marker"
    sleep 0.05 # the marker older than whatever the run writes
    if [ "$way" = snakemake ]; then
        snakemake -s "$root/examples/workflow/Snakefile" -d "$dir" --cores 2 --keep-going \
            --config tq5="$tq5" >"$dir/run.txt" 2>&1 || status=$?
    else
        (cd "$dir" && TQ5=$tq5 bash -c "set -o pipefail; $parallel_line") >"$dir/run.txt" 2>&1 || status=$?
    fi
    echo $status
}
written() { (cd "$dir" && find t5 -newer marker -type f | sort | tr '\n' ' '); }
records() { # the record files in t5/ are exactly those of the names given, as tq5's own runs
    [ "$(cd "$dir/t5" && find . -name '*.t5' -printf '%P\n' | sort)" = "$(printf '%s.t5\n' "$@" | sort)" ] ||
        fail "record files: $(find "$dir/t5" -printf '%P ')"
    for name in "$@"; do cmp "$work/ref/$name.t5" "$dir/t5/$name.t5" || fail "$name.t5 differs"; done
    [ -z "$(find "$dir/t5" -name '.run-tq5.*')" ] || fail "a temporary folder is left"
}
both_failed() { # reported by the way, their logs tell why
    if [ "$way" = snakemake ]; then
        [ "$(awk '/^Error in rule tq5:/ { e = 1 } e && /^ *input: / { sub(/^ *input: /, ""); print; e = 0 }' \
            "$dir/run.txt" | sort | tr '\n' ' ')" = "genbank/cut-short.seq.gz genbank/has blank.gb " ] ||
            fail "Snakemake does not report the two failed jobs: $(cat "$dir/run.txt")"
    else
        [ "$status" != 0 ] || fail "status 0"
    fi
    grep -q '^run-tq5: genbank/cut-short.seq.gz: tq5 failed with status 1: PROBLEM READING' "$dir/run.txt" &&
        grep -q '^run-tq5: genbank/has blank.gb: the name holds a blank' "$dir/run.txt" || fail "no reason told"
    grep -q 'PROBLEM READING THE FILE cut-short.seq.gz.' "$dir/t5/logs/cut-short.seq.gz.log" ||
        fail "the log of cut-short.seq.gz"
}

for way in snakemake parallel; do
    dir=$work/$way
    mkdir "$dir" && cp -r "$work/genbank" "$dir/" && ln -s "$root/examples" "$dir/examples"
    step="first run"
    status=$(run)
    [ "$status" != 0 ] || fail "status 0"
    records "${good[@]}"
    both_failed
    for name in "${good[@]}"; do grep -q 'TQ5_v3 done.' "$dir/t5/logs/$name.log" || fail "the log of $name"; done
    if [ "$way" = snakemake ]; then # the failed jobs' outputs are missing for Snakemake, the others ok
        snakemake -s "$root/examples/workflow/Snakefile" -d "$dir" --summary >"$dir/summary.txt" 2>&1
        state() { awk -F '\t' -v s="$1" '$6 == s { print $1 }' "$dir/summary.txt" | sort | tr '\n' ' '; }
        [ "$(state ok)" = "$(printf 't5/%s.t5\n' "${good[@]}" | sort | tr '\n' ' ')" ] &&
            [ "$(state missing)" = "t5/cut-short.seq.gz.t5 t5/has blank.gb.t5 " ] ||
            fail "summary: $(cat "$dir/summary.txt")"
    fi

    step="second run"
    status=$(run)
    [ "$status" != 0 ] || fail "status 0"
    [ "$(written)" = "t5/logs/cut-short.seq.gz.log t5/logs/has blank.gb.log " ] || fail "wrote $(written)"
    records "${good[@]}"
    both_failed

    step="a new file"
    rm "$dir/genbank/cut-short.seq.gz" "$dir/genbank/has blank.gb"
    cp "$work/late.seq.gz" "$dir/genbank/"
    status=$(run)
    [ "$status" = 0 ] || fail "status $status: $(cat "$dir/run.txt")"
    [ "$(written)" = "t5/late.seq.gz.t5 t5/logs/late.seq.gz.log " ] || fail "wrote $(written)"
    records "${good[@]}" late.seq.gz

    step="nothing to do"
    status=$(run)
    [ "$status" = 0 ] && [ -z "$(written)" ] || fail "status $status, wrote $(written)"

    step="one record file removed"
    rm "$dir/t5/-leading-dash.gbk.t5"
    status=$(run)
    [ "$status" = 0 ] || fail "status $status: $(cat "$dir/run.txt")"
    [ "$(written)" = "t5/-leading-dash.gbk.t5 t5/logs/-leading-dash.gbk.log " ] || fail "wrote $(written)"
    records "${good[@]}" late.seq.gz
    echo "passed: $way"
done

way=run-tq5 dir=$work/alone
mkdir "$dir" && cd "$dir" && cp "$work/genbank/plasmid.gb" .
step="a quit"
printf '#!/bin/sh\nread -r name out go && exec "%s" <<EOF\n$name $out q\nEOF\n' "$tq5" >quits
chmod +x quits
! TQ5=./quits "$root/examples/workflow/run-tq5" plasmid.gb t5/q.t5 q.log 2>err.txt || fail "status 0"
[ ! -e t5/q.t5 ] && grep -q 'without "done": TQ5_v3 halted' err.txt || fail "$(cat err.txt; ls t5)"
step="synced before the rename"
if command -v strace >/dev/null; then
    TQ5=$tq5 strace -f -y -qq -e trace=fsync,fdatasync,rename,renameat,renameat2 -o trace.txt \
        "$root/examples/workflow/run-tq5" plasmid.gb t5/p.t5 p.log
    cmp -s t5/p.t5 "$work/ref/plasmid.gb.t5" || fail "p.t5 differs"
    [ "$(grep -E -o '(f(data)?sync\(.*/out/plasmid.gb.t5>|rename.*/out/plasmid.gb.t5", .*"t5/p.t5")' trace.txt | cut -c 1-5)" = \
        "$(printf 'fsync\nrenam')" ] || fail "$(cat trace.txt)"
else
    echo "not checked (strace is not installed): $step"
fi
step="TERM"
truncate -s 1T endless.gb
TQ5=$tq5 setsid "$root/examples/workflow/run-tq5" endless.gb t5/e.t5 e.log 2>/dev/null &
wrapper=$! # in a process group of its own, with its tq5
for _ in $(seq 100); do grep -q 'Type G' e.log 2>/dev/null && break; sleep 0.1; done
program=$(pgrep -x -g $wrapper tq5 || true)
[ -n "$program" ] || fail "no tq5 running"
kill -TERM $wrapper
for _ in $(seq 30); do kill -0 $wrapper 2>/dev/null || break; sleep 0.1; done
if kill -0 $wrapper 2>/dev/null || kill -0 "$program" 2>/dev/null; then
    kill -KILL -- -$wrapper 2>/dev/null
    fail "still running 3 s after TERM"
fi
[ ! -e t5/e.t5 ] && [ -z "$(find t5 -name '.run-tq5.*')" ] || fail "left $(ls -A t5)"
echo "passed: $way (a quit, synced before the rename, TERM)"
cd "$root"
echo "3 passed, 0 failed"
