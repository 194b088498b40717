"""A real Firefox (Debian's firefox-esr) driven over WebDriver BiDi with python3-websocket, with
the same page interface as browser.Page. Firefox draws WebGL only with a display, so it runs on
its own Xvfb (llvmpipe draws); its sound plays into a PulseAudio null sink of its own, without
which Firefox's audio never leaves the suspended state."""

import base64
import contextlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import websocket

from support.processes import die_with_parent, terminate
from support.xserver import Xvfb

import browser

PREFS = {
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.aboutwelcome.enabled": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "app.update.disabledForTesting": True,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "remote.prefs.recommended": True,
    "webgl.force-enabled": True,  # llvmpipe is a software driver, which Firefox would refuse
    # Full screen on a bare Xvfb (no window manager) at times held Firefox's answers for minutes;
    # the Chromium tests cover it.
    "full-screen-api.enabled": False,
}
KEYS = {"Escape": "\ue00c", " ": " "}


def firefox_path():
    for name in ("firefox-esr", "firefox"):
        path = shutil.which(name)
        if path:
            return path
    raise RuntimeError("no Firefox: install Debian's firefox-esr (scripts/deps does)")


class PulseAudio:
    """A PulseAudio server with one null sink, on a socket in a folder of its own."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="vellamor-pulse-")
        self.socket = os.path.join(self.folder, "native")
        env = dict(os.environ, HOME=self.folder, XDG_RUNTIME_DIR=self.folder)
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=false",
             "--log-target=stderr", "--log-level=error",
             "-L", "module-null-sink sink_name=null",
             "-L", f"module-native-protocol-unix socket={self.socket} auth-anonymous=1"],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, preexec_fn=die_with_parent(15))
        deadline = time.monotonic() + 20
        while not os.path.exists(self.socket):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("PulseAudio did not start its null sink")
            time.sleep(0.05)

    def env(self):
        return {"PULSE_SERVER": f"unix:{self.socket}"}

    def stop(self):
        terminate(self.proc)
        shutil.rmtree(self.folder, ignore_errors=True)


class Firefox:
    """One Firefox on its own Xvfb (and PulseAudio, unless `sound` is false)."""

    def __init__(self, sound=True):
        self.profile = tempfile.mkdtemp(prefix="vellamor-firefox-")
        self.xvfb = self.pulse = self.process = self.socket = None
        try:
            self._start(sound)
        except BaseException:
            self.close()
            raise

    def _start(self, sound):
        (Path(self.profile) / "user.js").write_text("".join(
            f"user_pref({json.dumps(k)}, {json.dumps(v)});\n" for k, v in PREFS.items()))
        self.xvfb = Xvfb(1920, 1080)
        env = dict(os.environ, **self.xvfb.env())
        env.pop("MOZ_HEADLESS", None)
        if sound:
            self.pulse = PulseAudio()
            env.update(self.pulse.env())
        self.log = open(Path(self.profile) / "firefox.log", "w+")
        self.process = subprocess.Popen(
            [firefox_path(), "--remote-debugging-port=0", "--no-remote", "--profile",
             self.profile, "about:blank"],
            env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            preexec_fn=die_with_parent(15))
        deadline = time.monotonic() + 60
        address = None
        while address is None:
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("Firefox did not start WebDriver BiDi: " + self._log_text())
            found = re.search(r"WebDriver BiDi listening on (ws://\S+)", self._log_text())
            address = found and found.group(1)
            time.sleep(0.1)
        self.socket = websocket.create_connection(f"{address}/session", suppress_origin=True,
                                                  timeout=120)
        self.next_id = 0
        self.events = []
        self.send("session.new", capabilities={})
        self.send("session.subscribe", events=["log.entryAdded"])

    def _log_text(self):
        self.log.seek(0)
        return self.log.read()

    def send(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get("id") == self.next_id:
                if reply.get("type") == "error" or "error" in reply:
                    raise browser.ProtocolError(f"{method}: {reply.get('error')}: "
                                                f"{reply.get('message')}")
                return reply.get("result", {})
            if reply.get("type") == "event":
                self.events.append(reply)

    def page(self, url, width=1280, height=720, ratio=1, preload=None):
        context = self.send("browsingContext.create", type="tab")["context"]
        page = FirefoxPage(self, context)
        page.set_size(width, height, ratio)
        if preload:
            self.send("script.addPreloadScript", functionDeclaration=f"() => {{ {preload} }}",
                      contexts=[context])
        page.navigate(url)
        return page

    def close(self):
        with contextlib.suppress(Exception):
            self.socket.close()
        if self.process:
            terminate(self.process)
            self.log.close()
        for server in (self.pulse, self.xvfb):
            if server:
                server.stop()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class FirefoxPage(browser.PageChecks):
    def __init__(self, firefox, context):
        self.browser, self.context = firefox, context

    def set_size(self, width, height, ratio=1):
        self.browser.send("browsingContext.setViewport", context=self.context,
                          viewport={"width": width, "height": height}, devicePixelRatio=ratio)

    def navigate(self, url):
        self.browser.send("browsingContext.navigate", context=self.context, url=url,
                          wait="interactive")

    def evaluate(self, expression, await_promise=False):
        # Values come back through JSON, as the DevTools protocol's returnByValue gives them.
        wrapped = (f"(async () => {{ const v = await ({expression}); "
                   f"return JSON.stringify(v === undefined ? null : v); }})()" if await_promise
                   else f"(() => {{ const v = ({expression}); "
                        f"return JSON.stringify(v === undefined ? null : v); }})()")
        reply = self.browser.send("script.evaluate", expression=wrapped, awaitPromise=True,
                                  target={"context": self.context}, resultOwnership="none")
        if reply.get("type") == "exception":
            raise browser.ProtocolError(f"{expression}: {reply['exceptionDetails'].get('text')}")
        value = reply["result"].get("value")
        return None if value is None else json.loads(value)

    def screenshot(self):
        data = self.browser.send("browsingContext.captureScreenshot", context=self.context)["data"]
        return base64.b64decode(data)

    def click(self, x, y, count=1):
        actions = [{"type": "pointerMove", "x": int(x), "y": int(y)}]
        for _ in range(count):
            actions += [{"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]
        self.browser.send("input.performActions", context=self.context, actions=[
            {"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
             "actions": actions}])

    def key(self, key, code=None, key_code=None):
        value = KEYS.get(key, key)
        self.browser.send("input.performActions", context=self.context, actions=[
            {"type": "key", "id": "keyboard",
             "actions": [{"type": "keyDown", "value": value}, {"type": "keyUp", "value": value}]}])

    def console(self):
        found = []
        for event in self.browser.events:
            params = event.get("params", {})
            if event.get("method") != "log.entryAdded":
                continue
            if params.get("source", {}).get("context") != self.context:
                continue
            level = params.get("level")
            if params.get("type") == "javascript":
                level = "exception"
            found.append((level, params.get("text")))
        return found

    def close(self):
        with contextlib.suppress(Exception):
            self.browser.send("browsingContext.close", context=self.context)
