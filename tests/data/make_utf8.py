#!/usr/bin/env python3
"""Writes realcn_utf8.mrc: the GBK records of realcn_concat.mrc re-encoded in UTF-8, with the
leader and directory recomputed for the new byte lengths (run once; the output is checked in)."""
import os

FT, RT = b"\x1e", b"\x1d"


def to_utf8(record):
    base = int(record[12:17])
    directory = record[24 : base - 1]
    fields = record[base:].rstrip(RT).split(FT)[:-1]
    tags = [directory[i : i + 3] for i in range(0, len(directory), 12)]
    assert len(tags) == len(fields)
    new_dir, data = b"", b""
    for tag, body in zip(tags, fields):
        body = body.decode("gbk").encode("utf-8") + FT
        new_dir += tag + b"%04d%05d" % (len(body), len(data))
        data += body
    new_base = 24 + len(new_dir) + 1
    total = new_base + len(data) + 1
    leader = b"%05d" % total + record[5:12] + b"%05d" % new_base + record[17:24]
    return leader + new_dir + FT + data + RT


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "realcn_concat.mrc"), "rb") as f:
        records = [r + RT for r in f.read().split(RT) if r]
    with open(os.path.join(here, "realcn_utf8.mrc"), "wb") as f:
        f.write(b"".join(to_utf8(r) for r in records))
