#!/usr/bin/env python3
"""Draws the installer's and the product's artwork and writes it as Windows
BMP and ICO files, for screens at 100 %, 150 % and 200 % (96, 144 and 192
DPI).

    side.bmp          bitmap 137: the wizard's side picture at 100 %, 87 x 171,
                      256 colours
    side_150.bmp      bitmap 138: the same at 150 %, 131 x 257, 256 colours
    side_200.bmp      bitmap 139: the same at 200 %, 174 x 342, 256 colours
    app.ico           icon 128: the installer's icon, 16 to 64 pixels and 256
    flag_<id>.ico     icons 141-158, 160, 161: the language flags, 16 x 12,
                      24 x 18 and 32 x 24
    Trimora.ico       the product's icon (program and uninstaller), the sizes
                      of app.ico; written to product/program unless an output
                      folder is given

Plain Python, no imaging library: shapes are described in the coordinates of
the 100 % picture and filled with 4 x 4 supersampling at each scale; the side
pictures are reduced to 256 colours by median cut. Icons hold the sizes
Windows asks for at those scales (16, 20, 24, 32, 40, 48, 64) as 32-bit
bitmaps, and 256 as PNG. The output is the same on every run; the files are
committed.

    python3 resources/art/make_art.py [output-folder]
"""

import math
import os
import struct
import sys
import zlib

SS = 4  # supersampling per axis


# --- a tiny RGBA canvas ----------------------------------------------------

class Canvas:
    """w x h pixels; shapes take coordinates that scale multiplies into pixels."""

    def __init__(self, w, h, fill=(0, 0, 0, 0), scale=1):
        self.w, self.h = w, h
        self.scale = scale
        self.px = [[list(fill) for _ in range(w)] for _ in range(h)]

    def blend(self, x, y, rgb, a):
        if a <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y][x]
        da = p[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for i in range(3):
            p[i] = (rgb[i] * a + p[i] * da * (1 - a)) / oa
        p[3] = oa * 255.0

    def shape(self, inside, rgb, alpha=1.0, box=None):
        """Fills the pixels whose subsamples satisfy inside(x, y) (shape units)."""
        k = self.scale
        x0, y0, x1, y1 = (v * k for v in box) if box else (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                n = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside((x + (sx + 0.5) / SS) / k, (y + (sy + 0.5) / SS) / k):
                            n += 1
                if n:
                    self.blend(x, y, rgb, alpha * n / (SS * SS))

    def rect(self, x0, y0, x1, y1, rgb, alpha=1.0):
        self.shape(lambda x, y: x0 <= x < x1 and y0 <= y < y1, rgb, alpha, (x0, y0, x1, y1))

    def polygon(self, pts, rgb, alpha=1.0):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.shape(lambda x, y: in_polygon(pts, x, y), rgb, alpha,
                   (min(xs), min(ys), max(xs) + 1, max(ys) + 1))

    def circle(self, cx, cy, r, rgb, alpha=1.0):
        self.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, rgb, alpha,
                   (cx - r, cy - r, cx + r + 1, cy + r + 1))

    def ring(self, cx, cy, r0, r1, rgb, alpha=1.0):
        def inside(x, y):
            d = (x - cx) ** 2 + (y - cy) ** 2
            return r0 * r0 <= d <= r1 * r1
        self.shape(inside, rgb, alpha, (cx - r1, cy - r1, cx + r1 + 1, cy + r1 + 1))

    def star(self, cx, cy, r, rgb, rotation=0.0, points=5):
        pts = []
        for i in range(points * 2):
            rr = r if i % 2 == 0 else r * 0.382
            a = rotation - math.pi / 2 + i * math.pi / points
            pts.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
        self.polygon(pts, rgb)

    def rgba(self, x, y):
        p = self.px[y][x]
        return tuple(max(0, min(255, int(round(v)))) for v in p)


def in_polygon(pts, x, y):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def hexrgb(s):
    return tuple(int(s[i:i + 2], 16) for i in (0, 2, 4))


# --- the product mark: a package cube with a downward arrow ----------------

def draw_mark(c, cx, cy, s, shadow=True, arrow=(255, 255, 255)):
    """An isometric box of size s centred at (cx, cy), an arrow dropping into it."""
    top = [(cx, cy - s * 0.50), (cx + s * 0.50, cy - s * 0.25), (cx, cy), (cx - s * 0.50, cy - s * 0.25)]
    left = [(cx - s * 0.50, cy - s * 0.25), (cx, cy), (cx, cy + s * 0.55), (cx - s * 0.50, cy + s * 0.30)]
    right = [(cx, cy), (cx + s * 0.50, cy - s * 0.25), (cx + s * 0.50, cy + s * 0.30), (cx, cy + s * 0.55)]
    if shadow:
        c.shape(lambda x, y: ((x - cx) / (s * 0.62)) ** 2 + ((y - cy - s * 0.60) / (s * 0.12)) ** 2 <= 1,
                (0, 0, 0), 0.25, (cx - s, cy + s * 0.4, cx + s, cy + s * 0.8))
    c.polygon(left, hexrgb("f08a24"))
    c.polygon(right, hexrgb("c8651a"))
    c.polygon(top, hexrgb("ffc266"))
    # the open lid's slot and the arrow falling into it
    slot = [(cx - s * 0.18, cy - s * 0.25), (cx, cy - s * 0.34), (cx + s * 0.18, cy - s * 0.25), (cx, cy - s * 0.16)]
    c.polygon(slot, hexrgb("a9520f"))
    w = s * 0.09
    c.polygon([(cx - w, cy - s * 0.95), (cx + w, cy - s * 0.95), (cx + w, cy - s * 0.46),
               (cx + w * 2.4, cy - s * 0.46), (cx, cy - s * 0.24), (cx - w * 2.4, cy - s * 0.46),
               (cx - w, cy - s * 0.46)], arrow)


def scaled(length, scale):
    """A length of the 100 % picture in pixels at scale, halves rounded up."""
    return int(length * scale + 0.5)


def side_picture(scale=1):
    w, h = scaled(87, scale), scaled(171, scale)
    c = Canvas(w, h, (0, 0, 0, 255), scale)
    top, bottom = hexrgb("0d2f57"), hexrgb("2a86c4")
    for y in range(h):
        t = y / (h - 1)
        t = t * t * (3 - 2 * t)
        rgb = tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3))
        for x in range(w):
            # a little light from the upper right
            k = max(0.0, 1 - math.hypot(x - w * 0.9, y - h * 0.05) / (150 * scale)) * 0.18
            c.px[y][x] = [rgb[i] + (255 - rgb[i]) * k for i in range(3)] + [255]
    # soft rings in the background
    c.ring(10, 150, 46, 49, (255, 255, 255), 0.10)
    c.ring(10, 150, 62, 64, (255, 255, 255), 0.07)
    c.ring(10, 150, 78, 79.5, (255, 255, 255), 0.05)
    c.circle(78, 22, 30, (255, 255, 255), 0.05)
    c.circle(70, 14, 16, (255, 255, 255), 0.05)
    # the mark
    draw_mark(c, 43.5, 82, 46)
    # sparkles
    for (x, y, r) in ((18, 40, 2.2), (66, 52, 1.6), (24, 122, 1.4), (70, 118, 2.0)):
        c.star(x, y, r, (255, 255, 255), 0, 4)
    return c


