"""The screen shrinks under the program, as when a monitor is unplugged or a
laptop undocked: the figure and the panel come back onto it at once. Runs on
Xorg's dummy driver, whose mode xrandr can change; reports itself skipped
when that server cannot run here."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, check, run_tests  # noqa: E402

BINARY = sys.argv[1]


def visible_windows(s, name):
    out = s.xdotool("search", "--onlyvisible", "--name", f"^{name}$", check=False)
    return [int(w) for w in out.split()] if out else []


def inside(rect, width, height):
    x, y, w, h = rect
    return x >= 0 and y >= 0 and x + w <= width and y + h <= height


def raise_panel_by_a_second_start(s, program):
    second = s.start(program)
    second.wait(timeout=15)
    check(second.returncode == 0, f"a second start ended with status {second.returncode}")
    panel = s.wait_for(lambda: visible_windows(s, "设定"), 10, "the second start did not bring the panel up")[0]
    return panel, s.wait_settled(panel, "the panel")


def test_the_screen_shrinks_while_the_figure_swings():
    with Session(server="xorg") as s:
        program = s.install_program(BINARY)
        # No settings file: the first run hangs the figure at the bottom right.
        proc = s.start(program)
        fig = s.find_window("Tassio")
        s.wait_ticks(fig, 3, 10)
        check(s.window_geometry(fig)[0] > 640, f"the figure should start right of 640: {s.window_geometry(fig)}")
        panel, before = raise_panel_by_a_second_start(s, program)
        check(inside(before, 1024, 768) and before[0] + before[2] > 640, f"the panel at {before}")

        s.set_mode(640, 480)
        s.wait_for(lambda: inside(s.window_geometry(fig), 640, 480), 5,
                   lambda: f"the figure stayed off the 640 x 480 screen at {s.window_geometry(fig)}")
        s.wait_for(lambda: inside(s.window_geometry(panel), 640, 480), 5,
                   lambda: f"the panel stayed off the 640 x 480 screen at {s.window_geometry(panel)}")
        s.wait_ticks(fig, 5, 10)
        check(inside(s.window_geometry(fig), 640, 480), f"the figure swings off the screen: {s.window_geometry(fig)}")
        s.settled_screenshot().save(os.path.join(os.environ.get("TASSIO_SHOTS", s.tmp), "screen-shrunk.png"))

        # Minimised, then brought up by another start: on the screen.
        s.xdotool("windowminimize", "--sync", str(panel))
        s.wait_for(lambda: not visible_windows(s, "设定"), 5, "the panel did not minimise")
        panel, again = raise_panel_by_a_second_start(s, program)
        check(inside(again, 640, 480), f"the raised panel is at {again}, off the 640 x 480 screen")
        check(len(visible_windows(s, "Tassio")) == 1, "a second figure appeared")

        s.close_panel()
        proc.wait(timeout=15)
        check(proc.returncode == 0, f"exit status {proc.returncode}")
        with open(os.path.join(os.path.dirname(program), "Tassio.ini")) as f:
            first = f.readline().split(",")
        # The first-run place of 640 x 480 with length 128.
        check((int(first[0]), int(first[1])) == (448, 256), f"saved pivot {first[:2]}, wanted (448, 256)")


TESTS = [test_the_screen_shrinks_while_the_figure_swings]

if __name__ == "__main__":
    run_tests(TESTS)
