#!/usr/bin/env python3
"""Checks quillet-dump against ffmpeg on streams made here with the encoders' options that
stress the access-unit rule and the decoder's start points: every access unit that ffprobe
lists must be one of ours, the summary must count what ffmpeg counts, and the picture of
every access unit, asked for cold, must equal ffmpeg's decode sample for sample or carry
the warning that says it may differ.

usage: differential.py [--openh264 TOOL] QUILLET_DUMP WORKDIR [NAME...]
TOOL writes OpenH264's streams (tests/streams/OpenH264Stream.cpp); without it they are skipped.
"""
import json
import os
import re
import subprocess
import sys
import zlib

sys.dont_write_bytecode = True  # the test leaves the source tree as it found it
import fieldstream  # noqa: E402
from craft_headers import escape, to_bits, to_bytes, unescape, with_trailing_bits  # noqa: E402

FFMPEG = ["ffmpeg", "-nostdin", "-v", "error", "-y"]
OPENH264 = None  # the second encoder's tool, when it was built


def run(args, **kw):
    return subprocess.run(args, check=True, capture_output=True, **kw)


def lavfi(size="176x144", frames=30):
    return ["-f", "lavfi", "-i", f"testsrc2=size={size}:rate=25", "-frames:v", str(frames)]


def x264(out, *opts, size="176x144", frames=30, pix="yuv420p", codec="libx264"):
    run(FFMPEG + lavfi(size, frames) + ["-pix_fmt", pix, "-c:v", codec] + list(opts) + ["-f", "h264", out])


def openh264(out, *opts):
    run([OPENH264, out] + list(opts))


def units(data):
    """(offset, start code length) of every start code, by the byte-stream rule."""
    found, i = [], data.find(b"\x00\x00\x01")
    while i >= 0:
        four = i > 0 and data[i - 1] == 0
        found.append((i - 1 if four else i, 4 if four else 3))
        i = data.find(b"\x00\x00\x01", i + 3)
    return found


def edit(src, out, how):
    """Edits of a made stream: slices reordered, a picture's first slice lost, filler data
    after each picture parameter set."""
    data = open(src, "rb").read()
    starts = units(data) + [(len(data), 0)]
    pieces = [data[a:b] for (a, _), (b, _) in zip(starts, starts[1:])]
    kind = [p[4 if p[2] == 0 else 3] & 31 for p in pieces]
    if how == "filler":
        res = []
        for p, k in zip(pieces, kind):
            res.append(p)
            if k == 8:
                res.append(b"\x00\x00\x00\x01\x0c" + b"\xff" * 300 + b"\x80")
        pieces = res
    elif how == "lose-first-slice":
        # The second IDR picture's first slice goes.
        idr = [i for i, k in enumerate(kind) if k == 5 and first_mb(pieces[i]) == 0]
        del pieces[idr[1]]
    elif how == "reorder":
        # The last two slices of every picture with four swap places.
        i = 0
        while i + 3 < len(pieces):
            if all(k in (1, 5) for k in kind[i:i + 4]) and first_mb(pieces[i]) == 0:
                pieces[i + 2], pieces[i + 3] = pieces[i + 3], pieces[i + 2]
                i += 4
            else:
                i += 1
    elif how == "pps-switch":
        # A second PPS (id 1) after the first, the sets only at the start (x264 repeats them
        # at every IDR picture); the slices of every fourth picture name it, the last before
        # each IDR picture: decoding from a later one needs it only three pictures in.
        res, picture = [], -1
        for i, (p, k) in enumerate(zip(pieces, kind)):
            if k in (7, 8) and k in kind[:i]:
                continue
            if k in (1, 5):
                picture += first_mb(p) == 0
                p = with_second_ue(p, 2, 1) if picture % 4 == 3 else p
            res.append(p)
            if k == 8:
                res.append(with_second_ue(p, 0, 1))
        pieces = res
    elif how in ("lose-a-slice", "garble-a-slice"):
        # The third slice of the fifth P picture: lost, or its second half overwritten.
        firsts = [i for i, k in enumerate(kind) if k == 1 and first_mb(pieces[i]) == 0]
        at = firsts[4] + 2
        if how == "lose-a-slice":
            del pieces[at]
        else:
            p = pieces[at]
            half = len(p) // 2
            pieces[at] = p[:half] + bytes((b * 37 + 11) % 251 + 4 for b in p[half:])
    elif how == "from-second-recovery-point":
        # The parameter sets, then everything from the second recovery point on.
        sei = [i for i, (p, k) in enumerate(zip(pieces, kind)) if k == 6 and recovery_point(p)]
        sets = [p for p, k in zip(pieces[:sei[1]], kind) if k in (7, 8)][:2]
        pieces = sets + pieces[sei[1]:]
    open(out, "wb").write(b"".join(pieces))


