#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_serialised_check into the folder given: the seeds of the
settings and file-types targets, and files whose markers stand in texts or hide behind what the
settings parser drops (quotes, skipped spaces, escapes, a byte order mark)."""

import os
import sys

sys.dont_write_bytecode = True

import make_file_types  # noqa: E402
import make_settings  # noqa: E402

TRICKY = {
    "inside_texts": b'[G1]\nT1=a@Variant(x), " @DateTime(y)", "b,@Variant(z)"\nT2=@String(@Variant(w))\n',
    "escaped_at": b"[G1]\nT1=@@Variant(x), x@@DateTime(y)\nT2=\\x40\\x40Variant(z)\n",
    "quotes_and_spaces": b'[G1]\nT1=x, "" \t@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x5)\n',
    "byte_order_mark": b"[G1]\nT1=\xef\xbb\"\xbf\"@@x\nT2=\\x40\\x40\xef\xbb\xbfy\n",
    "escape_giving_a_control": b"[G1]\nT0=\\1\\@Variant(x)\nT1=\\x2\\@Variant(y)\n",
    "lines": b'[G1]\nT1="a\n@Variant(x)" ; @Variant(y)\nk\\\n=@@z\n;@Variant(c)\n"k=1"=@@q\n',
}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_serialised_check.py <folder>")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    seeds = {"types_" + name: text.encode("utf-8") for name, text in make_file_types.SOUND.items()}
    seeds.update({"types_" + name: data for name, data in make_file_types.DAMAGED.items()})
    seeds.update({"settings_" + name: data for name, data in make_settings.VALID.items()})
    seeds.update({"settings_" + name: data for name, data in make_settings.DAMAGED.items()})
    seeds.update(TRICKY)
    for name, data in seeds.items():
        with open(os.path.join(folder, name + ".ini"), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
