#!/usr/bin/env python3
"""Writes the seed archives of fuzz_unzip into the folder given: a few sound archives and a few
damaged or hostile ones (names leaving the target, a link entry, a bad checksum, cut short)."""

import io
import os
import stat
import sys
import warnings
import zipfile


def archive(entries, compression=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as zf:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
            info.compress_type = compression
            info.create_system = 3
            if mode is not None:
                info.external_attr = mode << 16
            elif name.endswith("/"):
                info.external_attr = (stat.S_IFDIR | 0o755) << 16 | 0x10
            else:
                info.external_attr = (stat.S_IFREG | 0o644) << 16
            zf.writestr(info, data)
    return buffer.getvalue()


def seeds():
    logs = b"[ -1 : MainThread ] [ CZipper.cpp : 42 : CZipper::zip ] packing\n" * 8
    sound = archive([("d/", b"", None), ("d/f.txt", b"hello\n", None), ("log.txt", logs, None)])
    yield "tree.zip", sound
    yield "stored.zip", archive([("a.txt", b"stored text", None), ("b/c.txt", b"", None)],
                                zipfile.ZIP_STORED)
    yield "no_folder_entry.zip", archive([("x/y/z.txt", b"deep", None)])
    yield "utf8_names.zip", archive([("журнал/ログ.txt", "שלום".encode(), None)])
    yield "empty.zip", archive([])
    yield "dot_dot.zip", archive([("../escape.txt", b"out", None)])
    yield "absolute.zip", archive([("/tmp/escape.txt", b"out", None)])
    yield "backslash.zip", archive([("..\\escape.txt", b"out", None)])
    yield "same_name_twice.zip", archive([("a.txt", b"first", None), ("a.txt", b"second", None)])
    yield "file_then_folder.zip", archive([("a", b"file", None), ("a/b.txt", b"below", None)])
    yield "odd_names.zip", archive([("", b"empty", None), ("./", b"", None), ("a/./b", b"x", None),
                                    ("c//d", b"y", None), ("e\x01", b"z", None)])
    yield "link.zip", archive([("l", b"../..", stat.S_IFLNK | 0o777), ("l/x.txt", b"x", None)])
    bad_crc = bytearray(archive([("f.txt", b"checksum", None)], zipfile.ZIP_STORED))
    bad_crc[bad_crc.index(b"checksum")] ^= 0xFF
    yield "bad_crc.zip", bytes(bad_crc)
    yield "truncated.zip", sound[: len(sound) // 2]
    yield "no_directory.zip", sound[: sound.rindex(b"PK\x01\x02")]
    # The same data claimed by two entries, as in an overlapping "zip bomb".
    overlap = bytearray(archive([("a.txt", b"A" * 64, None), ("b.txt", b"B" * 64, None)]))
    first, second = [i for i in range(len(overlap)) if overlap[i:i + 4] == b"PK\x01\x02"]
    overlap[second + 42:second + 46] = overlap[first + 42:first + 46]
    yield "overlap.zip", bytes(overlap)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_unzip.py <folder>")
    os.makedirs(sys.argv[1], exist_ok=True)
    # A name written twice is one of the damaged seeds.
    warnings.simplefilter("ignore", UserWarning)
    for name, data in seeds():
        with open(os.path.join(sys.argv[1], name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
