#!/usr/bin/env python3
"""Writes the seed corpora of the command line's reader fuzzers:
fuzz/corpus/svg_path/, fuzz/corpus/keyframes/ and fuzz/corpus/image/.

The image seeds are tiny PNG and OpenEXR files made here byte by byte, and
TIFF, DPX, JPEG, tiled and DWA-compressed OpenEXR files made by oiiotool
(skipped when it is not installed). The
image fuzzer asks for the depth given by the input's length modulo 4 (native,
8, 16, float), so each file is padded at its end (readers ignore what follows
the image) to reach the depth listed beside it.
"""
import os
import shutil
import subprocess
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

SVG = {
    "lines_closed": "M0 0 L10 10 L20 0 Z",
    "relative_hv": "m1 1h5v5h-5z",
    "cubic_smooth": "M 10,10 C 20,20 40,20 50,10 S 80,0 90,10",
    "quadratic_smooth": "M0 0 Q 5 10 10 0 T 20 0 t 5 5",
    "arcs": "M10 10 A 5 5 0 1 1 20 20 a3 4 30 0 0 5 5 A0 0 0 0 0 30 30",
    "compact_numbers": "M1e3-2.5.5.5l1,1,2-3.5e-1.25-1",
    "two_subpaths": "M0 0 L 1 1 M 5 5 L 6 6 z",
    "no_move": "L 0 0",
    "dangling_comma": "M 0 0 L 1,",
    "overflow": "M0 0 L1e999 0",
}

KEYFRAMES = {  # first byte: 0 keyframes, 1 number, 2 frame range, 3 size, 4 colour, 5 downsample
    "keys": b"\x000:10, 24:90 ,12:-3.5",
    "plain": b"\x00 37.5",
    "twice": b"\x005:1,5:2",
    "number": b"\x01-2.5e3",
    "range": b"\x0210-20",
    "single_frame": b"\x027",
    "size": b"\x031920x1080",
    "colour": b"\x04255,128,0,255",
    "ratio": b"\x051/2",
    "factor": b"\x053",
    "big_ratio": b"\x0533554432/67108864",
}


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(width, height, bit_depth, colour, rows, extra=b"", interlace=0):
    head = struct.pack(">IIBBBBB", width, height, bit_depth, colour, 0, 0, interlace)
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", head) + extra + png_chunk(b"IDAT", zlib.compress(raw)) +
            png_chunk(b"IEND", b""))


def exr_attr(name, kind, data):
    return name.encode() + b"\0" + kind.encode() + b"\0" + struct.pack("<i", len(data)) + data


def exr(channels, pixel_type, data_window, display_window, sample):
    """Uncompressed scanline OpenEXR; sample(channel, x, y) gives each value."""
    size = {1: 2, 2: 4}[pixel_type]  # HALF, FLOAT
    chlist = b"".join(c.encode() + b"\0" + struct.pack("<iBBBBii", pixel_type, 0, 0, 0, 0, 1, 1)
                      for c in sorted(channels)) + b"\0"
    header = (b"\x76\x2f\x31\x01" + struct.pack("<I", 2) +
              exr_attr("channels", "chlist", chlist) +
              exr_attr("compression", "compression", b"\0") +
              exr_attr("dataWindow", "box2i", struct.pack("<4i", *data_window)) +
              exr_attr("displayWindow", "box2i", struct.pack("<4i", *display_window)) +
              exr_attr("lineOrder", "lineOrder", b"\0") +
              exr_attr("pixelAspectRatio", "float", struct.pack("<f", 1.0)) +
              exr_attr("screenWindowCenter", "v2f", struct.pack("<2f", 0.0, 0.0)) +
              exr_attr("screenWindowWidth", "float", struct.pack("<f", 1.0)) + b"\0")
    x0, y0, x1, y1 = data_window
    lines = []
    for y in range(y0, y1 + 1):
        body = b""
        for c in sorted(channels):
            for x in range(x0, x1 + 1):
                v = sample(c, x, y)
                body += struct.pack("<e", v) if pixel_type == 1 else struct.pack("<f", v)
        lines.append(struct.pack("<ii", y, len(body)) + body)
    offsets = []
    at = len(header) + 8 * len(lines)
    for line in lines:
        offsets.append(at)
        at += len(line)
    return header + b"".join(struct.pack("<Q", o) for o in offsets) + b"".join(lines)


