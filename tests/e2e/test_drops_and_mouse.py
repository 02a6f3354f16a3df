"""Files dropped on the figure, dragging it, and the right click."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Recorder, Session, check, loud_seconds, run_tests, stopped, write_tone  # noqa: E402
from xdnd import drop_files  # noqa: E402

BINARY = sys.argv[1]


def write_settings(program, line):
    with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
        f.write(line + "\n")


def write_bmp(path, w, h, colour):
    from PIL import Image
    Image.new("RGB", (w, h), colour).save(path, "BMP")


def drop_on_figure(s, wid, paths):
    """Drops on the middle of the figure where it is now; at a 200 ms
    interval it is still there when the drop arrives."""
    x, y, w, h = s.window_geometry(wid)
    return drop_files(s.display_name, wid, paths, x + w // 2, y + h // 2)


def windows_named(s, names):
    found = {}
    for name in names:
        out = s.xdotool("search", "--onlyvisible", "--name", "^" + name + "$", check=False)
        if out:
            found[name] = int(out.split()[0])
    return found


def frame_position(s, wid):
    """The top-left of the window's frame: where a window was asked to be."""
    w = s.d.create_resource_object("window", wid)
    while True:
        tree = w.query_tree()
        if tree.parent.id == s.root.id:
            break
        w = tree.parent
    g = w.get_geometry()
    return g.x, g.y


def test_pictures_open_in_cascading_viewers():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        pics = []
        for i, colour in enumerate([(200, 30, 30), (30, 200, 30), (30, 30, 200)]):
            p = os.path.join(s.tmp, f"pic{i}.bmp")
            write_bmp(p, 120, 80, colour)
            pics.append(p)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        check(drop_on_figure(s, wid, pics), "drop not accepted")
        found = s.wait_for(lambda: (lambda f: f if len(f) == 3 else None)(windows_named(s, pics)), 10,
                           f"viewers: {windows_named(s, pics)}")
        positions = sorted(frame_position(s, found[p]) for p in pics)
        check(positions == [(0, 0), (16, 16), (32, 32)], f"viewer frames at {positions}")
        # Each shows its own picture at the top-left of its client area.
        for p, colour in zip(pics, [(200, 30, 30), (30, 200, 30), (30, 30, 200)]):
            s.activate(found[p])

            def shown():
                x, y, _, _ = s.window_geometry(found[p])
                return s.screenshot(x + 10, y + 10, 1, 1).getpixel((0, 0)) == colour
            s.wait_for(shown, 5, f"{os.path.basename(p)} does not show {colour}")
        s.close_panel()
        proc.wait(timeout=10)


def test_dropped_pictures_become_figures():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,1,NULL NULL")
        pics = []
        for i, colour in enumerate([(200, 30, 30), (30, 200, 30), (20, 40, 220)]):
            p = os.path.join(s.tmp, f"fig{i}.bmp")
            write_bmp(p, 40, 40, colour)
            pics.append(p)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        check(drop_on_figure(s, wid, pics), "drop not accepted")
        s.wait_figure_pixels(proc, wid, (20, 40, 220), 3000, "the last dropped picture")
        s.close_panel()
        proc.wait(timeout=10)
        lines = open(os.path.join(os.path.dirname(program), "Tassio.ini")).read().splitlines()
        check(lines[0].split(",")[6] == "6", f"figure index in {lines[0]}")
        check(lines[1:] == [f"{p} {os.path.basename(p)}" for p in pics], f"picture lines {lines[1:]}")


def test_text_files_cascade_and_wrap():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        files = []
        for i in range(8):
            p = os.path.join(s.tmp, f"note{i}.txt")
            with open(p, "w") as f:
                f.write(f"note {i}\n")
            files.append(p)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        check(drop_on_figure(s, wid, files), "drop not accepted")
        found = s.wait_for(lambda: (lambda f: f if len(f) == 8 else None)(windows_named(s, files)), 10,
                           "not all text viewers opened")
        positions = [frame_position(s, found[p]) for p in files]
        check(positions == [(v, v) for v in (0, 16, 32, 48, 64, 80, 96, 0)], f"text viewers at {positions}")
        s.close_panel()
        proc.wait(timeout=10)


