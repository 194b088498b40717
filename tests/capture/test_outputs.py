"""What the capture writes: a two-bar video with its music, stills equal to its frames, the
contact sheet, a video without music, and no file under the final name from a capture that
was interrupted or whose encoder failed."""

import os
import signal
import socket
import subprocess
import time
from pathlib import Path

import numpy as np
import pytest

from conftest import (decode_audio, decode_frame, dominant_hz, ffprobe, leftovers, png_digest,
                      read_sums, rgb, run, still_frame, sweep_hz_at)

W, H, FPS = 1280, 720, 60
# At 60 fps bar 31 takes effect in frame 3602 (frame 3601 is drawn at 60017 ms with the bar
# number of 60000 ms, still 30) and bar 33 in frame 3834, so bars 31 and 32 are frames 3602 to
# 3833; bar 32 begins with frame 3718.
FIRST, LAST, BAR32 = 3602, 3833, 3718


@pytest.fixture(scope="module")
def two_bars(capture_bin, data_dir, sweep_music, artefacts):
    video = artefacts / "bars-31-32.mp4"
    sums = artefacts / "bars-31-32.sums"
    run(capture_bin, "--data", data_dir, "video", "--bars", "31:32", "--music", sweep_music,
        "--sums", sums, "--force", "-o", video, timeout=240)
    return video, read_sums(sums)


def test_the_two_bar_video_has_every_frame_and_the_music_from_its_start(two_bars):
    video, sums = two_bars
    assert sorted(sums) == list(range(FIRST, LAST + 1))
    assert {n: sums[n][1] for n in (FIRST, BAR32 - 1, BAR32, LAST)} == {
        FIRST: 31, BAR32 - 1: 31, BAR32: 32, LAST: 32}
    assert sums[FIRST][0] == 60033 and sums[BAR32][0] == 61967

    info = ffprobe(video)
    streams = {s["codec_type"]: s for s in info["streams"]}
    v, a = streams["video"], streams["audio"]
    assert (v["codec_name"], v["width"], v["height"], v["pix_fmt"]) == ("h264", W, H, "yuv420p")
    assert v["r_frame_rate"] == "60/1" and v["avg_frame_rate"] == "60/1"
    assert int(v["nb_read_frames"]) == LAST - FIRST + 1
    assert a["codec_name"] == "aac"
    assert abs(float(a["duration"]) - (LAST - FIRST + 1) / FPS) < 0.05
    # The music starts where the first frame lies in the whole show, 3602 / 60 s in.
    sound = decode_audio(video, 0.25)
    assert abs(dominant_hz(sound) - sweep_hz_at(FIRST / FPS)) < 60


@pytest.mark.parametrize("at", ["31:2", "61950", "32:0.5", "63.5s"])
def test_a_still_equals_the_video_frame_at_its_time(two_bars, capture_bin, data_dir, tmp_path,
                                                    at):
    video, sums = two_bars
    still = tmp_path / "still.png"
    n, aika, bar = still_frame(run(capture_bin, "--data", data_dir, "still", at, "-o",
                                   still).stderr)
    # Exactly the pixels the encoder was given for that frame ...
    assert sums[n] == (aika, bar, png_digest(still))
    # ... and, through H.264 in yuv420p, close to the frame the video shows.
    mine = rgb(still).astype(int)
    shown = decode_frame(video, n - FIRST, W, H).astype(int)
    diff = np.abs(mine - shown)
    assert diff.mean() < 2.0 and np.percentile(diff, 99) <= 16, (diff.mean(), diff.max())
    # Where the picture differs from its own mirror image, the video is the right way up.
    if np.abs(mine - mine[::-1]).mean() > 8:
        assert np.abs(mine[::-1] - shown).mean() > 2 * diff.mean() + 1, "upside down"


def test_the_contact_sheet_shows_the_whole_show(capture_bin, data_dir, artefacts):
    sheet = artefacts / "sheet.png"
    p = run(capture_bin, "--data", data_dir, "sheet", "--force", "-o", sheet, timeout=240)
    assert "67 frames, every bar" in p.stderr
    picture = rgb(sheet)
    h, w, _ = picture.shape
    # 67 thumbnails 240 wide, 8 to a row: 9 rows of 135-pixel pictures with labels.
    assert 8 * 240 <= w < 8 * 240 + 200 and 9 * 135 < h < 9 * (135 + 60) + 100
    assert len(np.unique(picture.reshape(-1, 3), axis=0)) > 1000
    # Every eighth bar on its own, the smaller sheet has a ninth of the thumbnails.
    small = run(capture_bin, "--data", data_dir, "sheet", "--every", "8", "--columns", "3",
                "--force", "-o", artefacts / "sheet-every-8.png")
    assert "9 frames, every 8 bars" in small.stderr


def test_a_video_without_music_has_no_sound(capture_600_bin, tmp_path):
    empty = tmp_path / "data"
    empty.mkdir()
    out = tmp_path / "end.mp4"
    p = run(capture_600_bin, "--data", empty, "video", "--bars", "66:67", "--fps", "10", "-o", out)
    assert "no sound" in p.stderr
    info = ffprobe(out)
    assert [s["codec_type"] for s in info["streams"]] == ["video"]
    v = info["streams"][0]
    assert (v["width"], v["height"], v["r_frame_rate"]) == (1024, 600, "10/1")
    assert leftovers(tmp_path) == []


def children(pid):
    try:
        text = Path(f"/proc/{pid}/task/{pid}/children").read_text()
    except FileNotFoundError:
        return []
    return [int(c) for c in text.split()]


