"""A real X server for the tests and the benchmarks: an Xvfb on a display number it picks itself,
started with -noreset, stopped with its lock and socket files on every way out, and ended with the
process that started it.

SDL opens the display more than once while it starts, and a server that resets whenever its last
client leaves could reset in between, losing what was set on it: hence -noreset.
"""

import os
import select
import signal
import subprocess
import time
from pathlib import Path

from support.processes import die_with_parent, terminate, wait_until

START_TIMEOUT_S = 20
# The files an X server of display n leaves behind when it cannot remove them itself (when it is
# killed): its socket, and its lock file when it makes one.
SERVER_FILES = ("/tmp/.X11-unix/X{n}", "/tmp/.X{n}-lock")


def _identity(path):
    """What tells a file apart from a later one of the same name."""
    st = path.lstat()
    return st.st_dev, st.st_ino, st.st_ctime_ns


class Xvfb:
    """One Xvfb of width x height (x depth) on a free display, serving its clients once it is made.

    The server writes its display number to a pipe (-displayfd) only when it accepts connections,
    so a client may connect as soon as `display` is set. Use it as a context manager or call
    stop(); a test process that dies takes the server with it (SIGTERM, on which Xvfb removes its
    files itself); a server that had to be killed has its files removed by stop()."""

    def __init__(self, width, height, depth=24, extra_args=()):
        self.width, self.height = width, height
        self.display = None
        self._files = []
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", f"{width}x{height}x{depth}",
             "-noreset", "-nolisten", "tcp", *extra_args],
            pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True,
            preexec_fn=die_with_parent(signal.SIGTERM))
        os.close(w)
        try:
            number = self._display_number(r)
            self.display = ":" + number
            self._files = self._own_files(number)
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(r)

    def _display_number(self, pipe):
        number = b""
        deadline = time.monotonic() + START_TIMEOUT_S
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([pipe], [], [], left)[0]:
                raise RuntimeError(f"Xvfb did not start within {START_TIMEOUT_S} s")
            chunk = os.read(pipe, 16)
            if not chunk:
                raise RuntimeError(f"Xvfb exited with {self.proc.wait()} while starting")
            number += chunk
        return number.decode().strip()

    def env(self):
        """The environment of a program shown on this server."""
        return {"DISPLAY": self.display}

    def run(self, *args, check=True, timeout=20):
        """Runs an X client (xdotool, xwd, glretrace ...) on this display; returns its stdout."""
        env = dict(os.environ, DISPLAY=self.display)
        p = subprocess.run(list(args), env=env, capture_output=True, text=True, timeout=timeout)
        if check and p.returncode != 0:
            raise RuntimeError(f"{args} failed with {p.returncode}: {p.stderr.strip()}")
        return p.stdout

    def stop(self):
        terminate(self.proc)
        self._remove_leftovers()

    @staticmethod
    def _own_files(number):
        """[(path, identity)] of the files the server of display `number` has made."""
        found = []
        for pattern in SERVER_FILES:
            path = Path(pattern.format(n=number))
            try:
                found.append((path, _identity(path)))
            except FileNotFoundError:
                pass
        return found

    def _remove_leftovers(self):
        """The files of this server that it could not remove itself. A file of that name made since
        (by another server that took the display number over) is left alone."""
        for path, identity in self._files:
            try:
                if _identity(path) == identity:
                    path.unlink()
            except FileNotFoundError:
                pass
        self._files = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # --- windows (through xdotool) -------------------------------------------------------------

    def windows_of_class(self, classname):
        """Mapped windows whose WM_CLASS instance is classname. SDL names its window manager window
        after the program; the full-screen window and the GL window beneath it carry no class. (SDL
        also makes a short-lived unmapped window of that class while it starts.)"""
        out = self.run("xdotool", "search", "--onlyvisible", "--classname", f"^{classname}$",
                       check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, classname, proc=None, timeout=30):
        """Waits for a mapped window of the class, the window manager window that SDL names after
        the program; returns its id. A proc that ends first fails the wait."""
        def found():
            if proc is not None and proc.poll() is not None:
                raise AssertionError(f"{classname} ended with {proc.returncode} before its window "
                                     "appeared")
            return self.windows_of_class(classname)
        return wait_until(found, timeout, what=f"a window of {classname}")[0]

    def window_name(self, window):
        return self.run("xdotool", "getwindowname", str(window), check=False).rstrip("\n")

    def key(self, *keys):
        self.run("xdotool", "key", *keys)

    def keydown(self, key):
        self.run("xdotool", "keydown", key)

    def keyup(self, key):
        self.run("xdotool", "keyup", key)
