"""Shared parts of the compo editions' tests.

CTest sets the environment (tests/compo/CMakeLists.txt): COMPO_WINDOWS_DIR and COMPO_PORTABLE_DIR,
the folders scripts/build-windows and scripts/build-portable fill (the programs with the data
folder beside them, and the Windows still program in tools/), which CTest builds first as
fixtures; CAPTURE_BIN, the native capture program whose stills are the reference; COMPO_ARTEFACTS,
where the compared frames are kept for a person to look at.
"""

import shutil
import time
from functools import partial

import pytest

from support import ctest_env
from support.processes import wait_until
from support.showrun import LOGO, MUSIC

env_path = partial(ctest_env.env_path, area="compo")
# The show ends at demo time 129678 ms.
WHOLE_SHOW_S = 129.678
# The longest a program's window may stay on the screen after Escape or Alt-F4: a second, with half
# a second more for the measure itself (starting xdotool, the window manager's round trip and
# polling the window list), which on a loaded two-core machine takes that long.
QUIT_S = 1.5


def bad_lines(stdout):
    """The lines that say a data file was not found, or any other failure of the show's own."""
    return [line for line in stdout.splitlines()
            if line.startswith("Unable to") or "Virhe" in line]


def unpacked(build, names, root, data=True):
    """The programs `names` of an edition's build folder copied into root/app, with the data folder
    beside them unless data is False, as a party unpacks an archive; returns root/app."""
    app = root / "app"
    app.mkdir()
    for name in names:
        shutil.copy2(build / name, app / name)
    if data:
        (app / "data").mkdir()
        for f in (MUSIC, LOGO):
            shutil.copy2(build / "data" / f, app / "data" / f)
    return app


def time_to_quit(x, classname, proc, send, timeout=30):
    """Sends an input with send() and returns the seconds until the window has gone from the
    screen (what the viewer sees), then waits for proc to end."""
    start = time.monotonic()
    send()
    wait_until(lambda: proc.poll() is not None or not x.windows_of_class(classname), timeout,
               what="the window to go")
    took = time.monotonic() - start
    proc.wait(timeout)
    return took


@pytest.fixture(scope="session")
def windows_build():
    return env_path("COMPO_WINDOWS_DIR")


@pytest.fixture(scope="session")
def portable_build():
    return env_path("COMPO_PORTABLE_DIR")
