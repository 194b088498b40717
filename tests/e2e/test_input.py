"""Input that ends the show: the key-down of Escape and a window-close request, also when
already queued at start-up's first drain; nothing else ends it."""

import time

import pytest

import harness as h

PROGRAMS = h.programs()
MUSIC_LINES = ("Unable to load Ogg file: ", "Unable to play Ogg file: ", "Mix_SetMusicPosition: ")
ESCAPE_DOWN = "SDL_KEYDOWN sym 27"
ESCAPE_UP = "SDL_KEYUP sym 27"


def start_in_loop(name, x, tmp_path, **kw):
    """Starts the program without music and waits until it is in the frame loop (caption set)."""
    env = {"E2E_LOG_EVENTS": "1", **kw.pop("env", {})}
    run = h.Run(name, h.make_workdir(tmp_path, music="none"), x, env=env, **kw)
    window = x.wait_window(name, run.proc)
    h.wait_until(lambda: x.window_name(window) == h.TITLE or not run.alive(), 30, what="the caption")
    assert run.alive(), f"{name} ended early with {run.proc.returncode}: {run.stdout()!r}"
    time.sleep(0.3)  # a few frames
    return run, window


def assert_clean_end(run, status):
    """Status 0, no message of the exit handler, SDL shut down exactly once."""
    assert status == 0, f"status {status}; stdout {run.stdout()!r}; stderr {run.stderr()[-2000:]!r}"
    assert "Virhekoodi" not in run.stdout()
    calls = run.calls()
    assert h.count_calls(calls, "SDL_Quit") == 1, calls


def assert_ended_at(run, event):
    """The last event the program took is `event`, and no frame was drawn after it."""
    calls = run.calls()
    events = h.events(calls)
    assert events and events[-1][0] == event, events[-5:]
    assert events[-1][1] == h.swaps_at_quit(calls), "a frame was drawn after the quit request"


@pytest.mark.parametrize("name", PROGRAMS)
def test_escape_keydown_ends_the_run(name, screen_for, tmp_path):
    x = screen_for(name)
    run, _ = start_in_loop(name, x, tmp_path)
    with run:
        x.key("Escape")
        assert_clean_end(run, run.wait(15))
        assert_ended_at(run, ESCAPE_DOWN)
        # The run got as far as the loop: the music messages of demoinit, and nothing else.
        lines = run.lines()
        assert len(lines) == 3 and all(l.startswith(p) for l, p in zip(lines, MUSIC_LINES)), lines
        assert h.swaps_at_quit(run.calls()) > 0


@pytest.mark.parametrize("name", PROGRAMS)
def test_window_close_request_ends_the_run(name, screen_for, tmp_path):
    x = screen_for(name)
    run, window = start_in_loop(name, x, tmp_path)
    with run:
        x.send_close(window)
        assert_clean_end(run, run.wait(15))
        assert_ended_at(run, "SDL_QUIT")


def test_escape_released_alone_does_not_end_the_run(x720, tmp_path):
    """Escape is held down before the show starts, so the classic SDL learns of it from the key map,
    without a key-down event; its release then reaches the program as SDL_KEYUP of Escape, which must
    not end the run. (A release of a key that is not down never reaches SDL: the X server makes none
    for `xdotool keyup`, and SDL drops a synthetic one; both are tried too.)

    SDL 2 instead reports a key already held when its window gets the focus as pressed, so under
    sdl12-compat the held Escape arrives as a key-down and ends the run, as every key-down of
    Escape does; a release alone cannot be made to reach the program there."""
    x = x720
    x.keydown("Escape")
    try:
        if h.on_compat():
            with h.Run("vellamor", h.make_workdir(tmp_path, music="none"), x,
                       env={"E2E_LOG_EVENTS": "1"}) as run:
                assert_clean_end(run, run.wait(15))
                assert_ended_at(run, ESCAPE_DOWN)
            return
        run, _ = start_in_loop("vellamor", x, tmp_path)
    finally:
        x.keyup("Escape")
    with run:
        x.keyup("Escape")
        x.run(h.xhelper(), "keyrelease", "Escape")
        time.sleep(1.0)
        assert run.alive(), f"a release of Escape ended the run: {run.stdout()!r}"
        events = [e for e, _ in h.events(run.calls())]
        assert ESCAPE_UP in events, "the release of Escape never reached the program"
        assert ESCAPE_DOWN not in events
        x.key("Escape")
        assert_clean_end(run, run.wait(15))
        assert_ended_at(run, ESCAPE_DOWN)


