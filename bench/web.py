#!/usr/bin/python3
"""Benchmarks of the browser edition, in one run: the download (gzipped), the making of the song
in the page's worker (its time, the time from the page's load until the music is ready, also at
5 Mbit/s, and the worker's memory), the time from the click to the first frame, how far the picture is from the music after a minute under CPU load and
after a stall of the page, and per frame of movement one the browser's main-thread time with the
draw calls it issues, beside the native capture's time per frame at the same size and bars.

The browser is Debian's headless Chromium drawing WebGL 2 with SwiftShader on the CPU, in
another process: the main-thread time is the show's code, the GL layer and the WebGL calls
(with any wait for SwiftShader when its command buffer fills), not SwiftShader's rendering,
which a GPU does in a real browser. A second pass with the per-frame WebGL calls replaced by
empty functions gives the WebAssembly's own share. Other work on the machine shows in every
figure, so the load average is recorded with them.

Needs scripts/build-web (build-web/) and the native capture program (build/vellamor_capture).
Writes a markdown table to stdout and to build-bench/web.md.
"""

import argparse
import gzip
import statistics
import subprocess
import sys
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE / "tests" / "web"))
import browser  # noqa: E402
import test_player  # noqa: E402  (its probe of the sound as heard)

MBIT5 = 5e6 / 8  # bytes per second
SONG_FRAMES = 5_889_484  # stereo frames of the song

# Per frame: the pass's time, the draw calls and the demo time, from the main loop's own hooks.
HOOKS = """(() => {
  const ctx = Module.ctx, stats = window.benchFrames = [];
  let start = 0, calls = 0;
  const draw = ctx.drawArrays;
  ctx.drawArrays = function () { ++calls; return draw.apply(ctx, arguments); };
  Module.preMainLoop = () => { start = performance.now(); calls = 0; };
  let last = Module._vellamor_aika();
  Module.postMainLoop = () => {  // the passes that drew a frame
    const aika = Module._vellamor_aika();
    if (aika !== last) stats.push([performance.now() - start, calls, aika]);
    last = aika;
  };
})()"""
# The calls a frame makes, made empty: what is left is the WebAssembly's own time.
STUBS = """(() => {
  const ctx = Module.ctx;
  for (const name of ['drawArrays', 'bufferSubData', 'bufferData', 'uniform1i', 'uniform2fv',
                      'uniform3fv', 'uniformMatrix3fv', 'uniformMatrix4fv', 'enable', 'disable',
                      'clear', 'clearColor', 'blendFunc', 'bindTexture'])
    ctx[name] = function () {};
})()"""


def load():
    return Path("/proc/loadavg").read_text().split()[0]


def sizes(folder):
    """Every file the server gives out, with its size and gzipped size."""
    rows = []
    for file in sorted(folder.iterdir()):
        if browser.page_server.page_file(folder, file.name) is None:
            continue
        data = file.read_bytes()
        rows.append((file.name, len(data), len(gzip.compress(data, 9))))
    return rows


def song_made(chromium, url, throttle=False):
    """Loads the page afresh (no cache) and waits for its song: (ms from the page's load to the
    music being ready, the worker's render in ms, the worker module's memory in bytes)."""
    page = chromium.page("about:blank")
    page.send("Network.enable")
    page.send("Network.setCacheDisabled", cacheDisabled=True)
    if throttle:
        page.send("Network.emulateNetworkConditions", offline=False, latency=40,
                  downloadThroughput=MBIT5, uploadThroughput=MBIT5 / 5)
    page.send("Page.navigate", url=f"{url}/vellamor.html")
    page.wait_for("window.vellamorSong && vellamorSong.times.ready", timeout=300)
    ready, stats = page.evaluate("[vellamorSong.times.ready, vellamorSong.stats]")
    page.close()
    return ready, stats["renderMs"], stats["heapBytes"]


def start_page(chromium, url, preload=None):
    page = chromium.page(f"{url}/vellamor.html", preload=preload)
    page.wait_state("ready", timeout=120)
    page.click(640, 300)
    page.wait_state("running", timeout=120)
    return page