def test_dropped_wav_is_played():
    with Session(sound=True) as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        tone = os.path.join(s.tmp, "drop.wav")
        write_tone(tone, 0.5)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        rec = Recorder(s, os.path.join(s.tmp, "drop-rec.wav"))
        check(drop_on_figure(s, wid, [tone]), "drop not accepted")
        # One sound, and a quarter second's silence after it for a second one.
        spans = rec.wait_until(seconds_after_quiet=0.25, sounds=1, loud=0.4)
        rec.stop()
        check(0.4 <= loud_seconds(spans) <= 0.65, f"heard {spans}")
        s.close_panel()
        proc.wait(timeout=10)


def test_drag_moves_the_pivot_and_right_click_restores_the_panel():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        proc = s.start(program)
        wid = s.find_window("Tassio")
        with stopped(proc):
            x, y, w, h = s.window_geometry(wid)
            s.xdotool("mousemove", "--sync", str(x + 40), str(y + 30))
            s.xdotool("mousedown", "1")
        for step in range(1, 11):
            s.xdotool("mousemove", "--sync", str(x + 40 + step * 30), str(y + 30 + step * 20))
        release = (x + 40 + 300, y + 30 + 200)
        s.xdotool("mouseup", "1")
        s.wait_hanging_from(wid, release[0] - 48, release[1] - 48 - 128, 128)
        s.find_window("设定", only_visible=False)
        check(not s.xdotool("search", "--onlyvisible", "--name", "^设定$", check=False), "panel visible at start")
        # Clicked while the program is stopped, so that the figure is where
        # it was read to be, on a pixel every frame covers.
        with stopped(proc):
            gx, gy, _, _ = s.window_geometry(wid)
            s.xdotool("mousemove", str(gx + 47), str(gy + 47))
            s.xdotool("click", "3")
        s.wait_for(lambda: s.xdotool("search", "--onlyvisible", "--name", "^设定$", check=False), 5,
                   "right click did not restore the panel")
        s.close_panel()
        proc.wait(timeout=10)
        line = open(os.path.join(os.path.dirname(program), "Tassio.ini")).read().split(",")
        check((int(line[0]), int(line[1])) == (release[0] - 48, release[1] - 48 - 128),
              f"pivot {line[:2]} after release at {release}")


def test_picture_added_through_the_panel_survives_a_restart():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        folder = os.path.join(s.tmp, "my pictures")
        os.makedirs(folder)
        pic = os.path.join(folder, "dog.bmp")
        colour = (20, 40, 220)
        write_bmp(pic, 50, 30, colour)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        panel = s.find_window("设定", only_visible=False)
        s.activate(panel)
        # "打开图片" sits at (77, 87) + (38, 14) / 2 of the panel's 186 x 157 units.
        px, py, pw, ph = s.wait_settled(panel, "the restored panel")
        s.xdotool("mousemove", str(px + pw * 96 // 186), str(py + ph * 94 // 157))
        s.xdotool("click", "1")
        chooser = s.wait_for(lambda: s.xdotool("search", "--onlyvisible", "--name", "Bitmap|打开|Open",
                                               check=False), 10, "no file chooser")
        s.activate(int(chooser.split()[0]))
        s.xdotool("type", "--delay", "5", pic)
        s.xdotool("key", "Return")
        naming = s.find_window("图片标识符", timeout=10)
        s.activate(naming)
        s.xdotool("type", "--delay", "5", "my dog")
        s.xdotool("key", "Return")
        s.wait_figure_pixels(proc, wid, colour, 2000, "the new picture")
        s.close_panel()
        proc.wait(timeout=10)
        lines = open(os.path.join(os.path.dirname(program), "Tassio.ini")).read().splitlines()
        check(lines[0].split(",")[6] == "4", f"figure index in {lines[0]}")
        check(lines[1:] == [pic.replace(" ", "%20") + " my%20dog"], f"picture lines {lines[1:]}")

        # After a restart the picture is still the figure, still selected.
        proc = s.start(program)
        wid = s.find_window("Tassio")
        s.wait_figure_pixels(proc, wid, colour, 2000, "after a restart, the picture")
        s.close_panel()
        proc.wait(timeout=10)
        again = open(os.path.join(os.path.dirname(program), "Tassio.ini")).read().splitlines()
        check(again[0].split(",")[6] == "4" and again[1:] == lines[1:], f"after restart: {again}")


TESTS = [test_picture_added_through_the_panel_survives_a_restart, test_pictures_open_in_cascading_viewers, test_dropped_pictures_become_figures,
         test_text_files_cascade_and_wrap, test_dropped_wav_is_played,
         test_drag_moves_the_pivot_and_right_click_restores_the_panel]

if __name__ == "__main__":
    run_tests(TESTS)
