"""Children of a test run or a benchmark: started so that they end with the process that started
them, however it ends, and ended on every way out."""

import ctypes
import os
import signal
import subprocess
import time

PR_SET_PDEATHSIG = 1
# How long a server has to end on SIGTERM before it is killed.
TERMINATE_TIMEOUT_S = 10

_libc = ctypes.CDLL(None, use_errno=True)


def die_with_parent(sig):
    """A preexec function: the child gets sig when the process that started it dies, so that a
    killed test run leaves nothing behind (PR_SET_PDEATHSIG). A parent that died before the child
    asked is caught too."""
    parent = os.getpid()

    def set_signal():
        _libc.prctl(PR_SET_PDEATHSIG, int(sig), 0, 0, 0)
        if os.getppid() != parent:
            os.kill(os.getpid(), sig)
    return set_signal


def terminate(proc):
    """Ends a server: SIGTERM, and SIGKILL if it is still there after TERMINATE_TIMEOUT_S."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(TERMINATE_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def kill_session(proc):
    """Ends a child started in a session of its own, and everything it started there, at once."""
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def wait_until(predicate, timeout, interval=0.02, what="condition"):
    """Polls predicate until it gives a true value, which it returns; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    raise AssertionError(f"timed out waiting for {what}")