def with_second_ue(unit, skip, value):
    """The unit with the ue(v) after the first `skip` ue(v) codes of its payload rewritten to
    value, the rest of its bits as they were (CAVLC slices and parameter sets only: their
    bits after the header need no alignment)."""
    sc = 4 if unit[2] == 0 else 3
    bits = to_bits(unescape(unit[sc + 1:]))
    bits = bits[:bits.rindex("1")]  # without the trailing bits
    at = 0
    for _ in range(skip + 1):
        zeros = bits.index("1", at) - at
        start, at = at, at + 2 * zeros + 1
    code = format(value + 1, "b")
    bits = bits[:start] + "0" * (len(code) - 1) + code + bits[at:]
    return unit[:sc + 1] + escape(to_bytes(with_trailing_bits(bits)))


def two_idr_then_b(out):
    """No VUI; two IDR pictures with frame_num 0 and POC 0, then seven skipped non-reference
    B pictures with frame_num 1 and POC lsb 18 to 30, which lie before the second IDR picture
    in output order (POC -14 to -2): a decoder that gives out pictures at once must not drop
    them as out of order."""
    fs = fieldstream
    width, height, log2_poc = 4, 4, 5

    def picture(kind, idr_pic_id, poc, seed=0):
        b = fs.Bits()
        b.ue(0)
        b.ue({"i": 7, "b": 6}[kind])
        b.ue(0)
        b.u(4, 0 if kind == "i" else 1)  # frame_num
        if kind == "i":
            b.ue(idr_pic_id)
        b.u(log2_poc, poc)
        if kind == "b":
            b.u(1, 1)  # direct_spatial_mv_pred_flag
            b.u(3, 0)  # no override, no list modifications
        else:
            b.u(2, 0)  # no_output_of_prior_pics_flag, long_term_reference_flag
        b.se(0)
        b.ue(1)  # no deblocking
        if kind == "i":
            for mb in range(width * height):
                b.ue(25)  # I_PCM
                b.align()
                for sample in fs.samples(seed, mb % 8):
                    b.u(8, sample)
        else:
            b.ue(width * height)  # every macroblock skipped
        b.trailing()
        return fs.nal(3 if kind == "i" else 0, 5 if kind == "i" else 1, b.bytes())

    sps = fs.Bits()
    sps.u(8, 77), sps.u(8, 0), sps.u(8, 30), sps.ue(0)
    sps.ue(0)  # log2_max_frame_num_minus4
    sps.ue(0), sps.ue(log2_poc - 4)  # pic_order_cnt_type 0
    sps.ue(1), sps.u(1, 0), sps.ue(width - 1), sps.ue(height - 1)
    sps.u(1, 1), sps.u(1, 1), sps.u(1, 0), sps.u(1, 0)  # frames, 8x8 direct, no crop, no VUI
    sps.trailing()
    units = [fs.nal(3, 7, sps.bytes()), fs.pps(), picture("i", 0, 0, 0), picture("i", 1, 0, 1)]
    units += [picture("b", 0, poc) for poc in range(18, 31, 2)]
    open(out, "wb").write(b"".join(units))


def recovery_point(unit):
    """An SEI unit whose first message is a recovery point (x264 writes it alone)."""
    off = 5 if unit[2] == 0 else 4
    return unit[off] == 6


def first_mb(unit):
    off = 5 if unit[2] == 0 else 4
    bits = "".join(f"{b:08b}" for b in unit[off:off + 8])
    zeros = bits.index("1")
    return int(bits[zeros:2 * zeros + 1], 2) - 1


