"""The whole show: each program, its clock sped up fivefold with faketime, plays
from the fade out of black to the closing fade and ends by itself after bar 66 with status 0. During
the run the preload library holds chosen frames on screen and the test captures them with xwd: the
pictures must look like the show at that moment. They are kept under artefacts/e2e/show/.

A frame is held once both its own demo time and that of the frame before it (from which its bar
number came) have reached the shot's time; each check asserts the window it needs from both.

On sdl12-compat only the end of the show is checked, at twenty times the speed and with no frame
held: its pictures come from the same GL calls (the call-stream test sees them) drawn into the
library's own framebuffer, which the window and Wayland tests see on screen.

Measures used: a black fade of opacity a leaves every pixel at most (1 - a) of full
intensity; the logo at full opacity covers the whole view and shows only the red channel of its
image, so green and blue are 0 all over the screen while it is up and nothing is drawn over it.
"""

import time

import numpy as np
import pytest

import harness as h

# Five times the speed: the whole show in 26 s, and still several frames in every stretch that a
# check needs (bar 31 lasts 0.39 s of real time) on a busy two-core machine.
SPEED = 5
COMPAT_SPEED = 20
FADE_IN_END = 6000          # toinen_fade_in(0, 6000)
LOGO_START = 48387          # logo_fade_out(48387, 8000)
LOGO_FULL = LOGO_START + 8000
FADE_OUT_1 = 58064          # toinen_fade_out(58064, 6000)
BAR_32 = 61936              # tahdit reaches 32
FADE_OUT_2 = 116129         # toinen_fade_out(116129, 12000)
BLACK_END = FADE_OUT_2 + 12000

# Frames held, by the demo time they and their bar numbers must have reached, and what each is
# checked for. The checks accept any frame within the stretch of the show they describe, since a
# loaded machine draws few frames a second and the clock runs on while a frame is held.
SHOTS = [
    (0, "start"),               # the first frame: still mostly black
    (15000, "city"),
    (LOGO_FULL + 100, "logo"),  # the logo fully up
    (60001, "bar31"),           # bar 31, around bar 31.5: the fade to black on its way
    (BAR_32, "bar32"),          # movement two, not faded
    (70000, "field"),
    (100000, "field-late"),
    (122000, "closing-fade"),
    (BLACK_END + 300, "end"),
]


def limit_under_fade(opacity):
    """The brightest a pixel can be under a black fade of this opacity, with rounding slack."""
    return 255 * (1 - opacity) + 3


@pytest.fixture(scope="module", params=h.programs())
def whole_run(request, tmp_path_factory):
    """One whole sped-up run of the program with its held frames captured."""
    name = request.param
    tmp = tmp_path_factory.mktemp(name)
    music = "asset" if h.source_asset(h.MUSIC) and name == "vellamor" else "none"
    workdir = h.make_workdir(tmp / "run", music=music, logo="asset")
    pictures = not h.on_compat()
    speed = SPEED if pictures else COMPAT_SPEED
    art = h.artefacts_dir("show")
    for old in art.glob(f"{name}-*.png"):
        old.unlink()
    w, hgt = h.MODES[name]
    with h.xvfb(w, hgt) as x:
        env = h.shot_env(tmp / "shots", [t for t, _ in SHOTS]) if pictures else {}
        started = time.monotonic()
        with h.Run(name, workdir, x, faketime=speed, env=env) as run:
            shots = h.take_shots(
                run, x, tmp / "shots", len(SHOTS),
                save_as=lambda i, a: art / f"{name}-{i}-{SHOTS[i][1]}-{a}ms.png") if pictures else []
            status = run.wait(240)
            elapsed = time.monotonic() - started
            yield {"name": name, "status": status, "stdout": run.stdout(), "calls": run.calls(),
                   "shots": {SHOTS[i][1]: s for i, s in enumerate(shots)}, "elapsed": elapsed,
                   "music": music, "speed": speed}


def shot(whole_run, label):
    """(aika, bar number, image) of the frame held for label."""
    if h.on_compat():
        pytest.skip("the pictures are checked on the classic SDL 1.2")
    shots = whole_run["shots"]
    assert label in shots, f"no frame held for {label}: the run ended with {whole_run['status']}, " \
                           f"stdout {whole_run['stdout']!r}"
    aika, previous, image = shots[label]
    return aika, (h.bar_of(previous) if previous >= 0 else None), image


