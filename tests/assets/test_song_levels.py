"""Headroom and loudness, measured by ffmpeg's EBU R128 meter: peaks at most -1 dBFS (sample and
true peak), integrated loudness about -14 LUFS."""

import re
import subprocess

import numpy as np
import pytest


def ebur128(ffmpeg, song):
    r = subprocess.run([str(ffmpeg), "-nostats", "-hide_banner", "-i", str(song), "-af", "ebur128=peak=true+sample",
                        "-f", "null", "-"], capture_output=True, text=True)
    if r.returncode != 0:
        pytest.fail(f"ffmpeg ebur128 failed: {r.stderr}")
    summary = r.stderr[r.stderr.rfind("Summary:"):]
    integrated = float(re.search(r"I:\s+(-?[0-9.]+) LUFS", summary).group(1))
    sample_peak = float(re.search(r"Sample peak:\s+Peak:\s+(-?[0-9.inf]+) dBFS", summary).group(1))
    true_peak = float(re.search(r"True peak:\s+Peak:\s+(-?[0-9.inf]+) dBFS", summary).group(1))
    return integrated, sample_peak, true_peak


@pytest.fixture(scope="module")
def levels(ffmpeg, song):
    integrated, sample_peak, true_peak = ebur128(ffmpeg, song)
    print(f"integrated {integrated:.1f} LUFS, sample peak {sample_peak:.1f} dBFS, true peak {true_peak:.1f} dBTP")
    return integrated, sample_peak, true_peak


def test_peaks_leave_headroom(levels):
    _integrated, sample_peak, true_peak = levels
    assert sample_peak <= -1.0
    assert true_peak <= -1.0


def test_integrated_loudness_about_minus_14_lufs(levels):
    integrated, _sample_peak, _true_peak = levels
    assert -15.0 <= integrated <= -13.0


def test_decoded_peak(pcm):
    peak_db = 20 * np.log10(float(np.abs(pcm).max()))
    print(f"decoded sample peak {peak_db:.2f} dBFS")
    assert peak_db <= -1.0
