"""The real programs' GL call stream, recorded with apitrace over the first
100 s of the show at 25 times the speed (4 s of real time, ended with Escape) and read back with
`apitrace dump`.

The stream is the show's own: the preload library marks the GL calls that SDL makes itself (setting
the video mode, reading an attribute back, swapping buffers) and they are set aside, but for the
glXSwapBuffers of each swap. The classic SDL 1.2 makes none but the swap; sdl12-compat draws through
a framebuffer of its own, which it binds, clears and blits to the window around each swap, and it
clears and swaps once while setting the mode. The show's stream must be the same on both.

Frames are delimited by glXSwapBuffers. Every frame begins with the one clear, then the camera
(projection: glMatrixMode(GL_PROJECTION), glLoadIdentity, gluPerspective as the glMultMatrixd that GLU
issues; view: glMatrixMode(GL_MODELVIEW), glLoadIdentity, clear colour, fog, gluLookAt as
glMultMatrixf and glTranslated; path 3 then its own clear colour and fog), then glDisable(GL_BLEND),
then the scenes and overlays of the movement in the timeline's order. GLU calls themselves do not appear
in a trace. No glFlush or glFinish is ever issued. A readable excerpt of one frame of each movement
is kept under artefacts/e2e/apitrace/.
"""

import math
import re
import subprocess
import time

import numpy as np
import pytest

import harness as h

SPEED = 25
TRACED_MS = 100000  # demo time at which the run is ended with Escape: well into movement two
UNCHECKED = {"glVertex3f", "glNormal3f"}  # the bulk of the stream; their arguments are not read
LINE = re.compile(r"^(\d+) (\w+)\((.*)\)(?: = (.*?))?( // fake)?$")


def split_args(text):
    """Top-level comma-separated arguments; braces and quotes nest."""
    if "{" not in text and '"' not in text:
        return [a.strip() for a in text.split(",")] if text.strip() else []
    args, depth, cur, quoted = [], 0, "", False
    for ch in text:
        if ch == '"':
            quoted = not quoted
        elif not quoted and ch == "{":
            depth += 1
        elif not quoted and ch == "}":
            depth -= 1
        if ch == "," and depth == 0 and not quoted:
            args.append(cur.strip())
            cur = ""
        else:
            cur += ch
    if cur.strip():
        args.append(cur.strip())
    return args


def value(arg):
    if arg.startswith("{") and arg.endswith("}"):
        return [value(a) for a in split_args(arg[1:-1])]
    try:
        return float(arg)
    except ValueError:
        return arg


class Call:
    __slots__ = ("no", "name", "args")

    def __init__(self, no, name, args):
        self.no, self.name, self.args = no, name, args

    def is_(self, name, *args, tol=1e-5):
        """Name equal and the leading arguments equal (numbers to within tol)."""
        if self.name != name or len(self.args) < len(args):
            return False
        for got, want in zip(self.args, args):
            if want is None:
                continue
            if isinstance(want, (int, float)) and isinstance(got, float):
                if not math.isclose(got, want, rel_tol=tol, abs_tol=tol):
                    return False
            elif got != want:
                return False
        return True

    def __repr__(self):
        return f"{self.no} {self.name}({', '.join(map(str, self.args))})"


def read_trace(path):
    out = subprocess.run(["apitrace", "dump", "--multiline=no", "--arg-names=no", "--color=never",
                          str(path)], capture_output=True, text=True, check=True, timeout=300).stdout
    calls = []
    for line in out.splitlines():
        m = LINE.match(line)
        if not m or m.group(5):  # not a call, or one that apitrace made up
            continue
        name = m.group(2)
        args = [] if name in UNCHECKED else [value(a) for a in split_args(m.group(3))]
        calls.append(Call(int(m.group(1)), name, args))
    return calls


MARKER = "glStringMarkerGREMEDY"
FRAMEBUFFER_CALLS = {"glBindFramebuffer", "glBlitFramebuffer", "glGenFramebuffers",
                     "glFramebufferRenderbuffer", "glBindRenderbuffer"}


