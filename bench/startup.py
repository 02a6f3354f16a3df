"""Start-up time: from exec to the figure on the screen (its window mapped,
with its picture already in place), under Xvfb with openbox, as the median
of several starts.

usage: /usr/bin/python3 bench/startup.py build/tassio [runs]
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session  # noqa: E402


def main(binary, runs):
    times = []
    with Session() as s:
        program = s.install_program(binary)
        for _ in range(runs):
            with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
                f.write("-1,-1,100,128,64,1,0,1,0,NULL NULL\n")
            s.watch_maps()
            start = time.monotonic()
            proc = s.start(program)
            times.append((s.wait_for_map("Tassio") - start) * 1000)
            s.close_panel()
            proc.wait(timeout=10)
    print(f"exec to the figure on the screen: median {statistics.median(times):.0f} ms, "
          f"best {min(times):.0f} ms, worst {max(times):.0f} ms over {runs} starts")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 7)
