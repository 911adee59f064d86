"""Writes a field-coded (PAFF) H.264 stream, which neither x264 nor ffmpeg's encoders can
make: every frame is two field pictures, each an I field of PCM macroblocks (samples stored
as they are) or a P or B field of skipped macroblocks (a copy of its first reference field,
or the mean of its first two). The samples of every I field are known, so the stream holds
its own truth, and ffmpeg decodes the I fields to exactly those samples.

usage: fieldstream.py OUT [FRAMES] [-b] [-s]   -b: B field pairs; -s: four slices a field
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data"))
from craft_headers import escape, se, to_bytes, ue, with_trailing_bits  # noqa: E402

WIDTH_MBS, FIELD_HEIGHT_MBS = 4, 2  # a 64x64 frame of two 64x32 fields
LOG2_FRAME_NUM, LOG2_POC_LSB = 4, 8


class Bits:
    def __init__(self):
        self.bits = ""

    def u(self, n, value):
        self.bits += format(value, f"0{n}b")

    def ue(self, value):
        self.bits += ue(value)

    def se(self, value):
        self.bits += se(value)

    def align(self):
        self.bits += "0" * (-len(self.bits) % 8)

    def trailing(self):
        self.bits = with_trailing_bits(self.bits)

    def bytes(self):
        return to_bytes(self.bits)


def nal(ref_idc, kind, rbsp):
    return b"\x00\x00\x00\x01" + bytes([ref_idc << 5 | kind]) + escape(rbsp)


def sps():
    b = Bits()
    b.u(8, 77)  # Main: field pictures need it
    b.u(8, 0)
    b.u(8, 30)
    b.ue(0)  # seq_parameter_set_id
    b.ue(LOG2_FRAME_NUM - 4)
    b.ue(0)  # pic_order_cnt_type
    b.ue(LOG2_POC_LSB - 4)
    b.ue(2)  # max_num_ref_frames
    b.u(1, 0)
    b.ue(WIDTH_MBS - 1)
    b.ue(FIELD_HEIGHT_MBS - 1)  # map units: field macroblock rows
    b.u(1, 0)  # frame_mbs_only_flag
    b.u(1, 0)  # mb_adaptive_frame_field_flag
    b.u(1, 1)  # direct_8x8_inference_flag
    b.u(1, 0)  # frame_cropping_flag
    b.u(1, 0)  # vui_parameters_present_flag
    b.trailing()
    return nal(3, 7, b.bytes())


def pps():
    b = Bits()
    b.ue(0)
    b.ue(0)
    b.u(1, 0)  # CAVLC
    b.u(1, 0)
    b.ue(0)  # one slice group
    b.ue(0)
    b.ue(0)
    b.u(1, 0)
    b.u(2, 0)
    b.se(0)
    b.se(0)
    b.se(0)
    b.u(1, 1)  # deblocking_filter_control_present_flag: slices turn the filter off
    b.u(1, 0)
    b.u(1, 0)
    b.trailing()
    return nal(3, 8, b.bytes())


def samples(field, mb):
    """The PCM samples of one macroblock: 256 luma, 64 Cb, 64 Cr, never 0."""
    x0, y0 = mb % WIDTH_MBS * 16, mb // WIDTH_MBS * 16
    luma = [(x0 + x + 3 * (y0 + y) + 37 * field) % 200 + 20 for y in range(16) for x in range(16)]
    cb = [(2 * x + 11 * field) % 200 + 20 for y in range(8) for x in range(8)]
    cr = [(5 * (y0 // 2 + y) + mb * 7 + 3 * field) % 200 + 20 for y in range(8) for x in range(8)]
    return luma + cb + cr


def field(kind, bottom, frame, first_mb, count):
    """One slice of a field picture: count macroblocks from first_mb on."""
    idr = frame["idr"] and bottom == 0
    b = Bits()
    b.ue(first_mb)
    b.ue({"i": 7, "p": 5, "b": 6}[kind])  # every slice of the picture of one type
    b.ue(0)
    b.u(LOG2_FRAME_NUM, frame["frame_num"] % (1 << LOG2_FRAME_NUM))
    b.u(1, 1)  # field_pic_flag
    b.u(1, bottom)
    if idr:
        b.ue(frame["idr_pic_id"])
    b.u(LOG2_POC_LSB, (4 * frame["n"] + 2 * bottom) % (1 << LOG2_POC_LSB))
    if kind == "b":
        b.u(1, 1)  # direct_spatial_mv_pred_flag
    if kind != "i":
        b.u(1, 0)  # num_ref_idx_active_override_flag
        b.u(1, 0)  # ref_pic_list_modification_flag_l0
    if kind == "b":
        b.u(1, 0)  # ref_pic_list_modification_flag_l1
    if idr:
        b.u(2, 0)  # no_output_of_prior_pics_flag, long_term_reference_flag
    elif frame["ref"]:
        b.u(1, 0)  # adaptive_ref_pic_marking_mode_flag: sliding window
    b.se(0)  # slice_qp_delta
    b.ue(1)  # disable_deblocking_filter_idc: PCM samples stay as stored
    if kind == "i":
        for mb in range(first_mb, first_mb + count):
            b.ue(25)  # I_PCM
            b.align()
            for sample in samples(2 * frame["d"] + bottom, mb):
                b.u(8, sample)
    else:
        b.ue(count)  # mb_skip_run: every macroblock
    b.trailing()
    return nal(2 if frame["ref"] else 0, 5 if idr else 1, b.bytes())


def frames(count, bframes):
    """The frames in decoding order: their display index d, index n from their IDR picture,
    the types of their two fields, and their frame_num. An IDR picture every eighth frame;
    with bframes, a pair of non-reference B fields between reference frames."""
    order = []
    for start in range(0, count, 8):
        end = min(start + 8, count)
        order.append((start, "ip", True))
        d = start + 1
        while d < end:
            if bframes and d + 1 < end:
                order += [(d + 1, ["pi", "ip"][d // 2 % 2], True), (d, "bb", False)]
                d += 2
            else:
                order.append((d, ["pp", "ii", "pi"][d % 3], True))
                d += 1
    out, frame_num = [], 0
    for d, kinds_, ref in order:
        idr = d % 8 == 0
        frame_num = 0 if idr else frame_num + 1
        out.append({"d": d, "n": d % 8, "kinds": kinds_, "ref": ref, "idr": idr,
                    "idr_pic_id": d // 8, "frame_num": frame_num})
        if not ref:
            frame_num -= 1  # the next reference frame takes the same number
    return out


def kinds(count=12, bframes=False):
    """'i', 'p' or 'b' for each field picture in stream order."""
    return [k for frame in frames(count, bframes) for k in frame["kinds"]]


def write(out, count=12, bframes=False, slices=1):
    units = [sps(), pps()]
    mbs = WIDTH_MBS * FIELD_HEIGHT_MBS
    cuts = [mbs * i // slices for i in range(slices + 1)]
    for frame in frames(count, bframes):
        for bottom, kind in enumerate(frame["kinds"]):
            units += [field(kind, bottom, frame, a, b - a) for a, b in zip(cuts, cuts[1:])]
    open(out, "wb").write(b"".join(units))


if __name__ == "__main__":
    write(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 12, "-b" in sys.argv,
          4 if "-s" in sys.argv else 1)
