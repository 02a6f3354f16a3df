"""The figure among other windows and the session: it stands aside for a
fullscreen window on its monitor and comes back after, keeps swinging beside
one on another monitor, and sleeps (no wake-ups, never raised) while a screen
saver runs, a locker covers it or the session's services say nobody is
there."""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, Skip, check, run_tests, stopped, wakeup_rates  # noqa: E402
from test_monitors_tray_instance import set_monitors  # noqa: E402
from test_swing import check_clean_screen  # noqa: E402
from Xlib import X, Xatom, Xutil  # noqa: E402
from Xlib.protocol import event  # noqa: E402

BINARY = sys.argv[1]
SHOTS = os.environ.get("TASSIO_SHOTS")
FULLSCREEN_COLOUR = (0x30, 0x60, 0xA0)
PLAIN_COLOUR = (0xC0, 0xB0, 0x40)


def write_settings(program, on_top=1, pivot=(300, 200)):
    with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
        f.write(f"{pivot[0]},{pivot[1]},20,128,64,{on_top},0,1,0,NULL NULL\n")


def pixel(colour):
    return (colour[0] << 16) | (colour[1] << 8) | colour[2]


def client_window(s, name, rect, colour, fullscreen=False):
    """A window as a video player makes it: placed where asked (on the
    monitor of rect), fullscreen from the start when asked, and mapped."""
    x, y, w, h = rect
    win = s.root.create_window(x, y, w, h, 0, s.d.screen().root_depth, background_pixel=pixel(colour))
    win.set_wm_name(name)
    win.set_wm_normal_hints(flags=Xutil.USPosition | Xutil.USSize, x=x, y=y, width=w, height=h)
    if fullscreen:
        win.change_property(s.d.intern_atom("_NET_WM_STATE"), Xatom.ATOM, 32,
                            [s.d.intern_atom("_NET_WM_STATE_FULLSCREEN")])
    win.map()
    s.d.sync()
    # A window manager just started may not yet focus new windows: asked
    # again as a user would click.
    for attempt in range(3):
        try:
            s.wait_active(win.id, 3)
            break
        except AssertionError:
            if attempt == 2:
                raise
            s.xdotool("windowactivate", "--sync", str(win.id), check=False)
    return win


def close_window(s, win):
    """Destroys the window and waits until the window manager has let go of
    it: python-xlib gives a freed id to the next window, which the window
    manager must not take for the old one."""
    win.destroy()
    s.d.sync()
    clients = s.d.intern_atom("_NET_CLIENT_LIST")

    def gone():
        listed = s.root.get_full_property(clients, Xatom.WINDOW)
        return listed is None or win.id not in listed.value
    s.wait_for(gone, 10, f"the window manager still lists window {win.id}")


