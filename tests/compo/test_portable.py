"""The portable Linux edition on a system without SDL 1.2, SDL_mixer or SDL_image: the system's
copies are hidden in a private mount namespace, and the programs, unpacked in a folder of their
own, are started from another folder and through a symbolic link; they find their data, load no
SDL of the system, play the whole show and end at once on Escape with status 0."""

import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

from conftest import QUIT_S, WHOLE_SHOW_S, bad_lines, time_to_quit, unpacked
from support import showrun
from support.xserver import Xvfb

PROGRAMS = ("vellamor", "vellamor_600")
# What a program may need from the system it runs on.
SYSTEM_LIBRARIES = {"libGL.so.1", "libGLU.so.1", "libc.so.6", "libm.so.6"}
HIDDEN = ("libSDL-1.2.so", "libSDL_mixer-1.2.so", "libSDL_image-1.2.so")
LIBRARY_DIRS = ("/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/local/lib")
SPEED = 10


def hidden_files():
    """The system's SDL 1.2 libraries, as real files (the links to them are hidden with them)."""
    found = set()
    for folder in LIBRARY_DIRS:
        if os.path.isdir(folder):
            found |= {os.path.realpath(Path(folder) / f) for f in os.listdir(folder)
                      if f.startswith(HIDDEN)}
    return sorted(found)


def without_system_sdl(argv):
    """argv run in a mount namespace of its own in which /dev/null lies over every file of the
    system's SDL 1.2, SDL_mixer and SDL_image: loading them fails as if they were not there."""
    binds = " ".join(f"mount --bind /dev/null '{f}' &&" for f in hidden_files())
    own_namespace = ["unshare", "--mount"] if os.geteuid() == 0 else \
        ["unshare", "--mount", "--map-root-user"]
    return [*own_namespace, "sh", "-c", f"{binds} exec \"$@\"",
            "hidden", *map(str, argv)]


def needed(program):
    out = subprocess.run(["readelf", "-d", str(program)], check=True, capture_output=True,
                         text=True).stdout
    return {line.split("[", 1)[1].split("]", 1)[0] for line in out.splitlines()
            if "(NEEDED)" in line}


@pytest.fixture(scope="module")
def app(portable_build, tmp_path_factory):
    return unpacked(portable_build, PROGRAMS, tmp_path_factory.mktemp("unpacked"))


@pytest.mark.parametrize("program", PROGRAMS)
def test_needs_only_gl_and_the_c_library(portable_build, program):
    assert needed(portable_build / program) == SYSTEM_LIBRARIES


def test_masking_hides_the_system_sdl(tmp_path):
    """The check of the checks: with the masks, the system's SDL 1.2 cannot be loaded."""
    assert hidden_files(), "no SDL 1.2 on this system to hide"
    probe = "import ctypes, sys\ntry:\n ctypes.CDLL('libSDL-1.2.so.0')\nexcept OSError:\n sys.exit(3)"
    p = subprocess.run(without_system_sdl([sys.executable, "-c", probe]), capture_output=True,
                       text=True, timeout=60)
    assert p.returncode == 3, (p.returncode, p.stderr)


def test_whole_show_from_another_folder(app, tmp_path):
    with Xvfb(1280, 720) as x:
        start = time.monotonic()
        p = showrun.run(without_system_sdl([app / "vellamor"]), 180, cwd=tmp_path,
                        env=showrun.show_env(x, speed=SPEED))
        took = time.monotonic() - start
    assert p.returncode == 0, (p.stdout, p.stderr)
    assert not bad_lines(p.stdout), p.stdout
    assert took >= WHOLE_SHOW_S / SPEED, f"over after {took:.1f} s, before the show's end"


def sdl_libraries_mapped(pid):
    with open(f"/proc/{pid}/maps") as maps:
        return sorted({line.split()[-1] for line in maps if "libSDL" in line})


def test_escape_through_a_symbolic_link(app, tmp_path):
    link = tmp_path / "bin" / "vellamor_600"
    link.parent.mkdir()
    link.symlink_to(app / "vellamor_600")
    with Xvfb(1024, 600) as x:
        proc = showrun.start(without_system_sdl([link]), cwd=tmp_path, env=showrun.show_env(x),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            showrun.wait_for_show(x, "vellamor_600", proc)
            # The program itself, under the namespace's shell it replaced.
            mapped = sdl_libraries_mapped(proc.pid)
            time.sleep(0.5)
            took = time_to_quit(x, "vellamor_600", proc, lambda: x.key("Escape"))
            out, err = proc.communicate()
        finally:
            showrun.end(proc)
    assert proc.returncode == 0, (out, err)
    assert not bad_lines(out), out
    assert mapped == [], mapped
    assert took < QUIT_S, f"Escape ended it after {took:.2f} s"
