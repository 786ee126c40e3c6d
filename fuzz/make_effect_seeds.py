#!/usr/bin/env python3
"""Writes the effect fuzzer's seed corpus (fuzz/corpus/effect/).

Each seed spells out, in the byte layout fuzz_effect.cpp reads, one scene the
fuzzer should start from: frames that draw strokes at each depth, the refused
frames, failures on the host's side, degenerate masks and layers. Keep this in
step with the reader there; any bytes are a valid input, but seeds that no
longer mean what they say lose their value.
"""
import os
import struct
import sys

# Table positions in fuzz_effect.cpp.
MODE = {1: 0, 2: 1, 3: 2, 0: 3, 9: 5}
PERCENT = {50: 0, 0: 1, 100: 2, 25: 7, 75: 8}
MAX_WIDTH = {300: 0, 2: 1, 5000: 2, 500: 3, 3: 4, 20: 6, 64: 7, 0: 9, -1: 10, "huge": 13}
MIN_WIDTH = {20: 0, 0: 1, 100: 2, 50: 3}
OPACITY = {100: 0, 0: 1, 50: 2}
BLEND = {5: 0, 1: 1, 2: 2, 3: 3, 4: 4, 6: 5, 7: 6, 8: 7, 0: 8, 9: 9}
SUITE = {"handle": 2, "world": 4, "mask": 5, "path_data": 7, "sampling8": 8}
CALL = {"abort": 2, "progress": 3, "copy": 4, "PF_PathEvalSegLengthDeriv1": 15, "area_sample": 16,
        "PF_CheckinPath": 23}
CODE = {"cancel": 0, 1: 1}
SIDE = {0: 0, 1: 1, 2: 2, 3: 3, 7: 4, 16: 5, 31: 6, 64: 7}
OP = {"frame": 0, "update_ui": 2, "changed": 3, "about": 4, "general": 5, "unknown": 6, "seq_setup": 7,
      "seq_resetup": 8, "seq_setdown": 9, "global_setup": 10, "params_setup": 11, "param": 12, "time": 13,
      "global_setdown": 14}


def u8(v):
    return bytes([v & 0xFF])


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u64(v):
    return struct.pack("<Q", v)


def side(n):
    return u8(SIDE[n]) if n in SIDE else u8(0x80) + u8(n)


def coord(v):
    """A small coordinate: v in -32..95.5 in steps of 0.5."""
    return u8(0) + u8(int((v - 32) * 2) & 0xFF)


SPECIAL = {"nan": 10, "inf": 11, "-inf": 12, "1e30": 13, "-1e30": 14, "same": 15}


def point(v):
    return u8(SPECIAL[v]) if isinstance(v, str) else coord(v)


def vertex(x, y, tangents=None):
    out = point(x) + point(y)
    if tangents is None:
        return out + u8(0)
    out += u8(0xA0)
    for t in tangents:  # in_x, in_y, out_x, out_y in quarter pixels, -31.75..31.75
        out += u8(int(t * 4) & 0xFF)
    return out


def mask(vertices, closed):
    return u16(len(vertices)) + u8(1 if closed else 0) + b"".join(vertices)


def world(fmt, w, h, padding=0, seed=1, style=1, refused=None):
    # A tag of 0xE0 or more asks for a refused reported format; tag % 3 is the depth.
    tag = fmt if refused is None else next(t for t in range(0xE0, 0x100) if t % 3 == fmt)
    out = u8(tag) + side(w) + side(h) + u8(padding) + u64(seed) + u8(style)
    if refused is not None:
        out += u8(refused)  # 0 BGRA32, 1 INVALID, 2 zero
    return out


def output(kind="same", padding=0, other=0):
    if kind == "narrow":
        return u8(13) + u8(other) + u64(7)
    if kind == "height":
        return u8(14) + side(other) + u8(padding) + u64(7)
    if kind == "short_input_pitch":
        return u8(15) + u8(padding) + u64(7)
    return u8(0) + u8(padding) + u64(7)


def layer(kind, w=0, h=0, seed=3, style=2, padding=0):
    tags = {"none": 0, "1x1": 1, "64x1": 2, "1x64": 3, "0xN": 4, "Nx0": 5, "any": 6}
    tag = tags[kind]
    out = u8(tag)
    if kind == "0xN":
        out += side(h)
    elif kind == "Nx0":
        out += side(w)
    elif kind == "any":
        out += side(w) + side(h)
    if tag != 0:
        out += u8(padding) + u64(seed) + u8(style)
    return out


def params(path=1, mode=1, time=50, max_width=300, min_width=20, various=0, blend=5, opacity=100, seed=0,
           on_original=1):
    return (u8(path) + u8(MODE[mode]) + u8(PERCENT[time]) + u8(MAX_WIDTH[max_width]) + u8(MIN_WIDTH[min_width]) +
            u8(various) + u8(BLEND[blend]) + u8(OPACITY[opacity]) + u8(seed) + u8(on_original))


def frame(down=0, tag=0):
    return u8(OP["frame"]) + u8(down) + u8(down) + u8(tag)


