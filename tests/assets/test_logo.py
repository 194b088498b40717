"""The logo: a 1024x1024 8-bit RGBA PNG, its design in the red channel, black outside the
letters, and nothing bright outside the band of the texture that the show puts on screen."""

import struct
import subprocess

import numpy as np
import pytest
from PIL import Image

SIZE = 1024
# On screen at both 1280x720 and 1024x600: t from about 0.29 to 0.91, s from about 0.03 to 0.95.
BAND_T = (0.29, 0.91)
BAND_S = (0.03, 0.95)
BRIGHT = 8  # a channel value above this counts as lit


@pytest.fixture(scope="module")
def pixels(logo):
    with Image.open(logo) as im:
        assert im.mode == "RGBA"
        return np.asarray(im).copy()


def test_png_header(logo):
    data = logo.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    length, kind = struct.unpack(">I4s", data[8:16])
    assert kind == b"IHDR" and length == 13
    width, height, depth, colour_type, _comp, _filt, interlace = struct.unpack(">IIBBBBB", data[16:29])
    assert (width, height) == (SIZE, SIZE)
    assert depth == 8
    assert colour_type == 6, "RGBA"
    assert interlace == 0


def band_mask():
    rows = np.arange(SIZE)[:, None]
    cols = np.arange(SIZE)[None, :]
    return ((rows >= BAND_T[0] * SIZE) & (rows < BAND_T[1] * SIZE) &
            (cols >= BAND_S[0] * SIZE) & (cols < BAND_S[1] * SIZE))


def test_nothing_bright_outside_the_visible_band(pixels):
    rgb = pixels[:, :, :3].max(axis=2)
    outside = rgb[~band_mask()]
    print(f"brightest value outside the band: {outside.max()}")
    assert outside.max() <= BRIGHT


def test_the_design_is_in_the_red_channel(pixels):
    red = pixels[:, :, 0].astype(int)
    inside = band_mask()
    lit = red[inside] > 128
    share = lit.mean()
    rows, cols = np.nonzero(pixels[:, :, :3].max(axis=2) > BRIGHT)
    print(f"{share:.1%} of the band is bright red; lit area rows {rows.min()}-{rows.max()}, "
          f"columns {cols.min()}-{cols.max()}")
    assert share > 0.03, "the lettering shows in red"
    # Red carries the design: no lit pixel is brighter in green or blue than in red.
    rgb = pixels[:, :, :3].astype(int)
    assert (rgb[:, :, 1] <= rgb[:, :, 0]).all() and (rgb[:, :, 2] <= rgb[:, :, 0]).all()


def test_black_outside_the_letters(pixels):
    # Most of the card is pure black; the show blends the whole texture over the scene.
    black = (pixels[:, :, :3].max(axis=2) == 0).mean()
    print(f"{black:.1%} of the pixels are pure black")
    assert black > 0.8


def test_opaque(pixels):
    # The show drops the alpha channel; the file is opaque so it looks the same anywhere.
    assert (pixels[:, :, 3] == 255).all()


def test_mklogo_is_deterministic(mklogo, logo, tmp_path):
    out = tmp_path / "logo.png"
    r = subprocess.run([str(mklogo), str(out)], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert out.read_bytes() == logo.read_bytes(), "the built logo is what the current mklogo draws"