def app_icon_image(size):
    c = Canvas(size, size)
    draw_mark(c, size * 0.5, size * 0.62, size * 0.64, shadow=False, arrow=hexrgb("1f6fb8"))
    return c


def product_icon_image(size):
    """The product's mark: a white T on a blue tile with rounded corners, its
    strokes on whole pixels at every size."""
    c = Canvas(size, size)
    margin = int(size * 3 / 16 + 0.5)
    r = margin
    def tile(x, y):
        cx = min(max(x, r), size - r)
        cy = min(max(y, r), size - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    c.shape(tile, hexrgb("2b5d8a"))
    white = (255, 255, 255)
    bar_bottom = margin + size // 5 + 1
    c.rect(margin, margin, size - margin + 1, bar_bottom, white)
    half_stem = size // 16
    c.rect(size // 2 - half_stem, bar_bottom, size // 2 + half_stem + 1, size - margin + 1, white)
    return c


ICON_SIZES = (256, 64, 48, 40, 32, 24, 20, 16)


# --- flags, 16 x 12 at 100 % --------------------------------------------------

def flag(ident, scale=1):
    W, H = 16, 12
    c = Canvas(scaled(W, scale), scaled(H, scale), scale=scale)
    red, white, blue = hexrgb("d52b1e"), (255, 255, 255), hexrgb("0039a6")
    yellow, green = hexrgb("ffd400"), hexrgb("00923f")

    def hstripes(*cols):
        n = len(cols)
        for i, col in enumerate(cols):
            c.rect(0, H * i / n, W, H * (i + 1) / n, col)

    def vstripes(*cols):
        n = len(cols)
        for i, col in enumerate(cols):
            c.rect(W * i / n, 0, W * (i + 1) / n, H, col)

    def nordic(bg, cross, inner=None):
        c.rect(0, 0, W, H, bg)
        c.rect(4, 0, 7, H, cross)
        c.rect(0, 4.5, W, 7.5, cross)
        if inner:
            c.rect(4.75, 0, 6.25, H, inner)
            c.rect(0, 5.25, W, 6.75, inner)

    if ident == 141:    # Germany
        hstripes((0, 0, 0), hexrgb("dd0000"), hexrgb("ffce00"))
    elif ident == 142:  # Denmark
        nordic(hexrgb("c8102e"), white)
    elif ident == 143:  # Spain
        c.rect(0, 0, W, H, hexrgb("aa151b"))
        c.rect(0, 3, W, 9, hexrgb("f1bf00"))
        c.rect(3.5, 4.5, 6, 7.5, hexrgb("aa151b"))   # the arms, as far as 16 pixels show them
    elif ident == 144:  # France
        vstripes(hexrgb("002395"), white, hexrgb("ed2939"))
    elif ident == 145:  # United States (English)
        for i in range(13):
            c.rect(0, H * i / 13, W, H * (i + 1) / 13, hexrgb("b22234") if i % 2 == 0 else white)
        c.rect(0, 0, 7, H * 7 / 13, hexrgb("3c3b6e"))
        for y in (1.2, 3.2, 5.2):
            for x in (1.2, 3.4, 5.6):
                c.circle(x, y, 0.45, white)
    elif ident == 146:  # Italy
        vstripes(hexrgb("009246"), white, hexrgb("ce2b37"))
    elif ident == 147:  # Netherlands
        hstripes(hexrgb("ae1c28"), white, hexrgb("21468b"))
    elif ident == 148:  # Portugal
        c.rect(0, 0, W, H, hexrgb("ff0000"))
        c.rect(0, 0, 6.4, H, hexrgb("006600"))
        c.circle(6.4, 6, 2.9, yellow)
        c.circle(6.4, 6, 1.9, hexrgb("ff0000"))
        c.rect(5.6, 5, 7.2, 7.3, white)
    elif ident == 149:  # Turkey
        c.rect(0, 0, W, H, hexrgb("e30a17"))
        c.circle(5.6, 6, 3.0, white)
        c.circle(6.4, 6, 2.4, hexrgb("e30a17"))
        c.star(9.6, 6, 1.45, white, -math.pi / 2)
    elif ident == 150:  # Bulgaria
        hstripes(white, hexrgb("00966e"), hexrgb("d62612"))
    elif ident == 151:  # Romania
        vstripes(hexrgb("002b7f"), hexrgb("fcd116"), hexrgb("ce1126"))
    elif ident == 152:  # China
        c.rect(0, 0, W, H, hexrgb("ee1c25"))
        c.star(3.2, 3.2, 2.3, hexrgb("ffff00"))
        for (x, y) in ((6.4, 1.2), (7.7, 2.5), (7.7, 4.3), (6.4, 5.5)):
            c.star(x, y, 0.75, hexrgb("ffff00"))
    elif ident == 153:  # Czech Republic
        hstripes(white, hexrgb("d7141a"))
        c.polygon([(0, 0), (8, 6), (0, 12)], hexrgb("11457e"))
    elif ident == 154:  # Norway
        nordic(hexrgb("ba0c2f"), white, hexrgb("00205b"))
    elif ident == 155:  # Greece
        gblue = hexrgb("0d5eaf")
        for i in range(9):
            c.rect(0, H * i / 9, W, H * (i + 1) / 9, gblue if i % 2 == 0 else white)
        c.rect(0, 0, 6.7, H * 5 / 9, gblue)
        c.rect(2.7, 0, 4.0, H * 5 / 9, white)
        c.rect(0, H * 2 / 9, 6.7, H * 3 / 9, white)
    elif ident == 156:  # Poland
        hstripes(white, hexrgb("dc143c"))
    elif ident == 157:  # Israel
        iblue = hexrgb("0038b8")
        c.rect(0, 0, W, H, white)
        c.rect(0, 1.2, W, 2.6, iblue)
        c.rect(0, 9.4, W, 10.8, iblue)
        for rot in (0, math.pi):
            pts = [(8 + 2.7 * math.cos(rot - math.pi / 2 + k * 2 * math.pi / 3),
                    6 + 2.7 * math.sin(rot - math.pi / 2 + k * 2 * math.pi / 3)) for k in range(3)]
            c.polygon(pts, iblue)
        for rot in (0, math.pi):
            pts = [(8 + 1.7 * math.cos(rot - math.pi / 2 + k * 2 * math.pi / 3),
                    6 + 1.7 * math.sin(rot - math.pi / 2 + k * 2 * math.pi / 3)) for k in range(3)]
            c.polygon(pts, white)
    elif ident == 158:  # Vietnam
        c.rect(0, 0, W, H, hexrgb("da251d"))
        c.star(8, 6.3, 4.0, hexrgb("ffff00"))
    elif ident == 160:  # Japan
        c.rect(0, 0, W, H, white)
        c.circle(8, 6, 3.6, hexrgb("bc002d"))
    elif ident == 161:  # Hungary
        hstripes(hexrgb("cd2a3e"), white, hexrgb("436f4d"))
    else:
        raise ValueError(ident)
    # A thin darker edge keeps white flags apart from a white list.
    edge = int(scale)
    for y in range(c.h):
        for x in range(c.w):
            if min(x, y, c.w - 1 - x, c.h - 1 - y) < edge:
                p = c.px[y][x]
                for i in range(3):
                    p[i] *= 0.78
    return c


# --- file writers ------------------------------------------------------------

def median_cut(colors, n):
    boxes = [list(colors)]
    while len(boxes) < n:
        best, best_range, axis = None, -1, 0
        for b in boxes:
            if len(b) < 2:
                continue
            for a in range(3):
                vals = [p[a] for p in b]
                r = max(vals) - min(vals)
                if r > best_range:
                    best, best_range, axis = b, r, a
        if best is None or best_range <= 0:
            break
        best.sort(key=lambda p: p[axis])
        mid = len(best) // 2
        boxes.remove(best)
        boxes += [best[:mid], best[mid:]]
    return [tuple(int(round(sum(p[a] for p in b) / len(b))) for a in range(3)) for b in boxes if b]


def write_bmp8(path, c):
    pixels = [c.rgba(x, y)[:3] for y in range(c.h) for x in range(c.w)]
    palette = median_cut(pixels, 256)
    palette += [(0, 0, 0)] * (256 - len(palette))
    cache = {}

    def nearest(p):
        if p not in cache:
            cache[p] = min(range(256), key=lambda i: sum((palette[i][a] - p[a]) ** 2 for a in range(3)))
        return cache[p]

    stride = (c.w + 3) & ~3
    rows = b""
    for y in range(c.h - 1, -1, -1):
        row = bytes(nearest(c.rgba(x, y)[:3]) for x in range(c.w))
        rows += row + b"\0" * (stride - c.w)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(pal)
    head = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + pal + rows)


def icon_image(c):
    xor = b""
    for y in range(c.h - 1, -1, -1):
        for x in range(c.w):
            r, g, b, a = c.rgba(x, y)
            xor += bytes((b, g, r, a))
    mask_stride = ((c.w + 31) // 32) * 4
    mask = b""
    for y in range(c.h - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(c.w):
            if c.rgba(x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def png_image(c):
    """The canvas as a PNG file (RGBA, 8 bits a channel), as icons hold 256."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + bytes(v for x in range(c.w) for v in c.rgba(x, y)) for y in range(c.h))
    header = struct.pack(">IIBBBBB", c.w, c.h, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


def write_ico(path, canvases):
    images = [png_image(c) if c.w >= 256 else icon_image(c) for c in canvases]
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for c, img in zip(canvases, images):
        entries += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(path, "wb") as f:
        f.write(head + entries + b"".join(images))


FLAGS = (141, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156,
         157, 158, 160, 161)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else here
    product = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "product", "program")
    os.makedirs(out, exist_ok=True)
    write_bmp8(os.path.join(out, "side.bmp"), side_picture())
    write_bmp8(os.path.join(out, "side_150.bmp"), side_picture(1.5))
    write_bmp8(os.path.join(out, "side_200.bmp"), side_picture(2))
    write_ico(os.path.join(out, "app.ico"), [app_icon_image(s) for s in ICON_SIZES])
    for ident in FLAGS:
        write_ico(os.path.join(out, "flag_%d.ico" % ident), [flag(ident, k) for k in (1, 1.5, 2)])
    write_ico(os.path.join(product, "Trimora.ico"), [product_icon_image(s) for s in ICON_SIZES])


if __name__ == "__main__":
    main()
