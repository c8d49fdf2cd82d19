#!/usr/bin/env bash
# Many files on a Slurm cluster of one node with accounting started here (its
# configuration in tests/many-files/), all ended on every way out: on the
# inputs of tests/many-files/fixture.sh, examples/workflow/slurm-array (record
# files, reasons, summary, sacct states; a touched input redone, then nothing
# sent; scancel leaves nothing) and the README's Snakemake 7 command.
# Usage: tests/slurm.sh TQ5    (status 77 where Slurm cannot run here)
set -euo pipefail
tq5=$(realpath "$1")
skip() { echo "SKIPPED: $*" && exit 77; }
[ "$(id -u)" = 0 ] || skip "the daemons are started as root"
for tool in munged mariadbd mariadb-install-db slurmdbd sacctmgr slurmctld slurmd sbatch sacct snakemake python3; do
    command -v $tool >/dev/null || skip "$tool is not installed"
done
source "$(dirname "$0")/many-files/fixture.sh"
export SLURM_CONF=$work/slurm.conf
daemons=()
stop() { # the jobs cancelled, then each daemon ended in turn, the last started first
    trap - EXIT INT TERM
    [ ${#daemons[@]} = 0 ] || scancel --partition=tq5 2>/dev/null || true
    for _ in $(seq 50); do [ ${#daemons[@]} = 0 ] || [ -z "$(squeue -h 2>/dev/null)" ] && break; sleep 0.2; done
    for ((at = ${#daemons[@]} - 1; at >= 0; at--)); do
        kill "${daemons[at]}" 2>/dev/null && for _ in $(seq 100); do kill -0 "${daemons[at]}" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "${daemons[at]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 1' INT TERM
start() { # NAME COMMAND...: a daemon in the foreground, its output in log/NAME.out
    "${@:2}" >"$work/log/$1.out" 2>&1 &
    daemons+=($!)
}
up() { # WHAT TEST...: wait until TEST succeeds, else skip
    for _ in $(seq 150); do "${@:2}" >/dev/null 2>&1 && return; sleep 0.2; done
    tail -n 5 "$work"/log/* 2>/dev/null || true
    skip "$1 did not start here (the last lines of the logs above)"
}
read -r ctld_port slurmd_port dbd_port db_port < <(python3 -c 'import socket
s = [socket.socket() for _ in range(4)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
host=$(hostname -s)
mkdir "$work/state" "$work/spool" "$work/log" "$work/db"
head -c 1024 /dev/urandom >"$work/munge.key" && chmod 600 "$work/munge.key"
start munged munged -F --force --socket="$work/munge.socket" --key-file="$work/munge.key" \
    --pid-file="$work/munged.pid" --seed-file="$work/munged.seed" --log-file="$work/log/munged.log"
mariadb-install-db --no-defaults --datadir="$work/db" --user=root --auth-root-authentication-method=socket \
    --skip-test-db >"$work/log/mariadb-install.out" 2>&1 || skip "mariadb-install-db failed"
start mariadbd mariadbd --no-defaults --datadir="$work/db" --socket="$work/db.socket" --bind-address=127.0.0.1 \
    --port="$db_port" --user=root --pid-file="$work/db.pid" --innodb-buffer-pool-size=16M --skip-name-resolve
sql() { mariadb --no-defaults --socket="$work/db.socket" -u root -e "$1"; }
up mariadbd sql 'SELECT 1'
sql "CREATE USER 'slurm'@'127.0.0.1' IDENTIFIED BY 'tq5test'; GRANT ALL ON slurm_acct_db.* TO 'slurm'@'127.0.0.1'"
for conf in slurm.conf slurmdbd.conf; do
    sed "s|@WORK@|$work|g; s|@HOST@|$host|g; s|@CTLD_PORT@|$ctld_port|; s|@SLURMD_PORT@|$slurmd_port|; s|@DBD_PORT@|$dbd_port|;
        s|@DB_PORT@|$db_port|; s|@CPUS@|$(nproc)|" "$root/tests/many-files/$conf" >"$work/$conf" && chmod 600 "$work/$conf"
done
up munged test -S "$work/munge.socket"
start slurmdbd slurmdbd -D
up slurmdbd sacctmgr -n list cluster
sacctmgr -i add cluster tq5test >/dev/null && sacctmgr -i add account tq5 cluster=tq5test >/dev/null &&
    sacctmgr -i add user "$(id -un)" account=tq5 defaultaccount=tq5 cluster=tq5test >/dev/null || skip "sacctmgr failed"
start slurmctld slurmctld -D -i
up slurmctld scontrol ping
start slurmd slurmd -D -N tq5node
idle() { [ "$(sinfo -h -o %T)" = idle ]; }
up slurmd idle
echo "a Slurm cluster of one node: $(sinfo -h -o '%P %D node, %c CPUs, %T'), accounting: $(sacctmgr -n -P list assoc format=cluster,account,user | tr '\n' ' ')"

states() { # JOB...: once every job has ended, each job's or task's ID and state as the accounting has them
    local all job known
    for _ in $(seq 600); do
        all=$(sacct -n -X -P -o JobID,State -j "$(tr ' ' , <<<"$*")" | sed 's/ by .*//' | sort -t _ -k1,1n -k2,2n)
        known=yes && for job in "$@"; do grep -q -E "^${job}[|_]" <<<"$all" || known=no; done
        [ -z "$(squeue -h -j "$(tr ' ' , <<<"$*")")" ] && [ "$known" = yes ] && ! grep -q -v -E '\|(COMPLETED|FAILED|CANCELLED|TIMEOUT)$' <<<"$all" && echo "$all" && return
        sleep 0.2
    done
    fail "jobs $* have not ended: $all"
}
submit() { # OUTPUT SUBMIT-ARGUMENT...: the array command in $dir; sets array and jobs
    (cd "$dir" && TQ5=$tq5 examples/workflow/slurm-array "${@:2}" -- -p tq5) >"$dir/$1" 2>&1 || fail "submit: $(cat "$dir/$1")"
    array=$(grep -o -E '[^ ]+/logs/array-[^ ]+' "$dir/$1" | head -n 1 | sed 's|/summary.txt$||')
    jobs=$(grep -o -E '(array job|summary job) [0-9]+' "$dir/$1" | grep -o -E '[0-9]+$' | tr '\n' ' ')
}

step="the job array" dir=$work/array
mkdir "$dir" && cp -r "$in" "$dir/" && ln -s "$root/examples" "$dir/examples"
began=$SECONDS
submit submit.txt --files 4 --at-once 2 --time 5 genbank
sacct_lines=$(states $jobs)
array_seconds=$((SECONDS - began))
read -r job summary_job <<<"$jobs"
check "$dir/t5" "${good[@]}" && reasons "$dir/t5" "$array"/task-*.out "$array/summary.txt"
grep -q -F -- "$skipped" "$dir/submit.txt" || fail "the skipped files not named: $(cat "$dir/submit.txt")"
[ "$(grep -c '^failed: ' "$array/summary.txt")" = 2 ] && grep -q -x '10 files: 8 done, 2 failed' "$array/summary.txt" ||
    fail "summary: $(cat "$array/summary.txt")"
tasks=$(ls "$array"/batch-* | wc -l)
expected=$(for ((t = 0; t < tasks; t++)); do
    grep -q cut-short "$array/batch-$t" && echo "${job}_$t|FAILED" || echo "${job}_$t|COMPLETED"
done)$'\n'"$summary_job|FAILED"
[ "$tasks" = 3 ] && [ "$sacct_lines" = "$expected" ] || fail "$tasks tasks, sacct: $sacct_lines"

step="the job array, again"
rm "$dir/genbank/cut-short.seq.gz" "$dir/genbank/has blank.gb" && touch "$dir/genbank/it's.gb"
submit again.txt --files 4 genbank
[ "$(states $jobs | cut -d '|' -f 2 | tr '\n' ' ')" = "COMPLETED COMPLETED " ] && [ "$(cat "$array"/batch-*)" = "genbank/it's.gb" ] ||
    fail "$(cat "$dir/again.txt" "$array"/batch-*)"
check "$dir/t5" "${good[@]}" && [ "$dir/t5/it's.gb.t5" -nt "$dir/genbank/it's.gb" ] || fail "it's.gb not redone"
(cd "$dir" && TQ5=$tq5 examples/workflow/slurm-array genbank -- -p tq5) >"$dir/nothing.txt" 2>&1 &&
    grep -q '^slurm-array: nothing to do' "$dir/nothing.txt" || fail "$(cat "$dir/nothing.txt")"

step="scancel"
mkdir "$dir/endless" && truncate -s 1T "$dir/endless/endless.gb" && cp "$in/plasmid.gb" "$dir/endless/zz.gb"
submit endless.txt --into stopped --bytes 2T endless
for _ in $(seq 300); do grep -q 'Type G' "$dir/stopped/logs/endless.gb.log" 2>/dev/null && break; sleep 0.1; done
scancel "${jobs%% *}" && ended=$(states $jobs)
[ -z "$(find "$dir/stopped" -name '*.t5' -o -name '.run-tq5*')" ] || fail "left: $(ls -A "$dir/stopped")"
grep -q -x 'failed: endless/endless.gb: ended by a signal before tq5 finished (a cancelled job, a time limit)' "$array/summary.txt" &&
    grep -q '^failed: endless/zz.gb: not run: its task was cancelled' "$array/summary.txt" ||
    fail "summary: $(cat "$array/summary.txt")"
[ "$(cut -d '|' -f 2 <<<"$ended" | tr '\n' ' ')" = "CANCELLED FAILED " ] || fail "sacct: $ended"
[ -z "$(find /proc/[0-9]* -maxdepth 1 -name cwd \( -lname "$dir" -o -lname "$dir/*" \) 2>/dev/null)" ] || fail "still running"

step="Snakemake 7" dir=$work/snakemake
mkdir "$dir" && cp -r "$in" "$dir/" && ln -s "$root/examples" "$dir/examples"
command=$(awk '/^snakemake -s examples\/workflow\/Snakefile --jobs/ { on = 1 } on { print } on && !/\\$/ { exit }' \
    "$root"/README.md "$root"/docs/development.md 2>/dev/null) || true
grep -q -- "--cluster 'sbatch" <<<"$command" || fail "no Slurm command in README.md or docs/development.md"
command=$(sed -E "s/ -A ACCOUNT//; s/PARTITION/tq5/; s/tq5=[0-9]+/tq5=4/; s/--latency-wait [0-9]+/--latency-wait 3/" <<<"$command")
submitted() { grep -c '_slurm_rpc_submit_batch_job: JobId=' "$work/log/slurmctld.log" || true; }
before=$(submitted) began=$SECONDS
(cd "$dir" && bash -c "$command --config tq5='$tq5'") >"$dir/run.txt" 2>&1 && fail "status 0"
snakemake_seconds=$((SECONDS - began)) snakemake_jobs=$(($(submitted) - before))
check "$dir/t5" "${plain[@]}" && reasons "$dir/t5" "$dir"/slurm-*.out
grep -q '^Error executing group job tq5 on cluster' "$dir/run.txt" || fail "no failed job reported"
[ "$snakemake_jobs" -ge 1 ] && [ "$snakemake_jobs" -le 3 ] && [ "$snakemake_jobs" = "$(grep -c '^Submitted group job' "$dir/run.txt")" ] ||
    fail "$snakemake_jobs Slurm jobs for 9 files in batches of 4"
rm "$dir/genbank/cut-short.seq.gz" "$dir/genbank/has blank.gb" "$dir/genbank/a{1}.gb"
before=$(submitted)
(cd "$dir" && bash -c "$command --config tq5='$tq5'") >"$dir/run.txt" 2>&1 && [ "$(submitted)" = "$before" ] ||
    fail "second run: $(tail "$dir/run.txt")"

summary="job array: 10 files, $tasks tasks and a summary job, $array_seconds s, ${#good[@]} record files the same as tq5's own, cut-short.seq.gz failed (its task FAILED, the rest of its batch done), scancel left nothing; Snakemake $(snakemake --version) --cluster: 10 files (a{1}.gb left out), $snakemake_jobs Slurm jobs, $snakemake_seconds s, ${#plain[@]} record files the same"
echo "passed: $summary"
echo "sacct of the first array: $(tr '\n' ' ' <<<"$sacct_lines")"
[ -z "${TQ5_SUMMARY:-}" ] || echo "Slurm (one node, with accounting): $summary" >>"$TQ5_SUMMARY"