def pad_to(data, depth):
    """Pads so that len % 4 picks the depth: -1 native, 0 8-bit, 1 16-bit, 2 float."""
    while len(data) % 4 != depth + 1:
        data += b"\0"
    return data


def images():
    rgba8 = png(4, 3, 8, 6, [b"".join(bytes((x * 60, y * 80, 255 - x * 60, 128 + x * 30)) for x in range(4))
                             for y in range(3)])
    grey16 = png(3, 2, 16, 0, [b"".join(struct.pack(">H", (x + 1) * (y + 1) * 10000) for x in range(3))
                               for y in range(2)])
    palette = png(5, 5, 1, 3, [bytes((0b10101000 >> (y % 2),)) for y in range(5)],
                  extra=png_chunk(b"PLTE", b"\xff\x00\x00\x00\x00\xff") + png_chunk(b"tRNS", b"\x80"))
    rgb_float = exr("RGBA", 2, (0, 0, 2, 1), (0, 0, 2, 1), lambda c, x, y: {"R": 0.5, "G": x / 2, "B": y, "A": 0.5}[c])
    grey_half = exr("Y", 1, (1, 1, 2, 2), (0, 0, 2, 2), lambda c, x, y: 0.25 * x)
    return {
        "rgba8_native.png": pad_to(rgba8, -1),
        "rgba8_to_float.png": pad_to(rgba8, 2),
        "grey16_to_8.png": pad_to(grey16, 0),
        "palette_trns_16.png": pad_to(palette, 1),
        "rgba_float_native.exr": pad_to(rgb_float, -1),
        "grey_half_window_to_16.exr": pad_to(grey_half, 1),
        "truncated.png": rgba8[:40],
    }


OIIOTOOL_SEEDS = [
    ["--pattern", "fill:topleft=1,0,0,1:topright=0,1,0,0.5:bottomleft=0,0,1,0:bottomright=1,1,1,1", "5x4", "4",
     "-d", "uint8", "--compression", "zip", "-o", "rgba8_zip.tif",
     "-d", "uint16", "--compression", "none", "-o", "rgba16.tif",
     "-d", "uint10", "-o", "rgba10.dpx", "-d", "uint8", "-o", "rgba8.dpx"],
    ["--pattern", "fill:top=0.1,0.5,0.9:bottom=1,0,0.25", "6x5", "3", "-d", "uint8", "-o", "rgb.jpg"],
    ["--pattern", "fill:top=0.1,0.5,0.9,1:bottom=1,0,0.25,0.5", "4x4", "4", "-d", "half",
     "--tile", "16", "16", "--compression", "piz", "-o", "tiled_half_piz.exr",
     "-d", "half", "--compression", "dwaa", "-o", "dwaa.exr"],
]


def oiiotool_seeds(directory):
    tool = shutil.which("oiiotool")
    if not tool:
        print("oiiotool not found: no TIFF, DPX or JPEG seeds")
        return
    for args in OIIOTOOL_SEEDS:
        subprocess.run([tool] + args, cwd=directory, check=True)


def write(directory, files):
    os.makedirs(directory, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
    print(f"{len(files)} seeds, {sum(len(d) for d in files.values())} bytes, in {directory}")


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    write(os.path.join(root, "svg_path"), SVG)
    write(os.path.join(root, "keyframes"), KEYFRAMES)
    write(os.path.join(root, "image"), images())
    oiiotool_seeds(os.path.join(root, "image"))


if __name__ == "__main__":
    main()
