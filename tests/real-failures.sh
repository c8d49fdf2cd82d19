#!/usr/bin/env bash
# Real failures of the system in the middle of a run, where this machine lets
# the test cause them (as root):
#   full-disk   a 256 KiB tmpfs holds the input and takes the record file
#               until it is full;
#   read-error  the input, served by a FUSE file system of our own, gives EIO
#               part-way: in turn the plain text past its first 100000 bytes,
#               inside a CDS feature, then the text gzip-compressed and as
#               BGZF, each past 60% of its compressed bytes.
# Each run must end with status 1 and its messages, and leave whole records
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

# 20 records of 48 CDS features: about 175 KB of input and 100 KB of records.
awk -v records=20 -f "$(dirname "$0")/genbank.awk" >"$work/in.gb"
if [ "$kind" = full-disk ]; then
    mount -t tmpfs -o size=256k tq5-full-disk "$work/mnt" 2>/dev/null || skip "no tmpfs can be mounted"
    cp "$work/in.gb" "$work/mnt/in.gb"
    names=in.gb place=$work/mnt
else
    /usr/bin/python3 -c 'import fusepy' 2>/dev/null || skip "python3-fusepy is not installed"
    gzip -c "$work/in.gb" >"$work/in.gb.gz"
    /usr/bin/python3 "$(dirname "$0")/../bench/bgzf.py" "$work/in.gb" "$work/in.gb.bgz"
    sixty() { echo $(($(stat -c %s "$1") * 6 / 10)); }
    /usr/bin/python3 - "$work/mnt" "$work/in.gb" 100000 "$work/in.gb.gz" "$(sixty "$work/in.gb.gz")" \
        "$work/in.gb.bgz" "$(sixty "$work/in.gb.bgz")" <<'PY' >"$work/fuse.log" 2>&1 &
import errno, os, stat, sys
from fusepy import FUSE, FuseOSError, Operations
class Failing(Operations):  # files given with a size: their bytes up to it, then EIO
    def __init__(self, files): self.files = files
    def getattr(self, path, fh=None):
        if path == "/": return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        if path not in self.files: raise FuseOSError(errno.ENOENT)
        return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": len(self.files[path][0])}
    def read(self, path, size, offset, fh):
        data, good = self.files[path]
        if offset >= good: raise FuseOSError(errno.EIO)
        return data[offset:min(offset + size, good)]
files = {"/" + os.path.basename(path): (open(path, "rb").read(), int(good))
         for path, good in zip(sys.argv[2::2], sys.argv[3::2])}
FUSE(Failing(files), sys.argv[1], foreground=True, direct_io=True)
PY
    for _ in $(seq 50); do [ -e "$work/mnt/in.gb.bgz" ] && break || sleep 0.1; done
    [ -e "$work/mnt/in.gb.bgz" ] || skip "no FUSE file system can be mounted: $(cat "$work/fuse.log")"
    names="../mnt/in.gb ../mnt/in.gb.gz ../mnt/in.gb.bgz" place=$work/run
fi
run() { (cd "$1" && printf '%s out g\n' "$name" | "${@:2}" >"$1.console") && echo 0 || echo $?; }
fail() { echo "FAILED: $name: $*" >&2; tail -c 300 "$place.console" >&2; exit 1; }
for name in $names; do
    if [ "$kind" = full-disk ]; then
        messages='\aPROBLEM WRITING THE FILE out.t5.\nTHE RECORD FILE IS INCOMPLETE.'
    else
        messages="\\aPROBLEM READING THE FILE $name."
    fi
    # The same run where nothing fails, on the same input name.
    rm -rf "$work/full" "$place/out.t5"
    mkdir -p "$work/full/run" "$(dirname "$work/full/run/$name")"
    cp "$work/$(basename "$name")" "$work/full/run/$name"
    [ "$(run "$work/full/run" "$@")" = 0 ] || fail "the run where nothing fails"
    status=$(run "$place" "$@")

    kept=$(grep -c '^#CDS=' "$place/out.t5" || true)
    size=$(stat -c %s "$place/out.t5")
    [ "$status" = 1 ] || fail "status $status, not 1"
    [ "$kept" -gt 1 ] && [ "$size" -lt "$(stat -c %s "$work/full/run/out.t5")" ] || fail "$kept records kept"
    cmp -s -n "$size" "$place/out.t5" "$work/full/run/out.t5" || fail "not the start of the full record file"
    [ "$(tail -n 1 "$place/out.t5" | tr -d '\r')" = '********************' ] || fail "the last record is not whole"
    printf "CDS %d  \\n$messages\\nIT HOLDS THE FIRST %d RECORDS.\\n" "$kept" "$kept" | crlf >"$work/expected-end"
    cmp -s <(tail -c "$(stat -c %s "$work/expected-end")" "$place.console") "$work/expected-end" ||
        fail "the console does not end with the last record kept and the messages"
    echo "$kind, ${name##*/}: $kept whole records of $(grep -c '^#CDS=' "$work/full/run/out.t5") kept, $size bytes"
done
