"""Sound against PipeWire (pipewire, wireplumber and pipewire-pulse under a
private D-Bus session) with a null sink recorded by pw-record: how 8-bit and
companded sounds end, and a stopped sound server that must hold nothing up."""

import math
import os
import signal
import struct
import sys
import time
import warnings

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Recorder, Session, check, run_tests, wait_exit  # noqa: E402
from xdnd import drop_files  # noqa: E402

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import audioop  # G.711 encoders for the test files

BINARY = sys.argv[1]
REC_RATE = 48000


def write_settings(program, line):
    with open(os.path.join(os.path.dirname(program), "Tassio.ini"), "w") as f:
        f.write(line + "\n")


def write_wav(path, layout, seconds, freq=440, rate=22050, amplitude=0.5):
    """A mono sine tone as a RIFF/WAVE file: "s16", "u8", "ulaw" or "alaw"."""
    pcm = b"".join(struct.pack("<h", int(amplitude * 32767 * math.sin(2 * math.pi * freq * i / rate)))
                   for i in range(int(seconds * rate)))
    tag, bits, data = {
        "s16": (1, 16, lambda: pcm),
        "u8": (1, 8, lambda: audioop.bias(audioop.lin2lin(pcm, 2, 1), 1, 128)),
        "ulaw": (7, 8, lambda: audioop.lin2ulaw(pcm, 2)),
        "alaw": (6, 8, lambda: audioop.lin2alaw(pcm, 2)),
    }[layout]
    data = data()
    block = bits // 8
    fmt = struct.pack("<HHIIHH", tag, 1, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def heard_tone(samples, threshold=3000):
    """First and last sample index above the threshold, or None."""
    loud = [i for i, v in enumerate(samples) if abs(v) > threshold]
    return (loud[0], loud[-1]) if loud else None


def peak(samples, a, b):
    return max((abs(v) for v in samples[max(a, 0):max(b, 0)]), default=0)


def dropout(samples, span, freq=440, amplitude=0.5):
    """Where the recording of one continuous tone has a piece missing or added,
    or None. PipeWire's graph drops or pads whole cycles (tens of ms) when its
    threads miss a deadline on an overloaded machine, and sometimes loses the
    first cycle of a stream while the sink wakes: a silent stretch inside the
    tone, a period of the wrong length, or a step no sine of this pitch takes
    (its start cut off mid-wave). The program sends no such thing."""
    first, last = span
    block = REC_RATE // 200  # 5 ms
    for i in range(first, last - block, block):
        if max(abs(v) for v in samples[i:i + block]) < 3000:
            return f"{(i - first) / REC_RATE:.3f} s into the tone: silence"
    steepest = 2 * math.pi * freq * amplitude * 32767 / REC_RATE
    for i in range(max(first - 1, 1), min(last + 2, len(samples))):
        if abs(samples[i] - samples[i - 1]) > 3 * steepest:
            return f"{(i - first) / REC_RATE:.3f} s into the tone: a step of {samples[i] - samples[i - 1]}"
    period = REC_RATE / freq
    ups = [i for i in range(first + 1, last) if samples[i - 1] < 0 <= samples[i]]
    for a, b in zip(ups, ups[1:]):
        if abs(b - a - period) > 3:
            return f"{(a - first) / REC_RATE:.3f} s into the tone: a period of {b - a} samples, not {period:.0f}"
    return None


def record_start_sound(s, layout, attempts=6):
    """The samples recorded while the program plays a 0.5 s tone in the given
    layout at start, and the tone's span. A recording with a dropout is not a
    measurement of the program: it is made again, at most attempts times."""
    seen = []
    for attempt in range(attempts):
        program = s.install_program(BINARY)
        tone = os.path.join(s.tmp, f"tone-{layout}.wav")
        write_wav(tone, layout, 0.5)
        write_settings(program, f"-1,-1,100,128,64,1,0,1,0,{tone} NULL")
        rec = Recorder(s, os.path.join(s.tmp, f"rec-{layout}-{attempt}.wav"), rate=REC_RATE)
        rec.wait_until(seconds_after_quiet=0.3, sounds=0)
        proc = s.start(program)
        s.find_window("Tassio")
        rec.wait_until(seconds_after_quiet=0.35, sounds=1)
        rec.stop()
        s.close_panel()
        proc.wait(timeout=10)
        span = heard_tone(rec.samples)
        check(span is not None, f"{layout}: nothing heard")
        where = dropout(rec.samples, span)
        if where is None:
            return rec.samples, span
        seen.append(where)
        print(f"  {layout}: the recording has a dropout ({where}); recorded again", flush=True)
    raise AssertionError(f"{layout}: every recording had a dropout: {seen}")


def test_8bit_and_companded_sounds_end_without_a_click():
    # The 16-bit tone is the yardstick for the level of the others.
    results = {}
    with Session(sound="pipewire") as s:
        for layout in ("s16", "u8", "ulaw", "alaw"):
            samples, (first, last) = record_start_sound(s, layout)
            ms = REC_RATE // 1000
            results[layout] = {
                "length": (last - first + 1) / REC_RATE,
                "peak": peak(samples, first + 20 * ms, last - 20 * ms),
                # A click sits at an edge: in the tone's first or last 20 ms, or just outside.
                "start": peak(samples, first - 300 * ms, first + 20 * ms),
                "end": peak(samples, last - 20 * ms, last + 300 * ms),
                "after": peak(samples, last + 5 * ms, last + 300 * ms),
                "tail_recorded": (len(samples) - last) / REC_RATE,
            }
    print("recorded (16-bit full scale 32768):", flush=True)
    for layout, r in results.items():
        print(f"  {layout:5} length {r['length']:.3f} s, peak {r['peak']}, loudest sample in the first 20 ms "
              f"and 300 ms before {r['start']}, in the last 20 ms and 300 ms after {r['end']}, "
              f"in the 5-300 ms after {r['after']} ({r['tail_recorded']:.2f} s recorded after the end)", flush=True)
    level = results["s16"]["peak"]
    for layout, r in results.items():
        check(abs(r["length"] - 0.5) <= 0.01, f"{layout}: heard for {r['length']:.3f} s, not 0.5 s")
        check(r["tail_recorded"] >= 0.3, f"{layout}: recording stopped {r['tail_recorded']:.2f} s after the tone")
        check(abs(r["peak"] - level) <= 0.06 * level, f"{layout}: peak {r['peak']}, the 16-bit tone's {level}")
        check(r["end"] <= 1.06 * level, f"{layout}: a click at the end (peak {r['end']}, the tone's {level})")
        check(r["start"] <= 1.06 * level, f"{layout}: a click at the start (peak {r['start']}, the tone's {level})")
        check(r["after"] < 1000, f"{layout}: sound after the tone (peak {r['after']})")


def figure_positions(s, wid, seconds):
    """The distinct places the figure window takes over a while."""
    seen = set()
    end = time.time() + seconds
    while time.time() < end:
        seen.add(s.window_geometry(wid)[:2])
        time.sleep(0.02)
    return seen


def test_a_stopped_server_delays_neither_a_drop_nor_the_exit():
    with Session(sound="pipewire") as s:
        program = s.install_program(BINARY)
        tone = os.path.join(s.tmp, "ding.wav")
        write_wav(tone, "s16", 0.8)
        note = os.path.join(s.tmp, "note.txt")
        with open(note, "w") as f:
            f.write("a note\n")
        write_settings(program, f"300,100,40,128,64,1,0,1,0,{tone} NULL")
        proc = s.start(program)
        wid = s.find_window("Tassio")
        time.sleep(1.5)  # the start sound is over
        os.kill(s.pulse_server_pid(), signal.SIGSTOP)

        x, y, w, h = s.window_geometry(wid)
        dropped = time.time()
        check(drop_files(s.display_name, wid, [note], x + w // 2, y + h // 2), "drop not accepted")
        s.find_window(note, timeout=5)
        opened = time.time() - dropped
        positions = figure_positions(s, wid, 1.0)

        s.close_panel()
        pressed = time.time()
        # The program waits for the exit sound at most its length and a
        # grace; what a busy machine keeps it waiting for a CPU is not its own.
        took, own = wait_exit(proc, 20, "exit with the server stopped")
        saved = os.path.exists(os.path.join(os.path.dirname(program), "Tassio.ini")) and \
            os.stat(os.path.join(os.path.dirname(program), "Tassio.ini")).st_mtime >= pressed - 0.05
        print(f"stopped server: viewer opened {opened:.2f} s after the drop, figure at {len(positions)} places "
              f"in the next second, exit {took:.2f} s after Esc ({own:.2f} s not waiting for a CPU; "
              f"exit sound 0.8 s)", flush=True)
        check(opened <= 1.0, f"viewer opened {opened:.2f} s after the drop")
        check(len(positions) >= 10, f"the figure stood still after the drop: {len(positions)} places in 1 s")
        check(own <= 0.8 + 1.0, f"exit took {took:.2f} s with the server stopped, {own:.2f} s of it the program's own")
        check(saved, "settings not written")


def test_a_stopped_server_delays_neither_start_up_nor_sigterm():
    with Session(sound="pipewire") as s:
        program = s.install_program(BINARY)
        tone = os.path.join(s.tmp, "ding.wav")
        write_wav(tone, "s16", 0.8)
        write_settings(program, f"300,100,40,128,64,1,0,1,0,{tone} NULL")
        os.kill(s.pulse_server_pid(), signal.SIGSTOP)
        s.watch_maps()
        started = time.monotonic()
        proc = s.start(program)
        first_paint = s.wait_for_map("Tassio") - started
        wid = s.find_window("Tassio")
        positions = figure_positions(s, wid, 1.0)

        settings = os.path.join(os.path.dirname(program), "Tassio.ini")
        before = os.stat(settings).st_mtime
        time.sleep(0.05)
        proc.send_signal(signal.SIGTERM)
        took, own = wait_exit(proc, 20, "SIGTERM with the server stopped")
        print(f"stopped server: first painted figure {first_paint * 1000:.0f} ms after exec with a start sound, "
              f"exit {took:.2f} s after SIGTERM ({own:.2f} s not waiting for a CPU)", flush=True)
        check(first_paint <= 2.0, f"first paint {first_paint:.2f} s after exec")
        check(len(positions) >= 10, f"the figure stood still: {len(positions)} places in 1 s")
        check(own <= 1.0, f"exit took {took:.2f} s after SIGTERM, {own:.2f} s of it the program's own")
        check(os.stat(settings).st_mtime > before, "settings not written")


TESTS = [test_8bit_and_companded_sounds_end_without_a_click,
         test_a_stopped_server_delays_neither_a_drop_nor_the_exit,
         test_a_stopped_server_delays_neither_start_up_nor_sigterm]

if __name__ == "__main__":
    run_tests(TESTS)
