#!/usr/bin/env python3
"""Exits 0 when the PNG file named on the command line shows a picture: enough
pixels that differ from the background, in several colours. Reads the PNG with
the standard library only (8-bit greyscale, RGB or RGBA, not interlaced)."""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    if depth != 8 or interlace != 0:
        raise ValueError("only 8-bit, non-interlaced images are read")
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        rows.append(bytes(line))
        prev = line
    pixels = [tuple(r[i:i + channels]) for r in rows for i in range(0, stride, channels)]
    return width, height, pixels


def main():
    width, height, pixels = read_png(sys.argv[1])
    counts = {}
    for p in pixels:
        counts[p] = counts.get(p, 0) + 1
    background = max(counts, key=counts.get)
    drawn = len(pixels) - counts[background]
    share = drawn / len(pixels)
    print(f"{width}x{height}: {share:.1%} of the pixels drawn, {len(counts)} colours")
    if share < 0.01 or len(counts) < 3:
        print("the picture is blank")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
