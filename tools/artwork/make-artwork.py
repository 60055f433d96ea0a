#!/usr/bin/env python3
"""Draws Orvane's own artwork: the application icon and button icons as SVG,
and the 4096 x 64 GIF89a banner. Everything is generated here from shapes and
a small block font; run it again after a change and commit the results:

    tools/artwork/make-artwork.py resources/
"""
import math
import os
import sys

# ---------------------------------------------------------------- icons (SVG)
# Icons are named by role; "-on" is the pressed look of a latching button.
# Mid-tone fills with a dark outline read on light and dark window themes alike.
OUTLINE = "#1d2b3a"
BLUE, BLUE_HI = "#2f7fd0", "#5aa9f5"
GREEN, GREEN_HI = "#2e9a4b", "#4cc96d"
RED, RED_HI = "#c63a32", "#f0564c"
AMBER, AMBER_HI = "#d08a1c", "#f5b133"
GREY = "#7d8a96"


def svg(body, size=32):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
            f'viewBox="0 0 32 32">\n{body}\n</svg>\n')


def play(fill):
    return f'<path d="M9 5 L27 16 L9 27 Z" fill="{fill}" stroke="{OUTLINE}" stroke-width="2" stroke-linejoin="round"/>'


def stop(fill):
    return f'<rect x="7" y="7" width="18" height="18" rx="2" fill="{fill}" stroke="{OUTLINE}" stroke-width="2"/>'


def pause(fill):
    return (f'<rect x="7" y="6" width="7" height="20" rx="1.5" fill="{fill}" stroke="{OUTLINE}" stroke-width="2"/>'
            f'<rect x="18" y="6" width="7" height="20" rx="1.5" fill="{fill}" stroke="{OUTLINE}" stroke-width="2"/>')


def record(fill, ring):
    return (f'<circle cx="16" cy="16" r="12" fill="none" stroke="{ring}" stroke-width="2"/>'
            f'<circle cx="16" cy="16" r="8" fill="{fill}" stroke="{OUTLINE}" stroke-width="2"/>')


def loop(stroke):
    return (f'<path d="M8 20 A8 8 0 0 1 16 8 H22" fill="none" stroke="{OUTLINE}" stroke-width="6" '
            f'stroke-linecap="round"/>'
            f'<path d="M24 12 A8 8 0 0 1 16 24 H10" fill="none" stroke="{OUTLINE}" stroke-width="6" '
            f'stroke-linecap="round"/>'
            f'<path d="M8 20 A8 8 0 0 1 16 8 H22" fill="none" stroke="{stroke}" stroke-width="3" '
            f'stroke-linecap="round"/>'
            f'<path d="M24 12 A8 8 0 0 1 16 24 H10" fill="none" stroke="{stroke}" stroke-width="3" '
            f'stroke-linecap="round"/>'
            f'<path d="M20 3 L27 8 L20 13 Z" fill="{stroke}" stroke="{OUTLINE}" stroke-width="1.5" '
            f'stroke-linejoin="round"/>'
            f'<path d="M12 19 L5 24 L12 29 Z" fill="{stroke}" stroke="{OUTLINE}" stroke-width="1.5" '
            f'stroke-linejoin="round"/>')


def folder(fill):
    return (f'<path d="M3 9 V26 H29 V11 H15 L12 7 H4 Z" fill="{fill}" stroke="{OUTLINE}" stroke-width="2" '
            f'stroke-linejoin="round"/>'
            f'<path d="M3 14 H29" stroke="{OUTLINE}" stroke-width="1.5"/>')


def network(fill):
    # a plug into a socket: the network port opens. Strokes are drawn twice, dark
    # under light, so that they show on dark themes too.
    return (f'<path d="M16 13 H23 M16 19 H23" stroke="{OUTLINE}" stroke-width="5" stroke-linecap="round"/>'
            f'<path d="M16 13 H23 M16 19 H23" stroke="{GREY}" stroke-width="2.5" stroke-linecap="round"/>'
            f'<path d="M27 5 V27" stroke="{OUTLINE}" stroke-width="5" stroke-linecap="round"/>'
            f'<path d="M27 5 V27" stroke="{fill}" stroke-width="2.5" stroke-linecap="round"/>'
            f'<rect x="3" y="9" width="13" height="14" rx="2" fill="{fill}" stroke="{OUTLINE}" stroke-width="2"/>')


def monitor(fill, wave):
    return (f'<rect x="3" y="5" width="26" height="18" rx="2" fill="{fill}" stroke="{OUTLINE}" stroke-width="2"/>'
            f'<path d="M6 16 L10 16 L12 10 L15 20 L18 12 L20 16 L26 16" fill="none" stroke="{wave}" '
            f'stroke-width="2" stroke-linejoin="round" stroke-linecap="round"/>'
            f'<path d="M11 28 H21 M16 23 V28" stroke="{OUTLINE}" stroke-width="4" stroke-linecap="round"/>'
            f'<path d="M11 28 H21 M16 23 V28" stroke="{GREY}" stroke-width="2" stroke-linecap="round"/>')


def sync_reset(fill):
    return (f'<path d="M25 16 A9 9 0 1 1 22 9" fill="none" stroke="{OUTLINE}" stroke-width="6" '
            f'stroke-linecap="round"/>'
            f'<path d="M25 16 A9 9 0 1 1 22 9" fill="none" stroke="{fill}" stroke-width="3" '
            f'stroke-linecap="round"/>'
            f'<path d="M17 4 L27 5 L24 14 Z" fill="{fill}" stroke="{OUTLINE}" stroke-width="1.5" '
            f'stroke-linejoin="round"/>')


