#!/usr/bin/python3
"""Tells whether an office holds a document whose first sheet is exactly the expected rows.

calc_has_rows.py PIPE EXPECTED.tsv [FILE]: connects to the office listening on PIPE (UNO), opens
FILE in it (hidden) when given, and exits 0 when that document, or else one of its new, unsaved
documents, has a first sheet whose used area equals EXPECTED (one line per row, cells separated
by TAB, escaped as marcrows escapes them) with every cell text; otherwise it prints the sheets it
found and exits 1. Needs Debian's python3-uno (run by /usr/bin/python3).
"""
import os
import sys

import uno
from com.sun.star.beans import PropertyValue


def escape(cell):
    return (cell.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


def first_sheet(doc):
    sheet = doc.Sheets.getByIndex(0)
    cursor = sheet.createCursor()
    cursor.gotoStartOfUsedArea(False)
    cursor.gotoEndOfUsedArea(True)
    rows = []
    for row in cursor.getDataArray():
        # Text comes back as str, a number as float: a number is no text cell.
        if any(not isinstance(value, str) for value in row):
            return None
        rows.append("\t".join(escape(value) for value in row))
    return rows


def main(pipe, expected_path, load=None):
    with open(expected_path, encoding="utf-8") as f:
        expected = f.read().splitlines()
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", local)
    context = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
    desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop",
                                                               context)
    if load:
        hidden = PropertyValue()
        hidden.Name, hidden.Value = "Hidden", True
        candidates = [desktop.loadComponentFromURL(
            uno.systemPathToFileUrl(os.path.abspath(load)), "_blank", 0, (hidden,))]
    else:
        # What an export made: never saved, so without a URL.
        candidates = []
        documents = desktop.Components.createEnumeration()
        while documents.hasMoreElements():
            doc = documents.nextElement()
            if hasattr(doc, "Sheets") and not doc.URL:
                candidates.append(doc)
    found = []
    for doc in candidates:
        rows = first_sheet(doc)
        if rows == expected:
            return 0
        found.append(rows)
    for rows in found:
        print("== a sheet of %s rows%s" % (len(rows) if rows is not None else "?",
                                           "" if rows is not None else " (not all text)"))
        print("\n".join((rows or [])[:3]))
    return 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
