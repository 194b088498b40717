"""The two data files are the same to the byte as the ones the project ships: a change to the
synthesizer or to the title card that alters a single sample or pixel shows here.

The digests were taken on Debian 12 (x86-64) with libvorbis 1.3.7 and cairo 1.16.0. Another
encoder or renderer writes other bytes for the same music or drawing, so each check is skipped,
saying why, where the library the tool loads is a different version."""

import ctypes
import hashlib
import platform

import pytest

SONG_SHA256 = "66df405c7564e972472f0ecb8308e22961406a93d098ae5717375ad764de10e2"
LOGO_SHA256 = "ba690a247d86dd696d3cfd83cd4bbfd373a07c88d9392d0df64ed2ae7d0f6e4c"
VORBIS_VERSION = "Xiph.Org libVorbis 1.3.7"
CAIRO_VERSION = "1.16.0"
MACHINE = "x86_64"  # the song's floating point, and the C library's maths functions


def library_version(soname, function):
    """The version string a shared library reports about itself, or why there is none."""
    try:
        lib = ctypes.CDLL(soname)
    except OSError as e:
        return f"not loadable ({e})"
    call = getattr(lib, function)
    call.restype = ctypes.c_char_p
    return call().decode()


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def test_song_digest(song):
    vorbis = library_version("libvorbis.so.0", "vorbis_version_string")
    if vorbis != VORBIS_VERSION:
        pytest.skip(f"the song's digest was taken with {VORBIS_VERSION}; this system has {vorbis}")
    if platform.machine() != MACHINE:
        pytest.skip(f"the song's digest was taken on {MACHINE}; this is {platform.machine()}")
    assert sha256(song) == SONG_SHA256, f"{song} differs from the shipped soundtrack"


def test_logo_digest(logo):
    cairo = library_version("libcairo.so.2", "cairo_version_string")
    if cairo != CAIRO_VERSION:
        pytest.skip(f"the logo's digest was taken with cairo {CAIRO_VERSION}; this system has {cairo}")
    assert sha256(logo) == LOGO_SHA256, f"{logo} differs from the shipped title card"
