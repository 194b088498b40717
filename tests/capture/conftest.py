"""Shared fixtures of the capture tests.

CTest sets the environment (tests/capture/CMakeLists.txt):
CAPTURE_BIN, CAPTURE_600_BIN: the two capture programs; VELLAMOR_BIN: the real show program;
VELLAMOR_DATA_DIR: the source tree's data folder (its files may not have been made);
CAPTURE_ARTEFACTS: where pictures and videos are kept for a person to look at.
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
from functools import partial
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

from support import ctest_env

MUSIC = "ruvo_megasong_bpm_124c.ogg"
LOGO = "logo3.png"
# A bar is four beats of 60000 / 124 ms, the beat held in single precision.
BAR_MS = 4 * 483.8709716796875


env_path = partial(ctest_env.env_path, area="capture")


@pytest.fixture(scope="session")
def capture_bin():
    return env_path("CAPTURE_BIN")


@pytest.fixture(scope="session")
def capture_600_bin():
    return env_path("CAPTURE_600_BIN")


@pytest.fixture(scope="session")
def artefacts():
    d = env_path("CAPTURE_ARTEFACTS")
    d.mkdir(parents=True, exist_ok=True)
    return d


def source_asset(name):
    d = os.environ.get("VELLAMOR_DATA_DIR")
    p = Path(d) / name if d else None
    return p if p and p.is_file() and p.stat().st_size > 0 else None


@pytest.fixture(scope="session")
def sweep_music(tmp_path_factory):
    """A music file whose pitch tells where in it a moment lies: a sine rising linearly from
    SWEEP_FROM to SWEEP_TO Hz over SWEEP_S seconds, made with sox."""
    if not shutil.which("sox"):
        pytest.skip("sox is not installed: no music file to mux")
    path = tmp_path_factory.mktemp("music") / "sweep.ogg"
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", str(path), "synth", str(SWEEP_S),
                    "sine", f"{SWEEP_FROM}:{SWEEP_TO}", "vol", "0.5"], check=True)
    return path


SWEEP_FROM, SWEEP_TO, SWEEP_S = 200, 10200, 140


def sweep_hz_at(seconds):
    return SWEEP_FROM + (SWEEP_TO - SWEEP_FROM) * seconds / SWEEP_S


@pytest.fixture(scope="session")
def data_dir(tmp_path_factory):
    """The data folder the captures read: the show's logo when it has been made (the frames
    then carry it), and no music, so each video test says what it muxes."""
    d = tmp_path_factory.mktemp("data")
    logo = source_asset(LOGO)
    if logo:
        (d / LOGO).symlink_to(logo)
    return d


def run(program, *args, check=True, env=None, timeout=120, cwd=None):
    p = subprocess.run([str(program), *map(str, args)], capture_output=True, text=True,
                       env=env, timeout=timeout, cwd=cwd)
    if check and p.returncode != 0:
        raise AssertionError(f"{program.name} {' '.join(map(str, args))} failed with "
                             f"{p.returncode}:\n{p.stderr}")
    return p


def still_frame(stderr):
    """(frame, aika, bar) from a still's summary line."""
    m = re.search(r"frame (\d+) at \d+ fps \(aika (\d+) ms, bar (\d+)\)", stderr)
    assert m, f"no frame line in: {stderr}"
    return tuple(int(g) for g in m.groups())


def read_sums(path_or_text):
    """{frame: (aika, bar, digest)} from a manifest."""
    text = Path(path_or_text).read_text() if isinstance(path_or_text, Path) else path_or_text
    rows = {}
    for line in text.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        frame, aika, bar, digest = line.split()
        rows[int(frame)] = (int(aika), int(bar), digest)
    return rows


def rgb(path):
    return np.asarray(Image.open(path).convert("RGB"))


def png_digest(path):
    """SHA-256 of a PNG's RGB pixels, top row first: the manifest's digest of that frame."""
    return hashlib.sha256(rgb(path).tobytes()).hexdigest()


def ffprobe(path):
    p = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_streams",
                        "-show_format", "-of", "json", str(path)],
                       capture_output=True, text=True, check=True)
    return json.loads(p.stdout)


def decode_frame(video, index, width, height):
    """Frame `index` of the video as RGB, converted back with the matrix it is tagged with."""
    p = subprocess.run(
        ["ffmpeg", "-v", "error", "-i", str(video), "-vf",
         f"select=eq(n\\,{index}),scale=in_color_matrix=bt709:in_range=tv",
         "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
        capture_output=True, check=True)
    return np.frombuffer(p.stdout, np.uint8).reshape(height, width, 3)


def decode_audio(video, seconds):
    """The first `seconds` of the video's sound, mono, 44100 Hz, as floats."""
    p = subprocess.run(["ffmpeg", "-v", "error", "-i", str(video), "-t", str(seconds), "-vn",
                        "-ac", "1", "-ar", "44100", "-f", "f32le", "-"],
                       capture_output=True, check=True)
    return np.frombuffer(p.stdout, np.float32)


def dominant_hz(samples, rate=44100):
    spectrum = np.abs(np.fft.rfft(samples * np.hanning(len(samples))))
    return np.argmax(spectrum) * rate / len(samples)


def leftovers(folder):
    """Temporary files a capture left in `folder`."""
    return sorted(p.name for p in Path(folder).iterdir() if ".part-" in p.name)