def start_whole_show(capture_bin, data_dir, out):
    """A capture of the whole show, waited on until frames are flowing into ffmpeg."""
    proc = subprocess.Popen([str(capture_bin), "--data", str(data_dir), "video", "--no-audio",
                             "--force", "-o", str(out)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and proc.poll() is None:
        temp = [p for p in out.parent.iterdir() if ".part-" in p.name]
        encoders = children(proc.pid)
        if temp and encoders and temp[0].stat().st_size > 0:
            return proc, encoders[0]
        time.sleep(0.1)
    proc.kill()
    pytest.fail(f"the capture did not get going: {proc.communicate()[1]}")


def gone(pid):
    try:
        return Path(f"/proc/{pid}/stat").read_text().split(") ")[1][0] in "ZX"
    except FileNotFoundError:
        return True


# A closed terminal (SIGHUP), Ctrl-backslash (SIGQUIT) and a scheduler's warning before its
# time limit (SIGUSR1) end a capture as Ctrl-C does.
@pytest.mark.parametrize("signo, stalled", [(signal.SIGINT, False), (signal.SIGTERM, True),
                                            (signal.SIGHUP, False), (signal.SIGQUIT, False),
                                            (signal.SIGUSR1, False)])
def test_an_interrupted_capture_leaves_the_old_file_alone(capture_bin, data_dir, tmp_path,
                                                          signo, stalled):
    out = tmp_path / "show.mp4"
    out.write_bytes(b"the previous video")
    proc, encoder = start_whole_show(capture_bin, data_dir, out)
    if stalled:
        # An encoder that has stopped reading must not keep the capture from stopping.
        os.kill(encoder, signal.SIGSTOP)
        time.sleep(1)
    proc.send_signal(signo)
    _, err = proc.communicate(timeout=30)
    assert proc.returncode == 128 + signo, err
    assert "interrupted" in err
    assert out.read_bytes() == b"the previous video"
    assert leftovers(tmp_path) == []
    assert gone(encoder), "ffmpeg outlived the capture"


def test_a_killed_capture_takes_its_encoder_along_and_the_next_run_cleans_up(
        capture_bin, data_dir, tmp_path):
    out = tmp_path / "show.mp4"
    proc, encoder = start_whole_show(capture_bin, data_dir, out)
    proc.kill()
    proc.communicate(timeout=30)
    deadline = time.monotonic() + 10
    while not gone(encoder) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert gone(encoder), "ffmpeg outlived a capture killed outright"
    assert len(leftovers(tmp_path)) == 1
    # A live capture's temporary file, and another machine's, are not touched.
    live = tmp_path / f".show.mp4.part-{socket.gethostname()}-{os.getpid()}"
    elsewhere = tmp_path / ".show.mp4.part-another-host-1"
    live.write_bytes(b"")
    elsewhere.write_bytes(b"")
    run(capture_bin, "--data", data_dir, "video", "--bars", "0", "--fps", "4", "--no-audio",
        "-o", out)
    assert leftovers(tmp_path) == sorted([live.name, elsewhere.name])


def test_a_capture_whose_encoder_dies_fails_without_a_file(capture_bin, data_dir, tmp_path):
    out = tmp_path / "show.mp4"
    proc, encoder = start_whole_show(capture_bin, data_dir, out)
    os.kill(encoder, signal.SIGKILL)
    _, err = proc.communicate(timeout=30)
    assert proc.returncode == 1, err
    assert "ffmpeg" in err
    assert not out.exists() and leftovers(tmp_path) == []


def test_the_manifest_streams_and_stops_with_its_reader(capture_bin, data_dir):
    # Bars 0 to 3 are 465 frames, whose manifest (37 kB) fits whole in the pipe.
    proc = subprocess.Popen([str(capture_bin), "--data", str(data_dir), "sums", "--bars", "0:3"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out = proc.stdout.fileno()
        got = b""
        while got.count(b"\n") < 2:
            chunk = os.read(out, 1 << 16)
            assert chunk, proc.stderr.read()
            got += chunk
        # Each line comes as its frame is done: when the first one is there, the others are
        # still being drawn, not waiting in the pipe.
        os.set_blocking(out, False)
        try:
            got += os.read(out, 1 << 20)
        except BlockingIOError:
            pass
        lines = got.decode().splitlines()
        assert lines[0].startswith("# ") and lines[1].split()[:3] == ["0", "0", "0"]
        assert len(lines) < 100, "the manifest came all at once"
        proc.stdout.close()  # the reader goes away, as `sums | head -2` does
        err = proc.stderr.read().decode()
        proc.wait(timeout=30)
    finally:
        proc.kill()
        proc.wait()
    # The drawing stops at once, quietly, and that is no failure.
    assert proc.returncode == 0, err
    assert all(": note:" in x for x in err.splitlines()), err


def test_music_that_ends_before_the_range_is_refused_or_told(capture_bin, data_dir, tmp_path):
    short = tmp_path / "data" / "ruvo_megasong_bpm_124c.ogg"
    short.parent.mkdir()
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", str(short), "synth", "2", "sine",
                    "440"], check=True)
    # Given on the command line for a range that starts at 60 s: refused.
    p = run(capture_bin, "--data", data_dir, "video", "--bars", "31", "--music", short, "-o",
            tmp_path / "v.mp4", check=False)
    assert p.returncode == 2 and "ends at 2.000 s" in p.stderr and "--no-audio" in p.stderr
    # The data folder's own: a silent video that says why.
    p = run(capture_bin, "--data", short.parent, "video", "--bars", "31", "--fps", "10", "-o",
            tmp_path / "v.mp4")
    assert "without sound (the music ends before the first frame)" in p.stderr
    assert [s["codec_type"] for s in ffprobe(tmp_path / "v.mp4")["streams"]] == ["video"]
