"""How often the figure window changes size while it swings: its
ConfigureNotify events over a few seconds (at a 20 ms interval unless told), in a fresh
Xvfb + openbox session (and a compositing manager, with --compositor). Each
change of size is a new window to a compositing manager. Give several builds
to compare them.

usage: /usr/bin/python3 bench/window_sizes.py build/tassio [OLD_BUILD/tassio ...] [--seconds 4]
           [--interval 20] [--compositor picom]
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session, start_compositor  # noqa: E402


def count(program, seconds, interval, compositor):
    with Session() as s:
        if compositor:
            start_compositor(s, compositor)
        installed = s.install_program(program)
        with open(os.path.join(os.path.dirname(installed), "Tassio.ini"), "w") as f:
            f.write(f"-1,-1,{interval},128,64,1,0,1,0,NULL NULL\n")
        proc = s.start(installed)
        wid = s.find_window("Tassio")
        s.wait_ticks(wid, 3, 10)
        first = s.window_geometry(wid)[2:]
        moves = [e[3:] for e in s.window_events(wid, seconds) if e[0] == "configure"]
        proc.kill()
        proc.wait()
    changes = sum(1 for a, b in zip([first] + moves, moves) if a != b)
    return len(moves), changes, sorted(set(moves))


def main():
    parser = argparse.ArgumentParser(description="the figure window's size changes while it swings")
    parser.add_argument("programs", nargs="+")
    parser.add_argument("--seconds", type=float, default=4.0)
    parser.add_argument("--interval", type=int, default=20, help="ms per tick")
    parser.add_argument("--compositor", choices=["picom"])
    args = parser.parse_args()
    where = "Xvfb + openbox" + (f" + {args.compositor}" if args.compositor else "")
    for program in args.programs:
        moves, changes, sizes = count(program, args.seconds, args.interval, args.compositor)
        print(f"{program}: {moves} moves and {changes} size changes in {args.seconds:.0f} s at "
              f"{args.interval} ms under {where}; "
              f"sizes {', '.join(f'{w}x{h}' for w, h in sizes)}")


if __name__ == "__main__":
    main()
