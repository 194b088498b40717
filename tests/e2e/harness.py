"""Shared harness of the end-to-end tests: a real Xvfb, the real programs, xdotool and friends.

The tests get their inputs from the environment, which tests/e2e/CMakeLists.txt sets for CTest:

- VELLAMOR_BIN, VELLAMOR_600_BIN: the built programs;
- VELLAMOR_DATA_DIR: the data folder with the show's two assets (either may be missing);
- E2E_XHELPER: the Xlib helper (close request, synthetic key release, cursor image);
- E2E_SHIM: the preload library that logs the library calls and holds start-up or frames on request;
- E2E_ARTEFACTS: where screenshots and traces are kept for people to look at;
- E2E_SDL12: the SDL 1.2 implementation the programs run on, "classic" (the system's library, the
  default) or "sdl12-compat" (SDL 1.2 over SDL 2, loaded from SDL12_COMPAT_DIR).

Everything that depends on the implementation is chosen in one place, `implementation()`; a test
that must expect something else of one of them says which and why.
"""

import contextlib
import os
import random
import shutil
import signal
import struct
import subprocess
import tempfile
import time
from functools import partial
from pathlib import Path

import numpy as np

from support import ctest_env, showrun, xserver
from support.processes import die_with_parent, terminate, wait_until
from support.showrun import LOGO, MODES, MUSIC, TITLE  # noqa: F401  (the tests' names for them)
from support.standins import make_logo, make_music  # noqa: F401

# Demo times in ms.
BAR_MS = 4 * 483.8709716796875
END_OF_SHOW_MS = 129678


env_path = partial(ctest_env.env_path, area="end-to-end")


def program(name):
    """The path of the built program `vellamor`, `vellamor_600` or the development build
    `vellamor_windowed` (1280x720 in a window)."""
    return env_path({"vellamor": "VELLAMOR_BIN", "vellamor_600": "VELLAMOR_600_BIN",
                     "vellamor_windowed": "VELLAMOR_WINDOWED_BIN"}[name])


def xhelper():
    return str(env_path("E2E_XHELPER"))


def shim():
    return str(env_path("E2E_SHIM"))


def artefacts_dir(*parts):
    d = env_path("E2E_ARTEFACTS").joinpath(*parts)
    d.mkdir(parents=True, exist_ok=True)
    return d


def source_asset(name):
    """The show's asset from the data folder, or None when it has not been made."""
    d = os.environ.get("VELLAMOR_DATA_DIR")
    if not d:
        return None
    p = Path(d) / name
    return p if p.is_file() and p.stat().st_size > 0 else None


# ---------------------------------------------------------------------------------------------
# The SDL 1.2 implementation under test

CLASSIC = "classic"
COMPAT = "sdl12-compat"


def implementation():
    """CLASSIC or COMPAT, from E2E_SDL12."""
    name = os.environ.get("E2E_SDL12") or CLASSIC
    if name not in (CLASSIC, COMPAT):
        raise RuntimeError(f"E2E_SDL12={name!r}: expected {CLASSIC!r} or {COMPAT!r}")
    return name


def on_compat():
    return implementation() == COMPAT


def programs(on_compat_too=False):
    """The programs a test runs: both on the classic library; on sdl12-compat `vellamor` alone,
    unless on_compat_too. The two share all their code but the build constants (mode, pointer), so
    the second pass runs both only where it looks at what those constants change."""
    both = ["vellamor", "vellamor_600"]
    return both if on_compat_too or not on_compat() else both[:1]


def library_env():
    """What a program's environment needs to load the implementation under test. sdl12-compat is
    put first on the library path, so that the program, SDL_mixer and SDL_image all load it; it
    finds SDL 2 on the system."""
    if not on_compat():
        return {}
    folder = env_path("SDL12_COMPAT_DIR")
    if not (folder / "libSDL-1.2.so.0").exists():
        raise RuntimeError(f"no libSDL-1.2.so.0 in {folder}: run scripts/sdl12-compat {folder}")
    path = os.environ.get("LD_LIBRARY_PATH")
    return {"LD_LIBRARY_PATH": f"{folder}:{path}" if path else str(folder)}


def mapped_libraries(pid):
    """The paths of the shared libraries the process has mapped."""
    paths = set()
    for line in Path(f"/proc/{pid}/maps").read_text().splitlines():
        parts = line.split(None, 5)
        if len(parts) == 6 and ".so" in parts[5]:
            paths.add(Path(parts[5]))
    return paths


# ---------------------------------------------------------------------------------------------
# Xvfb


