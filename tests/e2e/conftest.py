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
def screen_for(x720, x600):
    """The Xvfb whose screen has the program's own mode: screen_for('vellamor_600') is x600."""
    return lambda name: x600 if name == "vellamor_600" else x720
