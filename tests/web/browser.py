"""A real headless Chromium (Debian's, drawing WebGL with SwiftShader) driven over the DevTools
protocol with python3-websocket, and the page of the browser edition served on 127.0.0.1 by the
edition's own server (web/server/serve.py). Shared by the browser tests and the benchmarks;
firefox.py gives Firefox the same page interface (PageChecks)."""

import base64
import contextlib
import io
import json
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import websocket

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "web" / "server"))
import serve as page_server  # noqa: E402

CHROMIUM_FLAGS = [
    "--headless=new",
    "--use-angle=swiftshader",  # WebGL 2 on the CPU: no GPU on the test machines
    "--enable-unsafe-swiftshader",
    "--no-sandbox",  # the tests may run as root
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--mute-audio",
    "--remote-allow-origins=*",
    "--remote-debugging-port=0",
    "--window-size=1280,720",
]


def chromium_path():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    raise RuntimeError("no Chromium: install Debian's chromium (scripts/deps does)")


def page_files(folder):
    """The files of a built page: every file directly in the folder but hidden ones."""
    names = sorted(f.name for f in folder.iterdir() if f.is_file() and not f.name.startswith("."))
    assert {"vellamor.html", "page.js", "vellamor.js", "vellamor.wasm"} <= set(names)
    return names


@contextlib.contextmanager
def serve(folder, served=None):
    """The edition's server on a free port of 127.0.0.1, serving `folder`; yields the base URL.
    The path of every file it sends is appended to the list `served`, when given."""
    server = page_server.make_server(folder, 0, quiet=True, served=served)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}"
    finally:
        server.shutdown()
        server.server_close()


class ProtocolError(RuntimeError):
    pass


class Browser:
    """One Chromium process; `page()` opens a tab as a Page."""

    def __init__(self, extra_flags=()):
        self.profile = tempfile.mkdtemp(prefix="vellamor-chromium-")
        self.process = subprocess.Popen(
            [chromium_path(), *CHROMIUM_FLAGS, *extra_flags, f"--user-data-dir={self.profile}",
             "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = Path(self.profile) / "DevToolsActivePort"
        deadline = time.monotonic() + 30
        while not (port_file.exists() and len(port_file.read_text().split("\n")) >= 2):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                raise RuntimeError("Chromium did not start its DevTools endpoint")
            time.sleep(0.05)
        port, path = port_file.read_text().split("\n")[:2]
        self.socket = websocket.create_connection(f"ws://127.0.0.1:{port}{path}",
                                                  suppress_origin=True, timeout=120)
        self.next_id = 0
        self.events = []

    def send(self, method, session=None, **params):
        """Sends one command and waits for its answer, keeping the events that come between."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.socket.send(json.dumps(message))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise ProtocolError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def page(self, url, width=1280, height=720, ratio=1, preload=None):
        target = self.send("Target.createTarget", url="about:blank")["targetId"]
        session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        page = Page(self, session, target)
        for domain in ("Runtime", "Log", "Page"):
            page.send(f"{domain}.enable")
        page.set_size(width, height, ratio)
        if preload:
            page.send("Page.addScriptToEvaluateOnNewDocument", source=preload)
        page.send("Page.navigate", url=url)
        return page

    def close(self):
        with contextlib.suppress(Exception):
            self.socket.close()
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class PageChecks:
    """What both browsers' pages do alike, on top of their evaluate()."""

    def wait_for(self, expression, timeout=60, interval=0.05):
        """Polls a JavaScript expression until it is truthy; returns its value."""
        deadline = time.monotonic() + timeout
        while True:
            value = self.evaluate(expression)
            if value:
                return value
            if time.monotonic() > deadline:
                raise TimeoutError(f"{expression} still false after {timeout} s")
            time.sleep(interval)

    def state(self):
        return self.evaluate("document.body && document.body.dataset.state")

    def wait_state(self, *states, timeout=60):
        wanted = json.dumps(list(states))
        return self.wait_for(f"document.body && {wanted}.includes(document.body.dataset.state)"
                             " && document.body.dataset.state", timeout)

    def text(self, element_id):
        return self.evaluate(f"document.getElementById({json.dumps(element_id)}).textContent")

    def problems(self):
        """Console errors, warnings and exceptions."""
        return [(level, text) for level, text in self.console()
                if level in ("error", "warning", "warn", "exception", "assert")]


class Page(PageChecks):
    def __init__(self, browser, session, target):
        self.browser, self.session, self.target = browser, session, target

    def send(self, method, **params):
        return self.browser.send(method, session=self.session, **params)

    def set_size(self, width, height, ratio=1):
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=ratio, mobile=False)

    def evaluate(self, expression, await_promise=False):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=await_promise)
        if "exceptionDetails" in result:
            raise ProtocolError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self):
        """The page as shown, PNG bytes."""
        data = self.send("Page.captureScreenshot", format="png")["data"]
        return base64.b64decode(data)

    def click(self, x, y, count=1):
        self.send("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)
        for n in range(1, count + 1):
            for kind in ("mousePressed", "mouseReleased"):
                self.send("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                          clickCount=n)

    def key(self, key, code, key_code):
        for kind in ("keyDown", "keyUp"):
            self.send("Input.dispatchKeyEvent", type=kind, key=key, code=code,
                      windowsVirtualKeyCode=key_code, nativeVirtualKeyCode=key_code)

    def console(self):
        """The page's console messages and exceptions so far: (level, text) pairs."""
        found = []
        for event in self.browser.events:
            if event.get("sessionId") != self.session:
                continue
            method, params = event["method"], event.get("params", {})
            if method == "Runtime.consoleAPICalled":
                text = " ".join(str(a.get("value", a.get("description", "")))
                                for a in params.get("args", []))
                found.append((params.get("type"), text))
            elif method == "Log.entryAdded":
                entry = params["entry"]
                found.append((entry.get("level"), entry.get("text")))
            elif method == "Runtime.exceptionThrown":
                details = params["exceptionDetails"]
                found.append(("exception", details.get("exception", {}).get(
                    "description", details.get("text"))))
        return found

    def close(self):
        with contextlib.suppress(Exception):
            self.browser.send("Target.closeTarget", targetId=self.target)


def png_image(data):
    from PIL import Image
    return Image.open(io.BytesIO(data)).convert("RGB")
