"""The browser edition's frames against the native program's: still links drawn by a real
headless Chromium (SwiftShader) and a real Firefox (llvmpipe, under Xvfb) and compared with the
capture program's stills of the same moments, at the build's size and at another size of its
aspect, which the page draws when the window has that many device pixels."""

import json
from concurrent.futures import ThreadPoolExecutor

import pytest

import stills

# (T, P): the frame at T drawn after a frame at P, as `vellamor_capture still T --after P`.
# Both movements, every overlay and the cut between them. Left out: about 2.5 to 5.5 s, where
# the top faces of the two floors' largest boxes, which lie in one plane, both cover part of the
# view; which of the two wins a pixel there is decided by the last bits of the rasteriser's
# depth, and the one whose triangle reaches behind the eye is fogged through (its per-corner fog
# distances are large). llvmpipe drawing upside down in memory differs there from itself in up
# to some 3000 pixels; SwiftShader, in up to some 8500.
MOMENTS = [
    (1000, 983),       # fade from black; camera path 1
    (30000, 29983),    # the city from path 2, the towers breaking apart
    (52000, 51983),    # the logo fading in
    (59500, 59483),    # the logo under the fade to black, blue channel falling
    (61953, 61936),    # the first frame of movement two, after the darkened clear colour
    (72000, 71983),    # the field bobbing, the swarm, the arc
    (100000, 99983),   # the rising camera, the settled field
    (122000, 121983),  # the closing fade
]
# A still without an explicit previous frame: the 60 fps capture clock's frame nearest to it.
# The page opens on it, so that its bar:beat time is read before anything else has run.
CLOCK_MOMENT = "32:0"
CASES = [(f"still={CLOCK_MOMENT}", CLOCK_MOMENT, None)] + \
    [(f"still={t}&after={p}", t, p) for t, p in MOMENTS]
# Another size: a window of 400x225 CSS pixels at ratio 2 has 800x450 device pixels, which the
# page draws as the capture draws `--size 800x450`.
OTHER = ("still=72000&after=71983", 72000, 71983, "800x450")


@pytest.fixture(scope="module")
def natives(capture_bin, artefacts):
    """The capture's stills of every case, drawn beside the browsers."""
    pool = ThreadPoolExecutor(max_workers=1)
    futures = [pool.submit(stills.native_still, capture_bin, artefacts, t, p)
               for _, t, p in CASES]
    other = pool.submit(stills.native_still, capture_bin, artefacts, OTHER[1], OTHER[2],
                        OTHER[3])
    yield [f.result for f in futures], other.result
    pool.shutdown()


def show_still(page, fragment):
    """Draws a still through its link (a new fragment in the same page) and returns the shown
    frame as an array."""
    page.evaluate(f"location.hash = {json.dumps(fragment)}")
    page.wait_for(f"document.body.dataset.state === 'still' && "
                  f"document.body.dataset.still === {json.dumps('#' + fragment)}", timeout=120)
    # "play from here" stays out of the picture for the comparison
    page.evaluate("document.getElementById('here').style.visibility = 'hidden'")
    return stills.shown(page)


def open_still_page(browser_, site):
    p = browser_.page(f"{site}/vellamor.html#still={CLOCK_MOMENT}")
    p.wait_state("still", "failed", "no-webgl2", timeout=120)
    assert p.state() == "still", p.text("status")
    return p


def check_stills(page, natives, artefacts, name):
    """Every case's frame against the capture's; the figures go to artefacts/frames-NAME.md."""
    webs = [show_still(page, f"still={CLOCK_MOMENT}&")]
    webs += [show_still(page, fragment) for fragment, _, _ in CASES[1:]]
    figures, failures = {}, []
    for (fragment, _, _), web, native in zip(CASES, webs, natives[0]):
        result = stills.compare(web, native())
        label = fragment.replace("still=", "").replace("&after=", " after ")
        figures[label] = result
        stills.save(web, artefacts / f"{name}-{label.replace(' ', '-')}.png")
        if not stills.within(result):
            failures.append(f"{label}: {result}")

    # The same page in a window of other device pixels draws the frame at that size.
    page.set_size(400, 225, 2)
    page.wait_for("document.getElementById('canvas').width === 800", timeout=30)
    web = show_still(page, OTHER[0])
    page.set_size(1280, 720, 1)
    result = stills.compare(web, natives[1]())
    figures[f"{OTHER[1]} after {OTHER[2]} at {OTHER[3]}"] = result
    if not stills.within(result):
        failures.append(f"{OTHER[3]}: {result}")

    lines = ["| moment | pixels > 8 levels off | share | mean abs diff | max |",
             "|---|---|---|---|---|"]
    for label, r in figures.items():
        lines.append(f"| {label} | {r['far_off_pixels']} | {100 * r['far_off_share']:.4f} % | "
                     f"{r['mean_abs_diff']:.4f} | {r['max_diff']} |")
    (artefacts / f"frames-{name}.md").write_text("\n".join(lines) + "\n")
    print(f"\n{name}:\n" + "\n".join(lines))
    assert not failures, "\n".join(failures)
    assert page.evaluate("Module._vellamor_gl_error()") == 0, "GL error drawing the stills"
    assert page.problems() == [], "the page logged errors or warnings"


@pytest.fixture(scope="module")
def page(chromium, site):
    """One page, opened on the bar:beat link; the other links follow in it."""
    p = open_still_page(chromium, site)
    yield p
    p.close()


def test_still_links_draw_the_native_frames(page, natives, artefacts):
    check_stills(page, natives, artefacts, "chromium")


def test_bad_still_links_say_why(page):
    for fragment, why in [("still=200000", "beyond the show"),
                          ("still=61953&after=61970", "comes after"),
                          ("still=soon", "is not a time")]:
        page.evaluate(f"location.hash = {json.dumps(fragment)}")
        page.wait_for(f"document.body.dataset.state === 'failed' && document.getElementById("
                      f"'status').textContent.includes({json.dumps(why)})", timeout=30)
        assert page.evaluate("document.getElementById('stage').classList.contains('hidden')")
    # A good link after a bad one draws again.
    page.evaluate("location.hash = 'still=50000'")
    page.wait_state("still", timeout=60)
    assert page.problems() == []


def test_firefox_draws_the_native_frames(firefox, site, natives, artefacts):
    p = open_still_page(firefox, site)
    try:
        check_stills(p, natives, artefacts, "firefox")
    finally:
        p.close()
