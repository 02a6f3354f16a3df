"""By hand, where mutter is installed (it is not among the build's packages):
what the swinging figure costs mutter on X11, the compositing window manager
of GNOME on Xorg. For each build, in a fresh Xvfb with
`mutter --x11 --replace --sm-disable` under dbus-run-session: the CPU of
mutter, the X server and the program from /proc/PID/task/*/schedstat, and
the "stage views" warnings mutter logs, per 10 s, after a few seconds of
swinging at the given interval.

usage: /usr/bin/python3 bench/mutter_cost.py build/tassio [OLD_BUILD/tassio ...] [--interval 100]
           [--seconds 10] [--runs 3]
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session  # noqa: E402
from desktop_cost import cpu_seconds  # noqa: E402
from Xlib import X  # noqa: E402

WARNING = "stage views"


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{entry}/comm") as f:
                name = f.read().strip()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append((int(entry), name))
    return found


def measure(program, interval, seconds):
    """Percent of one core for mutter, the X server and the program, and the
    warnings per 10 s."""
    with Session(wm=False) as s:
        log_path = os.path.join(s.tmp, "mutter.log")
        env = dict(s.env)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        with open(log_path, "w") as log:
            runner = subprocess.Popen(["dbus-run-session", "--", "mutter", "--x11", "--replace", "--sm-disable"],
                                      env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        s.procs.append(runner)
        s.groups.append(runner.pid)
        atom = s.d.intern_atom("_NET_WM_CM_S0")
        s.wait_for(lambda: s.d.get_selection_owner(atom) != X.NONE, 30, "mutter does not composite")
        mutter = s.wait_for(lambda: [p for p, name in children(runner.pid) if name == "mutter"], 10,
                            "no mutter process")[0]
        installed = s.install_program(program)
        with open(os.path.join(os.path.dirname(installed), "Tassio.ini"), "w") as f:
            f.write(f"-1,-1,{interval},128,64,1,0,1,0,NULL NULL\n")
        proc = s.start(installed)
        wid = s.find_window("Tassio")
        s.wait_ticks(wid, 3, 10)
        time.sleep(2)
        pids = [mutter, s.procs[0].pid, proc.pid]
        with open(log_path, errors="replace") as f:
            logged = f.read().count(WARNING)
        before, t0 = [cpu_seconds(p) for p in pids], time.monotonic()
        time.sleep(seconds)
        after, t1 = [cpu_seconds(p) for p in pids], time.monotonic()
        with open(log_path, errors="replace") as f:
            warnings = f.read().count(WARNING) - logged
        proc.kill()
        proc.wait()
    wall = t1 - t0
    return [100 * (a - b) / wall for a, b in zip(after, before)], warnings * 10 / wall


def main():
    parser = argparse.ArgumentParser(description="what the swinging figure costs mutter on X11")
    parser.add_argument("programs", nargs="+")
    parser.add_argument("--interval", type=int, default=100, help="ms per tick")
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    if not shutil.which("mutter") or not shutil.which("dbus-run-session"):
        print("mutter or dbus-run-session is not installed: nothing measured")
        return
    print(f"{args.interval} ms a tick, {args.seconds:.0f} s a run, fresh Xvfb + mutter --x11 each")
    print(f"{'':<40} {'mutter':>8} {'X':>8} {'program':>8}  stage-views warnings per 10 s")
    for run in range(args.runs):
        for program in args.programs:
            cpu, warnings = measure(program, args.interval, args.seconds)
            print(f"{program + ' run ' + str(run + 1):<40} " + " ".join(f"{c:7.2f}%" for c in cpu)
                  + f"  {warnings:.0f}")


if __name__ == "__main__":
    main()
