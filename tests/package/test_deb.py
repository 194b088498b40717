"""The Debian package as Debian checks it and as a user meets it: lintian, desktop-file-validate,
appstreamcli and man on what it holds; apt-get simulating it beside sdl12-compat; apt-get
installing it, the installed show playing to its end, and apt-get removing every file again."""

import gzip
import os
import re
import subprocess
from pathlib import Path

import pytest
from PIL import Image

from conftest import (LOGO, MUSIC, as_root, env_path, files_of, package_file,
                      play_whole_show)

APT = ["apt-get", "-o", "DPkg::Lock::Timeout=600", "-y", "-q"]
ICON_SIZES = (32, 48, 64, 128, 256)


@pytest.fixture(scope="module")
def deb():
    return package_file("vellamor_*.deb")


@pytest.fixture(scope="module", autouse=True)
def lintian(deb):
    """lintian runs beside the other tests (it takes a while); test_lintian reads its verdict."""
    proc = subprocess.Popen(["lintian", "--fail-on", "none", "--display-info", "--pedantic",
                             "--display-experimental", str(deb)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    yield proc
    if proc.poll() is None:
        proc.kill()
    proc.communicate()


@pytest.fixture(scope="module")
def unpacked(deb, tmp_path_factory):
    root = tmp_path_factory.mktemp("deb")
    subprocess.run(["dpkg-deb", "-x", str(deb), str(root)], check=True)
    return root


def field(deb, name):
    return subprocess.run(["dpkg-deb", "-f", str(deb), name], check=True, capture_output=True,
                          text=True).stdout.strip()


def accepted_lintian_tags():
    """The tags the README's table of accepted lintian tags lists."""
    readme = (env_path("VELLAMOR_SOURCE_DIR") / "README.md").read_text()
    table = readme.split("### Lintian tags accepted", 1)[1].split("\n#", 1)[0]
    return set(re.findall(r"^\| `([a-z0-9.+-]+)` \|", table, re.M))


def test_layout_documents_and_manual_pages(unpacked):
    files = files_of(unpacked)
    for path in ("usr/games/vellamor", "usr/games/vellamor_600",
                 "usr/lib/games/vellamor/vellamor", "usr/lib/games/vellamor/vellamor_600",
                 f"usr/share/games/vellamor/data/{MUSIC}", f"usr/share/games/vellamor/data/{LOGO}",
                 "usr/bin/vellamor_capture", "usr/bin/vellamor_600_capture",
                 "usr/share/doc/vellamor/copyright", "usr/share/doc/vellamor/changelog.Debian.gz",
                 "usr/share/applications/vellamor.desktop",
                 "usr/share/applications/vellamor_600.desktop"):
        assert path in files, f"{path} is not in the package"
    assert [f for f in files if f.startswith("usr/share/metainfo/")] == \
        ["usr/share/metainfo/io.github.vellamor.vellamor.metainfo.xml"]
    # Debian's copyright file names the licence and the typeface of the logo's letters.
    copyright_text = " ".join((unpacked / "usr/share/doc/vellamor/copyright").read_text().split())
    assert "License: Expat" in copyright_text and "Permission is hereby granted" in copyright_text
    assert "DejaVu Sans Bold" in copyright_text and "Bitstream Vera" in copyright_text
    # The changelog's entry is the package's version, with a Debian revision.
    changelog = gzip.decompress((unpacked / "usr/share/doc/vellamor/changelog.Debian.gz")
                                .read_bytes()).decode()
    assert changelog.startswith("vellamor (1.0.0-1) ")
    # The manual pages are compressed; each second program's page is a link to the first's.
    man = unpacked / "usr/share/man"
    assert sorted(str(p.relative_to(man)) for p in man.rglob("*.gz")) == [
        "man1/vellamor_600_capture.1.gz", "man1/vellamor_capture.1.gz",
        "man6/vellamor.6.gz", "man6/vellamor_600.6.gz"]
    assert os.readlink(man / "man6/vellamor_600.6.gz") == "vellamor.6.gz"
    assert not [f for f in files if f.startswith("usr/share/man") and not f.endswith(".gz")]
    # Nothing but the shipped data, no licence file beside the copyright file.
    assert not [f for f in files if f.endswith(("LICENSE", "README.md"))]


def test_icons_are_the_logo_at_each_size(unpacked):
    for size in ICON_SIZES:
        icon = Image.open(unpacked / f"usr/share/icons/hicolor/{size}x{size}/apps/vellamor.png")
        assert icon.size == (size, size) and icon.mode == "RGBA"
        pixels = icon.getdata()
        assert icon.getpixel((0, 0))[3] == 0, "the corners are transparent"
        assert max(r for r, g, b, a in pixels) > 200, "the red lettering is there"


def test_desktop_entries_metainfo_and_manual_pages_validate(unpacked):
    desktop = sorted((unpacked / "usr/share/applications").glob("*.desktop"))
    p = subprocess.run(["desktop-file-validate", *map(str, desktop)], capture_output=True,
                       text=True)
    assert p.returncode == 0 and not p.stdout.strip(), p.stdout + p.stderr
    for entry in desktop:
        execs = [line for line in entry.read_text().splitlines() if line.startswith("Exec=")]
        assert execs == [f"Exec={entry.stem}"], "the show takes no arguments: none in Exec"

    metainfo = next((unpacked / "usr/share/metainfo").glob("*.xml"))
    p = subprocess.run(["appstreamcli", "validate", "--pedantic", "--no-net", str(metainfo)],
                       capture_output=True, text=True)
    assert p.returncode == 0, p.stdout + p.stderr
    assert not re.search(r"^[EW]: ", p.stdout, re.M), p.stdout

    for page in sorted((unpacked / "usr/share/man").rglob("*.gz")):
        p = subprocess.run(["man", "--warnings", "-l", str(page)], capture_output=True,
                           text=True, env=dict(os.environ, MANWIDTH="80"))
        assert p.returncode == 0 and p.stdout and not p.stderr, f"{page.name}: {p.stderr}"


def test_dependencies_come_from_the_libraries_and_accept_sdl12_compat(deb):
    depends = field(deb, "Depends")
    for library in ("libsdl1.2debian", "libsdl-mixer1.2", "libsdl-image1.2", "libgl1", "libc6"):
        assert re.search(rf"(^|, ){re.escape(library)}\b", depends), depends
    # sdl12-compat stands in for the classic library through libsdl1.2-compat-shim: apt must be
    # able to install the package beside it, keeping SDL_mixer and SDL_image.
    known = subprocess.run(["apt-cache", "show", "libsdl1.2-compat-shim"], capture_output=True)
    if known.returncode != 0:
        pytest.skip("apt knows no libsdl1.2-compat-shim (no package lists)")
    p = subprocess.run(["apt-get", "-s", "-o", "Debug::NoLocking=true", "install", str(deb),
                        "libsdl1.2-compat-shim"], capture_output=True, text=True,
                       env=dict(os.environ, LC_ALL="C"))
    assert p.returncode == 0, p.stdout + p.stderr
    actions = [line.split(" (")[0].split(" [")[0] for line in p.stdout.splitlines()
               if line.startswith(("Inst ", "Remv "))]
    assert "Inst vellamor" in actions and "Inst libsdl1.2-compat-shim" in actions, p.stdout
    assert not {"Remv libsdl-mixer1.2", "Remv libsdl-image1.2"} & set(actions), p.stdout


def installed_status():
    """dpkg's status of the package, or None when dpkg has nothing of it."""
    p = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "vellamor"], capture_output=True,
                       text=True)
    if p.returncode != 0 or p.stdout.endswith(" not-installed"):
        return None
    return p.stdout


