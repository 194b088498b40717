#!/usr/bin/python3
"""The show's benchmarks: frame rate per section, the program's overhead against a replay of its own
GL call stream, instructions per frame, start-up and peak memory, at both screen sizes.

Run through bench/run, which builds the programs and the probe first; see bench/run --help.

Every figure comes from the real program under a real Xvfb with Mesa's llvmpipe; the preload
probe (bench/probe.c) only takes timestamps. Other people share the machine, so every measurement
records the load average before and after it.
"""

import argparse
import os
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import time
from collections import Counter, defaultdict
from pathlib import Path

# The X server and the runs of the show are the tests' own.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from support import showrun  # noqa: E402
from support.showrun import LOGO, MUSIC  # noqa: E402
from support.standins import make_logo, make_music  # noqa: E402
from support.xserver import Xvfb  # noqa: E402
from report import CALLGRIND_GROUPS, report  # noqa: E402

BAR_MS = 4 * 483.8709716796875
END_OF_SHOW_MS = 129678
PROGRAMS = showrun.MODES
GLXTRACE_LIB = "/usr/lib/x86_64-linux-gnu/apitrace/wrappers/glxtrace.so"


def section_of_bar(bar):
    return 0 if bar < 20 else 1 if bar < 32 else 2


def load():
    return "%.2f" % os.getloadavg()[0]


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------------------------
# Runs of the program


class Bench:
    def __init__(self, build, work, data):
        self.build = Path(build)
        self.work = Path(work)
        self.data = Path(data)
        self.probe = self.build / "bench" / "probe.so"
        self.runs = 0

    def program(self, name):
        return self.build / name

    def workdir(self, tag):
        """A fresh working directory whose data/ is the show's data folder."""
        self.runs += 1
        d = self.work / f"{self.runs:03d}-{tag}"
        d.mkdir(parents=True)
        (d / "data").symlink_to(self.data.resolve())
        return d

    def run(self, name, x, tag, wrapper=(), preload=(), extra=None, speed=None, stop_after=None,
            first_swap=False, timeout=400):
        """Runs the program to its end (or SIGTERM after stop_after s, or right after its first
        buffer swap), behind the probe and the given preload libraries, its clock sped up `speed`
        times if given; returns (status, parsed probe log, working directory)."""
        d = self.workdir(tag)
        logpath = d / "probe.log"
        extra = dict(extra or {}, BENCH_LOG=str(logpath))
        marker = d / "first-swap"
        if first_swap:
            extra["BENCH_FIRST_SWAP"] = str(marker)
        preload = (*preload, self.probe) if self.probe not in preload else preload
        env = showrun.show_env(x, speed=speed, preload=preload, drop=("BENCH_", "TRACE_"),
                               extra=extra)
        with open(d / "stdout.txt", "wb") as out, open(d / "stderr.txt", "wb") as err:
            env["BENCH_EXEC_NS"] = str(time.monotonic_ns())
            proc = showrun.start([*wrapper, self.program(name)], cwd=d, env=env, stdout=out,
                                 stderr=err)
            try:
                deadline = time.monotonic() + timeout
                stop_at = time.monotonic() + stop_after if stop_after else None
                while proc.poll() is None:
                    now = time.monotonic()
                    if now > deadline:
                        raise RuntimeError(f"{name} still running after {timeout} s")
                    if (first_swap and marker.exists()) or (stop_at and now > stop_at):
                        # SIGTERM is the program's quit request; it goes to the program itself,
                        # not to a wrapper such as /usr/bin/time.
                        os.kill(program_pid(proc.pid), signal.SIGTERM)
                        proc.wait(60)
                        break
                    time.sleep(0.002 if first_swap else 0.05)
            finally:
                # Nothing of the run may outlive it: a left-over full-screen program would hold
                # the X server's grabs and stall the next run's start-up.
                showrun.end(proc)
        return proc.returncode, parse_probe_log(logpath), d