def test_the_show_ends_by_itself_after_bar_66(whole_run):
    assert whole_run["status"] == 0, whole_run["stdout"]
    calls = whole_run["calls"]
    assert h.count_calls(calls, "SDL_Quit") == 1
    assert "Virhekoodi" not in whole_run["stdout"]
    # The end test: the program stops after the first frame whose clock step started from an aika
    # of 129678 or more (tahdit 67), so the frame before the last has aika >= 129678 and the one
    # before that did not yet.
    before, previous, last = h.last_frames(calls)
    assert previous >= h.END_OF_SHOW_MS > before, (before, previous, last)
    assert h.bar_of(previous) >= 67 and h.bar_of(before) <= 66
    # About 26 s at five times the speed; generous bounds for a loaded machine.
    assert 129.678 / whole_run["speed"] < whole_run["elapsed"] < 150, whole_run["elapsed"]
    assert h.swaps_at_quit(calls) > 500 / whole_run["speed"]  # frames all along the way


def test_only_the_audio_messages_are_printed(whole_run):
    lines = whole_run["stdout"].splitlines()
    if whole_run["music"] == "none":
        assert [l.split(":")[0] for l in lines] == \
            ["Unable to load Ogg file", "Unable to play Ogg file", "Mix_SetMusicPosition"], lines
    else:
        assert lines == []


def test_dark_at_the_very_start(whole_run):
    aika, _, image = shot(whole_run, "start")
    assert aika < FADE_IN_END * 0.6, f"the first frame came only at {aika} ms"
    opacity = 1 - aika / FADE_IN_END
    assert int(image.max()) <= limit_under_fade(opacity), (aika, int(image.max()))


def test_the_city(whole_run):
    aika, bar, image = shot(whole_run, "city")
    assert FADE_IN_END < aika < LOGO_START and bar <= 31
    r, g, b = h.mean_rgb(image)
    assert r > 25 and r > g > b, (r, g, b)          # lit red-brown boxes under a dusk sky
    assert float(image.std()) > 10, "a flat picture"
    assert int(image.max()) > 120
    assert len(np.unique(image.reshape(-1, 3)[::7], axis=0)) > 20


def fade_out_1(aika):
    return min(max((aika - FADE_OUT_1) / 6000, 0.0), 1.0)


def test_the_logo_in_red_after_beat_100(whole_run):
    aika, bar, image = shot(whole_run, "logo")
    assert LOGO_FULL <= aika and fade_out_1(aika) < 0.5 and bar <= 31, (aika, bar)
    assert int(image[:, :, 1].max()) <= 2 and int(image[:, :, 2].max()) <= 2, \
        "green or blue on screen under the logo"
    assert int(image[:, :, 0].max()) > 100, "the logo shows no red"


def test_black_around_bar_31_5(whole_run):
    logo_aika, _, logo = shot(whole_run, "logo")
    aika, bar, image = shot(whole_run, "bar31")
    assert bar == 31 and 0.3 < fade_out_1(aika) < 0.9, (aika, bar)
    # The logo (still at full opacity) darkened by the fade: red scaled by (1 - opacity).
    assert int(image[:, :, 1:].max()) <= 2
    expected = int(logo[:, :, 0].max()) * (1 - fade_out_1(aika)) / (1 - fade_out_1(logo_aika))
    assert abs(int(image[:, :, 0].max()) - expected) <= 4, (aika, int(image[:, :, 0].max()), expected)
    assert h.brightness(image) < (1 - fade_out_1(aika)) / (1 - fade_out_1(logo_aika)) * h.brightness(logo) + 2


def assert_field_of_boxes(image):
    r, g, b = h.mean_rgb(image)
    # Pink and grey boxes, translucent quads and the arc on the dark red background: all three
    # channels present (under the logo and in the city blue is all but absent) ...
    assert r > 30 and g > 10 and b > 5, (r, g, b)
    assert float(image.std()) > 12
    # ... and many distinct colours on screen.
    assert len(np.unique(image.reshape(-1, 3)[::7], axis=0)) > 200


def test_the_field_of_boxes_after_bar_32(whole_run):
    for label in ("bar32", "field", "field-late"):
        aika, bar, image = shot(whole_run, label)
        assert 32 <= bar < 60 and aika > BAR_32, (label, aika, bar)
        assert_field_of_boxes(image)


def test_closing_fade_and_black_at_the_end(whole_run):
    aika, bar, image = shot(whole_run, "closing-fade")
    opacity = (aika - FADE_OUT_2) / 12000
    assert 0.2 < opacity < 0.8 and bar >= 60, aika
    assert int(image.max()) <= limit_under_fade(opacity)
    assert h.brightness(image) > 3, "black too early"
    aika, bar, image = shot(whole_run, "end")
    assert aika >= BLACK_END and bar >= 66, aika
    assert int(image.max()) <= 2, "not black at the end"
