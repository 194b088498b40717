"""The page of the browser edition in a real headless Chromium: the start screen that has the
music made by the page's worker from the page's load and waits for a click, the music started
with the clock, Escape, full screen (whose end does not end the show) and the end of the show
leading back to the start screen, what the server sent for it all (no Ogg, little), the C
library's generator, a browser without WebGL 2, and a console without errors or warnings
throughout."""

import ctypes
import gzip
import json
import time

import pytest

SEEDS = [1234, 1, 0, 42, 2**31 + 5, 2**32 - 1]
NUMBERS = 400  # more than the 292 draws a frame of the city takes
EDITION_LIMIT = 250_000  # bytes a run fetches, gzipped

# The worker's finished song is held back until the test lets it through, so that the page can
# be seen waiting for its music however fast the machine renders it.
HOLD_SONG = """(() => {
  const held = [];
  let holding = true;
  window.Worker = class extends Worker {
    set onmessage(handler) {
      super.onmessage = (event) => {
        if (holding && event.data.left) held.push(() => handler(event));
        else handler(event);
      };
    }
  };
  window.releaseSong = () => { holding = false; held.splice(0).forEach((deliver) => deliver()); };
})()"""


def glibc_numbers(seed, count):
    libc = ctypes.CDLL("libc.so.6")
    libc.srand(ctypes.c_uint(seed))
    return [libc.rand() for _ in range(count)]


@pytest.fixture(scope="module")
def page(chromium, site, served):
    """The page, shared by the tests in file order."""
    served.clear()
    p = chromium.page(f"{site}/vellamor.html")
    p.wait_state("ready", "loading", timeout=120)
    yield p
    p.close()


def demo_clock(p):
    """(music position, demo time of the last frame), in ms, read together."""
    return p.evaluate("[Module.vellamorMusic.position(), Module._vellamor_aika()]")


def test_generator_is_glibcs(page):
    p = page
    p.wait_for("window.Module && Module.calledRun", timeout=120)
    for seed in SEEDS:
        ours = p.evaluate(f"(() => {{ Module._srand({seed} >>> 0); const r = [];"
                          f" for (let i = 0; i < {NUMBERS}; ++i) r.push(Module._rand());"
                          f" return r; }})()")
        assert ours == glibc_numbers(seed, NUMBERS), f"seed {seed}"
    assert glibc_numbers(1234, 3) == [479142414, 465566339, 961126155]


def start_show(p):
    p.click(640, 360)
    p.wait_state("running", timeout=120)


def check_music_follows_clock(p):
    """The music plays, the demo clock is its position, and frames follow."""
    samples = []
    for _ in range(4):
        samples.append(demo_clock(p))
        time.sleep(0.3)
    assert samples[-1][0] - samples[0][0] > 700, f"the music does not advance: {samples}"
    # SwiftShader on a busy machine may take a while over one frame.
    p.wait_for(f"Module._vellamor_aika() > {samples[-1][1]}", timeout=30)
    assert p.evaluate("Module._vellamor_gl_error()") == 0


def check_stopped(p):
    assert p.evaluate("Module.vellamorMusic.position()") == -1, "music on the start screen"
    stopped_at = p.evaluate("Module._vellamor_aika()")
    time.sleep(0.3)
    assert p.evaluate("Module._vellamor_aika()") == stopped_at, "frames on the start screen"
    assert not p.evaluate("document.fullscreenElement")


