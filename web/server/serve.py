#!/usr/bin/env python3
"""Serves the browser edition on 127.0.0.1: only the page's own files, the ones directly in the
folder with the page's kinds of name (.html, .js, .wasm), and nothing else of the folder
(no hidden build files, no listings, no other folders)."""

import argparse
import functools
import http.server
import sys
from pathlib import Path

TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".wasm": "application/wasm",  # browsers compile it while it downloads only with this type
}
PAGE = "vellamor.html"


def page_file(folder, path):
    """The file of the page that a request path names, or None."""
    name = path.split("?", 1)[0].split("#", 1)[0].lstrip("/")
    if not name or "/" in name or "\\" in name or name.startswith("."):
        return None
    file = Path(folder) / name
    if Path(name).suffix not in TYPES or not file.is_file():
        return None
    return file


class PageHandler(http.server.BaseHTTPRequestHandler):
    server_version = "vellamor"
    sys_version = ""

    def __init__(self, *args, folder, quiet=False, served=None, **kwargs):
        self.folder, self.quiet, self.served = folder, quiet, served
        super().__init__(*args, **kwargs)

    def do_GET(self):
        self.answer(body=True)

    def do_HEAD(self):
        self.answer(body=False)

    def answer(self, body):
        if self.path.split("?", 1)[0] == "/":
            self.send_response(302)
            self.send_header("Location", "/" + PAGE)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        file = page_file(self.folder, self.path)
        if file is None:
            self.send_error(404, "Not a file of this page")
            return
        data = file.read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", TYPES[file.suffix])
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        if body:
            self.wfile.write(data)
        if self.served is not None:
            self.served.append("/" + file.name)

    def log_message(self, format, *args):
        if not self.quiet:
            super().log_message(format, *args)


def make_server(folder, port, quiet=False, served=None):
    """The server; the names of the files it sends are appended to the list `served`, if given."""
    handler = functools.partial(PageHandler, folder=str(folder), quiet=quiet, served=served)
    return http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)


def port_number(text):
    if not text.isdigit() or not 1 <= int(text) <= 65535:
        raise ValueError(f"port '{text}' is not a port number (1 to 65535)")
    return int(text)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder", help="the folder scripts/build-web fills (build-web)")
    parser.add_argument("port", nargs="?", default="8000", help="the port (default 8000)")
    args = parser.parse_args(argv)
    try:
        port = port_number(args.port)
        if not (Path(args.folder) / PAGE).is_file():
            raise ValueError(f"no {PAGE} in {args.folder}: build the browser edition first")
        server = make_server(args.folder, port)
    except (ValueError, OSError) as error:
        reason = error.strerror if isinstance(error, OSError) and error.strerror else error
        where = "" if isinstance(error, ValueError) else f"cannot serve on 127.0.0.1:{args.port}: "
        print(f"serve: {where}{reason}", file=sys.stderr)
        return 2
    print(f"Serving the browser edition: open http://127.0.0.1:{port}/{PAGE} (Ctrl-C stops)",
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
