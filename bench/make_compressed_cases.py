#!/usr/bin/env python3
"""Writes the compressed-input cases of tests/cases/compressed/ (committed as bytes).

    bench/make_compressed_cases.py REFERENCE_TQ5

REFERENCE_TQ5 is a tq5 that reads plain files: each case's expected console and
record file are what it gives on the plain text under the same name, so a .gz
case passes only if tq5 gives the plain file's records byte for byte.  A case
with bad compressed data expects the records of the text before the damage
(placed after the last CDS), then the read failure and status 1.  Run once,
when the cases change; the tests only read the files it wrote.
"""
import pathlib
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
CASES = ROOT / "tests" / "cases" / "compressed"
NAME = "in.gb.gz"
ANSWERS = f"{NAME}\nout\ng\n".encode()


def sequence(rng, bases):
    lines = []
    for start in range(0, bases, 60):
        row = "".join(rng.choice("acgt") for _ in range(min(60, bases - start)))
        groups = " ".join(row[i:i + 10] for i in range(0, len(row), 10))
        lines.append(f"{start + 1:>9} {groups}\n")
    return "".join(lines)


def genbank_text(bases_after=3000):
    rng = random.Random(11)
    return ("LOCUS       TQ5GZ1                  1200 bp    DNA     linear   BCT 01-JAN-2000\n"
            "DEFINITION  Compressed-input fixture, record one.\n"
            "FEATURES             Location/Qualifiers\n"
            "     source          1..1200\n"
            "                     /organism=\"Examplea gzipensis\"\n"
            "     CDS             10..400\n"
            "                     /gene=\"gzaA\"\n"
            "                     /product=\"first protein\"\n"
            "     CDS             complement(join(500..600,\n"
            "                     700..900))\n"
            "                     /locus_tag=\"GZ_0002\"\n"
            "     CDS             950..1100\n"
            "                     /note=\"no naming qualifier\"\n"
            "BASE COUNT      300 a    300 c    300 g    300 t\n"
            "ORIGIN\n" + sequence(rng, 1200) + "//\n"
            "LOCUS       TQ5GZ2                  3000 bp    DNA     linear   BCT 01-JAN-2000\n"
            "FEATURES             Location/Qualifiers\n"
            "     CDS             <1..>300\n"
            "                     /label=rec2first\n"
            "     CDS             join(400..500,600..700)\n"
            "                     /gene=\"gzbB\"\n"
            "BASE COUNT      750 a    750 c    750 g    750 t\n"
            "ORIGIN\n" + sequence(rng, bases_after) + "//\n").encode()


def member(text, level=6):
    """One gzip member: header (no name, no time), deflate data, CRC-32, length."""
    packer = zlib.compressobj(level, zlib.DEFLATED, -15)
    data = packer.compress(text) + packer.flush()
    return (b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff" + data +
            struct.pack("<II", zlib.crc32(text), len(text) & 0xFFFFFFFF))


def members(text, cuts):
    bounds = [0] + list(cuts) + [len(text)]
    return b"".join(member(text[a:b]) for a, b in zip(bounds, bounds[1:]))


def bgzf_block(text):
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    data = packer.compress(text) + packer.flush()
    size = 18 + len(data) + 8  # the whole block
    return (b"\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00BC\x02\x00" +
            struct.pack("<H", size - 1) + data +
            struct.pack("<II", zlib.crc32(text), len(text)))


def bgzf_blocks(text, block=500):
    return [bgzf_block(text[at:at + block]) for at in range(0, len(text), block)]


def bgzf(text, block=500):
    return b"".join(bgzf_blocks(text, block)) + bgzf_block(b"")  # the empty end-of-file block


def reference(text):
    """Console and record file of the reference tq5 on the plain text."""
    with tempfile.TemporaryDirectory() as folder:
        path = pathlib.Path(folder)
        (path / NAME).write_bytes(text)
        run = subprocess.run([sys.argv[1]], input=ANSWERS, cwd=folder, capture_output=True)
        assert run.returncode == 0, run
        return run.stdout, (path / "out.t5").read_bytes()


def write_case(name, gz, text, fails=False):
    console, records = reference(text)
    if fails:
        done = b"\nTQ5_v3 done.\n"
        count = records.count(b"#CDS=")
        kept = {0: b"NO RECORDS", 1: b"THE FIRST RECORD"}.get(count, b"THE FIRST %d RECORDS" % count)
        console = console[:console.index(done)] + b"\n\aPROBLEM READING THE FILE " + \
            NAME.encode() + b".\nIT HOLDS " + kept + b".\n"
    folder = CASES / name
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "in").mkdir(parents=True)
    (folder / "out").mkdir()
    (folder / "in" / NAME).write_bytes(gz)
    (folder / "answers.txt").write_bytes(ANSWERS)
    (folder / "console.txt").write_bytes(console)
    (folder / "out" / "out.t5").write_bytes(records)
    if fails:
        (folder / "status.txt").write_text("1\n")


