#!/usr/bin/env python3
"""List the NAL units of an Annex B byte stream.

One line per NAL unit: offset, length, start code length, nal_unit_type,
tab separated. A unit runs from the first byte of its start code to the
first byte of the next start code (the last one to end of file), so any
zero bytes in front of a four-byte start code belong to the unit before.

Deliberately naive and independent of the C++ scanner: it exists to
cross-check it.
"""
import sys


def find_start_codes(data):
    """Return (position, start code length) for every start code.

    Scans byte by byte; the four-byte form is tried first, and after a
    start code the search resumes right behind it.
    """
    found = []
    p = 0
    n = len(data)
    while p + 3 <= n:
        if p + 4 <= n and data[p:p + 4] == b"\x00\x00\x00\x01":
            found.append((p, 4))
            p += 4
        elif data[p:p + 3] == b"\x00\x00\x01":
            found.append((p, 3))
            p += 3
        else:
            p += 1
    return found


def list_nals(data):
    codes = find_start_codes(data)
    rows = []
    for i, (pos, sc_len) in enumerate(codes):
        end = codes[i + 1][0] if i + 1 < len(codes) else len(data)
        header = pos + sc_len
        nal_type = data[header] & 0x1F if header < end else -1
        rows.append((pos, end - pos, sc_len, nal_type))
    return rows


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: list_nals.py STREAM.264 [OUT.nals]")
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    text = "".join("%d\t%d\t%d\t%d\n" % row for row in list_nals(data))
    if len(sys.argv) == 3:
        with open(sys.argv[2], "w", newline="\n") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