def click_to_first_frame(chromium, url, runs):
    """(open to ready, click to first frame shown) in ms, per run."""
    found = []
    for _ in range(runs):
        page = start_page(chromium, url)
        times = page.wait_for("vellamorTimes.firstShown && vellamorTimes", timeout=60)
        found.append((times["ready"], times["firstShown"] - times["click"]))
        page.close()
    return found


def drift(chromium, url, seconds, stall_ms):
    """Frame time against the music as heard: (largest and mean gap in the last seconds of a run
    of `seconds` under CPU load, largest gap after a stall of `stall_ms`), in ms."""
    page = start_page(chromium, url, test_player.PROBE)
    hogs = test_player.cpu_load()
    try:
        time.sleep(max(0.0, seconds - 5))
        page.evaluate("sampleFrames()")
        time.sleep(5)
    finally:
        for hog in hogs:
            hog.kill()
            hog.wait()
    _, loaded = test_player.sync_errors(page)
    page.evaluate(f"(() => {{ const t = performance.now(); while (performance.now() - t < "
                  f"{stall_ms}); }})()")
    page.evaluate("sampleFrames()")
    time.sleep(3)
    _, stalled = test_player.sync_errors(page)
    page.key("Escape", "Escape", 27)
    page.close()
    return max(loaded), statistics.mean(loaded), len(loaded), max(stalled), len(stalled)


def frames(chromium, url, seconds, stubbed):
    page = start_page(chromium, url)
    page.evaluate(HOOKS)
    if stubbed:
        page.evaluate(STUBS)
    time.sleep(seconds)
    stats = page.evaluate("benchFrames")
    two = page.evaluate("Module._vellamor_bar_ms(Module._vellamor_movement_two_bar())")
    bar = page.evaluate("Module._vellamor_bar_ms(1)")
    page.key("Escape", "Escape", 27)
    page.close()
    return [s for s in stats if s[2] < two], bar


def native(capture, bars):
    start = time.monotonic()
    before = load()
    done = subprocess.run(["/usr/bin/time", "-f", "%U %S", str(capture), "video", "--bars", bars,
                           "--sink", "null"], capture_output=True, text=True, check=True)
    wall = time.monotonic() - start
    user, system = (float(v) for v in done.stderr.strip().split("\n")[-1].split())
    count = int(next(line for line in done.stderr.split("\n") if " frames" in line)
                .split("vellamor_capture: ")[1].split()[0])
    return count, wall, user + system, before


