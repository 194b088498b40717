"""The song the page makes is the native song maker's, sample for sample: the synthesizer's
module renders it under node as the page's worker does, and the SHA-256 of its samples equals
that of `mksong --pcm`. And what the server sends for a run holds no Ogg and stays small."""

import gzip
import hashlib
import json
import shutil
import subprocess
from pathlib import Path

import pytest

EDITION_LIMIT = 250_000  # bytes over the wire, gzipped


def node():
    path = shutil.which("nodejs") or shutil.which("node")
    if not path:
        pytest.fail("no node: Debian's emscripten brings nodejs (scripts/deps installs it)")
    return path


def test_page_renders_the_native_samples(web_build, mksong_bin):
    # Both at once: the machine has two cores. This emscripten's output wants node's built-in
    # fetch off.
    script = str(Path(__file__).with_name("song_digest.js"))
    browser_side = subprocess.Popen([node(), "--no-experimental-fetch", script, str(web_build)],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    native = subprocess.run([str(mksong_bin), "--pcm", "-"], capture_output=True, timeout=300)
    out, err = browser_side.communicate(timeout=300)
    assert native.returncode == 0, native.stderr.decode(errors="replace")
    assert browser_side.returncode == 0, err
    frames = len(native.stdout) // 8
    assert frames == 5_889_484, "133.548 s of stereo at 44.1 kHz"
    found = json.loads(out)
    print(f"node: {found}")
    assert found["frames"] == frames
    assert found["sha256"] == hashlib.sha256(native.stdout).hexdigest()


def test_what_is_served_holds_no_ogg_and_is_small(web_build):
    files = [f for f in web_build.iterdir() if f.is_file()]
    total = 0
    for f in files:
        data = f.read_bytes()
        assert b"OggS" not in data and b"vorbis" not in data, f"{f.name} carries Ogg Vorbis"
        total += len(gzip.compress(data, 9))
    print(f"{len(files)} files, {total} bytes gzipped")
    assert total <= EDITION_LIMIT
