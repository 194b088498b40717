"""The page of the browser edition in a real headless Chromium: the start screen that waits for a
click, the music made by the page's worker from the page's load and started with the clock,
Escape, full screen and the end of the show leading back to the start screen, what the server
sent for it all (no Ogg, little), the C library's generator, a browser without WebGL 2, and a
console without errors or warnings throughout."""

import ctypes
import gzip
import json
import time

import pytest

SEEDS = [1234, 1, 0, 42, 2**31 + 5, 2**32 - 1]
NUMBERS = 400  # more than the 292 draws a frame of the city takes
SYNC_MS = 50   # music position against the demo clock
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
    """The page on its start screen, its song held back when made; shared by the tests in file
    order."""
    p = chromium.page("about:blank")
    p.send("Page.addScriptToEvaluateOnNewDocument", source=HOLD_SONG)
    served.clear()
    p.send("Page.navigate", url=f"{site}/vellamor.html")
    p.wait_state("ready", timeout=120)
    yield p
    p.close()


def demo_clock(p):
    """(music position, demo clock now, demo time of the last frame), in ms, read together."""
    music, now, last = p.evaluate("[Module.vellamorMusic.position() * 1000, "
                                  "Module._vellamor_clock_now(), Module._vellamor_aika()]")
    return music, now, last


def test_generator_is_glibcs(page):
    p = page
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
    """The music, decoded before the start tick, plays in step with the demo clock, and frames
    follow."""
    samples = []
    for _ in range(5):
        samples.append(demo_clock(p))
        time.sleep(0.4)
    for music, now, last in samples:
        assert abs(music - now) < SYNC_MS, f"(music, clock, frame) in ms: {samples}"
        assert last <= now
    assert samples[-1][0] - samples[0][0] > 1200, "the music does not advance"
    # SwiftShader on a busy machine may take a while over one frame.
    p.wait_for(f"Module._vellamor_aika() > {samples[-1][2]}", timeout=30)
    assert p.evaluate("Module._vellamor_gl_error()") == 0


def check_stopped(p):
    assert p.evaluate("Module.vellamorMusic.position()") == -1, "music on the start screen"
    stopped_at = p.evaluate("Module._vellamor_aika()")
    time.sleep(0.3)
    assert p.evaluate("Module._vellamor_aika()") == stopped_at, "frames on the start screen"
    assert not p.evaluate("document.fullscreenElement")


def test_start_screen_runs_and_the_ways_back(page, web_build, served):
    p = page
    # Nothing starts on its own: no audio, no show, no canvas; but the music is being made.
    time.sleep(1.0)
    assert p.state() == "ready"
    assert p.evaluate("Module.vellamorMusic.context === null"), "audio before the click"
    assert p.evaluate("Module._vellamor_aika()") == 0
    assert p.evaluate("document.getElementById('stage').classList.contains('hidden')")
    assert p.evaluate("vellamorSong.times.start >= 0"), "the render starts with the page"
    p.wait_for("vellamorSong.progress > 0 && document.getElementById('song-progress')"
               ".textContent.startsWith('making the music')", timeout=60)

    # Escape while the music is being made: back to the start screen, nothing started.
    p.click(640, 360)
    assert p.state() == "decoding"
    assert p.evaluate("document.getElementById('status').textContent").startswith(
        "making the music")
    p.key("Escape", "Escape", 27)
    p.wait_state("ready", timeout=30)
    p.wait_for("vellamorSong.progress === 1", timeout=120)  # the worker's last message came
    p.evaluate("releaseSong()")
    p.evaluate("Module.vellamorMusic.decoding", await_promise=True)
    time.sleep(0.2)
    assert p.state() == "ready" and p.evaluate("Module._vellamor_aika()") == 0
    assert p.evaluate("Module.vellamorMusic.position()") == -1
    assert p.evaluate("document.getElementById('song-progress').textContent") == ""

    # A run, in full screen, with its music; Escape ends it.
    start_show(p)
    assert p.evaluate("Module.vellamorMusic.context.state") == "running"
    assert p.evaluate("!!document.fullscreenElement"), "the click asks for full screen"
    check_music_follows_clock(p)
    p.key("Escape", "Escape", 27)
    p.wait_state("ready", timeout=30)
    check_stopped(p)

    # Keys pressed on the start screen do not reach the next run, which starts from the top;
    # leaving full screen ends it as closing the window does.
    p.key("Escape", "Escape", 27)
    start_show(p)
    p.wait_for("Module._vellamor_aika() > 0", timeout=30)
    time.sleep(0.3)
    assert p.state() == "running"
    assert p.evaluate("Module._vellamor_aika()") < 5000, "the second run starts from the top"
    check_music_follows_clock(p)
    p.evaluate("document.exitFullscreen()", await_promise=True)
    p.wait_state("ready", timeout=30)
    check_stopped(p)

    # The show's clock follows the browser's; two minutes on, the show is over.
    start_show(p)
    p.evaluate("(() => { const real = Date.now.bind(Date);"
               " Date.now = () => real() + 130000; })()")
    p.wait_state("ready", timeout=60)
    assert "the end" in p.evaluate("document.getElementById('status').textContent")
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
    p = chromium.page("about:blank")
    p.send("Page.addScriptToEvaluateOnNewDocument", source=hide)
    p.send("Page.navigate", url=f"{site}/vellamor.html")
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
    p = chromium.page("about:blank")
    p.send("Page.addScriptToEvaluateOnNewDocument", source=refuse)
    p.send("Page.navigate", url=f"{site}/vellamor.html#still=30000")
    p.wait_state("failed", "still", timeout=120)
    text = p.evaluate("document.getElementById('status').textContent")
    assert p.state() == "failed", text
    assert "vertex shader did not compile" in text and "too many uniforms" in text, text
    assert p.evaluate("document.getElementById('stage').classList.contains('hidden')")
    p.close()
