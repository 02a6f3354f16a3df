"""End-to-end harness: a private Xvfb with openbox, a root pattern, the real
program in a temporary folder, and pixel-exact screenshots."""

import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
import time

from PIL import Image
from Xlib import X, Xatom, display as xdisplay
from Xlib.xobject.drawable import Window

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


def isolated_env(folder, **extra):
    """The environment of one test session: everything a program could share
    with another session, or with the desktop the tests run in, lies in the
    session's own folder or is cut off. Scripts run in parallel, each with
    its own sessions, and get this from Session without asking."""
    env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=folder,
               XDG_CONFIG_HOME=os.path.join(folder, "config"), XDG_CACHE_HOME=os.path.join(folder, "cache"),
               XDG_DATA_HOME=os.path.join(folder, "data"), XDG_STATE_HOME=os.path.join(folder, "state"),
               TMPDIR=folder,
               # No sound server unless the session starts one; nothing listens here.
               PULSE_SERVER="unix:" + os.path.join(folder, "no-pulse"),
               # Nor a D-Bus session bus: the program would otherwise find the
               # desktop's (its tray and theme use it) or start one per display.
               DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(folder, "no-session-bus"),
               # Neither the machine's logind: a locked or inactive session
               # outside would put the figure to sleep.
               DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(folder, "no-system-bus"))
    for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SESSION_MANAGER", "AT_SPI_BUS_ADDRESS", "XAUTHORITY",
                 "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "DISPLAY"):
        env.pop(name, None)
    env.update(extra)
    return env


class Skip(Exception):
    """A test that cannot run here (a program it needs will not start)."""


# PipeWire, its session manager and its PulseAudio server, as a desktop session
# starts them, on the private runtime folder. The pids go to files so that a test
# can stop the pulse server; a TERM ends all three and waits for them.
PIPEWIRE_STACK = r"""
trap 'kill $pp $wp $pw 2>/dev/null; wait; exit 0' TERM INT
pipewire & pw=$!
echo $pw > "$1/pipewire.pid"
while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do
    kill -0 $pw 2>/dev/null || exit 1
    sleep 0.05
done
wireplumber & wp=$!
echo $wp > "$1/wireplumber.pid"
pipewire-pulse & pp=$!
echo $pp > "$1/pipewire-pulse.pid"
wait
"""


# Xorg with the dummy driver: a screen whose mode xrandr can change, as when
# a monitor is unplugged. No input devices of its own (xdotool's go through
# XTEST), no console switching.
XORG_DUMMY_CONF = """
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 32768
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "{width}x{height}" "1024x768" "800x600" "640x480"
        Virtual {width} {height}
    EndSubSection
EndSection
"""
XORG_DUMMY_DRIVER = "/usr/lib/xorg/modules/drivers/dummy_drv.so"