def test_installed_show_plays_to_its_end_and_removal_leaves_nothing(deb, unpacked, tmp_path):
    if installed_status() is not None:
        pytest.fail("vellamor is already installed here, and this test installs and removes it: "
                    "remove it (apt-get remove vellamor) and run the test again")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    try:
        p = subprocess.run(as_root(*APT, "install", str(deb)), env=env, capture_output=True,
                           text=True, timeout=900)
        assert p.returncode == 0, p.stdout + p.stderr
        assert installed_status() == "install ok installed"

        # The show, as a player starts it, from a folder unrelated to its data.
        play_whole_show("/usr/games/vellamor", "/")

        # The capture programs find the installed data from anywhere.
        still = tmp_path / "still.png"
        p = subprocess.run(["/usr/bin/vellamor_capture", "-q", "still", "57s", "-o", str(still)],
                           cwd="/", capture_output=True, text=True, timeout=120)
        assert p.returncode == 0 and still.stat().st_size > 0, p.stderr
        assert LOGO not in p.stderr and MUSIC not in p.stderr, p.stderr
    finally:
        if installed_status() is not None:
            p = subprocess.run(as_root(*APT, "remove", "vellamor"), env=env,
                               capture_output=True, text=True, timeout=900)
            assert p.returncode == 0, p.stdout + p.stderr
    assert installed_status() is None
    left = [f for f in files_of(unpacked) if os.path.lexists("/" + f)]
    assert not left, f"left behind: {left}"
    for folder in ("/usr/lib/games/vellamor", "/usr/share/games/vellamor",
                   "/usr/share/doc/vellamor"):
        assert not Path(folder).exists(), f"{folder} left behind"


def test_lintian_finds_nothing_but_the_accepted_tags(lintian):
    out, err = lintian.communicate(timeout=600)
    assert lintian.returncode == 0, err
    tags = re.findall(r"^([EWIPX]): vellamor[^:]*: (\S+)", out, re.M)
    assert tags or not out.strip(), out
    accepted = accepted_lintian_tags()
    assert accepted, "the README lists no accepted lintian tags"
    refused = sorted({tag for level, tag in tags if level in "EW" and tag not in accepted})
    assert not refused, f"lintian: {refused}\n{out}"
    # Built with Debian's hardening flags, and stripped as Debian strips.
    assert not [tag for _, tag in tags
                if tag.startswith("hardening-") or tag == "binary-has-unneeded-section"], out