def summary(values):
    return statistics.mean(values), statistics.median(values)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build-web", type=Path, default=SOURCE / "build-web")
    ap.add_argument("--capture", type=Path, default=SOURCE / "build" / "vellamor_capture")
    ap.add_argument("--seconds", type=float, default=20.0,
                    help="real time each frame measurement runs (default 20: bars 0 to 10)")
    ap.add_argument("--starts", type=int, default=3, help="click-to-first-frame runs (default 3)")
    ap.add_argument("--drift-seconds", type=float, default=60.0,
                    help="real time of the run under load before the drift is read (default 60)")
    ap.add_argument("--output", type=Path, default=SOURCE / "build-bench" / "web.md")
    args = ap.parse_args()
    for needed in (args.build_web / "vellamor.wasm", args.build_web / "vellamor_song.wasm",
                   args.capture):
        if not needed.exists():
            sys.exit(f"bench/web.py: no {needed}: run scripts/build-web and scripts/build first")

    lines = [f"Browser edition, {time.strftime('%Y-%m-%d')}, Chromium headless with SwiftShader, "
             f"1280x720; load {load()} at the start", "",
             "| Figure | Value |", "|---|---|"]
    rows = sizes(args.build_web)
    total = sum(r[2] for r in rows)
    lines.append(f"| Download, gzipped | {total / 1e6:.2f} MB ("
                 + ", ".join(f"{n} {g / 1e3:.0f} KB" for n, _, g in rows) + ") |")

    with browser.serve(args.build_web) as url, browser.Browser() as chromium:
        load_song = load()
        made = [song_made(chromium, url) for _ in range(args.starts)]
        ready, render, heap = (statistics.median(m[i] for m in made) for i in range(3))
        slow = song_made(chromium, url, throttle=True)
        song_files = ("vellamor.html", "song.js", "song-worker.js", "vellamor_song.js",
                      "vellamor_song.wasm")
        song_bytes = sum(g for n, _, g in rows if n in song_files)
        lines.append(f"| The song's render in the worker (median of {len(made)}; load "
                     f"{load_song}) | {render:.0f} ms |")
        lines.append(f"| Page load to music ready (median of {len(made)}) | {ready:.0f} ms |")
        lines.append(f"| Page load to music ready at 5 Mbit/s | {slow[0]:.0f} ms with Chromium's "
                     f"throttling (40 ms latency; the test server sends the files uncompressed); "
                     f"{1000 * song_bytes / MBIT5 + render:.0f} ms computed: the song's "
                     f"{song_bytes / 1e3:.0f} KB gzipped at 5 Mbit/s, then the render |")
        lines.append(f"| Worker's peak memory | {(heap + 8 * SONG_FRAMES) / 2**20:.0f} MiB: the "
                     f"module's {heap / 2**20:.0f} MiB and the song's two channels "
                     f"{8 * SONG_FRAMES / 2**20:.0f} MiB, handed to the page without a copy |")
        starts = click_to_first_frame(chromium, url, args.starts)
        first = statistics.median(s[1] for s in starts)
        lines.append(f"| Click to first frame shown, the music made (median of {len(starts)}) | "
                     f"{first:.0f} ms |")
        load_drift = load()
        worst, mean_gap, count, stall_worst, stall_count = drift(chromium, url,
                                                                 args.drift_seconds, 2000)
        lines.append(f"| Picture against the music as heard, after {args.drift_seconds:.0f} s "
                     f"under load (2 CPU-bound processes; load {load_drift}; last 5 s, {count} "
                     f"frames) | {worst:.1f} ms largest, {mean_gap:.1f} ms mean |")
        lines.append(f"| The same after a 2 s stall of the page ({stall_count} frames in 3 s) | "
                     f"{stall_worst:.1f} ms largest |")
        load_web = load()
        real, bar_ms = frames(chromium, url, args.seconds, stubbed=False)
        empty, _ = frames(chromium, url, args.seconds, stubbed=True)

    last_bar = int(max(s[2] for s in real) // bar_ms)
    mean, median = summary([s[0] for s in real])
    calls = summary([s[1] for s in real])
    own_mean, own_median = summary([s[0] for s in empty])
    lines.append(f"| Main-thread time per frame, movement one (bars 0-{last_bar}, "
                 f"{len(real)} frames; load {load_web}) | {mean:.1f} ms mean, {median:.1f} ms "
                 f"median |")
    lines.append(f"| of which the WebAssembly alone (WebGL calls emptied, {len(empty)} frames) | "
                 f"{own_mean:.1f} ms mean, {own_median:.1f} ms median |")
    lines.append(f"| Draw calls per frame | {calls[0]:.0f} mean |")
    span = (real[-1][2] - real[0][2]) / 1000.0
    lines.append(f"| SwiftShader frame rate (software; a GPU draws far faster) | "
                 f"{(len(real) - 1) / span:.1f} fps |")

    count, wall, cpu, native_load = native(args.capture, f"0:{last_bar}")
    lines.append(f"| Native capture (llvmpipe) per frame, same bars, {count} frames at 60 fps; "
                 f"load {native_load} | {1000 * wall / count:.1f} ms wall, "
                 f"{1000 * cpu / count:.1f} ms CPU |")
    text = "\n".join(lines) + "\n"
    print(text)
    args.output.parent.mkdir(parents=True, exist_ok=True)
    args.output.write_text(text)


if __name__ == "__main__":
    main()
