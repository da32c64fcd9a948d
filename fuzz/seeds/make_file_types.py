#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_file_types into the folder given: file-types files as the
writer makes them and as people edit them, and damaged ones (a byte order mark, a cut group,
a nested key, binary bytes, odd escapes and serialised values)."""

import os
import sys

SOUND = {
    "plain": "[G1]\nT1=a, b\nT2=c\n[G2]\nT3=d\n",
    "loose_types": "T0=x, y\n[General]\nT9=z\n[G1]\nT1=a\n",
    "type_in_two_groups": "[G1]\nT1=a\n[G2]\nT1=b\n",
    "escapes": '[G%201]\nT%3B1="a,b", "c\\"d"\nT2=@@at, \\x263a\n[%General]\nT3=@Invalid()\n',
    "non_ascii": "[Группа]\n種類=שלום, ü\nключ=значение\n",
    "empty_lists": "[G1]\nT1=\nT2=@Invalid()\n",
    "escaped_markers": "[G1]\nT1=@@Variant(a\\0b), @String(@DateTime(\\0)), x@@Variant(\n",
}
DAMAGED = {
    "bom": b"\xef\xbb\xbf[G1]\nT1=a\n",
    "cut_group": b"[G1\nT1=a\n[G2]]\nT2=b\n",
    "nested_keys": b"[G1]\nsub\\T1=a\nT2=b\n[G1/sub]\nT3=c\n",
    "binary": b"\x00\xff[\x01]\n\x80=\x81\n=\n==\n[]\nT=a\r\n",
    "variant": b"[G1]\nT1=@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\nT2=@ByteArray(ab)\n",
    "long_value": b"[G1]\nT1=" + b",".join([b"x"] * 2000) + b"\n",
}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_file_types.py <folder>")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    seeds = {name: text.encode("utf-8") for name, text in SOUND.items()}
    seeds.update(DAMAGED)
    for name, data in seeds.items():
        with open(os.path.join(folder, name + ".ini"), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
