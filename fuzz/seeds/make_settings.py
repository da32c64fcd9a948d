#!/usr/bin/env python3
"""Writes seed ini files for fuzz_settings into the folder given as the only argument."""

import os
import struct
import sys


def written_date(julian_day, msecs, spec, offset=None):
    """A QDateTime value as QSettings writes it: "@DateTime(", the QVariant's data, ")"."""
    data = struct.pack(">IBqIb", 0x10, 0, julian_day, msecs, spec)
    if offset is not None:
        data += struct.pack(">i", offset)
    text = b"@DateTime(" + data + b")"
    named = {7: b"\\a", 8: b"\\b", 12: b"\\f", 10: b"\\n", 13: b"\\r", 9: b"\\t", 11: b"\\v"}
    out = b""
    quotes = False
    after_numeric = False
    for byte in text:
        char = bytes([byte])
        quotes = quotes or char in b";,="
        if after_numeric and char in b"0123456789abcdefABCDEF":
            out += b"\\x%x" % byte
            continue
        after_numeric = False
        if byte == 0:
            out += b"\\0"
            after_numeric = True
        elif byte in named:
            out += named[byte]
        elif char in b'"\\':
            out += b"\\" + char
        elif byte <= 0x1F or byte >= 0x7F:
            out += b"\\x%x" % byte
            after_numeric = True
        else:
            out += char
    return b'"' + out + b'"' if quotes else out

VALID = {
    "empty": b"",
    "every_group": b"""[General]
scannStart=0
autoStart=2

[%General]
updateCheck=false
portableAppsUserSpacePath=../Spaces

[hints]
startup\\showWelcome=0

[server]
defaultAccessKey=key.sakh

[paths]
defaultArchivGroup=Gr\xc3\xbc\xc3\x9fe
defaultSpacesFolder=/home/user/Documents/Syncarium Spaces/
depotFilesPath="/data/depot, old"
PSSFilesPath=/data/pss
checkNetworkState=false

[archiv]
archivCacheSize=524288000
archivCacheEnabled=true
archivCacheCleanupInterval=3600000

[communication]
pollIntervall=300
versionExpired=false
updateUrl=https://updates.example/u?x=1
ports=3
cachable=true
timeout=60000
blocksize=256000
pingurl=https://support.example/ping.xml

[webdav]
hosts=a.example, b.example

[dialogs]
dlgStopAtPathToLong=true

[gui]
fontSize=11
sideWindow\\PageLeft=3
sideWindow\\WidgetNameLeft=filesWidget

[sync]
syncStopOnFailure=true
""",
    "proxy_and_profile": b"""[ProxySettings]
Host=proxy.example
PassW=UMOkw59ww7Z3w7ZyZA==
Port=3128
Type=3
UserName=SsO8cmdlbg==

[UserProfile]
Firstname=Zo\xc3\xab
Lastname=\xe6\x9d\x8e
Miscellaneous="a, b"
""",
    "lowercase_general": b"[general]\nscannStart=0\nonline=false\n",
    "byte_order_mark": b"\xef\xbb\xbf[gui]\nfontSize=9\n",
    "two_byte_order_marks": b"\xef\xbb\xbf\xef\xbb\xbf[gui]\n\xef\xbb\xbf[gui]\nfontSize=9\n",
    "typed_values": b"[communication]\nports=@Variant(\\0\\0\\0\\x3\\0\\0\\0\\x5)\n"
                    b"timeout=@Invalid()\n[webdav]\nhosts=@Invalid()\n",
    "repairs": b"[communication]\nports=0\ncachable=false\ntimeout=0\nblocksize=1000\n"
               b"pingurl=\n",
    "unclosed_variant": b"[gui]\nfontSize=@Variant(garbage\n",
    "serialised_time": b"[general]\nscannStart=0\n[gui]\nfontSize=@DateTime(\\0\\0\\0\\x10)\n",
    "dates": b"[dates]\nlocal=" + written_date(2460442, 25689010, 0) + b"\nutc="
             + written_date(2440588, 0, 1) + b"\noffset=" + written_date(2462867, 86340000, 2, 3600)
             + b"\nnone=" + written_date(-(2**63), 0xFFFFFFFF, 0) + b"\n[gui]\nfontSize=9\n",
    "comment_lines": b"# written by hand\n[gui]\n# font\nfontSize=9\nthis is no key\n",
    "wrong_types": b"[gui]\nfontSize=-3\nshowInFileSys=7\n[archiv]\narchivCacheSize=big\n",
}

DAMAGED = {
    "line_without_equals": b"[gui]\nfontSize=9\nthis is no key\n",
    "unclosed_section": b"[gui\nfontSize=9\n",
    "binary": b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x01",
    "nul_bytes": b"[gui]\nfontSize=9\n\x00\x01\x02",
}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_settings.py <output folder>")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for prefix, seeds in (("valid", VALID), ("damaged", DAMAGED)):
        for name, content in seeds.items():
            with open(os.path.join(out, f"{prefix}_{name}.ini"), "wb") as seed:
                seed.write(content)


if __name__ == "__main__":
    main()
