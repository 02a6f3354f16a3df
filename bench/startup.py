"""Start-up time: from exec to the first painted figure, under Xvfb with
openbox, as the median of several starts. Measured from outside: the screen is
read where a first run places the figure until it shows a frame of the girl
over the desktop.

usage: /usr/bin/python3 bench/startup.py build/tassio [runs]
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session, load_frames  # noqa: E402


def shows_a_frame(s, x, y, frames):
    """Whether the 95 x 95 square at (x, y) shows one of the frames, white
    being the desktop's pattern."""
    if x < 0 or y < 0 or x + 95 > s.width or y + 95 > s.height:
        return False
    shot = s.screenshot(x, y, 95, 95).load()
    background = s.pattern.load()
    for frame in frames:
        fp = frame.load()
        if all(shot[i, j] == (background[x + i, y + j] if fp[i, j] == (255, 255, 255) else fp[i, j])
               for j in range(0, 95, 3) for i in range(0, 95, 3)):
            return True
    return False


def poll(what, timeout, message):
    """Polls without pausing: the time it returns at is the measurement."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        v = what()
        if v:
            return v
    raise AssertionError(message)


def main(binary, runs):
    times = []
    frames = load_frames(0)
    with Session() as s:
        program = s.install_program(binary)
        for _ in range(runs):
            with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
                f.write("-1,-1,100,128,64,1,0,1,0,NULL NULL\n")
            start = time.monotonic()
            proc = s.start(program)
            # A first run hangs the figure 1.5 string lengths left of the
            # screen's right edge, resting on its bottom edge.
            poll(lambda: shows_a_frame(s, s.width - 192, s.height - 96, frames), 10, "the figure never showed")
            times.append((time.monotonic() - start) * 1000)
            s.close_panel()
            proc.wait(timeout=10)
    print(f"exec to first painted figure: median {statistics.median(times):.0f} ms, "
          f"best {min(times):.0f} ms, worst {max(times):.0f} ms over {runs} starts")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 7)
