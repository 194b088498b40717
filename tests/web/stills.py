"""The capture program's stills, the reference every frame the browsers show is held to: at most
0.1 % of the pixels may differ by more than 8 levels in a channel (edge pixels rasterised by
another renderer) and the mean difference must stay under one level."""

import subprocess

import numpy as np
from PIL import Image

import browser

MAX_FAR_OFF = 0.001  # share of pixels more than 8 levels off in some channel
MAX_MEAN = 1.0       # mean absolute difference, in levels


def native_still(capture_bin, folder, time, after=None, size=None):
    """`vellamor_capture still TIME [--after AFTER] [--size WxH]` as an array."""
    name = f"native-{time}" + (f"-after-{after}" if after is not None else "") + \
        (f"-{size}" if size else "")
    out = folder / f"{name}.png"
    command = [str(capture_bin), "still", str(time), "-o", str(out), "--force", "--quiet"]
    if after is not None:
        command += ["--after", str(after)]
    if size:
        command += ["--size", size]
    subprocess.run(command, check=True, timeout=120)
    return np.asarray(Image.open(out).convert("RGB"), dtype=np.int16)


def shown(page):
    """The page as shown, as an array. A frame drawn in this task reaches the screen at the
    browser's next paint: until then Firefox's screenshot is of the frame before it (after a
    resize, that frame scaled), so the picture is taken after two animation frames."""
    page.evaluate("new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)))",
                  await_promise=True)
    return np.asarray(browser.png_image(page.screenshot()), dtype=np.int16)


def compare(web, native):
    assert web.shape == native.shape, f"frame of {web.shape} against {native.shape}"
    diff = np.abs(web.astype(np.int16) - native)
    far = int((diff.max(axis=2) > 8).sum())
    pixels = diff.shape[0] * diff.shape[1]
    return {"far_off_pixels": far, "far_off_share": far / pixels,
            "mean_abs_diff": float(diff.mean()), "max_diff": int(diff.max())}


def within(result):
    return result["far_off_share"] <= MAX_FAR_OFF and result["mean_abs_diff"] < MAX_MEAN


def save(array, path):
    Image.fromarray(array.astype(np.uint8)).save(path)
