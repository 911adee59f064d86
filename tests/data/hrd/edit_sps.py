#!/usr/bin/env python3
"""Rewrites ue(v) elements of every sequence parameter set of a stream, at the bit
positions ffmpeg's trace_headers gives for them, and writes the stream again with the
SPS's trailing bits and emulation prevention redone.

usage: edit_sps.py TRACE IN.264 OUT.264 NAME=VALUE...
e.g.   edit_sps.py cbr.trace cbr.264 cbr_half_rate.264 'bit_rate_value_minus1[0]=2342'
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from craft_headers import escape, unescape  # noqa: E402

FIELD = re.compile(r"\]\s+(\d+)\s+(\S+)\s+([01]+) = (-?\d+)")


def ue(value):
    code = format(value + 1, "b")
    return "0" * (len(code) - 1) + code


def main():
    trace, src, dst = sys.argv[1:4]
    edits = dict(arg.split("=", 1) for arg in sys.argv[4:])
    where = {}
    for line in open(trace, errors="replace"):
        m = FIELD.search(line)
        if m and m.group(2) in edits and m.group(2) not in where:
            where[m.group(2)] = (int(m.group(1)), len(m.group(3)))
    # From the last element back, so that earlier positions stay right.
    order = sorted(where.items(), key=lambda kv: kv[1][0], reverse=True)
    data = open(src, "rb").read()
    out = bytearray()
    at = 0
    for m in re.finditer(b"\x00\x00\x01", data):
        start = m.end()
        if start < at or (data[start] & 31) != 7:
            continue
        end = data.find(b"\x00\x00\x01", start)
        end = len(data) if end < 0 else end
        while end > start and data[end - 1] == 0:
            end -= 1
        bits = "".join(format(b, "08b") for b in unescape(data[start:end]))
        bits = bits[: bits.rindex("1")]  # without rbsp_stop_one_bit and alignment
        for name, (pos, width) in order:
            bits = bits[:pos] + ue(int(edits[name])) + bits[pos + width:]
        bits += "1"
        bits += "0" * (-len(bits) % 8)
        payload = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
        out += data[at:start] + payload[:1] + escape(payload[1:])
        at = end
    out += data[at:]
    open(dst, "wb").write(out)


if __name__ == "__main__":
    main()
