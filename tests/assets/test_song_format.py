"""The music file: Ogg Vorbis, 44.1 kHz stereo, starting at 0 s, outlasting the show."""

import json

import numpy as np

from conftest import BAR_MS, RATE, run

SHOW_END_S = 67 * 4 * 483.8709716796875 / 1000  # the program stops at bar 67, 129.677 s


def probe(ffprobe, song):
    return json.loads(run([ffprobe, "-v", "error", "-show_format", "-show_streams", "-of", "json", song]).stdout)


def test_ogg_vorbis_44100_stereo(ffprobe, song):
    info = probe(ffprobe, song)
    assert info["format"]["format_name"] == "ogg"
    assert len(info["streams"]) == 1, "one audio stream and nothing else"
    stream = info["streams"][0]
    assert stream["codec_type"] == "audio"
    assert stream["codec_name"] == "vorbis"
    assert int(stream["sample_rate"]) == RATE
    assert int(stream["channels"]) == 2


def test_starts_at_zero(ffprobe, song):
    # The show's clock assumes the first bar begins at 0 s: no start offset in the stream.
    stream = probe(ffprobe, song)["streams"][0]
    assert float(stream.get("start_time", 0)) == 0.0


def test_outlasts_the_show(pcm):
    seconds = len(pcm) / RATE
    print(f"decoded length {len(pcm)} samples, {seconds:.3f} s")
    assert seconds >= 131.0
    assert seconds > SHOW_END_S + 1.0


def test_ends_on_a_bar_line(pcm):
    bars = len(pcm) / (BAR_MS / 1000 * RATE)
    assert abs(bars - round(bars)) * BAR_MS / 1000 * RATE <= 1.0, f"{bars:.4f} bars"


def test_samples_are_finite_and_unclipped(pcm):
    assert np.isfinite(pcm).all()
    assert np.abs(pcm).max() < 1.0


def test_never_digital_silence(pcm):
    # Beat trackers and onset detectors lose their footing in digital silence; the piece keeps a
    # faint air under everything. Every 100 ms window carries some signal.
    win = RATE // 10
    n = len(pcm) // win * win
    rms = np.sqrt((pcm[:n].astype(np.float64) ** 2).mean(axis=1).reshape(-1, win).mean(axis=1))
    quietest = 20 * np.log10(rms.min() + 1e-30)
    print(f"quietest 100 ms window: {quietest:.1f} dBFS RMS")
    assert quietest > -100.0
