#!/usr/bin/env python3
"""Writes FILE as BGZF: gzip members of at most 65280 bytes of text each,
with the member's size in its extra field, and the empty end-of-file member.

    bench/bgzf.py FILE OUT
"""
import multiprocessing
import struct
import sys
import zlib

TEXT_PER_MEMBER = 65280


def member(text):
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    data = packer.compress(text) + packer.flush()
    size = 18 + len(data) + 8
    return (b"\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00BC\x02\x00" +
            struct.pack("<H", size - 1) + data + struct.pack("<II", zlib.crc32(text), len(text)))


def pieces(path):
    with open(path, "rb") as file:
        while piece := file.read(TEXT_PER_MEMBER):
            yield piece


def main():
    source, target = sys.argv[1:]
    with multiprocessing.Pool() as pool, open(target, "wb") as out:
        for block in pool.imap(member, pieces(source), chunksize=64):
            out.write(block)
        out.write(member(b""))


if __name__ == "__main__":
    main()