def test_start_screen_runs_and_the_ways_back(page, web_build, served):
    p = page
    # The music is made before any click, from the page's load; nothing else starts.
    assert p.evaluate("vellamorSong.times.start >= 0"), "the render starts with the page"
    p.wait_state("ready", timeout=120)
    time.sleep(0.5)
    assert p.state() == "ready"
    assert p.evaluate("Module.vellamorMusic.context === null"), "audio before the click"
    assert p.evaluate("document.getElementById('stage').classList.contains('hidden')")

    # A run, in full screen, with its music. Leaving full screen does not end it; Escape
    # outside full screen does.
    start_show(p)
    assert p.evaluate("Module.vellamorMusic.context.state") == "running"
    assert p.evaluate("!!document.fullscreenElement"), "the click asks for full screen"
    check_music_follows_clock(p)
    p.evaluate("document.exitFullscreen()", await_promise=True)
    time.sleep(0.3)
    assert p.state() == "running" and p.evaluate("Module.vellamorMusic.running")
    check_music_follows_clock(p)
    p.key("Escape", "Escape", 27)
    p.wait_state("ready", timeout=30)
    check_stopped(p)

    # Escape in full screen only leaves full screen. Keys pressed on the start screen do not
    # reach the next run, which starts from the top.
    p.key("Escape", "Escape", 27)
    start_show(p)
    p.wait_for("!!document.fullscreenElement", timeout=10)
    p.key("Escape", "Escape", 27)
    p.wait_for("!document.fullscreenElement", timeout=10)
    time.sleep(0.3)
    assert p.state() == "running"
    assert p.evaluate("Module._vellamor_aika()") < 5000, "the second run starts from the top"
    check_music_follows_clock(p)

    # Near the end (a jump there), the show ends by itself: back to the start screen.
    p.evaluate("Module._vellamor_seek(Module._vellamor_length_ms() - 600)")
    p.wait_state("ready", timeout=60)
    assert "the end" in p.text("status")
    assert p.evaluate("Module._vellamor_aika()") >= 129678
    check_stopped(p)
    assert p.evaluate("Module._vellamor_gl_error()") == 0
    assert p.problems() == []

    # Everything the server sent for the page, its song and three runs: no Ogg, and little.
    names = sorted(set(path.lstrip("/") for path in served))
    assert "vellamor_song.wasm" in names and "song-worker.js" in names
    assert not [n for n in names if n.endswith(".ogg")]
    sizes = {n: len(gzip.compress((web_build / n).read_bytes(), 9)) for n in names}
    print(f"served, gzipped: {sizes}")
    assert not [n for n in names if b"OggS" in (web_build / n).read_bytes()]
    assert sum(sizes.values()) <= EDITION_LIMIT


def test_without_webgl2_the_page_says_so(chromium, site):
    hide = ("const get = HTMLCanvasElement.prototype.getContext;"
            "HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {"
            "  return kind === 'webgl2' ? null : get.call(this, kind, ...rest); };")
    p = chromium.page(f"{site}/vellamor.html", preload=hide)
    p.wait_state("no-webgl2", timeout=60)
    text = p.evaluate("document.getElementById('status').textContent")
    assert "needs WebGL 2" in text
    assert p.evaluate("typeof Module") == "undefined", "the show loads nothing it cannot draw"
    assert p.problems() == []
    p.close()


def test_a_refused_shader_is_said_not_drawn_black(chromium, site):
    # A driver that refuses to compile the vertex shader, with its own words in the log.
    refuse = ("const status = WebGL2RenderingContext.prototype.getShaderParameter;"
              "WebGL2RenderingContext.prototype.getShaderParameter = function (s, what) {"
              "  return what === this.COMPILE_STATUS ? false : status.call(this, s, what); };"
              "WebGL2RenderingContext.prototype.getShaderInfoLog ="
              "  () => 'ERROR: 0:1: too many uniforms for this driver';")
    p = chromium.page(f"{site}/vellamor.html#still=30000", preload=refuse)
    p.wait_state("failed", "still", timeout=120)
    text = p.evaluate("document.getElementById('status').textContent")
    assert p.state() == "failed", text
    assert "vertex shader did not compile" in text and "too many uniforms" in text, text
    assert p.evaluate("document.getElementById('stage').classList.contains('hidden')")
    p.close()


def test_a_click_while_the_music_is_made_starts_once_it_is_ready(chromium, site):
    p = chromium.page(f"{site}/vellamor.html", preload=HOLD_SONG)
    try:
        p.wait_for("window.Module && Module.calledRun", timeout=120)
        assert p.state() == "loading"
        p.wait_for("vellamorSong.progress > 0 && document.getElementById('status')"
                   ".textContent.startsWith('making the music')", timeout=60)
        p.click(640, 300)
        assert p.state() == "waiting" and "as soon as the music" in p.text("status")
        # Escape while waiting (out of full screen): back to the start screen; a click waits
        # again.
        p.evaluate("document.fullscreenElement && document.exitFullscreen()", await_promise=True)
        p.key("Escape", "Escape", 27)
        p.wait_state("loading", timeout=30)
        p.click(640, 300)
        p.wait_for("vellamorSong.progress === 1", timeout=120)  # the worker's last message came
        time.sleep(0.3)
        assert p.state() == "waiting"
        p.evaluate("releaseSong()")
        p.wait_state("running", timeout=120)
        p.wait_for("Module.vellamorMusic.position() > 300", timeout=30)
        assert p.problems() == []
    finally:
        p.close()
