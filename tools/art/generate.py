#!/usr/bin/python3
"""Draws Tassio's built-in artwork from vector shapes and writes it to resources/.

Every picture is made of a few shape kinds (ellipses, capsules, tubes and
Bezier paths), each with a flat fill and a dark outline. A figure frame
rotates the shapes of one drawing about its hanging point, renders them
supersampled and reduces them to 96x96 pixels with an 8-bit palette.

Pure white is the transparent colour of a frame, so the figure itself never
uses it, and silhouette pixels are blended toward the outline colour rather
than toward the white background: blending toward white would leave a pale
fringe around the figure on a dark desktop.

Needs only the standard library and PIL. Output is byte-for-byte the same on
every run: no randomness, no timestamps, a deterministic palette.
"""

import argparse
import math
import os
import re
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFont

FRAME = 96
FRAME_COUNT = 7
FIGURES_2X = "figures-2x"     # the same frames at 192x192, for screens at twice the density
SS = 16                      # supersampling factor per axis for frames
HANG_X = FRAME / 2           # the hanging point sits on the vertical centre line...
HANG_Y = 24.0                # ...at this height in every frame of every figure
MARGIN = 1.5                 # free pixels kept between a figure and the frame edge
COVERAGE_CUT = 128           # pixels covered less than half become background

WHITE = (255, 255, 255)
NEAR_WHITE = (254, 254, 254)  # the brightest colour a figure may use

# One outline colour for everything keeps the four figures in one style.
INK = (58, 36, 46)
OUTLINE = 1.5                # outline width in frame pixels
THIN = 1.0                   # inner detail lines

SKIN = (255, 221, 198)
BLUSH = (255, 148, 160)
EYE = (46, 30, 40)
MOUTH_RED = (226, 84, 96)

GIRL_HAIR = (142, 82, 50)
GIRL_HAIR_LIGHT = (184, 118, 74)
PINK = (255, 112, 168)
PINK_DARK = (232, 78, 142)
CREAM = (255, 244, 232)
BOW_RED = (236, 56, 86)
BOW_DARK = (196, 36, 66)
SHOE_RED = (220, 50, 70)

BOY_HAIR = (86, 56, 42)
BOY_HAIR_LIGHT = (130, 90, 66)
GREEN = (64, 186, 114)
GREEN_DARK = (42, 150, 88)
GREEN_LIGHT = (214, 246, 222)
DENIM = (70, 116, 220)
DENIM_DARK = (50, 90, 186)
SHOE_GREY = (84, 84, 104)
SHOE_LIGHT = (140, 140, 162)

ORANGE = (250, 166, 62)
ORANGE_DARK = (224, 122, 34)
CAT_CREAM = (255, 240, 214)
EAR_PINK = (255, 166, 178)
NOSE_PINK = (246, 112, 132)

GOLD = (248, 190, 54)
GOLD_LIGHT = (255, 228, 132)
GOLD_DARK = (214, 148, 30)
EYE_BLUE = (30, 84, 190)
EYE_BLUE_LIGHT = (92, 148, 232)
SKY_BLUE = (104, 190, 244)
PUPIL = (22, 24, 46)
TASSEL = (226, 54, 78)
TASSEL_DARK = (176, 30, 56)

WOOD = (160, 104, 62)
WOOD_LIGHT = (196, 142, 92)
STRING = (96, 84, 92)

DESK_DARK = (0x1b, 0x2b, 0x4b)   # dark desktop used on the contact sheet

# ---------------------------------------------------------------- geometry

_PATH_TOKEN = re.compile(r"[MLQCZ]|[-+]?(?:\d+\.?\d*|\.\d+)")
_PATH_ARGS = {"M": 1, "L": 1, "Q": 2, "C": 3, "Z": 0}


def parse_path(d):
    """Absolute M/L/Q/C/Z path data -> list of (command, [points])."""
    if re.sub(r"[MLQCZ\d.,+\-\s]", "", d):
        raise ValueError("unsupported path data: %r" % d)
    tokens = _PATH_TOKEN.findall(d)
    segs, i, cmd = [], 0, None
    while i < len(tokens):
        if tokens[i] in _PATH_ARGS:
            cmd = tokens[i]
            i += 1
            if cmd == "Z":
                segs.append(("Z", []))
                continue
        if cmd is None:
            raise ValueError("path data must start with a command: %r" % d)
        n = _PATH_ARGS[cmd]
        nums = [float(t) for t in tokens[i:i + 2 * n]]
        if len(nums) != 2 * n:
            raise ValueError("truncated path data: %r" % d)
        segs.append((cmd, [(nums[2 * j], nums[2 * j + 1]) for j in range(n)]))
        i += 2 * n
        if cmd == "M":
            cmd = "L"           # coordinates after a moveto are linetos
    return segs


def arc(cx, cy, rx, ry, a0, a1, start=False):
    """Path data for an elliptical arc from angle a0 to a1 (degrees, y down),
    as cubic Beziers of at most 90 degrees each."""
    n = max(1, int(math.ceil(abs(a1 - a0) / 90.0)))
    step = math.radians(a1 - a0) / n
    k = 4.0 / 3.0 * math.tan(step / 4.0)
    out = []
    a = math.radians(a0)
    if start:
        out.append("M %.3f %.3f" % (cx + rx * math.cos(a), cy + ry * math.sin(a)))
    for _ in range(n):
        b = a + step
        p1 = (cx + rx * (math.cos(a) - k * math.sin(a)), cy + ry * (math.sin(a) + k * math.cos(a)))
        p2 = (cx + rx * (math.cos(b) + k * math.sin(b)), cy + ry * (math.sin(b) - k * math.cos(b)))
        p3 = (cx + rx * math.cos(b), cy + ry * math.sin(b))
        out.append("C %.3f %.3f %.3f %.3f %.3f %.3f" % (p1 + p2 + p3))
        a = b
    return " ".join(out)


def place(d, dx=0.0, dy=0.0, rot=0.0, sx=1.0):
    """Moves path data: mirror/scale x by sx, rotate by rot degrees, then shift."""
    c, s = math.cos(math.radians(rot)), math.sin(math.radians(rot))
    out = []
    for cmd, pts in parse_path(d):
        out.append(cmd)
        for x, y in pts:
            x *= sx
            out.append("%.3f %.3f" % (x * c - y * s + dx, x * s + y * c + dy))
    return " ".join(out)


