"""The capture's command line: help, refusals of bad input with a clear message and a non-zero
status, the rules for existing files, and the data kept apart from the messages."""

import os
import socket
import stat
import subprocess
import threading

import pytest
from PIL import Image

from conftest import leftovers, read_sums, run


def test_help_describes_every_use(capture_bin):
    top = run(capture_bin, "--help").stdout
    for use in ("still", "sheet", "video", "sums", "join"):
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
        # Times are decimal milliseconds, seconds or bar:beat, within the 32-bit clock.
        (["still", "1e21", "-o", "x.png"], "'1e21' is not a time"),
        (["still", "1000000000000000000000", "-o", "x.png"], "out of range"),
        (["still", "4294967296", "-o", "x.png"], "4294967296 is out of range"),
        (["still", "999999999:0", "-o", "x.png"], "out of range"),
        (["still", "0x10", "-o", "x.png"], "'0x10' is not a time"),
        (["still", "0x1p3s", "-o", "x.png"], "'0x1p3s' is not a time"),
        (["still", "1e3", "-o", "x.png"], "'1e3' is not a time"),
        (["still", "2.5.1s", "-o", "x.png"], "'2.5.1s' is not a time"),
        (["still", "infs", "-o", "x.png"], "'infs' is not a time"),
        (["still", "10:nan", "-o", "x.png"], "'10:nan' is not bar:beat"),
        (["still", "1000", "--after", "1e2", "-o", "x.png"], "'1e2' is not a time"),
        (["sheet", "--beat", "nan", "-o", "x.png"], "--beat nan"),
        (["sheet", "--beat", "inf", "-o", "x.png"], "--beat inf"),
        (["sheet", "--beat", "1e0", "-o", "x.png"], "--beat 1e0"),
        (["sheet", "--beat", "4", "-o", "x.png"], "--beat 4"),
        # A folder named with --data must be there.
        (["--data", "no/such/folder", "still", "1000", "-o", "x.png"], "no/such/folder"),
        # Sizes keep the show's aspect (and are even for a yuv420p video); the refusal names
        # the nearest size that fits.
        (["video", "--size", "1920x1200", "-o", "x.mp4"], "nearest size that fits is 1920x1080"),
        (["video", "--size", "1366x768", "-o", "x.mp4"], "nearest size that fits is 1376x774"),
        (["video", "--size", "16x9", "-o", "x.mp4"], "nearest size that fits is 32x18"),
        (["still", "1s", "--size", "1000x1000", "-o", "x.png"], "1000x1000 is not of"),
        (["still", "1s", "--size", "big", "-o", "x.png"], "'big' is not a size"),
        (["video", "--size", "16384x9216", "-o", "x.mp4"], "larger than the largest frame"),
        (["video", "--size", "7680x4320", "--supersample", "3", "-o", "x.mp4"],
         "at most --supersample 2"),
        (["video", "--supersample", "5", "-o", "x.mp4"], "supersample"),
        (["video", "-o", "-", "--sums", "-"], "both go to standard output"),
        # One file cannot hold both the video and its manifest, under any of its names.
        (["video", "-o", "x.mp4", "--sums", "./x.mp4"], "name the same file"),
        (["video", "--part", "0/3", "-o", "x.mp4"], "--part 0/3 is not K/N"),
        (["video", "--part", "4/3", "-o", "x.mp4"], "--part 4/3 is not K/N"),
        (["sums", "--part", "2", "-o", "x.txt"], "--part 2 is not K/N"),
        (["sums", "--bars", "67", "--part", "1/2", "-o", "x.txt"], "have only 1 frames"),
        (["sums", "--part", "1/2", "--per-bar", "-o", "x.txt"], "--per-bar"),
        (["video", "--part", "1/2", "--music", "m.ogg", "-o", "x.mp4"], "give --music to join"),
        (["join", "no-such-part.mp4", "-o", "x.mp4"], "no part file 'no-such-part.mp4'"),
    ],
)
def test_bad_input_is_refused_clearly(capture_bin, tmp_path, args, says):
    p = subprocess.run([str(capture_bin), *args], cwd=tmp_path, capture_output=True, text=True,
                       timeout=60)
    assert p.returncode == 2, p.stderr
    assert says in p.stderr
    assert not any(tmp_path.iterdir()), "a refused capture wrote something"


def test_a_sheet_past_the_picture_limit_is_refused_before_drawing(capture_bin, tmp_path):
    # With no GL driver to be found, any drawing would fail: the refusal comes first.
    env = dict(os.environ, __EGL_VENDOR_LIBRARY_FILENAMES="/nonexistent.json")
    p = subprocess.run([str(capture_bin), "sheet", "--columns", "64", "--thumb-width", "4096",
                        "-o", "sheet.png"], cwd=tmp_path, capture_output=True, text=True,
                       env=env, timeout=60)
    assert p.returncode == 2 and "past the largest picture, 32767 pixels" in p.stderr, p.stderr
    assert not any(tmp_path.iterdir())


