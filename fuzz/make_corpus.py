#!/usr/bin/env python3
"""Writes the fuzz seed corpus: one small file per reader path worth a start
(PNG depths, colour types, interlacing, filters, palettes; BMP depths, masks
and header kinds; JPEG baseline, progressive, subsampled, restart intervals,
CMYK), each followed by the 24 tail bytes the fuzz target reads.

Usage: make_corpus.py OUTPUT_FOLDER PATH_TO_velmora_PROGRAM
(the program turns one PNG into a JPEG by stb's own writer).
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

OUT = sys.argv[1]
CLI = sys.argv[2]
rng = random.Random(7)
files = {}

# ---------- PNG ----------
def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
def png(w, h, depth, ctype, raw, interlace=0, extra=b'', split=False, level=9):
    ihdr = struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, interlace)
    z = zlib.compress(raw, level)
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + extra
    if split:
        half = len(z) // 2
        out += chunk(b'IDAT', z[:half]) + chunk(b'IDAT', z[half:])
    else:
        out += chunk(b'IDAT', z)
    return out + chunk(b'IEND', b'')
def rows(h, rowbytes, filt=None):
    raw = b''
    for y in range(h):
        f = (y % 5) if filt is None else filt
        raw += bytes([f]) + bytes(rng.randrange(256) for _ in range(rowbytes))
    return raw
files['png-rgba8'] = png(3, 2, 8, 6, rows(2, 12))
files['png-rgb8-filters'] = png(4, 5, 8, 2, rows(5, 12), level=0)
files['png-grey1'] = png(9, 3, 1, 0, rows(3, 2))
files['png-grey-alpha8'] = png(3, 3, 8, 4, rows(3, 6))
files['png-grey16-trns'] = png(2, 2, 16, 0, rows(2, 4), extra=chunk(b'tRNS', b'\x12\x34'))
files['png-rgb16'] = png(2, 2, 16, 2, rows(2, 12), split=True)
files['png-palette4-trns'] = png(5, 2, 4, 3, rows(2, 3),
    extra=chunk(b'PLTE', bytes(rng.randrange(256) for _ in range(3*6))) + chunk(b'tRNS', b'\x00\x80\xff'))
# Adam7 interlaced RGB 8-bit 5x5: passes of sizes (1x1),(1x1),(2x1),(1x2)... build raw per pass
def adam7(w, h, bpp):
    passes = [(0,0,8,8),(4,0,8,8),(0,4,4,8),(2,0,4,4),(0,2,2,4),(1,0,2,2),(0,1,1,2)]
    raw = b''
    for (x0,y0,dx,dy) in passes:
        pw = (w - x0 + dx - 1) // dx if w > x0 else 0
        ph = (h - y0 + dy - 1) // dy if h > y0 else 0
        if pw and ph:
            raw += rows(ph, pw * bpp)
    return raw
files['png-rgb8-interlaced'] = png(5, 5, 8, 2, adam7(5, 5, 3), interlace=1)
files['png-text-chunk'] = png(2, 1, 8, 0, rows(1, 2), extra=chunk(b'tEXt', b'k\x00v'))
c = zlib.compressobj(9, zlib.DEFLATED, -15); raw_deflate = c.compress(rows(2, 8)) + c.flush() + bytes(4)
files['png-iphone'] = (b'\x89PNG\r\n\x1a\n' + chunk(b'CgBI', b'\x50\x00\x20\x06') +
    chunk(b'IHDR', struct.pack('>IIBBBBB', 2, 2, 8, 6, 0, 0, 0)) + chunk(b'IDAT', raw_deflate) + chunk(b'IEND', b''))

# ---------- BMP ----------
def bmp(w, h, bpp, pixels, hsz=40, compress=0, masks=b'', palette=b''):
    if hsz == 12:
        info = struct.pack('<IHHHH', 12, w, h & 0xffff, 1, bpp)
    else:
        info = struct.pack('<IiiHHIIiiII', hsz, w, h, 1, bpp, compress, 0, 0, 0, 0, 0)
        if hsz == 108:
            info += masks + b'\x00' * (108 - 40 - len(masks))
        else:
            info += masks
    off = 14 + len(info) + len(palette)
    return b'BM' + struct.pack('<IHHI', off + len(pixels), 0, 0, off) + info + palette + pixels
def bmprows(h, rowbytes):
    pad = (-rowbytes) & 3
    return b''.join(bytes(rng.randrange(256) for _ in range(rowbytes)) + b'\0' * pad for _ in range(h))
files['bmp-24'] = bmp(3, 2, 24, bmprows(2, 9))
files['bmp-24-topdown'] = bmp(2, -2, 24, bmprows(2, 6))
files['bmp-8-palette'] = bmp(3, 2, 8, bmprows(2, 3), palette=bytes(rng.randrange(256) for _ in range(4*4)))
files['bmp-4-palette'] = bmp(5, 2, 4, bmprows(2, 3), palette=bytes(rng.randrange(256) for _ in range(4*16)))
files['bmp-1-palette'] = bmp(9, 2, 1, bmprows(2, 2), palette=b'\x00\x00\x00\x00\xff\xff\xff\x00')
files['bmp-16-565'] = bmp(3, 2, 16, bmprows(2, 6), compress=3, masks=struct.pack('<III', 0xF800, 0x07E0, 0x001F))
files['bmp-16-555'] = bmp(3, 2, 16, bmprows(2, 6))
files['bmp-32-v4-alpha'] = bmp(2, 2, 32, bmprows(2, 8), hsz=108, compress=3,
    masks=struct.pack('<IIII', 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000))
files['bmp-os2-24'] = bmp(2, 2, 24, bmprows(2, 6), hsz=12)

# ---------- JPEG ----------
def seg(m, body): return bytes([0xFF, m]) + struct.pack('>H', len(body) + 2) + body
class Bits:
    def __init__(s): s.out = bytearray(); s.acc = 0; s.n = 0
    def put(s, v, c):
        for i in range(c - 1, -1, -1):
            s.acc = (s.acc << 1) | ((v >> i) & 1); s.n += 1
            if s.n == 8:
                s.out.append(s.acc)
                if s.acc == 0xFF: s.out.append(0)
                s.acc = 0; s.n = 0
    def done(s):
        while s.n: s.put(1, 1)
        return bytes(s.out)
def dht(cls_id, symbols):  # symbols coded with lengths 2.. (simple canonical: all of length L)
    n = len(symbols)
    L = max(1, (n).bit_length())
    counts = [0] * 16; counts[L - 1] = n
    return seg(0xC4, bytes([cls_id] + counts) + bytes(symbols)), L
def jpeg(w, h, comps, progressive=False, dri=0):
    f = b'\xff\xd8' + seg(0xE0, b'JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00')
    f += seg(0xDB, b'\x00' + bytes(rng.randrange(1, 40) for _ in range(64)))
    sof = bytes([8]) + struct.pack('>HH', h, w) + bytes([len(comps)])
    for i, s in enumerate(comps): sof += bytes([i + 1, s, 0])
    f += seg(0xC2 if progressive else 0xC0, sof)
    dc, Ldc = dht(0x00, [0, 1, 2, 3])
    ac, Lac = dht(0x10, [0x00, 0x01, 0x11, 0xF0])
    f += dc + ac
    if dri: f += seg(0xDD, struct.pack('>H', dri))
    hmax = max(s >> 4 for s in comps); vmax = max(s & 15 for s in comps)
    mx = (w + 8 * hmax - 1) // (8 * hmax); my = (h + 8 * vmax - 1) // (8 * vmax)
    def scan(ids, ss, se, ah, al, blockfn):
        body = bytes([len(ids)]) + b''.join(bytes([i + 1, 0x00]) for i in ids) + bytes([ss, se, (ah << 4) | al])
        out = seg(0xDA, body)
        b = Bits(); mcu = 0
        if len(ids) == 1:
            s = comps[ids[0]]
            cx = (w * (s >> 4) + hmax - 1) // hmax; cy = (h * (s & 15) + vmax - 1) // vmax
            units = ((cx + 7) // 8) * ((cy + 7) // 8)
        else:
            units = mx * my
        for _ in range(units):
            for i in ids:
                s = comps[i]
                nb = (s >> 4) * (s & 15) if len(ids) > 1 else 1
                for _ in range(nb): blockfn(b)
            mcu += 1
            if dri and mcu % dri == 0 and mcu < units:
                out += b.done() + bytes([0xFF, 0xD0 + (mcu // dri - 1) % 8]); b = Bits()
        return out + b.done()
    def dc_block(b):
        sym = rng.randrange(4); b.put(sym, Ldc)
        if sym: b.put(rng.randrange(1 << sym), sym)
    def base_block(b):
        dc_block(b)
        for _ in range(rng.randrange(3)):
            b.put(1, Lac); b.put(rng.randrange(2), 1)  # symbol 0x01: run 0, 1 bit
        b.put(0, Lac)  # EOB
    ids = list(range(len(comps)))
    if not progressive:
        f += scan(ids, 0, 63, 0, 0, base_block)
    else:
        f += scan(ids, 0, 0, 0, 1, dc_block)
        f += scan([0], 1, 63, 0, 0, lambda b: b.put(0, Lac))
        f += scan(ids, 0, 0, 1, 0, lambda b: b.put(rng.randrange(2), 1))
    return f + b'\xff\xd9'
files['jpg-grey'] = jpeg(8, 8, [0x11])
files['jpg-420'] = jpeg(16, 16, [0x22, 0x11, 0x11])
files['jpg-422-restart'] = jpeg(32, 8, [0x21, 0x11, 0x11], dri=1)
files['jpg-progressive-420'] = jpeg(16, 16, [0x22, 0x11, 0x11], progressive=True)
files['jpg-cmyk'] = jpeg(8, 8, [0x11, 0x11, 0x11, 0x11])
# stb's own writer, through the command-line program
with tempfile.TemporaryDirectory() as tmp:
    seed_png, seed_jpg = os.path.join(tmp, 'seed.png'), os.path.join(tmp, 'seed.jpg')
    open(seed_png, 'wb').write(png(5, 4, 8, 2, rows(4, 15, 0)))
    subprocess.run([CLI, 'invert', seed_png, seed_jpg], check=True)
    files['jpg-stb-writer'] = open(seed_jpg, 'rb').read()

os.makedirs(OUT, exist_ok=True)
for k, (name, data) in enumerate(sorted(files.items())):
    tail = bytes([k % 256, k % 4]) + bytes(rng.randrange(256) for _ in range(22))
    open(os.path.join(OUT, name), 'wb').write(data + tail)
    print(name, len(data) + 24)
