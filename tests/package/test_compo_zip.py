"""The compo zip, the one archive a party plays with nothing installed: the two Windows programs
importing system libraries only, the two portable Linux programs, one data folder and a readme,
in one folder; unpacked, the Linux program plays from any folder."""

import re
import subprocess
import zipfile

import pytest

from conftest import bad_lines, env_path, files_of, package_file, quit_with_escape

PROGRAMS = {"vellamor.exe", "vellamor_600.exe", "vellamor", "vellamor_600"}
DATA = {"data/logo3.png", "data/ruvo_megasong_bpm_124c.ogg"}
# DLLs that every 64-bit Windows 10 and 11 has in its system folder.
WINDOWS_SYSTEM_DLLS = {"advapi32.dll", "gdi32.dll", "glu32.dll", "kernel32.dll", "msvcrt.dll",
                       "opengl32.dll", "user32.dll", "winmm.dll", "shell32.dll", "ole32.dll",
                       "imm32.dll", "version.dll", "dsound.dll"}


@pytest.fixture(scope="module")
def archive():
    return package_file("vellamor-*-compo.zip")


@pytest.fixture(scope="module")
def top(archive, tmp_path_factory):
    """The zip's one folder, unpacked by Info-ZIP's unzip, which keeps the programs' modes."""
    root = tmp_path_factory.mktemp("compo")
    subprocess.run(["unzip", "-q", str(archive), "-d", str(root)], check=True)
    tops = list(root.iterdir())
    assert [t.name for t in tops] == [archive.name[:-len(".zip")]]
    return tops[0]


def test_holds_the_programs_the_data_and_a_readme(archive, top):
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            mode = info.external_attr >> 16
            assert info.filename.startswith(top.name + "/"), info.filename
            if info.filename.rstrip("/").split("/", 1)[-1] in PROGRAMS:
                assert mode & 0o111, f"{info.filename} is not executable"
    assert files_of(top) == PROGRAMS | DATA | {"README.txt"}
    assert not any(p.is_symlink() for p in top.rglob("*"))
    source = env_path("VELLAMOR_SOURCE_DIR")
    for f in DATA:
        assert (top / f).read_bytes() == (source / f).read_bytes(), f
    kinds = {p: subprocess.run(["file", "-b", str(top / p)], capture_output=True, text=True,
                               check=True).stdout for p in PROGRAMS}
    for p in ("vellamor.exe", "vellamor_600.exe"):
        assert kinds[p].startswith("PE32+ executable") and "x86-64" in kinds[p], kinds[p]
    for p in ("vellamor", "vellamor_600"):
        assert kinds[p].startswith("ELF 64-bit LSB") and "x86-64" in kinds[p], kinds[p]


@pytest.mark.parametrize("program", ["vellamor.exe", "vellamor_600.exe"])
def test_windows_programs_import_only_system_libraries(top, program):
    dump = subprocess.run(["objdump", "-p", str(top / program)], capture_output=True, text=True,
                          check=True).stdout
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    assert {"kernel32.dll", "opengl32.dll"} <= imports, imports
    assert imports <= WINDOWS_SYSTEM_DLLS, imports - WINDOWS_SYSTEM_DLLS


def test_readme_says_what_a_party_asks(top):
    raw = (top / "README.txt").read_bytes()
    text = raw.decode("ascii")
    lines = text.split("\r\n")
    # CRLF throughout, for any Windows editor, and narrow enough for a terminal.
    assert "\n" not in text.replace("\r\n", "") and lines[-1] == ""
    assert max(len(line) for line in lines) <= 80
    assert lines[0] == "Korvek - Vellamor"
    version = top.name.split("-")[1]
    for said in (f"version {version}", "Windows", "64-bit", "Linux", "1280x720", "1024x600",
                 "Escape", "MIT", "./vellamor", "vellamor.exe"):
        assert said in text, said
    licence = (env_path("VELLAMOR_SOURCE_DIR") / "LICENSE").read_text()
    assert licence.replace("\n", "\r\n") in text
    # The oldest glibc it names is the newest the Linux programs ask for.
    glibc = re.search(r"glibc (\d+\.\d+)", text)[1]
    dump = subprocess.run(["objdump", "-T", str(top / "vellamor"), str(top / "vellamor_600")],
                          capture_output=True, text=True, check=True).stdout
    wanted = max(tuple(map(int, v.split("."))) for v in re.findall(r"GLIBC_([\d.]+)\b", dump))
    assert tuple(map(int, glibc.split("."))) == wanted


def test_linux_program_plays_from_another_folder(top, tmp_path):
    status, out, err = quit_with_escape(top / "vellamor", tmp_path, "vellamor")
    assert status == 0 and not bad_lines(out), (status, out, err)
