"""Crash signals: a SIGQUIT (Ctrl-\\) or a SIGSEGV at a random moment of a run, from start-up into the
frame loop, ends the process at once by the signal's own default action. No handler may try to
shut SDL down inside the signal: that can deadlock in the GL driver and leave a frozen full-screen
window that only SIGKILL ends. (SIGINT and SIGTERM are quit requests instead: tests/quit.)

Every other run is signalled within its first second, mostly during start-up; the others within a
second of the start of the frame loop, however long start-up took. The runs go a few at a time on
one Xvfb. The seed is printed; set VELLAMOR_SIGNAL_SEED to repeat a set of moments."""

import os
import random
import signal
import subprocess
import time
from collections import Counter
from concurrent.futures import ThreadPoolExecutor

import harness as h

SIGNALS = [signal.SIGQUIT] * 20 + [signal.SIGSEGV] * 10
if h.on_compat():
    SIGNALS = SIGNALS[::3]  # SDL 2 has no handler of crash signals to get in the way: a check
GONE_WITHIN_S = 2.0
AT_ONCE = 4
DEFAULT_SEED = 20261213


def where(calls):
    if any(c.startswith("alkuaika ") for c in calls):
        return "frame loop"
    if any(c.startswith("SDL_Init ") for c in calls):
        return "start-up"
    return "before SDL"


def one_run(index, sig, in_loop, moment, x, tmp_path, music):
    workdir = h.make_workdir(tmp_path / f"run-{index:02d}", music=music)
    with h.Run("vellamor", workdir, x) as run:
        since = run.started
        if in_loop:
            h.wait_until(lambda: where(run.calls()) == "frame loop" or not run.alive(), 60,
                         what="the frame loop")
            since = time.monotonic()
        time.sleep(max(0.0, since + moment - time.monotonic()))
        if not run.alive():
            return f"ended by itself with {run.proc.returncode}: {run.stdout()!r}", None, None
        os.kill(run.pid, sig)
        sent = time.monotonic()
        try:
            status = run.proc.wait(GONE_WITHIN_S)
        except subprocess.TimeoutExpired:
            return f"still running {GONE_WITHIN_S} s after {sig.name}", None, where(run.calls())
        took = time.monotonic() - sent
        problem = None if status == -sig else f"status {status}, not ended by {sig.name}: " \
                                               f"{run.stderr()[-500:]!r}"
        return problem, took, where(run.calls())


def test_crash_signals_end_the_process_at_once(x720, tmp_path):
    seed = int(os.environ.get("VELLAMOR_SIGNAL_SEED", DEFAULT_SEED))
    rng = random.Random(seed)
    plan = [(i, sig, i % 2 == 1, rng.uniform(0.0, 1.0)) for i, sig in enumerate(SIGNALS)]
    music = "asset" if h.source_asset(h.MUSIC) else "none"
    with ThreadPoolExecutor(AT_ONCE) as pool:
        results = list(pool.map(lambda p: one_run(*p, x720, tmp_path, music), plan))
    failures, times, landed = [], [], Counter()
    for (index, sig, in_loop, moment), (problem, took, place) in zip(plan, results):
        landed[place] += 1
        if took is not None:
            times.append(took)
        if problem:
            since = "the frame loop" if in_loop else "the start"
            failures.append(f"run {index} {sig.name} {moment * 1000:.0f} ms after {since} "
                            f"({place}): {problem}")
    print(f"seed {seed}; where the signals landed: {dict(landed)}; "
          f"gone after at most {max(times, default=0) * 1000:.0f} ms")
    assert not failures, f"seed {seed}:\n" + "\n".join(failures)
    assert landed["start-up"] + landed["before SDL"] >= 1, landed
