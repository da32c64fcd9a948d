#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_log_split into the folder given. The first byte holds the
options (file mode in bits 0-1, record level in bits 2-3, short tags in bit 4, through Qt's
handler in bit 5); the rest are records, one a line: sound ones as the library writes them and
damaged ones (a cut bracket, a path in the description, a huge thread number)."""

import os
import sys

RECORDS = [
    "[ -1 : MainThread ] [ CLogFilesSender.cpp : 88 : CLogFilesSender::zipAndSendLogFiles ] start",
    "[ 7 : ZipperThread ] [ CBasicThread.cpp : 142 : CBasicThread::run ] Thread ( 7 ZipperThread )",
    "[ 12 : CZipWorkerThread::impl ] [ CZipper.cpp : 205 : CZipper::unzip ] unpacking",
    "[ 3 :  ] [ CLog.cpp : 1 : f ] empty description",
    "no thread bracket at all",
]
DAMAGED = [
    "[ 7 : ../../etc/passwd ] [ x.cpp : 1 : f ] a path as description",
    "[ 7 : a/b ] [ x.cpp : 1 : f ]",
    "[ -99999999999999999999 : Worker ] [ x.cpp : 1 : f ] huge number",
    "[ 5 : Worker::Sub::More ] [ x.cpp : 1 : f ] two scopes",
    "[ 5 : Wörker ] [ x.cpp : 1 : f ] non-ASCII description",
    "[ 5 : Worker ] [ 5 : Worker ] [ x.cpp : 1 : f ] bracket twice",
    "[ 5 : Work",
    "[\t5\t:\tTab ]",
]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_log_split.py <folder>")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    seeds = {
        "sound_append": bytes([0x01]) + "\n".join(RECORDS).encode(),
        "sound_new_files_short": bytes([0x10]) + "\n".join(RECORDS).encode(),
        "sound_overwrite_qt": bytes([0x26]) + "\n".join(RECORDS).encode(),
        "damaged_append": bytes([0x05]) + "\n".join(DAMAGED).encode(),
        "damaged_short_qt": bytes([0x31]) + "\n".join(DAMAGED).encode(),
        "not_utf8": bytes([0x01]) + b"[ 1 : \xff\xfe ] [ x.cpp : 1 : f ]\n\x00[ 2 : A ]",
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
