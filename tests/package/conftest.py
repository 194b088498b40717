"""Shared parts of the package tests.

CTest sets the environment (tests/package/CMakeLists.txt): VELLAMOR_SOURCE_DIR, the source tree;
VELLAMOR_PACKAGE_DIR, where scripts/package leaves the .deb and the archive; VELLAMOR_BUILD_DIR,
this build; MKICON_BIN, the icon maker.
"""

import os
import subprocess
import time
from functools import partial
from pathlib import Path

import pytest

from support import ctest_env, showrun
from support.showrun import LOGO, MUSIC  # noqa: F401  (the package tests' names for them)
from support.xserver import Xvfb
# The show ends at demo time 129678 ms: at ten times the speed no whole run is shorter than this.
WHOLE_SHOW_S = 129.678 / 10


env_path = partial(ctest_env.env_path, area="package")


def package_file(pattern):
    found = sorted(env_path("VELLAMOR_PACKAGE_DIR").glob(pattern))
    if len(found) != 1:
        pytest.fail(f"expected one {pattern} from scripts/package, found {found}")
    return found[0]


def as_root(*command):
    """The command, through sudo when this is not root (as scripts/deps does)."""
    return list(command) if os.geteuid() == 0 else ["sudo", *command]


def bad_lines(stdout):
    """The lines that say a data file was not found, or any other failure of the show's own."""
    return [line for line in stdout.splitlines()
            if line.startswith("Unable to load") or "Virhe" in line]


def play_whole_show(launcher, cwd):
    """Runs a launcher from the folder cwd under its own 1280x720 Xvfb, at ten times the speed,
    and checks that the show ran to its end with status 0 and found its two data files."""
    with Xvfb(1280, 720) as x:
        start = time.monotonic()
        p = showrun.run([launcher], 180, cwd=cwd, env=showrun.show_env(x, speed=10))
        took = time.monotonic() - start
    what = f"{launcher} from {cwd}: status {p.returncode}, stdout {p.stdout!r}, stderr {p.stderr!r}"
    assert p.returncode == 0, what
    assert not bad_lines(p.stdout), what
    assert took >= WHOLE_SHOW_S, f"{what}: over after {took:.1f} s, before the show's end"


def quit_with_escape(launcher, cwd, program):
    """Starts a launcher from cwd on an Xvfb of the program's size and ends it with Escape once
    the show is past its start-up (its caption is set and its music loaded); returns (status,
    stdout, stderr)."""
    with Xvfb(*showrun.MODES[program]) as x:
        proc = showrun.start([launcher], cwd=cwd, env=showrun.show_env(x),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            showrun.wait_for_show(x, program, proc)
            time.sleep(0.5)
            x.key("Escape")
            out, err = proc.communicate(timeout=30)
        finally:
            showrun.end(proc)
    return proc.returncode, out, err


def files_of(root):
    """Every file and symbolic link under root, as paths relative to it."""
    root = Path(root)
    return {str(p.relative_to(root)) for p in root.rglob("*") if p.is_symlink() or p.is_file()}
