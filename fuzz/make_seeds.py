#!/usr/bin/python3
"""Writes small archives as seeds for restore_fuzzer: option byte, then the archive."""
import struct
import sys
import zlib
from pathlib import Path


def i32(v):
    return struct.pack("<i", v)


def text(t):
    return i32(len(t)) + t


def member(name, chunks, date=0x5A216000):
    out = text(name) + i32(date) + b"EC2\0"
    for chunk, packed in chunks:
        if packed:
            z = zlib.compress(chunk, 1)
            out += i32(len(z)) + z
        else:
            out += i32(-len(chunk)) + chunk
    return out + i32(0)


def archive(*members, title=b"t"):
    return text(title) + i32(3) + i32(len(members)) + b"".join(members) + i32(0)


SEEDS = {
    "empty": archive(),
    "one": archive(member(b"c:\\a.txt", [(b"abc", True)])),
    "stored": archive(member(b"z:\\d\\b.dbf", [(bytes(range(256)) * 4, False), (b"x", True)])),
    "list": archive(member(b"FILE:LIST", [(b"z:\\a\t1=1\r\n", True)]), member(b"z:\\a", [(b"a", True)])),
    "nested": archive(member(b"z:\\x\\y\\z.dbf", [(b"z" * 20000, True)]), member(b"z:\\x\\e", [])),
    "negative": text(b"") + i32(0) + i32(0) + i32(-5) + member(b"z:\\n", [(b"n", True)]) + i32(0),
    "volume": archive(member(b"z:\\v", [(b"v", True)])) [:-4] + text(b"NEXT:DISK002"),
}

# Options 32 and up: the archive is cut into volume files at every "VOL>"; 16 plants
# links in the destination at a, d, n and Sub.
VOLUME_SEEDS = {
    "chain": archive(member(b"z:\\a", [(b"first", True)]))[:-4] + text(b"NEXT:DISK002") + b"VOL>"
    + b"EC2\0" + i32(-4) + b"more" + i32(0) + member(b"z:\\n", [(b"n", True)]) + i32(0),
    "self": archive(member(b"z:\\a", [(b"x", True)]))[:-4] + text(b"NEXT:DISK002") + b"VOL>"
    + b"EC2\0" + i32(0) + text(b"NEXT:DISK002") + b"VOL>" + b"EC2\0" + i32(0) + i32(0),
    "links": archive(member(b"z:\\a", [(b"a", True)]), member(b"z:\\d\\x", [(b"x", False)]),
                     member(b"z:\\n", [(b"n", True)]), member(b"z:\\sub\\f", [(b"f", True)])),
}

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
for name, body in SEEDS.items():
    for option in (0, 8, 2, 16, 24):
        (out / f"{name}-{option}").write_bytes(bytes([option]) + body)
for name, body in VOLUME_SEEDS.items():
    for option in (32, 48, 56, 51):
        (out / f"{name}-{option}").write_bytes(bytes([option]) + body)
