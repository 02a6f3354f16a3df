"""Sounds at start and exit, the order of shutdown, and staying on top."""

import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Recorder, Session, check, loud_seconds, run_tests, write_tone  # noqa: E402

BINARY = sys.argv[1]


def write_settings(program, line):
    with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
        f.write(line + "\n")




def test_start_and_exit_sounds():
    with Session(sound=True) as s:
        program = s.install_program(BINARY)
        tone = os.path.join(s.tmp, "ding.wav")
        write_tone(tone, 0.8)
        write_settings(program, f"-1,-1,100,128,64,1,0,1,0,{tone} NULL")
        rec = Recorder(s, os.path.join(s.tmp, "start.wav"))
        proc = s.start(program)
        wid = s.find_window("Tassio")
        # One sound, and half a second's silence after it for a second one.
        spans = rec.wait_until(seconds_after_quiet=0.5, sounds=1, loud=0.7)
        rec.stop()
        check(0.7 <= loud_seconds(spans) <= 0.95, f"start sound heard as {spans}, expected one 0.8 s tone")

        rec = Recorder(s, os.path.join(s.tmp, "exit.wav"))
        s.activate(s.find_window("设定", only_visible=False))
        # Timed from before the key is sent: a busy machine may keep xdotool
        # from returning until well after the program has the key.
        pressed = time.time()
        s.xdotool("key", "Escape")
        # The figure stays until the exit sound has ended.
        s.wait_for(lambda: not s.is_viewable(wid), 10, "figure never disappeared", every=0.005)
        gone = time.time()
        proc.wait(timeout=10)
        spans = rec.stop()
        check(0.7 <= loud_seconds(spans) <= 0.95, f"exit sound heard as {spans}, expected one whole 0.8 s tone")
        check(gone - pressed >= 0.75, f"figure disappeared {gone - pressed:.2f} s after Esc, before the sound ended")
        mtime = os.stat(os.path.join(os.path.dirname(program), "Tassio.ini")).st_mtime
        check(mtime >= gone - 0.05, "settings written before the figure disappeared")


def figure_visible(s, wid, cover_colour):
    x, y, w, h = s.window_geometry(wid)
    shot = s.screenshot(max(x, 0), max(y, 0), w, h).load()
    return sum(1 for yy in range(h) for xx in range(w) if shot[xx, yy] != cover_colour)


def stacking_run(on_top):
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, f"300,200,100,128,64,{1 if on_top else 0},0,1,0,NULL NULL")
        proc = s.start(program)
        wid = s.find_window("Tassio")
        screen = s.d.screen()
        colour = (0x20, 0x80, 0x20)
        cover = s.root.create_window(0, 0, s.width, s.height, 0, screen.root_depth,
                                     background_pixel=0x208020)
        cover.set_wm_name("cover")
        cover.map()
        s.d.sync()
        cid = s.find_window("cover")
        s.activate(cid)
        if on_top:
            # A few ticks: a figure kept on top has been raised again by then.
            s.wait_ticks(wid, 3, 10)
        else:
            # Covered, it sleeps until it can be seen again.
            s.wait_asleep(proc, "the covered figure")
        os.kill(proc.pid, signal.SIGSTOP)
        try:
            s.settled_screenshot()
            visible = figure_visible(s, wid, colour)
        finally:
            os.kill(proc.pid, signal.SIGCONT)
        cover.destroy()
        s.d.sync()
        # Uncovered, it swings on.
        s.wait_ticks(wid, 3, 10)
        s.close_panel()
        proc.wait(timeout=10)
        return visible


def test_always_on_top_stays_above_an_active_window():
    visible = stacking_run(True)
    check(visible > 500, f"only {visible} figure pixels visible over the active window")


def test_without_always_on_top_the_window_covers_the_figure():
    visible = stacking_run(False)
    check(visible == 0, f"{visible} figure pixels still visible")


TESTS = [test_start_and_exit_sounds, test_always_on_top_stays_above_an_active_window,
         test_without_always_on_top_the_window_covers_the_figure]

if __name__ == "__main__":
    run_tests(TESTS)
