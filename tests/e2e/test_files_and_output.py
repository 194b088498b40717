"""What the show reads and writes beside SDL.

A data file that is not a regular file (a FIFO with no writer, a link to one, a device) is refused
before it is opened, with the loader's usual message, and the show goes on without it: opened for
reading, a FIFO would block start-up for ever with the full-screen window up and Escape dead.

Messages are best effort: a standard output whose reader has gone (`vellamor | head -1`) or that
is closed (`vellamor >&-`) does not end or hang the show. (Closed, its descriptor would otherwise go
to the X connection, and messages into the X protocol.)"""

import os
import time

import pytest

import harness as h

MIXER_FOLLOW_ONS = ("Unable to play Ogg file: ", "Mix_SetMusicPosition: ")


def make_special(path, kind):
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "link-to-fifo":
        target = path.with_name(f".{path.name}.fifo")
        os.mkfifo(target)
        path.symlink_to(target.name)
    elif kind == "device":
        path.symlink_to("/dev/zero")
    else:
        raise ValueError(kind)


def run_and_escape(workdir, x, **kw):
    """Starts vellamor, lets it draw a little, ends it with Escape, which must end it with status 0;
    returns its lines and calls."""
    run, _ = h.start_show("vellamor", workdir, x, timeout=20, **kw)
    with run:
        time.sleep(0.5)
        x.key("Escape")
        status = run.wait(15)
        assert status == 0, f"status {status}: {run.stdout()!r}"
        assert h.swaps_at_quit(run.calls()) > 0, "no frame drawn"
        return run.lines(), run.calls()


# Refused by the program's own check, whatever the SDL: the second pass tries a FIFO alone.
@pytest.mark.parametrize("kind", ["fifo", "link-to-fifo", "device"] if not h.on_compat() else ["fifo"])
def test_data_files_that_are_not_regular_files_are_refused(kind, x720, tmp_path):
    workdir = h.make_workdir(tmp_path, music="none", logo="none")
    for name in (h.LOGO, h.MUSIC):
        make_special(workdir / "data" / name, kind)
    lines, _ = run_and_escape(workdir, x720)
    assert lines[:2] == [f"Virhe: IMG_Load: data/{h.LOGO} is not a regular file",
                         f"Unable to load Ogg file: data/{h.MUSIC} is not a regular file"], lines
    # Then the mixer's own lines for a missing stream, with its reasons.
    assert len(lines) == 4, lines
    for line, prefix in zip(lines[2:], MIXER_FOLLOW_ONS):
        assert line.startswith(prefix) and len(line) > len(prefix), lines


@pytest.mark.parametrize("output", ["broken-pipe", "closed"])
def test_messages_to_a_standard_output_that_is_gone(output, x720, tmp_path):
    """Without the logo and the music the show prints four messages on the way to its frame loop."""
    _, calls = run_and_escape(h.make_workdir(tmp_path, music="none", logo="none"), x720, output=output)
    assert h.count_calls(calls, "Mix_PlayMusic") == 1, "start-up did not get past the messages"