STREAMS = {
    "intra_refresh": lambda o: x264(o, "-bf", "0", "-x264-params", "intra-refresh=1:keyint=10"),
    "avc_intra50": lambda o: x264(o, "-flags", "+ildct", "-x264-params", "avcintra-class=50",
                                  size="1440x1080", frames=3, pix="yuv420p10le"),
    "b16_pyramid": lambda o: x264(o, "-bf", "16", "-x264-params",
                                  "b-pyramid=normal:b-adapt=0:keyint=40", frames=40),
    "b9_flat": lambda o: x264(o, "-bf", "9", "-x264-params", "b-pyramid=none:b-adapt=0"),
    "open_gop": lambda o: x264(o, "-bf", "3", "-x264-params", "open-gop=1:keyint=10"),
    "mbaff": lambda o: x264(o, "-flags", "+ildct", "-x264-params", "interlaced=1:tff=1"),
    "slices4": lambda o: x264(o, "-x264-params", "slices=4:keyint=12"),
    "full_range": lambda o: x264(o, "-color_range", "pc", pix="yuvj420p"),
    "rgb": lambda o: x264(o, codec="libx264rgb", pix="gbrp"),
    "yuv422": lambda o: x264(o, pix="yuv422p"),
    "yuv444_10": lambda o: x264(o, pix="yuv444p10le"),
    "filler_after_pps": lambda o: (x264(o + ".src", "-x264-params", "keyint=10"),
                                   edit(o + ".src", o, "filler")),
    "idr_first_slice_lost": lambda o: (x264(o + ".src", "-x264-params", "slices=4:keyint=6"),
                                       edit(o + ".src", o, "lose-first-slice")),
    "slices_reordered": lambda o: (x264(o + ".src", "-x264-params", "slices=4:keyint=10"),
                                   edit(o + ".src", o, "reorder")),
    # One SPS and two PPS at the start, the pictures after later IDR pictures naming either.
    "pps_switch": lambda o: (x264(o + ".src", "-profile:v", "baseline", "-x264-params",
                                  "keyint=4:slices=2"),
                             edit(o + ".src", o, "pps-switch")),
    # No IDR picture: decoding can only begin at a recovery point.
    # Field pictures (PAFF), which no encoder here writes: made bit by bit, with pairs of
    # non-reference B fields and two slices a field.
    "paff": lambda o: fieldstream.write(o, 12, bframes=True, slices=2),
    "intra_refresh_cut": lambda o: (x264(o + ".src", "-bf", "0", "-x264-params",
                                         "intra-refresh=1:keyint=10"),
                                    edit(o + ".src", o, "from-second-recovery-point")),
    # A gradual refresh with B pictures, whose recovery count falls short of the refresh.
    "intra_refresh_b_cut": lambda o: (x264(o + ".src", "-bf", "2", "-x264-params",
                                           "intra-refresh=1:keyint=10", frames=40),
                                      edit(o + ".src", o, "from-second-recovery-point")),
    "two_idr_then_b": two_idr_then_b,
    # Damage the decoder conceals: every picture it touches must say so, those shown before
    # the damaged reference picture among them (B pictures).
    "slice_lost": lambda o: (x264(o + ".src", "-x264-params", "slices=4:keyint=30"),
                             edit(o + ".src", o, "lose-a-slice")),
    "slice_garbled": lambda o: (x264(o + ".src", "-bf", "0", "-x264-params",
                                     "slices=4:keyint=30"),
                                edit(o + ".src", o, "garble-a-slice")),
}
# The second encoder: several slices a picture, hierarchical P pictures whose top layer is not
# used for reference, long-term references, parameter-set ids that change at each IDR
# picture (with a PPS before every picture), prefix units, CABAC.
SECOND = {
    "openh264_slices4": lambda o: openh264(o, "--slices", "4", "--intra-period", "10",
                                           "--frames", "20"),
    "openh264_layers4": lambda o: openh264(o, "--layers", "4", "--intra-period", "16",
                                           "--frames", "24"),
    "openh264_ltr": lambda o: openh264(o, "--layers", "2", "--ltr", "--refs", "4",
                                       "--intra-period", "12", "--frames", "24"),
    "openh264_ids": lambda o: openh264(o, "--ids", "6", "--slices", "2", "--intra-period", "4",
                                       "--frames", "12"),
    "openh264_prefix": lambda o: openh264(o, "--prefix", "--layers", "2", "--frames", "12"),
    "openh264_cabac": lambda o: openh264(o, "--cabac", "--slices", "3", "--qp", "36",
                                         "--intra-period", "8", "--frames", "16"),
    # With a PPS of a new id before every picture, the second IDR picture's first slice lost.
    "openh264_ids_first_slice_lost": lambda o: (
        openh264(o + ".src", "--ids", "6", "--slices", "4", "--intra-period", "4", "--frames",
                 "12"),
        edit(o + ".src", o, "lose-first-slice")),
    # A prefix unit before each slice: it belongs to the slice it precedes.
    "openh264_prefix_slices": lambda o: openh264(o, "--prefix", "--slices", "3", "--frames",
                                                 "8"),
}
STREAMS.update(SECOND)
# Streams whose pictures may carry the warning that they may differ: the others begin with
# an IDR picture and must be exact.
MAY_WARN = {"idr_first_slice_lost", "intra_refresh_cut", "openh264_ids_first_slice_lost",
            "intra_refresh_b_cut", "slice_lost", "slice_garbled"}
# Streams held to the stream before their edit, whose access units keep their order but not
# their offsets: matched by their place in decoding order.
HELD_TO_SOURCE = {"intra_refresh_b_cut", "slice_lost", "slice_garbled"}
# Streams of field pictures: ffmpeg gives one frame for a pair of fields, at the first
# field's position and of its type, so the types of the pictures that find lists come from
# the stream's own truth, and the second field shows the frame of the pair.
FIELD_KINDS = {"paff": fieldstream.kinds(12, bframes=True)}


