"""The session ends (SIGTERM, or the display goes) while something holds the
program: a file chooser, a box, a dialog, the exit sound, an X server that has
stopped. Each time the program ends within a second, with this run's changes
(a dragged pivot and a dropped picture) in the settings file. And a drop that
leads to a box is answered before the box shows."""

import os
import signal
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import TIME_SCALE, Recorder, Session, check, run_tests, wait_exit  # noqa: E402
from xdnd import drop, drop_files  # noqa: E402

from Xlib import X  # noqa: E402

BINARY = sys.argv[1]
# The panel's buttons in dialog units (x, y, width, height) of its 186 x 157.
PANEL_UNITS = (186, 157)
OPEN_PICTURE = (77, 87, 38, 14)
SOUND = (13, 136, 40, 14)
TEXT_PROGRAM = (156, 87, 23, 14)
ABOUT = (77, 136, 40, 14)
CHANGE_PICTURE = (133, 110, 46, 14)
BLUE = (20, 40, 220)


def settings_file(program):
    return os.path.join(os.path.dirname(program), "Tassio.ini")


def write_bmp(path, colour):
    from PIL import Image
    Image.new("RGB", (40, 40), colour).save(path, "BMP")


def write_long_tone(path, seconds, rate=22050):
    """A 440 Hz tone, one second written again and again."""
    import math
    second = b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 440 * i / rate))) for i in range(rate))
    data = len(second) * seconds
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + data) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16))
        f.write(b"data" + struct.pack("<I", data))
        for _ in range(seconds):
            f.write(second)


def managed_windows(s, name):
    """The window manager's client windows titled exactly name (the figure,
    placed by the program itself, is not among them)."""
    prop = s.root.get_full_property(s.d.intern_atom("_NET_CLIENT_LIST"), X.AnyPropertyType)
    found = []
    for wid in (prop.value if prop else []):
        try:
            title = s.d.create_resource_object("window", wid).get_full_property(
                s.d.intern_atom("_NET_WM_NAME"), X.AnyPropertyType)
        except Exception:
            continue
        if title and title.value.decode(errors="replace") == name and s.is_viewable(wid):
            found.append(wid)
    return found


def wait_window(s, name, timeout=10):
    return s.wait_for(lambda: managed_windows(s, name), timeout, f"no window titled {name!r}")[0]


