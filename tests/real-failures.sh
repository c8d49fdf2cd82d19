#!/usr/bin/env bash
# Real failures of the system in the middle of a run, where this machine lets
# the test cause them (as root):
#   full-disk   a 256 KiB tmpfs holds the input and takes the record file
#               until it is full;
#   read-error  the input, served by a FUSE file system of our own, gives EIO
#               past its first 100000 bytes, inside a CDS feature.
# The run must end with status 1 and its messages, and leave whole records
# only: the start of the record file of a run that is not cut short, as many
# as the count line says.  Where the failure cannot be caused: skipped (77).
# Usage: real-failures.sh full-disk|read-error TQ5-COMMAND... with absolute
# paths (/.../build/tq5, or wine /.../build-win/tq5.exe with TQ5_CRLF=1).
set -euo pipefail
kind=$1
shift
work=$(mktemp -d)
mkdir "$work/mnt" "$work/run"
trap 'umount "$work/mnt" 2>/dev/null || true; rm -rf "$work"' EXIT
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root"
crlf() { if [ -n "${TQ5_CRLF:-}" ]; then sed 's/$/\r/'; else cat; fi; }

# 20 records of 48 CDS features each, their locations over four lines:
# about 175 KB of input and 100 KB of records.
awk 'BEGIN {
    for (r = 1; r <= 20; r++) {
        printf "LOCUS       REC%02d    9100 bp    DNA     linear\n", r
        print "FEATURES             Location/Qualifiers"
        for (c = 1; c <= 48; c++) {
            printf "     CDS             join(%d..%d,\n", c * 100, c * 100 + 9
            printf "                     %d..%d,\n", c * 100 + 20, c * 100 + 29
            printf "                     %d..%d,\n", c * 100 + 40, c * 100 + 49
            printf "                     %d..%d)\n", c * 100 + 60, c * 100 + 89
            printf "                     /locus_tag=\"R%02d_%03d\"\n", r, c
        }
        print "BASE COUNT     2275 a   2275 c   2275 g   2275 t\nORIGIN\n        1 acgtacgtac\n//"
    }
}' >"$work/in.gb"
if [ "$kind" = full-disk ]; then
    mount -t tmpfs -o size=256k tq5-full-disk "$work/mnt" 2>/dev/null || skip "no tmpfs can be mounted"
    cp "$work/in.gb" "$work/mnt/in.gb"
    name=in.gb place=$work/mnt
    messages='\aPROBLEM WRITING THE FILE out.t5.\nTHE RECORD FILE IS INCOMPLETE.'
else
    /usr/bin/python3 -c 'import fusepy' 2>/dev/null || skip "python3-fusepy is not installed"
    /usr/bin/python3 - "$work/in.gb" "$work/mnt" 100000 <<'PY' >"$work/fuse.log" 2>&1 &
import errno, stat, sys
from fusepy import FUSE, FuseOSError, Operations
class Failing(Operations):  # one file, in.gb: its bytes up to `good`, then EIO
    def __init__(self, data, good): self.data, self.good = data, good
    def getattr(self, path, fh=None):
        if path == "/": return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        if path != "/in.gb": raise FuseOSError(errno.ENOENT)
        return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": len(self.data)}
    def read(self, path, size, offset, fh):
        if offset >= self.good: raise FuseOSError(errno.EIO)
        return self.data[offset:min(offset + size, self.good)]
FUSE(Failing(open(sys.argv[1], "rb").read(), int(sys.argv[3])), sys.argv[2], foreground=True,
     direct_io=True)
PY
    for _ in $(seq 50); do [ -e "$work/mnt/in.gb" ] && break || sleep 0.1; done
    [ -e "$work/mnt/in.gb" ] || skip "no FUSE file system can be mounted: $(cat "$work/fuse.log")"
    name=../mnt/in.gb place=$work/run
    messages="\\aPROBLEM READING THE FILE $name."
fi
# The same run where nothing fails, on the same input name.
mkdir -p "$work/full/run" "$(dirname "$work/full/run/$name")"
cp "$work/in.gb" "$work/full/run/$name"
run() { (cd "$1" && printf '%s out g\n' "$name" | "${@:2}" >"$1.console") && echo 0 || echo $?; }
[ "$(run "$work/full/run" "$@")" = 0 ] || { echo "FAILED: the run where nothing fails" >&2; exit 1; }
status=$(run "$place" "$@")

fail() { echo "FAILED: $*" >&2; tail -c 300 "$place.console" >&2; exit 1; }
kept=$(grep -c '^#CDS=' "$place/out.t5" || true)
size=$(stat -c %s "$place/out.t5")
[ "$status" = 1 ] || fail "status $status, not 1"
[ "$kept" -gt 1 ] && [ "$size" -lt "$(stat -c %s "$work/full/run/out.t5")" ] || fail "$kept records kept"
cmp -s -n "$size" "$place/out.t5" "$work/full/run/out.t5" || fail "not the start of the full record file"
[ "$(tail -n 1 "$place/out.t5" | tr -d '\r')" = '********************' ] || fail "the last record is not whole"
printf "CDS %d  \\n$messages\\nIT HOLDS THE FIRST %d RECORDS.\\n" "$kept" "$kept" | crlf >"$work/expected-end"
cmp -s <(tail -c "$(stat -c %s "$work/expected-end")" "$place.console") "$work/expected-end" ||
    fail "the console does not end with the last record kept and the messages"
echo "$kind: $kept whole records of $(grep -c '^#CDS=' "$work/full/run/out.t5") kept, $size bytes"