class Xvfb(xserver.Xvfb):
    """An Xvfb of the tests' own (see support.xserver), with what the tests look at through the
    Xlib helper and xwd: the window tree, close requests, the cursor, screenshots."""

    def window_tree(self):
        """Every window under the root: [(id, x, y, width, height, mapped, depth, name)]."""
        rows = []
        for line in self.run(xhelper(), "tree").splitlines():
            parts = line.split(" ", 7)
            rows.append((int(parts[0], 16), *(int(v) for v in parts[1:5]), parts[5] == "1",
                         int(parts[6]), parts[7] if len(parts) > 7 else ""))
        return rows

    def window_geometry(self, window):
        """(x, y, width, height) of the window on the screen."""
        for wid, x, y, w, hgt, *_ in self.window_tree():
            if wid == window:
                return x, y, w, hgt
        raise AssertionError(f"no window {window:#x}")

    def send_close(self, window):
        """WM_PROTOCOLS / WM_DELETE_WINDOW to the window, as a window manager sends it."""
        self.run(xhelper(), "close", str(window))

    def cursor_image(self):
        """(width, height, visible pixels) of the cursor the pointer shows now."""
        out = self.run(xhelper(), "cursor").split()
        w, h = out[0].split("x")
        return int(w), int(h), int(out[1].split("=")[1])

    # --- screenshots ---------------------------------------------------------------------------

    def grab(self):
        """The root window as an XWD dump (bytes), through xwd."""
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(["xwd", "-root", "-silent"], env=env, capture_output=True,
                              check=True, timeout=30).stdout

    def screenshot(self, png_path=None):
        """The root window as an RGB numpy array (height, width, 3); saved as PNG on request."""
        return decode_xwd(self.grab(), png_path)


def decode_xwd(data, png_path=None):
    image = read_xwd(data)
    if png_path is not None:
        from PIL import Image
        Image.fromarray(image).save(png_path)
    return image


def read_xwd(data):
    """Decodes an XWD dump of a ZPixmap of 32-bit pixels, what xwd gives for Xvfb's 24-bit screen,
    or of packed 24-bit ones, what it gives when a window with a colormap of its own (SDL 2 makes
    one) is on the screen."""
    fields = struct.unpack(">25I", data[:100])
    (header_size, _version, pixmap_format, _depth, width, height, _xoffset, byte_order,
     _unit, _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual_class,
     red_mask, green_mask, blue_mask, _bits_rgb, _map_entries, ncolors) = fields[:20]
    assert pixmap_format == 2, "not a ZPixmap"
    assert bits_per_pixel in (24, 32), f"{bits_per_pixel} bits per pixel"
    size = bits_per_pixel // 8
    offset = header_size + 12 * ncolors
    rows = np.frombuffer(data, dtype=np.uint8, count=bytes_per_line * height, offset=offset)
    rows = rows.reshape(height, bytes_per_line)[:, :width * size].reshape(height, width, size)
    if byte_order == 1:  # most significant byte first
        rows = rows[:, :, ::-1]
    pixels = np.zeros((height, width), np.uint32)
    for i in range(size):
        pixels |= rows[:, :, i].astype(np.uint32) << (8 * i)

    def channel(mask):
        shift = (mask & -mask).bit_length() - 1
        return ((pixels & mask) >> shift).astype(np.uint8)

    return np.dstack([channel(red_mask), channel(green_mask), channel(blue_mask)])


def xvfb(width, height, **kw):
    """An Xvfb to use in a with statement."""
    return Xvfb(width, height, **kw)


# ---------------------------------------------------------------------------------------------
# Weston


