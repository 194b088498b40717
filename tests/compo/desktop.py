"""A desktop for the compo editions' tests: a private Xvfb with a window manager (openbox) on it,
as every desktop has one (Wine waits for a window manager to withdraw a window that is being
destroyed), and a Wine of its own for it: a prefix in a temporary folder. One Wine serves one
display only: its server's desktop process keeps the display it was started on, and a program
shown on another display fails when its windows are destroyed."""

import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
import time

from support.processes import die_with_parent, terminate, wait_until
from support.xserver import Xvfb

WM_START_TIMEOUT_S = 20
WINEBOOT_TIMEOUT_S = 300


class Desktop:
    """An Xvfb of width x height with openbox managing its windows; a context manager."""

    def __init__(self, width, height):
        self.x = Xvfb(width, height)
        try:
            self.wm = subprocess.Popen(
                ["openbox", "--sm-disable"], env=dict(os.environ, **self.x.env()),
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True, preexec_fn=die_with_parent(signal.SIGTERM))
            # openbox names itself on the root window once it manages the screen.
            wait_until(self._managed, WM_START_TIMEOUT_S, interval=0.1, what="openbox")
        except BaseException:
            self.x.stop()
            raise

    def _managed(self):
        if self.wm.poll() is not None:
            raise AssertionError(f"openbox ended with {self.wm.returncode}")
        out = self.x.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False)
        return "window id" in out

    def stop(self):
        terminate(self.wm)
        self.x.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Wine:
    """A Wine prefix of its own in a temporary folder, booted on the desktop its programs are shown
    on; programs run with run_env(). stop() ends its wine server and removes the prefix."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.folder = tempfile.mkdtemp(prefix="vellamor-wine-")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("SDL_", "WINE", "LD_PRELOAD", "FAKETIME"))
                    and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        # No installers of .NET or the HTML engine (they would ask for a download), no debug
        # output, no desktop integration (menus, file associations) written outside the prefix.
        self.env.update(WINEPREFIX=self.folder, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=",
                        **desktop.x.env())
        start = time.monotonic()
        try:
            subprocess.run(["wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=WINEBOOT_TIMEOUT_S, check=True)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=WINEBOOT_TIMEOUT_S)
        except BaseException:
            self.stop()
            raise
        self.boot_s = time.monotonic() - start

    def run_env(self, **extra):
        """The environment of a Windows program shown on the desktop. SDL's audio driver is the
        dummy one: the machine may have no sound device, and the music is then loaded and played
        all the same."""
        return dict(self.env, SDL_AUDIODRIVER="dummy", **extra)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        shutil.rmtree(self.folder, ignore_errors=True)


@contextlib.contextmanager
def wine_desktop(width, height):
    """A desktop of width x height with a Wine of its own booted on it: yields the Wine, whose
    desktop is wine.desktop."""
    with Desktop(width, height) as desktop:
        wine = Wine(desktop)
        try:
            yield wine
        finally:
            wine.stop()