def program_pid(pid):
    """The program under a wrapper that forks it (/usr/bin/time); valgrind runs it in place."""
    try:
        children = Path(f"/proc/{pid}/task/{pid}/children").read_text().split()
    except OSError:
        return pid
    return int(children[0]) if children else pid


def parse_probe_log(path):
    r = {"phases": {}, "frames": [], "exec_ns": None, "loaded_ns": None, "alku_ns": None}
    if not path.exists():
        return r
    for line in path.read_text().splitlines():
        f = line.split()
        if f[0] == "exec_ns":
            r["exec_ns"] = int(f[1])
        elif f[0] == "loaded_ns":
            r["loaded_ns"] = int(f[1])
        elif f[0] == "phase":
            r["phases"].setdefault(f[1], (int(f[2]), int(f[3])))
        elif f[0] == "alkuaika":
            r["alku_ns"] = int(f[2])
        elif f[0] == "frame":
            r["frames"].append((int(f[1]), int(f[2]), int(f[3])))
        elif f[0] == "quit_ns":
            r["quit_ns"] = int(f[1])
    return r


def frame_sections(frames):
    """The section of each frame: from its bar number, which the clock step derives from the
    previous frame's demo time (the first frame's comes from start-up: bar 0)."""
    out = []
    prev = 0
    for aika, _, _ in frames:
        out.append(section_of_bar(int(prev / BAR_MS)))
        prev = aika
    return out


def section_rates(frames, durations=None):
    """Per section: frames, seconds, fps, median and 95th-percentile frame time (ms), from the
    intervals between buffer swaps, or from the given frame durations (ns). The first frame
    (first use of every GL state) is left out."""
    secs = frame_sections(frames)
    if durations is None:
        durations = [0] + [frames[i][1] - frames[i - 1][1] for i in range(1, len(frames))]
    per = defaultdict(list)
    for i in range(1, len(frames)):
        per[secs[i]].append(durations[i] / 1e6)
    per["all"] = [t for s in (0, 1, 2) for t in per.get(s, [])]
    out = {}
    for s, ts in per.items():
        if ts:
            ts_sorted = sorted(ts)
            out[s] = {"frames": len(ts), "seconds": sum(ts) / 1e3,
                      "fps": len(ts) / (sum(ts) / 1e3),
                      "median_ms": statistics.median(ts),
                      "p95_ms": ts_sorted[min(len(ts) - 1, int(0.95 * len(ts)))]}
    return out


# ---------------------------------------------------------------------------------------------
# Measurements


def measure_realtime(b, name, x, stop_after):
    """One real-time run under /usr/bin/time -v: frame rate per section and peak RSS."""
    before = load()
    timefile = b.work / f"time-{name}.txt"
    status, p, d = b.run(name, x, f"realtime-{name}",
                         wrapper=("/usr/bin/time", "-v", "-o", str(timefile)),
                         stop_after=stop_after)
    after = load()
    rss = None
    cpu = 0.0
    for line in timefile.read_text().splitlines():
        if "Maximum resident set size" in line:
            rss = int(line.split(":")[1])
        elif "User time (seconds)" in line or "System time (seconds)" in line:
            cpu += float(line.split(":")[1])
    first_ms = (p["frames"][0][1] - p["alku_ns"]) / 1e6 if p["frames"] else None
    return {"status": status, "rates": section_rates(p["frames"]), "rss_kb": rss,
            "cpu_ms_per_frame": 1000 * cpu / len(p["frames"]) if p["frames"] else None,
            "frames": p["frames"], "first_frame_ms": first_ms, "load": (before, after),
            "last_aika": p["frames"][-1][0] if p["frames"] else None,
            "stdout": (d / "stdout.txt").read_text(errors="replace")}