def ffmpeg_pictures(path):
    """pos -> (checksum, pict_type) of ffmpeg's decode, every picture output."""
    out = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-threads", "1", "-flags2",
                          "+showall", "-noautorotate", "-i", path, "-vf", "showinfo", "-f",
                          "null", "-"], capture_output=True, text=True).stderr
    pictures = {}
    for m in re.finditer(r"Parsed_showinfo.* pos: *(-?\d+) .* type:(\S+) checksum:([0-9A-F]+)",
                         out):
        pictures[int(m.group(1))] = (m.group(3), m.group(2))
    return pictures


def packets(path):
    out = run(["ffprobe", "-v", "error", "-show_packets", "-show_entries", "packet=pos,flags",
               "-of", "csv=p=0", path], text=True).stdout
    return [int(line.split(",")[0]) for line in out.split() if line]


def checksum(path):
    if path.endswith(".png"):
        planes = run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "gbrp",
                      "-"]).stdout
        return f"{zlib.adler32(planes, 0):08X}"
    data = open(path, "rb").read()
    header, rest = data.split(b"\n", 1)
    assert rest.startswith(b"FRAME\n")
    planes = rest[6:]
    # ffmpeg's Adler-32 starts its sums at 0, zlib's at 1.
    return f"{zlib.adler32(planes, 0):08X}"


def check(dump, work, name):
    path = os.path.join(work, name + ".264")
    STREAMS[name](path)
    faults = []
    data = open(path, "rb").read()
    starts = [o for o, _ in units(data)]
    summary = json.loads(run([dump, "--summary", path], text=True).stdout)
    # A decoder without arbitrary slice order splits such a picture in pieces; the
    # stream before the edit holds the same access units at the same offsets.
    truth = path + ".src" if name == "slices_reordered" or name in HELD_TO_SOURCE else path
    pics = ffmpeg_pictures(truth)
    pkts = packets(truth)
    # Where each of the truth's access units is in the stream checked: the last ones of a cut.
    own = packets(path) if name in HELD_TO_SOURCE else pkts
    pkts = pkts[len(pkts) - len(own):]
    if summary["pictures"]["total"] != len(own):
        faults.append(f"summary counts {summary['pictures']['total']} pictures, ffprobe {len(pkts)}")
    # Find lists the pictures of each type that ffmpeg decodes.
    for kind in "ipb":
        found = run([dump, "--find", kind, path], text=True).stdout.count("\n")
        want = sum(1 for _, t in pics.values() if t.lower() == kind)
        if name in FIELD_KINDS:
            want = FIELD_KINDS[name].count(kind)
        if name != "slices_reordered" and name not in HELD_TO_SOURCE and found != want:
            faults.append(f"--find {kind} lists {found} pictures, ffmpeg decodes {want}")
    if not pics:
        faults.append("ffmpeg decodes no picture: the stream made is of no use")
    for i, pos in enumerate(pkts):
        at = min(o for o in starts if o >= own[i])
        if name in FIELD_KINDS and pos not in pics and i > 0:
            pos = pkts[i - 1]  # a second field: its pair's frame
        out = os.path.join(work, name + (".png" if name == "rgb" else ".y4m"))
        if os.path.exists(out):
            os.remove(out)
        r = subprocess.run([dump, "--picture", str(at), out, path], capture_output=True,
                           text=True)
        warned = "may differ" in r.stdout + r.stderr
        if warned and name not in MAY_WARN:
            faults.append(f"{name} @{at}: an exact picture is said to differ")
        if pos not in pics:
            continue  # ffmpeg gave no picture for it either
        if r.returncode != 0 or not os.path.exists(out):
            faults.append(f"{name} @{at}: no picture: {r.stderr.strip()}")
            continue
        if checksum(out) != pics[pos][0] and not warned:
            faults.append(f"{name} @{at}: picture differs from ffmpeg's, without a warning")
    return faults


def main():
    global OPENH264
    args = sys.argv[1:]
    if args[:1] == ["--openh264"]:
        OPENH264, args = args[1], args[2:]
    dump, work = args[0], args[1]
    names = args[2:]
    if not names:
        names = list(STREAMS)
    if OPENH264 is None:
        skipped = [n for n in names if n in SECOND]
        names = [n for n in names if n not in SECOND]
        if skipped:
            print(f"skipped, OpenH264's tool not built: {' '.join(skipped)}")
    os.makedirs(work, exist_ok=True)
    failed = 0
    for name in names:
        faults = check(dump, work, name)
        print(f"{name}: {'ok' if not faults else str(len(faults)) + ' faults'}")
        for f in faults[:10]:
            print("  " + f)
        failed += bool(faults)
    print(f"{len(names) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
