"""Measures, side by side in one Xvfb + openbox session, the program's CPU time
per swing tick against oneko's per animation step, from /proc/PID/task/*/schedstat.

usage: /usr/bin/python3 bench/compare_oneko.py build/tassio [seconds] [runs]

Each run is a fresh session; with several runs the median ratio is printed
last. The 10 ms clock ticks of /proc/PID/stat (utime + stime) are printed too:
over 30 s they count oneko's few milliseconds only roughly.
"""

import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session, rss_kb  # noqa: E402

INTERVAL_MS = 20
ONEKO_INTERVAL_MS = 125  # oneko's default animation period


def cpu_seconds(pid):
    """CPU time of every thread of the process, in nanoseconds from the
    scheduler (utime + stime in /proc/PID/stat count only 10 ms clock ticks)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total / 1e9


def stat_seconds(pid):
    """utime + stime from /proc/PID/stat, in seconds (10 ms resolution)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_mb(pid):
    return rss_kb(pid) / 1024.0


def run_once(binary, seconds):
    oneko = shutil.which("oneko") or "/usr/games/oneko"
    if not os.path.exists(oneko):
        sys.exit("oneko is not installed (Debian package oneko)")
    with Session() as s:
        program = s.install_program(binary)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write(f"-1,-1,{INTERVAL_MS},128,64,1,0,1,0,NULL NULL\n")
        tassio = s.start(program, dict(x.split('=', 1) for x in os.environ.get('TASSIO_BENCH_ENV', '').split() if '=' in x))
        s.find_window("Tassio")
        cat = subprocess.Popen([oneko], env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.procs.append(cat)
        stop = threading.Event()

        def wander():
            # The cat only animates while it chases the pointer.
            import math
            i = 0
            while not stop.is_set():
                i += 1
                x = 512 + int(350 * math.cos(i / 15.0))
                y = 384 + int(250 * math.sin(i / 15.0))
                s.xdotool("mousemove", str(x), str(y), check=False)
                time.sleep(0.05)

        mover = threading.Thread(target=wander)
        mover.start()
        time.sleep(2.0)
        t0 = time.time()
        a0, b0 = cpu_seconds(tassio.pid), cpu_seconds(cat.pid)
        sa0, sb0 = stat_seconds(tassio.pid), stat_seconds(cat.pid)
        time.sleep(seconds)
        a1, b1 = cpu_seconds(tassio.pid), cpu_seconds(cat.pid)
        sa1, sb1 = stat_seconds(tassio.pid), stat_seconds(cat.pid)
        elapsed = time.time() - t0
        rss_t, rss_o = rss_kb(tassio.pid), rss_kb(cat.pid)
        stop.set()
        mover.join()
        s.close_panel()
        tassio.wait(timeout=10)
    ticks = elapsed * 1000 / INTERVAL_MS
    steps = elapsed * 1000 / ONEKO_INTERVAL_MS
    per_tick = (a1 - a0) * 1000 / ticks
    per_step = (b1 - b0) * 1000 / steps
    ratio = per_tick / per_step if per_step else float("inf")
    print(f"{elapsed:.0f} s side by side under Xvfb + openbox")
    print(f"tassio: {per_tick:.3f} ms CPU per tick ({INTERVAL_MS} ms interval), "
          f"{rss_t} kB = {rss_t / 1024:.1f} MiB resident; /proc/PID/stat: {(sa1 - sa0) * 1000 / ticks:.3f} ms")
    print(f"oneko:  {per_step:.3f} ms CPU per step ({ONEKO_INTERVAL_MS} ms interval), "
          f"{rss_o} kB = {rss_o / 1024:.1f} MiB resident; /proc/PID/stat: {(sb1 - sb0) * 1000 / steps:.3f} ms")
    print(f"ratio tassio/oneko per step: {ratio:.2f}")
    return ratio


def main(binary, seconds, runs):
    ratios = sorted(run_once(binary, seconds) for _ in range(runs))
    if runs > 1:
        print(f"median ratio over {runs} runs: {ratios[runs // 2]:.2f} (from {ratios[0]:.2f} to {ratios[-1]:.2f})")


if __name__ == "__main__":
    main(sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 30.0, int(sys.argv[3]) if len(sys.argv) > 3 else 1)
