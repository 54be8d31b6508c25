#!/usr/bin/env python3
"""Checks the pictures a driven demo run saved: the scene is there, textured and lit, and each
key the run pressed changed what the screen showed.

    demo_pictures.py PICTURE_FOLDER

Reads each PNG through ImageMagick (convert ... ppm:-), so a file our writer got wrong fails
here too. Only the band between the text lines at the top and the bottom is judged. Prints one
line per check and "summary: N passed, M failed"; exits 1 when a check failed.
"""
import os
import subprocess
import sys

BAND = (48, 432)  # rows of the 640 x 480 picture below the top text and above the key help


def read(path):
    """Width, height and rows of (r, g, b) tuples of a picture."""
    data = subprocess.run(['convert', path, '-depth', '8', 'ppm:-'], check=True, capture_output=True).stdout
    fields, pos = [], 0
    while len(fields) < 4:  # P6, width, height, maximum value
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos:pos + width * height * 3]
    rows = [[tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)] for y in range(height)]
    return width, height, rows


class Summary:
    """Figures of the scene band of one picture."""

    def __init__(self, path):
        self.width, self.height, rows = read(path)
        band = [p for row in rows[BAND[0]:BAND[1]] for p in row]
        self.pixels = len(band)
        lit = [p for p in band if max(p) > 24]
        self.lit = len(lit)
        self.brightness = sum(sum(p) for p in band) / (3 * len(band))
        self.colours = len({(r >> 4, g >> 4, b >> 4) for r, g, b in lit})
        # The ground's texture is green and grey squares; the crates and the ball are warm.
        self.green = sum(1 for r, g, b in lit if g > r + 25 and g > b + 25)
        self.warm = sum(1 for r, g, b in lit if r > b + 50 and r > 80)


def main():
    folder = sys.argv[1]
    passed = failed = 0

    def check(ok, what):
        nonlocal passed, failed
        print(('ok: ' if ok else 'FAIL: ') + what)
        if ok:
            passed += 1
        else:
            failed += 1
        return ok

    names = ['solid', 'wireframe', 'point', 'solid-light-off']
    pictures = {}
    for name in names:
        path = os.path.join(folder, name + '.png')
        if check(os.path.isfile(path), f'{name}.png was saved'):
            pictures[name] = Summary(path)
    if 'solid' in pictures:
        s = pictures['solid']
        check((s.width, s.height) == (640, 480), f'the picture is the 640 x 480 client area ({s.width} x {s.height})')
        check(s.lit > s.pixels * 0.3, f'solid: the scene covers the view ({s.lit} of {s.pixels} pixels lit)')
        check(s.colours >= 40, f'solid: many colours, textures and shading ({s.colours} distinct)')
        check(s.brightness > 40, f'solid: the models are lit (mean brightness {s.brightness:.0f})')
        check(s.green > 2000, f'solid: the textured ground shows ({s.green} green pixels)')
        check(s.warm > 2000, f'solid: the crates and the ball show ({s.warm} warm pixels)')
        if 'wireframe' in pictures:
            w = pictures['wireframe']
            check(0 < w.lit < s.lit / 3, f'W: wireframe lights far fewer pixels ({w.lit} against {s.lit} solid)')
        if 'point' in pictures:
            p = pictures['point']
            check(0 < p.lit < s.lit / 10, f'P: points light fewer still ({p.lit} against {s.lit} solid)')
        if 'solid-light-off' in pictures:
            d = pictures['solid-light-off']
            check(d.lit > s.pixels * 0.2, f'L: solid fill again after S ({d.lit} pixels lit)')
            check(d.brightness < s.brightness * 0.7,
                  f'L: the white light off darkens the scene (brightness {d.brightness:.0f} against {s.brightness:.0f})')
    print(f'summary: {passed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
