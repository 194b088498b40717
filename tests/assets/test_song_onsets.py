"""The kicks on the beat grid: `aubio onset` finds every kick drum hit of the arrangement within
+/- 10 ms of k x 483.871 ms."""

import bisect
import statistics

import pytest

from conftest import BEAT_MS, kicks, run

TOLERANCE_MS = 10.0


@pytest.fixture(scope="module")
def plan(mksong):
    return kicks(mksong)


@pytest.fixture(scope="module")
def onsets(aubio, song):
    found = sorted(float(line.split()[0]) * 1000 for line in run([aubio, "onset", song]).stdout.split())
    assert found, "aubio onset found nothing"
    return found


def test_kicks_lie_on_the_beat_grid(plan):
    assert plan, "mksong --print-kicks printed nothing"
    for beat, ms, _vel, _kind in plan:
        assert abs(ms - beat * BEAT_MS) < 0.01, f"kick at {ms} ms is not beat {beat}"


def test_the_beat_runs_through_both_movements(plan):
    full = [beat for beat, _ms, _vel, kind in plan if kind == "kick"]
    bars = {beat // 4 for beat in full}
    # The full kick from the camera cut (bar 10) to the fall (bar 30), and through movement two.
    assert set(range(10, 30)) <= bars
    assert set(range(32, 60)) <= bars
    assert len(full) >= 200


def test_aubio_onset_finds_every_kick(onsets, plan):
    full = [(beat, ms) for beat, ms, _vel, kind in plan if kind == "kick"]
    errors, missed = [], []
    for beat, ms in full:
        i = bisect.bisect_left(onsets, ms)
        nearest = min((onsets[j] for j in (i - 1, i) if 0 <= j < len(onsets)), key=lambda o: abs(o - ms))
        err = nearest - ms
        errors.append(err)
        if abs(err) > TOLERANCE_MS:
            missed.append(f"beat {beat} (bar {beat / 4:.2f}, {ms:.1f} ms): nearest onset {err:+.1f} ms")
    absolute = [abs(e) for e in errors]
    print(f"{len(onsets)} onsets; {len(full)} kicks; {len(full) - len(missed)} within +/-{TOLERANCE_MS:.0f} ms; "
          f"offset median {statistics.median(errors):+.2f} ms, mean {statistics.mean(errors):+.2f} ms, "
          f"largest |offset| {max(absolute):.2f} ms")
    assert not missed, "kicks without an onset on the grid:\n" + "\n".join(missed)
