#!/usr/bin/env bash
# The files of tests/many-files/fixture.sh through the README's Snakemake command and GNU parallel
# line, three runs each; then run-tq5 alone: a quit, the sync before the rename (strace), TERM.
# Usage: tests/many-files.sh TQ5     (status 77: snakemake or parallel missing)
source "$(dirname "$0")/many-files/fixture.sh" "$1" snakemake parallel
snakemake="$(readme '^snakemake -s examples/workflow/Snakefile --cores') --config tq5='$TQ5'"
parallel=$(readme '^examples/workflow/genbank-names genbank')
run() { # FAILS: the way's command in $dir, whose status must be 0 (FAILS 0) or not (1)
    local status=0
    touch "$dir/marker" && sleep 0.05
    (cd "$dir" && bash -o pipefail -c "${!way}") >"$dir/run.txt" 2>&1 || status=$?
    [ $((status != 0)) = "$1" ] || fail "status $status: $(cat "$dir/run.txt")"
}
wrote() { # FILE...: the last run wrote these files in t5/ and no others
    [ "$(cd "$dir" && find t5 -newer marker -type f | sort)" = "$(printf '%s\n' "$@" | sort)" ] ||
        fail "wrote: $(cd "$dir" && find t5 -newer marker -type f)"
}

for way in snakemake parallel; do
    folder "$work/$way" && names=("${plain[@]}") braced=1
    [ $way = snakemake ] || names=("${good[@]}") braced=0
    step="$way, first run" && run 1
    reasons "$dir/t5" "$dir/run.txt"
    [ $braced = 0 ] || grep -q "Snakefile: left out, Snakemake cannot take braces .*: a{1}.gb$" "$dir/run.txt" ||
        fail "a{1}.gb not named"
    step="$way, second run" && cp "$work/late.seq.gz" "$dir/genbank/" && touch "$dir/genbank/it's.gb"
    rm "$dir/t5/-leading-dash.gbk.t5" && run 1 # Snakemake 7 takes a small file's checksum, not its time
    wrote t5/{-leading-dash.gbk,late.seq.gz}.t5 t5/logs/{-leading-dash.gbk,late.seq.gz,cut-short.seq.gz,has\ blank.gb}.log \
        $([ $braced = 1 ] || echo "t5/it's.gb.t5 t5/logs/it's.gb.log")
    check "$dir/t5" "${names[@]}" late.seq.gz
    step="$way, nothing to do" && rm "$dir/genbank/cut-short.seq.gz" "$dir/genbank/has blank.gb"
    run $braced && wrote
    echo "passed: $way"
done

step="run-tq5 alone" dir=$work/alone run=$root/examples/workflow/run-tq5
mkdir "$dir" && cd "$dir" && cp "$in/plasmid.gb" . && truncate -s 1T endless.gb
printf '#!/bin/sh\nread -r name out go && exec "%s" <<EOF\n$name $out q\nEOF\n' "$TQ5" >quits && chmod +x quits
! TQ5=./quits "$run" plasmid.gb t5/q.t5 q.log 2>err.txt && [ ! -e t5/q.t5 ] &&
    grep -q 'without "done": TQ5_v3 halted' err.txt || fail "a quit: $(cat err.txt; ls t5)"
if command -v strace >/dev/null; then
    strace -f -y -qq -e trace=fsync,fdatasync,rename,renameat,renameat2 -o trace.txt "$run" plasmid.gb t5/p.t5 p.log
    [ "$(grep -E -o '(f(data)?sync\(.*/out/plasmid.gb.t5>|rename.*/out/plasmid.gb.t5", .*"t5/p.t5")' trace.txt |
        cut -c 1-5)" = "$(printf 'fsync\nrenam')" ] || fail "not synced before its rename: $(cat trace.txt)"
else
    echo "not checked (strace is not installed): the record file synced before its rename"
fi
status=0 && timeout --foreground -k 3 2 "$run" endless.gb e/e.t5 e.log 2>err.txt || status=$?
cd "$root" # not in $dir, where no process may be left
[ $status = 124 ] && [ -z "$(ls -A "$dir/e")" ] && [ -z "$(running "$dir")" ] && grep -q 'endless.gb: ended by a signal' "$dir/err.txt" ||
    fail "TERM: status $status, $(ls -A "$dir/e"; cat "$dir/err.txt")"
echo "passed: run-tq5 alone (a quit, synced before the rename, TERM)"
echo "3 passed, 0 failed"