def split_sdl(calls):
    """(SDL's calls, the show's calls), from the markers the preload library puts around SDL's own
    GL work (E2E_GL_MARKERS). Each swap's glXSwapBuffers stays in the show's stream as well."""
    sdl, show = [], []
    inside, started = True, False  # setting the video mode comes first
    for c in calls:
        if c.name == MARKER:
            inside = c.args[1] == '"SDL begin"'
            started = True
            continue
        (sdl if inside else show).append(c)
        if inside and started and c.name == "glXSwapBuffers":
            show.append(c)
    assert started, "no markers in the trace"
    return sdl, show


def frames_of(calls):
    """The frames, each the calls from its glClear up to and including its glXSwapBuffers."""
    frames, current = [], []
    for c in calls:
        current.append(c)
        if c.name == "glXSwapBuffers":
            frames.append(current)
            current = []
    first = frames[0]
    clear = next(i for i, c in enumerate(first) if c.name == "glClear")
    frames[0] = first[clear:]
    return frames


def perspective(aspect, fovy=45.0, near=float(np.float32(0.1)), far=100.0):
    f = 1 / math.tan(math.radians(fovy) / 2)
    return [f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, (far + near) / (near - far), -1,
            0, 0, 2 * far * near / (near - far), 0]


@pytest.fixture(scope="module", params=h.programs())
def trace(request, tmp_path_factory):
    name = request.param
    tmp = tmp_path_factory.mktemp(name)
    workdir = h.make_workdir(tmp / "run", music="none", logo="asset")
    path = tmp / f"{name}.trace"
    w, hgt = h.MODES[name]
    with h.xvfb(w, hgt) as x:
        with h.Run(name, workdir, x, faketime=SPEED, env={"E2E_GL_MARKERS": "1"},
                   wrapper=("apitrace", "trace", "--output", str(path))) as run:
            # The preload library logs the start tick when the loop begins.
            h.wait_until(lambda: any(c.startswith("alkuaika ") for c in run.calls()) or not run.alive(),
                         60, what="the frame loop")
            time.sleep(TRACED_MS / SPEED / 1000)
            if run.alive():
                x.key("Escape")
            status = run.wait(60)
            assert status == 0, f"status {status}: {run.stdout()!r} {run.stderr()[-3000:]!r}"
    sdl, calls = split_sdl(read_trace(path))
    frames = frames_of(calls)
    yield {"name": name, "aspect": w / hgt, "calls": calls, "frames": frames, "sdl": sdl}


def camera_prefix(frame):
    """Checks the clear and the camera at the start of a frame; returns (path 3?, index after)."""
    names = [c.name for c in frame[:20]]
    assert frame[0].is_("glClear", "GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT") or \
        frame[0].is_("glClear", "GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT"), frame[0]
    assert frame[1].is_("glMatrixMode", "GL_PROJECTION"), names
    assert frame[2].is_("glLoadIdentity"), names
    assert frame[3].name == "glMultMatrixd", names  # gluPerspective
    assert frame[4].is_("glMatrixMode", "GL_MODELVIEW"), names
    assert frame[5].is_("glLoadIdentity"), names
    clear = frame[6]
    assert clear.name == "glClearColor" and clear.args[3] == 1.0, names
    assert frame[7].is_("glFogfv", "GL_FOG_COLOR") and frame[7].args[1] == clear.args, (frame[6], frame[7])
    assert frame[8].is_("glFogf", "GL_FOG_DENSITY", 0.35), names
    assert frame[9].is_("glHint", "GL_FOG_HINT", "GL_NICEST"), names
    assert frame[10].is_("glFogf", "GL_FOG_START", 1.0), names
    assert frame[11].is_("glFogf", "GL_FOG_END", 60.0), names
    assert frame[12].name == "glMultMatrixf" and frame[13].name == "glTranslated", names  # gluLookAt
    if frame[14].name == "glDisable":
        assert frame[14].is_("glDisable", "GL_BLEND"), names
        return False, 15
    assert frame[14].is_("glClearColor", 0.2, 0.05, 0.01, 1.0), names
    assert frame[15].is_("glFogfv", "GL_FOG_COLOR") and frame[15].args[1] == frame[14].args, names
    assert frame[16].is_("glFogf", "GL_FOG_START", 1.0), names
    assert frame[17].is_("glFogf", "GL_FOG_END", 30.0), names
    assert frame[18].is_("glDisable", "GL_BLEND"), names
    return True, 19


