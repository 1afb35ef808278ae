#!/usr/bin/env python3
"""Wraps a PNG into an .ico of one image: Windows reads PNG-compressed icon images."""
import struct
import sys

source, target = sys.argv[1], sys.argv[2]
png = open(source, "rb").read()
if png[:8] != b"\x89PNG\r\n\x1a\n":
    sys.exit(f"png2ico: {source} is not a PNG")
width, height = struct.unpack(">II", png[16:24])
header = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, one image
entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(png), 6 + 16)
with open(target, "wb") as out:
    out.write(header + entry + png)
