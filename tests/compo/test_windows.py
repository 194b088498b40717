"""The Windows edition under Wine, on private desktops with a window manager: what the .exe files
import, the show's window and caption, Escape and Alt-F4 ending it at once with status 0, the
statuses and messages of a failed start, the data found beside the .exe from any folder, and one
whole show played to its end.

Wine's clock cannot be sped up, so the whole show takes its 130 s: it is started first, on a desktop
of its own, and the other checks run while it plays."""

import subprocess
import time

import numpy as np
import pytest
from PIL import Image

from conftest import QUIT_S, WHOLE_SHOW_S, bad_lines, env_path, time_to_quit, unpacked
from desktop import wine_desktop
from support import showrun

PROGRAMS = ("vellamor.exe", "vellamor_600.exe")
# What Windows itself provides; anything else would have to be shipped beside the program.
SYSTEM_DLLS = {"advapi32.dll", "gdi32.dll", "glu32.dll", "kernel32.dll", "msvcrt.dll",
               "opengl32.dll", "user32.dll", "winmm.dll", "ole32.dll", "shell32.dll",
               "imm32.dll", "version.dll"}
# Files that SDL's Windows start-up writes beside the program when it redirects the messages.
REDIRECTED = ("stdout.txt", "stderr.txt")
# The time a program under Wine has to show its window with the caption.
START_TIMEOUT_S = 90
# (T, P): the frame at T drawn after a frame at P. The city from the second camera path, the logo
# fading in (read through libpng here, through SDL_image natively), and movement two.
MOMENTS = [(30000, 29983), (52000, 51983), (72000, 71983)]
# The browser edition's tolerance: edge pixels rasterised in another order may differ.
MAX_FAR_OFF = 0.001  # share of pixels more than 8 levels off in some channel


def start(wine, exe, cwd, **env):
    return showrun.start(["wine", exe], cwd=cwd, env=wine.run_env(**env),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


class Run:
    def __init__(self, desktop, app, proc):
        self.desktop, self.app, self.proc = desktop, app, proc
        self.started = time.monotonic()


@pytest.fixture(scope="module", autouse=True)
def whole_show(windows_build, tmp_path_factory):
    """vellamor.exe started from a folder other than its own, on a desktop and a Wine of its own,
    to play the whole show while the other checks run."""
    root = tmp_path_factory.mktemp("whole")
    app = unpacked(windows_build, ["vellamor.exe"], root)
    elsewhere = root / "elsewhere"
    elsewhere.mkdir()
    with wine_desktop(1280, 720) as wine:
        proc = start(wine, app / "vellamor.exe", elsewhere)
        try:
            yield Run(wine.desktop, app, proc)
        finally:
            showrun.end(proc)


@pytest.fixture(scope="module")
def wine():
    """The desktop and Wine of the other checks, one program at a time. The 1024x600 program
    covers this 1280x720 screen, as it covers any larger one."""
    with wine_desktop(1280, 720) as w:
        yield w


def dlls_imported(exe):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], check=True,
                         capture_output=True, text=True).stdout
    return {line.split(":", 1)[1].strip().lower() for line in out.splitlines()
            if line.strip().startswith("DLL Name:")}


@pytest.mark.parametrize("program", PROGRAMS)
def test_imports_only_system_dlls(windows_build, program):
    dlls = dlls_imported(windows_build / program)
    assert {"opengl32.dll", "glu32.dll"} <= dlls, dlls
    assert dlls <= SYSTEM_DLLS, f"{program} needs {sorted(dlls - SYSTEM_DLLS)} beside it"


def test_window_opens_with_the_caption_covering_the_screen(whole_show):
    x = whole_show.desktop.x
    window = showrun.wait_for_show(x, "vellamor.exe", whole_show.proc, START_TIMEOUT_S)
    geometry = x.run("xdotool", "getwindowgeometry", "--shell", str(window))
    size = dict(line.split("=") for line in geometry.split())
    assert (int(size["WIDTH"]), int(size["HEIGHT"])) == (1280, 720), geometry


@pytest.mark.parametrize("program,key", [("vellamor.exe", "Escape"), ("vellamor.exe", "alt+F4"),
                                         ("vellamor_600.exe", "alt+F4")])
