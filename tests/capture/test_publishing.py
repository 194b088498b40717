"""The video for publishing: frames at a larger size of the show's aspect and supersampled
frames, in the file video sites ask for (H.264 High profile, yuv420p tagged BT.709, 60 fps
constant, AAC at 48 kHz, a chapter per movement, the index at the front); and the party's video,
that file at a constant bitrate from two passes, of a size known before it is made."""

import json
import os
import re
import struct
import subprocess

import numpy as np

from conftest import rgb, run

W, H = 1920, 1080
# Bars 31 and 32 at 60 fps are frames 3602 to 3833; bar 32 begins with frame 3718.
FIRST, LAST, BAR32 = 3602, 3833, 3718
# A movement-two frame full of box edges against the background, and no logo.
STILL_AT = "45:0"


def top_level_boxes(path):
    """The names of an MP4 file's top-level boxes, in order."""
    data = path.read_bytes()
    names, at = [], 0
    while at + 8 <= len(data):
        size, name = struct.unpack(">I4s", data[at:at + 8])
        if size == 1:
            size = struct.unpack(">Q", data[at + 8:at + 16])[0]
        names.append(name.decode("latin-1"))
        if size < 8:
            break
        at += size
    return names


def assert_what_video_sites_ask_for(video, first=FIRST):
    """The streams, tags, chapters and layout of a video at 1080p of bars 31 and 32, or of bar
    32 alone (`first` BAR32), which has no chapters; returns ffprobe's streams by type."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_streams",
                            "-show_chapters", "-of", "json", str(video)],
                           capture_output=True, text=True, check=True)
    info = json.loads(probe.stdout)
    streams = {s["codec_type"]: s for s in info["streams"]}
    v, a = streams["video"], streams["audio"]
    assert (v["codec_name"], v["profile"], v["width"], v["height"], v["pix_fmt"]) == (
        "h264", "High", W, H, "yuv420p")
    assert (v["color_space"], v["color_transfer"], v["color_primaries"], v["color_range"]) == (
        "bt709", "bt709", "bt709", "tv")
    assert v["r_frame_rate"] == v["avg_frame_rate"] == "60/1"
    assert int(v["nb_read_frames"]) == LAST - first + 1
    # The music, a 44.1 kHz file, resampled.
    assert (a["codec_name"], a["sample_rate"], a["channels"]) == ("aac", "48000", 2)
    # A chapter per movement, when the range holds both; the second starts within the first
    # frame of bar 32.
    chapters = [(c["tags"]["title"], float(c["start_time"]), float(c["end_time"]))
                for c in info["chapters"]]
    if first == BAR32:
        assert chapters == []
    else:
        assert [c[0] for c in chapters] == ["Movement one", "Movement two"]
        assert chapters[0][1] == 0 and chapters[0][2] == chapters[1][1]
        assert (BAR32 - first) / 60 <= chapters[1][1] < (BAR32 - first + 1) / 60
        assert abs(chapters[1][2] - (LAST - first + 1) / 60) < 0.002
    # Ready to play while it downloads: the index before the media data.
    boxes = top_level_boxes(video)
    assert boxes.index("moov") < boxes.index("mdat"), boxes
    return streams


def test_a_1080p_video_is_what_video_sites_ask_for(capture_bin, data_dir, sweep_music,
                                                  artefacts):
    video = artefacts / "bars-31-32-1080p.mp4"
    # ultrafast is the one preset that would fall back to Baseline without the capture's care.
    p = run(capture_bin, "--data", data_dir, "video", "--bars", "31:32", "--size", f"{W}x{H}",
            "--music", sweep_music, "--preset", "ultrafast", "--force", "-o", video,
            timeout=240)
    assert f"({W}x{H})" in p.stderr
    assert_what_video_sites_ask_for(video)


def sequence_parameters(video):
    """The fields of the H.264 stream's sequence parameter set, as ffmpeg's trace shows them."""
    p = subprocess.run(["ffmpeg", "-hide_banner", "-i", str(video), "-map", "0:v", "-c", "copy",
                        "-bsf:v", "trace_headers", "-frames:v", "1", "-f", "null", "-"],
                       capture_output=True, text=True, check=True)
    return dict(re.findall(r"\] \d+\s+(\S+)\s+[01]+ = (\d+)", p.stderr))


def test_the_party_video(capture_bin, data_dir, sweep_music, artefacts, tmp_path):
    """The file a party plays: that 1080p video supersampled, at a level hardware players decode,
    a constant bitrate with its size said beforehand, and the sound at 48 kHz and over 192 kbit/s.
    The second pass reads a copy of the frames from TMPDIR, which is left empty."""
    video = artefacts / "bar-32-compo.mp4"
    scratch = tmp_path / "tmp"
    scratch.mkdir()
    p = run(capture_bin, "--data", data_dir, "video", "--compo", "--bars", "32", "--music",
            sweep_music, "--force", "-o", video, timeout=600,
            env=dict(os.environ, TMPDIR=str(scratch)))
    assert f"({W}x{H}, supersampled 2x2)" in p.stderr
    streams = assert_what_video_sites_ask_for(video, first=BAR32)
    assert list(scratch.iterdir()) == []
    assert streams["video"]["level"] == 42
    assert int(streams["audio"]["bit_rate"]) >= 192000
    # Constant: the stream's decoder model says so, at 12 Mbit/s (bit rates are given as
    # value * 2^(6 + scale)).
    sps = sequence_parameters(video)
    assert sps["cbr_flag[0]"] == "1"
    assert (int(sps["bit_rate_value_minus1[0]"]) + 1) << (6 + int(sps["bit_rate_scale"])) == (
        12_000_000)
    # The size said before the drawing began holds to within the decoder's buffer, one second
    # of video (measured 3.00 MB against the 3.0 MB said, for these 1.9 s).
    said = float(re.search(r"the file will be about ([\d.]+) MB", p.stderr)[1]) * 1e6
    assert abs(video.stat().st_size - said) < 12e6 / 8 + 0.1e6, (video.stat().st_size, said)


def convert(*args):
    subprocess.run(["convert", *map(str, args)], check=True, capture_output=True)


def compare(metric, a, b, *options):
    """ImageMagick's compare: the figure of `metric` between two pictures (normalised to 0..1
    where compare gives one, else the pixel count)."""
    p = subprocess.run(["compare", "-metric", metric, *options, str(a), str(b), "null:"],
                       capture_output=True, text=True)
    assert p.returncode in (0, 1), p.stderr
    return float(p.stderr.split("(")[1].rstrip(")")) if "(" in p.stderr else float(p.stderr)


def linear_box_mean(picture, n):
    """The mean of each n x n block of an sRGB picture in linear light, as 8-bit sRGB."""
    v = picture.astype(float) / 255
    linear = np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)
    h, w = picture.shape[0] // n, picture.shape[1] // n
    m = linear.reshape(h, n, w, n, 3).mean(axis=(1, 3))
    return np.round(255 * np.where(m <= 0.0031308, 12.92 * m,
                                   1.055 * m ** (1 / 2.4) - 0.055)).astype(int)


def luminance(path):
    return rgb(path).astype(float) @ [0.2126, 0.7152, 0.0722]


def blended_edge_share(edges_of, picture):
    """Of the pixels that lie on an edge of `edges_of` (the pixels on either side differ by more
    than 40 levels of luminance, along a row or a column), the share whose own luminance in
    `picture` lies well between the two sides (20 % to 80 % of the way): none on an aliased
    staircase, many on a smooth edge."""
    a, b = luminance(edges_of), luminance(picture)
    blended = total = 0
    for axis in (0, 1):
        na, nb = np.moveaxis(a, axis, 0), np.moveaxis(b, axis, 0)
        edge = np.abs(na[2:] - na[:-2]) > 40
        t = (nb[1:-1] - nb[:-2]) / np.where(edge, nb[2:] - nb[:-2], 1)
        blended += int((edge & (t > 0.2) & (t < 0.8)).sum())
        total += int(edge.sum())
    assert total > 200, "too few edges in the frame to measure"
    return blended / total


def test_a_4k_still_is_the_native_picture_drawn_finer(capture_bin, data_dir, artefacts,
                                                     tmp_path):
    native, big = artefacts / "still-native.png", artefacts / "still-3840x2160.png"
    supersampled = artefacts / "still-supersampled-3.png"
    run(capture_bin, "--data", data_dir, "still", STILL_AT, "--force", "-o", native)
    p = run(capture_bin, "--data", data_dir, "still", STILL_AT, "--size", "3840x2160",
            "--force", "-o", big)
    assert "(3840x2160)" in p.stderr
    run(capture_bin, "--data", data_dir, "still", STILL_AT, "--supersample", "3", "--force",
        "-o", supersampled)
    assert rgb(big).shape == (2160, 3840, 3) and rgb(supersampled).shape == (720, 1280, 3)

    # Filtered down to the native size (the mean of each 3x3 block, in linear light), the 4K
    # picture is the native one: the same projection and scene, only the edges differ.
    # Measured: RMSE 0.0034 of full scale, 268 pixels (0.03 %) differ by over 10 %.
    down = tmp_path / "down.png"
    convert(big, "-colorspace", "RGB", "-filter", "box", "-resize", "1280x720", "-colorspace",
            "sRGB", down)
    assert compare("RMSE", native, down) < 0.006
    assert compare("AE", native, down, "-fuzz", "10%") < 0.001 * 1280 * 720
    # The capture's own supersampling is that filter, computed exactly: it differs from the
    # mean in double precision by a level of rounding in a few pixels (measured 0.002 %).
    exact = linear_box_mean(rgb(big), 3)
    off = np.abs(rgb(supersampled).astype(int) - exact)
    assert off.max() <= 1 and (off > 0).mean() < 0.001

    # Smoother edges: on the native frame's box edges almost no pixel is a blend of the two
    # sides (measured 0.2 %); filtered down from 4K, about 45 % are.
    aliased = blended_edge_share(native, native)
    smooth = blended_edge_share(native, down)
    print(f"blended edge pixels: native {aliased:.3f}, from 3840x2160 {smooth:.3f}, "
          f"supersampled 3x3 {blended_edge_share(native, supersampled):.3f}")
    assert aliased < 0.05 and smooth > 0.3
