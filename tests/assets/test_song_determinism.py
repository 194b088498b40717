"""The same source gives the same music: two runs of mksong decode to identical samples, equal to
the file the build made."""

import hashlib
import subprocess

from conftest import decode


def test_two_runs_give_the_same_pcm(mksong, ffmpeg, song, tmp_path):
    outs = [tmp_path / "a.ogg", tmp_path / "b.ogg"]
    procs = [subprocess.Popen([str(mksong), "--quiet", str(o)], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
             for o in outs]
    for p, o in zip(procs, outs):
        _out, err = p.communicate(timeout=100)
        assert p.returncode == 0, f"mksong {o} failed: {err.decode(errors='replace')}"
    digests = [hashlib.sha256(decode(ffmpeg, o).tobytes()).hexdigest() for o in outs]
    print("decoded PCM sha256:", *digests)
    assert digests[0] == digests[1]
    assert outs[0].read_bytes() == outs[1].read_bytes(), "the Ogg files themselves are identical too"
    built = hashlib.sha256(decode(ffmpeg, song).tobytes()).hexdigest()
    assert built == digests[0], "the built data file is what the current mksong makes"
