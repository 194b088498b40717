"""The benchmarks' report in Markdown: a summary table for the README, then one table per
measurement (frame rates by section, the program against the replay, instructions per frame by
object, start-up by part)."""

import os
import time

from support import showrun

PROGRAMS = showrun.MODES
SECTIONS = ("movement one, bars 0-19", "movement one, bars 20-31", "movement two, bars 32-66")
CALLGRIND_GROUPS = ("the program's own code", "libm", "GLU", "GL entry points (libGL, glapi)",
                    "Mesa: GL state, vertex pipeline, llvmpipe",
                    "llvmpipe's compiled shaders (JIT code)",
                    "LLVM: compiling shaders for new states", "libc (memcpy ...)",
                    "SDL, SDL_mixer, Xlib", "other")


def fmt(v, digits=1):
    return "–" if v is None else f"{v:,.{digits}f}"


def report(results, args, data_note):
    lines = []
    w = lines.append
    w(f"Measured {time.strftime('%Y-%m-%d %H:%M %Z')} on {os.cpu_count()} cores "
      f"({platform_note()}), Xvfb 24-bit screens of the program's own size, Mesa llvmpipe, "
      f"SDL_AUDIODRIVER=dummy. Command: `{' '.join(args.command)}`. {data_note}")
    w("Load is the 1-minute load average before/after each measurement (other people share the "
      "machine).")
    w("")
    names = [n for n in PROGRAMS if n in results]
    summary(results, names, w)
    if any("realtime" in results[n] for n in names):
        w("### Frame rate (real time, whole show, frames per second from the buffer swaps)")
        w("")
        w("| Section | " + " | ".join(f"`{n}` {PROGRAMS[n][0]}x{PROGRAMS[n][1]}" for n in names)
          + " |")
        w("|---|" + "---|" * len(names))
        for s, label in [(0, SECTIONS[0]), (1, SECTIONS[1]), (2, SECTIONS[2]),
                         ("all", "whole show")]:
            cells = []
            for n in names:
                r = results[n].get("realtime", {}).get("rates", {}).get(s)
                cells.append("–" if not r else
                             f"{r['fps']:.1f} fps (median {r['median_ms']:.1f} ms, "
                             f"p95 {r['p95_ms']:.1f} ms, {r['frames']} frames)")
            w(f"| {label} | " + " | ".join(cells) + " |")
        w("| first frame (ms after the start tick) | " + " | ".join(
            fmt(results[n].get("realtime", {}).get("first_frame_ms")) for n in names) + " |")
        w("| peak RSS, whole run (`/usr/bin/time -v`) | " + " | ".join(
            (f"{results[n]['realtime']['rss_kb'] / 1024:.1f} MiB"
             if results[n].get("realtime", {}).get("rss_kb") else "–") for n in names) + " |")
        w("| load before/after | " + " | ".join(
            "/".join(results[n].get("realtime", {}).get("load", ("–", "–"))) for n in names)
          + " |")
        w("")
    if any("replay" in results[n] for n in names):
        w("### The program against a replay of its own GL calls (`glretrace --benchmark`)")
        w("")
        w("Ratio = the program's frame rate / the replay's frame rate for the same section "
          "(1.0: the program adds nothing on top of the GL driver; aim ≥ 0.97).")
        w("")
        w("| Section | " + " | ".join(f"`{n}` program / replay" for n in names) + " |")
        w("|---|" + "---|" * len(names))
        for s, label in [(0, SECTIONS[0]), (1, SECTIONS[1]), (2, SECTIONS[2])]:
            cells = []
            for n in names:
                rt = results[n].get("realtime", {}).get("rates", {}).get(s)
                rp = results[n].get("replay", {}).get("replay", {}).get(s)
                cells.append("–" if not (rt and rp) else
                             f"{rt['fps']:.1f} / {rp['fps']:.1f} fps = **{rt['fps'] / rp['fps']:.3f}**")
            w(f"| {label} | " + " | ".join(cells) + " |")
        cells = []
        for n in names:
            rp = results[n].get("replay")
            cells.append("–" if not rp or rp["matched_ratio"] is None else
                         f"**{rp['matched_ratio']:.3f}**")
        w("| whole show (the program's frames costed at the replay's rate per section) | "
          + " | ".join(cells) + " |")
        cells = []
        for n in names:
            rp, rt = results[n].get("replay"), results[n].get("realtime", {}).get("rates", {})
            cells.append("–" if not rp else
                         f"{rp['bench_frames']} frames in {rp['bench_secs']:.2f} s = "
                         f"{rp['bench_fps']:.1f} fps; the timed replay's frames sum to "
                         f"{rp['timed_total']:.2f} s" +
                         (f" (program {rt['all']['fps']:.1f} fps)" if "all" in rt else ""))
        w("| plain `glretrace --benchmark` of the whole trace | " + " | ".join(cells) + " |")
        w("| CPU time per frame (all threads), program / replay | " + " | ".join(
            "–" if "replay" not in results[n] else
            f"{fmt(results[n]['realtime'].get('cpu_ms_per_frame'))} / "
            f"{fmt(results[n]['replay']['cpu_ms_per_frame'])} ms"
            for n in names) + " |")
        w("| trace (clock speed-up, size) | " + " | ".join(
            (f"x{results[n]['replay']['speed']}, {results[n]['replay']['trace_mb']:.0f} MB"
             if "replay" in results[n] else "–") for n in names) + " |")
        w("| load trace/replay/after | " + " | ".join(
            "/".join(results[n].get("replay", {}).get("load", ("–",) * 3)) for n in names) + " |")
        w("")
    if any("callgrind" in results[n] for n in names):
        w("### Instructions per frame (valgrind callgrind, self cost by object)")
        w("")
        for n in names:
            cg = results[n].get("callgrind")
            if not cg:
                continue
            w(f"`{n}` (clock x{cg['speed']} under valgrind, load {'/'.join(cg['load'])}):")
            w("")
            secs = [s for s in (0, 1, 2) if s in cg["sections"]]
            w("| Object | " + " | ".join(SECTIONS[s] for s in secs) + " |")
            w("|---|" + "---|" * len(secs))
            for g in CALLGRIND_GROUPS:
                cells = []
                for s in secs:
                    sec = cg["sections"][s]
                    ir = sec["groups"].get(g, 0) / sec["frames"]
                    cells.append(f"{ir / 1e6:,.2f} M ({100 * sec['groups'].get(g, 0) / sec['total']:.2f} %)")
                w(f"| {g} | " + " | ".join(cells) + " |")
            w("| whole frame | " + " | ".join(
                f"{cg['sections'][s]['total'] / cg['sections'][s]['frames'] / 1e6:,.2f} M "
                f"({cg['sections'][s]['frames']} frames)" for s in secs) + " |")
            cells = []
            for s in secs:
                sec = cg["sections"][s]
                steady = sec["total"] - sec["groups"].get(CALLGRIND_GROUPS[6], 0)
                own = sec["groups"].get(CALLGRIND_GROUPS[0], 0)
                cells.append(f"{steady / sec['frames'] / 1e6:,.2f} M; own code "
                             f"**{100 * own / steady:.2f} %**")
            w("| whole frame without shader compiling; the program's share | "
              + " | ".join(cells) + " |")
            w("")
    if any("startup" in results[n] for n in names):
        w("### Start-up: exec to the first buffer swap (median of the runs, ms)")
        w("")
        w("| Part | " + " | ".join(f"`{n}`" for n in names) + " |")
        w("|---|" + "---|" * len(names))
        keys = None
        for n in names:
            st = results[n].get("startup")
            if st:
                keys = list(st["median"])
        for k in keys or []:
            cells = []
            for n in names:
                st = results[n].get("startup")
                cells.append("–" if not st else
                             (f"**{st['median'][k]:.1f}** (min {st['min_total']:.1f}, "
                              f"max {st['max_total']:.1f})" if k.startswith("total")
                              else f"{st['median'][k]:.1f}"))
            w(f"| {k} | " + " | ".join(cells) + " |")
        w("| runs; load before/after | " + " | ".join(
            (f"{results[n]['startup']['runs']}; " + "/".join(results[n]["startup"]["load"]))
            if results[n].get("startup") else "–" for n in names) + " |")
        w("")
    return "\n".join(lines)


