"""The window: caption "Korvek - Vellamor", the full-screen OpenGL mode of the
build constants, 1280x720 or 1024x600, and the pointer hidden in vellamor_600 only."""

import time

import pytest

import harness as h

PROGRAMS = h.programs(on_compat_too=True)


@pytest.fixture
def showing(screen_for, tmp_path):
    """Starts a program on the screen of its own mode and waits until it is in the frame loop."""
    runs = []

    def start(name, x=None):
        x = x or screen_for(name)
        run = h.Run(name, h.make_workdir(tmp_path / str(len(runs)), music="none"), x)
        runs.append(run)
        window = x.wait_window(name, run.proc)
        h.wait_until(lambda: x.window_name(window) == h.TITLE or not run.alive(), 30, what="the caption")
        assert run.alive()
        time.sleep(0.3)
        return run, x, window

    yield start
    for run in runs:
        run.close()


@pytest.mark.parametrize("name", PROGRAMS)
def test_caption(name, showing):
    run, x, window = showing(name)
    assert x.window_name(window) == "Korvek - Vellamor"
    names = {name for wid, *_, name in x.window_tree() if wid == window}
    assert names == {"Korvek - Vellamor"}, names
    assert "SDL_WM_SetCaption Korvek - Vellamor|(null)" in run.calls()
    assert h.count_calls(run.calls(), "SDL_WM_SetCaption") == 1
    x.key("Escape")
    assert run.wait(15) == 0


@pytest.mark.parametrize("name", PROGRAMS)
def test_full_screen_opengl_mode_of_the_build_constants(name, showing):
    run, x, window = showing(name)
    w, hgt = h.MODES[name]
    # SDL_OPENGL | SDL_FULLSCREEN, bits per pixel 0.
    assert f"SDL_SetVideoMode {w} {hgt} 0 0x80000002 -> ok" in run.calls()
    # The show's window covers the screen, which has the program's own mode. (How many X windows
    # an SDL makes for it is its own affair: the classic library three, SDL 2 one.)
    assert x.window_geometry(window) == (0, 0, w, hgt)
    x.key("Escape")
    assert run.wait(15) == 0


def test_vellamor_600_keeps_its_mode_on_a_larger_screen(showing, x720):
    """On a 1280x720 screen SDL centres a 1024x600 window of the mode: the mode comes from the build
    constants, not from the screen. (The classic library puts it inside a full-screen window of its
    own; sdl12-compat, with no window manager to make its window full screen, leaves it there.)"""
    run, x, window = showing("vellamor_600", x720)
    assert "SDL_SetVideoMode 1024 600 0 0x80000002 -> ok" in run.calls()
    tree = x.window_tree()
    assert any((px, py, ww, wh) == (128, 60, 1024, 600) for _, px, py, ww, wh, *_ in tree), tree
    x.key("Escape")
    assert run.wait(15) == 0


def test_windowed_build_opens_a_window_of_the_mode(showing, tmp_path):
    """KOKORUUTU 0: the same 1280x720 mode in a window, not full screen, on a larger screen."""
    with h.xvfb(1600, 900) as big:
        run, x, window = showing("vellamor_windowed", big)
        # SDL_OPENGL alone: bit 31, SDL_FULLSCREEN, stays clear.
        assert "SDL_SetVideoMode 1280 720 0 0x2 -> ok" in run.calls(), run.calls()
        tree = x.window_tree()
        mapped = [(ww, wh) for _, px, py, ww, wh, viewable, *_ in tree if viewable]
        assert (1280, 720) in mapped, tree
        assert (1600, 900) not in mapped[1:], tree
        x.key("Escape")
        assert run.wait(15) == 0


@pytest.mark.parametrize("name", PROGRAMS)
def test_pointer_hidden_in_vellamor_600_only(name, showing):
    run, x, window = showing(name)
    w, hgt = h.MODES[name]
    x.run("xdotool", "mousemove", str(w // 2), str(hgt // 2))
    time.sleep(0.2)
    cw, ch, visible = x.cursor_image()
    calls = run.calls()
    if name == "vellamor_600":
        assert visible == 0, f"a visible {cw}x{ch} cursor over vellamor_600"
        assert "SDL_ShowCursor 0 -> 1" in calls, calls
    else:
        assert visible > 0, "no visible cursor over vellamor"
        assert h.count_calls(calls, "SDL_ShowCursor") == 0, calls
    # Moving the pointer changes nothing.
    x.run("xdotool", "mousemove", "5", "5")
    time.sleep(0.2)
    assert (x.cursor_image()[2] == 0) == (name == "vellamor_600")
    x.key("Escape")
    assert run.wait(15) == 0


def test_the_programs_run_on_the_sdl_under_test(showing):
    """The program, SDL_mixer and SDL_image share one libSDL-1.2: the system's classic one, or the
    unpacked sdl12-compat, which brings SDL 2 with it."""
    run, x, window = showing("vellamor")
    libraries = h.mapped_libraries(run.pid)
    sdl12 = [p for p in libraries if p.name.startswith("libSDL-1.2.so")]
    assert len(sdl12) == 1, sdl12
    assert any(p.name.startswith("libSDL_mixer-1.2.so") for p in libraries)
    assert any(p.name.startswith("libSDL_image-1.2.so") for p in libraries)
    if h.on_compat():
        assert sdl12[0].parent == h.env_path("SDL12_COMPAT_DIR").resolve(), sdl12
        assert any(p.name.startswith("libSDL2-2.0.so") for p in libraries)
    else:
        # The classic library's file is libSDL-1.2.so.0.11.*; sdl12-compat's is libSDL-1.2.so.1.2.*.
        assert sdl12[0].name.startswith("libSDL-1.2.so.0."), sdl12
    x.key("Escape")
    assert run.wait(15) == 0