class Session:
    """Xvfb + openbox. Use as a context manager. sound: False, True (PulseAudio)
    or "pipewire"; either way a null sink named nul that Recorder records.
    server: "xvfb", or "xorg" for Xorg's dummy driver, whose screen xrandr can
    resize (Skip when it cannot run here)."""

    def __init__(self, wm=True, width=WIDTH, height=HEIGHT, sound=False, server="xvfb"):
        self.wm = wm
        self.sound = "pulseaudio" if sound is True else sound
        self.server = server
        self.width, self.height = width, height
        self.procs = []
        self.groups = []  # process groups to end as a whole
        self.tmp = tempfile.mkdtemp(prefix="tassio-e2e-")
        # Sanitizer reports land here, from whichever user a test runs the
        # program as.
        self.reports = os.path.join(self.tmp, "reports")
        os.mkdir(self.reports)
        os.chmod(self.reports, 0o1777)

    def _server_command(self, wfd):
        if self.server == "xvfb":
            return ["Xvfb", "-displayfd", str(wfd), "-screen", "0", f"{self.width}x{self.height}x24",
                    "-noreset", "-nolisten", "tcp"]
        missing = [what for what, there in (("Xorg", shutil.which("Xorg")),
                                            ("its dummy driver", os.path.exists(XORG_DUMMY_DRIVER))) if not there]
        if missing:
            raise Skip("not installed: " + ", ".join(missing) + " (xserver-xorg-core, xserver-xorg-video-dummy)")
        conf = os.path.join(self.tmp, "xorg.conf")
        confdir = os.path.join(self.tmp, "xorg.conf.d")
        os.makedirs(confdir, exist_ok=True)
        with open(conf, "w") as f:
            f.write(XORG_DUMMY_CONF.replace("{width}", str(self.width)).replace("{height}", str(self.height)))
        self.server_log = os.path.join(self.tmp, "xorg.log")
        return ["Xorg", "-displayfd", str(wfd), "-config", conf, "-configdir", confdir, "-logfile", self.server_log,
                "-noreset", "-nolisten", "tcp", "-novtswitch", "-sharevts"]

    def __enter__(self):
        rfd, wfd = os.pipe()
        try:
            command = self._server_command(wfd)
        except BaseException:
            os.close(rfd)
            os.close(wfd)
            shutil.rmtree(self.tmp, ignore_errors=True)
            raise
        server = subprocess.Popen(command, pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(wfd)
        number = b""
        with os.fdopen(rfd, "rb") as r:
            while not number.endswith(b"\n"):
                ch = r.read(1)
                if not ch:
                    break
                number += ch
        self.procs.append(server)
        if not number.endswith(b"\n"):
            why = f"{command[0]} did not start"
            if self.server == "xorg":
                why += ": " + self._tail(self.server_log)
            self.__exit__(None, None, None)
            if self.server == "xorg":
                raise Skip(why)
            raise RuntimeError(why)
        self.display_name = ":" + number.decode().strip()
        self.env = isolated_env(self.tmp, DISPLAY=self.display_name)
        try:
            if self.sound == "pulseaudio":
                self._start_pulseaudio()
            elif self.sound == "pipewire":
                self._start_pipewire()
        except BaseException:
            self.__exit__(None, None, None)
            raise
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
        # Sound servers leave helpers of their own behind unless the whole group
        # goes. A stopped one must be woken to hear the TERM; what is left is killed.
        for g in self.groups:
            for sig in (signal.SIGCONT, signal.SIGTERM):
                try:
                    os.killpg(g, sig)
                except ProcessLookupError:
                    pass
        for p in self.procs:
            if p.pid in self.groups:
                try:
                    p.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    pass
        for g in self.groups:
            try:
                os.killpg(g, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for p in reversed(self.procs):
            if p.poll() is None:
                # The X server (the first) is asked, so that it takes its
                # socket and lock file along; the others are killed.
                if p is self.procs[0]:
                    p.terminate()
                    try:
                        p.wait(timeout=3)
                    except subprocess.TimeoutExpired:
                        p.kill()
                else:
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
        for name in sorted(os.listdir(self.reports)):
            if name.startswith(("asan.", "ubsan.")):
                with open(os.path.join(self.reports, name), errors="replace") as f:
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
        pa = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
             "--load=module-native-protocol-unix",
             "--load=module-null-sink sink_name=nul norewinds=1", "--load=module-always-sink"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.procs.append(pa)
        self.groups.append(pa.pid)
        self.wait_for(lambda: "Default Sink: nul" in self.pactl("info"), 15, "pulseaudio did not start")

    def _start_pipewire(self):
        """PipeWire with wireplumber and pipewire-pulse under a private D-Bus
        session, and a null sink for the program to play into."""
        missing = [p for p in ("dbus-run-session", "pipewire", "wireplumber", "pipewire-pulse", "pw-record",
                               "pactl") if not shutil.which(p)]
        if missing:
            raise Skip("PipeWire stack not installed: " + ", ".join(missing))
        runtime = os.path.join(self.tmp, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.env["PULSE_SERVER"] = "unix:" + os.path.join(runtime, "pulse", "native")
        # The session manager's Bluetooth part needs logind's session folder
        # (/run/systemd/sessions): where none is, as in a container or a bare
        # chroot, wireplumber gives up at start and no sink can become the
        # default. The tests play into a null sink; Bluetooth stays off.
        bluetooth = os.path.join(self.env["XDG_CONFIG_HOME"], "wireplumber", "bluetooth.lua.d")
        os.makedirs(bluetooth, exist_ok=True)
        with open(os.path.join(bluetooth, "90-enable-all.lua"), "w") as f:
            f.write("-- No Bluetooth monitor in a test session.\n")
        log_path = os.path.join(self.tmp, "pipewire.log")
        with open(log_path, "wb") as log:
            pw = subprocess.Popen(["dbus-run-session", "--", "sh", "-c", PIPEWIRE_STACK, "stack", self.tmp],
                                  env=self.env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        self.procs.append(pw)
        self.groups.append(pw.pid)

        def up():
            if pw.poll() is not None:
                raise Skip(f"the PipeWire stack exited: {self._tail(log_path)}")
            return "on PipeWire" in self.pactl("info")
        try:
            self.wait_for(up, 15, "no answer")
        except AssertionError:
            raise Skip(f"the PipeWire stack did not answer within 15 s: {self._tail(log_path)}")
        self.pactl("load-module", "module-null-sink", "sink_name=nul")

        def default_sink():
            # Only the session manager can make a sink the default.
            if not self._alive("wireplumber.pid"):
                raise AssertionError(f"wireplumber exited: {self._tail(log_path)}")
            self.pactl("set-default-sink", "nul")
            return "Default Sink: nul" in self.pactl("info")
        self.wait_for(default_sink, 10, lambda: "PipeWire's null sink did not become the default sink: "
                                                f"{self.pactl('list', 'short', 'sinks')!r}; {self._tail(log_path)}")

    def _alive(self, pid_file):
        try:
            with open(os.path.join(self.tmp, pid_file)) as f:
                pid = int(f.read())
        except (OSError, ValueError):
            return True  # not started yet
        return process_state(pid) not in (None, "Z")

    def pulse_server_pid(self):
        """The process that speaks the PulseAudio protocol to the program."""
        if self.sound == "pipewire":
            with open(os.path.join(self.tmp, "pipewire-pulse.pid")) as f:
                return int(f.read())
        return self.groups[0]

    @staticmethod
    def _tail(path, lines=5):
        try:
            with open(path, errors="replace") as f:
                return " | ".join(f.read().splitlines()[-lines:])
        except OSError:
            return "(no log)"

    def pactl(self, *args):
        try:
            r = subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True,
                               timeout=10 * TIME_SCALE)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"pactl {' '.join(args)} got no answer from the sound server in 10 s")
        return r.stdout

    def set_mode(self, width, height):
        """Changes the mode of the screen's one connected output, as a
        monitor swapped for a smaller one (Xorg's dummy driver only)."""
        out = subprocess.run(["xrandr"], env=self.env, capture_output=True, text=True, check=True).stdout
        output = next(line.split()[0] for line in out.splitlines() if " connected" in line)
        subprocess.run(["xrandr", "--output", output, "--mode", f"{width}x{height}"], env=self.env, check=True,
                       capture_output=True)
        self.width, self.height = width, height
        self.wait_for(lambda: self.root.get_geometry()._data["width"] == width, 5,
                      f"the screen did not become {width} x {height}")

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
        # As wallpaper setters do: compositing managers draw the root from
        # the pixmap these name (the connection keeps it alive).
        for name in ("_XROOTPMAP_ID", "ESETROOT_PMAP_ID"):
            self.root.change_property(self.d.intern_atom(name), Xatom.PIXMAP, 32, [pix.id])
        self.d.sync()

    def screenshot(self, x=0, y=0, w=None, h=None):
        w = w or self.width
        h = h or self.height
        raw = self.root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        return Image.frombytes("RGB", (w, h), raw.data, "raw", "BGRX")

    @staticmethod
    def wait_for(pred, timeout, message, every=None):
        """Polls pred until it gives something true, and returns that; fails
        with message (a string, or a function giving one, called then) when
        timeout seconds pass first. every: a fixed interval, for predicates
        that must see each change (a window's every place)."""
        end = time.time() + timeout * TIME_SCALE
        # Otherwise quick at first, then no faster than a tenth of a second:
        # many predicates start a process (xdotool, pactl), and on a busy
        # machine polling would take the CPU from what is waited for.
        nap = every or 0.01
        while time.time() < end:
            v = pred()
            if v:
                return v
            time.sleep(nap)
            nap = every or min(nap * 1.5, 0.1)
        raise AssertionError(message() if callable(message) else message)

    def repaint_screen(self):
        """Has every window and the desktop drawn afresh, as a window that
        comes and goes over the whole screen does: what a compositing manager
        shows afterwards is what it draws now, not what it left behind."""
        cover = self.root.create_window(0, 0, self.width, self.height, 0, X.CopyFromParent,
                                        override_redirect=True, background_pixel=0)
        cover.map()
        self.d.sync()
        cover.unmap()
        cover.destroy()
        self.d.sync()

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
        self.wait_for(enough, timeout, lambda: f"the window took only {len(seen)} of {count} positions", every=0.005)
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
        self.wait_for(moved_enough, timeout, lambda: f"the figure moved only {moves[0]} of {count} times",
                      every=0.005)

    def wait_active(self, wid, timeout=10):
        """Waits until the window manager calls the window active and the X
        server gives it the keyboard: keys typed then reach it."""
        self.wait_for(lambda: self.xdotool("getactivewindow", check=False) == str(wid) and self.has_focus(wid),
                      timeout, lambda: f"window {wid} never became active (active: "
                                       f"{self.xdotool('getactivewindow', check=False)}, "
                                       f"focus: {self.d.get_input_focus().focus})")

    def has_focus(self, wid):
        focus = self.d.get_input_focus().focus
        while isinstance(focus, Window) and focus.id != self.root.id:
            if focus.id == wid:
                return True
            focus = focus.query_tree().parent
        return False

    # The program ---------------------------------------------------------

    def install_program(self, binary, folder=None):
        """Copies the program into an empty folder of its own, where it keeps
        its settings file."""
        folder = folder or tempfile.mkdtemp(prefix="app-", dir=self.tmp)
        target = os.path.join(folder, "tassio")
        shutil.copy2(binary, target)
        return target

    def start(self, program, extra_env=None, prefix=()):
        """Starts the program in its folder; prefix goes before it on the
        command line (setpriv, say)."""
        env = dict(self.env)
        # The tests find the panel by its Chinese title: the program shows its
        # Chinese texts, in a UTF-8 locale every system has (window titles
        # reach X in the locale's encoding, and xdotool matches them in UTF-8).
        for name in ("LC_ALL", "LC_MESSAGES"):
            env.pop(name, None)
        env.update(LANG="C.UTF-8", LANGUAGE="zh_CN")
        # In a sanitizer build the reports go to files that the session checks.
        for var, name in (("ASAN_OPTIONS", "asan"), ("UBSAN_OPTIONS", "ubsan")):
            options = [o for o in env.get(var, "").split(":") if o and not o.startswith("log_path=")]
            env[var] = ":".join(options + ["log_path=" + os.path.join(self.reports, name)])
        env.update(extra_env or {})
        p = subprocess.Popen([*prefix, program], env=env, cwd=os.path.dirname(program),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.procs.append(p)
        return p

    def xdotool(self, *args, check=True):
        try:
            r = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                               timeout=30 * TIME_SCALE)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"xdotool {' '.join(args)} did not finish in 30 s")
        if check and r.returncode != 0:
            raise AssertionError(f"xdotool {' '.join(args)} failed: {r.stderr}")
        return r.stdout.strip()

    def find_window(self, name, timeout=20, only_visible=True):
        """The first window whose title is name (a regular expression for
        the whole title), in upper and lower case as given: xdotool ignores
        case, and the message box "tassio" is not the figure "Tassio"."""
        def search():
            args = ["search"] + (["--onlyvisible"] if only_visible else []) + ["--name", f"^{name}$"]
            out = self.xdotool(*args, check=False)
            found = [int(w) for w in out.split()] if out else []
            return [w for w in found if self._title_is(w, name)] or None
        return self.wait_for(search, timeout, f"no window named {name}")[0]

    def window_title(self, wid):
        """A window's title as the window manager shows it (_NET_WM_NAME in
        UTF-8, else WM_NAME), or None for a window that has gone."""
        from Xlib import error
        w = self.d.create_resource_object("window", wid)
        try:
            prop = w.get_full_property(self.d.intern_atom("_NET_WM_NAME"), self.d.intern_atom("UTF8_STRING"))
            if prop is not None:
                value = prop.value
                return value.decode("utf-8", "replace") if isinstance(value, bytes) else value
            name = w.get_wm_name()
            return name.decode("latin-1") if isinstance(name, bytes) else name
        except error.XError:
            return None

    def _title_is(self, wid, name):
        import re
        title = self.window_title(wid)
        if title is None:
            return False
        try:
            return title == name or re.fullmatch(name, title) is not None
        except re.error:
            return False

    def watch_maps(self):
        """Starts listening for top-level windows being mapped; call before
        starting the program, then wait_for_map."""
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.d.sync()

    def wait_for_map(self, name, timeout=10):
        """time.monotonic() when a top-level window named name was mapped.
        The figure's picture is its background, there before it maps, so this
        is when it first shows."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            while self.d.pending_events():
                ev = self.d.next_event()
                now = time.monotonic()
                if ev.type == X.MapNotify:
                    try:
                        if ev.window.get_wm_name() == name:
                            return now
                    except Exception:
                        pass
            time.sleep(0.0005)
        raise AssertionError(f"no window named {name} was mapped")

    def activate(self, wid, attempts=3):
        """Brings a window up front and waits until it has the keyboard, as a
        click on it would. Under load an activation has been seen not to take
        within seconds; asking again is what a user would do."""
        for attempt in range(attempts):
            # Not --sync: xdotool would wait for it without a deadline.
            self.xdotool("windowactivate", str(wid), check=False)
            try:
                self.wait_active(wid, 5)
                return
            except AssertionError:
                if attempt == attempts - 1:
                    raise

    def close_panel(self):
        """Ends the program as a user would: the panel up front, then Esc."""
        self.activate(self.find_window("设定", only_visible=False))
        self.xdotool("key", "Escape")

    def is_viewable(self, wid):
        """Whether the window is on the screen; a destroyed one is not."""
        from Xlib import error
        try:
            return self.d.create_resource_object("window", wid).get_attributes().map_state == X.IsViewable
        except error.XError:
            return False

    def wait_settled(self, wid, what, timeout=10):
        """Waits until a window is viewable and has kept its place and size for
        a few reads in a row (window managers animate maps and restores);
        returns that geometry."""
        seen = []

        def settled():
            seen.append(self.window_geometry(wid) if self.is_viewable(wid) else None)
            time.sleep(0.05)
            return seen[-1] is not None and seen[-3:] == [seen[-1]] * 3

        self.wait_for(settled, timeout, lambda: f"{what} did not settle: {seen[-3:]}")
        return seen[-1]

    def press_on(self, proc, wid, dx, dy, button="1"):
        """Presses a mouse button at (dx, dy) in a swinging window with the
        program stopped, so that the press lands where the window was read to
        be (the server then holds the pointer for it). Returns the window's
        geometry at the press."""
        with stopped(proc):
            geometry = self.window_geometry(wid)
            self.xdotool("mousemove", "--sync", str(geometry[0] + dx), str(geometry[1] + dy))
            self.xdotool("mousedown", button)
        return geometry

    def figure_pixels(self, proc, wid, colour):
        """Pixels of the colour in the figure window, with the program stopped."""
        with stopped(proc):
            x, y, _, _ = self.window_geometry(wid)
            px = self.settled_screenshot(x, y, 95, 95).load()
            return sum(1 for yy in range(95) for xx in range(95) if px[xx, yy] == colour)

    def wait_figure_pixels(self, proc, wid, colour, least, what, timeout=10):
        """Waits until more than least pixels of the figure show the colour."""
        counts = []

        def enough():
            counts.append(self.figure_pixels(proc, wid, colour))
            return counts[-1] > least
        self.wait_for(enough, timeout, lambda: f"{what} shows in only {counts[-1:]} pixels")

    def window_events(self, wid, seconds):
        """What the X server tells of a window over seconds, in order:
        ("configure", x, y, width, height) for each ConfigureNotify and
        ("shape", kind, top, height) for each ShapeNotify (kind 0 bounding,
        2 input; top and height of the shape's extents)."""
        w = self.d.create_resource_object("window", wid)
        w.change_attributes(event_mask=X.StructureNotifyMask)
        w.shape_select_input(1)
        self.d.sync()
        shape_notify = self.d.extension_event.ShapeNotify
        seen = []
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            while self.d.pending_events():
                ev = self.d.next_event()
                # A root watched for its children reports them too: each once.
                if ev.type == X.ConfigureNotify and ev.window.id == wid and ev.event.id == wid:
                    seen.append(("configure", ev.x, ev.y, ev.width, ev.height))
                elif ev.type == shape_notify and ev.affected_window.id == wid:
                    seen.append(("shape", ev.shape_kind, ev.extents_y, ev.extents_height))
            time.sleep(0.002)
        w.shape_select_input(0)
        w.change_attributes(event_mask=X.NoEventMask)
        self.d.sync()
        return seen

    def wait_asleep(self, proc, what, timeout=15, seconds=2.0, most=0.5):
        """Waits until the program wakes at most `most` times a second over
        `seconds` seconds: asleep, no timer running. Returns that rate."""
        rates = []

        def quiet():
            rates.append(wakeup_rates([proc.pid], seconds)[0])
            return rates[-1] <= most
        self.wait_for(quiet, timeout, lambda: f"{what}: the program still wakes {rates[-1]:.1f} times a second")
        return rates[-1]

    def window_geometry(self, wid):
        """Position on the root and size of a window, from the X server."""
        w = self.d.create_resource_object("window", wid)
        g = w.get_geometry()
        t = w.translate_coords(self.root, 0, 0)
        return (-t.x, -t.y, g.width, g.height)


def start_compositor(s, kind):
    """Starts a compositing manager in the session and waits until it owns the
    screen's compositing selection. kind: "picom" (plain), "picom-shadows"
    (-c), "picom-sample" (the sample configuration that Debian ships, with
    vsync off as Xvfb has no vblank) or "xcompmgr" (-c)."""
    if kind == "picom":
        cmd = ["picom", "--backend", "xrender", "--no-vsync", "--no-fading-openclose"]
    elif kind == "picom-shadows":
        cmd = ["picom", "-c", "--backend", "xrender", "--no-vsync", "--no-fading-openclose"]
    elif kind == "picom-sample":
        conf = os.path.join(s.tmp, "picom.conf")
        with open("/usr/share/doc/picom/examples/picom.sample.conf") as f:
            text = f.read().replace("vsync = true", "vsync = false")
        with open(conf, "w") as f:
            f.write(text)
        cmd = ["picom", "--config", conf]
    elif kind == "xcompmgr":
        cmd = ["xcompmgr", "-c"]
    else:
        raise ValueError(kind)
    p = subprocess.Popen(cmd, env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.procs.append(p)
    atom = s.d.intern_atom("_NET_WM_CM_S0")
    s.wait_for(lambda: s.d.get_selection_owner(atom) != X.NONE, 10, f"{kind} did not start")
    return p


def load_frames(base_id):
    """The seven frames of a built-in figure, as RGB images."""
    return [Image.open(os.path.join(RESOURCES, "figures", f"{base_id + k + 1:02d}.bmp")).convert("RGB")
            for k in range(7)]


def wakeups(pid):
    """How often the process has gone to sleep and been woken so far: the
    voluntary context switches of all its threads."""
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return 0
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        total += int(line.split()[1])
        except OSError:
            pass  # a thread that ended meanwhile
    return total


def wakeup_rates(pids, seconds):
    """Wake-ups per second of each process over the next seconds."""
    before = [wakeups(p) for p in pids]
    t0 = time.monotonic()
    time.sleep(seconds)
    after = [wakeups(p) for p in pids]
    elapsed = time.monotonic() - t0
    return [(a - b) / elapsed for a, b in zip(after, before)]


def rss_kb(pid):
    """Resident memory of a process, in kB."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


@contextlib.contextmanager
def stopped(proc):
    """The program stopped (SIGSTOP) for the block: its figure stays where it
    is read to be, and a press lands there; continued on the way out."""
    os.kill(proc.pid, signal.SIGSTOP)
    try:
        # The signal lands when the kernel next schedules the program; until
        # then it may still send a move.
        end = time.time() + 5
        while time.time() < end and process_state(proc.pid) not in ("T", "t", "Z", None):
            time.sleep(0.005)
        yield
    finally:
        os.kill(proc.pid, signal.SIGCONT)


def cpu_wait(pid):
    """Seconds the process's main thread has spent runnable but waiting for a
    CPU (the scheduler's run_delay); readable until the process is reaped."""
    with open(f"/proc/{pid}/schedstat") as f:
        return int(f.read().split()[1]) / 1e9


def wait_exit(proc, timeout, what):
    """Waits for the program to end, from now; returns (wall, own): seconds
    until it ended, and of those the ones its main thread did not spend
    waiting for a CPU. A busy machine adds to the first, only the program's
    own work and waits make up the second. Fails, naming what, at timeout."""
    start = time.time()
    queued = cpu_wait(proc.pid)
    # Read once ended but not yet reaped: a zombie keeps its counts.
    end = start + timeout * TIME_SCALE
    while process_state(proc.pid) not in ("Z", None) and time.time() < end:
        time.sleep(0.005)
    wall = time.time() - start
    if process_state(proc.pid) != "Z":
        raise AssertionError(f"{what}: the program still ran {timeout} s later")
    queued = cpu_wait(proc.pid) - queued
    proc.wait()
    return wall, wall - queued


def process_state(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return None


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class Recorder:
    """Records the null sink's monitor (mono, 16-bit) until stopped."""

    RATE = 8000

    def __init__(self, session, path, rate=None):
        self.s = session
        self.path = path
        self.rate = rate or self.RATE
        self.samples = None
        before = session.pactl("list", "short", "source-outputs")
        if session.sound == "pipewire":
            command = ["pw-record", "--target", "nul", "-P", "{ stream.capture.sink = true }",
                       f"--rate={self.rate}", "--channels=1", "--format=s16", "--latency=100ms", path]
        else:
            command = ["parecord", "--device=nul.monitor", "--file-format=wav", "--format=s16le",
                       f"--rate={self.rate}", "--channels=1", "--latency-msec=20", path]
        self.proc = subprocess.Popen(command, env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        session.procs.append(self.proc)
        session.wait_for(lambda: session.pactl("list", "short", "source-outputs") != before, 5,
                         "the recorder did not start")
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

    def wait_until(self, seconds_after_quiet=0.0, sounds=1, timeout=10, loud=0.0):
        """Waits until the recording holds the given number of sounds, each
        ended, at least loud seconds of sound in all, and then
        seconds_after_quiet seconds of silence; returns the spans. With
        sounds=0, waits for that much recorded silence."""
        def done():
            samples = self.recorded()
            spans = self.spans(samples)
            length = len(samples) / self.rate
            if len(spans) < sounds or loud_seconds(spans) < loud or (spans and spans[-1][1] >= length - 0.02):
                return None
            last = spans[-1][1] if spans else 0.0
            return (spans,) if length - last >= seconds_after_quiet else None
        return self.s.wait_for(done, timeout, f"never heard {sounds} sound(s) of {loud} s in all end")[0]

    def stop(self):
        """Returns the loud stretches as (start, end) seconds from the start;
        the samples stay in self.samples."""
        import wave
        import array
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(timeout=10)
        with wave.open(self.path) as w:
            self.samples = array.array("h", w.readframes(w.getnframes()))
        return self.spans(self.samples)

    def spans(self, samples):
        block = self.rate // 100  # 10 ms
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


def loud_seconds(spans):
    """How long the spans sound in all. A program whose threads wait for a
    CPU longer than its 0.2 s of buffered sound (a heavily loaded machine)
    underruns: the server plays silence meanwhile and the rest after it. So
    one sound may come as several spans, but its length is kept."""
    return sum(end - start for start, end in spans)


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
    """Runs every test and reports each; exits non-zero if any failed, and with
    77 (ctest's SKIP_RETURN_CODE) if every one was skipped."""
    import sys
    passed = failed = skipped = 0
    for t in tests:
        try:
            t()
            print(f"PASS {t.__name__}", flush=True)
            passed += 1
        except Skip as e:
            print(f"SKIP {t.__name__}: {e}", flush=True)
            skipped += 1
        except Exception as e:  # report every test, then fail
            print(f"FAIL {t.__name__}: {e}", flush=True)
            failed += 1
    print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    sys.exit(1 if failed else 77 if skipped and not passed else 0)
