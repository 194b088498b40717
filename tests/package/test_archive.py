"""The relocatable archive: unpacked in a fresh folder, its launchers play the show from any other
folder, directly or through a symbolic link; it holds what the .deb holds, with no absolute path
in its launchers or links."""

import os
import subprocess

import pytest

from conftest import (bad_lines, files_of, package_file, play_whole_show, quit_with_escape)


@pytest.fixture(scope="module")
def top(tmp_path_factory):
    """The archive's top folder, unpacked in a fresh temporary folder."""
    archive = package_file("vellamor-*.tar.gz")
    root = tmp_path_factory.mktemp("unpacked")
    subprocess.run(["tar", "xzf", str(archive), "-C", str(root)], check=True)
    tops = list(root.iterdir())
    assert [t.name for t in tops] == [archive.name[:-len(".tar.gz")]]
    return tops[0]


def test_holds_what_the_deb_holds_with_nothing_absolute(top, tmp_path):
    deb_root = tmp_path / "deb"
    subprocess.run(["dpkg-deb", "-x", str(package_file("vellamor_*.deb")), str(deb_root)],
                   check=True)
    debian_docs = {"share/doc/vellamor/copyright", "share/doc/vellamor/changelog.Debian.gz"}
    own_docs = {"share/doc/vellamor/LICENSE", "share/doc/vellamor/README.md"}
    in_deb = {f[len("usr/"):] for f in files_of(deb_root)}
    assert files_of(top) - own_docs == in_deb - debian_docs
    for f in files_of(top):
        if os.path.islink(top / f):
            assert not os.readlink(top / f).startswith("/"), f
    for launcher in ("vellamor", "vellamor_600"):
        text = (top / "games" / launcher).read_text()
        assert text.startswith("#!/bin/sh\n")
        assert "/usr" not in text and " /" not in text and '"/' not in text, text


def test_launcher_plays_the_whole_show_from_another_folder(top, tmp_path):
    play_whole_show(top / "games" / "vellamor", tmp_path)


def test_launcher_through_a_link_finds_its_own_folder(top, tmp_path):
    link = tmp_path / "bin" / "vellamor_600"
    link.parent.mkdir()
    link.symlink_to(top / "games" / "vellamor_600")
    status, out, err = quit_with_escape(link, tmp_path, "vellamor_600")
    assert status == 0 and not bad_lines(out), (status, out, err)
