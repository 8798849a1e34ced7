#!/usr/bin/env python3
"""Writes the JPEG reader's test files (tests/data/jpeg-reader/): small
photo-like pictures encoded by cjpeg (Debian's libjpeg-turbo-progs) in every
sampling, baseline and progressive, grey and RGB, with restart intervals,
extreme qualities and odd sizes. The tests add Adobe and JFIF variants and
truncations themselves; the files are committed so that builds without the
encoder (Windows under Wine) test the same table.

Usage: make_jpeg_reader_fixtures.py OUTPUT_FOLDER
"""
import math
import os
import random
import subprocess
import sys
import tempfile

OUT = sys.argv[1]
rng = random.Random(22)


def ppm(w, h, grey=False):
    # smooth gradients, an edge and some noise: photo-like enough to exercise
    # every coefficient without making big files
    px = bytearray()
    for y in range(h):
        for x in range(w):
            base = [128 + 100 * math.sin(x / 5.0 + c) * math.cos(y / 7.0 - c) for c in range(3)]
            if (x + 2 * y) % 23 < 3:
                base = [255 - b for b in base]
            for c in range(1 if grey else 3):
                px.append(max(0, min(255, int(base[c] + rng.randrange(-12, 13)))))
    return (b'P5' if grey else b'P6') + b'\n%d %d\n255\n' % (w, h) + bytes(px)


def cjpeg(name, w, h, args, grey=False):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, 'in.ppm')
        open(src, 'wb').write(ppm(w, h, grey))
        out = os.path.join(OUT, name + '.jpg')
        subprocess.run(['cjpeg'] + args + ['-outfile', out, src], check=True)


os.makedirs(OUT, exist_ok=True)
for mode, extra in (('base', []), ('prog', ['-progressive'])):
    for samp in ('1x1', '2x1', '1x2', '2x2', '4x1', '4x2', '3x1', '2x2,1x1,2x1', '1x2,2x1,1x1'):
        cjpeg('%s-%s' % (mode, samp.replace(',', '_')), 37, 29, extra + ['-quality', '75', '-sample', samp])
    cjpeg(mode + '-grey', 37, 29, extra + ['-quality', '80'], grey=True)
    cjpeg(mode + '-grey-2x2', 21, 19, extra + ['-quality', '80', '-sample', '2x2'], grey=True)
    cjpeg(mode + '-rgb', 23, 17, extra + ['-quality', '85', '-rgb'])
    cjpeg(mode + '-restart-1-block', 37, 29, extra + ['-sample', '2x2', '-restart', '1B'])
    cjpeg(mode + '-restart-3-blocks-grey', 33, 9, extra + ['-restart', '3B'], grey=True)
    cjpeg(mode + '-restart-1-row', 40, 40, extra + ['-sample', '2x1', '-restart', '1'])
    cjpeg(mode + '-q1', 37, 29, extra + ['-quality', '1', '-sample', '2x2'])
    cjpeg(mode + '-q100', 29, 21, extra + ['-quality', '100', '-sample', '1x1'])
    for w, h in ((1, 1), (1, 40), (40, 1), (7, 9), (17, 33), (33, 17), (40, 40), (16, 16)):
        cjpeg('%s-%dx%d' % (mode, w, h), w, h, extra + ['-quality', '70', '-sample', '2x2'])
    cjpeg(mode + '-1001x19', 1001, 19, extra + ['-quality', '40', '-sample', '2x2'])

cjpeg('base-optimized', 45, 31, ['-optimize', '-quality', '90', '-sample', '1x2'])