STARTUP_PARTS = (
    ("exec and dynamic loading", None),
    ("SDL_Init", "SDL_Init"),
    ("SDL_SetVideoMode", "SDL_SetVideoMode"),
    ("logo decode (IMG_LoadPNG_RW)", "IMG_LoadPNG_RW"),
    ("gluBuild2DMipmaps", "gluBuild2DMipmaps"),
    ("Mix_OpenAudio", "Mix_OpenAudio"),
    ("Mix_LoadMUS", "Mix_LoadMUS"),
    ("Mix_PlayMusic + Mix_SetMusicPosition", ("Mix_PlayMusic", "Mix_SetMusicPosition")),
    ("first frame (start tick to its swap)", None),
)


def startup_breakdown(p):
    if not p["frames"] or p["exec_ns"] is None:
        return None
    first = p["frames"][0][1]
    parts = {}
    parts["exec and dynamic loading"] = p["loaded_ns"] - p["exec_ns"]
    for label, key in STARTUP_PARTS[1:-1]:
        keys = key if isinstance(key, tuple) else (key,)
        parts[label] = sum(p["phases"][k][1] - p["phases"][k][0] for k in keys
                           if k in p["phases"])
    parts["first frame (start tick to its swap)"] = first - p["alku_ns"]
    total = first - p["exec_ns"]
    parts["everything else (render state, caption, events, ...)"] = total - sum(parts.values())
    parts["total: exec to first buffer swap"] = total
    return {k: v / 1e6 for k, v in parts.items()}


def measure_startup(b, name, x, n):
    before = load()
    samples = []
    for _ in range(n):
        status, p, _ = b.run(name, x, f"startup-{name}", first_swap=True, timeout=60)
        s = startup_breakdown(p)
        if status == 0 and s:
            samples.append(s)
        time.sleep(0.2)
    after = load()
    if not samples:
        return None
    keys = list(samples[0])
    return {"median": {k: statistics.median(s[k] for s in samples) for k in keys},
            "min_total": min(s["total: exec to first buffer swap"] for s in samples),
            "max_total": max(s["total: exec to first buffer swap"] for s in samples),
            "runs": len(samples), "load": (before, after)}


def children_cpu():
    ru = resource.getrusage(resource.RUSAGE_CHILDREN)
    return ru.ru_utime + ru.ru_stime


def glretrace(x, args, timeout=1800):
    """Runs glretrace; returns its result and the CPU seconds it used (all its threads)."""
    env = dict(os.environ, DISPLAY=x.display)
    env.pop("LD_PRELOAD", None)
    before = children_cpu()
    p = subprocess.run(["glretrace", *args], env=env, capture_output=True, text=True,
                       timeout=timeout)
    if p.returncode != 0:
        raise RuntimeError(f"glretrace {args} failed: {p.stderr[-2000:]}")
    return p, children_cpu() - before


