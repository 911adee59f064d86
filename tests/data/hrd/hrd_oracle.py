#!/usr/bin/env python3
"""The coded picture buffer of a stream's NAL HRD, schedule 0, worked out apart from
Quillet: the values come from ffmpeg's reading of the stream (its trace_headers bitstream
filter, the sizes of its packets), the arithmetic is Python's exact fractions, and the
fullness at each removal is summed over every access unit's arrival rather than carried
from one unit to the next.

usage: hrd_oracle.py TRACE [RATE SIZE DELAY] > NAME.hrd
       hrd_oracle.py TRACE --vcl NAME.264 > NAME.vcl.hrd
TRACE is the standard error of
    ffmpeg -i NAME.264 -c copy -bsf:v trace_headers -f null -

Output: one line per access unit in decoding order, tab-separated: index, bits, initial
arrival, final arrival, removal (seconds, rounded down to 9 decimals), fullness just
before and just after the removal (bits, rounded down), and "underflow" or "overflow".

With RATE (bits/s), SIZE (bits) and DELAY (90 kHz units) the stream's own HRD is left
aside: a VBR buffer with those figures, the first removal DELAY after the first arrival
begins and one every frame of the stream's tick after it.

With --vcl the VCL HRD's first schedule instead, counting of each access unit (ffmpeg's
packet) only the NAL units of slices and filler data, found by list_nals.py's naive scan,
without their start codes and the zero bytes after them.
"""
import os
import re
import sys
from fractions import Fraction
from math import floor

FIELD = re.compile(r"\]\s+\d+\s+(\S+)\s+[01]+ = (-?\d+)")
PACKET = re.compile(r"Packet: (\d+) bytes")


def read(path, vcl=False):
    sps = {}
    units = []
    current = {}  # the values before the first packet (extradata) go nowhere
    in_vcl_hrd = False
    for line in open(path, errors="replace"):
        m = FIELD.search(line)
        if m:
            name, value = m.group(1), int(m.group(2))
            if name == "vcl_hrd_parameters_present_flag":
                in_vcl_hrd = True
            elif name in ("nal_hrd_parameters_present_flag", "low_delay_hrd_flag"):
                in_vcl_hrd = False
            if name in ("initial_cpb_removal_delay[0]", "initial_cpb_removal_delay_offset[0]"):
                # The NAL HRD's come first, the VCL HRD's last.
                if vcl or name not in current:
                    current[name] = value
            elif name in ("cpb_removal_delay", "dpb_output_delay"):
                current.setdefault(name, value)
            elif in_vcl_hrd == vcl or name not in sps:
                sps[name] = value
            continue
        m = PACKET.search(line)
        if m:
            # The packet's line comes before the lines of its units.
            current = {"bytes": int(m.group(1))}
            units.append(current)
    return sps, units


def seconds(t):
    # Rounded down to the nanosecond, written with nine decimals.
    n = floor(t * 10**9)
    return "%d.%09d" % (n // 10**9, n % 10**9)


def vcl_bytes(stream, units):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    from list_nals import list_nals
    data = open(stream, "rb").read()
    rows = list_nals(data)
    at = rows[0][0]
    for u in units:
        end = at + u["bytes"]
        u["bytes"] = 0
        for pos, length, sc_len, nal_type in rows:
            if at <= pos < end and (1 <= nal_type <= 5 or nal_type == 12):
                u["bytes"] += len(data[pos + sc_len:pos + length].rstrip(b"\0"))
        at = end


def main():
    vcl = len(sys.argv) == 4 and sys.argv[2] == "--vcl"
    sps, units = read(sys.argv[1], vcl)
    if vcl:
        vcl_bytes(sys.argv[3], units)
    tick = Fraction(sps["num_units_in_tick"], sps["time_scale"])
    if len(sys.argv) == 5 and not vcl:
        rate, size, delay = (int(v) for v in sys.argv[2:])
        cbr = False
        for n, u in enumerate(units):
            u["initial_cpb_removal_delay[0]"] = delay
            u["initial_cpb_removal_delay_offset[0]"] = 0
            u["cpb_removal_delay"] = 2 * n  # two ticks a frame, from the first
            if n > 0:
                del u["initial_cpb_removal_delay[0]"]
    else:
        rate = (sps["bit_rate_value_minus1[0]"] + 1) * 2 ** (6 + sps["bit_rate_scale"])
        size = (sps["cpb_size_value_minus1[0]"] + 1) * 2 ** (4 + sps["cpb_size_scale"])
        cbr = sps["cbr_flag[0]"] == 1
    rows = []
    period_removal = None
    delay = offset = 0
    last_final = Fraction(0)
    for n, u in enumerate(units):
        bits = 8 * u["bytes"]
        period = "initial_cpb_removal_delay[0]" in u
        if n == 0:
            removal = Fraction(u["initial_cpb_removal_delay[0]"], 90000)
        else:
            removal = period_removal + tick * u["cpb_removal_delay"]
        if period:
            delay = u["initial_cpb_removal_delay[0]"]
            offset = u["initial_cpb_removal_delay_offset[0]"]
        if n == 0:
            initial = Fraction(0)
        elif cbr:
            initial = last_final
        else:
            earliest = removal - Fraction(delay if period else delay + offset, 90000)
            initial = max(last_final, earliest)
        final = initial + Fraction(bits, rate)
        if period:
            period_removal = removal
        rows.append([bits, initial, final, removal])
        last_final = final
    removed = 0
    for n, (bits, initial, final, removal) in enumerate(rows):
        arrived = sum(min(Fraction(b), max(Fraction(0), (removal - i) * rate))
                      for b, i, _, _ in rows)
        before = arrived - removed
        removed += bits
        flags = []
        if removal < final:
            flags.append("underflow")
        if before > size:
            flags.append("overflow")
        print("\t".join([str(n), str(bits), seconds(initial), seconds(final), seconds(removal),
                         str(floor(before)), str(floor(before - bits))] + flags))


if __name__ == "__main__":
    main()
