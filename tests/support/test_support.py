"""The shared X server against the real thing: it answers as soon as it is made and leaves no file
behind however it ends, and a test process that dies takes its server and its show along. (The
sped-up clock is the end-to-end tests' to check: their whole runs would not end in time.)"""

import signal
import subprocess
import sys
from pathlib import Path

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

