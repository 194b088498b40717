"""What the browser edition's server gives out, and how its launcher takes a port: only the page's
own files (no build files, no listings, nothing outside the folder), no path of the machine that
built them in any of them, and one clear line for a bad port."""

import http.client
import subprocess
from pathlib import Path

import pytest

import browser
from browser import page_files

ROOT = Path(__file__).resolve().parents[2]


def get(site, path):
    host, port = site.removeprefix("http://").split(":")
    connection = http.client.HTTPConnection(host, int(port), timeout=30)
    connection.request("GET", path)
    response = connection.getresponse()
    return response.status, dict(response.getheaders()), response.read()


def test_only_the_pages_files_are_served(site, web_build):
    for name in page_files(web_build):
        status, headers, body = get(site, f"/{name}")
        assert status == 200 and body == (web_build / name).read_bytes(), name
    assert get(site, "/vellamor.wasm")[1]["Content-Type"] == "application/wasm"
    assert get(site, "/")[0] == 302 and get(site, "/")[1]["Location"] == "/vellamor.html"
    assert (web_build / ".cmake" / "CMakeCache.txt").is_file()
    for path in ["/.cmake/CMakeCache.txt", "/.cmake/", "/.cmake", "/CMakeCache.txt",
                 "/%2Ecmake/CMakeCache.txt", "/../README.md", "/..%2fREADME.md", "/?C=M;O=D",
                 "/vellamor.html/", "/.cmake/configure.log"]:
        status, _, body = get(site, path)
        assert status in (302, 404), f"{path} gave {status}"
        assert b"CMake" not in body and b"Directory listing" not in body, path


def test_no_path_of_the_building_machine_in_the_served_files(web_build):
    folders = {str(web_build.resolve()), str(ROOT)}
    for name in page_files(web_build):
        data = (web_build / name).read_bytes()
        for folder in folders:
            assert folder.encode() not in data, f"{name} holds {folder}"


@pytest.mark.parametrize("port", ["99999", "abc", "-1", "0"])
def test_the_launcher_refuses_a_bad_port(port):
    run = subprocess.run([str(ROOT / "scripts" / "play"), "web", port], capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 2
    assert run.stdout == ""
    assert run.stderr == f"scripts/play: port '{port}' is not a port number (1 to 65535)\n"


def test_the_server_says_why_it_cannot_serve(web_build, site):
    busy = site.rsplit(":", 1)[1]
    for args, words in [([str(web_build), busy], f"cannot serve on 127.0.0.1:{busy}: "),
                        ([str(web_build), "70000"], "is not a port number"),
                        ([str(web_build / ".cmake"), "65000"], "no vellamor.html")]:
        run = subprocess.run(["/usr/bin/python3", str(ROOT / "web" / "server" / "serve.py"),
                              *args], capture_output=True, text=True, timeout=30)
        assert run.returncode == 2 and words in run.stderr and "Traceback" not in run.stderr
        assert run.stderr.count("\n") == 1, run.stderr
    assert browser  # the tests' server is this one (browser.serve)
