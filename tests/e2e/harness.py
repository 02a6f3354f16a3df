"""End-to-end harness: a private Xvfb with openbox, a root pattern, the real
program in a temporary folder, and pixel-exact screenshots."""

import os
import shutil
import signal
import subprocess
import tempfile
import time

from PIL import Image
from Xlib import X, display as xdisplay

WIDTH, HEIGHT = 1024, 768
# Deadlines stretch by this factor where the program runs slower on purpose
# (a sanitizer build sets it); they are limits, not waits.
TIME_SCALE = float(os.environ.get("TASSIO_E2E_TIME_SCALE", "1"))
SOURCE_DIR = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.normpath(os.path.join(SOURCE_DIR, "..", "..", "resources"))


def pattern_pixel(x, y):
    """The root's known pattern: coloured bands and a checkerboard, so that a
    misplaced pixel almost always differs."""
    r = (x * 7 + y * 3) & 0xFF
    g = 0x40 if ((x >> 3) + (y >> 3)) & 1 else 0xC0
    b = (y * 5) & 0xFF
    return (r, g, b)


def pattern_image(width=WIDTH, height=HEIGHT):
    img = Image.new("RGB", (width, height))
    img.putdata([pattern_pixel(x, y) for y in range(height) for x in range(width)])
    return img