def test_other_keys_and_the_mouse_do_not_end_the_run(x720, tmp_path):
    x = x720
    run, _ = start_in_loop("vellamor", x, tmp_path)
    with run:
        x.key("a", "space", "Return", "q", "x", "ctrl+c", "ctrl+q", "ctrl+w", "alt+F4", "F1", "F10",
              "BackSpace", "Tab", "Delete", "KP_Enter", "Pause", "Super_L", "Menu")
        x.run("xdotool", "mousemove", "100", "100", "click", "1", "click", "3", "mousemove", "600", "300")
        time.sleep(1.0)
        assert run.alive(), f"a key other than Escape ended the run: {run.stdout()!r}"
        keys = [e for e, _ in h.events(run.calls()) if e.startswith("SDL_KEYDOWN")]
        assert len(keys) >= 18, keys
        # Escape with a modifier is still the key-down of SDLK_ESCAPE.
        x.key("shift+Escape")
        assert_clean_end(run, run.wait(15))
        assert_ended_at(run, ESCAPE_DOWN)


# The second pass queues the quit requests behind other keys only, which covers the plain cases.
QUEUED = ["escape", "close", "keys-then-close", "keys-then-escape"]


@pytest.mark.parametrize("how", QUEUED if not h.on_compat() else QUEUED[2:])
@pytest.mark.parametrize("name", PROGRAMS)
def test_quit_queued_before_the_first_drain_ends_start_up(name, how, screen_for, tmp_path):
    """The preload library holds start-up at its first SDL_PollEvent (the event drain once the logo
    is loaded) while the test queues the quit request; start-up then ends with status 0 before
    demoinit: no caption, no audio device (the disk driver's file is never made), no music, no
    frame."""
    x = screen_for(name)
    hold = tmp_path / "hold"
    hold.mkdir()
    workdir = h.make_workdir(tmp_path / "run", music="none")
    audio_out = workdir / "audio.raw"
    env = {"E2E_HOLD_DIR": str(hold), "E2E_LOG_EVENTS": "1",
           "SDL_DISKAUDIOFILE": str(audio_out), "SDL_DISKAUDIODELAY": "5"}
    with h.Run(name, workdir, x, env=env, audio="disk") as run:
        h.wait_until(lambda: (hold / "reached").exists() or not run.alive(), 30, what="the first drain")
        assert run.alive(), f"ended before the drain: {run.stdout()!r}"
        window = x.wait_window(name, run.proc)
        assert x.window_name(window) == "", "a caption was set before the first drain"
        if how.startswith("keys"):
            x.key("a", "b", "Return")
        if how.endswith("close"):
            x.send_close(window)
        else:
            x.key("Escape")
        time.sleep(0.5)  # let the server's events reach the program's connection
        (hold / "go").write_text("")
        assert_clean_end(run, run.wait(15))
        calls = run.calls()
        assert run.stdout() == "", "demoinit ran: " + repr(run.stdout())
        for call in ("SDL_WM_SetCaption", "Mix_OpenAudio", "Mix_LoadMUS", "Mix_PlayMusic"):
            assert h.count_calls(calls, call) == 0, calls
        assert h.swaps_at_quit(calls) == 0, calls
        assert not audio_out.exists(), "the audio device was opened"
        assert_ended_at(run, "SDL_QUIT" if how.endswith("close") else ESCAPE_DOWN)
        if how.startswith("keys"):
            assert len(h.events(calls)) > 1
