"""The offscreen capture against the real program: `vellamor` runs full screen under Xvfb with
its GL calls recorded by apitrace (its clock sped up twentyfold by faketime, which changes
nothing but how far apart its frames lie); a frame of movement one is picked after the
darkening has begun, and its demo time is read back from the clear colour that the camera
set in it, which moves by about 2.2e-6 per millisecond and so names the millisecond. The
frame replayed by glretrace is compared with the capture's still at the same clock: they are
identical."""

import re
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

from conftest import env_path, rgb, run
from support import showrun
from support.xserver import Xvfb

W, H = showrun.MODES["vellamor"]
SPEED = 20


# The darkening of movement one, with the precision the camera uses: the time past beat 80
# rounded to single precision, then single-precision arithmetic.
BEAT = np.float32(60000.0) / np.float32(124.0)


def clear_colour(t):
    d = max(np.float32(0), np.float32(t - 80.0 * float(BEAT))) / np.float32(450000.0)
    return [max(np.float32(0), np.float32(c) - d) for c in (0.2, 0.1, 0.05)]


def aika_of(colour):
    """The one whole millisecond whose clear colour is `colour` (as apitrace prints it)."""
    estimate = 80.0 * float(BEAT) + (0.2 - colour[0]) * 450000.0
    found = [t for t in range(int(estimate) - 5, int(estimate) + 6)
             if all(abs(float(a) - b) < 1e-7 for a, b in zip(clear_colour(t), colour))]
    assert len(found) == 1, f"clear colour {colour} names {found}"
    return found[0]


def frames_of(dump):
    """[(swap call number, [clear colours set in the frame])] from `apitrace dump --grep`."""
    frames, colours = [], []
    for line in dump.splitlines():
        if "SwapBuffers" in line:
            frames.append((int(line.split()[0]), colours))
            colours = []
        elif "glClearColor" in line:
            m = re.search(r"red = ([-0-9.e]+), green = ([-0-9.e]+), blue = ([-0-9.e]+)", line)
            colours.append([float(g) for g in m.groups()])
    return frames


@pytest.fixture()
def tools():
    missing = [t for t in ("Xvfb", "apitrace", "glretrace") if not shutil.which(t)]
    if missing or not Path(showrun.FAKETIME_LIB).exists():
        pytest.fail(f"missing for this test: {missing or showrun.FAKETIME_LIB}")


def test_a_still_matches_the_real_program_under_xvfb(tools, capture_bin, data_dir, artefacts,
                                                     tmp_path):
    show = env_path("VELLAMOR_BIN")
    (tmp_path / "data").symlink_to(data_dir)
    trace = tmp_path / "show.trace"
    with Xvfb(W, H) as x:
        traced = showrun.run(["apitrace", "trace", "-o", trace, show], 180, cwd=tmp_path,
                             env=showrun.show_env(x, speed=SPEED))
        assert traced.returncode == 0, f"traced run: {traced.returncode}, {traced.stderr[-2000:]}"
        dump = subprocess.run(["apitrace", "dump", "--color=never",
                               "--grep=glClearColor|glXSwapBuffers", str(trace)],
                              capture_output=True, text=True, check=True).stdout
        frames = frames_of(dump)
        # Movement-one frames (one clear colour each) between the start of the darkening and
        # the fade to black at 58064 ms, and the frame before each.
        band = [i for i in range(1, len(frames))
                if all(len(frames[j][1]) == 1 and 0.158 < frames[j][1][0][0] < 0.1995
                       for j in (i - 1, i))]
        assert band, f"no frame of the darkening among {len(frames)} traced frames"
        pick = band[len(band) // 2]
        call, colours = frames[pick]
        aika, before = aika_of(colours[0]), aika_of(frames[pick - 1][1][0])

        snapshot = tmp_path / "real-"
        x.run("glretrace", f"--snapshot={call}", "-s", str(snapshot), str(trace), timeout=120)
    real = rgb(next(tmp_path.glob("real-*.png")))
    still = artefacts / "still-after-real.png"
    run(capture_bin, "--data", data_dir, "still", aika, "--after", before, "--force", "-o", still)
    mine = rgb(still)
    Image.fromarray(real).save(artefacts / "real-program.png")
    diff = np.abs(real.astype(int) - mine.astype(int)).max(axis=2)
    Image.fromarray(np.minimum(255, diff * 16).astype(np.uint8)).save(artefacts / "real-diff.png")
    # The same Mesa rasteriser draws both, the capture into a framebuffer laid out as a
    # window's: the frame is the same to the bit.
    assert real.shape == mine.shape == (H, W, 3)
    assert (diff == 0).all(), (f"{int((diff > 0).sum())} pixels differ, by up to {diff.max()} "
                               f"(aika {aika} after {before})")