def _bezier(p0, ctrl, steps):
    pts = [p0] + ctrl
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        q = pts
        while len(q) > 1:   # de Casteljau
            q = [((1 - t) * a[0] + t * b[0], (1 - t) * a[1] + t * b[1]) for a, b in zip(q, q[1:])]
        out.append(q[0])
    return out


def flatten(segs, steps=20):
    """Path segments -> list of (points, closed) in design units."""
    subs, cur = [], None
    for cmd, pts in segs:
        if cmd == "M":
            if cur and len(cur) > 1:
                subs.append((cur, False))
            cur = [pts[0]]
        elif cmd == "L":
            cur.append(pts[0])
        elif cmd in "QC":
            cur.extend(_bezier(cur[-1], pts, steps))
        elif cmd == "Z":
            subs.append((cur, True))
            cur = [cur[0]]
    if cur and len(cur) > 1:
        subs.append((cur, False))
    return subs


class Shape:
    """One element of a drawing.

    kind: "ellipse" (cx, cy, rx, ry, rot), "path" (path data),
    "capsule" (x1, y1, x2, y2, r: a rounded bar), "tube" (path data, r: an
    open path drawn as a thick rounded stroke with an outline).
    Widths are in frame pixels and scale with the render's stroke scale;
    geometry is in design units and scales with the figure.
    details are drawn clipped to this shape's fill, before its outline.
    """

    def __init__(self, kind, geom, fill=None, stroke=INK, width=OUTLINE, details=(), small=True):
        self.kind, self.geom = kind, geom
        self.fill, self.stroke, self.width = fill, stroke, width
        self.details = list(details)
        self.small = small          # False: left out of tiny icons
        if kind in ("path", "tube"):
            self.segs = parse_path(geom if kind == "path" else geom[0])

    def outline(self):
        """Flattened geometry: list of (points, closed) in design units."""
        if self.kind == "ellipse":
            cx, cy, rx, ry, rot = self.geom
            c, s = math.cos(math.radians(rot)), math.sin(math.radians(rot))
            n = 96
            pts = []
            for i in range(n):
                a = 2 * math.pi * i / n
                x, y = rx * math.cos(a), ry * math.sin(a)
                pts.append((cx + x * c - y * s, cy + x * s + y * c))
            return [(pts, True)]
        if self.kind == "capsule":
            x1, y1, x2, y2, r = self.geom
            a = math.atan2(y2 - y1, x2 - x1)
            pts = []
            for i in range(25):
                t = a + math.pi / 2 + math.pi * i / 24
                pts.append((x1 + r * math.cos(t), y1 + r * math.sin(t)))
            for i in range(25):
                t = a - math.pi / 2 + math.pi * i / 24
                pts.append((x2 + r * math.cos(t), y2 + r * math.sin(t)))
            return [(pts, True)]
        return flatten(self.segs)

    def colours(self):
        out = {c for c in (self.fill, self.stroke) if c is not None}
        for d in self.details:
            out |= d.colours()
        return out


def E(cx, cy, rx, ry=None, fill=None, rot=0.0, **kw):
    return Shape("ellipse", (cx, cy, rx, rx if ry is None else ry, rot), fill, **kw)


def P(d, fill=None, **kw):
    return Shape("path", d, fill, **kw)


def CAP(x1, y1, x2, y2, r, fill, **kw):
    return Shape("capsule", (x1, y1, x2, y2, r), fill, **kw)


def TUBE(d, r, fill, **kw):
    return Shape("tube", (d, r), fill, **kw)


def LINE(d, colour=INK, width=THIN, **kw):
    return Shape("path", d, None, stroke=colour, width=width, **kw)


def walk(shapes):
    for s in shapes:
        yield s
        yield from walk(s.details)


# ---------------------------------------------------------------- drawings
# Design units are roughly frame pixels; the hanging point is (0, 0) and the
# figure hangs down the positive y axis. Each drawing is scaled to the largest
# size at which all seven tilts fit the frame.

def face(eye_y, eye_dx=6.0, mouth_y=None, cheeks=True, eye_rx=2.4, eye_ry=3.0):
    """Eyes with highlights, blush and a small smile, shared by the children."""
    out = []
    for sx in (-1, 1):
        x = sx * eye_dx
        out.append(E(x, eye_y, eye_rx, eye_ry, EYE, stroke=None))
        out.append(E(x - 0.8, eye_y - 1.05, 0.85, 0.85, NEAR_WHITE, stroke=None, small=False))
        out.append(E(x + 0.9, eye_y + 1.1, 0.42, 0.42, NEAR_WHITE, stroke=None, small=False))
        if cheeks:
            out.append(E(sx * (eye_dx + 4.3), eye_y + 4.0, 2.4, 1.45, BLUSH, stroke=None, small=False))
    my = eye_y + 3.9 if mouth_y is None else mouth_y
    out.append(P("M -2.1 %.2f Q 0 %.2f 2.1 %.2f Q 0 %.2f -2.1 %.2f Z"
                 % (my, my + 2.9, my, my + 0.9, my), MOUTH_RED, width=0.9))
    return out


