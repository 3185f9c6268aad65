#!/usr/bin/env python3
"""Writes seed inputs for table_reader_fuzz: whole tables made by kx8db, in
the harness's layout (u32 data-file length, u32 index-file length, the data,
index and memo files), once in the current format and once converted to
format version 1, so that the fuzzer mutates near-tables of both versions.

Usage: make_seeds.py KX8DB CORPUS_FOLDER
"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile


def sql(kx8db, folder, statement):
    subprocess.run([kx8db, "sql", folder, statement], check=True, stdout=subprocess.DEVNULL)


def first_version(kdt):
    """The data file in format version 1: counts once and unchecked, plain
    slots without their checksum, the header digest made again."""
    header_size, = struct.unpack_from("<I", kdt, 12)
    record_length, slot_size = struct.unpack_from("<II", kdt, 20)
    a, = struct.unpack_from("<Q", kdt, 256)
    b, = struct.unpack_from("<Q", kdt, 320)
    copy = 320 if b > a else 256
    counter, rows, deleted, autoinc, _, row_version = struct.unpack_from("<QIIIIQ", kdt, copy)
    out = bytearray(kdt[:header_size])
    for k in range(rows):
        at = header_size + k * slot_size
        out += kdt[at:at + record_length]
    struct.pack_into("<I", out, 8, 1)
    struct.pack_into("<I", out, 24, record_length)
    out[256:512] = bytes(256)
    struct.pack_into("<QIIIQ", out, 256, counter, rows, deleted, autoinc, 0)
    struct.pack_into("<Q", out, 280, row_version)
    digested = bytes(out[:48] + out[56:256] + out[512:header_size])
    out[48:56] = hashlib.blake2b(digested, digest_size=8).digest()
    return bytes(out)


def main():
    kx8db, corpus = sys.argv[1], sys.argv[2]
    os.makedirs(corpus, exist_ok=True)
    with tempfile.TemporaryDirectory() as folder:
        sql(kx8db, folder, "CREATE TABLE T (EMP_NO char(8), AMOUNT money, NOTE memo, SEQ integer)")
        sql(kx8db, folder, "CREATE UNIQUE INDEX EMP_NO ON T (EMP_NO)")
        for i in range(12):
            sql(kx8db, folder, "INSERT INTO T (EMP_NO, AMOUNT, NOTE, SEQ) VALUES ('E%d', %d.25, 'note %d', %d)"
                % (i, i, i, i))
        sql(kx8db, folder, "DELETE FROM T WHERE SEQ = 3")
        files = [open(os.path.join(folder, name), "rb").read() for name in ("T.KDT", "T.KDI", "T.KDM")]
    for name, kdt in (("table-v2", files[0]), ("table-v1", first_version(files[0]))):
        with open(os.path.join(corpus, name), "wb") as seed:
            seed.write(struct.pack("<II", len(kdt), len(files[1])) + kdt + files[1] + files[2])


if __name__ == "__main__":
    main()