class Weston:
    """weston, the reference Wayland compositor, on an Xvfb through its X11 backend: its output is a
    window of the X server, so xwd sees what it shows and xdotool types into it. (Its headless
    backend has no input seat, and SDL 2.26 crashes while starting there.) A program is shown on it
    by passing it as a Run's display server."""

    SOCKET = "wayland-vellamor"

    def __init__(self, x, width, height):
        self.x = x
        self.runtime_dir = Path(tempfile.mkdtemp(prefix="vellamor-weston-"))  # private, as Wayland wants
        self.log_path = self.runtime_dir / "weston.log"
        self.log = open(self.log_path, "wb")
        env = {k: v for k, v in os.environ.items() if k != "WAYLAND_DISPLAY"}
        env.update(DISPLAY=x.display, XDG_RUNTIME_DIR=str(self.runtime_dir))
        self.proc = subprocess.Popen(
            ["weston", "--backend=x11-backend.so", f"--width={width}", f"--height={height}",
             f"--socket={self.SOCKET}", "--idle-time=0", "--no-config"],
            env=env, stdout=self.log, stderr=self.log, stdin=subprocess.DEVNULL,
            start_new_session=True, preexec_fn=die_with_parent(signal.SIGTERM))
        try:
            self.window = wait_until(self._output_window, 30, what="weston's output window")
        except BaseException:
            self.stop()
            raise

    def _output_window(self):
        if self.proc.poll() is not None:
            raise RuntimeError(f"weston exited with {self.proc.returncode}: {self.log_text()[-2000:]}")
        if not (self.runtime_dir / self.SOCKET).exists():
            return None
        return next((wid for wid, *_, viewable, depth, _ in self.x.window_tree() if viewable and depth == 1),
                    None)

    def log_text(self):
        self.log.flush()
        return self.log_path.read_text(errors="replace")

    def env(self):
        """The environment of a program shown on this compositor."""
        return {"SDL_VIDEODRIVER": "wayland", "WAYLAND_DISPLAY": self.SOCKET,
                "XDG_RUNTIME_DIR": str(self.runtime_dir)}

    def key(self, *keys):
        """Types into weston's window, which hands the keys to the client it has focused."""
        self.x.run("xdotool", "windowfocus", "--sync", str(self.window), "key", *keys)

    def screenshot(self, png_path=None):
        return self.x.screenshot(png_path)

    def stop(self):
        terminate(self.proc)
        self.log.close()
        shutil.rmtree(self.runtime_dir, ignore_errors=True)


@contextlib.contextmanager
def weston(width, height):
    """weston on an Xvfb of its own, both the given size."""
    with Xvfb(width, height) as x:
        w = Weston(x, width, height)
        try:
            yield w
        finally:
            w.stop()


# ---------------------------------------------------------------------------------------------
# Working directories and data files


def make_workdir(root, music="none", logo="asset"):
    """A working directory with a data/ folder.

    music: "none" (no file), "asset" (the show's music, skipped if not made), a Path to copy,
    or bytes to write. logo: "none", "asset" (the show's logo, or a made stand-in when it has not
    been made), a Path, or bytes.
    """
    root = Path(root)
    data = root / "data"
    data.mkdir(parents=True, exist_ok=True)
    for name, what in ((MUSIC, music), (LOGO, logo)):
        target = data / name
        if what == "none":
            continue
        if what == "asset":
            src = source_asset(name)
            if src is not None:
                target.symlink_to(src)
            elif name == LOGO:
                make_logo(target)
            else:
                import pytest
                pytest.skip(f"data/{name} has not been made")
        elif isinstance(what, bytes):
            target.write_bytes(what)
        else:
            shutil.copyfile(what, target)
    return root


def bar_of(aika):
    """The bar number that a clock step derives from a demo time."""
    return int(aika / BAR_MS)


def random_bytes(n, seed):
    return random.Random(seed).randbytes(n)


# ---------------------------------------------------------------------------------------------
# Running the programs