def girl(head_only=False):
    hair = (0.0, 16.2, 16.6, 15.7)          # back of the hair: cx, cy, rx, ry
    dress = ("M -4.6 31.6 C -6.6 31.6 -7.8 33 -8.3 35 L -12 46.2 "
             "Q -12.6 48.6 -10.2 48.9 Q 0 50.6 10.2 48.9 Q 12.6 48.6 12 46.2 "
             "L 8.3 35 C 7.8 33 6.6 31.6 4.6 31.6 Z")
    dots = [E(x, y, 1.05, 1.05, NEAR_WHITE, stroke=None, small=False)
            for x, y in ((-5.5, 39.5), (0.5, 37.6), (5.6, 40.6), (-8.6, 45.2), (-2.6, 43.6),
                         (3.4, 46.4), (8.9, 45.6), (-4.6, 48.4))]
    bangs = (arc(*hair, 164, 376, start=True) +
             " Q 13.6 15.4 11.4 14.2 Q 9.4 17.6 6.2 13.8 Q 4 16.8 1.2 12.4"
             " Q -1.4 17 -5.4 14.2 Q -8.6 17.8 -11.6 14.8 Q -13.8 17 -15.96 20.5 Z")
    loop = "M 0 0 C 1.6 -4.6 6.8 -5.2 7.1 -1.2 C 7.4 2.8 2.8 2.6 0 0 Z"
    bow_at, bow_rot = (9.6, 2.4), 24.0
    bow = [P(place(loop, *bow_at, rot=bow_rot, sx=s), BOW_RED,
             details=[E(bow_at[0] + s * 4.2, bow_at[1] + 1.6, 3.4, 1.6, BOW_DARK, stroke=None,
                        rot=bow_rot)])
           for s in (-1, 1)]
    bow.append(E(bow_at[0], bow_at[1], 1.7, 1.6, BOW_DARK, rot=bow_rot))
    back = []
    for s in (-1, 1):
        back.append(E(s * 15.3, 22.8, 5.6, 6.6, GIRL_HAIR, rot=s * -12,
                      details=[E(s * 17.0, 20.6, 1.3, 2.6, GIRL_HAIR_LIGHT, stroke=None,
                                 rot=s * -20, small=False)]))
        back.append(E(s * 12.6, 17.6, 1.9, 1.9, BOW_RED))
    body = []
    for s in (-1, 1):
        body.append(CAP(s * 3.9, 46, s * 4.1, 54.4, 1.95, SKIN))
        body.append(E(s * 5.0, 55.9, 3.1, 2.2, SHOE_RED, rot=s * 8,
                      details=[E(s * 4.4, 54.9, 1.2, 0.65, (255, 140, 150), stroke=None,
                                 small=False)]))
    for s in (-1, 1):
        body.append(CAP(s * 7.6, 35.6, s * 14.2, 43.6, 1.9, SKIN))
    body.append(P(dress, PINK, details=dots + [E(0, 53.4, 16, 4.6, PINK_DARK, stroke=None)]))
    body.append(P("M -4.8 31.7 Q -3.6 35.8 0 34.2 Q 3.6 35.8 4.8 31.7 Z", CREAM, width=1.1))
    for s in (-1, 1):
        body.append(E(s * 7.7, 34.9, 3.2, 2.8, PINK, rot=s * 30))
    head = [E(*hair, GIRL_HAIR), E(0, 20.6, 13.9, 12.4, SKIN),
            P(bangs, GIRL_HAIR,
              details=[LINE("M -10.6 7.4 Q -6 3.4 -1.4 3.4", GIRL_HAIR_LIGHT, 1.7, small=False)])]
    head += face(22.6) + bow
    return back + head if head_only else back + body + head


def boy():
    hair = (0.0, 17.0, 16.3, 15.6)
    shirt = ("M -4.8 31.4 C -7.4 31.4 -9 33 -9.2 36 L -9.4 43.8 Q 0 46 9.4 43.8 "
             "L 9.2 36 C 9 33 7.4 31.4 4.8 31.4 Z")
    shorts = ("M -8.6 42.6 L -9.6 49 Q -5.4 50.4 -1 49.2 L 0 46.6 L 1 49.2 "
              "Q 5.4 50.4 9.6 49 L 8.6 42.6 Z")
    fringe = (arc(*hair, 168, 372, start=True) +
              " Q 14 16 12.4 13.6 L 10.2 16.4 L 8.6 12.4 L 5.6 15.6 L 4.4 11.4"
              " L 0.8 14.8 L -0.8 10.8 L -4.4 14.6 L -6.2 11.2 L -8.8 15.4"
              " L -10.6 12.4 Q -13.4 15.4 -15.94 20.2 Z")
    shapes = []
    for s in (-1, 1):
        shapes.append(CAP(s * 3.9, 46, s * 4.1, 53.2, 1.95, SKIN))
        shapes.append(CAP(s * 4.05, 52.2, s * 4.1, 53.6, 2.05, CREAM, width=1.1))
        shapes.append(E(s * 5.0, 56.0, 3.2, 2.2, SHOE_GREY, rot=s * 8,
                        details=[E(s * 4.3, 55.0, 1.3, 0.65, SHOE_LIGHT, stroke=None, small=False)]))
    for s in (-1, 1):
        shapes.append(CAP(s * 8.2, 36.2, s * 14.4, 43.6, 1.95, SKIN))
    shapes.append(P(shorts, DENIM, details=[
        P("M -10 47.6 Q 0 49.6 10 47.6 L 10 52 L -10 52 Z", DENIM_DARK, stroke=None)]))
    shapes.append(P(shirt, GREEN, details=[
        P("M -10 38.2 L 10 38.2 L 10 40.2 L -10 40.2 Z", GREEN_LIGHT, stroke=None),
        P("M -10 42.4 Q 0 44.4 10 42.4 L 10 46 L -10 46 Z", GREEN_DARK, stroke=None)]))
    shapes.append(P("M -3.6 31.6 L 0 35.2 L 3.6 31.6 Z", SKIN, width=1.1))
    for s in (-1, 1):
        shapes.append(E(s * 8.4, 35.0, 3.6, 3.1, GREEN, rot=s * 35))
    for s in (-1, 1):
        shapes.append(E(s * 14.2, 22.0, 2.6, 3.2, SKIN,
                        details=[E(s * 14.6, 22.2, 1.0, 1.6, BLUSH, stroke=None, small=False)]))
    shapes.append(E(0, 20.8, 14.0, 12.4, SKIN))
    cowlick = "M -2.6 2.2 C -2.6 -1.2 1.6 -2.8 4.6 -1.4 C 2 -1 0.6 0.6 1.4 2.6 Z"
    shapes.append(P(cowlick, BOY_HAIR))
    shapes.append(P(fringe, BOY_HAIR,
                    details=[LINE("M -10.2 7.4 Q -6 3.8 -1.6 3.8", BOY_HAIR_LIGHT, 1.7, small=False)]))
    shapes += face(22.8)
    return shapes


