#!/usr/bin/env python3
"""Rewrite the start codes of an Annex B stream into a fixed mix.

usage: rewrite_start_codes.py IN.264 OUT.264

NAL unit i (counting from 0) gets, by i % 4:
  0  a three-byte start code 00 00 01
  1  one extra zero byte, then 00 00 00 01   (bytes xx 00 00 00 00 01)
  2  00 00 00 01
  3  two extra zero bytes, then 00 00 00 01
and the file ends with two zero bytes. Payloads are untouched, so the
result decodes like the input; only the framing differs.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from list_nals import list_nals  # noqa: E402

PREFIXES = [b"\x00\x00\x01",
            b"\x00" + b"\x00\x00\x00\x01",
            b"\x00\x00\x00\x01",
            b"\x00\x00" + b"\x00\x00\x00\x01"]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    out = bytearray()
    for i, (offset, length, sc_len, _) in enumerate(list_nals(data)):
        payload = data[offset + sc_len:offset + length].rstrip(b"\0")
        out += PREFIXES[i % 4] + payload
    out += b"\x00\x00"
    with open(sys.argv[2], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
