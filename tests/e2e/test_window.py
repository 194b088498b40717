"""The window: caption "Korvek - Vellamor", the full-screen OpenGL mode of the
build constants, 1280x720 or 1024x600, and the pointer hidden in vellamor_600 only."""

import time

import pytest

import harness as h

PROGRAMS = ["vellamor", "vellamor_600"]


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
    assert x.window_geometry(window) == (0, 0, w, hgt)
    # The full-screen window and the GL window inside it cover the screen.
    tree = x.window_tree()
    mapped = [(px, py, ww, wh) for _, px, py, ww, wh, viewable, *_ in tree if viewable]
    assert mapped.count((0, 0, w, hgt)) >= 3, tree
    x.key("Escape")
    assert run.wait(15) == 0


def test_vellamor_600_keeps_its_mode_on_a_larger_screen(showing, x720):
    """On a 1280x720 screen SDL centres the 1024x600 mode inside its full-screen window: the mode
    comes from the build constants, not from the screen."""
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