def test_escape_and_alt_f4_end_it_at_once(wine, windows_build, tmp_path, program, key):
    app = unpacked(windows_build, [program], tmp_path)
    proc = start(wine, app / program, app)
    try:
        showrun.wait_for_show(wine.desktop.x, program, proc, START_TIMEOUT_S)
        time.sleep(1)  # well into the frame loop
        took = time_to_quit(wine.desktop.x, program, proc, lambda: wine.desktop.x.key(key))
        out, err = proc.communicate()
    finally:
        showrun.end(proc)
    assert proc.returncode == 0, (out, err)
    assert not bad_lines(out), out
    assert took < QUIT_S, f"{key} ended {program} after {took:.2f} s"


def test_messages_go_to_standard_output(wine, windows_build, tmp_path):
    """Without its data folder the show says so on standard output, as on Linux, goes on, and
    ends with status 0 on Escape; nothing is written beside the program."""
    app = unpacked(windows_build, ["vellamor_600.exe"], tmp_path, data=False)
    proc = start(wine, app / "vellamor_600.exe", tmp_path)
    try:
        showrun.wait_for_show(wine.desktop.x, "vellamor_600.exe", proc, START_TIMEOUT_S)
        wine.desktop.x.key("Escape")
        out, err = proc.communicate(timeout=30)
    finally:
        showrun.end(proc)
    assert proc.returncode == 0, (out, err)
    lines = out.splitlines()
    assert any(line.startswith("Unable to load Ogg file: ") for line in lines), out
    assert any(line.startswith("Virhe: IMG_Load: ") for line in lines), out
    assert sorted(p.name for p in app.iterdir()) == ["vellamor_600.exe"]


def test_failed_start_has_the_status_and_message_of_linux(wine, windows_build, tmp_path):
    app = unpacked(windows_build, ["vellamor.exe"], tmp_path)
    p = subprocess.run(["wine", app / "vellamor.exe"], cwd=app, capture_output=True, text=True,
                       timeout=START_TIMEOUT_S, env=wine.run_env(SDL_VIDEODRIVER="none"))
    assert p.returncode == 1, (p.stdout, p.stderr)
    assert p.stdout.startswith("Virhe: SDL_Init: "), p.stdout
    assert not any((app / name).exists() for name in REDIRECTED)


def test_frames_equal_the_native_stills(wine, windows_build, tmp_path):
    """Stills drawn by the Windows build's own start-up and GL path (Wine's opengl32 over Mesa)
    against the native capture's stills of the same moments."""
    app = unpacked(windows_build, [], tmp_path)
    still = app / "vellamor_still.exe"
    still.write_bytes((windows_build / "tools" / "vellamor_still.exe").read_bytes())
    args = []
    for now, previous in MOMENTS:
        args += ["--after", str(previous), str(now), f"windows-{now}.ppm"]
    p = subprocess.run(["wine", still, *args], cwd=tmp_path, capture_output=True, text=True,
                       timeout=START_TIMEOUT_S * 2, env=wine.run_env())
    assert p.returncode == 0, (p.stdout, p.stderr)
    capture = env_path("CAPTURE_BIN")
    artefacts = env_path("COMPO_ARTEFACTS")
    artefacts.mkdir(parents=True, exist_ok=True)
    figures = {}
    for now, previous in MOMENTS:
        native_png = artefacts / f"native-{now}.png"
        subprocess.run([capture, "still", str(now), "--after", str(previous), "-o", native_png,
                        "--force", "--quiet"], check=True, timeout=120)
        native = np.asarray(Image.open(native_png).convert("RGB"), dtype=np.int16)
        windows_image = Image.open(tmp_path / f"windows-{now}.ppm")
        windows_image.save(artefacts / f"windows-{now}.png")
        windows = np.asarray(windows_image, dtype=np.int16)
        assert windows.shape == native.shape
        far = int((np.abs(windows - native).max(axis=2) > 8).sum())
        figures[now] = far / (native.shape[0] * native.shape[1])
    assert all(share <= MAX_FAR_OFF for share in figures.values()), figures


def test_the_show_plays_to_its_end(whole_show):
    """The last check of the module: the run started first ends by itself with status 0, having
    found its data beside the .exe, after the whole show."""
    run = whole_show
    out, err = run.proc.communicate(timeout=WHOLE_SHOW_S + START_TIMEOUT_S + 60)
    took = time.monotonic() - run.started
    assert run.proc.returncode == 0, (out, err)
    assert not bad_lines(out), out
    assert took >= WHOLE_SHOW_S, f"over after {took:.1f} s, before the show's end"
    assert not any((run.app / name).exists() for name in REDIRECTED)
