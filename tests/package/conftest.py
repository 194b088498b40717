"""Shared parts of the package tests.

CTest sets the environment (tests/package/CMakeLists.txt): VELLAMOR_SOURCE_DIR, the source tree;
VELLAMOR_PACKAGE_DIR, where scripts/package leaves the .deb and the archive; VELLAMOR_BUILD_DIR,
this build; MKICON_BIN, the icon maker.
"""

import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
import harness  # noqa: E402  (Xvfb and the faketime library of the end-to-end tests)

MUSIC = "ruvo_megasong_bpm_124c.ogg"
LOGO = "logo3.png"
# The show ends at demo time 129678 ms: at ten times the speed no whole run is shorter than this.
WHOLE_SHOW_S = 129.678 / 10


def env_path(name):
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set: run the package tests through CTest")
    return Path(value)


def package_file(pattern):
    found = sorted(env_path("VELLAMOR_PACKAGE_DIR").glob(pattern))
    if len(found) != 1:
        pytest.fail(f"expected one {pattern} from scripts/package, found {found}")
    return found[0]


def as_root(*command):
    """The command, through sudo when this is not root (as scripts/deps does)."""
    return list(command) if os.geteuid() == 0 else ["sudo", *command]


def show_env(x, faketime=None):
    """The environment of a run of the show on Xvfb x with SDL's dummy sound driver, its clock
    sped up faketime times if given."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("SDL_", "FAKETIME", "LD_PRELOAD"))}
    env.update(DISPLAY=x.display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy")
    if faketime:
        env.update(LD_PRELOAD=harness.FAKETIME_LIB, FAKETIME=f"+0 x{faketime}",
                   FAKETIME_DONT_FAKE_MONOTONIC="0")
    return env


def bad_lines(stdout):
    """The lines that say a data file was not found, or any other failure of the show's own."""
    return [line for line in stdout.splitlines()
            if line.startswith("Unable to load") or "Virhe" in line]


def play_whole_show(launcher, cwd):
    """Runs a launcher from the folder cwd under its own 1280x720 Xvfb, at ten times the speed,
    and checks that the show ran to its end with status 0 and found its two data files."""
    with harness.xvfb(1280, 720) as x:
        start = time.monotonic()
        p = subprocess.run([str(launcher)], cwd=cwd, env=show_env(x, faketime=10),
                           stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=180)
        took = time.monotonic() - start
    what = f"{launcher} from {cwd}: status {p.returncode}, stdout {p.stdout!r}, stderr {p.stderr!r}"
    assert p.returncode == 0, what
    assert not bad_lines(p.stdout), what
    assert took >= WHOLE_SHOW_S, f"{what}: over after {took:.1f} s, before the show's end"


def quit_with_escape(launcher, cwd, program):
    """Starts a launcher from cwd on an Xvfb of the program's size and ends it with Escape once
    the show is past its start-up (its caption is set and its music loaded); returns (status,
    stdout, stderr)."""
    width, height = harness.MODES[program]
    with harness.xvfb(width, height) as x:
        proc = subprocess.Popen([str(launcher)], cwd=cwd, env=show_env(x),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        try:
            window = x.wait_window(program, proc)
            harness.wait_until(lambda: x.window_name(window) == harness.TITLE, 30,
                               what="the show's caption")
            time.sleep(0.5)
            x.key("Escape")
            out, err = proc.communicate(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
    return proc.returncode, out, err


def files_of(root):
    """Every file and symbolic link under root, as paths relative to it."""
    root = Path(root)
    return {str(p.relative_to(root)) for p in root.rglob("*") if p.is_symlink() or p.is_file()}
