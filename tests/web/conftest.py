"""Shared fixtures of the browser tests.

CTest sets the environment (tests/web/CMakeLists.txt): WEB_BUILD_DIR, the folder scripts/build-web
fills; CAPTURE_BIN, the native capture program whose stills are the reference; MKSONG_BIN, the
native song maker whose samples the page's must equal; WEB_ARTEFACTS,
where frames, differences and figures are kept for a person to look at. Without a browser build
the tests are skipped, unless VELLAMOR_WEB_REQUIRED is set (scripts/test sets it), when that
fails them.
"""

import os
from functools import partial

import pytest

import browser
from support import ctest_env


env_path = partial(ctest_env.env_path, area="browser")


@pytest.fixture(scope="session")
def web_build():
    folder = env_path("WEB_BUILD_DIR")
    if not (folder / "vellamor.html").is_file() or not (folder / "vellamor.wasm").is_file():
        message = f"no browser edition in {folder}: run scripts/build-web"
        if os.environ.get("VELLAMOR_WEB_REQUIRED"):
            pytest.fail(message)
        pytest.skip(message)
    return folder


@pytest.fixture(scope="session")
def artefacts():
    folder = env_path("WEB_ARTEFACTS")
    folder.mkdir(parents=True, exist_ok=True)
    return folder


@pytest.fixture(scope="session")
def served():
    """The paths the test server has sent, in order (tests clear it as they need)."""
    return []


@pytest.fixture(scope="session")
def site(web_build, served):
    with browser.serve(web_build, served) as url:
        yield url


@pytest.fixture(scope="session")
def chromium():
    with browser.Browser() as b:
        yield b


@pytest.fixture(scope="session")
def firefox():
    import firefox as driver
    with driver.Firefox() as f:
        yield f


@pytest.fixture(scope="session")
def capture_bin():
    return env_path("CAPTURE_BIN")


@pytest.fixture(scope="session")
def mksong_bin():
    return env_path("MKSONG_BIN")
