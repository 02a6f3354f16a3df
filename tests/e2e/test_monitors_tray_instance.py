"""The desktop around the program: several monitors, a monitor that is gone,
a tray that comes late or restarts, a second start, a killed first instance,
and settings that cannot be saved anywhere."""

import os
import pwd
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, check, run_tests, stopped  # noqa: E402
from test_swing import check_one_size  # noqa: E402
from Xlib import X  # noqa: E402

BINARY = sys.argv[1]


def settings_file(program):
    return os.path.join(os.path.dirname(program), "Tassio.ini")


def write_settings(program, line):
    with open(settings_file(program), "w") as f:
        f.write(line + "\n")


def saved_pivot(program):
    first = open(settings_file(program)).readline().split(",")
    return int(first[0]), int(first[1])


def set_monitors(s, monitors):
    """Cuts the one Xvfb screen into RandR monitors: (name, x, y, w, h), the
    first one holding the screen's output."""
    for i, (name, x, y, w, h) in enumerate(monitors):
        geometry = f"{w}/{w * 254 // 960}x{h}/{h * 254 // 960}+{x}+{y}"
        subprocess.run(["xrandr", "--setmonitor", name, geometry, "screen" if i == 0 else "none"],
                       env=s.env, check=True, capture_output=True)
    listed = subprocess.run(["xrandr", "--listmonitors"], env=s.env, capture_output=True, text=True).stdout
    check(f"Monitors: {len(monitors)}" in listed, f"monitors not set: {listed}")


def figure_centre(s, wid):
    x, y, w, h = s.window_geometry(wid)
    return x + w // 2, y + h // 2


def finish(s, proc, status=0):
    s.close_panel()
    proc.wait(timeout=15)
    check(proc.returncode == status, f"exit status {proc.returncode}, wanted {status}")