def indices(body, name, *args):
    return [i for i, c in enumerate(body) if c.is_(name, *args)]


def followed_by(body, i, name, *args):
    return i + 1 < len(body) and body[i + 1].is_(name, *args)


def check_movement_one(body, first):
    """kaupunki (two floors, the row, the arc, the towers), taivas (nothing), then the logo, the
    fade from black and the fade to black."""
    assert body[0].is_("glPushMatrix") and body[1].name == "glColor3f", body[:3]
    floors = indices(body, "glScalef", 62.5, 1.05, 62.5)  # the first box of each floor
    assert len(floors) == 2, floors
    second = [i for i in indices(body, "glTranslatef", 0, 0, -37.5) if followed_by(body, i, "glRotatef", 90, 0, 1, 0)]
    assert len(second) == 1 and floors[0] < second[0] < floors[1], (floors, second)
    row = indices(body, "glTranslatef", -40, 5, -30)
    assert len(row) == 1 and row[0] > floors[1]
    assert len(indices(body, "glScalef", 5, 5, 5)) == 10, "the row has ten places"
    arc = [i for i in indices(body, "glTranslatef", 0, 1, 0) if followed_by(body, i, "glRotatef", 0, 0, 0, 1)]
    assert len(arc) == 1 and arc[0] > row[0]
    # Orange-red through movement one (the arc's fade starts at bar 53); the very first frame may
    # pair a movement-one bar number with a later time (see below).
    assert body[arc[0] + 2].is_("glColor3f", 0.65, 0.05, 0) or first, body[arc[0]:arc[0] + 3]
    last_arc_box = [i for i in indices(body, "glTranslatef", 0, 1, 0) if followed_by(body, i, "glRotatef", 200, 0, 0, 1)]
    assert len(last_arc_box) == 1 and last_arc_box[0] > arc[0]
    arc_end = next(i for i in range(last_arc_box[0], len(body)) if body[i].name == "glPopMatrix")
    logo = indices(body, "glTranslatef", -0.225, 0.04, -0.3)
    assert len(logo) == 1 and logo[0] > arc_end
    logo_start = max(i for i in indices(body, "glEnable", "GL_TEXTURE_2D") if i < logo[0])
    # talot between the arc and the overlays: ten towers of four blocks each.
    towers = [c for c in body[arc_end + 1:logo_start] if c.name == "glBegin"]
    assert len(towers) == 40, len(towers)
    assert body[logo[0] + 1].is_("glRotatef", 180, 0, 1, 0) and body[logo[0] + 2].is_("glScalef", 0.23, 0.2, 0.2)
    fades = indices(body, "glTranslatef", 0, 0, -0.15)
    assert len(fades) == 2 and logo[0] < fades[0] < fades[1], fades
    # Each fade is black and one quad; the second fade is the last thing drawn.
    for i in fades:
        colour = [c for c in body[:i] if c.name == "glColor4f"][-1]
        assert colour.args[:3] == [0.0, 0.0, 0.0], colour
    assert [c.name for c in body[fades[1]:]].count("glBegin") == 1


def check_movement_two(body):
    """planebumps (100 boxes, every other one turned over), quadswarm (120 quads), floating_kaari,
    then the closing fade."""
    assert body[0].is_("glPushMatrix") and body[1].is_("glTranslatef", -10), body[:3]
    flips = indices(body, "glScalef", -1, -1, -1)
    assert len(flips) == 50, len(flips)
    swarm = [i for i in indices(body, "glDisable", "GL_LIGHTING") if followed_by(body, i, "glEnable", "GL_BLEND")]
    assert swarm and swarm[0] > flips[-1], (swarm[:1], flips[-1:])
    quads = indices(body, "glColor4f", 0.8, 0.7, 0.6)
    assert len(quads) == 120 and quads[0] > swarm[0]
    assert len(indices(body, "glRotatef", None, 0.2, 0.2, 0.3)) == 120
    end = indices(body, "glColor4f", 0.9, 0.1, 0.05, 1)
    assert len(end) == 1 and end[0] > quads[-1]
    assert body[end[0] + 1].is_("glEnable", "GL_LIGHTING")
    assert body[end[0] + 2].is_("glBlendFunc", "GL_SRC_ALPHA", "GL_ONE_MINUS_SRC_ALPHA")
    assert body[end[0] + 3].is_("glDisable", "GL_BLEND")
    arc = indices(body, "glTranslatef", 0, 4, -20)
    assert len(arc) == 1 and arc[0] > end[0]
    assert body[arc[0] + 1].is_("glRotatef", None, 0.9, 0.1, 0.2)
    assert body[arc[0] + 2].is_("glPushMatrix") and body[arc[0] + 3].is_("glTranslatef", 0, 1, 0)
    fades = indices(body, "glTranslatef", 0, 0, -0.15)
    assert len(fades) == 1 and fades[0] > arc[0]
    assert not indices(body, "glTranslatef", -0.225, 0.04, -0.3), "the logo in movement two"


