#!/usr/bin/env python3
"""Draws the program's pictures: the status bitmaps (32 x 32), the button bitmaps (24 x 24)
and the program icon (16, 32 and 48 pixels), and writes them as BMP and ICO files.

    python3 tools/draw-resources/draw_resources.py agent/ui/windows/res

Standard library only. Shapes are filled by testing each pixel at 4 x 4 sample points, so
edges are smooth. Bitmaps are 24-bit on the key colour KEY, which the program replaces by
the system's dialog colour when it loads them; the icon has an alpha channel.
"""
import math
import os
import struct
import sys

KEY = (240, 240, 240)  # the background of every bitmap
SAMPLES = 4


# ---------------------------------------------------------------- shapes (unit square 0..1)

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, outer, inner):
    return lambda x, y: inner * inner <= (x - cx) ** 2 + (y - cy) ** 2 <= outer * outer


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def stroke(points, width):
    """A polyline of the given width with round joints."""
    def inside(x, y):
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            dx, dy = x1 - x0, y1 - y0
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
            if (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= (width / 2) ** 2:
                return True
        return False
    return inside


# ---------------------------------------------------------------- pictures: lists of (shape, colour)

GREY = (128, 128, 128)
DARK = (64, 64, 64)
RED = (214, 40, 40)
DARK_RED = (150, 20, 20)
ORANGE = (230, 140, 20)
GREEN = (40, 160, 60)
BLUE = (30, 90, 180)
YELLOW = (245, 200, 40)
WHITE = (255, 255, 255)


def idle():
    return [(ring(0.5, 0.5, 0.40, 0.30), GREY)]


def recording():
    return [(circle(0.5, 0.5, 0.40), DARK_RED), (circle(0.5, 0.5, 0.34), RED),
            (circle(0.40, 0.38, 0.09), (240, 120, 120))]


def suppressing():
    return [(circle(0.5, 0.5, 0.42), ORANGE), (rect(0.33, 0.28, 0.44, 0.72), WHITE),
            (rect(0.56, 0.28, 0.67, 0.72), WHITE)]


def discarding():
    # a waste bin with a red cross on it
    return [(rect(0.22, 0.18, 0.78, 0.26), DARK), (rect(0.40, 0.10, 0.60, 0.18), DARK),
            (polygon([(0.27, 0.30), (0.73, 0.30), (0.68, 0.90), (0.32, 0.90)]), GREY),
            (stroke([(0.37, 0.45), (0.63, 0.78)], 0.09), RED), (stroke([(0.63, 0.45), (0.37, 0.78)], 0.09), RED)]


def unavailable():
    return [(polygon([(0.5, 0.08), (0.94, 0.88), (0.06, 0.88)]), DARK),
            (polygon([(0.5, 0.16), (0.86, 0.83), (0.14, 0.83)]), YELLOW),
            (rect(0.46, 0.36, 0.54, 0.63), DARK), (circle(0.5, 0.73, 0.05), DARK)]


def annotate():
    # a note with lines and a pencil across it
    return [(rect(0.14, 0.10, 0.70, 0.90), DARK), (rect(0.18, 0.14, 0.66, 0.86), WHITE),
            (rect(0.26, 0.30, 0.58, 0.35), GREY), (rect(0.26, 0.46, 0.58, 0.51), GREY),
            (rect(0.26, 0.62, 0.46, 0.67), GREY),
            (stroke([(0.48, 0.80), (0.88, 0.32)], 0.14), ORANGE), (polygon([(0.40, 0.90), (0.43, 0.74), (0.53, 0.82)]), DARK)]


def start():
    return [(polygon([(0.24, 0.14), (0.84, 0.50), (0.24, 0.86)]), GREEN)]


def stop():
    return [(rect(0.20, 0.20, 0.80, 0.80), RED)]


def keep():
    return [(stroke([(0.16, 0.52), (0.40, 0.76), (0.86, 0.22)], 0.16), GREEN)]


def discard():
    return [(stroke([(0.20, 0.20), (0.80, 0.80)], 0.16), RED), (stroke([(0.80, 0.20), (0.20, 0.80)], 0.16), RED)]


def program_icon(size=32):
    # a blue disc with the bars of a sound level; three wider bars at the smallest size
    shapes = [(circle(0.5, 0.5, 0.48), BLUE)]
    heights, step, half = ((0.18, 0.34, 0.50, 0.34, 0.18), 0.13, 0.045) if size > 16 else ((0.30, 0.56, 0.30), 0.22, 0.07)
    first = 0.5 - step * (len(heights) - 1) / 2
    for i, height in enumerate(heights):
        x = first + i * step
        shapes.append((rect(x - half, 0.5 - height / 2, x + half, 0.5 + height / 2), WHITE))
    return shapes


# ---------------------------------------------------------------- rendering

def render(shapes, size):
    """Rows (top first) of (r, g, b, coverage 0..1)."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            colour = [0.0, 0.0, 0.0]
            covered = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    hit = None
                    for shape, fill in shapes:  # the last shape that covers the point wins
                        if shape(x, y):
                            hit = fill
                    if hit is not None:
                        covered += 1
                        for c in range(3):
                            colour[c] += hit[c]
            n = SAMPLES * SAMPLES
            if covered:
                row.append(tuple(colour[c] / covered for c in range(3)) + (covered / n,))
            else:
                row.append((0, 0, 0, 0.0))
        rows.append(row)
    return rows


def on_key(pixel):
    r, g, b, a = pixel
    return tuple(int(round(v * a + k * (1 - a))) for v, k in zip((r, g, b), KEY))


def bmp(rows):
    """A 24-bit bottom-up BMP."""
    size = len(rows)
    stride = (size * 3 + 3) & ~3
    pixels = b""
    for row in reversed(rows):
        line = b"".join(bytes(reversed(on_key(p))) for p in row)
        pixels += line + bytes(stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0, 14 + len(header)) + header + pixels


def ico(images):
    """An icon file with one 32-bit image (alpha and AND mask) per size."""
    entries = b""
    data = b""
    offset = 6 + 16 * len(images)
    for rows in images:
        size = len(rows)
        xor = b""
        for row in reversed(rows):
            for r, g, b, a in row:
                xor += bytes((int(round(b)), int(round(g)), int(round(r)), int(round(a * 255))))
        mask_stride = ((size + 31) // 32) * 4
        mask = b""
        for row in reversed(rows):
            line = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a < 0.5:
                    line[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(line)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        image = header + xor + mask
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return struct.pack("<HHH", 0, 1, len(images)) + entries + data


PICTURES = {
    # status image (32 x 32)
    "status_idle.bmp": (idle, 32),
    "status_recording.bmp": (recording, 32),
    "status_discarding.bmp": (discarding, 32),
    "status_unavailable.bmp": (unavailable, 32),
    "status_suppressing.bmp": (suppressing, 32),
    # buttons (24 x 24)
    "button_annotate.bmp": (annotate, 24),
    "button_start.bmp": (start, 24),
    "button_stop.bmp": (stop, 24),
    "button_keep.bmp": (keep, 24),
    "button_discard.bmp": (discard, 24),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(folder, exist_ok=True)
    for name, (picture, size) in PICTURES.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(bmp(render(picture(), size)))
    with open(os.path.join(folder, "KZBDKA.ico"), "wb") as f:
        f.write(ico([render(program_icon(size), size) for size in (16, 32, 48)]))
    print(f"wrote {len(PICTURES)} bitmaps and KZBDKA.ico to {folder}")


if __name__ == "__main__":
    main()
