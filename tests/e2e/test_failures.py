"""Start-up failures: SDL_Init failing ends with status 1 and its message, without
shutting SDL down; SDL_SetVideoMode failing ends with status 2 and its message, shutting SDL down
once. The exit handler's "Virhekoodi" branch never shows."""

from pathlib import Path

import pytest

import harness as h

PROGRAMS = ["vellamor", "vellamor_600"]


@pytest.fixture(scope="module")
def x_without_glx():
    with h.xvfb(1280, 720, extra_args=("-extension", "GLX")) as x:
        yield x


def unused_display():
    """A display number that no X server listens on."""
    for n in range(4000, 5000):
        if not Path(f"/tmp/.X11-unix/X{n}").exists() and not Path(f"/tmp/.X{n}-lock").exists():
            return f":{n}"
    raise RuntimeError("no unused display number")


def run_to_end(name, tmp_path, x=None, env=None, timeout=30):
    run = h.Run(name, h.make_workdir(tmp_path, music="none"), x, env=env)
    with run:
        status = run.wait(timeout)
        return status, run.stdout(), run.calls()


@pytest.mark.parametrize("name", PROGRAMS)
def test_sdl_init_failing_prints_its_reason_and_ends_with_status_1(name, x720, tmp_path):
    status, out, calls = run_to_end(name, tmp_path, x720, env={"SDL_VIDEODRIVER": "nonexistent"})
    assert status == 1, out
    assert out == "Virhe: SDL_Init: No available video device\n"
    assert h.count_calls(calls, "SDL_Init") == 1
    assert calls[0] == "SDL_Init 0x31 -> -1", calls
    assert h.count_calls(calls, "SDL_Quit") == 0, "SDL_Quit after a failed SDL_Init"
    assert h.count_calls(calls, "SDL_SetVideoMode") == 0


@pytest.mark.parametrize("name", PROGRAMS)
def test_sdl_init_failing_without_an_x_server(name, tmp_path):
    status, out, calls = run_to_end(name, tmp_path, env={"DISPLAY": unused_display()})
    assert status == 1, out
    assert out == "Virhe: SDL_Init: No available video device\n"
    assert h.count_calls(calls, "SDL_Quit") == 0


@pytest.mark.parametrize("name", PROGRAMS)
def test_sdl_setvideomode_failing_prints_its_reason_and_ends_with_status_2(name, x_without_glx, tmp_path):
    status, out, calls = run_to_end(name, tmp_path, x_without_glx)
    assert status == 2, out
    assert out == "Virhe: SDL_SetVideoMode: Couldn't find matching GLX visual\n"
    w, hgt = h.MODES[name]
    assert f"SDL_SetVideoMode {w} {hgt} 0 0x80000002 -> null" in calls, calls
    assert h.count_calls(calls, "SDL_Quit") == 1, calls
    for call in ("SDL_WM_SetCaption", "Mix_OpenAudio", "SDL_ShowCursor"):
        assert h.count_calls(calls, call) == 0, calls