def seed(faults=b"", fault_count=0, scene=b"", setup=True, prm=None, ops=(frame(),)):
    prm = params() if prm is None else prm
    return (u8(1 if setup else 0) + u8(fault_count) + faults + scene + prm + u8(len(ops) - 1) + b"".join(ops))


def fault_suite(name, nth=1, forever=True):
    return u8(0) + u16(nth - 1) + (u8(1) if forever else u8(0) + u8(0)) + u8(SUITE[name])


def fault_call(name, code, nth=1):
    return u8(3) + u16(nth - 1) + u8(1) + u8(CALL[name]) + u8(CODE[code])


def fault_allocation(nth):
    return u8(1) + u16(nth - 1) + u8(0) + u8(0)


SQUARE = [vertex(8, 8), vertex(56, 8), vertex(56, 56), vertex(8, 56)]
CURVE = [vertex(4, 40, (0, 0, 10, -20)), vertex(60, 24, (-12, 8, 0, 0))]
WAVE = [vertex(x, 20 + (x % 16), (-2, 1, 2, -1)) for x in range(0, 64, 6)]


def scene(fmt=0, w=64, h=64, style=1, out=None, lay=None, masks=(mask(SQUARE, True),), refused=None, padding=0):
    out = output() if out is None else out
    lay = layer("any", 16, 16) if lay is None else lay
    return world(fmt, w, h, padding, 11, style, refused) + out + lay + u8(len(masks)) + b"".join(masks)


SEEDS = {
    # Strokes drawn at each depth, each reveal mode and phase.
    "strokes8": seed(scene=scene(0), prm=params(max_width=20),
                     ops=(frame(), u8(OP["update_ui"]), u8(OP["about"]), frame(down=1))),
    "strokes16_various_discrete2": seed(scene=scene(1, style=2, masks=(mask(CURVE, False),)),
                                        prm=params(mode=3, time=25, various=1, blend=2, max_width=20)),
    "strokes_float_extremes_shrinking": seed(scene=scene(2, 31, 31, style=3, masks=(mask(WAVE, False),)),
                                             prm=params(mode=1, time=75, blend=7, max_width=64, on_original=0)),
    "discrete1_two_masks_downsampled": seed(scene=scene(0, 16, 16, style=2, lay=layer("64x1"),
                                                        masks=(mask(SQUARE, True), mask(CURVE, True))),
                                            prm=params(path=2, mode=2, time=25, various=1, blend=8),
                                            ops=(frame(down=1), frame(down=5))),
    # Frames the effect must refuse without touching the output.
    "unsupported_format": seed(scene=scene(0, 16, 16, refused=0)),
    "output_height_differs": seed(scene=scene(1, 16, 16, out=output("height", other=7))),
    "output_too_narrow": seed(scene=scene(2, 16, 16, out=output("narrow", other=3))),
    # Failures on the host's side.
    "progress_cancel": seed(faults=fault_call("progress", "cancel", 3), fault_count=1, scene=scene(0, 32, 32),
                            prm=params(max_width=20)),
    "abort_cancel": seed(faults=fault_call("abort", "cancel"), fault_count=1, scene=scene(1, 16, 16)),
    "id_map_allocation_fails": seed(faults=fault_allocation(4), fault_count=1, scene=scene(0, 16, 16)),
    "world_suite_refused": seed(faults=fault_suite("world"), fault_count=1, scene=scene(0, 8, 8)),
    "sampling_fails": seed(faults=fault_call("area_sample", 1, 40), fault_count=1, scene=scene(2, 16, 16)),
    # Degenerate geometry and values.
    "mask_nonfinite": seed(scene=scene(0, 16, 16, masks=(mask([vertex(4, 4), vertex("nan", 8), vertex("inf", 3),
                                                               vertex("1e30", "-1e30"), vertex(8, 8),
                                                               vertex("same", "same")], True),))),
    "mask_one_vertex": seed(scene=scene(0, 16, 16, masks=(mask([vertex(8, 8)], True),))),
    "layer_zero_width": seed(scene=scene(0, 16, 16, lay=layer("0xN", h=16)), prm=params(various=1)),
    "out_of_range_values": seed(scene=scene(0, 16, 16), prm=params(mode=9, blend=9, max_width="huge", min_width=100,
                                                                   time=100)),
    "tiny_worlds": seed(scene=scene(0, 1, 1, lay=layer("1x1"), masks=(mask(SQUARE, True),))),
    # Commands outside the frame.
    "commands": seed(scene=scene(0, 0, 0, lay=layer("none"), masks=()),
                     ops=(u8(OP["unknown"]) + u8(0) + u8(0), u8(OP["general"]) + u16(5) + b"hello",
                          u8(OP["seq_resetup"]), u8(OP["changed"]) + u8(4), u8(OP["update_ui"]),
                          u8(OP["global_setdown"]), u8(OP["global_setup"]), u8(OP["seq_setdown"]))),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "effect")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds, {sum(len(d) for d in SEEDS.values())} bytes, in {out}")


if __name__ == "__main__":
    main()