def cat():
    head = (0.0, 17.0, 17.2, 14.0)
    body = ("M -8.2 28 C -12.6 31.6 -13.6 42 -12.2 48.6 Q -11.2 53.8 -6 53.8 "
            "L 6 53.8 Q 11.2 53.8 12.2 48.6 C 13.6 42 12.6 31.6 8.2 28 Z")
    ear = "M -16.4 10.6 Q -16.6 0.4 -13.2 -2.6 Q -9.4 -2.6 -3.8 4.2 Z"
    inner = "M -13.4 7.4 Q -13.8 2 -12.6 0.2 Q -10.2 1 -7.6 4.6 Z"
    tail = "M 6 51.2 C 14.4 52.6 19.4 48.6 19.2 43 C 19 39.4 19.8 37 22 35.8"
    shapes = [TUBE(tail, 2.3, ORANGE)]
    shapes.append(TUBE("M 19.3 40.2 C 19.4 38.2 20.2 36.6 22 35.8", 2.3, ORANGE_DARK, stroke=None))
    shapes.append(P(body, ORANGE, details=[
        E(0, 43.4, 7.0, 10.4, CAT_CREAM, stroke=None),
        LINE("M -13 36 Q -10.6 36.8 -9.6 38.4", ORANGE_DARK, 1.3),
        LINE("M 13 36 Q 10.6 36.8 9.6 38.4", ORANGE_DARK, 1.3)]))
    for s in (-1, 1):
        shapes.append(E(s * 9.6, 48.6, 4.5, 5.1, ORANGE, rot=s * -10,
                        details=[LINE(place("M -13.6 46.4 Q -11.4 46.4 -10.2 47.8", sx=s),
                                      ORANGE_DARK, 1.2, small=False)]))
    for s in (-1, 1):
        shapes.append(E(s * 3.7, 52.6, 3.2, 2.5, CAT_CREAM))
        shapes.append(LINE(place("M -3.6 51.4 L -3.6 53.2", sx=s), INK, 0.8, small=False))
    for s in (-1, 1):
        shapes.append(P(place(ear, sx=s), ORANGE,
                        details=[P(place(inner, sx=s), EAR_PINK, stroke=None)]))
    stripes = [LINE("M 0 3.4 L 0 7.6", ORANGE_DARK, 1.5),
               LINE("M -3.8 3.6 Q -3.2 5.6 -3.2 7.2", ORANGE_DARK, 1.4),
               LINE("M 3.8 3.6 Q 3.2 5.6 3.2 7.2", ORANGE_DARK, 1.4),
               LINE("M -17.6 15 L -13.6 16", ORANGE_DARK, 1.4),
               LINE("M 17.6 15 L 13.6 16", ORANGE_DARK, 1.4),
               E(-3.0, 24.0, 3.6, 2.9, CAT_CREAM, stroke=None),
               E(3.0, 24.0, 3.6, 2.9, CAT_CREAM, stroke=None)]
    shapes.append(E(*head, ORANGE, details=stripes))
    for s in (-1, 1):
        x = s * 7.0
        shapes.append(E(x, 18.8, 2.5, 3.0, EYE, stroke=None))
        shapes.append(E(x - 0.8, 17.8, 1.05, 1.05, NEAR_WHITE, stroke=None, small=False))
        shapes.append(E(x + 0.85, 19.9, 0.5, 0.5, NEAR_WHITE, stroke=None, small=False))
        shapes.append(E(s * 11.6, 23.2, 2.3, 1.4, BLUSH, stroke=None, small=False))
    shapes.append(P("M -1.5 21.7 L 1.5 21.7 Q 1.4 22.9 0 23.3 Q -1.4 22.9 -1.5 21.7 Z", NOSE_PINK, width=0.7))
    shapes.append(LINE("M -3 24.4 Q -1.5 26.2 0 24.2 Q 1.5 26.2 3 24.4", INK, 0.8))
    for s in (-1, 1):
        shapes.append(LINE(place("M -11.8 21.4 L -19.8 20.2", sx=s), INK, 0.95, small=False))
        shapes.append(LINE(place("M -11.8 23.4 L -19.6 24.2", sx=s), INK, 0.95, small=False))
    return shapes


def amulet():
    c, r = 31.0, 20.6                         # the disc: centre height and radius
    shapes = [E(0, 3.8, 3.6, 3.6, GOLD), E(0, 3.8, 1.4, 1.5, INK, stroke=None)]
    shapes.append(P("M -3 7.2 L 3 7.2 L 4.6 %.1f L -4.6 %.1f Z" % (c - r + 2.4, c - r + 2.4), GOLD,
                    details=[LINE("M -1.5 8 L -2.1 11.6", GOLD_LIGHT, 1.0, small=False)]))
    shapes.append(P("M -3.0 51 L 3.0 51 L 3.6 55.2 L -3.6 55.2 Z", GOLD))
    shapes.append(P("M -2.8 54.8 L 2.8 54.8 L 3.9 61.2 Q 0 62.6 -3.9 61.2 Z", TASSEL, details=[
        LINE("M -1.1 55.8 L -1.8 61.6", TASSEL_DARK, 0.9),
        LINE("M 1.1 55.8 L 1.8 61.6", TASSEL_DARK, 0.9)]))
    shapes.append(CAP(-3.4, 55.0, 3.4, 55.0, 1.0, GOLD_DARK, width=1.0))
    shapes.append(E(0, c, r, r, GOLD, details=[
        LINE(arc(0, c, r - 1.8, r - 1.8, 200, 250, start=True), GOLD_LIGHT, 1.6, small=False)]))
    shapes.append(E(0, c, r - 3.4, r - 3.4, EYE_BLUE, width=1.2, details=[
        LINE(arc(0, c, r - 6.0, r - 6.0, 195, 260, start=True), EYE_BLUE_LIGHT, 2.0, small=False)]))
    shapes.append(E(0, c, 11.6, 11.6, NEAR_WHITE, width=1.1))
    shapes.append(E(0, c, 7.8, 7.8, SKY_BLUE, width=1.0))
    shapes.append(E(0, c, 4.1, 4.1, PUPIL, stroke=None))
    shapes.append(E(-1.8, c - 2.0, 1.4, 1.4, NEAR_WHITE, stroke=None, small=False))
    shapes.append(E(1.7, c + 1.9, 0.6, 0.6, NEAR_WHITE, stroke=None, small=False))
    return shapes


FIGURES = [("girl", girl), ("boy", boy), ("cat", cat), ("amulet", amulet)]


