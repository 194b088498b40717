"""Start-up failures: SDL_Init failing ends with status 1 and its message, without shutting SDL
down; SDL_SetVideoMode failing ends with status 2 and its message, shutting SDL down once; so does
a video driver that can show no window, which is what SDL finds when there is no display at all,
and the message of a text-mode driver's run stays on the terminal.
The exit handler's "Virhekoodi" branch never shows. Messages are checked up to SDL's reason, which
each SDL 1.2 implementation words its own way."""

import subprocess
import time
from pathlib import Path

import pytest

import harness as h
from support import showrun

PROGRAMS = h.programs(on_compat_too=True)


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


def reason(out, message):
    """SDL's reason in the one line `out`, which must be `message` followed by it."""
    assert out.startswith(message) and out.endswith("\n") and out.count("\n") == 1, repr(out)
    text = out[len(message):-1]
    assert text.strip(), f"no reason in {out!r}"
    return text


def assert_sdl_init_failed(status, out, calls):
    assert status == 1, out
    reason(out, "Virhe: SDL_Init: ")
    # With the audio left out, SDL_Init is tried once more before the program gives up: SDL over
    # SDL 2 fails as a whole when only its audio fails (test_music).
    inits = [c for c in calls if c.startswith("SDL_Init ")]
    assert inits == ["SDL_Init 0x100031 -> -1", "SDL_Init 0x100021 -> -1"], calls
    assert h.count_calls(calls, "SDL_Quit") == 0, "SDL_Quit after a failed SDL_Init"
    assert h.count_calls(calls, "SDL_SetVideoMode") == 0


@pytest.mark.parametrize("name", PROGRAMS)
def test_sdl_init_failing_prints_its_reason_and_ends_with_status_1(name, x720, tmp_path):
    assert_sdl_init_failed(*run_to_end(name, tmp_path, x720, env={"SDL_VIDEODRIVER": "nonexistent"}))


@pytest.mark.parametrize("name", PROGRAMS)
def test_sdl_init_failing_without_an_x_server(name, tmp_path):
    assert_sdl_init_failed(*run_to_end(name, tmp_path, env={"DISPLAY": unused_display()}))


@pytest.mark.parametrize("name", PROGRAMS)
def test_sdl_setvideomode_failing_prints_its_reason_and_ends_with_status_2(name, x_without_glx, tmp_path):
    status, out, calls = run_to_end(name, tmp_path, x_without_glx)
    assert status == 2, out
    reason(out, "Virhe: SDL_SetVideoMode: ")
    w, hgt = h.MODES[name]
    assert f"SDL_SetVideoMode {w} {hgt} 0 0x80000002 -> null" in calls, calls
    assert h.count_calls(calls, "SDL_Quit") == 1, calls
    for call in ("SDL_WM_SetCaption", "Mix_OpenAudio", "SDL_ShowCursor"):
        assert h.count_calls(calls, call) == 0, calls


NO_DISPLAY = {"SDL_VIDEODRIVER": None, "DISPLAY": None, "WAYLAND_DISPLAY": None, "TERM": "dumb"}


def assert_no_display(status, out, calls, driver):
    assert status == 2, out
    assert reason(out, "Virhe: SDL_SetVideoMode: ") == f"No display: video driver {driver} cannot show a window"
    assert h.count_calls(calls, "SDL_Quit") == 1, calls
    for call in ("SDL_WM_SetCaption", "Mix_OpenAudio"):
        assert h.count_calls(calls, call) == 0, calls


@pytest.mark.parametrize("name", PROGRAMS)
def test_a_video_driver_that_shows_nothing_is_a_video_mode_failure(name, tmp_path):
    assert_no_display(*run_to_end(name, tmp_path, env={**NO_DISPLAY, "SDL_VIDEODRIVER": "dummy"}), "dummy")


def test_no_display_at_all(tmp_path):
    """No X server, no Wayland compositor and no driver asked for: SDL picks what it has. SDL 2 falls
    back to its offscreen driver, where the whole show would play unseen. The classic library falls
    back to its text-mode driver, which has no OpenGL, and whose terminal codes come before the
    message; with no terminal at all its curses driver ends the process with status 1."""
    status, out, calls = run_to_end("vellamor", tmp_path, env=NO_DISPLAY)
    if h.on_compat():
        assert_no_display(status, out, calls, "offscreen")
    else:
        assert status == 2, out
        message = "Virhe: SDL_SetVideoMode: No display: video driver caca cannot show a window\n"
        assert out.count("Virhe: SDL_SetVideoMode: ") == 1 and message in out, out
        assert h.count_calls(calls, "SDL_Quit") == 1, calls


@pytest.mark.skipif(h.on_compat(), reason="SDL 2 has no text-mode video driver")
@pytest.mark.parametrize("driver", ["caca", None], ids=["asked-for", "fallback"])
def test_a_text_mode_driver_leaves_the_message_on_the_terminal(driver, tmp_path):
    """In a terminal with no display, the classic library falls back to its text-mode driver (or
    is asked for it), which takes the terminal over and clears it when it lets go. The message
    must still be on the screen when the program has ended, and what the terminal showed before
    it too. Seen through tmux, which renders the terminal as a viewer would see it."""
    workdir = h.make_workdir(tmp_path / "run", music="none")
    env = showrun.show_env(None, extra={**h.library_env(), **NO_DISPLAY, "TERM": None,
                                        "TMUX": None, "SDL_VIDEODRIVER": driver})
    tmux = ["tmux", "-S", str(tmp_path / "tmux.socket")]
    # The pane stays open after the run, so that its screen can be read.
    script = 'echo "before the show"; "$0"; echo "status=$?"; exec sleep 600'
    started = subprocess.run([*tmux, "-f", "/dev/null", "new-session", "-d", "-x", "120", "-y",
                              "30", "-c", str(workdir), "sh", "-c", script,
                              str(h.program("vellamor"))],
                             env=env, capture_output=True, text=True)
    assert started.returncode == 0, f"tmux could not start: {started.stderr}"
    try:
        screen = ""
        deadline = time.monotonic() + 30
        while "status=" not in screen and time.monotonic() < deadline:
            time.sleep(0.1)
            screen = subprocess.run([*tmux, "capture-pane", "-p"], capture_output=True,
                                    text=True, check=True).stdout
        lines = [line.rstrip() for line in screen.splitlines() if line.strip()]
        assert lines == ["before the show",
                         "Virhe: SDL_SetVideoMode: No display: video driver caca cannot show a "
                         "window",
                         "status=2"], screen
    finally:
        subprocess.run([*tmux, "kill-server"], capture_output=True)
