#!/usr/bin/python3
"""The shot feed's overlay page in Debian's headless Chromium, driven over
the DevTools protocol: the page is loaded from a running bridge, a shot is
sent, and once the page shows it a screenshot is taken (transparent where
the page is).

  overlay_browser.py TALTRIX OUT.png     (what ./run screenshot runs)
"""

import asyncio
import base64
import json
import os
import shutil
import sys
import tempfile
import time
import urllib.request

import websockets

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from feed_peers import FeedBridge  # noqa: E402
from processes import Process  # noqa: E402

# Ids of the overlay's values, as the page names them.
VALUES = ("ball-speed", "launch-angle", "back-spin", "spin-axis", "club-speed", "smash-factor", "club")


class Chromium:
    """A headless Chromium of its own profile, with its DevTools port."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="taltrix-chromium-")
        self.browser = Process(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-extensions", "--hide-scrollbars", "--window-size=1280,300",
             "--remote-debugging-port=0", "--remote-debugging-address=127.0.0.1",
             f"--user-data-dir={self.profile}", "about:blank"], with_stderr=True)
        active = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 30
        while not (os.path.exists(active) and len(open(active).read().split()) >= 2):
            if self.browser.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("chromium did not open its DevTools port")
            time.sleep(0.05)
        self.port = int(open(active).read().split()[0])

    def page_socket(self):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list", timeout=10) as answer:
            pages = [t for t in json.load(answer) if t["type"] == "page"]
        return pages[0]["webSocketDebuggerUrl"]

    def stop(self):
        self.browser.stop()
        shutil.rmtree(self.profile, ignore_errors=True)


class DevTools:
    def __init__(self, ws):
        self.ws = ws
        self.next_id = 0

    async def call(self, method, **params):
        self.next_id += 1
        await self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(await asyncio.wait_for(self.ws.recv(), 30))
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message["result"]

    async def evaluate(self, expression):
        result = await self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result["result"].get("value")

    async def until(self, expression, timeout=20):
        """Waits for the expression to be true in the page; returns its last value."""
        deadline = time.monotonic() + timeout
        while True:
            value = await self.evaluate(expression)
            if value:
                return value
            if time.monotonic() > deadline:
                raise AssertionError(f"the page never made true: {expression}")
            await asyncio.sleep(0.05)


async def show_shot(chromium, page_url, send_shot, screenshot=None):
    """Loads the overlay, waits for it to follow the feed, sends a shot and
    returns the values the page shows once it changed."""
    async with websockets.connect(chromium.page_socket(), max_size=None) as ws:
        tools = DevTools(ws)
        await tools.call("Page.enable")
        await tools.call("Emulation.setDefaultBackgroundColorOverride", color={"r": 0, "g": 0, "b": 0, "a": 0})
        await tools.call("Page.navigate", url=page_url)
        await tools.until("document.getElementById('link') && document.getElementById('link').className === 'live'")
        before = await tools.evaluate("document.getElementById('ball-speed').textContent")
        send_shot()
        await tools.until(f"document.getElementById('ball-speed').textContent !== {json.dumps(before)}")
        values = await tools.evaluate(
            "(" + json.dumps(list(VALUES)) + ").reduce((o, id) => "
            "(o[id] = document.getElementById(id).textContent + "
            "((document.getElementById(id).nextElementSibling || {}).textContent || ''), o), {})")
        values["background"] = await tools.evaluate("getComputedStyle(document.body).backgroundColor")
        if screenshot:
            shot = await tools.call("Page.captureScreenshot", format="png")
            with open(screenshot, "wb") as f:
                f.write(base64.b64decode(shot["data"]))
        return values


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    os.environ["TALTRIX"] = sys.argv[1]
    bridge = FeedBridge()
    chromium = Chromium()
    try:
        values = asyncio.run(show_shot(chromium, bridge.url("/overlay"), lambda: bridge.shot(152.3), sys.argv[2]))
        print(f"{sys.argv[2]}: the overlay showing {values['ball-speed']}")
    finally:
        chromium.stop()
        bridge.stop()


if __name__ == "__main__":
    main()