def tilt_degrees(k):
    return 45.0 - 15.0 * k


# ---------------------------------------------------------------- rendering

class Xf:
    """Design units -> supersampled pixels: rotate by tilt degrees about the
    origin (positive tilt swings the feet to the right, so the top leans to
    the upper left), scale, then move the origin to (ox, oy) output pixels."""

    def __init__(self, tilt, scale, ox, oy, ss, stroke_scale=1.0):
        self.c, self.s = math.cos(math.radians(tilt)), math.sin(math.radians(tilt))
        self.scale, self.ox, self.oy, self.ss = scale, ox, oy, ss
        self.stroke_scale = stroke_scale

    def rotated(self, x, y):
        return (x * self.c + y * self.s, -x * self.s + y * self.c)

    def __call__(self, x, y):
        u, v = self.rotated(x, y)
        return ((self.ox + u * self.scale) * self.ss, (self.oy + v * self.scale) * self.ss)

    def width(self, w):
        """Outline width in frame pixels -> supersampled pixels."""
        return w * self.stroke_scale * self.ss


def _stroke(draw, pts, closed, width, colour):
    w = max(1, int(round(width)))
    seq = pts + pts[:2] if closed else pts
    draw.line(seq, fill=colour, width=w, joint="curve")
    if not closed:
        r = width / 2.0
        for x, y in (pts[0], pts[-1]):
            draw.ellipse((x - r, y - r, x + r, y + r), fill=colour)


class Canvas:
    """Supersampled colour plane over black plus a coverage plane, so that a
    box reduction gives premultiplied colour and coverage per pixel."""

    def __init__(self, w, h, ss):
        self.w, self.h, self.ss = w, h, ss
        self.col = Image.new("RGB", (w * ss, h * ss), (0, 0, 0))
        self.cov = Image.new("L", (w * ss, h * ss), 0)

    def _paint(self, fn, colour, clip):
        if clip is None:
            fn(ImageDraw.Draw(self.col), colour)
            fn(ImageDraw.Draw(self.cov), 255)
            return
        m = Image.new("L", self.cov.size, 0)
        fn(ImageDraw.Draw(m), 255)
        m = ImageChops.multiply(m, clip)
        self.col.paste(colour, None, m)
        self.cov.paste(255, None, m)

    def _mask(self, polys, clip):
        m = Image.new("L", self.cov.size, 0)
        d = ImageDraw.Draw(m)
        for pts, _ in polys:
            d.polygon(pts, fill=255)
        return m if clip is None else ImageChops.multiply(m, clip)

    def draw(self, shapes, xf, small=False, clip=None):
        for sh in shapes:
            if small and not sh.small:
                continue
            polys = [([xf(x, y) for x, y in pts], closed) for pts, closed in sh.outline()]
            if sh.kind == "tube":
                r = sh.geom[1] * xf.scale * xf.ss
                pts = polys[0][0]
                if sh.stroke is not None:
                    w = 2 * r + xf.width(sh.width)
                    self._paint(lambda d, c: _stroke(d, pts, False, w, c), sh.stroke, clip)
                self._paint(lambda d, c: _stroke(d, pts, False, 2 * r, c), sh.fill, clip)
                continue
            if sh.fill is not None:
                self._paint(lambda d, c: [d.polygon(p, fill=c) for p, _ in polys], sh.fill, clip)
                if sh.details:
                    self.draw(sh.details, xf, small, self._mask(polys, clip))
            if sh.stroke is not None and sh.width > 0:
                w = xf.width(sh.width)
                self._paint(lambda d, c: [_stroke(d, p, cl, w, c) for p, cl in polys],
                            sh.stroke, clip)

    def reduce(self):
        """-> (premultiplied RGB pixels, coverage pixels) at output size."""
        return list(self.col.reduce(self.ss).getdata()), list(self.cov.reduce(self.ss).getdata())


def fit_scale(shapes, hang_x, hang_y, size, tilts, margin):
    """Largest scale at which every tilt of the drawing stays inside the frame,
    allowing for the outline that sticks out of the geometry. Details are
    clipped to their parent, so only top-level shapes count."""
    pts = []
    for s in shapes:
        extra = s.geom[1] if s.kind == "tube" else 0.0     # a tube is as thick as its radius
        pts += [(x, y, extra) for poly, _ in s.outline() for x, y in poly]
    pad = margin + OUTLINE / 2.0
    best = float("inf")
    for t in tilts:
        xf = Xf(t, 1.0, 0, 0, 1)
        for x, y, extra in pts:
            u, v = xf.rotated(x, y)
            for val, room in ((u, size - pad - hang_x), (-u, hang_x - pad),
                              (v, size - pad - hang_y), (-v, hang_y - pad)):
                if val + extra > 1e-9:
                    best = min(best, room / (val + extra))
    return best