def measure_replay(b, name, x, speed, realtime):
    """Traces a run (its clock sped up by `speed`: only the call stream matters here), replays the
    trace with glretrace --benchmark, and compares per section with the real-time run."""
    trace = b.work / f"{name}.trace"
    before = load()
    status, p, _ = b.run(name, x, f"trace-{name}", preload=[GLXTRACE_LIB, b.probe],
                         extra={"TRACE_FILE": str(trace)}, speed=speed)
    if status != 0 or not trace.exists():
        raise RuntimeError(f"traced run of {name} ended with {status}")
    replay_load = load()
    # One replay gives both the whole figure and one duration per frame, from glretrace's own
    # frame timer, which costs next to nothing (its per-call profiling would slow the replay
    # down several times). The durations add up to the replay's own total.
    out, replay_cpu = glretrace(x, ["--benchmark", "--pframes=opengl: CPU Duration", str(trace)])
    m = re.search(r"Rendered (\d+) frames in ([\d.]+) secs, average of ([\d.]+) fps",
                  out.stdout + out.stderr)
    bench_frames, bench_secs = int(m.group(1)), float(m.group(2))
    durations = [int(line.split()[1]) for line in out.stdout.splitlines()
                 if line.startswith("frame\t")]
    after = load()
    frames = p["frames"]
    if len(durations) < len(frames):
        log(f"  replay has {len(durations)} frames, the traced run swapped {len(frames)} times")
        frames = frames[:len(durations)]
    durations = durations[:len(frames)]
    replay = section_rates(frames, durations)
    timed_total = sum(durations) / 1e9
    # The program's frames, costed at the replay's rate of their own section.
    prog = realtime["rates"]
    matched = sum(prog[s]["frames"] / replay[s]["fps"] for s in (0, 1, 2)
                  if s in prog and s in replay)
    prog_secs = sum(prog[s]["seconds"] for s in (0, 1, 2) if s in prog and s in replay)
    return {"bench_fps": bench_frames / bench_secs, "bench_frames": bench_frames,
            "bench_secs": bench_secs, "replay": replay, "timed_total": timed_total,
            "cpu_ms_per_frame": 1000 * replay_cpu / bench_frames,
            "matched_ratio": matched / prog_secs if prog_secs else None,
            "trace_mb": trace.stat().st_size / 1e6, "speed": speed,
            "load": (before, replay_load, after)}


def callgrind_objects(path):
    """Self cost (Ir) per object of one callgrind dump, and the dump's trigger."""
    names = {}
    costs = Counter()
    ob = "?"
    trigger = None
    skip = False

    def resolve(field):
        field = field.strip()
        m = re.match(r"\((\d+)\)(?:\s+(.*))?$", field)
        if not m:
            return field
        if m.group(2):
            names[m.group(1)] = m.group(2)
        return names.get(m.group(1), field)

    with open(path, errors="replace") as f:
        for line in f:
            if skip:
                skip = False
                continue
            c = line[:1]
            if c.isdigit() or c in "+-*":
                parts = line.split()
                if len(parts) >= 2:
                    costs[ob] += int(parts[1])
            elif line.startswith("ob="):
                ob = resolve(line[3:])
            elif line.startswith("cob="):
                resolve(line[4:])
            elif line.startswith("calls="):
                skip = True
            elif line.startswith("desc: Trigger:"):
                trigger = line.split(":", 2)[2].strip()
    return trigger, costs


def object_group(obj, program):
    """Which of the report's CALLGRIND_GROUPS the instructions of object `obj` count in."""
    own, libm, glu, gl, mesa, jit, llvm, libc, sdl, other = CALLGRIND_GROUPS
    base = os.path.basename(obj)
    if base == program:
        return own
    if base.startswith(("libm.so", "libm-")):
        return libm
    if base.startswith("libGLU"):
        return glu
    if base.startswith(("libGL", "libglapi")):
        return gl
    if "dri" in base:
        return mesa
    if obj in ("???", "?"):
        return jit
    if base.startswith("libLLVM"):
        return llvm
    if base.startswith("libc.so"):
        return libc
    if base.startswith(("libSDL", "libX", "libxcb")):
        return sdl
    return other


def measure_callgrind(b, name, x, speed):
    out = b.work / f"callgrind-{name}"
    out.mkdir()
    before = load()
    status, p, _ = b.run(name, x, f"callgrind-{name}", speed=speed,
                         wrapper=("valgrind", "--tool=callgrind", "--quiet",
                                  f"--callgrind-out-file={out}/cg.out"), timeout=3600)
    after = load()
    # The first frame has a dump of its own (it compiles the driver's code for most states).
    nframes = Counter(frame_sections(p["frames"])[1:])
    result = {"status": status, "load": (before, after), "speed": speed, "sections": {}}
    for dump in sorted(out.glob("cg.out*")):
        trigger, costs = callgrind_objects(dump)
        label = (trigger or "").replace("Client Request: ", "")
        groups = Counter()
        for obj, ir in costs.items():
            groups[object_group(obj, name)] += ir
        sec = {"m1-before-bar20": 0, "m1-from-bar20": 1, "m2": 2}.get(label)
        if sec is not None and nframes.get(sec):
            result["sections"][sec] = {"frames": nframes[sec], "groups": groups,
                                       "total": sum(groups.values())}
    return result


