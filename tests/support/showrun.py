"""Running the show as the tests and the benchmarks do: the program's environment (this process's
without what would change the run, a display server, SDL's drivers, preload libraries, the clock
sped up by faketime) and its process (started as from a terminal in a session of its own, ended
with the process that started it, and ended with all it started on every way out)."""

import os
import resource
import signal
import subprocess

from support.processes import die_with_parent, kill_session, wait_until

TITLE = "Korvek - Vellamor"
MUSIC = "ruvo_megasong_bpm_124c.ogg"
LOGO = "logo3.png"
# The screen each program fills.
MODES = {"vellamor": (1280, 720), "vellamor_600": (1024, 600)}

FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"

# What of this process's environment would change a run: SDL's and faketime's settings, preload
# libraries, and the display servers of the session the tests were started from.
NOT_INHERITED_PREFIXES = ("SDL_", "FAKETIME", "LD_PRELOAD")
NOT_INHERITED = ("DISPLAY", "WAYLAND_DISPLAY")


def faketime_env(speed):
    """What runs a program's clock `speed` times faster with FAKETIME_LIB preloaded. SDL_GetTicks
    reads CLOCK_MONOTONIC, which faketime leaves alone unless told."""
    return {"FAKETIME": f"+0 x{speed}", "FAKETIME_DONT_FAKE_MONOTONIC": "0"}


def show_env(server=None, speed=None, preload=(), audio="dummy", drop=(), extra=None):
    """The environment of a run of the show.

    server: the display server it is shown on, anything with env() (an Xvfb, a compositor; None:
    no display at all). SDL's video driver is x11 unless the server's env() says otherwise, so that
    a missing server fails cleanly instead of SDL trying other drivers.
    speed: the clock runs that many times faster (faketime, preloaded after the given libraries);
    None or 1: real time.
    preload: preload libraries, in order. audio: SDL's audio driver (None: SDL's own choice).
    drop: prefixes of further variables of this process that the run must not see.
    extra: entries added last; an entry whose value is None is removed."""
    hidden = NOT_INHERITED_PREFIXES + tuple(drop)
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(hidden) and k not in NOT_INHERITED}
    env["SDL_VIDEODRIVER"] = "x11"
    # A sanitizer build must not refuse to run behind the preload libraries, and the libraries' own
    # allocations that live until exit (X11, SDL, Mesa) are no findings of a run of the show.
    asan = [o for o in env.get("ASAN_OPTIONS", "").split(":") if o]
    asan.append("verify_asan_link_order=0")
    if not any(o.startswith("detect_leaks=") for o in asan):
        asan.append("detect_leaks=0")
    env["ASAN_OPTIONS"] = ":".join(asan)
    if server is not None:
        env.update(server.env())
    if audio is not None:
        env["SDL_AUDIODRIVER"] = audio
    preload = [str(p) for p in preload]
    if speed and speed != 1:
        preload.append(FAKETIME_LIB)
        env.update(faketime_env(speed))
    if preload:
        env["LD_PRELOAD"] = " ".join(preload)
    for k, v in (extra or {}).items():
        if v is None:
            env.pop(k, None)
        else:
            env[k] = v
    return env


def _as_from_a_terminal(close_stdout):
    """A preexec function: the program dies with the process that started it (SIGKILL), and the
    signals that a shell's background jobs ignore (SIGINT, SIGQUIT) are back to their defaults, so
    that it starts as it does from a terminal however the test run itself was started. No core
    files: some tests end programs with crash signals on purpose. With close_stdout, the program
    starts with its standard output closed (`program >&-`)."""
    die = die_with_parent(signal.SIGKILL)

    def setup():
        die()
        for s in (signal.SIGINT, signal.SIGQUIT):
            signal.signal(s, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        if close_stdout:
            os.close(1)
    return setup


def start(argv, cwd=None, env=None, stdout=None, stderr=None, close_stdout=False, text=False):
    """Starts the show, or a launcher or a wrapper of it, in a session of its own, with no input;
    returns the Popen. End it with end()."""
    return subprocess.Popen([str(a) for a in argv], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=stderr, text=text, start_new_session=True,
                            preexec_fn=_as_from_a_terminal(close_stdout))


def end(proc):
    """Ends a run and all it started at once (SIGKILL to its session), if anything is left."""
    kill_session(proc)


def run(argv, timeout, cwd=None, env=None):
    """Runs the show to its end, its output taken as text; returns a CompletedProcess. A run that
    outlives the timeout is ended, and subprocess.TimeoutExpired raised."""
    proc = start(argv, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    finally:
        end(proc)
    return subprocess.CompletedProcess(proc.args, proc.returncode, out, err)


def wait_for_show(x, name, proc, timeout=30):
    """Waits until the program `name` has started on the X server x: its window is there and
    carries the caption, which the show sets at the end of start-up, just before its frame loop.
    Returns the window; a run that ends first fails the wait."""
    window = x.wait_window(name, proc, timeout)
    wait_until(lambda: x.window_name(window) == TITLE or proc.poll() is not None, timeout,
               what="the caption")
    if proc.poll() is not None:
        raise AssertionError(f"{name} ended early with {proc.returncode}")
    return window
