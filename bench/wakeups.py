"""Wake-ups per second of the program and of those it shares the desktop with,
with the default 100 ms period: swinging, with the X screen saver on
(`xset s activate`), and under a screen locker (i3lock). A wake-up is a
voluntary context switch of any thread, from /proc/PID/task/*/status. Each
case runs in a fresh Xvfb + openbox session; the figure is kept on top, as by
default.

usage: /usr/bin/python3 bench/wakeups.py build/tassio [seconds] [runs]
"""

import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session, wakeup_rates  # noqa: E402

CASES = ("swinging", "screen saver on", "under i3lock")


def measure(binary, case, seconds):
    """(program, X server, locker) wake-ups per second; the locker's is None
    where none runs."""
    with Session() as s:
        program = s.install_program(binary)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write("-1,-1,100,128,64,1,0,1,0,NULL NULL\n")
        proc = s.start(program)
        s.find_window("Tassio")
        locker = None
        if case == "screen saver on":
            subprocess.run(["xset", "s", "activate"], env=s.env, check=True)
        elif case == "under i3lock":
            locker = subprocess.Popen(["i3lock", "-n", "-c", "203040"], env=s.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            s.procs.append(locker)
            s.find_window("i3lock", only_visible=True)
        time.sleep(2.0)  # start-up, and whatever the change set off, out of the way
        pids = [proc.pid, s.procs[0].pid] + ([locker.pid] if locker else [])
        rates = wakeup_rates(pids, seconds)
        if locker:
            locker.kill()
            locker.wait()
        proc.kill()
        proc.wait()
    return rates[0], rates[1], rates[2] if locker else None


def span(values):
    values = sorted(values)
    return f"{values[0]:.1f}" if values[0] == values[-1] or len(values) == 1 else f"{values[0]:.1f}-{values[-1]:.1f}"


def main():
    binary = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    if not shutil.which("i3lock"):
        print("wakeups: i3lock is not installed; the locker case is left out")
    print(f"Wake-ups per second, 100 ms period, {seconds:.0f} s per run, {runs} runs, fresh Xvfb + openbox each")
    print(f"{'':<18} {'program':>10} {'X server':>10} {'i3lock':>10}")
    for case in CASES:
        if case == "under i3lock" and not shutil.which("i3lock"):
            continue
        results = [measure(binary, case, seconds) for _ in range(runs)]
        locker = span([r[2] for r in results]) if results[0][2] is not None else ""
        print(f"{case:<18} {span([r[0] for r in results]):>10} {span([r[1] for r in results]):>10} {locker:>10}")


if __name__ == "__main__":
    main()
