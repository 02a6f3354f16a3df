"""Long run: the program swings at a 20 ms interval under Xvfb with openbox;
resident memory, the client's X resources and open file descriptors are
sampled. Then 200 files are dropped in a row, and 100 viewers are opened and
closed. Fails when anything grows.

usage: /usr/bin/python3 tests/e2e/soak.py build/tassio SECONDS
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, check, rss_kb  # noqa: E402
from xdnd import drop_files  # noqa: E402

from Xlib import X  # noqa: E402
from Xlib.protocol import event  # noqa: E402

BINARY = sys.argv[1]
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 120.0


def fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def x_resources(s, wid):
    """Windows, pixmaps and graphics contexts the program holds in the X
    server, found through one of its windows."""
    counts = {}
    for r in s.d.res_query_client_resources(wid).types:
        name = s.d.get_atom_name(r.resource_type)
        counts[name] = counts.get(name, 0) + r.count
    return counts


def sample(s, pid, wid):
    r = x_resources(s, wid)
    return {"rss_kb": rss_kb(pid), "fds": fds(pid), "windows": r.get("WINDOW", 0),
            "pixmaps": r.get("PIXMAP", 0), "gcs": r.get("GC", 0)}


def close_window(s, wid):
    w = s.d.create_resource_object("window", wid)
    ev = event.ClientMessage(window=w, client_type=s.d.intern_atom("WM_PROTOCOLS"),
                             data=(32, [s.d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
    w.send_event(ev, event_mask=0)
    s.d.flush()


def viewers(s, prefix):
    out = s.xdotool("search", "--onlyvisible", "--name", prefix, check=False)
    return [int(w) for w in out.split()] if out else []


def main():
    with Session() as s:
        program = s.install_program(BINARY)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write("-1,-1,20,128,64,1,0,1,0,NULL NULL\n")
        proc = s.start(program)
        wid = s.find_window("Tassio")
        warmup = min(20.0, SECONDS / 4)
        time.sleep(warmup)
        first = sample(s, proc.pid, wid)
        samples = [first]
        end = time.time() + SECONDS - warmup
        while time.time() < end:
            time.sleep(min(10.0, max(0.0, end - time.time())))
            samples.append(sample(s, proc.pid, wid))
        last = samples[-1]
        peak = max(x["rss_kb"] for x in samples)
        print(f"swinging {SECONDS:.0f} s: rss {first['rss_kb']} -> {last['rss_kb']} kB (peak {peak}), "
              f"fds {first['fds']} -> {last['fds']}, X windows {first['windows']} -> {last['windows']}, "
              f"pixmaps {first['pixmaps']} -> {last['pixmaps']}, gcs {first['gcs']} -> {last['gcs']}")
        check(peak - first["rss_kb"] <= 1024, "resident memory grew by more than 1 MB")
        for key in ("fds", "windows", "pixmaps", "gcs"):
            check(last[key] <= first[key], f"{key} grew")

        # 200 files dropped in a row: sounds, so no window opens.
        files = []
        for i in range(200):
            p = os.path.join(s.tmp, f"drop{i}.wav")
            with open(p, "wb") as f:
                f.write(b"RIFF")
            files.append(p)
        # One drop first: Qt makes a window of its own for drag and drop once.
        x, y, w, h = s.window_geometry(wid)
        check(drop_files(s.display_name, wid, files[:1], x + w // 2, y + h // 2), "drop refused")
        # The drop is handled when it is finished; a few ticks let what it left settle.
        s.wait_ticks(wid, 25, 30)
        before = sample(s, proc.pid, wid)
        for i in range(0, 200, 20):
            x, y, w, h = s.window_geometry(wid)
            check(drop_files(s.display_name, wid, files[i:i + 20], x + w // 2, y + h // 2), "drop refused")
        s.wait_ticks(wid, 50, 30)
        after = sample(s, proc.pid, wid)
        print(f"200 dropped files: rss {before['rss_kb']} -> {after['rss_kb']} kB, fds {before['fds']} -> "
              f"{after['fds']}, X windows {before['windows']} -> {after['windows']}")
        check(after["fds"] <= before["fds"] and after["windows"] <= before["windows"], "drops leaked")

        # 100 viewers opened and closed, ten at a time; the first round warms up.
        texts = []
        for i in range(10):
            p = os.path.join(s.tmp, f"viewer{i}.txt")
            with open(p, "w") as f:
                f.write("viewer\n" * 100)
            texts.append(p)
        base = None
        for rnd in range(11):
            x, y, w, h = s.window_geometry(wid)
            check(drop_files(s.display_name, wid, texts, x + w // 2, y + h // 2), "drop refused")
            opened = s.wait_for(lambda: (lambda v: v if len(v) >= 10 else None)(viewers(s, "viewer")), 10,
                                "viewers did not open")
            for v in opened:
                close_window(s, v)
            s.wait_for(lambda: not viewers(s, "viewer"), 10, "viewers did not close")
            s.wait_ticks(wid, 15, 30)
            if rnd == 0:
                base = sample(s, proc.pid, wid)
        final = sample(s, proc.pid, wid)
        print(f"100 viewers opened and closed: rss {base['rss_kb']} -> {final['rss_kb']} kB, fds {base['fds']} -> "
              f"{final['fds']}, X windows {base['windows']} -> {final['windows']}, pixmaps {base['pixmaps']} -> "
              f"{final['pixmaps']}")
        check(final["rss_kb"] - base["rss_kb"] <= 1024, "viewers leaked memory")
        for key in ("fds", "windows", "pixmaps", "gcs"):
            check(final[key] <= base[key], f"viewers leaked {key}")
        s.close_panel()
        proc.wait(timeout=10)
        print("soak: 1 passed, 0 failed")


if __name__ == "__main__":
    try:
        main()
    except AssertionError as e:
        print(f"soak: FAIL {e}")
        print("soak: 0 passed, 1 failed")
        sys.exit(1)
