#!/usr/bin/env python3
"""Turn an ffmpeg trace_headers log into a .ref file of expected values.

usage: convert_trace.py LOG STREAM.264 OUT.ref

LOG is the stderr of
  ffmpeg -nostats -loglevel repeat+debug -f h264 -i STREAM.264 \
         -c:v copy -bsf:v trace_headers -f null -
("repeat" stops ffmpeg folding identical NAL lines into "Last message
repeated", which would lose NAL units.)

Only ffmpeg's view goes into the .ref; STREAM.264 is used solely to check
that ffmpeg saw as many NAL units, of the same types, as there are start
codes in the file.
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from list_nals import list_nals  # noqa: E402

PREFIX = re.compile(r"^\[trace_headers @ 0x[0-9a-fA-F]+\] (.*)$")
PACKET = re.compile(r"^Packet: (\d+) bytes")
NAL = re.compile(r"^nal_unit_type: (\d+)\(.*\), nal_ref_idc: (\d+)$")
ELEMENT = re.compile(r"^(\d+)\s+(\S+)\s+([01]+)\s+=\s+(-?\d+)$")

# NAL unit types whose syntax elements go into the .ref.
DUMPED = {1: "slice", 5: "slice", 6: "sei", 7: "sps", 8: "pps"}


def parse_log(lines):
    packets = []      # [size, [nal indices]]
    nals = []         # [type, ref_idc, section or None]
    sections = []     # (packet index, title, [(pos, name, bits, value)])
    title = None
    current = None
    started = False
    for raw in lines:
        m = PREFIX.match(raw.rstrip("\r\n"))
        if not m:
            continue
        line = m.group(1).strip()
        pm = PACKET.match(line)
        if pm:
            # Everything before the first packet is the extradata copy of
            # the parameter sets, not a NAL unit of the file.
            started = True
            packets.append([int(pm.group(1)), []])
            current = None
            continue
        if not started:
            continue
        nm = NAL.match(line)
        if nm:
            packets[-1][1].append(len(nals))
            nals.append([int(nm.group(1)), int(nm.group(2)), None])
            continue
        em = ELEMENT.match(line)
        if em:
            pos, name, bits, value = em.groups()
            if name == "forbidden_zero_bit" and pos == "0":
                current = (len(packets) - 1, title, [])
                sections.append(current)
            if current is None:
                raise SystemExit("element outside a NAL unit: " + line)
            current[2].append((int(pos), name, bits, int(value)))
            continue
        if re.search(r"fail|error|invalid", line, re.I):
            sys.stderr.write("ffmpeg: %s\n" % line)
        title = line
    return packets, nals, sections


def attach_sections(packets, nals, sections):
    """Pair each traced NAL unit with its entry in the packet's NAL list."""
    cursor = {}
    for pkt, title, elements in sections:
        nal_type = next(v for _, n, _, v in elements if n == "nal_unit_type")
        members = packets[pkt][1]
        k = cursor.get(pkt, 0)
        while k < len(members) and nals[members[k]][0] != nal_type:
            k += 1
        if k == len(members):
            raise SystemExit("no NAL unit of type %d for section '%s'"
                             % (nal_type, title))
        nals[members[k]][2] = elements
        cursor[pkt] = k + 1


def write_ref(path, packets, nals):
    out = []
    for p, (size, members) in enumerate(packets):
        out.append("packet %d %d %d" % (p, size, len(members)))
        for i in members:
            nal_type, ref_idc, elements = nals[i]
            out.append("nal %d %d %d" % (i, nal_type, ref_idc))
            kind = DUMPED.get(nal_type)
            if kind is None:
                continue
            if elements is None:
                raise SystemExit("ffmpeg did not trace %s at NAL %d" % (kind, i))
            out.append("%s %d" % (kind, i))
            for pos, name, bits, value in elements:
                out.append("%s %d %d %d" % (name, value, len(bits), pos))
            out.append("end")
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(out) + "\n")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    log_path, stream_path, ref_path = sys.argv[1:]
    with open(log_path, encoding="utf-8", errors="replace") as f:
        packets, nals, sections = parse_log(f)
    attach_sections(packets, nals, sections)

    with open(stream_path, "rb") as f:
        in_file = list_nals(f.read())
    traced = [n[0] for n in nals]
    found = [row[3] for row in in_file]
    if traced != found:
        sys.exit("%s: ffmpeg saw %d NAL units %s, the file has %d start codes %s"
                 % (stream_path, len(traced), traced, len(found), found))
    write_ref(ref_path, packets, nals)


if __name__ == "__main__":
    main()
