#!/usr/bin/env python3
"""Prints an .xlsx workbook's sheets as marcrows prints rows, to compare them with its TSV.

read_xlsx.py BOOK.xlsx: for every sheet, in workbook order, a line "== NAME", then one line per
row, cells separated by TAB and escaped as marcrows escapes them (backslash, TAB, CR, LF). Rows
are at least as wide as the sheet's first row. Exits 1 when a cell is not text (a number, a date, a
formula, a boolean), when rows are missing or out of order, or when a part is not well-formed XML.
"""
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

NS = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
      "r": "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
      "p": "http://schemas.openxmlformats.org/package/2006/relationships"}
ESCAPED = re.compile(r"_x([0-9A-Fa-f]{4})_")


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def column_index(ref):
    letters = re.match(r"[A-Z]+", ref).group(0)
    index = 0
    for ch in letters:
        index = index * 26 + ord(ch) - ord("A") + 1
    return index - 1


def text_of(node):
    # Plain or rich text; "_xHHHH_" names a character (control characters are written so).
    raw = "".join(t.text or "" for t in node.iter("{%s}t" % NS["m"]))
    return ESCAPED.sub(lambda m: chr(int(m.group(1), 16)), raw)


def escape(cell):
    return (cell.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


def main(path):
    book = zipfile.ZipFile(path)
    shared = []
    if "xl/sharedStrings.xml" in book.namelist():
        shared = [text_of(si) for si in ET.fromstring(book.read("xl/sharedStrings.xml"))]
    rels = {r.get("Id"): r.get("Target")
            for r in ET.fromstring(book.read("xl/_rels/workbook.xml.rels"))}
    out = []
    for sheet in ET.fromstring(book.read("xl/workbook.xml")).find("m:sheets", NS):
        target = rels[sheet.get("{%s}id" % NS["r"])].lstrip("/")
        part = target if target.startswith("xl/") else "xl/" + target
        out.append("== " + sheet.get("name"))
        width = None
        expected_row = 1
        for row in ET.fromstring(book.read(part)).find("m:sheetData", NS):
            if int(row.get("r")) != expected_row:
                fail("%s: row %s where row %d was due" % (part, row.get("r"), expected_row))
            expected_row += 1
            cells = {}
            for c in row:
                kind = c.get("t")
                if kind == "inlineStr":
                    cells[column_index(c.get("r"))] = text_of(c.find("m:is", NS))
                elif kind == "s":
                    cells[column_index(c.get("r"))] = shared[int(c.find("m:v", NS).text)]
                else:
                    fail("%s: cell %s is not text (t=%s)" % (part, c.get("r"), kind))
            if width is None:
                width = max(cells) + 1 if cells else 0
            row_width = max([width] + [i + 1 for i in cells])
            out.append("\t".join(escape(cells.get(i, "")) for i in range(row_width)))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
