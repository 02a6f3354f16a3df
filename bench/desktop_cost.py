"""What the swinging figure costs the whole desktop: CPU per 20 ms tick of the
program's threads + the X server + the window manager (+ the compositing
manager when one runs), from /proc/PID/task/*/schedstat, each program alone in
a fresh Xvfb + openbox session. Side by side: bare_swing, the least an X11
program can do to swing a shaped 95 x 96 window, and oneko per animation step.

With --compositor picom every session runs picom too (the figure is then an
ARGB window), and bare_swing also runs with --resize, changing its height at
every move as the figure window once did. With --before OLD, an older build of
the program runs in every round as well, so that before and after are measured
alike, beside the same bare_swing.

usage: /usr/bin/python3 bench/desktop_cost.py build/tassio build/bench/bare_swing [seconds] [runs]
           [--compositor picom] [--before OLD_BUILD/tassio]
"""

import argparse
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session, rss_kb, start_compositor  # noqa: E402

INTERVAL_MS = 20
ONEKO_INTERVAL_MS = 125


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


def measure(start, seconds, compositor=None, period_ms=INTERVAL_MS, while_running=None):
    """Starts a subject in a fresh session; returns ms of CPU per period for
    (subject, X server, window manager, compositor), and the subject's
    resident memory in kB at the end."""
    with Session() as s:
        xserver, wm = s.procs[0], s.procs[-1]
        comp = start_compositor(s, compositor) if compositor else None
        subject = start(s)
        stop = threading.Event()
        helper = threading.Thread(target=while_running, args=(s, stop)) if while_running else None
        if helper:
            helper.start()
        time.sleep(2.0)  # start-up and first layout out of the way
        pids = [subject.pid, xserver.pid, wm.pid] + ([comp.pid] if comp else [])
        before, t0 = [cpu_seconds(p) for p in pids], time.time()
        time.sleep(seconds)
        after, t1 = [cpu_seconds(p) for p in pids], time.time()
        rss = rss_kb(subject.pid)
        stop.set()
        if helper:
            helper.join()
        subject.kill()
        subject.wait()
    periods = (t1 - t0) * 1000 / period_ms
    costs = [(a - b) * 1000 / periods for a, b in zip(after, before)]
    return costs + [0.0] * (4 - len(costs)), rss


def tassio(binary):
    def start(s):
        program = s.install_program(binary)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write(f"-1,-1,{INTERVAL_MS},128,64,1,0,1,0,NULL NULL\n")
        p = s.start(program)
        s.find_window("Tassio")
        return p
    return start


def bare(binary, *options):
    def start(s):
        p = subprocess.Popen([binary, str(INTERVAL_MS), *options], env=s.env)
        s.procs.append(p)
        return p
    return start


def oneko(s):
    p = subprocess.Popen([shutil.which("oneko") or "/usr/games/oneko"], env=s.env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.procs.append(p)
    return p


def wander(s, stop):
    # The cat only animates while it chases the pointer.
    import math
    i = 0
    while not stop.is_set():
        i += 1
        # Warped over the session's own connection: a new client per move
        # would cost the X server more than the cat does.
        s.root.warp_pointer(512 + int(350 * math.cos(i / 15.0)), 384 + int(250 * math.sin(i / 15.0)))
        s.d.sync()
        time.sleep(0.05)


def row(name, measured, unit="tick"):
    costs, rss = measured
    total = sum(costs)
    print(f"{name:<38} {costs[0]:7.3f} {costs[1]:7.3f} {costs[2]:7.3f} {costs[3]:7.3f} {total:8.3f}  ms/{unit}"
          f"  {rss / 1024:5.1f} MiB")
    return total


def spread(values):
    values = sorted(values)
    return f"median {values[len(values) // 2]:.3f} (from {values[0]:.3f} to {values[-1]:.3f})"


def main():
    parser = argparse.ArgumentParser(description="CPU the swinging figure costs the whole desktop")
    parser.add_argument("program")
    parser.add_argument("bare")
    parser.add_argument("seconds", nargs="?", type=float, default=20.0)
    parser.add_argument("runs", nargs="?", type=int, default=3)
    parser.add_argument("--compositor", choices=["picom"], help="run every session under this compositor")
    parser.add_argument("--before", metavar="PROGRAM", help="an older build, measured in every round too")
    args = parser.parse_args()
    compositor = args.compositor
    if compositor and not shutil.which(compositor):
        print(f"{compositor} is not installed: nothing measured")
        return
    kind = "ARGB" if compositor else "shaped"
    subjects = [(f"tassio ({kind})", tassio(args.program))]
    if args.before:
        subjects.append((f"tassio before ({kind})", tassio(args.before)))
    subjects.append(("bare_swing", bare(args.bare)))
    if compositor:
        subjects.append(("bare_swing --resize", bare(args.bare, "--resize")))
    print(f"CPU per {INTERVAL_MS} ms tick, {args.seconds:.0f} s per run, fresh Xvfb + openbox"
          f"{' + ' + compositor if compositor else ''} each")
    print(f"{'':<38} {'program':>7} {'X':>7} {'wm':>7} {'comp':>7} {'total':>8}  {'':8} resident")
    totals = {name: [] for name, _ in subjects}
    for run in range(args.runs):
        for name, start in subjects:
            totals[name].append(row(f"{name} run {run + 1}", measure(start, args.seconds, compositor=compositor)))
        print(f"{'':<38} ratio tassio/bare: {totals[subjects[0][0]][-1] / totals['bare_swing'][-1]:.2f}"
              + (f", before/bare: {totals[subjects[1][0]][-1] / totals['bare_swing'][-1]:.2f}" if args.before else ""))
    if not compositor and (shutil.which("oneko") or os.path.exists("/usr/games/oneko")):
        row("oneko (32 x 32, pointer moving)", measure(oneko, args.seconds, period_ms=ONEKO_INTERVAL_MS,
                                                       while_running=wander), unit="step")
    for name, _ in subjects:
        print(f"{name + ', total ms/tick:':<38} {spread(totals[name])}")
    ratios = [t / b for t, b in zip(totals[subjects[0][0]], totals["bare_swing"])]
    print(f"whole-desktop ratio tassio/bare_swing, {spread(ratios)} of {args.runs}")


if __name__ == "__main__":
    main()