def ask_fullscreen(s, win, on):
    """What a program sends to go into or out of fullscreen (EWMH)."""
    message = event.ClientMessage(window=win, client_type=s.d.intern_atom("_NET_WM_STATE"),
                                  data=(32, [1 if on else 0, s.d.intern_atom("_NET_WM_STATE_FULLSCREEN"), 0, 1, 0]))
    s.root.send_event(message, event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
    s.d.sync()


def fullscreen_on(s, name, monitor):
    """A window shown first on the monitor, then asking for fullscreen, as a
    video player does: the window manager makes it fullscreen where it is."""
    x, y, w, h = monitor
    win = client_window(s, name, (x + 100, y + 100, 320, 240), FULLSCREEN_COLOUR)
    s.wait_for(lambda: x <= s.window_geometry(win.id)[0] < x + w, 10,
               lambda: f"{name} is at {s.window_geometry(win.id)}, not on {monitor}")
    ask_fullscreen(s, win, True)
    wait_fullscreen(s, win, monitor)
    return win


def wait_fullscreen(s, win, monitor):
    # Under load openbox has once been seen to map a window asking for
    # fullscreen at its normal place: asked again, as a user would press
    # the key again.
    for attempt in range(2):
        try:
            s.wait_for(lambda: s.window_geometry(win.id) == monitor, 5,
                       lambda: f"{win.get_wm_name()} is at {s.window_geometry(win.id)}, not fullscreen on {monitor}")
            return
        except AssertionError:
            if attempt == 1:
                raise
            ask_fullscreen(s, win, True)


def only_colour(s, rect, colour):
    """How many pixels of rect differ from the colour, once the screen has settled."""
    shot = s.settled_screenshot(*rect)
    return sum(1 for p in shot.getdata() if p != colour)


def wait_aside(s, proc, wid, monitor, what):
    """Off the screen, asleep, and not one of its pixels over the fullscreen window."""
    s.wait_for(lambda: not s.is_viewable(wid), 10, f"{what}: the figure is still on the screen")
    s.wait_asleep(proc, what)
    stray = only_colour(s, monitor, FULLSCREEN_COLOUR)
    check(stray == 0, f"{what}: {stray} pixels over the fullscreen window are not its own")


def wait_swinging(s, wid, what):
    s.wait_for(lambda: s.is_viewable(wid), 10, f"{what}: the figure did not come back")
    s.wait_ticks(wid, 3, 10)


def hidden_figure(s):
    """The figure's window, mapped or not: of the program's windows named
    Tassio, the one that no window manager manages."""
    def search():
        out = s.xdotool("search", "--name", "^Tassio$", check=False)
        for wid in out.split():
            if s.d.create_resource_object("window", int(wid)).get_attributes().override_redirect:
                return int(wid)
        return None
    return s.wait_for(search, 10, "no figure window")


def window_under_pointer(s, x, y):
    """The top-level window that a click at (x, y) reaches."""
    s.xdotool("mousemove", str(x), str(y))
    fields = dict(line.split("=", 1) for line in s.xdotool("getmouselocation", "--shell").splitlines())
    return int(fields["WINDOW"])


def save_shot(s, name):
    if SHOTS:
        s.settled_screenshot().save(os.path.join(SHOTS, name))


def finish(s, proc):
    s.close_panel()
    proc.wait(timeout=15)
    check(proc.returncode == 0, f"exit status {proc.returncode}")
    out = proc.stdout.read().decode(errors="replace")
    check("QDBus" not in out and "DBus" not in out, f"the program complained about D-Bus: {out!r}")


def test_a_fullscreen_window_on_its_monitor_and_the_ways_it_ends():
    screen = (0, 0, 1024, 768)
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        wait_swinging(s, wid, "at start")

        def leave(win):
            ask_fullscreen(s, win, False)

        def minimise(win):
            s.xdotool("windowminimize", "--sync", str(win.id))

        def destroy(win):
            close_window(s, win)

        def activate_another(win):
            return client_window(s, "other", (600, 50, 300, 200), PLAIN_COLOUR)

        ways = [("leaves fullscreen", leave), ("is minimised", minimise), ("is destroyed", destroy),
                ("loses the focus to another window there", activate_another)]
        for number, (what, end) in enumerate(ways):
            win = client_window(s, f"video {number}", (600, 50, 320, 240), FULLSCREEN_COLOUR, fullscreen=True)
            wait_fullscreen(s, win, screen)
            wait_aside(s, proc, wid, screen, f"a fullscreen window that then {what}")
            if number == 0:
                save_shot(s, "fullscreen-one-monitor.png")
            other = end(win)
            wait_swinging(s, wid, f"after the fullscreen window {what}")
            # Kept on top, it is above whatever is left.
            with stopped(proc):
                x, y, _, _ = s.window_geometry(wid)
                s.wait_for(lambda: window_under_pointer(s, x + 47, y + 47) == wid, 5,
                           f"after the fullscreen window {what}: the figure is not on top")
            for w in ([] if end is destroy else [win]) + ([other] if other else []):
                close_window(s, w)
        finish(s, proc)


def test_a_fullscreen_window_there_before_the_start():
    """Neither kept on top nor not: the figure never shows over it."""
    screen = (0, 0, 1024, 768)
    for on_top in (0, 1):
        with Session() as s:
            # Away from the figure when it leaves fullscreen.
            win = client_window(s, "video", (600, 50, 320, 240), FULLSCREEN_COLOUR, fullscreen=True)
            wait_fullscreen(s, win, screen)
            program = s.install_program(BINARY)
            write_settings(program, on_top)
            s.watch_maps()
            proc = s.start(program)
            wid = hidden_figure(s)
            wait_aside(s, proc, wid, screen, f"always on top {on_top}, fullscreen before the start")
            mapped = []
            while s.d.pending_events():
                ev = s.d.next_event()
                if ev.type == X.MapNotify and ev.window.id == wid:
                    mapped.append(ev)
            check(not mapped, f"always on top {on_top}: the figure was mapped over the fullscreen window")
            ask_fullscreen(s, win, False)
            wait_swinging(s, wid, f"always on top {on_top}, after the window left fullscreen")
            finish(s, proc)


def test_two_monitors():
    left, right = (0, 0, 1024, 768), (1024, 0, 1024, 768)
    with Session(width=2048, height=768) as s:
        set_monitors(s, [("L", *left), ("R", *right)])
        program = s.install_program(BINARY)
        write_settings(program, pivot=(300, 200))
        proc = s.start(program)
        wid = s.find_window("Tassio")
        wait_swinging(s, wid, "at start")

        # Fullscreen on the other monitor: the figure swings on beside it.
        other = fullscreen_on(s, "video R", right)
        s.wait_ticks(wid, 10, 10)
        check(s.is_viewable(wid), "the figure left its monitor's screen for a window on the other")
        check(only_colour(s, right, FULLSCREEN_COLOUR) == 0, "something shows over the other monitor's window")
        save_shot(s, "fullscreen-other-monitor.png")
        close_window(s, other)

        # Fullscreen on its own monitor: aside, and a click on the other
        # monitor keeps it so; a window activated on its own brings it back.
        video = client_window(s, "video L", (100, 100, 320, 240), FULLSCREEN_COLOUR, fullscreen=True)
        wait_fullscreen(s, video, left)
        wait_aside(s, proc, wid, left, "a fullscreen window on its monitor")
        save_shot(s, "fullscreen-its-monitor-of-two.png")
        elsewhere = client_window(s, "notes R", (1300, 200, 300, 200), PLAIN_COLOUR)
        wait_aside(s, proc, wid, left, "a window activated on the other monitor")
        s.xdotool("windowactivate", "--sync", str(video.id))
        s.wait_active(video.id)
        here = client_window(s, "notes L", (600, 50, 300, 200), PLAIN_COLOUR)
        wait_swinging(s, wid, "after a window on its monitor became active")
        for w in (here, elsewhere, video):
            close_window(s, w)

        # Dragged onto the monitor of a fullscreen window, it stands aside
        # there too.
        other = fullscreen_on(s, "video R", right)
        s.wait_ticks(wid, 3, 10)
        with stopped(proc):
            x, y, _, _ = s.window_geometry(wid)
            s.xdotool("mousemove", str(x + 47), str(y + 47))
            s.xdotool("mousedown", "1")
        for px in range(x + 147, 1500, 150):
            s.xdotool("mousemove", str(px), "300")
        s.xdotool("mousemove", "1500", "300", "mouseup", "1")
        wait_aside(s, proc, wid, right, "dragged onto the fullscreen window's monitor")
        close_window(s, other)
        wait_swinging(s, wid, "after the fullscreen window on its new monitor closed")
        check(s.window_geometry(wid)[0] >= 1024, f"the figure is back at {s.window_geometry(wid)}, not on its new monitor")
        finish(s, proc)


def shifted(x, y):
    """Another desktop picture, for what lies behind the figure to change
    while it sleeps."""
    r = (x * 3 + y * 11) & 0xFF
    g = 0x30 if ((x >> 2) + (y >> 4)) & 1 else 0xD0
    b = (x * 5 + y) & 0xFF
    return (r, g, b)


def test_the_screen_saver():
    """Asleep while the saver runs, and awake after. In the fallback that
    paints the desktop behind the figure, what it paints after waking is the
    desktop as it is then, not as it was."""
    from PIL import Image
    for env in ({}, {"TASSIO_NO_SHAPE": "1"}):
        with Session() as s:
            program = s.install_program(BINARY)
            write_settings(program, pivot=(300, 200))
            proc = s.start(program, env)
            wid = s.find_window("Tassio")
            wait_swinging(s, wid, f"{env} at start")
            subprocess.run(["xset", "s", "activate"], env=s.env, check=True)
            rate = s.wait_asleep(proc, f"{env} the screen saver on")
            check(s.is_viewable(wid), "the figure went off the screen for the saver")
            # The desktop changes under the saver.
            picture = Image.new("RGB", (s.width, s.height))
            picture.putdata([shifted(x, y) for y in range(s.height) for x in range(s.width)])
            s.set_root_pattern(picture)
            subprocess.run(["xset", "s", "reset"], env=s.env, check=True)
            wait_swinging(s, wid, f"{env} after the saver")
            check_clean_screen(s, proc, wid, shifted)
            print(f"  {env or 'shaped'}: {rate:.2f} wake-ups a second with the saver on", flush=True)
            finish(s, proc)


def test_a_locker_is_not_fought():
    """i3lock raises its window whenever something shows over it; the figure,
    kept on top, raised itself at each tick: neither may wake more than
    twice a second, and nothing of the figure shows on the lock screen."""
    if not subprocess.run(["which", "i3lock"], capture_output=True).returncode == 0:
        raise Skip("i3lock is not installed")
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        wait_swinging(s, wid, "at start")
        locker = subprocess.Popen(["i3lock", "-n", "-c", "203040"], env=s.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.procs.append(locker)
        s.find_window("i3lock")
        s.wait_asleep(proc, "under the locker")
        rates = wakeup_rates([proc.pid, locker.pid], 3.0)
        check(rates[0] <= 2 and rates[1] <= 2,
              f"wake-ups a second: the program {rates[0]:.1f}, i3lock {rates[1]:.1f}: a raise war")
        stray = only_colour(s, (0, 0, s.width, s.height), (0x20, 0x30, 0x40))
        check(stray == 0, f"{stray} pixels on the lock screen are not the locker's")
        locker.kill()
        locker.wait(timeout=10)
        wait_swinging(s, wid, "after the locker")
        finish(s, proc)


class Buses:
    """Two private dbus-daemons, one standing for the system bus, and the
    fake logind and screen saver services on them."""

    def __init__(self, s, locked):
        self.s = s
        self.daemons = []
        self.addresses = []
        for name in ("system", "session"):
            path = os.path.join(s.tmp, f"{name}-bus")
            d = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                                  f"--address=unix:path={path}"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            s.procs.append(d)
            self.daemons.append(d)
            self.addresses.append(d.stdout.readline().decode().strip())
            check(self.addresses[-1].startswith("unix:"), f"the {name} dbus-daemon did not start")
        args = ["/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 "fake_session_services.py")] + self.addresses
        # Bytes, as the session reads what its processes left when it ends.
        self.fake = subprocess.Popen(args + (["--locked"] if locked else []), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
        s.procs.append(self.fake)
        line = self.fake.stdout.readline().decode().strip()
        check(line == "ready", f"the fake services did not start: {line!r}")
        self.env = {"DBUS_SYSTEM_BUS_ADDRESS": self.addresses[0], "DBUS_SESSION_BUS_ADDRESS": self.addresses[1]}

    def say(self, command):
        self.fake.stdin.write(command.encode() + b"\n")
        self.fake.stdin.flush()
        answer = self.fake.stdout.readline().decode().strip()
        check(answer == f"done {command}", f"the fake services answered {answer!r} to {command!r}")


def test_the_session_services_over_dbus():
    steps = [
        # (what the services say, asleep after)
        ("unlock", False),
        ("lock", True),
        ("unlock", False),
        ("inactive", True),
        ("active", False),
        ("suspend", True),
        ("resume", False),
        ("freedesktop-saver on", True),
        ("freedesktop-saver off", False),
        ("gnome-saver on", True),
        ("gnome-saver off", False),
        ("gnome-saver on", True),
        ("gnome-saver quit", False),     # what a service said goes with it
        ("freedesktop-saver on", True),
        ("freedesktop-saver quit", False),
        ("lock", True),
        ("logind-quit", False),
    ]
    with Session() as s:
        buses = Buses(s, locked=True)
        program = s.install_program(BINARY)
        write_settings(program)
        proc = s.start(program, buses.env)
        # Asleep, it stays on the screen.
        wid = s.find_window("Tassio")
        # Locked before the start: asleep from the first answer on.
        s.wait_asleep(proc, "a session locked before the start")
        for command, asleep in steps:
            buses.say(command)
            if asleep:
                s.wait_asleep(proc, f"after {command!r}")
            else:
                wait_swinging(s, wid, f"after {command!r}")
        finish(s, proc)


TESTS = [test_a_fullscreen_window_on_its_monitor_and_the_ways_it_ends, test_a_fullscreen_window_there_before_the_start,
         test_two_monitors, test_the_screen_saver, test_a_locker_is_not_fought,
         test_the_session_services_over_dbus]

if __name__ == "__main__":
    # Names after the program pick tests by part of their name; "-name" leaves
    # them out, so that two runs, "a b" and "-a -b", share every test.
    wanted = [n for n in sys.argv[2:] if not n.startswith("-")]
    unwanted = [n[1:] for n in sys.argv[2:] if n.startswith("-")]
    for name in wanted + unwanted:
        if not any(name in t.__name__ for t in TESTS):
            sys.exit(f"no test is named like {name!r}")
    TESTS = [t for t in TESTS if (not wanted or any(n in t.__name__ for n in wanted))
             and not any(n in t.__name__ for n in unwanted)]
    run_tests(TESTS)