def start_with_changes(s, program, sound="NULL"):
    """Starts the program with 更换图片 on, drags the pivot to (102, 474), away
    from the panel, and drops a picture that becomes the figure: what a saved
    file must hold."""
    with open(settings_file(program), "w") as f:
        f.write(f"300,100,200,128,64,1,0,1,1,{sound} NULL\n")
    proc = s.start(program)
    wid = s.find_window("Tassio")
    # Pressed with the program stopped: on a busy machine the figure may
    # otherwise swing away between where it was read and the press.
    s.press_on(proc, wid, 47, 47)
    s.xdotool("mousemove", "--sync", "150", "650", "mouseup", "1")
    s.wait_hanging_from(wid, 102, 474, 128)
    picture = os.path.join(s.tmp, "dropped dog.bmp")
    write_bmp(picture, BLUE)
    x, y, w, h = s.window_geometry(wid)
    check(drop_files(s.display_name, wid, [picture], x + w // 2, y + h // 2), "the picture's drop was refused")
    s.wait_figure_pixels(proc, wid, BLUE, 2000, "the dropped picture")
    return proc, picture


def check_saved(program, picture, what):
    text = open(settings_file(program)).read()
    lines = text.splitlines()
    check(text.startswith("102,474,200,128,"), f"{what}: the dragged pivot is not saved: {lines[:1]}")
    check(lines[0].split(",")[6] == "4", f"{what}: the dropped picture is not the saved figure: {lines[0]}")
    check(lines[1:] == [picture.replace(" ", "%20") + " dropped%20dog.bmp"], f"{what}: picture lines {lines[1:]}")


def end_with(s, proc, what, sig=signal.SIGTERM, status=0):
    """Sends the signal; the program must be gone within a second of its own
    time (what a busy machine kept it waiting for a CPU is not counted)."""
    proc.send_signal(sig)
    try:
        took, own = wait_exit(proc, 10, f"{what}: after {sig.name}")
    except AssertionError:
        proc.kill()
        raise
    check(own < 1.0 * TIME_SCALE, f"{what}: ended {took:.2f} s after {sig.name} ({own:.2f} s its own)")
    check(proc.returncode == status, f"{what}: exit status {proc.returncode}")


def click_panel(s, units):
    """Brings the panel up and clicks the control at the given dialog units."""
    panel = s.find_window("设定", only_visible=False)
    s.xdotool("windowactivate", "--sync", str(panel))
    s.wait_active(panel)
    px, py, pw, ph = s.wait_settled(panel, "the restored panel")
    x, y, w, h = units
    s.xdotool("mousemove", str(px + pw * (x + w / 2) // PANEL_UNITS[0]), str(py + ph * (y + h / 2) // PANEL_UNITS[1]))
    s.xdotool("click", "1")


def open_chooser(s, units):
    click_panel(s, units)
    return int(s.wait_for(lambda: s.xdotool("search", "--onlyvisible", "--name", "Bitmap|Wave|Word|打开|Open",
                                            check=False), 10, "no file chooser").split()[0])


def open_naming_dialog(s, picture):
    chooser = open_chooser(s, OPEN_PICTURE)
    s.wait_active(chooser)
    s.xdotool("type", "--delay", "5", picture)
    s.xdotool("key", "Return")
    return wait_window(s, "图片标识符")


def open_not_exist_box(s):
    # 更换图片 off, so a .bmp opens in a viewer, and this one cannot be read.
    panel = s.find_window("设定", only_visible=False)
    s.xdotool("windowactivate", "--sync", str(panel))
    s.wait_active(panel)
    px, py, pw, ph = s.wait_settled(panel, "the restored panel")
    x, y, w, h = CHANGE_PICTURE
    s.xdotool("mousemove", str(px + pw * x // PANEL_UNITS[0] + 8), str(py + ph * (y + h / 2) // PANEL_UNITS[1]))
    s.xdotool("click", "1")
    bad = os.path.join(s.tmp, "broken.bmp")
    with open(bad, "wb") as f:
        f.write(b"BMxx not a picture")
    wid = s.find_window("Tassio")
    x, y, w, h = s.window_geometry(wid)
    check(drop_files(s.display_name, wid, [bad], x + w // 2, y + h // 2), "the broken picture's drop was refused")
    return wait_window(s, "tassio")


def test_sigterm_ends_every_chooser_box_and_dialog():
    cases = [
        ("the picture chooser", lambda s, pic: open_chooser(s, OPEN_PICTURE)),
        ("the sound chooser", lambda s, pic: open_chooser(s, SOUND)),
        ("the program chooser", lambda s, pic: open_chooser(s, TEXT_PROGRAM)),
        ("the about box", lambda s, pic: (click_panel(s, ABOUT), wait_window(s, "关于"))[1]),
        ("the picture-name dialog", lambda s, pic: open_naming_dialog(s, pic)),
        ('the "Not Exist File!!" box', lambda s, pic: open_not_exist_box(s)),
    ]
    for what, open_it in cases:
        with Session() as s:
            program = s.install_program(BINARY)
            proc, picture = start_with_changes(s, program)
            other = os.path.join(s.tmp, "another.bmp")
            write_bmp(other, (200, 30, 30))
            wid = open_it(s, other)
            check(s.is_viewable(wid) and proc.poll() is None, f"{what} is not open")
            end_with(s, proc, what)
            check_saved(program, picture, what)


def test_sigterm_cuts_a_long_exit_sound():
    with Session(sound=True) as s:
        program = s.install_program(BINARY)
        tone = os.path.join(s.tmp, "long goodbye.wav")
        write_long_tone(tone, 90)
        proc, picture = start_with_changes(s, program, sound=tone.replace(" ", "%20"))
        s.close_panel()
        # The panel is gone and the exit sound plays; nothing is saved yet.
        rec = Recorder(s, os.path.join(s.tmp, "exit.wav"))
        s.wait_for(lambda: rec.spans(rec.recorded()), 10, "the exit sound never started")
        check(proc.poll() is None, "the program ended before its exit sound")
        end_with(s, proc, "the exit sound")
        check_saved(program, picture, "the exit sound")
        # Cut off: silence follows at once.
        spans = rec.wait_until(seconds_after_quiet=0.5, sounds=1, timeout=5)
        rec.stop()
        check(len(spans) == 1, f"heard {spans}")


def test_sigterm_with_the_x_server_stopped():
    """A stopped (hung, suspended) X server: the settings are written without
    it, and the program ends although its windows cannot be taken down."""
    for what, open_it in (("nothing open", None), ("the about box", ABOUT)):
        with Session() as s:
            program = s.install_program(BINARY)
            proc, picture = start_with_changes(s, program)
            if open_it:
                click_panel(s, open_it)
                wait_window(s, "关于")
            xvfb = s.procs[0]
            os.kill(xvfb.pid, signal.SIGSTOP)
            try:
                # Long enough for the program to be stuck in the server.
                time.sleep(0.5)
                end_with(s, proc, f"X stopped, {what}")
                check_saved(program, picture, f"X stopped, {what}")
            finally:
                os.kill(xvfb.pid, signal.SIGCONT)


def test_lost_display_during_the_exit_sound():
    with Session(sound=True) as s:
        program = s.install_program(BINARY)
        tone = os.path.join(s.tmp, "goodbye.wav")
        write_long_tone(tone, 90)
        proc, picture = start_with_changes(s, program, sound=tone)
        s.close_panel()
        rec = Recorder(s, os.path.join(s.tmp, "exit.wav"))
        s.wait_for(lambda: rec.spans(rec.recorded()), 10, "the exit sound never started")
        rec.stop()
        s.procs[0].kill()  # the X server goes away
        try:
            took, own = wait_exit(proc, 10, "after the display went away")
        except AssertionError:
            proc.kill()
            raise
        check(own < 1.0 * TIME_SCALE, f"ended {took:.2f} s after the display went away ({own:.2f} s its own)")
        check(proc.returncode == 1, f"exit status {proc.returncode}")
        check_saved(program, picture, "the display lost")


def test_a_drop_is_answered_before_its_boxes():
    with Session() as s:
        program = s.install_program(BINARY)
        with open(settings_file(program), "w") as f:
            f.write("300,100,200,128,64,1,0,1,0,NULL NULL\n")
        bad = []
        for i in range(3):
            p = os.path.join(s.tmp, f"broken{i}.bmp")
            with open(p, "wb") as f:
                f.write(b"BM not a picture")
            bad.append(p)
        proc = s.start(program)
        wid = s.find_window("Tassio")
        for files in ([bad[0]], bad[1:]):
            x, y, w, h = s.window_geometry(wid)
            result = drop(s.display_name, wid, files, x + w // 2, y + h // 2, timeout=3)
            check(result.finished and result.finished_accepted, f"{len(files)} file(s): drop not finished: {result}")
            # One box per file, one after another.
            for n in range(len(files)):
                box = wait_window(s, "tassio")
                check(len(managed_windows(s, "tassio")) == 1, "more than one box at a time")
                s.xdotool("windowactivate", "--sync", str(box))
                s.wait_active(box)
                s.xdotool("key", "Return")
                s.wait_for(lambda: not s.is_viewable(box), 5, f"box {n + 1} did not close")
            time.sleep(0.3)
            check(not managed_windows(s, "tassio"), "a box too many")
        check(proc.poll() is None, "the program ended")
        end_with(s, proc, "after the boxes")


TESTS = [test_a_drop_is_answered_before_its_boxes, test_sigterm_ends_every_chooser_box_and_dialog,
         test_sigterm_cuts_a_long_exit_sound, test_sigterm_with_the_x_server_stopped,
         test_lost_display_during_the_exit_sound]

if __name__ == "__main__":
    run_tests(TESTS)
