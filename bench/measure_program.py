"""Runs the program under Xvfb with openbox at a 20 ms interval and prints its
CPU time per tick and its resident memory, read from /proc.

usage: /usr/bin/python3 bench/measure_program.py build/tassio [seconds]
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session  # noqa: E402
from compare_oneko import cpu_seconds, rss_mb  # noqa: E402

INTERVAL_MS = 20


def measure(binary, seconds, extra_env=None):
    with Session() as s:
        program = s.install_program(binary)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write(f"-1,-1,{INTERVAL_MS},128,64,1,0,1,0,NULL NULL\n")
        proc = s.start(program, extra_env)
        s.find_window("Tassio")
        time.sleep(1.0)  # warm-up
        c0, t0 = cpu_seconds(proc.pid), time.time()
        time.sleep(seconds)
        c1, t1 = cpu_seconds(proc.pid), time.time()
        rss = rss_mb(proc.pid)
        s.close_panel()
        proc.wait(timeout=10)
    ticks = (t1 - t0) * 1000.0 / INTERVAL_MS
    return (c1 - c0) * 1000.0 / ticks, rss, ticks


if __name__ == "__main__":
    binary = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    per_tick, rss, ticks = measure(binary, seconds)
    print(f"interval {INTERVAL_MS} ms, {seconds:.0f} s, about {ticks:.0f} ticks")
    print(f"cpu per tick: {per_tick:.3f} ms")
    print(f"resident memory: {rss:.1f} MB")
