"""Start-up time: from exec to the figure on the screen (its window mapped,
with its picture already in place), under Xvfb with openbox, as the median of
several starts, without and with a start sound.
The sound plays through PipeWire's pulse server where it can be started
(PulseAudio otherwise); the two kinds of start alternate, so that both see
the same machine.

usage: /usr/bin/python3 bench/startup.py build/tassio [runs]
"""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session, Skip, write_tone  # noqa: E402


def first_paint_ms(s, program, sound):
    with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
        f.write(f"-1,-1,100,128,64,1,0,1,0,{sound or 'NULL'} NULL\n")
    s.watch_maps()
    start = time.monotonic()
    proc = s.start(program)
    ms = (s.wait_for_map("Tassio") - start) * 1000
    # An Esc this soon after start-up is now and then lost (about one start in
    # a hundred on a loaded machine): ask again before giving up.
    for attempt in range(3):
        s.close_panel()
        try:
            proc.wait(timeout=5)
            break
        except subprocess.TimeoutExpired:
            if attempt == 2:
                raise
    return ms


def run(kind, binary, runs):
    times = {False: [], True: []}
    with Session(sound=kind) as s:
        program = s.install_program(binary)
        tone = os.path.join(s.tmp, "start.wav")
        write_tone(tone, 0.3)
        for _ in range(runs):
            for with_sound in (False, True):
                times[with_sound].append(first_paint_ms(s, program, tone if with_sound else None))
    return times


def main(binary, runs):
    try:
        kind, times = "PipeWire", run("pipewire", binary, runs)
    except Skip as e:
        print(f"({e}; PulseAudio instead)")
        kind, times = "PulseAudio", run(True, binary, runs)
    for with_sound, label in ((False, "no start sound"), (True, f"a 0.3 s start sound through {kind}")):
        t = times[with_sound]
        print(f"exec to the figure on the screen, {label}: median {statistics.median(t):.0f} ms, "
              f"best {min(t):.0f} ms, worst {max(t):.0f} ms over {runs} starts")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 7)