def frame_pixels(shapes, tilt, scale, art_scale=1):
    """One frame of FRAME * art_scale pixels square as RGB tuples; pure white
    outside the figure. Every art scale draws the same geometry, outlines
    included, at art_scale times the size, so a 2x frame is the 1x frame at
    twice the resolution (for screens with two device pixels to a pixel)."""
    size, ss = FRAME * art_scale, SS // art_scale
    cv = Canvas(size, size, ss)
    cv.draw(shapes, Xf(tilt, scale * art_scale, HANG_X * art_scale, HANG_Y * art_scale, ss, art_scale))
    col, cov = cv.reduce()
    out = []
    for (r, g, b), a in zip(col, cov):
        if a < COVERAGE_CUT:
            out.append(WHITE)
            continue
        t = 255 - a           # the uncovered part takes the outline colour, not white
        px = (min(255, r + (INK[0] * t + 127) // 255), min(255, g + (INK[1] * t + 127) // 255),
              min(255, b + (INK[2] * t + 127) // 255))
        out.append(NEAR_WHITE if px == WHITE else px)
    return out


def render_rgba(items, w, h, ss):
    """items: list of (shapes, Xf, small). -> RGBA image, straight alpha."""
    cv = Canvas(w, h, ss)
    for shapes, xf, small in items:
        cv.draw(shapes, xf, small)
    col, cov = cv.reduce()
    out = []
    for (r, g, b), a in zip(col, cov):
        if a == 0:
            out.append((0, 0, 0, 0))
        else:
            out.append((min(255, (r * 255 + a // 2) // a), min(255, (g * 255 + a // 2) // a),
                        min(255, (b * 255 + a // 2) // a), a))
    im = Image.new("RGBA", (w, h))
    im.putdata(out)
    return im


# ---------------------------------------------------------------- palette and BMP

def make_palette(pixel_lists, base_colours, transparent_white):
    """Up to 256 colours: white first when it means transparent, then every
    colour the drawing names (so flat areas and highlights keep their exact
    colour), then a median-cut selection of the blended edge colours."""
    fixed = [WHITE] if transparent_white else []
    for c in sorted(base_colours):
        if c not in fixed and not (transparent_white and c == WHITE):
            fixed.append(c)
    seen = [p for px in pixel_lists for p in px if not (transparent_white and p == WHITE)]
    room = 256 - len(fixed)
    strip = Image.new("RGB", (len(seen), 1))
    strip.putdata(seen)
    q = strip.quantize(colors=room, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    flat = q.getpalette()[:3 * room]
    extra = []
    for i in range(0, len(flat), 3):
        c = tuple(flat[i:i + 3])
        if transparent_white and c == WHITE:
            c = NEAR_WHITE
        if c not in fixed and c not in extra:
            extra.append(c)
    return (fixed + extra)[:256]


def map_to_palette(pixels, palette, transparent_white):
    """Nearest palette entry per pixel; white maps to entry 0 and nothing else does."""
    cache = {}
    first = 1 if transparent_white else 0
    cand = list(enumerate(palette))[first:]
    out = []
    for p in pixels:
        if transparent_white and p == WHITE:
            out.append(0)
            continue
        i = cache.get(p)
        if i is None:
            r, g, b = p
            i = min(cand, key=lambda e: ((e[1][0] - r) ** 2 * 3 + (e[1][1] - g) ** 2 * 4
                                         + (e[1][2] - b) ** 2 * 2, e[0]))[0]
            cache[p] = i
        out.append(i)
    return out


def bmp8_bytes(w, h, palette, indices):
    """Windows BMP: 14-byte file header, BITMAPINFOHEADER, 256-entry colour
    table, 8 bits per pixel, uncompressed, rows bottom-up."""
    pal = list(palette) + [(0, 0, 0)] * (256 - len(palette))
    row = (w + 3) & ~3
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in pal)
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        pixels += bytes(indices[y * w:(y + 1) * w]) + b"\0" * (row - w)
    off = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    head = struct.pack("<2sIHHI", b"BM", off + len(pixels), 0, 0, off)
    return head + info + table + bytes(pixels)


def write_file(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def png_bytes(im):
    import io
    buf = io.BytesIO()
    im.save(buf, "PNG", optimize=False, compress_level=9)  # PIL writes no time chunk
    return buf.getvalue()


# ---------------------------------------------------------------- outputs

def figure_frames(art_scale=1):
    """-> list of (name, scale, [7 frames of RGB pixels], palette colours).
    The scale is fitted to the 96-pixel frame at every art scale, so all art
    scales show one drawing."""
    out = []
    tilts = [tilt_degrees(k) for k in range(FRAME_COUNT)]
    for name, fn in FIGURES:
        shapes = fn()
        scale = fit_scale(shapes, HANG_X, HANG_Y, FRAME, tilts, MARGIN)
        frames = [frame_pixels(shapes, t, scale, art_scale) for t in tilts]
        base = {c for s in walk(shapes) for c in s.colours()}
        out.append((name, scale, frames, base))
    return out


def sky(w, h):
    top, bottom = (126, 190, 246), (232, 244, 255)
    rows = []
    for y in range(h):
        t = y / (h - 1)
        c = tuple(int(round(a + (b - a) * t)) for a, b in zip(top, bottom))
        rows.extend([c] * w)
    return rows


def about_picture():
    """200x122: the four figures hanging from a wooden bar under a soft sky."""
    w, h, ss = 200, 122, 8
    cloud_col = (250, 252, 255)
    clouds = [E(x, y, rx, ry, cloud_col, stroke=None) for x, y, rx, ry in (
        (30, 104, 22, 9), (50, 98, 16, 10), (70, 108, 20, 7), (150, 102, 24, 9),
        (172, 96, 15, 9), (186, 108, 18, 7), (108, 116, 30, 8), (100, 80, 8, 3.2),
        (107, 78, 6, 3.8), (114, 81, 7, 2.8), (190, 62, 7, 2.6), (196, 60, 6, 3.4))]
    cv = Canvas(w, h, ss)
    cv.draw(clouds, Xf(0, 1, 0, 0, ss))
    ccol, ccov = cv.reduce()
    bg = []
    for s, (r, g, b), a in zip(sky(w, h), ccol, ccov):
        bg.append(tuple(int(round(c + (s_ * (255 - a)) / 255.0)) for c, s_ in zip((r, g, b), s)))

    bar_y = 9.0
    size = 0.8
    # x of the string, height of the hanging point, tilt: a still moment of a swing.
    hangs = [(31, 26.0, 6.0), (78, 33.0, -4.0), (124, 22.0, 5.0), (170, 29.0, -7.0)]
    strings = []
    for x, hy, _ in hangs:
        strings.append(LINE("M %.2f %.2f L %.2f %.2f" % (x, bar_y + 2, x, hy + 0.5), STRING, 0.9))
        strings.append(E(x, bar_y + 2.2, 1.5, 1.5, GOLD, width=0.9))
    items = [([CAP(8, bar_y, 192, bar_y, 3.2, WOOD, width=1.3, details=[
        LINE("M 8 7.8 L 192 7.8", WOOD_LIGHT, 1.2)])] + strings, Xf(0, 1, 0, 0, ss), False)]
    for (name, fn), (x, hy, tilt) in zip(FIGURES, hangs):
        items.append((fn(), Xf(tilt, size, x, hy, ss, size), False))
    cv = Canvas(w, h, ss)
    for shapes, xf, small in items:
        cv.draw(shapes, xf, small)
    col, cov = cv.reduce()
    pixels = []
    for (r, g, b), a, back in zip(col, cov, bg):
        t = 255 - a
        pixels.append(tuple(min(255, c + (k * t + 127) // 255) for c, k in zip((r, g, b), back)))
    return w, h, pixels


ICON_SIZES = (16, 32, 48, 256)
ICON_TILT = 8.0
ICON_GIRL_SCALE = 3.2               # on the 256 grid
ICON_HANG = (128.0, 44.0)
ICON_HEAD_ONLY_BELOW = 32           # smaller icons show just the girl's face


def icon_bar():
    """The little bar and string the icon's girl hangs from, on a 256 grid."""
    return [CAP(60, 18, 196, 18, 8.5, WOOD, width=OUTLINE * 2.4,
                details=[LINE("M 60 14.4 L 196 14.4", WOOD_LIGHT, OUTLINE * 1.8, small=False)]),
            LINE("M 128 22 L %s %s" % (_fmt(ICON_HANG[0]), _fmt(ICON_HANG[1])), STRING, OUTLINE * 1.6),
            E(128, 25, 4.4, 4.4, GOLD, width=OUTLINE * 1.6)]


def fit_box(shapes, size, margin):
    """Scale and origin that centre the upright drawing in a size x size square."""
    pts = [p for s in shapes for poly, _ in s.outline() for p in poly]
    x0, x1 = min(p[0] for p in pts), max(p[0] for p in pts)
    y0, y1 = min(p[1] for p in pts), max(p[1] for p in pts)
    scale = (size - 2 * margin) / max(x1 - x0, y1 - y0)
    return scale, size / 2.0 - scale * (x0 + x1) / 2.0, size / 2.0 - scale * (y0 + y1) / 2.0


def icon_image(size):
    ss = 8 if size >= 128 else 16
    if size < ICON_HEAD_ONLY_BELOW:
        shapes = girl(head_only=True)
        scale, ox, oy = fit_box(shapes, size, 0.75)
        return render_rgba([(shapes, Xf(0, scale, ox, oy, ss, max(scale, 1.0 / OUTLINE)), True)],
                           size, size, ss)
    u = size / 256.0
    girl_scale = ICON_GIRL_SCALE * u
    # Outlines follow the picture's scale but never get thinner than a pixel.
    stroke_scale = max(girl_scale, 1.0 / OUTLINE)
    bar_stroke = max(u, 1.0 / (OUTLINE * 2.4))
    small = size < 48
    items = [(icon_bar(), Xf(0, u, 0, 0, ss, bar_stroke), small),
             (girl(), Xf(ICON_TILT, girl_scale, ICON_HANG[0] * u, ICON_HANG[1] * u, ss, stroke_scale), small)]
    return render_rgba(items, size, size, ss)


# ---------------------------------------------------------------- SVG

def _fmt(v):
    s = "%.2f" % v
    s = s.rstrip("0").rstrip(".")
    return "0" if s in ("-0", "") else s


def _hex(c):
    return "#%02x%02x%02x" % c


def _path_d(segs):
    out = []
    for cmd, pts in segs:
        out.append(cmd + " ".join("%s %s" % (_fmt(x), _fmt(y)) for x, y in pts))
    return " ".join(out)


def _svg_geom(sh):
    """-> (element name, attribute text) for the shape's outline."""
    if sh.kind == "ellipse":
        cx, cy, rx, ry, rot = sh.geom
        if rx == ry:
            return "circle", 'cx="%s" cy="%s" r="%s"' % (_fmt(cx), _fmt(cy), _fmt(rx))
        tr = ' transform="rotate(%s %s %s)"' % (_fmt(rot), _fmt(cx), _fmt(cy)) if rot else ""
        return "ellipse", 'cx="%s" cy="%s" rx="%s" ry="%s"%s' % (_fmt(cx), _fmt(cy), _fmt(rx), _fmt(ry), tr)
    if sh.kind == "capsule":
        x1, y1, x2, y2, r = sh.geom
        a = math.atan2(y2 - y1, x2 - x1)
        nx, ny = -math.sin(a) * r, math.cos(a) * r
        d = "M%s %s L%s %s A%s %s 0 0 0 %s %s L%s %s A%s %s 0 0 0 %s %s Z" % tuple(_fmt(v) for v in (
            x1 + nx, y1 + ny, x2 + nx, y2 + ny, r, r, x2 - nx, y2 - ny,
            x1 - nx, y1 - ny, r, r, x1 + nx, y1 + ny))
        return "path", 'd="%s"' % d
    return "path", 'd="%s"' % _path_d(sh.segs)


class SvgWriter:
    def __init__(self):
        self.defs, self.body, self.clip_ids = [], [], 0

    def shapes(self, shapes, unit, indent, small=False):
        """unit: design units per frame pixel of outline width."""
        pad = "  " * indent
        for sh in shapes:
            if small and not sh.small:
                continue
            if sh.kind == "tube":
                d, r = sh.geom
                common = 'd="%s" fill="none" stroke-linecap="round" stroke-linejoin="round"' % _path_d(sh.segs)
                if sh.stroke is not None:
                    self.body.append('%s<path %s stroke="%s" stroke-width="%s"/>' % (
                        pad, common, _hex(sh.stroke), _fmt(2 * r + sh.width * unit)))
                self.body.append('%s<path %s stroke="%s" stroke-width="%s"/>' % (
                    pad, common, _hex(sh.fill), _fmt(2 * r)))
                continue
            tag, geom = _svg_geom(sh)
            fill = _hex(sh.fill) if sh.fill is not None else "none"
            stroke = ""
            if sh.stroke is not None and sh.width > 0:
                stroke = ' stroke="%s" stroke-width="%s" stroke-linejoin="round" stroke-linecap="round"' % (
                    _hex(sh.stroke), _fmt(sh.width * unit))
            if sh.details and sh.fill is not None:
                self.clip_ids += 1
                cid = "c%d" % self.clip_ids
                self.defs.append('    <clipPath id="%s"><%s %s/></clipPath>' % (cid, tag, geom))
                self.body.append('%s<%s %s fill="%s"/>' % (pad, tag, geom, fill))
                self.body.append('%s<g clip-path="url(#%s)">' % (pad, cid))
                self.shapes(sh.details, unit, indent + 1, small)
                self.body.append("%s</g>" % pad)
                if stroke:
                    self.body.append('%s<%s %s fill="none"%s/>' % (pad, tag, geom, stroke))
            else:
                self.body.append('%s<%s %s fill="%s"%s/>' % (pad, tag, geom, fill, stroke))


def icon_svg():
    """The 256-pixel icon as SVG, written from the same shapes as the PNGs."""
    w = SvgWriter()
    w.body.append('  <g id="bar">')
    w.shapes(icon_bar(), 1.0, 2)
    w.body.append("  </g>")
    # SVG rotates clockwise for positive angles; a positive tilt here is counter-clockwise.
    w.body.append('  <g id="girl" transform="translate(%s %s) rotate(%s) scale(%s)">'
                  % (_fmt(ICON_HANG[0]), _fmt(ICON_HANG[1]), _fmt(-ICON_TILT), _fmt(ICON_GIRL_SCALE)))
    w.shapes(girl(), 1.0, 2)
    w.body.append("  </g>")
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
           "  <title>Tassio</title>", "  <defs>"] + w.defs + ["  </defs>"] + w.body + ["</svg>", ""]
    return "\n".join(out).encode("utf-8")


# ---------------------------------------------------------------- contact sheet

def contact_sheet(out_dir, path, scales):
    font = ImageFont.load_default()
    zoom, cell, label_w = 2, FRAME * 2 + 8, 96
    names = [n for n, _ in FIGURES]
    rows = len(names) * 2
    about = Image.open(os.path.join(out_dir, "about.bmp")).convert("RGB")
    icons = [Image.open(os.path.join(out_dir, "icons", "tassio-%d.png" % s)).convert("RGBA")
             for s in ICON_SIZES]
    bottom = 24 + max(about.height * zoom, 256 + 2 * 48 + 24)
    sheet = Image.new("RGB", (label_w + cell * FRAME_COUNT + 8, 28 + rows * cell + bottom), (236, 236, 236))
    d = ImageDraw.Draw(sheet)
    d.text((8, 8), "Tassio built-in artwork, %dx zoom; pure white shown as transparent" % zoom,
           fill=(0, 0, 0), font=font)
    for f, name in enumerate(names):
        for dark in (0, 1):
            y = 28 + (2 * f + dark) * cell
            d.text((8, y + 8), name, fill=(0, 0, 0), font=font)
            d.text((8, y + 22), "over dark" if dark else "over white", fill=(80, 80, 80), font=font)
            d.text((8, y + 36), "scale %.3f" % scales[f], fill=(80, 80, 80), font=font)
            for k in range(FRAME_COUNT):
                fr = Image.open(os.path.join(out_dir, "figures", "%02d.bmp" % (10 * f + k + 1))).convert("RGB")
                bg = DESK_DARK if dark else WHITE
                px = [bg if p == WHITE else p for p in fr.getdata()]
                fr.putdata(px)
                x = label_w + k * cell
                d.rectangle((x + 3, y + 3, x + 4 + FRAME * zoom, y + 4 + FRAME * zoom), outline=(180, 180, 180))
                sheet.paste(fr.resize((FRAME * zoom, FRAME * zoom), Image.NEAREST), (x + 4, y + 4))
                if f == 0 and dark == 0:
                    d.text((x + 6, y + 6), "%+d" % tilt_degrees(k), fill=(120, 120, 120), font=font)
    y = 28 + rows * cell + 8
    d.text((8, y), "about.bmp 200x122", fill=(0, 0, 0), font=font)
    sheet.paste(about.resize((about.width * zoom, about.height * zoom), Image.NEAREST), (8, y + 14))
    x = 8 + about.width * zoom + 16
    for dark in (0, 1):
        bgc = DESK_DARK if dark else WHITE
        xx, yy = x, y + 14 + dark * (256 + 24)
        for im in reversed(icons):
            if im.width == 256 and dark:
                continue
            tile = Image.new("RGB", im.size, bgc)
            tile.paste(im, (0, 0), im)
            sheet.paste(tile, (xx, yy))
            d.text((xx, yy - 12), "icon %d" % im.width, fill=(0, 0, 0), font=font)
            xx += max(im.width, 48) + 12
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    sheet.save(path, "PNG")


# ---------------------------------------------------------------- main

def main(argv=None):
    ap = argparse.ArgumentParser(description="Draw Tassio's built-in figures, about picture and icons.")
    ap.add_argument("--out", default="resources", help="resource folder to write (default: resources)")
    ap.add_argument("--sheet", default="build/art/contact-sheet.png",
                    help="contact sheet PNG to write (default: build/art/contact-sheet.png)")
    args = ap.parse_args(argv)

    written = []
    scales = []
    for f, (name, scale, frames, base) in enumerate(figure_frames()):
        scales.append(scale)
        palette = make_palette(frames, base | {INK}, True)
        for k, px in enumerate(frames):
            path = os.path.join(args.out, "figures", "%02d.bmp" % (10 * f + k + 1))
            write_file(path, bmp8_bytes(FRAME, FRAME, palette, map_to_palette(px, palette, True)))
            written.append(path)
    for f, (name, scale, frames, base) in enumerate(figure_frames(2)):
        palette = make_palette(frames, base | {INK}, True)
        for k, px in enumerate(frames):
            path = os.path.join(args.out, FIGURES_2X, "%02d.bmp" % (10 * f + k + 1))
            write_file(path, bmp8_bytes(2 * FRAME, 2 * FRAME, palette, map_to_palette(px, palette, True)))
            written.append(path)

    w, h, px = about_picture()
    palette = make_palette([px], set(), False)
    path = os.path.join(args.out, "about.bmp")
    write_file(path, bmp8_bytes(w, h, palette, map_to_palette(px, palette, False)))
    written.append(path)

    for size in ICON_SIZES:
        path = os.path.join(args.out, "icons", "tassio-%d.png" % size)
        write_file(path, png_bytes(icon_image(size)))
        written.append(path)
    path = os.path.join(args.out, "icons", "tassio.svg")
    write_file(path, icon_svg())
    written.append(path)

    if args.sheet:
        contact_sheet(args.out, args.sheet, scales)
    print("art: wrote %d files to %s (figure scales %s)%s" % (
        len(written), args.out, ", ".join("%.3f" % s for s in scales),
        "; contact sheet " + args.sheet if args.sheet else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
