"""A capture in parts against one process: the frames of the parts are those of one process,
the joined video is the one-process video's length with its sound and chapters, and a join of
parts that do not belong together writes nothing."""

import json
import subprocess

import pytest

from conftest import ffprobe, leftovers, read_sums, run
from test_publishing import top_level_boxes

# Bars 31 and 32 at 60 fps (frames 3602 to 3833) cross from movement one to movement two in
# frame 3718; small frames keep every capture here to a few seconds.
BARS, FIRST, LAST, BAR32 = "31:32", 3602, 3833, 3718
SIZE = "320x180"


def digests(text):
    return [row for _, row in sorted(read_sums(text).items())]


@pytest.mark.parametrize("n", [3, 4])
def test_the_parts_digests_in_order_are_the_whole_ranges(capture_bin, data_dir, n):
    whole = run(capture_bin, "--data", data_dir, "sums", "--bars", BARS, "--size", SIZE).stdout
    parts = [run(capture_bin, "--data", data_dir, "sums", "--bars", BARS, "--size", SIZE,
                 "--part", f"{k}/{n}").stdout for k in range(1, n + 1)]
    # Contiguous runs of nearly equal length, each starting with a frame drawn after an
    # unseen one, as a still is.
    counts = [len(read_sums(p)) for p in parts]
    assert sum(counts) == LAST - FIRST + 1 and max(counts) - min(counts) <= 1
    assert sum((digests(p) for p in parts), []) == digests(whole)


@pytest.fixture(scope="module")
def rendered(capture_bin, data_dir, sweep_music, tmp_path_factory):
    """Three parts made with their manifests, and the same range made by one process."""
    d = tmp_path_factory.mktemp("parts")
    for k in (1, 2, 3):
        run(capture_bin, "--data", data_dir, "video", "--bars", BARS, "--size", SIZE, "--part",
            f"{k}/3", "--sums", d / f"part-{k}.sums", "-o", d / f"part-{k}-of-3.mp4")
    run(capture_bin, "--data", data_dir, "video", "--bars", BARS, "--size", SIZE, "--music",
        sweep_music, "--sums", d / "whole.sums", "-o", d / "whole.mp4")
    return d


def probe(video):
    p = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_streams",
                        "-show_chapters", "-of", "json", str(video)],
                       capture_output=True, text=True, check=True)
    return json.loads(p.stdout)


def test_the_joined_video_is_the_one_process_video(capture_bin, data_dir, sweep_music, rendered,
                                                   artefacts):
    d = rendered
    # The encoder was given exactly the one process's frames.
    assert sum((digests(d / f"part-{k}.sums") for k in (1, 2, 3)), []) == digests(
        d / "whole.sums")
    # Each part alone: its pictures only, carrying what the join checks.
    part = ffprobe(d / "part-2-of-3.mp4")
    assert [s["codec_type"] for s in part["streams"]] == ["video"]
    assert part["format"]["tags"]["vellamor_part"] == "2/3"
    joined = artefacts / "bars-31-32-joined.mp4"
    # In any order.
    p = run(capture_bin, "--data", data_dir, "join", *(d / f"part-{k}-of-3.mp4" for k in (3, 1, 2)),
            "--music", sweep_music, "--force", "-o", joined)
    assert "3 parts joined: 232 frames" in p.stderr
    mine, one = probe(joined), probe(d / "whole.mp4")

    def shape(info):
        streams = [{k: s.get(k) for k in ("codec_type", "codec_name", "profile", "width",
                                           "height", "pix_fmt", "color_space", "color_transfer",
                                           "color_primaries", "color_range", "r_frame_rate",
                                           "avg_frame_rate", "nb_read_frames", "sample_rate",
                                           "channels")} for s in info["streams"]]
        chapters = [(c["tags"]["title"], c["start_time"], c["end_time"])
                    for c in info["chapters"]]
        return streams, chapters

    assert shape(mine) == shape(one)
    streams, chapters = shape(mine)
    assert streams[0]["nb_read_frames"] == str(LAST - FIRST + 1)
    assert streams[0]["profile"] == "High" and streams[0]["color_space"] == "bt709"
    assert [c[0] for c in chapters] == ["Movement one", "Movement two"]
    audio = [s for s in mine["streams"] if s["codec_type"] == "audio"]
    assert len(audio) == 1 and abs(float(audio[0]["duration"]) - 232 / 60) < 0.05
    # Every frame once, on the 60 fps grid: no repeated or missing timestamp.
    pts = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                          "packet=pts_time", "-of", "csv=p=0", str(joined)],
                         capture_output=True, text=True, check=True).stdout.split()
    assert sorted(round(float(t) * 60, 3) for t in pts) == list(range(LAST - FIRST + 1))
    boxes = top_level_boxes(joined)
    assert boxes.index("moov") < boxes.index("mdat")


@pytest.mark.parametrize("case", ["missing", "repeated", "other size", "other range",
                                  "other build", "truncated"])
def test_a_join_of_parts_that_do_not_belong_together_writes_nothing(
        capture_bin, capture_600_bin, data_dir, rendered, tmp_path, case):
    d = rendered
    parts = [d / f"part-{k}-of-3.mp4" for k in (1, 2, 3)]
    if case == "missing":
        parts, says = parts[::2], "part 2 of 3 is missing"
    elif case == "repeated":
        parts, says = parts + [parts[0]], "part 1 of 3 is given twice"
    elif case == "truncated":
        cut = tmp_path / "part-2-of-3.mp4"
        cut.write_bytes(parts[1].read_bytes()[:-100])
        parts[1], says = cut, f"'{cut}' is truncated"
    else:
        odd = tmp_path / "odd.mp4"
        program, bars, size = {"other range": (capture_bin, "31:33", SIZE),
                               "other size": (capture_bin, BARS, "384x216"),
                               "other build": (capture_600_bin, BARS, "256x150")}[case]
        run(program, "--data", data_dir, "video", "--bars", bars, "--size", size, "--part",
            "2/3", "-o", odd)
        parts[1], says = odd, f"'{odd}' is from another {case.split()[1]}"
    out = tmp_path / "joined.mp4"
    p = run(capture_bin, "--data", data_dir, "join", *parts, "-o", out, check=False)
    assert p.returncode == 2 and says in p.stderr, p.stderr
    assert not out.exists() and leftovers(tmp_path) == []
