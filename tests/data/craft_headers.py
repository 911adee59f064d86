#!/usr/bin/env python3
"""Derive streams with header features the encoder never writes.

usage: craft_headers.py OPERATION IN.264 IN.log OUT.264

IN.log is ffmpeg's trace_headers log of IN.264 (as convert_trace.py reads
it). Its bit positions tell where to cut; the edits copy bits that are
already in the stream, so nothing here decides a syntax value except the
picture order count fields of poc-type1. The expected values of OUT.264
come from tracing OUT.264 again with ffmpeg, never from this script.

Operations:
  sps-scaling  Set seq_scaling_matrix_present_flag and give the SPS the
               scaling lists of the PPS (needs transform_8x8_mode_flag, so
               both carry the same number of lists). The PPS keeps its own
               lists, so the pictures decode exactly as before.
  vcl-hrd      Add VCL HRD parameters equal to the NAL HRD ones, and
               extend each buffering period SEI with the matching VCL
               delays so it still fits the SPS.
  poc-type1    Replace pic_order_cnt_type 2 with type 1 and
               delta_pic_order_always_zero_flag; slices coded for type 2
               carry no order count fields, so they stay valid.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from convert_trace import attach_sections, parse_log  # noqa: E402
from list_nals import list_nals  # noqa: E402


def unescape(payload):
    out = bytearray()
    zeros = 0
    for b in payload:
        if zeros >= 2 and b == 3:
            zeros = 0
            continue
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def escape(rbsp):
    out = bytearray()
    zeros = 0
    for b in rbsp:
        if zeros >= 2 and b <= 3:
            out.append(3)
            zeros = 0
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


def to_bits(data):
    return "".join(format(b, "08b") for b in data)


def to_bytes(bits):
    assert len(bits) % 8 == 0
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def ue(v):
    code = format(v + 1, "b")
    return "0" * (len(code) - 1) + code


def se(v):
    return ue(2 * v - 1 if v > 0 else -2 * v)


def with_trailing_bits(bits):
    bits += "1"
    return bits + "0" * (-len(bits) % 8)


class Element:
    def __init__(self, elements):
        self.elements = elements

    def first(self, name):
        for pos, n, bits, value in self.elements:
            if n == name:
                return pos, len(bits), value
        raise SystemExit("element %s not traced" % name)

    def has(self, name):
        return any(n == name for _, n, _, _ in self.elements)


def sps_scaling(nal_type, rbsp_bits, el, ctx):
    if nal_type != 7:
        return None
    pos, width, value = el.first("seq_scaling_matrix_present_flag")
    assert width == 1 and value == 0
    stop, _, _ = el.first("rbsp_stop_one_bit")
    body = rbsp_bits[:pos] + "1" + ctx["pps_lists"] + rbsp_bits[pos + 1:stop]
    return with_trailing_bits(body)


def vcl_hrd(nal_type, rbsp_bits, el, ctx):
    if nal_type == 7:
        pos, width, value = el.first("vcl_hrd_parameters_present_flag")
        assert width == 1 and value == 0
        start, _, _ = el.first("cpb_cnt_minus1")
        hrd = rbsp_bits[start:pos]
        stop, _, _ = el.first("rbsp_stop_one_bit")
        body = rbsp_bits[:pos] + "1" + hrd + rbsp_bits[pos + 1:stop]
        return with_trailing_bits(body)
    if nal_type == 6 and el.has("initial_cpb_removal_delay[0]"):
        ptype_pos, _, ptype = el.first("last_payload_type_byte")
        size_pos, size_width, _ = el.first("last_payload_size_byte")
        assert ptype == 0 and ptype_pos == 8 and size_pos == 16
        stop, _, _ = el.first("rbsp_stop_one_bit")
        if stop != size_pos + size_width + el.first("last_payload_size_byte")[2] * 8:
            raise SystemExit("buffering period SEI must hold one message")
        payload_start = size_pos + size_width
        delays, _, _ = el.first("initial_cpb_removal_delay[0]")
        end = (el.first("bit_equal_to_one")[0]
               if el.has("bit_equal_to_one") else stop)
        payload = (rbsp_bits[payload_start:delays]
                   + rbsp_bits[delays:end] * 2)
        if len(payload) % 8:
            payload = with_trailing_bits(payload)
        size = len(payload) // 8
        assert size < 255
        body = (rbsp_bits[:8] + format(0, "08b") + format(size, "08b")
                + payload)
        return with_trailing_bits(body)
    return None


POC_TYPE1 = (ue(1) + "1"            # delta_pic_order_always_zero_flag
             + se(-2)               # offset_for_non_ref_pic
             + se(1)                # offset_for_top_to_bottom_field
             + ue(3)                # num_ref_frames_in_pic_order_cnt_cycle
             + se(2) + se(4) + se(6))


def poc_type1(nal_type, rbsp_bits, el, ctx):
    if nal_type != 7:
        return None
    pos, width, value = el.first("pic_order_cnt_type")
    assert value == 2
    stop, _, _ = el.first("rbsp_stop_one_bit")
    body = rbsp_bits[:pos] + POC_TYPE1 + rbsp_bits[pos + width:stop]
    return with_trailing_bits(body)


OPERATIONS = {"sps-scaling": sps_scaling, "vcl-hrd": vcl_hrd,
              "poc-type1": poc_type1}


def pps_list_bits(units, traced):
    """Bits of the first PPS from its first scaling list flag up to
    second_chroma_qp_index_offset."""
    for (_, _, _, payload), (nal_type, _, elements) in zip(units, traced):
        if nal_type != 8:
            continue
        el = Element(elements)
        _, _, t8x8 = el.first("transform_8x8_mode_flag")
        if t8x8 != 1:
            raise SystemExit("PPS without transform_8x8_mode_flag")
        start, _, _ = el.first("pic_scaling_list_present_flag[0]")
        end, _, _ = el.first("second_chroma_qp_index_offset")
        return to_bits(unescape(payload))[start:end]
    raise SystemExit("no PPS")


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in OPERATIONS:
        sys.exit(__doc__)
    op, in_path, log_path, out_path = sys.argv[1:]
    with open(in_path, "rb") as f:
        data = f.read()
    with open(log_path, encoding="utf-8", errors="replace") as f:
        packets, traced, sections = parse_log(f)
    attach_sections(packets, traced, sections)

    units = []
    for offset, length, sc_len, nal_type in list_nals(data):
        unit = data[offset:offset + length]
        units.append((offset, sc_len, nal_type, unit[sc_len:].rstrip(b"\0")))
    if [u[2] for u in units] != [t[0] for t in traced]:
        raise SystemExit("trace does not match the stream")

    ctx = {}
    if op == "sps-scaling":
        ctx["pps_lists"] = pps_list_bits(units, traced)

    out = bytearray()
    changed = 0
    for i, (offset, sc_len, nal_type, payload) in enumerate(units):
        end = units[i + 1][0] if i + 1 < len(units) else len(data)
        elements = traced[i][2]
        new_bits = None
        if elements is not None:
            rbsp_bits = to_bits(unescape(payload))
            new_bits = OPERATIONS[op](nal_type, rbsp_bits, Element(elements), ctx)
        if new_bits is None:
            out += data[offset:end]
            continue
        rbsp = to_bytes(new_bits)
        out += data[offset:offset + sc_len] + rbsp[:1] + escape(rbsp[1:])
        changed += 1
    if not changed:
        raise SystemExit("%s: nothing to change" % op)
    with open(out_path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
