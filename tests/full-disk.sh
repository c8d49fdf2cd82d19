#!/usr/bin/env bash
# A run that fills the disk: a 256 KiB tmpfs holds a GenBank input of 20
# records and takes its record file until it is full.  The run must end with
# status 1 and the write-failure messages, and leave whole records only: the
# start of the record file of a run that is not cut short, as many as the
# count line says.  Mounting needs root: elsewhere the test is skipped (77).
# Usage: full-disk.sh TQ5-COMMAND... with absolute paths (/.../build/tq5, or
# wine /.../build-win/tq5.exe with TQ5_CRLF=1).
set -euo pipefail
work=$(mktemp -d)
disk="$work/disk"
mkdir "$disk" "$work/full"
trap 'umount "$disk" 2>/dev/null || true; rm -rf "$work"' EXIT
if [ "$(id -u)" -ne 0 ] || ! mount -t tmpfs -o size=256k tq5-full-disk "$disk" 2>/dev/null; then
    echo "SKIPPED: no tmpfs can be mounted here (needs root)"
    exit 77
fi
crlf() { if [ -n "${TQ5_CRLF:-}" ]; then sed 's/$/\r/'; else cat; fi; }

# 20 records of 90 named CDS features each: about 150 KB of input, a bit
# more of records.
awk 'BEGIN {
    for (r = 1; r <= 20; r++) {
        printf "LOCUS       REC%02d    9100 bp    DNA     linear\n", r
        print "FEATURES             Location/Qualifiers"
        for (c = 1; c <= 90; c++)
            printf "     CDS             complement(%d..%d)\n                     /locus_tag=\"R%02d_%03d\"\n", c * 100, c * 100 + 89, r, c
        print "BASE COUNT     2275 a   2275 c   2275 g   2275 t\nORIGIN\n        1 acgtacgtac\n//"
    }
}' >"$work/full/in.gb"
cp "$work/full/in.gb" "$disk/in.gb"
run() { (cd "$1" && printf 'in.gb out g\n' | "${@:2}" >"$1.console") && echo 0 || echo $?; }
[ "$(run "$work/full" "$@")" = 0 ] || { echo "FAILED: the run on a disk with room" >&2; exit 1; }
status=$(run "$disk" "$@")

fail() { echo "FAILED: $*" >&2; tail -c 300 "$disk.console" >&2; exit 1; }
kept=$(grep -c '^#CDS=' "$disk/out.t5" || true)
size=$(stat -c %s "$disk/out.t5")
[ "$status" = 1 ] || fail "status $status, not 1"
[ "$kept" -gt 1 ] && [ "$size" -lt "$(stat -c %s "$work/full/out.t5")" ] || fail "$kept records kept"
cmp -s -n "$size" "$disk/out.t5" "$work/full/out.t5" || fail "not the start of the full record file"
[ "$(tail -n 1 "$disk/out.t5" | tr -d '\r')" = '********************' ] || fail "the last record is not whole"
printf 'CDS %d  \n\aPROBLEM WRITING THE FILE out.t5.\nTHE RECORD FILE IS INCOMPLETE.\nIT HOLDS THE FIRST %d RECORDS.\n' \
    "$kept" "$kept" | crlf >"$work/expected-end"
cmp -s <(tail -c "$(stat -c %s "$work/expected-end")" "$disk.console") "$work/expected-end" ||
    fail "the console does not end with the last record kept and the messages"
echo "full disk: $kept whole records of $(grep -c '^#CDS=' "$work/full/out.t5") kept, $size bytes"