def stand_in_data(data, out, missing):
    """A data folder with the show's files where they exist and stand-ins of the same kind where
    they do not: a 1024x1024 RGBA PNG and a 130 s stereo Ogg Vorbis file at 44100 Hz."""
    out.mkdir(parents=True)
    for name in (MUSIC, LOGO):
        if name not in missing:
            (out / name).symlink_to((data / name).resolve())
    if LOGO in missing:
        make_logo(out / LOGO)
    if MUSIC in missing:
        make_music(out / MUSIC, tones=((220.0, 130.0),))
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--data", required=True, help="folder holding the show's two data files")
    ap.add_argument("--out", required=True, help="markdown file for the results")
    ap.add_argument("--programs", default="vellamor,vellamor_600")
    ap.add_argument("--only", default="realtime,replay,callgrind,startup",
                    help="measurements to take (comma-separated)")
    ap.add_argument("--startup-runs", type=int, default=7)
    ap.add_argument("--trace-speed", type=int, default=4,
                    help="clock speed-up of the traced run (the replay's frame rate does not "
                    "depend on it; a faster clock gives a smaller trace)")
    ap.add_argument("--callgrind-speed", type=int, default=1)
    ap.add_argument("--stop-after", type=float, default=None,
                    help="end the real-time runs after this many seconds (a sample)")
    ap.add_argument("--keep", action="store_true", help="keep traces and logs")
    ap.add_argument("--command", nargs="*", default=["bench/run"])
    args = ap.parse_args()
    only = set(args.only.split(","))
    data = Path(args.data)
    missing = [f for f in (MUSIC, LOGO) if not (data / f).is_file()]
    data_note = ("Real assets." if not missing else
                 f"**{' and '.join('data/' + f for f in missing)} not made yet: stand-ins** "
                 "(a 1024x1024 RGBA PNG, a 130 s Ogg Vorbis tone): start-up figures are "
                 "not those of the real assets.")
    build = Path(args.build).resolve()
    work = build / "bench" / "work"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    if missing:
        data = stand_in_data(data, work / "data", missing)
    b = Bench(build, work, data)
    results = {}
    try:
        for name in args.programs.split(","):
            w, h = PROGRAMS[name]
            r = results[name] = {}
            with Xvfb(w, h) as x:
                if "realtime" in only or "replay" in only:
                    log(f"{name}: real-time run (load {load()})")
                    r["realtime"] = measure_realtime(b, name, x, args.stop_after)
                    log(f"  status {r['realtime']['status']}, "
                        f"{r['realtime']['rates'].get('all', {}).get('fps', 0):.1f} fps, "
                        f"RSS {r['realtime']['rss_kb']} kB, load {r['realtime']['load']}")
                if "replay" in only:
                    log(f"{name}: traced run and replays (load {load()})")
                    r["replay"] = measure_replay(b, name, x, args.trace_speed, r["realtime"])
                    log(f"  replay {r['replay']['bench_fps']:.1f} fps, matched ratio "
                        f"{r['replay']['matched_ratio']}")
                if "callgrind" in only:
                    log(f"{name}: callgrind run (load {load()})")
                    r["callgrind"] = measure_callgrind(b, name, x, args.callgrind_speed)
                if "startup" in only:
                    log(f"{name}: start-up runs (load {load()})")
                    r["startup"] = measure_startup(b, name, x, args.startup_runs)
    finally:
        text = report(results, args, data_note)
        Path(args.out).write_text(text + "\n")
        print(text)
        if not args.keep:
            for t in work.glob("*.trace"):
                t.unlink()


if __name__ == "__main__":
    main()
