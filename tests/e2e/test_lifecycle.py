"""Settings are never lost: signals, a lost X connection, a killed writer."""

import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import TIME_SCALE, Recorder, Session, check, run_tests, write_tone  # noqa: E402

BINARY = sys.argv[1]


def settings_of(program):
    with open(os.path.join(os.path.dirname(program), "Tassio.ini")) as f:
        return f.read()


def start_dragged(s, program, line):
    """Starts the program, then moves the pivot with a drag, so that a saved
    file shows whether this run's changes reached it."""
    with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
        f.write(line + "\n")
    proc = s.start(program)
    wid = s.find_window("Tassio")
    s.press_on(proc, wid, 47, 47)
    s.xdotool("mousemove", "--sync", "600", "500", "mouseup", "1")
    # Let go at (600, 500): the pivot is now 48 left of it and 48 + 128 above.
    s.wait_hanging_from(wid, 552, 324, 128)
    return proc


def test_termination_signals_save_the_settings():
    # Each ends the run at once: the settings saved, no exit sound (a long one
    # would outlast the session), exit status 0.
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        with Session(sound=True) as s:
            program = s.install_program(BINARY)
            tone = os.path.join(s.tmp, "bye.wav")
            write_tone(tone, 0.6)
            start = Recorder(s, os.path.join(s.tmp, "start.wav"))
            proc = start_dragged(s, program, f"300,100,200,128,64,1,0,1,0,{tone} NULL")
            start.wait_until(sounds=1)
            start.stop()
            rec = Recorder(s, os.path.join(s.tmp, "rec.wav"))
            sent = time.monotonic()
            proc.send_signal(sig)
            proc.wait(timeout=10 * TIME_SCALE)
            took = time.monotonic() - sent
            spans = rec.wait_until(seconds_after_quiet=0.3, sounds=0)
            rec.stop()
            check(proc.returncode == 0, f"{sig.name}: exit status {proc.returncode}")
            check(took < 1.0 * TIME_SCALE, f"{sig.name}: ended {took:.2f} s after the signal")
            check(settings_of(program).startswith("552,324,200,128,"),
                  f"{sig.name}: settings {settings_of(program)!r}")
            check(not spans, f"{sig.name}: exit sound {spans}")


def test_lost_x_connection_saves_the_settings():
    with Session() as s:
        program = s.install_program(BINARY)
        proc = start_dragged(s, program, "300,100,200,128,64,1,0,1,0,NULL NULL")
        s.procs[0].kill()  # the X server goes away
        proc.wait(timeout=10 * TIME_SCALE)
        check(settings_of(program).startswith("552,324,200,128,"), f"settings {settings_of(program)!r}")
        # As the toolkit ends a program whose display is gone.
        check(proc.returncode == 1, f"exit status {proc.returncode}")


def test_sigkill_keeps_the_previous_file():
    with Session() as s:
        program = s.install_program(BINARY)
        line = "300,100,200,128,64,1,0,1,0,NULL NULL\n"
        proc = start_dragged(s, program, line.strip())
        proc.kill()
        proc.wait(timeout=10)
        check(settings_of(program) == line, "a killed run changed the file")


def test_hostile_settings_neither_crash_nor_freeze():
    lines = [
        "300,100,0,128,64,1,0,1,0,NULL NULL",            # a 0 ms interval
        "300,100,100,0,64,1,0,1,0,NULL NULL",            # no string at all
        "300,100,5,-400,64,1,-7,1,0,NULL NULL",          # negative length and figure
        "2147483647,-2147483648,1,2147483647,999,1,2147483647,0,1,NULL NULL",
        "\x00\xff\xfe garbage \x01\x02",
    ]
    with Session() as s:
        program = s.install_program(BINARY)
        for line in lines:
            with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w", encoding="latin-1") as f:
                f.write(line + "\n")
                for i in range(100000):
                    f.write(f"/nonexistent/p{i}.bmp n{i}\n")
            t = time.time()
            proc = s.start(program)
            s.find_window("Tassio", timeout=20)
            # Up and running once the panel exists: it is made after the figure.
            s.find_window("设定", timeout=20, only_visible=False)
            check(proc.poll() is None, f"{line!r}: the program ended")
            s.close_panel()
            proc.wait(timeout=20 * TIME_SCALE)
            check(proc.returncode == 0, f"{line!r}: exit status {proc.returncode}")
            check(time.time() - t < 15 * TIME_SCALE, f"{line!r}: took {time.time() - t:.1f} s")
            saved = open(os.path.join(os.path.dirname(program), "Tassio.ini"), encoding="latin-1").read()
            check(len(saved.splitlines()) == 100001, f"{line!r}: pictures lost")


TESTS = [test_hostile_settings_neither_crash_nor_freeze, test_termination_signals_save_the_settings, test_lost_x_connection_saves_the_settings,
         test_sigkill_keeps_the_previous_file]

if __name__ == "__main__":
    run_tests(TESTS)
