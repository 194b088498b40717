"""`cmake --install` of this build into a temporary prefix: the files in Debian's layout for games,
the capture programs finding the installed data by themselves, a launcher without its data, and
the icon maker."""

import os
import subprocess

import numpy as np
import pytest
from PIL import Image

from conftest import LOGO, MUSIC, env_path, files_of
from support.standins import make_logo


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    root = tmp_path_factory.mktemp("prefix")
    p = subprocess.run(["cmake", "--install", str(env_path("VELLAMOR_BUILD_DIR")), "--prefix",
                        str(root)], capture_output=True, text=True, timeout=300)
    assert p.returncode == 0, p.stdout + p.stderr
    return root


def test_layout(prefix):
    files = files_of(prefix)
    expected = {
        "games/vellamor", "games/vellamor_600",
        "lib/games/vellamor/vellamor", "lib/games/vellamor/vellamor_600",
        f"share/games/vellamor/data/{MUSIC}", f"share/games/vellamor/data/{LOGO}",
        "bin/vellamor_capture", "bin/vellamor_600_capture",
        "share/applications/vellamor.desktop", "share/applications/vellamor_600.desktop",
        "share/metainfo/io.github.vellamor.vellamor.metainfo.xml",
        "share/man/man6/vellamor.6.gz", "share/man/man6/vellamor_600.6.gz",
        "share/man/man1/vellamor_capture.1.gz", "share/man/man1/vellamor_600_capture.1.gz",
        "share/doc/vellamor/LICENSE", "share/doc/vellamor/README.md",
        *(f"share/icons/hicolor/{n}x{n}/apps/vellamor.png" for n in (32, 48, 64, 128, 256)),
    }
    assert files == expected, (sorted(files - expected), sorted(expected - files))
    for program in ("games/vellamor", "games/vellamor_600", "lib/games/vellamor/vellamor",
                    "bin/vellamor_capture"):
        assert os.access(prefix / program, os.X_OK), program
    source = env_path("VELLAMOR_SOURCE_DIR")
    assert (prefix / "share/doc/vellamor/LICENSE").read_bytes() == (source / "LICENSE").read_bytes()


def still(capture, cwd, out, *data):
    p = subprocess.run([str(capture), "-q", *data, "still", "57s", "-o", str(out)], cwd=cwd,
                       capture_output=True, text=True, timeout=120)
    assert p.returncode == 0, p.stderr
    return np.asarray(Image.open(out))


def test_capture_finds_the_installed_data_from_anywhere(prefix, tmp_path):
    # A logo of its own in the installed data tells it apart from the source tree's.
    installed = prefix / "share/games/vellamor/data"
    (installed / LOGO).unlink()
    make_logo(installed / LOGO)
    capture = prefix / "bin/vellamor_capture"
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    by_default = still(capture, elsewhere, tmp_path / "default.png")
    told = still(capture, elsewhere, tmp_path / "installed.png", "--data", str(installed))
    source = still(capture, elsewhere, tmp_path / "source.png", "--data",
                   str(env_path("VELLAMOR_SOURCE_DIR") / "data"))
    assert np.array_equal(by_default, told)
    assert not np.array_equal(by_default, source), "the logo at 57 s differs"


def test_launcher_without_its_data_says_so(prefix):
    data_parent = prefix / "share/games/vellamor"
    data_parent.rename(prefix / "moved")
    try:
        p = subprocess.run([str(prefix / "games/vellamor_600")], cwd="/", capture_output=True,
                           text=True, timeout=30, env=dict(os.environ, DISPLAY=""))
    finally:
        (prefix / "moved").rename(data_parent)
    assert p.returncode == 1 and not p.stdout
    assert p.stderr.startswith("vellamor_600: no data folder at ") and \
        "share/games/vellamor/data" in p.stderr, p.stderr


def test_icon_maker(tmp_path):
    mkicon = str(env_path("MKICON_BIN"))
    logo = env_path("VELLAMOR_SOURCE_DIR") / "data" / LOGO

    def run(*args):
        return subprocess.run([mkicon, *map(str, args)], capture_output=True, text=True,
                              timeout=60)

    assert run("--help").returncode == 0
    for size in ("8", "2048", "64x64", ""):
        p = run(logo, size, tmp_path / "icon.png")
        assert p.returncode == 2 and "SIZE" in p.stderr, (size, p.stderr)
    black = tmp_path / "black.png"
    Image.new("RGBA", (64, 64), (0, 0, 0, 255)).save(black)
    for bad, why in ((black, "all black"), (tmp_path / "missing.png", "cannot read")):
        p = run(bad, 48, tmp_path / "icon.png")
        assert p.returncode == 1 and why in p.stderr, p.stderr
    assert not list(tmp_path.glob("icon*.png")), "a failed run leaves no file"

    # The lettering (with its faint reflection), centred on a rounded square with transparent
    # corners.
    p = run(logo, 100, tmp_path / "icon.png")
    assert p.returncode == 0, p.stderr
    icon = np.asarray(Image.open(tmp_path / "icon.png"))
    assert icon.shape == (100, 100, 4)
    assert icon[0, 0, 3] == 0 and icon[50, 5, 3] == 255
    lit = np.argwhere(icon[:, :, :3].max(axis=2) > 8)
    centre = (lit.min(axis=0) + lit.max(axis=0)) / 2
    assert np.abs(centre - 49.5).max() <= 2, centre
