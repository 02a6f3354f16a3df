"""Drops of names in any encoding, drops offered as moves, and special files
dropped on the figure: every drop is finished, answered as a copy, and opens
the file by its bytes."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, check, run_tests  # noqa: E402
from xdnd import drop  # noqa: E402

BINARY = sys.argv[1]
COPY, MOVE = "XdndActionCopy", "XdndActionMove"
GBK_NAME = b"\xce\xc4\xd7\xd6.bmp"  # "文字.bmp" in GBK: not UTF-8


def write_settings(program, line):
    with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
        f.write(line + "\n")


def write_bmp(path, w, h, colour):
    from PIL import Image
    Image.new("RGB", (w, h), colour).save(path, "BMP")


def drop_on_figure(s, wid, paths, **kw):
    x, y, w, h = s.window_geometry(wid)
    return drop(s.display_name, wid, paths, x + w // 2, y + h // 2, **kw)


def window_matching(s, pattern):
    out = s.xdotool("search", "--onlyvisible", "--name", pattern, check=False)
    return int(out.split()[0]) if out else None


def windows_named_tassio(s):
    # xdotool matches without regard to case: the figure window ("Tassio")
    # is counted too, and a message box would be captioned "tassio".
    out = s.xdotool("search", "--onlyvisible", "--name", "^tassio$", check=False)
    return len(out.split()) if out else 0


def close_panel(s):
    """Viewers that come up take the focus of their own accord; the panel is
    fetched again if one took it back before the Esc."""
    for attempt in range(3):
        try:
            s.close_panel()
            return
        except AssertionError:
            if attempt == 2:
                raise
            time.sleep(0.5)


def dark_pixels(s, wid):
    x, y, w, h = s.window_geometry(wid)
    shot = s.screenshot(x, y, min(w, 300), min(h, 120)).load()
    return sum(1 for yy in range(min(h, 120)) for xx in range(min(w, 300)) if sum(shot[xx, yy]) < 250)


def test_names_in_any_encoding_open_and_moves_are_answered_as_copies():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        tmp = s.tmp.encode()
        latin = tmp + b"/caf\xe9.txt"  # Latin-1
        with open(latin, "wb") as f:
            f.write(b"A file whose name is Latin-1\n" * 6)
        picture = tmp + b"/" + GBK_NAME
        write_bmp(picture, 60, 40, (30, 160, 60))
        proc = s.start(program)
        wid = s.find_window("Tassio")
        named_before = windows_named_tassio(s)

        # A file manager offers copy and move and proposes a move (Shift held).
        r = drop_on_figure(s, wid, [latin, picture], action=MOVE, offered=[COPY, MOVE])
        check(r.finished and r.accepted, f"drop not finished: {r}")
        check(r.action == COPY, f"the drop was reported as {r.action}")
        check(os.path.exists(latin) and os.path.exists(picture), "a dropped file is gone")

        text = s.wait_for(lambda: window_matching(s, r"caf.*\.txt$"), 10, "no text viewer for caf\\xe9.txt")
        s.wait_for(lambda: dark_pixels(s, text) > 100, 5, "the Latin-1 named file shows no text")
        viewer = s.wait_for(lambda: window_matching(s, r"\.bmp$"), 10, "no picture viewer for the GBK name")
        s.activate(viewer)

        def viewer_pixel():
            x, y, _, _ = s.window_geometry(viewer)
            return s.screenshot(x + 10, y + 10, 1, 1).getpixel((0, 0))
        s.wait_for(lambda: viewer_pixel() == (30, 160, 60), 5, lambda: f"the GBK named picture shows {viewer_pixel()}")
        check(windows_named_tassio(s) == named_before, "a message box came up (Not Exist File!!)")

        # A source that allows only a move is refused: the program cannot
        # honour a move, and must not say it did one.
        r = drop_on_figure(s, wid, [latin], action=MOVE)
        check(r.answered and r.action != MOVE, f"a move-only drop: {r}")
        # An ordinary copy is still a copy.
        r = drop_on_figure(s, wid, [latin], action=COPY)
        check(r.finished and r.action == COPY, f"a copy was reported as {r}")
        # Its viewer comes up and takes the focus; only then is the panel fetched.
        viewers = s.wait_for(lambda: [int(v) for v in s.xdotool("search", "--onlyvisible", "--name", r"caf.*\.txt$",
                                                                 check=False).split() if int(v) != text], 10,
                             "no second text viewer")
        s.wait_active(viewers[0])
        close_panel(s)
        proc.wait(timeout=10)


def test_dropped_picture_with_a_gbk_name_becomes_the_figure_and_is_saved_by_its_bytes():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,1,NULL NULL")
        picture = s.tmp.encode() + b"/" + GBK_NAME
        colour = (20, 40, 220)
        write_bmp(picture, 40, 40, colour)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        r = drop_on_figure(s, wid, [picture], action=MOVE, offered=[MOVE, COPY])
        check(r.finished and r.action == COPY, f"drop: {r}")
        s.wait_figure_pixels(proc, wid, colour, 1000, "the GBK named picture")
        close_panel(s)
        proc.wait(timeout=10)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "rb") as f:
            lines = f.read().splitlines()
        check(lines[1:] == [picture + b" " + GBK_NAME], f"picture lines {lines[1:]}")

        # Read back by its bytes: after a restart it is the figure again.
        proc = s.start(program)
        wid = s.find_window("Tassio")
        s.wait_figure_pixels(proc, wid, colour, 1000, "after a restart, the picture")
        close_panel(s)
        proc.wait(timeout=10)


def test_a_fifo_named_doc_does_not_freeze_the_program():
    with Session() as s:
        program = s.install_program(BINARY)
        # A text program is set, so a .doc has its first byte looked at.
        write_settings(program, "300,100,100,128,64,1,0,1,0,NULL /bin/true")
        fifo = os.path.join(s.tmp, "letter.doc")
        os.mkfifo(fifo)
        note = os.path.join(s.tmp, "after.txt")
        with open(note, "w") as f:
            f.write("after the FIFO\n" * 6)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        r = drop_on_figure(s, wid, [fifo], action=COPY)
        check(r.finished and r.action == COPY, f"the drop of a FIFO never finished: {r}")
        # Nothing waits on it: it opens as an empty text viewer, the figure
        # swings on and the next drop is served.
        s.wait_for(lambda: window_matching(s, r"letter\.doc$"), 10, "no viewer for the FIFO")
        places = set()
        end = time.time() + 1.5
        while time.time() < end:
            places.add(s.window_geometry(wid)[:2])
            time.sleep(0.05)
        check(len(places) > 3, f"the figure stood still: {places}")
        r = drop_on_figure(s, wid, [note], action=COPY)
        check(r.finished and r.action == COPY, f"the next drop: {r}")
        text = s.wait_for(lambda: window_matching(s, r"after\.txt$"), 10, "no viewer for the next drop")
        s.wait_for(lambda: dark_pixels(s, text) > 100, 5, "the next file shows no text")
        close_panel(s)
        proc.wait(timeout=10)


def test_documents_named_in_latin1_and_gbk_reach_the_text_program_byte_for_byte():
    with Session() as s:
        program = s.install_program(BINARY)
        tmp = s.tmp.encode()
        # A stand-in text program: writes its arguments' bytes, one file per
        # run, so that two drops are two records.
        stand_in = os.path.join(s.tmp, "writer")
        records = os.path.join(s.tmp, "records")
        os.mkdir(records)
        with open(stand_in, "w") as f:
            f.write("#!/bin/sh\n"
                    f'printf "%s\\n" "$#" "$@" > "{records}/.$$" && mv "{records}/.$$" "{records}/$$"\n')
        os.chmod(stand_in, 0o755)
        write_settings(program, f"300,100,200,128,64,1,0,1,0,NULL {stand_in}")
        names = [tmp + b"/lettre \xe0 Ren\xe9e.doc",       # Latin-1
                 tmp + b"/\xce\xc4\xd7\xd6\xb8\xe5.doc"]   # GBK: "文字稿"
        for name in names:
            with open(name, "wb") as f:
                f.write(b"\xd0\xcf\x11\xe0" + b"\0" * 508)  # a compound document's first bytes
        proc = s.start(program)
        wid = s.find_window("Tassio")
        for name in names:
            r = drop_on_figure(s, wid, [name], action=COPY)
            check(r.finished and r.action == COPY, f"drop: {r}")

        def received():
            found = []
            for entry in sorted(os.listdir(records)):
                if not entry.startswith("."):
                    with open(os.path.join(records, entry), "rb") as f:
                        found.append(f.read())
            return found if len(found) == len(names) else None
        got = s.wait_for(received, 10, lambda: f"the text program ran {len(os.listdir(records))} of 2 times: "
                                               f"{[open(os.path.join(records, e), 'rb').read() for e in os.listdir(records)]}")
        wanted = sorted(b"1\n" + name + b"\n" for name in names)
        check(sorted(got) == wanted, f"the text program got {sorted(got)}, wanted {wanted}")
        check(windows_named_tassio(s) == 1, "a viewer or a message came up instead")
        close_panel(s)
        proc.wait(timeout=10)


TESTS = [test_names_in_any_encoding_open_and_moves_are_answered_as_copies,
         test_documents_named_in_latin1_and_gbk_reach_the_text_program_byte_for_byte,
         test_dropped_picture_with_a_gbk_name_becomes_the_figure_and_is_saved_by_its_bytes,
         test_a_fifo_named_doc_does_not_freeze_the_program]

if __name__ == "__main__":
    run_tests(TESTS)