def main():
    text = genbank_text()
    crlf = text.replace(b"\n", b"\r\n")
    write_case("one-member", member(text), text)
    line = text.index(b"first protein")
    write_case("member-boundary-inside-a-line", members(text, [line + 5]), text)
    cds = text.index(b"  CDS  ", text.index(b"TQ5GZ2"))
    write_case("member-boundary-inside-cds-text", members(text, [cds + 3, cds + 5]), text)
    cr = crlf.index(b"\r\n", crlf.index(b"complement(join"))
    write_case("member-boundary-between-cr-and-lf", members(crlf, [cr + 1]), crlf)
    # A member per line, and an empty member after every tenth line.
    ends = [at + 1 for at, byte in enumerate(text[:-1]) if byte == 10]
    cuts = sorted(ends + ends[9::10])
    write_case("many-members-with-empty-ones", members(text, cuts), text)
    write_case("bgzf-blocks-and-end-of-file-block", bgzf(text), text)
    write_case("zero-padding-after-last-member", member(text) + bytes(4096), text)
    special = text.replace(b"/gene=\"gzaA\"", b"/gene=\"gz\0aA\"").replace(
        b"//\nLOCUS       TQ5GZ2", b"//\n\x1aLOCUS       TQ5GZ2")
    write_case("nul-and-ctrl-z-in-the-text", members(special, [len(special) // 2]), special)

    # Bad compressed input: every record of the text lies before the damage,
    # which is in the sequence data of the last record or after it.
    whole = member(text)
    write_case("cut-short-in-deflate-data", whole[:len(whole) * 3 // 4], text, True)
    write_case("cut-short-in-trailer", whole[:-3], text, True)
    write_case("cut-short-after-second-magic", whole + b"\x1f\x8b", text, True)
    crc = bytearray(whole)
    crc[-8] ^= 0x01
    write_case("wrong-crc", bytes(crc), text, True)
    length = bytearray(whole)
    length[-4] ^= 0x01
    write_case("wrong-length", bytes(length), text, True)
    # Second member: a deflate block of the reserved type 3.
    write_case("corrupt-deflate-data", whole + whole[:10] + b"\x07\x00\x00\x00", text, True)
    write_case("garbage-after-last-member", whole + b"LOCUS\n", text, True)
    write_case("nonzero-byte-in-padding", whole + bytes(100) + b"\x01" + bytes(10), text, True)
    write_case("magic-only", b"\x1f\x8b", b"", True)

    # BGZF members are inflated side by side; whatever is not a sound BGZF
    # member is read one member after another, with the same outcome.  The
    # third last block lies in the sequence data of the last record.
    blocks = bgzf_blocks(text)
    end = bgzf_block(b"")
    bad = len(blocks) - 3

    def damaged(change):
        block = bytearray(blocks[bad])
        change(block)
        return b"".join(blocks[:bad]) + bytes(block) + b"".join(blocks[bad + 1:]) + end

    def flip(at):
        return lambda block: block.__setitem__(at, block[at] ^ 0x01)

    def size_field(delta):
        return lambda block: block.__setitem__(
            slice(16, 18), struct.pack("<H", struct.unpack("<H", block[16:18])[0] + delta))

    # A header with every optional field: extra field, name, comment and
    # the header's own CRC (its low 16 bits), also one that does not match.
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    body = packer.compress(text) + packer.flush() + struct.pack("<II", zlib.crc32(text), len(text))
    head = (b"\x1f\x8b\x08\x1e\x00\x00\x00\x00\x00\x03" + struct.pack("<H", 6) + b"XY\x02\x00ab" +
            b"in.gb\x00" + b"a note\x00")
    crc16 = struct.pack("<H", zlib.crc32(head) & 0xFFFF)
    write_case("header-with-every-optional-field", head + crc16 + body, text)
    wrong16 = struct.pack("<H", (zlib.crc32(head) & 0xFFFF) ^ 0x0100)
    write_case("header-crc-that-does-not-match", head + wrong16 + body + member(text), b"", True)

    write_case("bgzf-member-with-wrong-crc", damaged(flip(-8)), text, True)
    write_case("bgzf-member-with-wrong-length", damaged(flip(-4)), text, True)
    write_case("bgzf-member-with-corrupt-deflate-data",
               damaged(lambda block: block.__setitem__(slice(18, 19), b"\x07")), text, True)
    write_case("bgzf-cut-short-inside-a-member",
               b"".join(blocks[:bad]) + blocks[bad][:len(blocks[bad]) // 2], text, True)
    # The size in the header is only a hint: a wrong one changes nothing.
    write_case("bgzf-member-size-too-large", damaged(size_field(+1)), text)
    write_case("bgzf-member-size-too-small", damaged(size_field(-1)), text)
    cut = sum(len(t) for t in [text[at:at + 500] for at in range(0, bad * 500, 500)])
    write_case("bgzf-then-plain-members",
               b"".join(blocks[:bad]) + member(text[cut:], 9) + member(b"") + end, text)


if __name__ == "__main__":
    main()
