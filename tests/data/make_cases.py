#!/usr/bin/env python3
"""Writes the small record files the reader tests use (run once; the outputs are checked in)."""
import os

FT, RT, SD = b"\x1e", b"\x1d", b"\x1f"


def field(ind, subfields):
    out = ind.encode()
    for code, text in subfields:
        out += SD + code.encode() + text.encode("gbk")
    return out


def record(fields, terminator=True):
    """fields: list of (tag, bytes). Builds leader and directory with true lengths."""
    directory, data = b"", b""
    for tag, body in fields:
        body += FT
        directory += tag.encode() + b"%04d%05d" % (len(body), len(data))
        data += body
    base = 24 + len(directory) + 1
    total = base + len(data) + (1 if terminator else 0)
    leader = b"%05dnam0 22%05d   450 " % (total, base)
    return leader + directory + FT + data + (RT if terminator else b"")


A = record([
    ("001", b"A001"),
    ("010", field("  ", [("a", "7-111-22222-3"), ("d", "CNY25.00")])),
    ("200", field("1 ", [("a", "甲书"), ("f", "张三著")])),
    ("210", field("  ", [("a", "北京"), ("c", "中华书局"), ("d", "2001.10")])),
    ("215", field("  ", [("a", "206页"), ("d", "21cm"), ("e", "1光盘")])),
    ("330", field("  ", [("a", "第一本书的提要")])),
    ("606", field("0 ", [("a", "小说")])),
    ("690", field("  ", [("a", "I247.5"), ("v", "4")])),
])
# No 010 and no 330: its price and summary must stay empty.
B = record([
    ("200", field("1 ", [("a", "乙书"), ("f", "李四")])),
    ("215", field("  ", [("a", "xxvii, 571页")])),
])
C = record([
    ("010", field("  ", [("a", "0012")])),
    ("200", field("1 ", [("A", "Bing Shu"), ("a", "丙书")])),
    ("210", field("  ", [("d", "1985.07")])),
])
# The last record of a file without its terminator: no byte of it is lost.
D_open = record([("330", field("  ", [("a", "末尾")]))], terminator=False)
BAD_LEADER = b"0x12Znam0 2200025   450 " + FT + RT


def drop_fields_after_first(r):
    """Keeps the directory but only the first field of the data part."""
    base = int(r[12:17])
    first_end = r.index(FT, base) + 1
    return r[:first_end] + RT


# The directory names 210 and 330 fields the data part does not hold.
MISSING = drop_fields_after_first(record([
    ("200", field("1 ", [("a", "丁")])),
    ("210", field("  ", [("a", "上海")])),
    ("330", field("  ", [("a", "无")])),
]))

CASES = {
    "cases_lines.mrc": A + b"\r\n" + B + b"\r\n" + C + b"\r\n",
    "cases_concat.mrc": A + B + C,
    "cases_blank_lines.mrc": A + b"\r\n\r\n" + B + b"\n\r" + C + b"\n\n",
    "cases_nul.mrc": A + b"\r\n" + B + b"\x00" + C,
    "cases_bad_leader.mrc": A + b"\r\n" + BAD_LEADER + b"\r\n" + C + b"\r\n",
    "cases_missing_field.mrc": A + B + MISSING + C,
    "cases_unterminated.mrc": A + D_open,
    "cases_crlf_only.mrc": b"\r\n" * 3,
    "cases_empty.mrc": b"",
    # Ends and lines that older DOS and Windows tools leave: an end-of-file byte 0x1A, blanks and
    # TABs. They give no record; a piece with any other byte still is one, and fails.
    "cases_dos_eof_lines.mrc": A + b"\r\n" + B + b"\r\n" + C + b"\r\n\x1a",
    "cases_dos_eof_concat.mrc": A + B + C + b"\x1a",
    "cases_blank_only_line.mrc": A + b" \r\n \t \x1a\r\n" + B + b"\t\r\n" + C,
    "cases_blank_then_text.mrc": A + B + b" x\x1a" + C,
}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for name, data in CASES.items():
        with open(os.path.join(here, name), "wb") as f:
            f.write(data)
