#!/usr/bin/python3
"""Checks the built-in artwork in a resource folder.

Usage: check_art.py RESOURCE_DIR

Frames (figures/NN.bmp, 28 of them, and the same at 192x192 in
figures-2x/NN.bmp) must be plain 8-bit Windows bitmaps of 96x96 (192x192)
that the program's own loader reads, and must composite cleanly: pure
white is the transparent colour, so the figure may not contain pure white
(it would show the desktop through), may not have a pale fringe around it
(it would glow on a dark desktop), and must not be clipped by the frame.
A 2x frame must show the same drawing as its 1x frame.
Also checks about.bmp and the icons. Exits 1 and names every fault found.
"""

import os
import struct
import sys
import xml.etree.ElementTree as ET
from itertools import groupby

FRAME = 96
FIGURES = ("girl", "boy", "cat", "amulet")
FRAME_COUNT = 7
ABOUT_SIZE = (200, 122)
ICON_SIZES = (16, 32, 48, 256)
WHITE = (255, 255, 255)
NEAR_WHITE_MIN = 0xF0
PINHOLE_MAX = 4          # enclosed white areas up to this size are reported as pinholes
MIN_FIGURE_PIXELS = 600  # a frame with less than this is as good as empty
AREA_TOLERANCE = 0.08    # rotating one drawing changes its area by little more than rounding
FIGURES_2X = "figures-2x"  # the same frames at 192x192
SIZE_PAIR_TOLERANCE = 0.08  # share of figure pixels whose 1x and 2x coverage may disagree (the rim)


class ArtError(Exception):
    pass


def frame_ids():
    """(figure index, frame index, resource id) for every built-in frame."""
    return [(f, k, 10 * f + k + 1) for f in range(len(FIGURES)) for k in range(FRAME_COUNT)]