def test_corners_land_on_the_pivots_monitor():
    # Two monitors on one wide screen; the right one is shorter, so a corner
    # worked out from the whole screen would put the figure below it.
    right = (1024, 0, 1024, 600)
    with Session(width=2048, height=768) as s:
        set_monitors(s, [("L", 0, 0, 1024, 768), ("R", *right)])
        program = s.install_program(BINARY)
        write_settings(program, "1500,200,100,128,64,1,0,1,0,NULL NULL")
        proc = s.start(program)
        fig = s.find_window("Tassio")

        def on_second():
            cx, cy = figure_centre(s, fig)
            return 1024 <= cx < 2048 and cy < 600
        s.wait_for(on_second, 5, lambda: f"a pivot on the second monitor was not kept: centre {figure_centre(s, fig)}")

        panel = s.find_window("设定", only_visible=False)
        s.activate(panel)
        # The first corner button has the focus: space clicks it, and the
        # arrows move to the other corners of the group, clicking each.
        steps = [("space", "left", "top"), ("Down", "left", "bottom"), ("Right", "right", "bottom"),
                 ("Up", "right", "top")]
        rx, ry, rw, rh = right
        for key, side, height in steps:
            s.xdotool("key", key)

            def in_corner():
                cx, cy = figure_centre(s, fig)
                return (rx <= cx < rx + rw and ry <= cy < ry + rh and (cx < rx + rw // 2) == (side == "left")
                        and (cy < ry + rh // 2) == (height == "top"))
            s.wait_for(in_corner, 5, lambda: f"{key}: figure centre {figure_centre(s, fig)} is not at the "
                                             f"{height} {side} of the second monitor {right}")
        finish(s, proc)
        # Top right of the second monitor: 2048 - 0.8 * 128 - 96 = 1849.6.
        check(saved_pivot(program) == (1849, 20), f"saved pivot {saved_pivot(program)}")


def test_a_drag_across_monitors_moves_the_pivot_there():
    with Session(width=2048, height=768) as s:
        set_monitors(s, [("L", 0, 0, 1024, 768), ("R", 1024, 0, 1024, 600)])
        program = s.install_program(BINARY)
        write_settings(program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        proc = s.start(program)
        fig = s.find_window("Tassio")
        # On a pixel every frame covers.
        x, y, w, h = s.press_on(proc, fig, 47, 47)
        for step in range(1, 13):
            s.xdotool("mousemove", str(x + 47 + step * 100), "400")
            time.sleep(0.02)
        s.xdotool("mousemove", "1500", "400", "mouseup", "1")

        def on_second():
            cx, cy = figure_centre(s, fig)
            return 1024 <= cx < 2048 and cy < 600
        s.wait_for(on_second, 5, lambda: f"after the drag the figure centre is {figure_centre(s, fig)}")
        finish(s, proc)
        check(saved_pivot(program) == (1500 - 48, 400 - 48 - 128), f"saved pivot {saved_pivot(program)}")


def test_a_pivot_off_every_monitor_starts_at_the_first_run_place():
    cases = [
        # (monitors, saved pivot, expected pivot)
        (None, (3000, 300), (832, 544)),           # the second monitor of the last run is gone
        (None, (300, 100), (300, 100)),            # on the screen: kept
        (None, (-500, -900), (832, 544)),          # above and left of everything
        ([("L", 0, 0, 1024, 768), ("R", 1024, 0, 1024, 600)], (1300, 100), (1300, 100)),
        ([("L", 0, 0, 1024, 768), ("R", 1024, 0, 1024, 600)], (1300, 560), (832, 544)),  # below R
    ]
    for monitors, saved, expected in cases:
        width = 2048 if monitors else 1024
        with Session(width=width, height=768) as s:
            if monitors:
                set_monitors(s, monitors)
            program = s.install_program(BINARY)
            write_settings(program, f"{saved[0]},{saved[1]},100,128,64,1,0,1,0,NULL NULL")
            proc = s.start(program)
            fig = s.find_window("Tassio")

            def near_expected():
                cx, cy = figure_centre(s, fig)
                return abs(cx - (expected[0] + 48)) <= 128 and expected[1] + 48 <= cy <= expected[1] + 128 + 96
            s.wait_for(near_expected, 5,
                       lambda: f"{saved}: figure centre {figure_centre(s, fig)}, pivot should be {expected}")
            finish(s, proc)
            check(saved_pivot(program) == expected, f"{saved}: saved pivot {saved_pivot(program)}, wanted {expected}")


def windows_in_tray(s):
    """The program's windows inside trayer's panel."""
    found = []

    def walk(w, in_tray):
        try:
            children = w.query_tree().children
        except Exception:
            return
        for c in children:
            try:
                cls = c.get_wm_class()
            except Exception:
                cls = None
            here = in_tray or cls == ("panel", "trayer")
            if in_tray and cls and cls[0] == "tassio":
                found.append(c.id)
            walk(c, here)
    walk(s.root, False)
    return found


def start_trayer(s):
    t = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--width", "10", "--height", "24",
                          "--SetDockType", "true"], env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.procs.append(t)
    return t


def icon_is_drawn(s, wid):
    """The docked icon shows the figure: many pixels unlike the tray's grey."""
    x, y, w, h = s.window_geometry(wid)
    img = s.screenshot(x, y, w, h)
    background = s.screenshot(x - 30, y + h // 2, 1, 1).getpixel((0, 0))
    differ = sum(1 for p in img.getdata() if sum(abs(a - b) for a, b in zip(p, background)) > 60)
    return differ >= w * h // 8


def test_tray_icon_docks_when_the_tray_comes_late_and_again_after_a_restart():
    with Session() as s:
        program = s.install_program(BINARY)
        proc = s.start(program)
        s.find_window("Tassio")
        time.sleep(2.0)  # the tray starts two seconds after the program
        check(windows_in_tray(s) == [], "an icon docked with no tray")
        tray = start_trayer(s)
        icons = s.wait_for(lambda: windows_in_tray(s), 10, "the icon did not dock in a tray that came late")
        s.d.sync()
        s.wait_for(lambda: icon_is_drawn(s, icons[0]), 5, "the docked icon shows nothing")

        tray.kill()
        tray.wait()
        time.sleep(1.0)
        start_trayer(s)
        icons = s.wait_for(lambda: windows_in_tray(s), 10, "the icon did not dock again after the tray restarted")
        s.wait_for(lambda: icon_is_drawn(s, icons[0]), 5, "the icon in the restarted tray shows nothing")
        s.screenshot(0, 0, s.width, 40).save(os.path.join(os.environ.get("TASSIO_SHOTS", s.tmp), "tray-restarted.png"))
        finish(s, proc)


def visible_windows(s, name):
    out = s.xdotool("search", "--onlyvisible", "--name", f"^{name}$", check=False)
    return [int(w) for w in out.split()] if out else []


def test_a_second_start_raises_the_first_panel_and_changes_nothing():
    with Session() as s:
        program = s.install_program(BINARY)
        line = "300,100,100,128,64,1,2,1,0,NULL NULL"
        write_settings(program, line)
        first = s.start(program)
        s.find_window("Tassio")
        time.sleep(0.5)
        check(visible_windows(s, "设定") == [], "the panel should start minimised")
        before = open(settings_file(program), "rb").read()

        t = time.time()
        second = s.start(program)
        second.wait(timeout=10)
        check(second.returncode == 0, f"second start: exit status {second.returncode}")
        check(time.time() - t < 5, f"second start took {time.time() - t:.1f} s")
        panel = s.wait_for(lambda: visible_windows(s, "设定"), 5, "the running panel was not brought up")
        check(len(panel) == 1, f"{len(panel)} panels")
        s.wait_for(lambda: s.xdotool("getactivewindow", check=False) == str(panel[0]), 5,
                   "the running panel was not activated")
        check(len(visible_windows(s, "Tassio")) == 1, "a second figure appeared")
        check(open(settings_file(program), "rb").read() == before, "the second start changed the settings file")
        check(first.poll() is None, "the first instance ended")

        # Another copy with its own settings file is another instance.
        other = s.install_program(BINARY)
        write_settings(other, "600,100,100,128,64,1,1,1,0,NULL NULL")
        third = s.start(other)
        s.wait_for(lambda: len(visible_windows(s, "Tassio")) == 2, 10, "a copy with its own settings did not start")
        check(third.poll() is None, "the copy with its own settings ended")
        third.send_signal(signal.SIGTERM)
        third.wait(timeout=10)

        s.xdotool("key", "Escape")  # the first panel is up and active
        first.wait(timeout=10)
        check(first.returncode == 0, f"first instance: exit status {first.returncode}")
        check(saved_pivot(program) == (300, 100), f"first instance saved {saved_pivot(program)}")
        check(not os.path.exists(settings_file(program) + ".lock"), "the lock file outlived the program")


def test_a_killed_instance_does_not_block_the_next_start():
    with Session() as s:
        program = s.install_program(BINARY)
        write_settings(program, "300,100,100,128,64,1,0,1,0,NULL NULL")
        first = s.start(program)
        s.find_window("Tassio")
        s.wait_for(lambda: os.path.exists(settings_file(program) + ".lock"), 5, "no lock file was left to test with")
        first.kill()
        first.wait(timeout=10)
        s.wait_for(lambda: visible_windows(s, "Tassio") == [], 5, "the killed figure stayed")

        second = s.start(program)
        s.find_window("Tassio", timeout=10)
        time.sleep(1.5)
        check(second.poll() is None, f"the new start ended with status {second.returncode}")
        finish(s, second)


def test_locks_left_behind_and_leftover_saves_do_not_stop_a_start():
    """A lock file no running Tassio holds (written on another machine that
    shares the folder, emptied, garbled) is taken over; temporary files of
    saves that were killed go, a user's copy of the settings stays."""
    locks = [("another machine's", b"31337\ntassio\nother-machine.example\n"), ("an empty", b""),
             ("a garbled", b"\xff\xfe\x00\x13 not a lock\n")]
    with Session() as s:
        program = s.install_program(BINARY)
        folder = os.path.dirname(program)
        for what, content in locks:
            write_settings(program, "300,100,100,128,64,1,0,1,0,NULL NULL")
            with open(settings_file(program) + ".lock", "wb") as f:
                f.write(content)
            leftovers = [os.path.join(folder, name) for name in ("Tassio.ini.k3JqP0", "Tassio.ini.tmp-Ab3xZ9")]
            for path in leftovers:
                with open(path, "wb") as f:
                    f.write(b"300,100,100,128,64,1,0,1,0,NULL NULL\n" + b"/p/a.bmp a\n" * 50000)
            backup = os.path.join(folder, "Tassio.ini.backup")
            with open(backup, "w") as f:
                f.write("1,2,100,128,64,1,0,1,0,NULL NULL\n")

            proc = s.start(program)
            s.find_window("Tassio")
            s.wait_for(lambda: not any(os.path.exists(p) for p in leftovers), 5,
                       lambda: f"{what} lock: leftovers stayed: {sorted(os.listdir(folder))}")
            time.sleep(0.5)
            check(proc.poll() is None, f"{what} lock: the start ended with status {proc.returncode}: "
                                       f"{proc.stdout.read().decode(errors='replace') if proc.poll() is not None else ''}")
            check(os.path.exists(backup), f"{what} lock: the user's copy was removed")
            finish(s, proc)
            check(not os.path.exists(settings_file(program) + ".lock"), f"{what} lock: the lock file outlived the run")


def test_a_hand_edited_length_starts_the_figure_on_the_screen():
    # (saved line, where the figure rests, whether all its swing is in sight)
    cases = [("-1,-1,100,-300,64,1,0,1,0,NULL NULL", (574, 0), True),         # first run, hanging upwards
             ("5000,5000,100,-300,64,1,0,1,0,NULL NULL", (574, 0), True),     # off the screen: the first-run place
             # Longer than the screen is wide: it rests in sight, and swings
             # far beyond the screen's edges.
             ("-1,-1,100,5000,64,1,0,1,0,NULL NULL", (0, 672), False)]
    with Session() as s:
        program = s.install_program(BINARY)
        for line, rest, in_sight in cases:
            write_settings(program, line)
            s.watch_maps()
            proc = s.start(program)
            fig = s.find_window("Tassio")
            # The window is created at rest under the pivot.
            def created():
                while s.d.pending_events():
                    ev = s.d.next_event()
                    if ev.type == X.CreateNotify and ev.window.id == fig:
                        return ev.x, ev.y
                return None
            first = s.wait_for(created, 5, f"{line}: the figure window's creation was not seen")
            check(first == rest, f"{line}: the figure started at {first}, wanted {rest}")

            def shows():
                x, y, w, h = s.window_geometry(fig)
                return min(x + w, s.width) - max(x, 0) >= w // 2 and min(y + h, s.height) - max(y, 0) >= h // 2
            for _ in range(10 if in_sight else 0):
                s.wait_ticks(fig, 1, 10)
                check(shows(), f"{line}: the figure swings off the screen at {s.window_geometry(fig)}")
            finish(s, proc)
            s.root.change_attributes(event_mask=0)


def test_settings_that_cannot_be_saved_are_reported():
    with Session() as s:
        program = s.install_program(BINARY)
        folder = os.path.dirname(program)
        # The configuration folder cannot be made: its parent is a file.
        blocker = os.path.join(s.tmp, "not-a-folder")
        open(blocker, "w").close()
        env = dict(XDG_CONFIG_HOME=blocker)
        prefix = []
        if os.getuid() == 0:
            # Root writes into any folder, so the program runs as nobody: the
            # program's folder stays root's, and nobody gets a home and
            # runtime folder of its own. No namespace or mount is needed, so
            # this runs in a container or chroot too.
            nobody = pwd.getpwnam("nobody")
            own = os.path.join(s.tmp, "nobody")
            os.mkdir(own, 0o700)
            os.chown(own, nobody.pw_uid, nobody.pw_gid)
            os.chmod(s.tmp, 0o711)
            os.chmod(folder, 0o755)
            env.update(HOME=own, XDG_RUNTIME_DIR=own, TMPDIR=own)
            prefix = ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}", "--clear-groups",
                      "--inh-caps=-all"]
        else:
            os.chmod(folder, 0o555)
        proc = s.start(program, extra_env=env, prefix=prefix)
        try:
            s.find_window("Tassio")
            time.sleep(0.5)
            s.close_panel()
            box = s.find_window("tassio", timeout=10)
            s.screenshot().save(os.path.join(os.environ.get("TASSIO_SHOTS", s.tmp), "unsaved-box.png"))
            check(proc.poll() is None, "the program ended before the message was answered")
            s.activate(box)
            s.xdotool("key", "Return")
            proc.wait(timeout=10)
        finally:
            os.chmod(folder, 0o755)
        out = proc.stdout.read().decode(errors="replace")
        check(proc.returncode == 1, f"exit status {proc.returncode}: {out!r}")
        line = f"Tassio.ini could not be written in {folder} nor in {blocker}/tassio"
        check(line in out, f"stderr does not name both folders: {out!r}")
        check(not os.path.exists(settings_file(program)), "a settings file appeared")


def test_a_screen_of_two_device_pixels_to_a_pixel():
    """Xft.dpi 192: the figure is twice as large in the server's pixels, starts
    at the bottom right, the corners and a drag place it exactly, and the
    settings keep logical pixels."""
    with Session() as s:
        subprocess.run(["xrdb", "-merge"], input="Xft.dpi: 192\n", text=True, env=s.env, check=True)
        program = s.install_program(BINARY)
        write_settings(program, "-1,-1,100,128,64,1,0,1,0,NULL NULL")
        # The first window as created, from the root's CreateNotify: polling
        # its place could already see the first tick's.
        s.watch_maps()
        proc = s.start(program)
        fig = s.find_window("Tassio")

        def created():
            while s.d.pending_events():
                ev = s.d.next_event()
                if ev.type == X.CreateNotify and ev.window.id == fig:
                    return ev.x, ev.y, ev.width, ev.height
            return None
        first = s.wait_for(created, 5, "the figure window's creation was not seen")
        # 512 x 384 logical: the first place is (512 - 1.5 * 128, 384 - 96).
        check(first == (640, 576, 190, 192), f"first window {first}, wanted 190 x 192 at (640, 576)")
        check_one_size(s, fig, 2, (190, 192))

        # Drag: the grabbed point stays under the pointer, in device pixels.
        # The press lands while the program is stopped, so that the figure
        # is where it was read to be; the server holds the pointer for it.
        with stopped(proc):
            x, y, _, _ = s.window_geometry(fig)
            s.xdotool("mousemove", str(x + 90), str(y + 90))
            s.xdotool("mousedown", "1")
        for px, py in ((700, 500), (600, 400), (500, 300)):
            s.xdotool("mousemove", str(px), str(py))
            s.wait_for(lambda: s.window_geometry(fig)[:2] == (px - 90, py - 90), 2,
                       f"the figure does not follow the pointer to {(px, py)}: at {s.window_geometry(fig)[:2]}")
        s.xdotool("mouseup", "1")
        # Let go at (250, 150) logical: pivot (202, -26); swinging, the window
        # stays within the string's reach of it, in device pixels.
        def near(pivot):
            x, y, _, _ = s.window_geometry(fig)
            return (2 * (pivot[0] - 128) <= x <= 2 * (pivot[0] + 128)
                    and 2 * (pivot[1] + 88) <= y <= 2 * (pivot[1] + 128))
        s.wait_for(lambda: near((202, -26)), 5, lambda: f"after the drag the window is at {s.window_geometry(fig)[:2]}")

        # The top-left corner button: pivot (150, 20) logical, the figure at
        # rest 128 below it.
        panel = s.find_window("设定", only_visible=False)
        s.activate(panel)
        s.xdotool("key", "space")
        s.wait_for(lambda: near((150, 20)), 5, lambda: f"top left corner: the window is at {s.window_geometry(fig)[:2]}")
        finish(s, proc)
        check(saved_pivot(program) == (150, 20), f"saved pivot {saved_pivot(program)}, wanted logical (150, 20)")


TESTS = [test_a_screen_of_two_device_pixels_to_a_pixel, test_corners_land_on_the_pivots_monitor, test_a_drag_across_monitors_moves_the_pivot_there,
         test_a_pivot_off_every_monitor_starts_at_the_first_run_place,
         test_tray_icon_docks_when_the_tray_comes_late_and_again_after_a_restart,
         test_a_second_start_raises_the_first_panel_and_changes_nothing,
         test_a_killed_instance_does_not_block_the_next_start,
         test_locks_left_behind_and_leftover_saves_do_not_stop_a_start,
         test_a_hand_edited_length_starts_the_figure_on_the_screen, test_settings_that_cannot_be_saved_are_reported]

if __name__ == "__main__":
    if len(sys.argv) > 2:
        TESTS = [t for t in TESTS if any(name in t.__name__ for name in sys.argv[2:])]
    run_tests(TESTS)
