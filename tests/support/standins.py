"""Stand-ins for the show's data files where they have not been made: files of the same kind, so
that a run goes through the same start-up."""

import subprocess
from pathlib import Path


def make_logo(path):
    """A stand-in logo: a 1024x1024 RGBA PNG, white letters-like bars on transparent black."""
    import numpy as np
    from PIL import Image
    a = np.zeros((1024, 1024, 4), np.uint8)
    a[300:900, 100:920, :] = 255
    a[450:750, 250:770, :3] = 40
    Image.fromarray(a, "RGBA").save(path)
    return path


def make_music(path, tones=((440.0, 20.0),)):
    """An Ogg Vorbis file of sine tones, (frequency, seconds) one after another, at 44100 Hz in
    stereo, made with sox."""
    path = Path(path)
    parts = []
    for i, (frequency, seconds) in enumerate(tones):
        part = path.with_name(f"{path.stem}-part{i}.wav")
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", str(part), "synth",
                        str(seconds), "sine", str(frequency), "vol", "0.5"],
                       check=True, capture_output=True, timeout=120)
        parts.append(str(part))
    subprocess.run(["sox", *parts, "-C", "3", str(path)], check=True, capture_output=True,
                   timeout=300)
    for part in parts:
        Path(part).unlink()
    return path
