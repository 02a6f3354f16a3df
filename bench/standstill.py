"""How long the figure stands still, and what memory does, while dropped files
are handled: the longest gap between two moves of the figure window (at a
20 ms period, so about 20 ms when nothing holds it), and the program's
resident memory before the drop, at its peak, with every viewer open and
settled, and after every viewer the drop opened has been closed. Each drop in a fresh Xvfb + openbox session with
PulseAudio on a null sink; the moves are heard by a separate X client as the
server's ConfigureNotify events on the figure window.

  text    one text file of 16 MiB on a single line (minified JSON), viewed and
          closed twice
  sound   20 small text files while a 100 MiB (10-minute) sound is the drop sound
  many    1000 small text files in one drop
  idle    nothing dropped: the gaps a busy machine makes by itself, for comparison

usage: /usr/bin/python3 bench/standstill.py build/tassio [runs] [text|sound|many ...]
"""

import os
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Session, rss_kb  # noqa: E402
from xdnd import drop  # noqa: E402

from Xlib import X, display as xdisplay  # noqa: E402
from Xlib.protocol import event  # noqa: E402

INTERVAL_MS = 20
# After the last viewer has appeared the moves are still watched this long:
# a viewer's text may still be on its way in.
SETTLE_S = 6.0


class MoveWatcher(threading.Thread):
    """Notes the time of every ConfigureNotify of one window, over a
    connection of its own."""

    def __init__(self, display_name, wid):
        super().__init__(daemon=True)
        self.d = xdisplay.Display(display_name)
        self.w = self.d.create_resource_object("window", wid)
        self.w.change_attributes(event_mask=X.StructureNotifyMask)
        self.d.sync()
        self.times = []
        self.stop = threading.Event()

    def run(self):
        try:
            while not self.stop.is_set():
                while self.d.pending_events():
                    ev = self.d.next_event()
                    if ev.type == X.ConfigureNotify:
                        self.times.append(time.monotonic())
                time.sleep(0.001)
        except Exception:
            pass  # the session is over
        finally:
            self.d.close()

    def longest_gap(self, start, end):
        t = [x for x in self.times if start <= x <= end]
        if len(t) < 2:
            return end - start
        edges = [t[0] - start] + [b - a for a, b in zip(t, t[1:])] + [end - t[-1]]
        return max(edges)


class MemoryWatcher(threading.Thread):
    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid = pid
        self.peak = 0
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            try:
                self.peak = max(self.peak, rss_kb(self.pid))
            except OSError:
                return
            time.sleep(0.01)


def write_wav(path, seconds, rate=44100, channels=2):
    """A 16-bit tone, written a second at a time."""
    import math
    second = b"".join(struct.pack("<hh", v, v) for v in
                      (int(8000 * math.sin(2 * math.pi * 440 * i / rate)) for i in range(rate)))
    data_bytes = len(second) * seconds
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * channels * 2, channels * 2, 16))
        f.write(b"data" + struct.pack("<I", data_bytes))
        for _ in range(seconds):
            f.write(second)