class Session:
    """Xvfb + openbox. Use as a context manager."""

    def __init__(self, wm=True, width=WIDTH, height=HEIGHT, sound=False):
        self.wm = wm
        self.sound = sound
        self.width, self.height = width, height
        self.procs = []
        self.groups = []  # process groups to end as a whole
        self.tmp = tempfile.mkdtemp(prefix="tassio-e2e-")

    def __enter__(self):
        rfd, wfd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(wfd), "-screen", "0", f"{self.width}x{self.height}x24",
             "-noreset", "-nolisten", "tcp"],
            pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(wfd)
        number = b""
        with os.fdopen(rfd, "rb") as r:
            while not number.endswith(b"\n"):
                ch = r.read(1)
                if not ch:
                    raise RuntimeError("Xvfb did not start")
                number += ch
        self.procs.append(xvfb)
        self.display_name = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display_name, HOME=self.tmp,
                        XDG_RUNTIME_DIR=self.tmp, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"))
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.env["PULSE_SERVER"] = "unix:" + os.path.join(self.tmp, "no-pulse")
        if self.sound:
            self._start_pulseaudio()
        self.d = xdisplay.Display(self.display_name)
        self.root = self.d.screen().root
        self.set_root_pattern()
        if self.wm:
            ob = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.procs.append(ob)
            self.wait_for(lambda: self._wm_running(), 10, "openbox did not start")
        return self

    def __exit__(self, *exc):
        # PulseAudio leaves helpers of its own behind unless its whole group goes.
        for g in self.groups:
            try:
                os.killpg(g, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for p in reversed(self.procs):
            if p.poll() is None:
                p.kill()
            p.wait()
        try:
            self.d.close()
        except Exception:
            pass
        reports = self.sanitizer_reports()
        shutil.rmtree(self.tmp, ignore_errors=True)
        if reports and exc[0] is None:
            raise AssertionError("sanitizer reports from the program:\n" + reports)
        if reports:
            print(reports)

    def sanitizer_reports(self):
        """What AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer
        reported for the programs of this session (a sanitizer build only):
        their log files, and reports that went to a program's output."""
        found = []
        for name in sorted(os.listdir(self.tmp)):
            if name.startswith(("asan.", "ubsan.")):
                with open(os.path.join(self.tmp, name), errors="replace") as f:
                    found.append(f"--- {name}\n{f.read()}")
        for p in self.procs:
            if p.stdout is None or p.poll() is None:
                continue
            out = p.stdout.read().decode(errors="replace")
            if "runtime error:" in out or "Sanitizer" in out:
                found.append(f"--- output of pid {p.pid}\n{out}")
        return "\n".join(found)

    def _start_pulseaudio(self):
        """A private sound server on a null sink; without rewinds its monitor
        records every sample played."""
        runtime = os.path.join(self.tmp, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.env["PULSE_SERVER"] = "unix:" + os.path.join(runtime, "pulse", "native")
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        pa = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
             "--load=module-native-protocol-unix",
             "--load=module-null-sink sink_name=nul norewinds=1", "--load=module-always-sink"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.procs.append(pa)
        self.groups.append(pa.pid)
        self.wait_for(lambda: "Default Sink: nul" in self.pactl("info"), 15, "pulseaudio did not start")

    def pactl(self, *args):
        r = subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True)
        return r.stdout

    def _wm_running(self):
        atom = self.d.intern_atom("_NET_SUPPORTING_WM_CHECK")
        return self.root.get_full_property(atom, X.AnyPropertyType) is not None

    def set_root_pattern(self, image=None):
        image = image or pattern_image(self.width, self.height)
        self.pattern = image
        screen = self.d.screen()
        pix = self.root.create_pixmap(self.width, self.height, screen.root_depth)
        gc = pix.create_gc()
        raw = image.tobytes("raw", "BGRX")
        rows = max(1, 200000 // (self.width * 4))
        for y in range(0, self.height, rows):
            h = min(rows, self.height - y)
            pix.put_image(gc, 0, y, self.width, h, X.ZPixmap, 24, 0,
                          raw[y * self.width * 4:(y + h) * self.width * 4])
        self.root.change_attributes(background_pixmap=pix)
        self.root.clear_area(0, 0, self.width, self.height)
        self.d.sync()

    def screenshot(self, x=0, y=0, w=None, h=None):
        w = w or self.width
        h = h or self.height
        raw = self.root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        return Image.frombytes("RGB", (w, h), raw.data, "raw", "BGRX")

    @staticmethod
    def wait_for(pred, timeout, message):
        """Polls pred until it gives something true, and returns that; fails
        with message when timeout seconds pass first."""
        end = time.time() + timeout * TIME_SCALE
        while time.time() < end:
            v = pred()
            if v:
                return v
            time.sleep(0.01)
        raise AssertionError(message)

    def settled_screenshot(self, x=0, y=0, w=None, h=None):
        """A screenshot once the screen has stopped changing: two in a row
        alike, after whatever the stopped program sent has been drawn."""
        self.d.sync()
        last = [self.screenshot(x, y, w, h)]

        def same():
            shot = self.screenshot(x, y, w, h)
            if shot.tobytes() == last[0].tobytes():
                return shot
            last[0] = shot
            return None
        return self.wait_for(same, 5, "the screen never settled")

    def positions(self, wid, count, timeout=10):
        """The window's first count distinct positions, in order, polled."""
        seen = []

        def enough():
            x, y, _, _ = self.window_geometry(wid)
            if not seen or seen[-1] != (x, y):
                seen.append((x, y))
            return len(seen) >= count
        self.wait_for(enough, timeout, f"the window took only {len(seen)} of {count} positions")
        return seen

    def wait_hanging_from(self, wid, anchor_x, anchor_y, length, timeout=10):
        """Waits until the window hangs on its string from the given pivot:
        its top-left lies length pixels below-ish the pivot, on the arc."""
        import math

        def on_arc():
            x, y, _, _ = self.window_geometry(wid)
            return y >= anchor_y and abs(math.hypot(x - anchor_x, y - anchor_y) - length) <= 3
        self.wait_for(on_arc, timeout, f"the figure does not hang from ({anchor_x}, {anchor_y})")

    def wait_ticks(self, wid, count, timeout):
        """Waits until the window has moved count times: each tick moves it."""
        moves = [0, self.window_geometry(wid)[:2]]

        def moved_enough():
            now = self.window_geometry(wid)[:2]
            if now != moves[1]:
                moves[0] += 1
                moves[1] = now
            return moves[0] >= count
        self.wait_for(moved_enough, timeout, f"the figure moved only {moves[0]} of {count} times")

    def wait_active(self, wid, timeout=10):
        self.wait_for(lambda: self.xdotool("getactivewindow", check=False) == str(wid), timeout,
                      f"window {wid} never became active")

    # The program ---------------------------------------------------------

    def install_program(self, binary, folder=None):
        """Copies the program into an empty folder of its own, where it keeps
        its settings file."""
        folder = folder or tempfile.mkdtemp(prefix="app-", dir=self.tmp)
        target = os.path.join(folder, "tassio")
        shutil.copy2(binary, target)
        return target

    def start(self, program, extra_env=None):
        env = dict(self.env)
        # The tests find the panel by its Chinese title: the program shows its
        # Chinese texts, in a UTF-8 locale every system has (window titles
        # reach X in the locale's encoding, and xdotool matches them in UTF-8).
        for name in ("LC_ALL", "LC_MESSAGES"):
            env.pop(name, None)
        env.update(LANG="C.UTF-8", LANGUAGE="zh_CN")
        # In a sanitizer build the reports go to files that the session checks.
        for var, prefix in (("ASAN_OPTIONS", "asan"), ("UBSAN_OPTIONS", "ubsan")):
            options = [o for o in env.get(var, "").split(":") if o and not o.startswith("log_path=")]
            env[var] = ":".join(options + ["log_path=" + os.path.join(self.tmp, prefix)])
        env.update(extra_env or {})
        p = subprocess.Popen([program], env=env, cwd=os.path.dirname(program),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.procs.append(p)
        return p

    def xdotool(self, *args, check=True):
        r = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True)
        if check and r.returncode != 0:
            raise AssertionError(f"xdotool {' '.join(args)} failed: {r.stderr}")
        return r.stdout.strip()

    def find_window(self, name, timeout=10, only_visible=True):
        def search():
            args = ["search"] + (["--onlyvisible"] if only_visible else []) + ["--name", f"^{name}$"]
            out = self.xdotool(*args, check=False)
            return [int(w) for w in out.split()] if out else None
        return self.wait_for(search, timeout, f"no window named {name}")[0]

    def close_panel(self):
        """Ends the program as a user would: the panel up front, then Esc."""
        panel = self.find_window("设定", only_visible=False)
        self.xdotool("windowactivate", "--sync", str(panel))
        self.wait_active(panel, 5)
        self.xdotool("key", "Escape")

    def is_viewable(self, wid):
        """Whether the window is on the screen; a destroyed one is not."""
        from Xlib import error
        try:
            return self.d.create_resource_object("window", wid).get_attributes().map_state == X.IsViewable
        except error.XError:
            return False

    def window_geometry(self, wid):
        """Position on the root and size of a window, from the X server."""
        w = self.d.create_resource_object("window", wid)
        g = w.get_geometry()
        t = w.translate_coords(self.root, 0, 0)
        return (-t.x, -t.y, g.width, g.height)


def load_frames(base_id):
    """The seven frames of a built-in figure, as RGB images."""
    return [Image.open(os.path.join(RESOURCES, "figures", f"{base_id + k + 1:02d}.bmp")).convert("RGB")
            for k in range(7)]


def rss_kb(pid):
    """Resident memory of a process, in kB."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class Recorder:
    """Records the null sink's monitor (mono, 16-bit, 8 kHz) until stopped."""

    RATE = 8000

    def __init__(self, session, path):
        self.s = session
        self.path = path
        before = session.pactl("list", "short", "source-outputs")
        self.proc = subprocess.Popen(
            ["parecord", "--device=nul.monitor", "--file-format=wav", "--format=s16le",
             f"--rate={self.RATE}", "--channels=1", "--latency-msec=20", path],
            env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        session.procs.append(self.proc)
        session.wait_for(lambda: session.pactl("list", "short", "source-outputs") != before, 5,
                         "parecord did not start")
        self.started = time.time()

    def recorded(self):
        """The samples recorded so far, read from the growing file."""
        import array
        try:
            with open(self.path, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return array.array("h")
        at = data.find(b"data")
        if at < 0:
            return array.array("h")
        body = data[at + 8:]
        return array.array("h", body[:len(body) // 2 * 2])

    def wait_until(self, seconds_after_quiet=0.0, sounds=1, timeout=10):
        """Waits until the recording holds the given number of sounds, each
        ended, and then seconds_after_quiet seconds of silence; returns the
        spans. With sounds=0, waits for that much recorded silence."""
        def done():
            samples = self.recorded()
            spans = self.spans(samples)
            length = len(samples) / self.RATE
            if len(spans) < sounds or (spans and spans[-1][1] >= length - 0.02):
                return None
            last = spans[-1][1] if spans else 0.0
            return (spans,) if length - last >= seconds_after_quiet else None
        return self.s.wait_for(done, timeout, f"never heard {sounds} sound(s) end")[0]

    def stop(self):
        """Returns the loud stretches as (start, end) seconds from the start."""
        import wave
        import array
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(timeout=10)
        with wave.open(self.path) as w:
            samples = array.array("h", w.readframes(w.getnframes()))
        return self.spans(samples)

    def spans(self, samples):
        block = self.RATE // 100  # 10 ms
        loud = [max((abs(v) for v in samples[i:i + block]), default=0) > 3000
                for i in range(0, len(samples), block)]
        spans, start = [], None
        for i, on in enumerate(loud + [False]):
            if on and start is None:
                start = i
            elif not on and start is not None:
                spans.append((start / 100.0, i / 100.0))
                start = None
        return spans


def write_tone(path, seconds, freq=440, rate=22050):
    import math
    import struct
    import wave
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", int(20000 * math.sin(2 * math.pi * freq * i / rate)))
                               for i in range(int(seconds * rate))))


def run_tests(tests):
    """Runs every test, reports each, and exits non-zero if any failed."""
    import sys
    passed = failed = 0
    for t in tests:
        try:
            t()
            print(f"PASS {t.__name__}", flush=True)
            passed += 1
        except Exception as e:  # report every test, then fail
            print(f"FAIL {t.__name__}: {e}", flush=True)
            failed += 1
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
