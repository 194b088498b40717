"""The tempo, as a real beat tracker hears it: `aubio tempo` reports 124 +/- 1 BPM.

`aubio tempo` prints the mean of 60 / (interval between successive beats it placed). With its
default 512-sample hop it estimates this piece's period as about 41.1 hops (the true one is
41.68), places beats on whole hops and, in the denser sections, now and then slips half a beat
and back; the mean lands a little under 124 (123.7 for the current arrangement; 124.1 with
`-H 256`). Hence the tolerance of one BPM, as the issue sets it."""

import re

from conftest import BPM, run


def test_aubio_tempo_is_124(aubio, song):
    out = run([aubio, "tempo", song]).stdout.strip()
    m = re.fullmatch(r"([0-9.]+) bpm", out)
    assert m, f"aubio tempo said {out!r}"
    bpm = float(m.group(1))
    print(f"aubio tempo: {bpm:.2f} bpm")
    assert abs(bpm - BPM) <= 1.0