def write_json_line(path, size):
    """Minified JSON on one line, of exactly size bytes."""
    record = b'{"id":12345,"name":"tassio","tags":["a","b","c"],"ok":true,"v":3.25},'
    body = record * (size // len(record))
    with open(path, "wb") as f:
        f.write(b"[" + body[:size - 2] + b"]")


def client_list(s):
    """The windows the window manager manages (one request)."""
    prop = s.root.get_full_property(s.d.intern_atom("_NET_CLIENT_LIST"), X.AnyPropertyType)
    return list(prop.value) if prop else []


def client_windows(s):
    """Top-level windows the window manager manages, by title."""
    found = {}
    for wid in client_list(s):
        try:
            name = s.d.create_resource_object("window", wid).get_wm_name()
        except Exception:
            continue
        if isinstance(name, bytes):
            name = name.decode(errors="replace")
        found.setdefault(name, []).append(wid)
    return found


def close_window(s, wid):
    w = s.d.create_resource_object("window", wid)
    ev = event.ClientMessage(window=w, client_type=s.d.intern_atom("WM_PROTOCOLS"),
                             data=(32, [s.d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
    w.send_event(ev, event_mask=0)


def viewers_of(s, paths):
    names = client_windows(s)
    return [w for p in paths for w in names.get(p, [])]


def measure(binary, kind):
    with Session(sound=True) as s:
        program = s.install_program(binary)
        folder = os.path.join(s.tmp, "dropped")
        os.makedirs(folder)
        sound = "NULL"
        if kind == "idle":
            paths = []
        elif kind == "text":
            paths = [os.path.join(folder, "minified.json")]
            write_json_line(paths[0], 16 << 20)
        else:
            count = 1000 if kind == "many" else 20
            paths = []
            for i in range(count):
                p = os.path.join(folder, f"note{i:04d}.txt")
                with open(p, "w") as f:
                    f.write(f"note {i}\n" * 20)
                paths.append(p)
            if kind == "sound":
                sound = os.path.join(s.tmp, "long.wav")
                write_wav(sound, 600)
        with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
            f.write(f"900,250,{INTERVAL_MS},128,64,1,0,1,0,{sound} NULL\n")
        proc = s.start(program)
        wid = s.find_window("Tassio", timeout=30)
        watcher = MoveWatcher(s.display_name, wid)
        watcher.start()
        # Start-up (and the start sound's reading) out of the way.
        time.sleep(3.0)
        before = rss_kb(proc.pid)

        gap, peak, settled, opened = 0.0, before, 0, 0.0
        # The large text twice: what a closed viewer leaves behind adds up.
        for _ in range(2 if kind == "text" else 1):
            x, y, w, h = s.window_geometry(wid)
            managed = len(client_list(s))
            memory = MemoryWatcher(proc.pid)
            memory.peak = before
            memory.start()
            started = time.monotonic()
            if paths:
                result = drop(s.display_name, wid, paths, x + w // 2, y + h // 2, timeout=120)
                if not result.finished:
                    raise RuntimeError(f"{kind}: the drop was not finished: {result}")
            # Counted cheaply and seldom: asking the server costs it time too.
            while len(client_list(s)) - managed < len(paths):
                if time.monotonic() - started > 600:
                    raise RuntimeError(f"{kind}: only {len(client_list(s)) - managed} of {len(paths)} viewers opened")
                time.sleep(0.5)
            opened = max(opened, time.monotonic() - started)
            time.sleep(SETTLE_S)
            ended = time.monotonic()
            gap = max(gap, watcher.longest_gap(started, ended))
            memory.stop.set()
            memory.join()
            peak = max(peak, memory.peak)
            settled = max(settled, rss_kb(proc.pid))

            for v in viewers_of(s, paths) if paths else []:
                close_window(s, v)
            s.d.flush()
            while len(client_list(s)) > managed:
                if time.monotonic() - ended > 300:
                    raise RuntimeError(f"{kind}: viewers still open")
                time.sleep(0.5)
            # Whatever the program gives back after a close has a moment to go.
            time.sleep(3.0)
        after = rss_kb(proc.pid)
        watcher.stop.set()
        watcher.join()
        proc.terminate()
        proc.wait(timeout=30)
    return gap * 1000, before / 1024, peak / 1024, settled / 1024, after / 1024, opened


def span(values, fmt):
    lo, hi = min(values), max(values)
    return fmt.format(lo) if fmt.format(lo) == fmt.format(hi) else f"{fmt.format(lo)}–{fmt.format(hi)}"


def main():
    binary = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    kinds = sys.argv[3:] or ["idle", "text", "sound", "many"]
    labels = {"text": "16 MiB text on one line, twice", "sound": "20 files, 100 MiB drop sound",
              "many": "1000 text files", "idle": "nothing (the machine's own)"}
    print(f"Longest stand-still of the figure ({INTERVAL_MS} ms period) and resident memory, {runs} run(s) each")
    print(f"{'drop':<30} {'stand-still ms':>16} {'before MiB':>12} {'peak MiB':>12} {'open MiB':>12} "
          f"{'closed MiB':>12} {'closed-before':>14} {'all open s':>11}")
    for kind in kinds:
        rows = [measure(binary, kind) for _ in range(runs)]
        gaps, befores, peaks, settled, afters, opened = zip(*rows)
        growth = [a - b for a, b in zip(afters, befores)]
        print(f"{labels[kind]:<30} {span(gaps, '{:.0f}'):>16} {span(befores, '{:.1f}'):>12} "
              f"{span(peaks, '{:.1f}'):>12} {span(settled, '{:.1f}'):>12} {span(afters, '{:.1f}'):>12} "
              f"{span(growth, '{:+.1f}'):>14} "
              f"{span(opened, '{:.1f}'):>11}", flush=True)


if __name__ == "__main__":
    main()