def read_bmp8(path, want_w, want_h):
    """Reads an uncompressed bottom-up 8-bit BMP with a 40-byte header.
    Returns rows of RGB tuples, top row first."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise ArtError("cannot read: %s" % e.strerror)
    if len(data) < 54:
        raise ArtError("too short for the BMP headers (%d bytes)" % len(data))
    sig, size, _r1, _r2, off = struct.unpack_from("<2sIHHI", data, 0)
    (hsize, w, h, planes, bpp, comp, img_size, _xres, _yres,
     used, _important) = struct.unpack_from("<IiiHHIIiiII", data, 14)
    if sig != b"BM":
        raise ArtError("signature is %r, not BM" % sig)
    if hsize != 40:
        raise ArtError("info header is %d bytes, not 40" % hsize)
    if bpp != 8:
        raise ArtError("%d bits per pixel, not 8" % bpp)
    if comp != 0:
        raise ArtError("compression %d, not BI_RGB" % comp)
    if planes != 1:
        raise ArtError("%d planes, not 1" % planes)
    if h < 0:
        raise ArtError("rows are stored top-down (negative height)")
    if (w, h) != (want_w, want_h):
        raise ArtError("size %dx%d, not %dx%d" % (w, h, want_w, want_h))
    colours = used if used else 256
    if colours > 256:
        raise ArtError("%d colours in the table, more than 256" % colours)
    row = (w * 8 + 31) // 32 * 4
    if off != 14 + 40 + 4 * colours:
        raise ArtError("pixel offset %d, but headers and colour table end at %d"
                       % (off, 14 + 40 + 4 * colours))
    if img_size not in (0, row * h):
        raise ArtError("image size field %d, pixels take %d" % (img_size, row * h))
    if len(data) < off + row * h:
        raise ArtError("truncated: %d bytes, pixels need %d" % (len(data), off + row * h))
    if size != len(data):
        raise ArtError("file size field %d, file has %d bytes" % (size, len(data)))
    table = []
    for i in range(colours):
        b, g, r, _ = struct.unpack_from("<BBBB", data, 54 + 4 * i)
        table.append((r, g, b))
    rows = []
    for y in range(h):
        start = off + (h - 1 - y) * row          # bottom-up: the last stored row is the top
        line = data[start:start + w]
        if max(line) >= colours:
            raise ArtError("row %d uses colour index %d, table has %d" % (y, max(line), colours))
        rows.append([table[i] for i in line])
    return rows


def white_runs(row):
    """[start, end) of each stretch of pure white in one row."""
    runs, x = [], 0
    for white, group in groupby(row, WHITE.__eq__):
        n = len(list(group))
        if white:
            runs.append((x, x + n))
        x += n
    return runs


def white_regions(rows):
    """Connected (4-neighbour) areas of pure white that do not reach the border.
    Yields (size, (x, y) of the first pixel), in reading order.
    Works on runs of white rather than pixels: a frame has a few runs a row,
    and thousands of white pixels."""
    h, w = len(rows), len(rows[0])
    parent = []

    def find(i):
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i

    runs = []  # (y, start, end) of every run, in reading order
    above = []  # (start, end, run number) of the row before
    for y, row in enumerate(rows):
        here = []
        for start, end in white_runs(row):
            n = len(runs)
            runs.append((y, start, end))
            parent.append(n)
            for a_start, a_end, a in above:
                if a_start < end and start < a_end:  # share at least one column
                    ra, rn = find(a), find(n)
                    if ra != rn:
                        parent[max(ra, rn)] = min(ra, rn)
            here.append((start, end, n))
        above = here
    regions = {}
    for n, (y, start, end) in enumerate(runs):
        r = find(n)
        size, border = regions.get(r, (0, False))
        regions[r] = (size + end - start, border or y in (0, h - 1) or start == 0 or end == w)
    # A region's root is its lowest-numbered run, the first in reading order.
    for r in sorted(regions):
        size, border = regions[r]
        if not border:
            y, start, _ = runs[r]
            yield size, (start, y)


def frame_problems(rows, min_figure_pixels=MIN_FIGURE_PIXELS):
    """Faults of one decoded frame, as readable strings."""
    problems = []
    h, w = len(rows), len(rows[0])
    edge = [(x, 0) for x in range(w)] + [(x, h - 1) for x in range(w)] + \
           [(0, y) for y in range(h)] + [(w - 1, y) for y in range(h)]
    clipped = [(x, y) for x, y in edge if rows[y][x] != WHITE]
    if clipped:
        corners = [p for p in ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)) if p in clipped]
        what = "corner not white" if corners else "figure touches the frame edge"
        problems.append("%s at %s (%d edge pixels not white)" % (what, clipped[0], len(clipped)))
    figure = sum(len(r) - r.count(WHITE) for r in rows)
    if figure < min_figure_pixels:
        problems.append("only %d figure pixels: frame is (nearly) empty" % figure)
    for size, at in white_regions(rows):
        if size <= PINHOLE_MAX:
            problems.append("pinhole of %d px at %s" % (size, at))
        else:
            problems.append("white inside figure: %d px enclosed at %s" % (size, at))
    # Only rows holding a pale colour are looked at pixel by pixel.
    pale = {p for r in rows for p in set(r) if p != WHITE and min(p) >= NEAR_WHITE_MIN}
    for y in range(h):
        if pale.isdisjoint(rows[y]):
            continue
        for x in range(w):
            p = rows[y][x]
            if p not in pale:
                continue
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    nx, ny = x + dx, y + dy
                    if 0 <= nx < w and 0 <= ny < h and rows[ny][nx] == WHITE:
                        problems.append("near-white fringe pixel #%02x%02x%02x at (%d, %d) "
                                        "touches the transparent background" % (p + (x, y)))
                        break
                else:
                    continue
                break
    return problems


def figure_set_problems(name, frames):
    """Checks across the seven frames of one figure: the same drawing at the
    same size, tilted the right way (frame 0 leans its head to the upper left,
    so the body swings out to the right of the hanging point)."""
    problems = []
    areas, centres = [], []
    for rows in frames:
        xs = [x for r in rows for x, p in enumerate(r) if p != WHITE]
        areas.append(len(xs))
        centres.append(sum(xs) / max(1, len(xs)))
    mean = sum(areas) / len(areas)
    for k, a in enumerate(areas):
        if mean and abs(a - mean) > AREA_TOLERANCE * mean:
            problems.append("%s frame %d has %d figure pixels, the set averages %d: "
                            "frames are not one drawing at one size" % (name, k, a, mean))
    for k in range(FRAME_COUNT - 1):
        if centres[k] <= centres[k + 1]:
            problems.append("%s frames %d and %d: the figure does not swing from right to left "
                            "(centre x %.1f then %.1f); frame 0 must lean its head to the upper left"
                            % (name, k, k + 1, centres[k], centres[k + 1]))
    return problems


def read_frames(res, folder, size):
    """-> (problems, {resource id: rows}) for one folder of frames."""
    problems, frames = [], {}
    for f, k, rid in frame_ids():
        rel = os.path.join(folder, "%02d.bmp" % rid)
        try:
            rows = read_bmp8(os.path.join(res, rel), size, size)
        except ArtError as e:
            problems.append("%s: %s" % (rel, e))
            continue
        problems += ["%s: %s" % (rel, p) for p in frame_problems(rows, MIN_FIGURE_PIXELS * (size // FRAME) ** 2)]
        frames[rid] = rows
    for f, name in enumerate(FIGURES):
        ids = [10 * f + k + 1 for k in range(FRAME_COUNT)]
        if all(i in frames for i in ids):
            label = name if size == FRAME else "%s (%s)" % (name, folder)
            problems += figure_set_problems(label, [frames[i] for i in ids])
    return problems, frames


def size_pair_problems(rid, small, large):
    """The 2x frame must be the 1x frame's drawing: each 1x pixel's 2x2 block
    is figure where the 1x pixel is, but for the anti-aliased rim."""
    differ = 0
    figure = 0
    for y in range(FRAME):
        top = [p != WHITE for p in large[2 * y]]
        bottom = [p != WHITE for p in large[2 * y + 1]]
        for x, p in enumerate(small[y]):
            covered = top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]
            here = p != WHITE
            figure += here
            if here != (covered >= 2):
                differ += 1
    if figure and differ > SIZE_PAIR_TOLERANCE * figure:
        return ["%s/%02d.bmp: %d of %d figure pixels differ from figures/%02d.bmp: "
                "not the same drawing at twice the size" % (FIGURES_2X, rid, differ, figure, rid)]
    return []


def check_frames(res):
    problems, small = read_frames(res, "figures", FRAME)
    more, large = read_frames(res, FIGURES_2X, 2 * FRAME)
    problems += more
    for rid in sorted(set(small) & set(large)):
        problems += size_pair_problems(rid, small[rid], large[rid])
    return problems


def check_about(res):
    try:
        read_bmp8(os.path.join(res, "about.bmp"), *ABOUT_SIZE)
    except ArtError as e:
        return ["about.bmp: %s" % e]
    return []


def check_icons(res):
    try:
        from PIL import Image
    except ImportError:
        return ["icons: PIL is needed to read the PNG icons (Debian package python3-pil)"]
    problems = []
    for size in ICON_SIZES:
        rel = os.path.join("icons", "tassio-%d.png" % size)
        try:
            im = Image.open(os.path.join(res, rel))
            im.load()
        except (OSError, ValueError) as e:
            problems.append("%s: cannot read: %s" % (rel, e))
            continue
        if im.format != "PNG" or im.mode != "RGBA":
            problems.append("%s: %s %s, not an RGBA PNG" % (rel, im.format, im.mode))
            continue
        if im.size != (size, size):
            problems.append("%s: size %dx%d, not %dx%d" % ((rel,) + im.size + (size, size)))
            continue
        alpha = im.getchannel("A")
        corners = [alpha.getpixel(p) for p in ((0, 0), (size - 1, 0), (0, size - 1), (size - 1, size - 1))]
        if any(corners):
            problems.append("%s: corners are not transparent" % rel)
        opaque = sum(1 for a in alpha.getdata() if a >= 128)
        if opaque < size * size // 8:
            problems.append("%s: only %d opaque pixels, the picture is (nearly) empty" % (rel, opaque))
    rel = os.path.join("icons", "tassio.svg")
    try:
        root = ET.parse(os.path.join(res, rel)).getroot()
        if root.tag != "{http://www.w3.org/2000/svg}svg":
            problems.append("%s: root element is %s, not svg" % (rel, root.tag))
        elif not root.get("viewBox"):
            problems.append("%s: no viewBox" % rel)
        elif len(list(root.iter())) < 10:
            problems.append("%s: almost nothing drawn" % rel)
    except (OSError, ET.ParseError) as e:
        problems.append("%s: %s" % (rel, e))
    return problems


def main(argv):
    if len(argv) != 2:
        print("usage: check_art.py RESOURCE_DIR", file=sys.stderr)
        return 2
    res = argv[1]
    problems = check_frames(res) + check_about(res) + check_icons(res)
    if problems:
        for p in problems:
            print("art: FAIL %s" % p, file=sys.stderr)
        print("art: %d problem(s) in %s" % (len(problems), res), file=sys.stderr)
        return 1
    print("art: %d frames at 1x and 2x, about, icons OK" % len(frame_ids()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
