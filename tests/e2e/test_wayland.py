"""Wayland. Through sdl12-compat, both programs run as Wayland clients of weston (on an Xvfb through
its X11 backend, with a 1920x1080 output): the show draws full screen, scaled to the output with
its aspect kept, and an Escape typed into weston's window ends it with status 0. The classic SDL 1.2
has no Wayland video driver: asked for one, it fails to start with status 1, as on a desktop
without X; so does sdl12-compat when no compositor answers."""

import time

import numpy as np
import pytest

import harness as h

PROGRAMS = h.programs(on_compat_too=True)
OUTPUT = (1920, 1080)
SPEED = 10
CITY_MS = 15000  # lit boxes under a dusk sky, long after the fade from black


@pytest.fixture(scope="module")
def weston():
    if not h.on_compat():
        pytest.skip("the classic SDL 1.2 has no Wayland video driver")
    with h.weston(*OUTPUT) as w:
        yield w


@pytest.mark.parametrize("name", PROGRAMS)
def test_the_show_on_weston(name, weston, tmp_path):
    workdir = h.make_workdir(tmp_path, music="none")
    with h.Run(name, workdir, weston, faketime=SPEED) as run:
        # The preload library logs the start tick as the frame loop begins.
        h.wait_until(lambda: any(c.startswith("alkuaika ") for c in run.calls()) or not run.alive(), 30,
                     what="the frame loop")
        assert run.alive(), f"status {run.proc.returncode}: {run.stdout()!r} {run.stderr()[-2000:]!r}"
        time.sleep(CITY_MS / SPEED / 1000)
        image = weston.screenshot(h.artefacts_dir("wayland") / f"{name}.png")
        weston.key("Escape")
        status = run.wait(15)
        assert status == 0, f"status {status}: {run.stdout()!r} {run.stderr()[-2000:]!r}"
        assert h.count_calls(run.calls(), "SDL_Quit") == 1
    assert float(image.std()) > 10 and int(image.max()) > 100, "a flat picture"
    # Full screen with the aspect kept: the picture fills the output's height, and its width
    # follows the program's own mode (1024x600 is a little narrower than 16:9).
    w, hgt = h.MODES[name]
    lit = np.nonzero(image.max(axis=2) > 0)
    rows = lit[0].max() - lit[0].min() + 1
    cols = lit[1].max() - lit[1].min() + 1
    assert rows >= 0.97 * OUTPUT[1], (rows, cols)
    assert abs(cols - OUTPUT[1] * w / hgt) <= 0.03 * OUTPUT[0], (rows, cols)


@pytest.mark.parametrize("name", PROGRAMS)
def test_wayland_without_a_compositor_fails_to_start(name, tmp_path):
    workdir = h.make_workdir(tmp_path, music="none")
    env = {"SDL_VIDEODRIVER": "wayland", "WAYLAND_DISPLAY": "wayland-vellamor-none",
           "XDG_RUNTIME_DIR": str(tmp_path)}
    with h.Run(name, workdir, None, env=env) as run:
        status = run.wait(30)
        out = run.stdout()
        assert status == 1, out
        assert out.startswith("Virhe: SDL_Init: ") and out.count("\n") == 1 and len(out) > 18, out
        assert h.count_calls(run.calls(), "SDL_Quit") == 0
