#!/usr/bin/env python3
"""Writes the archives the unzip tests read: hostile ones, one per attack, and valid ones in
forms the program's own zipper does not write.
Usage: make_test_zips.py OUTPUT_FOLDER OUTSIDE_PATH (a path an unpacker must never write to)
"""
import io
import struct
import sys
import warnings
import zipfile

LOCAL, CENTRAL, END = b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06"


class Unseekable(io.BytesIO):
    """A buffer that cannot seek, so that entries get data descriptors."""

    def seek(self, *arguments):
        raise OSError("not seekable")


def build(entries, compression=zipfile.ZIP_DEFLATED, buffer=None):
    """entries: (name or ZipInfo, data) pairs; returns the archive bytes."""
    buffer = buffer or io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in entries:
            archive.writestr(name, data)
    return bytearray(buffer.getvalue())


def patch(blob, local_offset, central_offset, fmt, value):
    """Overwrites one field in every local and central header."""
    for signature, offset in ((LOCAL, local_offset), (CENTRAL, central_offset)):
        index = blob.find(signature)
        while index >= 0:
            struct.pack_into(fmt, blob, index + offset, value)
            index = blob.find(signature, index + 4)
    return blob


def overlap_bomb(copies):
    """One local entry whose data every central entry points at."""
    single = build([("f00.txt", b"0" * (1 << 20))])
    central, end = single.find(CENTRAL), single.rfind(END)
    directory = bytearray()
    for number in range(copies):
        entry = bytearray(single[central:end])
        entry[46:53] = ("f%02d.txt" % number).encode()
        directory += entry
    return (single[:central] + directory + END +
            struct.pack("<HHHHIIH", 0, 0, copies, copies, len(directory), central, 0))


def declaring(name, data, size):
    """One entry whose central directory declares size bytes (through a zip64 field); flagged
    as followed by a data descriptor, so that its local header's sizes are not compared."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(name, data)
        archive.getinfo(name).file_size = size
    return patch(bytearray(buffer.getvalue()), 6, 8, "<H", 0x08)


def utf8_names(entries):
    """Entries with names given as bytes, flagged as UTF-8 whether they are valid or not."""
    placeholders = [("%c.name" % (ord("A") + index), data)
                    for index, (_, data) in enumerate(entries)]
    blob = patch(build(placeholders), 6, 8, "<H", 0x800)
    for (placeholder, _), (name, _) in zip(placeholders, entries):
        assert len(name) == len(placeholder)
        blob = bytearray(blob.replace(placeholder.encode(), name))
    return blob


def main():
    warnings.filterwarnings("ignore", "Duplicate name")
    out, outside = sys.argv[1], sys.argv[2]
    link = zipfile.ZipInfo("link")
    link.create_system = 3
    link.external_attr = 0o120777 << 16
    too_many = build([("one.txt", b"1"), ("two.txt", b"2")])
    struct.pack_into("<HH", too_many, too_many.rfind(END) + 8, 3, 3)
    archives = {
        "traversal": build([("../escaped.txt", b"x")]),
        "absolute": build([(outside + "/absolute.txt", b"x")]),
        "backslash": build([("..\\escaped.txt", b"x")]),
        "control": build([("bad\nname.txt", b"x")]),
        "symlink-then-through": build([(link, outside), ("link/through.txt", b"x")]),
        "encrypted": patch(build([("secret.txt", b"x" * 100)]), 6, 8, "<H", 1),
        "bzip2": build([("packed.txt", b"b" * 100000)], zipfile.ZIP_BZIP2),
        "crc": patch(build([("bad-crc.txt", b"y" * 5000)]), 14, 16, "<I", 0x12345678),
        "declared-smaller": patch(build([("lying.txt", b"z" * 100000)]), 22, 24, "<I", 10),
        "overlap": overlap_bomb(10),
        "declares-huge": declaring("huge.bin", b"small", 1 << 50),
        "duplicate": build([("dup.txt", b"first"), ("d/", b""), ("dup.txt", b"second")]),
        "file-and-folder": build([("dup", b"file"), ("dup/", b"")]),
        "link-and-file": build([(link, "target"), ("link", b"file")]),
        "same-after-decoding": utf8_names([(b"\xff.name", b"first"), (b"\xfe.name", b"second")]),
        "long-name": build([("n" * 300 + ".txt", b"x")]),
        "large": build([("large.bin", b"L" * (1 << 20))]),
        "too-many-entries": too_many,
        "empty": build([]),
        "streamed": build([("d/one.txt", b"first " * 1000), ("two.txt", b"")], buffer=Unseekable()),
        "unicode": build([("Größe.log", b"umlaut"), ("журнал/日本語.txt", b"cjk")]),
    }
    for name, blob in archives.items():
        with open("%s/%s.zip" % (out, name), "wb") as target:
            target.write(blob)


if __name__ == "__main__":
    main()
