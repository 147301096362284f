#!/usr/bin/env python3
"""Expands the shared table of malformed settings files (tests/data/bad_settings.tsv).

    settings_cases.py TABLE FOLDER

Writes each case's core.ini as FOLDER/NAME.ini (no file for "-") and prints one line per case:
NAME <tab> FULL <tab> CONTROL <tab> PATH-or-"-". The escapes and repetitions are the table's:
\\n \\r \\t \\\\ \\xHH and {N*TEXT}.
"""
import os
import sys


def expand(raw):
    out = bytearray()
    i = 0
    while i < len(raw):
        c = raw[i]
        if c == "{":
            star = raw.index("*", i)
            close = raw.index("}", star)
            piece = expand(raw[star + 1:close])
            out += piece * int(raw[i + 1:star])
            i = close + 1
        elif c == "\\" and i + 1 < len(raw):
            e = raw[i + 1]
            if e == "x":
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
                continue
            out += {"n": b"\n", "r": b"\r", "t": b"\t"}.get(e, e.encode("latin-1"))
            i += 2
        else:
            out += c.encode("latin-1")
            i += 1
    return bytes(out)


def main():
    table, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    with open(table, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            name, full, control, raw = line.split("\t", 3)
            path = "-"
            if raw != "-":
                path = os.path.join(folder, name + ".ini")
                with open(path, "wb") as out:
                    out.write(expand(raw))
            print("\t".join((name, full, control, path)))


if __name__ == "__main__":
    main()
