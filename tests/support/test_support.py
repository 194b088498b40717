"""The shared helpers against the real things: an Xvfb answers as soon as it is made and leaves no
file behind however it ends, a test process that dies takes its server and its show along, and a
sped-up run's clock runs that much faster."""

import signal
import subprocess
import sys
import time
from pathlib import Path

from support import showrun
from support.processes import wait_until
from support.xserver import Xvfb

TESTS = Path(__file__).resolve().parents[1]


def socket_of(display):
    return Path(f"/tmp/.X11-unix/X{display[1:]}")


def gone(pid):
    """The process has ended (a zombie that nobody reaps counts as ended)."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def test_a_server_answers_at_once_and_leaves_nothing_when_killed():
    x = Xvfb(320, 200)
    try:
        assert x.run("xdotool", "getdisplaygeometry").split() == ["320", "200"]
        assert socket_of(x.display).exists()
        # A server killed outright cannot remove its own files: stop() does.
        x.proc.send_signal(signal.SIGKILL)
        x.proc.wait()
        assert socket_of(x.display).exists()
    finally:
        x.stop()
    assert not socket_of(x.display).exists()
    x.stop()  # again: nothing left to do


def test_a_dying_test_process_takes_its_server_and_show_along():
    child = subprocess.Popen(
        [sys.executable, "-c", "import sys, time\n"
         f"sys.path.insert(0, {str(TESTS)!r})\n"
         "from support import showrun\n"
         "from support.xserver import Xvfb\n"
         "x = Xvfb(320, 200)\n"
         "show = showrun.start(['sleep', '60'], env=showrun.show_env(x))\n"
         "print(x.display, x.proc.pid, show.pid, flush=True)\n"
         "time.sleep(60)\n"],
        stdout=subprocess.PIPE, text=True)
    try:
        display, server, show = child.stdout.readline().split()
    finally:
        child.kill()
        child.wait()
    wait_until(lambda: gone(int(server)) and gone(int(show)), 10, what="the server and the show")
    # The server ended on SIGTERM, and so removed its files itself.
    wait_until(lambda: not socket_of(display).exists(), 5, what="the server's socket to go")


def test_a_sped_up_clock_runs_that_much_faster():
    # The child waits for 3 s of CLOCK_MONOTONIC, the clock SDL_GetTicks reads: at ten times the
    # speed that is 0.3 s.
    start = time.monotonic()
    subprocess.run([sys.executable, "-c", "import time\n"
                    "t = time.monotonic()\n"
                    "while time.monotonic() - t < 3: pass\n"],
                   env=showrun.show_env(speed=10), check=True, timeout=30)
    assert time.monotonic() - start < 1.5
