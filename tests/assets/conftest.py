"""Shared fixtures of the asset tests.

CTest sets the environment (tests/assets/CMakeLists.txt):
VELLAMOR_SONG, VELLAMOR_LOGO: the two data files the build made in the source tree's data/;
MKSONG_BIN, MKLOGO_BIN: the tools that made them;
AUBIO_BIN, FFMPEG_BIN, FFPROBE_BIN: the analysis programs (empty when CMake did not find them).
"""

import subprocess

import numpy as np
import pytest

from support import ctest_env

RATE = 44100
BPM = 124
BEAT_MS = 60000 / BPM  # 483.871 ms
BAR_MS = 4 * BEAT_MS  # 1935.484 ms


def env_path(name, package=None):
    hint = " or the program was not found" + (f" (Debian package {package})" if package else "")
    return ctest_env.env_path(name, "asset", hint)


def built_file(name):
    path = env_path(name)
    if not path.is_file() or path.stat().st_size == 0:
        pytest.fail(f"{path} is missing: build the default target first (cmake --build build)")
    return path


@pytest.fixture(scope="session")
def song():
    return built_file("VELLAMOR_SONG")


@pytest.fixture(scope="session")
def logo():
    return built_file("VELLAMOR_LOGO")


@pytest.fixture(scope="session")
def mksong():
    return env_path("MKSONG_BIN")


@pytest.fixture(scope="session")
def mklogo():
    return env_path("MKLOGO_BIN")


@pytest.fixture(scope="session")
def aubio():
    return env_path("AUBIO_BIN", "aubio-tools")


@pytest.fixture(scope="session")
def ffmpeg():
    return env_path("FFMPEG_BIN", "ffmpeg")


@pytest.fixture(scope="session")
def ffprobe():
    return env_path("FFPROBE_BIN", "ffmpeg")


def run(cmd, **kw):
    """Runs a command, failing the test with its output when it fails."""
    r = subprocess.run([str(c) for c in cmd], capture_output=True, text=True, **kw)
    if r.returncode != 0:
        pytest.fail(f"{' '.join(map(str, cmd))} exited with {r.returncode}:\n{r.stdout}\n{r.stderr}")
    return r


def decode(ffmpeg, path):
    """The decoded stereo samples of an audio file, as float32 frames x 2."""
    r = subprocess.run([str(ffmpeg), "-v", "error", "-i", str(path), "-f", "f32le", "-ac", "2", "-ar", str(RATE), "-"],
                       capture_output=True)
    if r.returncode != 0:
        pytest.fail(f"ffmpeg cannot decode {path}: {r.stderr.decode(errors='replace')}")
    return np.frombuffer(r.stdout, dtype="<f4").reshape(-1, 2)


@pytest.fixture(scope="session")
def pcm(ffmpeg, song):
    return decode(ffmpeg, song)


def kicks(mksong):
    """The kick drum hits of the arrangement, from `mksong --print-kicks`: (beat, ms, velocity, kind)."""
    out = run([mksong, "--print-kicks"]).stdout
    rows = []
    for line in out.splitlines():
        beat, ms, vel, kind = line.split()
        rows.append((int(beat), float(ms), float(vel), kind))
    return rows
