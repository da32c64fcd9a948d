#!/usr/bin/env python3
"""Writes seed filter files into the folder given: a few valid ones and a few damaged ones."""
import os
import sys

GROUPS = [("directories", "directory"), ("files", "file"), ("paths", "path"),
          ("fileTypes", "fileType"), ("namePrefixes", "namePrefix"),
          ("nameSuffixes", "nameSuffix"), ("dirPatterns", "dirPattern"),
          ("filePatterns", "filePattern"), ("pathPatterns", "pathPattern")]
VALUES = ["tmp/", "Thumbs.db", "/docs/a.txt", "tar.gz", "~$", ".part", "cache[0-9]*",
          ".*\\\\.bak", "/build/.*\\\\.o"]


def element(index, key, value, modules, type_):
    return (f"excludes\\{index}\\{key}={value}\nexcludes\\{index}\\modules={modules}\n"
            f"excludes\\{index}\\type={type_}\n")


def full():
    text = "[options]\nwatcher=291\nscanner=419\narchiver=419\nsynchronizer=0\n"
    text += "ruleEngine=8\nmessageBuilder=0\ncopyController=419\n"
    for (group, key), value in zip(GROUPS, VALUES):
        text += f"[{group}]\n" + element(1, key, value, 3, 1) + element(2, key, value.upper(), 65, 7)
        text += "excludes\\size=2\n"
    return text


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seeds = {
        "full.ini": full().encode(),
        "one.ini": b"[directories]\nexcludes\\1\\directory=tmp\nexcludes\\1\\modules=3\n"
                   b"excludes\\1\\type=1\nexcludes\\size=1\n",
        "options.ini": b"[options]\nwatcher=4\nscanner=0\n",
        "quoted.ini": b"[files]\nexcludes\\1\\file=\"a, b = c\"\nexcludes\\1\\modules=8\n"
                      b"excludes\\1\\type=2\nexcludes\\size=1\n",
        "bom.ini": b"\xef\xbb\xbf" + full().encode(),
        "size-lies.ini": b"[files]\nexcludes\\1\\file=a\nexcludes\\1\\modules=8\n"
                         b"excludes\\1\\type=2\nexcludes\\size=1000000\n",
        "negative.ini": b"[paths]\nexcludes\\1\\path=/a\nexcludes\\1\\modules=1\n"
                        b"excludes\\1\\type=1\nexcludes\\size=-1\n",
        "bad-pattern.ini": b"[filePatterns]\nexcludes\\1\\filePattern=a(b\nexcludes\\1\\modules=2\n"
                           b"excludes\\1\\type=1\nexcludes\\size=1\n",
        "zeros.ini": b"[files]\nexcludes\\1\\file=a\nexcludes\\1\\modules=0\nexcludes\\1\\type=0\n"
                     b"excludes\\2\\file=\nexcludes\\2\\modules=1\nexcludes\\2\\type=1\n"
                     b"excludes\\size=2\n",
        "garbage.ini": bytes(range(256)),
        "truncated.ini": full().encode()[:200],
    }
    for name, content in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(content)


if __name__ == "__main__":
    main()