def summary(results, names, w):
    """One table of the headline figures, for the README."""
    rows = []

    def get(n, *path):
        v = results[n]
        for k in path:
            if not isinstance(v, dict) or k not in v:
                return None
            v = v[k]
        return v

    for s, label in enumerate(SECTIONS):
        rows.append((f"Frame rate, {label}", [
            None if get(n, "realtime", "rates", s) is None else
            f"{get(n, 'realtime', 'rates', s)['fps']:.1f} fps" for n in names], ""))
    rows.append(("Frame rate, program / `glretrace --benchmark` replay", [
        None if get(n, "replay", "matched_ratio") is None else
        f"{get(n, 'replay', 'matched_ratio'):.3f}" for n in names], "≥ 0.97"))
    cells = []
    for n in names:
        secs = get(n, "callgrind", "sections") or {}
        own = sum(sec["groups"].get(CALLGRIND_GROUPS[0], 0) for sec in secs.values())
        steady = sum(sec["total"] - sec["groups"].get(CALLGRIND_GROUPS[6], 0)
                     for sec in secs.values())
        frames = sum(sec["frames"] for sec in secs.values())
        cells.append(None if not frames else
                     f"{own / frames / 1e6:.2f} M of {steady / frames / 1e6:.0f} M "
                     f"({100 * own / steady:.2f} %)")
    rows.append(("Instructions per frame: the program's own code of the whole frame "
                 "(callgrind)", cells, ""))
    rows.append(("Start-up, exec to first buffer swap (median)", [
        None if get(n, "startup", "median") is None else
        f"{get(n, 'startup', 'median')['total: exec to first buffer swap']:.0f} ms"
        for n in names], "< 150 ms"))
    rows.append(("Peak memory (RSS) of a whole run", [
        None if get(n, "realtime", "rss_kb") is None else
        f"{get(n, 'realtime', 'rss_kb') / 1024:.0f} MiB" for n in names], ""))
    loads = []
    for n in names:
        ls = [float(v) for key in ("realtime", "replay", "callgrind", "startup")
              for v in (get(n, key, "load") or ()) if v not in ("–", None)]
        loads.append(None if not ls else f"{min(ls):.1f}–{max(ls):.1f}")
    rows.append(("Load average during the measurements", loads, "(2 cores)"))
    w("| Figure | " + " | ".join(f"`{n}` {PROGRAMS[n][0]}x{PROGRAMS[n][1]}" for n in names)
      + " | Aim |")
    w("|---|" + "---|" * len(names) + "---|")
    for label, cells, aim in rows:
        w(f"| {label} | " + " | ".join("–" if c is None else c for c in cells) + f" | {aim} |")
    w("")


def platform_note():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"
