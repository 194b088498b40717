"""Fixtures of the end-to-end tests: one Xvfb per screen size per test module."""

import pytest

import harness


@pytest.fixture(scope="module")
def x720():
    with harness.xvfb(1280, 720) as x:
        yield x


@pytest.fixture(scope="module")
def x600():
    with harness.xvfb(1024, 600) as x:
        yield x


@pytest.fixture
def screen_for(request):
    """The Xvfb whose screen has the program's own mode: screen_for('vellamor_600') is x600. A
    server is started only when a test first asks for it (a pass that runs `vellamor` alone needs
    no 1024x600 one)."""
    return lambda name: request.getfixturevalue("x600" if name == "vellamor_600" else "x720")
