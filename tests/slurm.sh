#!/usr/bin/env bash
# A Slurm cluster of one node with accounting, started here and ended on every way out; on it, the
# files of tests/many-files/fixture.sh through examples/workflow/slurm-array and Snakemake --cluster.
# Usage: tests/slurm.sh TQ5    (status 77 where Slurm cannot run here)
source "$(dirname "$0")/many-files/fixture.sh" "$1" munged mariadb-install-db mariadbd slurmdbd slurmctld slurmd \
    sacctmgr sbatch sacct snakemake python3
[ "$(id -u)" = 0 ] || skip "the daemons are started as root"
export SLURM_CONF=$work/slurm.conf MYSQL_UNIX_PORT=$work/db.socket
daemons=()
stop() { # the jobs cancelled, then each daemon ended, the last started first
    set +e
    [ ${#daemons[@]} -lt 4 ] || { scancel -p tq5 && for _ in $(seq 50); do [ -z "$(squeue -h)" ] && break; sleep 0.2; done; }
    for ((at = ${#daemons[@]} - 1; at >= 0; at--)); do
        kill "${daemons[at]}" && timeout 10 tail --pid="${daemons[at]}" -f /dev/null || kill -KILL "${daemons[at]}"
    done
}
trap 'stop 2>/dev/null; cleanup' EXIT
start() { # NAME READY COMMAND...: a daemon in the foreground (output in NAME.out), then until READY succeeds
    "${@:3}" >"$work/$1.out" 2>&1 &
    daemons+=($!)
    for _ in $(seq 150); do eval "$2" >/dev/null 2>&1 && return; sleep 0.2; done
    tail -n 5 "$work"/*.out && skip "$1 did not start here (the last lines of the logs above)"
}
read -r ctld_port slurmd_port dbd_port < <(python3 -c 'import socket
s = [socket.create_server(("127.0.0.1", 0)) for _ in range(3)]
print(*(x.getsockname()[1] for x in s))')
for conf in slurm.conf slurmdbd.conf; do
    sed "s|@WORK@|$work|g; s|@CTLD_PORT@|$ctld_port|; s|@SLURMD_PORT@|$slurmd_port|; s|@DBD_PORT@|$dbd_port|;
        s|@CPUS@|$(nproc)|" "$root/tests/many-files/$conf" >"$work/$conf" && chmod 600 "$work/$conf"
done
mkdir "$work/state" "$work/spool" && head -c 1024 /dev/urandom >"$work/munge.key" && chmod 600 "$work/munge.key"
start munged 'test -S $work/munge.socket' munged -F --force --socket="$work/munge.socket" --key-file="$work/munge.key" \
    --pid-file="$work/munged.pid" --seed-file="$work/munged.seed" --log-file="$work/munged.log"
mariadb-install-db --no-defaults --datadir="$work/db" --user=root --skip-test-db >"$work/db.out" 2>&1 ||
    skip "mariadb-install-db failed"
start mariadbd 'test -S $MYSQL_UNIX_PORT' mariadbd --no-defaults --datadir="$work/db" --socket="$MYSQL_UNIX_PORT" \
    --skip-networking --user=root
start slurmdbd 'sacctmgr -n list cluster' slurmdbd -D
start slurmctld 'scontrol ping' slurmctld -D -i
start slurmd '[ "$(sinfo -h -o %T)" = idle ]' slurmd -D -N tq5node

sacct_is() { # JOBS STATES: wait until JOBS (a,b) have ended with STATES, each job's or task's "ID|STATE" a line
    for _ in $(seq 600); do
        states=$(sacct -n -X -P -o JobID,State -j "$1" | sed 's/ by .*//' | sort -t _ -k1,1n -k2,2n)
        [ -n "$(squeue -h -j "$1")" ] || [ "$states" != "$2" ] || return 0
        sleep 0.2
    done
    fail "sacct: $states"
}
submit() { # OUTPUT ARGUMENT...: slurm-array in $dir; sets job, summary_job and array (its folder)
    (cd "$dir" && examples/workflow/slurm-array "${@:2}" -- -p tq5) >"$dir/$1" 2>&1 || fail "submit: $(cat "$dir/$1")"
    read -r job summary_job array < <(sed -n -E 's|.*array job ([0-9]+),.* job ([0-9]+) writes (.*)/summary.txt$|\1 \2 \3|p' "$dir/$1")
}

step="the job array" && folder "$work/array" && began=$SECONDS files=$((${#good[@]} + 2))
submit submit.txt --files 4 --at-once 2 --time 5 genbank
tasks=$(ls "$array"/batch-* | wc -l)
sacct_lines=$(grep -c cut-short "$array"/batch-* | sed "s/.*batch-/${job}_/; s/:0$/|COMPLETED/; s/:1$/|FAILED/"
    echo "$summary_job|FAILED")
sacct_is "$job,$summary_job" "$sacct_lines" && array_seconds=$((SECONDS - began))
check "$dir/t5" "${good[@]}" && reasons "$dir/t5" "$dir/submit.txt" "$array"/task-*.out "$array/summary.txt"
[ "$tasks" = 3 ] && [ "$(grep -c '^failed: ' "$array/summary.txt")" = 2 ] &&
    grep -q -x "$files files: ${#good[@]} done, 2 failed" "$array/summary.txt" || fail "$tasks tasks, summary: $(cat "$array/summary.txt")"

step="the job array, again"
rm "$dir/genbank/cut-short.seq.gz" "$dir/genbank/has blank.gb" && touch "$dir/genbank/it's.gb"
submit again.txt --files 4 genbank
[ "$(cat "$array"/batch-*)" = "genbank/it's.gb" ] || fail "sent: $(cat "$array"/batch-*)"
sacct_is "$job,$summary_job" "${job}_0|COMPLETED"$'\n'"$summary_job|COMPLETED"
check "$dir/t5" "${good[@]}" && [ "$dir/t5/it's.gb.t5" -nt "$dir/genbank/it's.gb" ] || fail "it's.gb not redone"
(cd "$dir" && examples/workflow/slurm-array genbank -- -p tq5) >"$dir/nothing.txt" 2>&1 &&
    grep -q '^slurm-array: nothing to do' "$dir/nothing.txt" || fail "$(cat "$dir/nothing.txt")"

step="scancel"
mkdir "$dir/endless" && truncate -s 1T "$dir/endless/endless.gb" && cp "$in/plasmid.gb" "$dir/endless/zz.gb"
submit endless.txt --into stopped --bytes 2T endless
for _ in $(seq 300); do grep -q 'Type G' "$dir/stopped/logs/endless.gb.log" 2>/dev/null && break; sleep 0.1; done
scancel "$job" && sacct_is "$job,$summary_job" "${job}_0|CANCELLED"$'\n'"$summary_job|FAILED"
check "$dir/stopped" && [ -z "$(running "$dir")" ] || fail "left in stopped/ or still running"
grep -q -x 'failed: endless/endless.gb: ended by a signal before tq5 finished (a cancelled job, a time limit)' "$array/summary.txt" &&
    grep -q '^failed: endless/zz.gb: not run: its task was cancelled' "$array/summary.txt" ||
    fail "summary: $(cat "$array/summary.txt")"

step="Snakemake 7" && folder "$work/snakemake" && began=$SECONDS
command="$(readme '^snakemake -s examples/workflow/Snakefile --jobs' |
    sed -E "s/ -A ACCOUNT//; s/PARTITION/tq5/; s/tq5=[0-9]+/tq5=4/; s/--latency-wait [0-9]+/--latency-wait 3/") --config tq5='$TQ5'"
(cd "$dir" && bash -c "$command") >"$dir/run.txt" 2>&1 && fail "status 0"
snakemake_seconds=$((SECONDS - began)) snakemake_jobs=$(ls "$dir"/slurm-*.out | wc -l)
check "$dir/t5" "${plain[@]}" && reasons "$dir/t5" "$dir"/slurm-*.out "$dir/run.txt"
grep -q '^Error executing group job tq5 on cluster' "$dir/run.txt" && [ "$snakemake_jobs" -ge 1 ] && [ "$snakemake_jobs" -le 3 ] ||
    fail "$snakemake_jobs Slurm jobs for $((${#plain[@]} + 1)) files in batches of 4: $(cat "$dir/run.txt")"
rm "$dir/genbank/cut-short.seq.gz" "$dir/genbank/has blank.gb" "$dir/genbank/a{1}.gb"
(cd "$dir" && bash -c "$command") >"$dir/run.txt" 2>&1 && [ "$(ls "$dir"/slurm-*.out | wc -l)" = "$snakemake_jobs" ] ||
    fail "second run: $(tail "$dir/run.txt")"

summary="job array: $files files, $tasks tasks and a summary job, $array_seconds s, ${#good[@]} record files the same as tq5's own, cut-short.seq.gz failed (its task FAILED, the rest of its batch done), scancel left nothing; Snakemake $(snakemake --version) --cluster: $files files (a{1}.gb left out), $snakemake_jobs Slurm jobs, $snakemake_seconds s, ${#plain[@]} record files the same"
echo "passed: $summary"
echo "sacct of the first array: $(tr '\n' ' ' <<<"$sacct_lines")"
[ -z "${TQ5_SUMMARY:-}" ] || echo "Slurm (one node, with accounting): $summary" >>"$TQ5_SUMMARY"
