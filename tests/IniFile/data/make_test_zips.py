#!/usr/bin/env python3
"""Writes the zip archives the unzip tests read: hand-made hostile ones, one per attack, and a
few valid ones in forms that the program's own zipper does not write.

Usage: make_hostile_zips.py OUTPUT_FOLDER OUTSIDE_PATH
OUTSIDE_PATH is an absolute path that an unpacker must never write to; the absolute-name
archive points at it.
"""
import io
import os
import struct
import sys
import zipfile

LOCAL = b"PK\x03\x04"
CENTRAL = b"PK\x01\x02"
END = b"PK\x05\x06"


def build(entries, compression=zipfile.ZIP_DEFLATED):
    """entries: list of (name, data) pairs; returns the archive bytes."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in entries:
            archive.writestr(name, data)
    return bytearray(buffer.getvalue())


def headers(blob):
    """Offsets of every local and central header in blob."""
    found = []
    for signature in (LOCAL, CENTRAL):
        start = 0
        while True:
            index = blob.find(signature, start)
            if index < 0:
                break
            found.append((signature, index))
            start = index + 4
    return found


def patch(blob, local_field, central_field, fmt, value):
    """Overwrites one field in every local and central header (offsets from the signature)."""
    for signature, index in headers(blob):
        offset = local_field if signature == LOCAL else central_field
        struct.pack_into(fmt, blob, index + offset, value)
    return blob


def set_flags(blob, flags):
    return patch(blob, 6, 8, "<H", flags)


def set_crc(blob, crc):
    return patch(blob, 14, 16, "<I", crc)


def set_uncompressed(blob, size):
    return patch(blob, 22, 24, "<I", size)


def set_end_entries(blob, count):
    end = blob.rfind(END)
    struct.pack_into("<HH", blob, end + 8, count, count)
    return blob


class Unseekable(io.RawIOBase):
    """A write-only stream without tell() or seek(), so that entries get data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, data):
        self.data += data
        return len(data)


def streamed(entries):
    sink = Unseekable()
    with zipfile.ZipFile(sink, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            with archive.open(name, "w") as entry:
                entry.write(data)
    return sink.data


def corrupt(blob, name_length):
    """Overwrites the middle of the first entry's compressed data."""
    middle = 30 + name_length + 4
    blob[middle:middle + 16] = b"\xff" * 16
    return blob


def overlap_bomb(copies):
    """One local entry whose data every central entry points at."""
    kernel = b"0" * (1 << 20)
    single = build([("f00.txt", kernel)])
    central = single.find(CENTRAL)
    end = single.rfind(END)
    record = bytes(single[central:end])
    directory = bytearray()
    for number in range(copies):
        entry = bytearray(record)
        entry[46:46 + 7] = ("f%02d.txt" % number).encode()
        directory += entry
    blob = single[:central] + directory
    blob += END + struct.pack("<HHHHIIH", 0, 0, copies, copies, len(directory), central, 0)
    return blob


def main():
    out = sys.argv[1]
    outside = sys.argv[2]
    archives = {}
    archives["traversal"] = build([("../escaped.txt", b"x")])
    archives["inner-traversal"] = build([("a/b/../../../escaped.txt", b"x")])
    archives["absolute"] = build([(outside + "/absolute.txt", b"x")])
    archives["backslash"] = build([("..\\escaped.txt", b"x")])
    archives["control"] = build([("bad\nname.txt", b"x")])
    nul = build([("okay.txtX../escaped.txt", b"x")])
    archives["nul"] = bytearray(bytes(nul).replace(b"okay.txtX", b"okay.txt\x00"))
    link = zipfile.ZipInfo("link")
    link.create_system = 3
    link.external_attr = 0o120777 << 16
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr(link, outside)
    archives["symlink-entry"] = bytearray(buffer.getvalue())
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr(link, outside)
        archive.writestr("link/through.txt", b"x")
    archives["symlink-then-through"] = bytearray(buffer.getvalue())
    archives["encrypted"] = set_flags(build([("secret.txt", b"x" * 100)]), 1)
    archives["bzip2"] = build([("packed.txt", b"b" * 100000)], zipfile.ZIP_BZIP2)
    archives["crc"] = set_crc(build([("bad-crc.txt", b"y" * 5000)]), 0x12345678)
    archives["crc-stored"] = set_crc(build([("bad-crc.txt", b"y" * 5000)], zipfile.ZIP_STORED),
                                     0x12345678)
    archives["declared-zero"] = set_uncompressed(build([("lying.txt", b"z" * 100000)]), 0)
    archives["declared-smaller"] = set_uncompressed(build([("lying.txt", b"z" * 100000)]), 10)
    archives["declared-larger"] = set_uncompressed(build([("lying.txt", b"z" * 1000)]), 100000)
    archives["stored-declared-zero"] = set_uncompressed(
        build([("lying.txt", b"z" * 1000)], zipfile.ZIP_STORED), 0)
    archives["overlap"] = overlap_bomb(10)
    archives["too-many-entries"] = set_end_entries(
        build([("one.txt", b"1"), ("two.txt", b"2")]), 3)
    archives["corrupt-data"] = corrupt(build([("broken.txt", bytes(range(256)) * 400)]), 10)
    archives["empty"] = build([])
    archives["streamed"] = streamed([("d/one.txt", b"first " * 1000), ("two.txt", b"")])
    archives["unicode"] = build([("Größe.log", b"umlaut"), ("журнал/日本語.txt", b"cjk")])
    long_name = "a" * 100 + "/" + "b" * 100 + "/" + "c" * 100 + ".txt"
    archives["long-name"] = build([(long_name, b"long")])
    for name, blob in archives.items():
        with open(os.path.join(out, name + ".zip"), "wb") as target:
            target.write(blob)


if __name__ == "__main__":
    main()
