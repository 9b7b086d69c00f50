#!/usr/bin/env python3
"""Writes an XPM picture as a Windows icon file of several square sizes.

  xpm_to_ico.py PICTURE.xpm ICON.ico SIZE...        (e.g. 16 32 48)

Each size is the picture resampled by area (what each new pixel covers of
the old ones, weighted by their opacity), stored as a 32-bit image with its
alpha and an AND mask, which every Windows since XP reads.
"""
import re
import struct
import sys


def read_xpm(path):
    """The picture as rows of (r, g, b, a) tuples."""
    with open(path, encoding="ascii") as f:
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    width, height, colours, per_pixel = (int(v) for v in strings[0].split()[:4])
    palette = {}
    for line in strings[1:1 + colours]:
        key, rest = line[:per_pixel], line[per_pixel:].split()
        value = rest[rest.index("c") + 1]
        if value.lower() == "none":
            palette[key] = (0, 0, 0, 0)
        elif re.fullmatch(r"#[0-9A-Fa-f]{6}", value):
            palette[key] = (int(value[1:3], 16), int(value[3:5], 16), int(value[5:7], 16), 255)
        else:
            sys.exit("xpm_to_ico: colour %r is not #RRGGBB or None" % value)
    rows = strings[1 + colours:1 + colours + height]
    if len(rows) != height or any(len(r) != width * per_pixel for r in rows):
        sys.exit("xpm_to_ico: %s does not have %d rows of %d pixels" % (path, height, width))
    return [[palette[r[x:x + per_pixel]] for x in range(0, len(r), per_pixel)] for r in rows]


def resample(picture, size):
    """Square size x size, each pixel the area-weighted mean of what it covers."""
    height, width = len(picture), len(picture[0])
    sx, sy = width / size, height / size

    def spans(start, step, limit):
        # (old index, share of it) for the old pixels in [start, start + step).
        out, pos, end = [], start, start + step
        while pos < end - 1e-9:
            i = min(int(pos + 1e-9), limit - 1)
            nxt = min(i + 1, end)
            out.append((i, nxt - pos))
            pos = nxt
        return out

    result = []
    for y in range(size):
        row = []
        ys = spans(y * sy, sy, height)
        for x in range(size):
            r = g = b = a = 0.0
            for i, wy in ys:
                for j, wx in spans(x * sx, sx, width):
                    pr, pg, pb, pa = picture[i][j]
                    w = wx * wy * pa
                    r, g, b, a = r + pr * w, g + pg * w, b + pb * w, a + wx * wy * pa
            alpha = round(a / (sx * sy))
            row.append((0, 0, 0, 0) if alpha == 0 else
                       (round(r / a), round(g / a), round(b / a), alpha))
        result.append(row)
    return result


def icon_image(picture):
    """A 32-bit icon image: header, colour bits and AND mask, bottom row first."""
    size = len(picture)
    colour = b"".join(struct.pack("<4B", b, g, r, a) for row in reversed(picture) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(picture):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + bytes(mask)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    picture = read_xpm(sys.argv[1])
    sizes = [int(s) for s in sys.argv[3:]]
    if any(not 1 <= s <= 255 for s in sizes):
        sys.exit("xpm_to_ico: sizes are 1 to 255")
    images = [icon_image(picture if s == len(picture) == len(picture[0]) else resample(picture, s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[2], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
