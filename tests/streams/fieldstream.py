"""Writes a field-coded (PAFF) H.264 stream, which neither x264 nor ffmpeg's encoders can
make: every frame is two field pictures, each an I field of PCM macroblocks (samples stored
as they are) or a P field of skipped macroblocks (a copy of its first reference field). The
samples of every I field are known, so the stream holds its own truth.

usage: fieldstream.py OUT [FRAMES]
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


def field(idr, bottom, intra, frame_num, poc, idr_pic_id, picture):
    b = Bits()
    b.ue(0)  # first_mb_in_slice
    b.ue(7 if intra else 5)  # every slice of the picture I, or P
    b.ue(0)
    b.u(LOG2_FRAME_NUM, frame_num)
    b.u(1, 1)  # field_pic_flag
    b.u(1, bottom)
    if idr:
        b.ue(idr_pic_id)
    b.u(LOG2_POC_LSB, poc % (1 << LOG2_POC_LSB))
    if not intra:
        b.u(1, 0)  # num_ref_idx_active_override_flag
        b.u(1, 0)  # ref_pic_list_modification_flag_l0
    if idr:
        b.u(1, 0)
        b.u(1, 0)
    else:
        b.u(1, 0)  # adaptive_ref_pic_marking_mode_flag: sliding window
    b.se(0)  # slice_qp_delta
    b.ue(1)  # disable_deblocking_filter_idc: PCM samples stay as stored
    mbs = WIDTH_MBS * FIELD_HEIGHT_MBS
    if intra:
        for mb in range(mbs):
            b.ue(25)  # I_PCM
            b.align()
            for s in samples(picture, mb):
                b.u(8, s)
    else:
        b.ue(mbs)  # mb_skip_run: every macroblock
    b.trailing()
    return nal(2, 5 if idr else 1, b.bytes())


# Per frame: whether its top and bottom fields are I; an IDR picture every eighth frame.
PATTERN = [(1, 0), (0, 0), (1, 1), (0, 1)]


def kinds(frames=12):
    """'i' or 'p' for each field picture in stream order."""
    return ["ip"[1 - intra] for k in range(frames) for intra in PATTERN[k % len(PATTERN)]]


def write(out, frames=12):
    units = [sps(), pps()]
    idr_frame, idr_pic_id = 0, 0
    for k in range(frames):
        if k % 8 == 0:
            idr_frame, idr_pic_id = k, k // 8
        n = k - idr_frame
        for bottom, intra in enumerate(PATTERN[k % len(PATTERN)]):
            idr = n == 0 and bottom == 0
            units.append(field(idr, bottom, intra, n % (1 << LOG2_FRAME_NUM),
                               4 * n + 2 * bottom, idr_pic_id, 2 * k + bottom))
    open(out, "wb").write(b"".join(units))


if __name__ == "__main__":
    write(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 12)
