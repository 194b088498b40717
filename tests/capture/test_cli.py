"""The capture's command line: help, refusals of bad input with a clear message and a non-zero
status, the rules for existing files, and the data kept apart from the messages."""

import os
import subprocess

import pytest

from conftest import leftovers, read_sums, run


def test_help_describes_every_use(capture_bin):
    top = run(capture_bin, "--help").stdout
    for use in ("still", "sheet", "video", "sums"):
        assert use in top
        text = run(capture_bin, use, "--help").stdout
        assert f"{capture_bin.name} {use}" in text and "--output" in text
    assert "--after" in run(capture_bin, "still", "--help").stdout
    assert "--every" in run(capture_bin, "sheet", "--help").stdout
    assert "--bars" in run(capture_bin, "video", "--help").stdout


@pytest.mark.parametrize(
    "args, says",
    [
        (["video", "--frobnicate", "-o", "x.mp4"], "frobnicate"),
        (["still", "-o", "x.png"], "time"),
        (["dance", "-o", "x.png"], "dance"),
        (["still", "130s", "-o", "x.png"], "beyond the show"),
        (["still", "129709", "-o", "x.png"], "beyond the show"),
        (["still", "68:0", "-o", "x.png"], "beyond the show"),
        (["still", "10:4", "-o", "x.png"], "not within a bar"),
        (["still", "-5", "-o", "x.png"], "-5"),
        (["still", "soon", "-o", "x.png"], "not a time"),
        (["still", "1000", "--after", "2000", "-o", "x.png"], "comes after"),
        # The frame at 129690 ms already had bar 67 (from 129680 ms) and was the last.
        (["still", "129700", "--after", "129690", "-o", "x.png"], "beyond the show"),
        (["video", "--bars", "40:32", "-o", "x.mp4"], "backwards"),
        (["video", "--bars", "60:70", "-o", "x.mp4"], "beyond the show"),
        (["sums", "--bars", "x", "-o", "x.txt"], "not a bar range"),
        (["still", "1000", "-o", "no/such/folder/x.png"], "does not exist"),
        (["video", "--fps", "0", "-o", "x.mp4"], "fps"),
    ],
)
def test_bad_input_is_refused_clearly(capture_bin, tmp_path, args, says):
    p = subprocess.run([str(capture_bin), *args], cwd=tmp_path, capture_output=True, text=True,
                       timeout=60)
    assert p.returncode == 2, p.stderr
    assert says in p.stderr
    assert not any(tmp_path.iterdir()), "a refused capture wrote something"


def test_times_at_the_ends_of_the_show_are_accepted(capture_bin, data_dir, tmp_path):
    # The show's last frame at 60 fps is drawn at 129700 ms: its bar number, from 129683, is
    # the first past 66. Anything nearer to a later frame is outside the show.
    p = run(capture_bin, "--data", data_dir, "still", "129704", "-o", tmp_path / "end.png")
    assert "frame 7782 at 60 fps (aika 129700 ms, bar 67)" in p.stderr
    p = run(capture_bin, "--data", data_dir, "still", "0", "-o", tmp_path / "start.png")
    assert "frame 0 at 60 fps (aika 0 ms, bar 0)" in p.stderr


def test_an_existing_file_is_replaced_only_when_forced(capture_bin, data_dir, tmp_path):
    out = tmp_path / "frame.png"
    out.write_bytes(b"an older picture")
    p = run(capture_bin, "--data", data_dir, "still", "1s", "-o", out, check=False)
    assert p.returncode == 2 and "already exists" in p.stderr and "--force" in p.stderr
    assert out.read_bytes() == b"an older picture"
    run(capture_bin, "--data", data_dir, "still", "1s", "-o", out, "--force")
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert leftovers(tmp_path) == []


def test_without_ffmpeg_the_video_is_refused(capture_bin, data_dir, tmp_path):
    bare = tmp_path / "bin"
    bare.mkdir()
    env = dict(os.environ, PATH=str(bare))
    p = run(capture_bin, "--data", data_dir, "video", "--bars", "67", "-o", tmp_path / "v.mp4",
            check=False, env=env)
    assert p.returncode != 0 and "ffmpeg" in p.stderr
    assert not (tmp_path / "v.mp4").exists() and leftovers(tmp_path) == []


def test_the_manifest_on_standard_output_carries_nothing_else(capture_bin, tmp_path):
    # An empty data folder: the show prints its own message about the missing logo, which
    # must not end up among the digests.
    empty = tmp_path / "data"
    empty.mkdir()
    p = run(capture_bin, "--data", empty, "sums", "--bars", "67")
    assert "logo3.png" in p.stderr
    lines = p.stdout.splitlines()
    assert lines[0].startswith("# ") and len(lines) == 2
    assert list(read_sums(p.stdout)) == [7782]