class Run:
    """One run of a real program in a working directory, its stdout captured to a file.

    x: the display server the program is shown on, an Xvfb or a Weston (None: no display at all).
    env: entries added to the program's environment; an entry whose value is None is removed.
    output: where standard output goes: "file" (read back with stdout()), "broken-pipe" (a pipe
    whose reader has gone before the program starts) or "closed".
    The program loads the SDL 1.2 implementation under test (see `implementation`)."""

    def __init__(self, name, workdir, x=None, env=None, faketime=None, audio="dummy",
                 trace_log=True, preload_shim=True, wrapper=(), output="file"):
        self.name = name
        self.workdir = Path(workdir)
        self.out_path = self.workdir / "stdout.txt"
        self.err_path = self.workdir / "stderr.txt"
        self.trace_path = self.workdir / "calls.log" if trace_log else None
        preload, extra = [], library_env()
        if preload_shim:
            preload.append(shim())
            if self.trace_path is not None:
                extra["E2E_TRACE_LOG"] = str(self.trace_path)
        extra.update(env or {})
        self.env = showrun.show_env(x, speed=faketime, preload=preload, audio=audio,
                                    drop=("E2E_HOLD", "E2E_SHOT"), extra=extra)
        self.out = open(self.out_path, "wb")
        self.err = open(self.err_path, "wb")
        stdout = self.out
        if output == "broken-pipe":
            reader, stdout = os.pipe()
            os.close(reader)
        try:
            self.proc = showrun.start([*wrapper, program(name)], cwd=self.workdir, env=self.env,
                                      stdout=stdout, stderr=self.err,
                                      close_stdout=output == "closed")
        finally:
            if stdout is not self.out:
                os.close(stdout)
        self.started = time.monotonic()

    @property
    def pid(self):
        return self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def wait(self, timeout):
        """Waits for the end of the run; returns the exit status (negative: killed by a signal).

        A run that outlives the timeout is killed and the test fails."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"{self.name} still running after {timeout} s; "
                                 f"stdout: {self.stdout()!r}")

    def kill(self):
        showrun.end(self.proc)

    def stdout(self):
        self.out.flush()
        return self.out_path.read_bytes().decode("utf-8", "replace")

    def stderr(self):
        self.err.flush()
        return self.err_path.read_bytes().decode("utf-8", "replace")

    def lines(self):
        return self.stdout().splitlines()

    def calls(self):
        """The library calls the shim logged, one string each."""
        if self.trace_path is None or not self.trace_path.exists():
            return []
        return self.trace_path.read_text(errors="replace").splitlines()

    def close(self):
        self.kill()
        self.out.close()
        self.err.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def start_show(name, workdir, x, timeout=30, **kw):
    """Starts a program on an Xvfb and waits until it has set its caption, at the end of demoinit,
    just before the frame loop; returns (run, window). A run that ends first fails the test."""
    run = Run(name, workdir, x, **kw)
    try:
        window = showrun.wait_for_show(x, name, run.proc, timeout)
    except AssertionError as e:
        run.close()
        raise AssertionError(f"{e}; stdout: {run.stdout()!r}") from None
    except BaseException:
        run.close()
        raise
    return run, window


def count_calls(calls, prefix):
    return sum(1 for c in calls if c == prefix or c.startswith(prefix + " "))


# ---------------------------------------------------------------------------------------------
# Pictures


def mean_rgb(image, box=None):
    """Mean (r, g, b) of the image, or of box = (x0, y0, x1, y1) in fractions of the size."""
    if box is not None:
        h, w = image.shape[:2]
        x0, y0, x1, y1 = box
        image = image[int(y0 * h):int(y1 * h), int(x0 * w):int(x1 * w)]
    return image.reshape(-1, 3).mean(axis=0)


def brightness(image, box=None):
    return float(mean_rgb(image, box).mean())


def events(calls):
    """The events the program took from SDL_PollEvent, as (event, swaps before it) pairs, e.g.
    ("SDL_KEYDOWN sym 27", 12); needs E2E_LOG_EVENTS in the run's environment."""
    out = []
    for c in calls:
        if c.startswith("event "):
            text, _, swaps = c[len("event "):].rpartition(" @")
            out.append((text, int(swaps)))
    return out


def swaps_at_quit(calls):
    """Buffer swaps of the run, as logged when SDL_Quit was called."""
    for c in calls:
        if c.startswith("swaps "):
            return int(c.split()[1])
    return None


def last_frames(calls):
    """Demo times of the last three frames swapped, logged when SDL_Quit was called."""
    for c in calls:
        if c.startswith("last frames "):
            return [int(v) for v in c.split()[2:]]
    return None


def shot_env(shot_dir, times):
    """Environment for a run whose frames the preload library holds at the given demo times."""
    Path(shot_dir).mkdir(parents=True, exist_ok=True)
    return {"E2E_SHOT_DIR": str(shot_dir), "E2E_SHOT_TIMES": ",".join(str(int(t)) for t in times)}


def take_shots(run, x, shot_dir, count, save_as=None, timeout=240):
    """Serves the holds of a run started with shot_env until it ends: each held frame is captured
    from the screen. Returns [(demo time of the frame, RGB image)] in order; with save_as, a
    function of (index, demo time) giving a path, each picture is also saved as PNG.

    Each shot is (aika, previous, image): the demo time of the frame held and that of the frame
    before it (-1 for the first frame), from which the frame's bar number `tahdit` was derived."""
    shot_dir = Path(shot_dir)
    shots = []
    deadline = time.monotonic() + timeout
    while len(shots) < count and time.monotonic() < deadline:
        ready = shot_dir / f"shot-{len(shots)}"
        if ready.exists():
            aika, previous = (int(v) for v in ready.read_text().split())
            dump = x.grab()
            (shot_dir / f"shot-{len(shots)}.done").write_text("")  # let the show go on at once
            path = save_as(len(shots), aika) if save_as else None
            shots.append((aika, previous, decode_xwd(dump, path)))
            continue
        if not run.alive():
            break
        time.sleep(0.005)
    return shots