def test_frames_are_delimited_by_the_swap_and_begin_with_clear_and_camera(trace):
    frames = trace["frames"]
    assert len(frames) >= 10, len(frames)
    expected = perspective(trace["aspect"])
    for n, frame in enumerate(frames):
        assert frame[-1].name == "glXSwapBuffers"
        assert [c.name for c in frame].count("glClear") == 1, n
        assert [c.name for c in frame].count("glXSwapBuffers") == 1, n
        camera_prefix(frame)
        got = frame[3].args[0]
        assert np.allclose(got, expected, rtol=1e-6, atol=1e-9), (n, got, expected)


def test_movement_one_then_movement_two_in_the_parts_order(trace):
    kinds = []
    excerpts = {}
    for n, frame in enumerate(trace["frames"]):
        path3, start = camera_prefix(frame)
        body = frame[start:-1]
        if path3:
            check_movement_two(body)
        else:
            check_movement_one(body, n == 0)
        kind = "two" if path3 else "one"
        kinds.append(kind)
        if n > 0 and kind not in excerpts:
            excerpts[kind] = frame
    # The very first frame takes its bar number from start-up's clock step, which the
    # sped-up clock can push past bar 0; from the second frame on the movements come in order.
    rest = kinds[1:]
    assert "one" in rest and "two" in rest, kinds
    switch = rest.index("two")
    assert rest[:switch] == ["one"] * switch and rest[switch:] == ["two"] * (len(rest) - switch), kinds
    art = h.artefacts_dir("apitrace")
    for kind, frame in excerpts.items():
        text = "\n".join(repr(c) for c in frame if c.name not in ("glVertex3f", "glNormal3f"))
        (art / f"{trace['name']}-movement-{kind}-frame.txt").write_text(text + "\n")


def test_no_flush_or_finish_and_double_buffered(trace):
    names = {c.name for c in trace["calls"]}
    assert "glFlush" not in names and "glFinish" not in names
    assert not names & FRAMEBUFFER_CALLS, "framebuffer work outside SDL"
    # SDL asked for a double-buffered visual.
    choose = [c for c in trace["sdl"] if c.name in ("glXChooseVisual", "glXChooseFBConfig")]
    assert choose and all("GLX_DOUBLEBUFFER" in str(c.args[2]) for c in choose), choose
    # The start-up's render state, in order, before the first frame.
    calls = trace["calls"]
    first_clear = next(i for i, c in enumerate(calls) if c.name == "glClear")
    startup = calls[:first_clear]
    wanted = [("glMatrixMode", "GL_PROJECTION"), ("glLoadIdentity",), ("glMultMatrixd",),
              ("glMatrixMode", "GL_MODELVIEW"), ("glLoadIdentity",), ("glShadeModel", "GL_SMOOTH"),
              ("glClearDepth", 1), ("glEnable", "GL_DEPTH_TEST"), ("glDepthFunc", "GL_LEQUAL"),
              ("glEnable", "GL_COLOR_MATERIAL"), ("glEnable", "GL_LIGHT1"), ("glEnable", "GL_LIGHTING"),
              ("glClearColor", 0.2, 0.1, 0.05, 1), ("glFogi", "GL_FOG_MODE", "GL_LINEAR"),
              ("glEnable", "GL_FOG"), ("glEnable", "GL_BLEND")]
    i = 0
    for c in startup:
        if i < len(wanted) and c.is_(*wanted[i]):
            i += 1
    assert i == len(wanted), f"start-up state missing from {wanted[i]} on"