def test_with_its_standard_descriptors_closed_the_capture_does_its_work(capture_bin, data_dir,
                                                                       tmp_path):
    def closed(*args):
        return subprocess.run(["sh", "-c", 'exec "$@" >&- 2>&-', "sh", str(capture_bin),
                               "--data", str(data_dir), *map(str, args)], cwd=tmp_path,
                              timeout=60).returncode

    assert closed("sums", "--bars", "0", "--fps", "4", "-o", "closed.sums") == 0
    open_sums = run(capture_bin, "--data", data_dir, "sums", "--bars", "0", "--fps", "4").stdout
    assert (tmp_path / "closed.sums").read_text() == open_sums
    # Without -o the manifest has nowhere to go: refused before drawing, nothing written.
    assert closed("sums", "--bars", "0", "--fps", "4") == 2
    assert sorted(p.name for p in tmp_path.iterdir()) == ["closed.sums"]


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


def test_the_other_build_refuses_sizes_of_the_wrong_aspect(capture_600_bin, tmp_path):
    p = run(capture_600_bin, "video", "--size", "1920x1080", "-o", tmp_path / "x.mp4",
            check=False)
    assert p.returncode == 2 and "1792x1050" in p.stderr


PNG = b"\x89PNG\r\n\x1a\n"


def test_what_is_not_a_file_is_written_through_or_refused(capture_bin, data_dir, tmp_path):
    still = [capture_bin, "--data", data_dir, "still", "1s", "--force", "-o"]
    # A FIFO is written through and stays a FIFO.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    got = {}
    reader = threading.Thread(target=lambda: got.update(data=fifo.read_bytes()), daemon=True)
    reader.start()
    run(*still, fifo)
    reader.join(30)
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode), "the FIFO was replaced"
    assert got.get("data", b"")[:8] == PNG
    # So is a character device (a node of its own for the null device, made as root).
    if os.geteuid() == 0:
        null = tmp_path / "null"
        os.mknod(null, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        run(*still, null)
        assert stat.S_ISCHR(os.lstat(null).st_mode), "the device node was replaced"
    # A symbolic link stays; the file it names is replaced.
    target, link = tmp_path / "target.png", tmp_path / "link.png"
    target.write_bytes(b"an older picture")
    link.symlink_to(target.name)
    run(*still, link)
    assert link.is_symlink() and target.read_bytes()[:8] == PNG
    # A link to nothing and a socket are refused.
    (tmp_path / "dangling").symlink_to("nowhere")
    server = socket.socket(socket.AF_UNIX)
    server.bind(str(tmp_path / "socket"))
    for name, says in (("dangling", "symbolic link to nothing"), ("socket", "not a file")):
        p = run(*still, tmp_path / name, check=False)
        assert p.returncode == 2 and says in p.stderr
    server.close()
    assert (tmp_path / "dangling").is_symlink() and stat.S_ISSOCK(
        os.lstat(tmp_path / "socket").st_mode)
    assert leftovers(tmp_path) == []


def test_dash_is_standard_output(capture_bin, data_dir, tmp_path):
    p = subprocess.run([str(capture_bin), "--data", str(data_dir), "still", "1s", "-o", "-"],
                       cwd=tmp_path, capture_output=True, timeout=60)
    assert p.returncode == 0 and p.stdout[:8] == PNG
    run(capture_bin, "--data", data_dir, "still", "1s", "-o", tmp_path / "file.png")
    assert p.stdout == (tmp_path / "file.png").read_bytes()
    # A video to standard output: the same complete MP4, made beside in TMPDIR and copied.
    env = dict(os.environ, TMPDIR=str(tmp_path))
    p = subprocess.run([str(capture_bin), "--data", str(data_dir), "video", "--bars", "67",
                        "--fps", "10", "-o", "-"], cwd=tmp_path, capture_output=True,
                       timeout=120, env=env)
    assert p.returncode == 0, p.stderr
    assert p.stdout[4:8] == b"ftyp" and b"moov" in p.stdout
    assert sorted(x.name for x in tmp_path.iterdir()) == ["file.png"]


def test_only_the_data_folder_given_is_read(capture_bin, tmp_path):
    # A working directory whose ./data has a logo: a red square.
    work = tmp_path / "work"
    (work / "data").mkdir(parents=True)
    Image.new("RGBA", (64, 64), (255, 0, 0, 255)).save(work / "data" / "logo3.png")
    empty, fifo_logo = tmp_path / "empty", tmp_path / "fifo-logo"
    empty.mkdir()
    fifo_logo.mkdir()
    os.mkfifo(fifo_logo / "logo3.png")
    # Bar 29, where the logo is fully shown.
    def sums(data, cwd, **env):
        return run(capture_bin, "--data", data, "sums", "--bars", "29", "--fps", "1",
                   env=dict(os.environ, **env), cwd=cwd, timeout=60).stdout
    with_logo = sums(work / "data", tmp_path)
    without = sums(empty, tmp_path)
    assert with_logo != without, "the logo does not show in these frames"
    # Nothing is read in place of a missing logo, even with no usable TMPDIR ...
    assert sums(empty, work, TMPDIR=str(tmp_path / "no-such-folder")) == without
    # ... and a logo that is not a file (here a FIFO nobody writes) is not read.
    assert sums(fifo_logo, work) == without
