#!/usr/bin/python3
"""Feeds check_art.py damaged copies of the artwork and expects each fault to be named.

Usage: test_check_art.py [RESOURCE_DIR]   (default: the repository's resources/)
"""

import contextlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, "check_art.py")
RESOURCES = os.path.join(HERE, "..", "..", "resources")
sys.path.insert(0, HERE)
import check_art  # noqa: E402


class Bmp:
    """Just enough of an 8-bit bottom-up BMP to damage it in place."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = bytearray(f.read())
        self.off = struct.unpack_from("<I", self.data, 10)[0]
        self.w, self.h = struct.unpack_from("<ii", self.data, 18)
        self.row = (self.w + 3) & ~3

    def save(self):
        with open(self.path, "wb") as f:
            f.write(self.data)

    def _at(self, x, y):
        return self.off + (self.h - 1 - y) * self.row + x

    def index(self, x, y):
        return self.data[self._at(x, y)]

    def set_index(self, x, y, i):
        self.data[self._at(x, y)] = i

    def colour(self, i):
        b, g, r, _ = struct.unpack_from("<BBBB", self.data, 54 + 4 * i)
        return (r, g, b)

    def is_white(self, x, y):
        return self.colour(self.index(x, y)) == (255, 255, 255)

    def solid_spot(self, radius):
        """A pixel whose whole (2*radius+1)^2 neighbourhood is figure."""
        for y in range(radius, self.h - radius):
            for x in range(radius, self.w - radius):
                if all(not self.is_white(x + dx, y + dy)
                       for dy in range(-radius, radius + 1) for dx in range(-radius, radius + 1)):
                    return x, y
        raise AssertionError("no solid area in %s" % self.path)

    def edge_pixel(self):
        """A figure pixel next to the transparent background."""
        for y in range(1, self.h - 1):
            for x in range(1, self.w - 1):
                if not self.is_white(x, y) and self.is_white(x - 1, y):
                    return x, y
        raise AssertionError("no figure edge in %s" % self.path)


def frame(res, rid):
    return os.path.join(res, "figures", "%02d.bmp" % rid)


def pinhole(res):
    b = Bmp(frame(res, 4))
    x, y = b.solid_spot(2)
    b.set_index(x, y, 0)
    b.save()


def white_blob(res):
    b = Bmp(frame(res, 14))
    x, y = b.solid_spot(3)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            b.set_index(x + dx, y + dy, 0)
    b.save()


def fringe(res):
    b = Bmp(frame(res, 24))
    pale = [i for i in range(1, 256) if min(b.colour(i)) >= 0xF0 and b.colour(i) != (255, 255, 255)]
    assert pale, "the cat's palette has no near-white colour to misuse"
    x, y = b.edge_pixel()
    b.set_index(x, y, pale[0])
    b.save()


def clipped(res):
    b = Bmp(frame(res, 33))
    x, y = b.solid_spot(1)
    b.set_index(95, 40, b.index(x, y))
    b.save()


def top_down(res):
    b = Bmp(frame(res, 2))
    rows = [bytes(b.data[b.off + i * b.row:b.off + (i + 1) * b.row]) for i in range(b.h)]
    b.data[b.off:b.off + b.h * b.row] = b"".join(reversed(rows))
    struct.pack_into("<i", b.data, 22, -b.h)
    b.save()


def field(rid, offset, fmt, value):
    def damage(res):
        b = Bmp(frame(res, rid))
        struct.pack_into(fmt, b.data, offset, value)
        b.save()
    return damage


def shifted_pixels(res):
    b = Bmp(frame(res, 12))
    struct.pack_into("<I", b.data, 10, b.off + 4)
    b.save()


def truncated(res):
    path = frame(res, 15)
    with open(path, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(data[:-200])


def missing(res):
    os.remove(frame(res, 5))


def swapped_tilt(res):
    a, b = frame(res, 11), frame(res, 17)
    tmp = a + ".tmp"
    os.rename(a, tmp)
    os.rename(b, a)
    os.rename(tmp, b)


def resized_figure(res):
    """Frame 3 of the girl drawn at 3/4 size: the set no longer matches."""
    from PIL import Image
    path = frame(res, 4)
    im = Image.open(path)
    small = im.resize((72, 72), Image.NEAREST)
    out = Image.new("P", (96, 96), 0)
    out.putpalette(im.getpalette())
    out.paste(small, (12, 12))
    out.save(path, "BMP")


def empty_frame(res):
    b = Bmp(frame(res, 36))
    for y in range(b.h):
        for x in range(b.w):
            b.set_index(x, y, 0)
    b.save()


def frame_2x(res, rid):
    return os.path.join(res, "figures-2x", "%02d.bmp" % rid)


def pinhole_2x(res):
    b = Bmp(frame_2x(res, 25))
    x, y = b.solid_spot(2)
    b.set_index(x, y, 0)
    b.save()


def fringe_2x(res):
    b = Bmp(frame_2x(res, 34))
    pale = [i for i in range(1, 256) if min(b.colour(i)) >= 0xF0 and b.colour(i) != (255, 255, 255)]
    assert pale, "the amulet's 2x palette has no near-white colour to misuse"
    x, y = b.edge_pixel()
    b.set_index(x, y, pale[0])
    b.save()


def another_drawing_2x(res):
    """The boy's upright 2x frame replaced by the girl's: still a sound
    frame, but not the drawing its 1x frame shows."""
    shutil.copyfile(frame_2x(res, 4), frame_2x(res, 14))


def about_size(res):
    b = Bmp(os.path.join(res, "about.bmp"))
    struct.pack_into("<i", b.data, 18, 198)
    b.save()


def icon_size(res):
    from PIL import Image
    path = os.path.join(res, "icons", "tassio-32.png")
    Image.open(path).resize((30, 30)).save(path)


def icon_opaque(res):
    from PIL import Image
    path = os.path.join(res, "icons", "tassio-48.png")
    im = Image.open(path)
    bg = Image.new("RGBA", im.size, (255, 255, 255, 255))
    bg.alpha_composite(im)
    bg.save(path)


def svg_broken(res):
    with open(os.path.join(res, "icons", "tassio.svg"), "w") as f:
        f.write("<svg xmlns='http://www.w3.org/2000/svg'><g>")


CASES = [
    ("pinhole", pinhole, "figures/04.bmp: pinhole of 1 px"),
    ("white inside figure", white_blob, "figures/14.bmp: white inside figure: 9 px"),
    ("near-white fringe", fringe, "figures/24.bmp: near-white fringe pixel"),
    ("figure clipped by the frame", clipped, "figures/33.bmp: figure touches the frame edge"),
    ("rows stored top-down", top_down, "figures/02.bmp: rows are stored top-down"),
    ("24 bits per pixel", field(3, 28, "<H", 24), "figures/03.bmp: 24 bits per pixel"),
    ("RLE compression", field(6, 30, "<I", 1), "figures/06.bmp: compression 1"),
    ("108-byte header", field(7, 14, "<I", 108), "figures/07.bmp: info header is 108 bytes"),
    ("wrong width", field(21, 18, "<i", 95), "figures/21.bmp: size 95x96"),
    ("wrong file size field", field(22, 2, "<I", 1), "figures/22.bmp: file size field 1"),
    ("not BM", field(23, 0, "<2s", b"XX"), "figures/23.bmp: signature"),
    ("pixel offset off by 4", shifted_pixels, "figures/12.bmp: pixel offset"),
    ("truncated file", truncated, "figures/15.bmp: truncated"),
    ("missing frame", missing, "figures/05.bmp: cannot read"),
    ("tilts in the wrong order", swapped_tilt, "boy frames 0 and 1: the figure does not swing"),
    ("one frame at another size", resized_figure, "girl frame 3 has"),
    ("empty frame", empty_frame, "figures/36.bmp: only 0 figure pixels"),
    ("2x frame at 1x size", lambda res: shutil.copyfile(frame(res, 1), frame_2x(res, 1)),
     "figures-2x/01.bmp: size 96x96, not 192x192"),
    ("missing 2x frame", lambda res: os.remove(frame_2x(res, 37)), "figures-2x/37.bmp: cannot read"),
    ("2x pinhole", pinhole_2x, "figures-2x/25.bmp: pinhole of 1 px"),
    ("2x near-white fringe", fringe_2x, "figures-2x/34.bmp: near-white fringe pixel"),
    ("2x frame of another drawing", another_drawing_2x, "differ from figures/14.bmp: not the same drawing"),
    ("about picture size", about_size, "about.bmp: size 198x122"),
    ("icon size", icon_size, "icons/tassio-32.png: size 30x30"),
    ("icon background opaque", icon_opaque, "icons/tassio-48.png: corners are not transparent"),
    ("broken SVG", svg_broken, "icons/tassio.svg:"),
]


def run_checker(res):
    return subprocess.run([sys.executable, CHECKER, res], capture_output=True, text=True)


def check_in_process(res):
    """(exit status, stderr) of the checker's main on res, without starting
    another interpreter for each of the many damaged copies."""
    err = io.StringIO()
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(err):
        status = check_art.main([CHECKER, res])
    return status, err.getvalue()


def grid(*lines):
    """Rows of pixels from text: '.' is white, '#' is figure."""
    return [[check_art.WHITE if c == "." else (0, 0, 0) for c in line] for line in lines]


class WhiteRegionsTest(unittest.TestCase):
    def test_enclosed_areas_are_found_with_size_and_first_pixel(self):
        cases = [
            ("no figure", grid("....", "....", "...."), []),
            ("one pinhole", grid("#####", "##.##", "#####"), [(1, (2, 1))]),
            ("white touching the edge is background", grid("#.###", "#.#.#", "#####"), [(1, (3, 1))]),
            ("a U fills in from below: one area",
             grid("#######", "#.#.#.#", "#.#.#.#", "#.....#", "#######"), [(11, (1, 1))]),
            ("diagonal neighbours are not joined",
             grid("#####", "#.###", "##.##", "#####"), [(1, (1, 1)), (1, (2, 2))]),
            ("two areas, in reading order",
             grid("######", "####.#", "#..#.#", "######"), [(2, (4, 1)), (2, (1, 2))]),
            ("reaches the edge through a long way round",
             grid("########", "#......#", "######.#", "#......#", "#.######"), []),
            ("a spiral: one area however it winds",
             grid("########", "#......#", "#.####.#", "#.#..#.#", "#.#.##.#", "#.#....#", "########"),
             [(20, (1, 1))]),
        ]
        for what, rows, expected in cases:
            with self.subTest(what):
                self.assertEqual(list(check_art.white_regions(rows)), expected)


class CheckArtTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="art-check-")
        self.res = os.path.join(self.tmp, "resources")
        shutil.copytree(RESOURCES, self.res)

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_shipped_artwork_passes(self):
        r = run_checker(self.res)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("art: 28 frames at 1x and 2x, about, icons OK", r.stdout)

    def test_each_fault_is_named(self):
        for name, damage, expected in CASES:
            with self.subTest(name):
                shutil.rmtree(self.res)
                shutil.copytree(RESOURCES, self.res)
                damage(self.res)
                status, stderr = check_in_process(self.res)
                self.assertEqual(status, 1, "checker passed a copy with: %s" % name)
                self.assertIn(expected, stderr.replace(os.sep, "/"))


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[-1].startswith("-"):
        RESOURCES = sys.argv.pop()
    unittest.main()