def app_icon():
    # A rounded tile with a stream of packets flowing through a ring: the station.
    packets = "".join(
        f'<rect x="{4 + i * 5}" y="{14 + round(3 * math.sin(i))}" width="4" height="4" rx="0.8" fill="#ffffff" '
        f'opacity="{0.55 + 0.08 * i}"/>' for i in range(5))
    return (f'<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="#3b8fe0"/><stop offset="1" stop-color="#1a4f8f"/></linearGradient></defs>'
            f'<rect x="1" y="1" width="30" height="30" rx="7" fill="url(#g)" stroke="{OUTLINE}" stroke-width="1.5"/>'
            f'<circle cx="16" cy="16" r="9.5" fill="none" stroke="#ffffff" stroke-width="2.5"/>'
            f'{packets}'
            f'<path d="M27 16 L31 13 V19 Z" fill="#f5b133"/>')


ICONS = {
    "app": app_icon(),
    "network-open": network(BLUE),
    "file-open": folder(AMBER),
    "play": play(GREEN),
    "loop": loop(GREY),
    "record": record(RED, GREY),
    "stop": stop(BLUE),
    "record-on": record(RED_HI, RED),
    "loop-on": loop(BLUE_HI),
    "sync-reset": sync_reset(AMBER),
    "pause": pause(AMBER),
    "monitor": monitor("#e8edf2", GREY),
    "monitor-on": monitor("#e8edf2", GREEN),
}

# ---------------------------------------------------------------- banner (GIF)
WIDTH, HEIGHT = 4096, 64

# 5 x 7 block letters, enough for the banner's words.
FONT = {
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "I": ["111", "010", "010", "010", "010", "010", "111"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01110"],
    "-": ["000", "000", "000", "111", "000", "000", "000"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    " ": ["000", "000", "000", "000", "000", "000", "000"],
}

PALETTE = [
    (255, 255, 255),  # 0 white band
    (29, 43, 58),     # 1 dark ink
    (47, 127, 208),   # 2 blue
    (90, 169, 245),   # 3 light blue
    (190, 215, 240),  # 4 pale blue
    (245, 177, 51),   # 5 amber
    (125, 138, 150),  # 6 grey
    (225, 236, 247),  # 7 faint blue
]


def draw_text(pixels, text, x, y, scale, colour):
    for ch in text:
        glyph = FONT[ch]
        for row, bits in enumerate(glyph):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            px, py = x + col * scale + dx, y + row * scale + dy
                            if 0 <= px < WIDTH and 0 <= py < HEIGHT:
                                pixels[py][px] = colour
        x += (len(glyph[0]) + 1) * scale
    return x


def text_width(text, scale):
    return sum((len(FONT[c][0]) + 1) * scale for c in text) - scale


def banner_pixels():
    pixels = [[0] * WIDTH for _ in range(HEIGHT)]
    # A stream of 188-byte packets drawn as small cells riding a slow wave over the whole width.
    for i in range(WIDTH // 12):
        x = i * 12 + 2
        y = 30 + round(12 * math.sin(i / 9.0)) + round(4 * math.sin(i / 2.3))
        colour = 2 if i % 7 == 0 else (3 if i % 3 == 0 else 4)
        for dy in range(6):
            for dx in range(8):
                if 0 <= y + dy < HEIGHT:
                    pixels[y + dy][x + dx] = colour
    # The word mark sits in the middle: a window narrower than the banner shows its centre.
    title, subtitle = "ORVANE", "MPEG-2 TS OVER IP"
    tw = text_width(title, 6)
    sw = text_width(subtitle, 2)
    block = tw + 24 + sw
    left = (WIDTH - block) // 2
    for y in range(2, 62):
        for x in range(left - 24, left + block + 24):
            pixels[y][x] = 0 if 4 < y < 60 else 7
    draw_text(pixels, title, left, 11, 6, 1)
    for y in range(11, 53):
        pixels[y][left + tw + 11] = 5
        pixels[y][left + tw + 12] = 5
    draw_text(pixels, subtitle, left + tw + 24, 25, 2, 6)
    return pixels


def lzw_encode(indices, min_code_size):
    """GIF's variable-length LZW, with a reset of the table when it fills."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bit_buffer, bit_count = bytearray(), 0, 0
    code_size = min_code_size + 1

    def emit(code):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += code_size
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    emit(clear)
    prefix = (indices[0],)
    for value in indices[1:]:
        candidate = prefix + (value,)
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        prefix = (value,)
    emit(table[prefix])
    emit(end)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def write_gif(path, pixels):
    bits = 3  # 8 palette entries
    head = b"GIF89a" + WIDTH.to_bytes(2, "little") + HEIGHT.to_bytes(2, "little")
    head += bytes([0x80 | ((bits - 1) << 4) | (bits - 1), 0, 0])
    palette = b"".join(bytes(c) for c in PALETTE) + b"\0" * (3 * ((1 << bits) - len(PALETTE)))
    image = b"," + (0).to_bytes(2, "little") * 2 + WIDTH.to_bytes(2, "little") + HEIGHT.to_bytes(2, "little") + b"\0"
    data = lzw_encode([p for row in pixels for p in row], bits)
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))
    with open(path, "wb") as f:
        f.write(head + palette + image + bytes([bits]) + blocks + b"\0;")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources"
    os.makedirs(os.path.join(out, "icons"), exist_ok=True)
    for role, body in ICONS.items():
        with open(os.path.join(out, "icons", f"{role}.svg"), "w") as f:
            f.write(svg(body))
    write_gif(os.path.join(out, "banner.gif"), banner_pixels())


if __name__ == "__main__":
    main()
