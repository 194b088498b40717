"""Quitting at random moments: 50 runs of the real programs, each ended by Escape, a window-close
request, SIGTERM or SIGINT (Ctrl-C) at a random moment between the window's appearing and the end of
the show. Every run must end with status 0 through the program's own quit path, with SDL shut down
exactly once. (Crash signals end the process at once instead: tests/e2e/test_signals.py.)

The clock runs ten times faster (faketime), so the show lasts about 13 s. Moments are drawn
log-uniformly: most runs end within the first second (start-up, the first drain, the first frames),
where the quit paths differ most, and some reach far into both movements. The moment is capped a
second before the show's own end so that every request reaches the program while it still runs.

The seed is printed; set VELLAMOR_QUIT_SEED to repeat a run set, and VELLAMOR_QUIT_RUNS for another
number of runs (the pass on sdl12-compat and the sanitizer build make fewer).
"""

import math
import os
import random
import signal
import sys
import time
from collections import Counter
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
import harness as h  # noqa: E402

RUNS = int(os.environ.get("VELLAMOR_QUIT_RUNS", 50))
SPEED = 10
DEFAULT_SEED = 20261209
# The show ends at demo time 129678 ms, 12.97 s after the start tick at ten times the speed; the
# start tick comes after the window appears, so this leaves at least a second of margin.
LATEST_S = 11.9
EARLIEST_S = 0.005
WAYS = ("escape", "close", "sigterm", "sigint")
SIGNALS = {"sigterm": signal.SIGTERM, "sigint": signal.SIGINT}
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer")


@pytest.fixture(scope="module")
def screens():
    with h.xvfb(1280, 720) as x720, h.xvfb(1024, 600) as x600:
        yield {"vellamor": x720, "vellamor_600": x600}


@pytest.fixture(scope="module")
def data_dir(tmp_path_factory):
    """One data folder shared by all runs: the show's own assets when they have been made,
    otherwise a short made tune and a stand-in logo (the quit paths run with music playing)."""
    d = tmp_path_factory.mktemp("data") / "data"
    d.mkdir()
    music = h.source_asset(h.MUSIC)
    if music is not None:
        (d / h.MUSIC).symlink_to(music)
    else:
        h.make_music(d / h.MUSIC, tones=((330.0, 4.0),))
    logo = h.source_asset(h.LOGO)
    if logo is not None:
        (d / h.LOGO).symlink_to(logo)
    else:
        h.make_logo(d / h.LOGO)
    return d


def plan(seed):
    """(program, way, moment in s after the window appeared) for each run."""
    rng = random.Random(seed)
    runs = []
    for i in range(RUNS):
        name = rng.choice(("vellamor", "vellamor_600"))
        way = WAYS[i % len(WAYS)]
        moment = math.exp(rng.uniform(math.log(EARLIEST_S), math.log(LATEST_S)))
        runs.append((name, way, moment))
    return runs


def expected_event(way):
    return "SDL_KEYDOWN sym 27" if way == "escape" else "SDL_QUIT"


def where(calls):
    """Where the request landed: 'start-up' (no frame yet), 'movement one' or 'movement two'."""
    frames = h.last_frames(calls)
    swaps = h.swaps_at_quit(calls)
    if not swaps:
        return "start-up"
    if frames is None:
        return "first frames"
    return "movement one" if h.bar_of(frames[-1]) < 32 else "movement two"


def one_run(index, name, way, moment, x, data, root):
    workdir = root / f"run-{index:02d}-{name}-{way}"
    workdir.mkdir()
    (workdir / "data").symlink_to(data)
    problems = []
    with h.Run(name, workdir, x, faketime=SPEED, env={"E2E_LOG_EVENTS": "1"}) as run:
        window = x.wait_window(name, run.proc)
        appeared = time.monotonic()
        time.sleep(max(0.0, appeared + moment - time.monotonic()))
        if not run.alive():
            problems.append(f"ended by itself with {run.proc.returncode} before the request")
        elif way == "escape":
            x.key("Escape")
        elif way == "close":
            x.send_close(window)
        else:
            os.kill(run.pid, SIGNALS[way])
        status = run.wait(30)
        calls = run.calls()
        out, err = run.stdout(), run.stderr()
    if status != 0:
        problems.append(f"status {status}")
    quits = h.count_calls(calls, "SDL_Quit")
    if quits != 1:
        problems.append(f"SDL_Quit called {quits} times")
    if "Virhekoodi" in out:
        problems.append(f"exit handler complained: {out!r}")
    events = h.events(calls)
    if not events or events[-1][0] != expected_event(way):
        problems.append(f"did not end at the request; last events {events[-3:]}")
    elif events[-1][1] != h.swaps_at_quit(calls):
        problems.append("a frame was drawn after the request")
    if any(mark in err for mark in SANITIZER_MARKS):
        problems.append("sanitizer report: " + err[-3000:])
    return problems, where(calls)


def test_quit_at_random_moments(screens, data_dir, tmp_path):
    seed = int(os.environ.get("VELLAMOR_QUIT_SEED", DEFAULT_SEED))
    print(f"\nquit-at-random-moments seed {seed} (set VELLAMOR_QUIT_SEED to repeat)")
    failures = []
    landed = Counter()
    for index, (name, way, moment) in enumerate(plan(seed)):
        problems, place = one_run(index, name, way, moment, screens[name], data_dir, tmp_path)
        landed[(way, place)] += 1
        line = f"run {index:2d} {name:12s} {way:7s} at +{moment * 1000:7.1f} ms: {place}"
        print(line + ("" if not problems else " -- " + "; ".join(problems)))
        if problems:
            failures.append(line + ": " + "; ".join(problems))
    print("requests by where they landed:", dict(sorted(landed.items())))
    assert not failures, f"seed {seed}:\n" + "\n".join(failures)
    # The draw must reach both the start-up and the frame loop, or the test proves little.
    places = {place for _, place in landed}
    assert "start-up" in places or "first frames" in places, landed
    assert "movement one" in places, landed
