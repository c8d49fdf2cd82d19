#!/usr/bin/env bash
# The workflow on a real Slurm cluster of one node, made and ended here: munged,
# slurmctld and slurmd started as root with a configuration in a temporary
# folder (no accounting, no cgroups), stopped on every way out.  The README's
# Slurm command (its account left out, the partition named, batches of 8
# files, a short latency wait) runs on 20 files, one of them a compressed file
# cut short:
#   - every good file's record file equals tq5's own run on it, byte for byte,
#     and the cut-short file has none, no temporary folder is left;
#   - Snakemake ends with status 1 and reports the failed batch job, whose Slurm
#     output names the file and tq5's reason; the rest of its batch is done;
#   - Slurm handed out at most 3 job numbers (20 files in batches of 8), as
#     many as Snakemake submitted;
#   - with the bad file gone, a second run submits nothing.
# Usage: tests/slurm.sh TQ5    (status 77 where Slurm cannot run here)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tq5=$(realpath "$1")
skip() { echo "SKIPPED: $*" && exit 77; }
[ "$(id -u)" = 0 ] || skip "the Slurm daemons are started as root"
for tool in munged slurmctld slurmd sbatch squeue scontrol scancel snakemake python3; do
    command -v $tool >/dev/null || skip "$tool is not installed"
done
work=$(mktemp -d)
export SLURM_CONF=$work/slurm.conf
daemons=()
stop() {
    trap - EXIT INT TERM
    if [ ${#daemons[@]} -gt 0 ]; then
        scancel --partition=tq5 2>/dev/null || true
        for _ in $(seq 50); do [ -z "$(squeue -h 2>/dev/null)" ] && break; sleep 0.2; done
        for ((at = ${#daemons[@]} - 1; at >= 0; at--)); do kill "${daemons[at]}" 2>/dev/null || true; done
        for pid in "${daemons[@]}"; do
            for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            kill -KILL "$pid" 2>/dev/null || true
        done
    fi
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 1' INT TERM
fail() { echo "FAILED: $*" >&2 && exit 1; }

# The cluster: two free ports, the daemons in the foreground, their files here.
read -r ctld_port slurmd_port < <(python3 -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
host=$(hostname -s)
mkdir "$work/state" "$work/spool" "$work/log"
head -c 1024 /dev/urandom >"$work/munge.key" && chmod 600 "$work/munge.key"
cat >"$SLURM_CONF" <<EOF
ClusterName=tq5test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge.socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=tq5node NodeHostname=$host NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=1000 State=UNKNOWN
PartitionName=tq5 Nodes=tq5node Default=YES MaxTime=INFINITE State=UP
EOF
munged -F --force --socket="$work/munge.socket" --key-file="$work/munge.key" --pid-file="$work/munged.pid" \
    --seed-file="$work/munged.seed" --log-file="$work/log/munged.log" >"$work/log/munged.out" 2>&1 &
daemons+=($!)
for _ in $(seq 50); do [ -S "$work/munge.socket" ] && break; sleep 0.1; done
slurmctld -D -i >"$work/log/slurmctld.out" 2>&1 &
daemons+=($!)
sleep 1
slurmd -D -N tq5node >"$work/log/slurmd.out" 2>&1 &
daemons+=($!)
for _ in $(seq 150); do [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && break; sleep 0.2; done
if [ "$(sinfo -h -o %T 2>/dev/null)" != idle ]; then
    tail -n 5 "$work"/log/*.out "$work"/log/*.log 2>/dev/null || true
    skip "the Slurm daemons did not start here (their last lines above)"
fi
echo "a Slurm cluster of one node: $(sinfo -h -o '%P %D node, %c CPUs, %T')"

# The inputs: those of tests/many-files/in/, a name with braces and copies.
run=$work/run
mkdir -p "$run/genbank" "$work/ref"
cp "$root"/tests/many-files/in/*.gb* "$root"/tests/many-files/in/*.seq* "$run/genbank/"
cp "$run/genbank/plasmid.gb" "$run/genbank/a{1}.gb"
for i in $(seq -w 1 14); do cp "$run/genbank/phage.gbff.gz" "$run/genbank/copy$i.gbff.gz"; done
ln -s "$root/examples" "$run/examples"
good=()
for path in "$run"/genbank/*; do
    name=${path##*/}
    [ "$name" = cut-short.seq.gz ] && continue
    good+=("$name")
    (cd "$run/genbank" && "$tq5" <<<"$name $work/ref/$name g" >/dev/null) || fail "tq5 on $name"
done
files=$(ls "$run/genbank" | wc -l) batch=8
most=$(((files + batch - 1) / batch))

# The README's command, for this cluster.
command=$(sed -n '/^snakemake -s examples\/workflow\/Snakefile --jobs/,/[^\\]$/p' "$root/README.md")
grep -q -- "--cluster 'sbatch" <<<"$command" || fail "no Slurm command in README.md"
command=${command/ -A ACCOUNT/}
command=${command/PARTITION/tq5}
command=$(sed -E "s/tq5=[0-9]+/tq5=$batch/; s/--latency-wait [0-9]+/--latency-wait 3/" <<<"$command")
submitted() { grep -c '_slurm_rpc_submit_batch_job: JobId=' "$work/log/slurmctld.log" || true; }
snakemake_run() {
    (cd "$run" && bash -c "$command --config tq5='$tq5'") >"$run/run.txt" 2>&1 && echo 0 || echo $?
}
start=$SECONDS
status=$(snakemake_run)
seconds=$((SECONDS - start))
jobs=$(submitted)
[ "$status" = 1 ] || fail "status $status: $(tail -n 20 "$run/run.txt")"
[ "$(cd "$run/t5" && ls | grep -v '^logs$' | sort)" = "$(printf '%s.t5\n' "${good[@]}" | sort)" ] ||
    fail "record files: $(ls "$run/t5")"
for name in "${good[@]}"; do cmp "$work/ref/$name.t5" "$run/t5/$name.t5" || fail "$name.t5 differs"; done
[ -z "$(find "$run/t5" -name '.run-tq5.*')" ] || fail "a temporary folder is left"
grep -q '^Error executing group job tq5 on cluster' "$run/run.txt" || fail "no failed job reported"
grep -l '^run-tq5: genbank/cut-short.seq.gz: tq5 failed with status 1: PROBLEM READING' "$run"/slurm-*.out \
    >/dev/null || fail "no Slurm output tells why cut-short.seq.gz failed"
[ "$jobs" -ge 1 ] && [ "$jobs" -le "$most" ] || fail "$jobs Slurm jobs for $files files in batches of $batch"
[ "$jobs" = "$(grep -c '^Submitted group job' "$run/run.txt")" ] || fail "Slurm and Snakemake count differently"

rm "$run/genbank/cut-short.seq.gz"
status=$(snakemake_run)
[ "$status" = 0 ] && [ "$(submitted)" = "$jobs" ] || fail "second run: status $status, $(($(submitted) - jobs)) jobs"
summary="$files files, $jobs Slurm jobs (batches of $batch), $seconds s, ${#good[@]} record files the same as tq5's own"
echo "passed: $summary"
[ -z "${TQ5_SUMMARY:-}" ] || echo "Slurm (one node, the README's command): ran: $summary" >>"$TQ5_SUMMARY"
