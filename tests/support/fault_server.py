#!/usr/bin/env python3
"""A small HTTP server for the broken responses that nginx will not give on purpose.

    fault_server.py --root FOLDER --port-file FILE [--log FILE] [--redirect-base URL]

Binds 127.0.0.1 on a free port and writes the port to FILE. The first path segment chooses the behaviour:
    /file/<name>              200 with Content-Length
    /nolength/<name>          200 without Content-Length, the end of the body is the end of the connection
    /short/<name>             announces the full Content-Length, sends half, closes
    /stall/<name>?after=N     announces the full length, sends N bytes (default: half), then waits until
                              the client goes away (or 120 s)
    /slow/<name>              the whole body with its length, 32 KiB every 50 ms: a download that lasts
    /chunked/<name>           Transfer-Encoding: chunked
    /status/<code>            an HTML error page with that status
    /redirect/<name>          302 to --redirect-base/<name> when given, else to /file/<name>
    /endless/<name>           the file without a length, then zeros until the client goes away (or 120 s)
    /loop/<name>              302 back to /loop/<name>, for ever
    /gzip/<name>              the file gzip-compressed, with Content-Encoding: gzip whatever the client asked
    /noanswer/<name>          reads the request and never answers (until the client goes away, or 120 s)
    /drip/<name>              announces the full length, then 1 KiB every 30 s
    /trickle/<name>           announces the full length, then 1 KiB every half second: slow, never stalled
    /ranged/<name>?validator=etag|modified&ranges=honour|ignore|refuse
                              the file with an ETag or only a Last-Modified date; a "Range: bytes=N-" is
                              answered with 206 and the rest while If-Range (if sent) matches, else 200 whole
                              (ranges=ignore: always 200 whole; refuse: 416). While <name>.cut holds a number
                              N, the body stops at byte N of the file and the connection closes. The bytes
                              of each body sent are appended, one line each, to <name>.sent.
Each request line is logged (one line, flushed) to --log or standard output, so tests can see what was asked.
"""
import argparse
import email.utils
import hashlib
import http.server
import re
import socket
import sys
import threading
import time
import urllib.parse
from pathlib import Path


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FaultServer/1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def log_request_line(self):
        with self.server.log_lock:
            self.server.log.write(self.requestline + "\n")
            self.server.log.flush()

    def body_of(self, name):
        root = self.server.root.resolve()
        path = (root / urllib.parse.unquote(name)).resolve()
        if root not in path.parents or not path.is_file():
            return None
        return path.read_bytes()

    def send_status_page(self, code):
        body = f"<html><body><h1>{code}</h1></body></html>\n".encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.close_connection = True

    def start_body(self, length=None, chunked=False, encoding=None):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if encoding:
            self.send_header("Content-Encoding", encoding)
        if length is not None:
            self.send_header("Content-Length", str(length))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        self.log_request_line()
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        kind, _, name = url.path.lstrip("/").partition("/")
        if kind == "status":
            self.send_status_page(int(name) if name.isdigit() else 500)
            return
        if kind == "redirect":
            base = self.server.redirect_base or f"http://127.0.0.1:{self.server.server_port}/file"
            self.send_response(302)
            self.send_header("Location", base.rstrip("/") + "/" + name)
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            return
        if kind == "noanswer":
            self.stall()
            self.close_connection = True
            return
        if kind == "ranged":
            self.send_ranged(name, query)
            return
        if kind == "loop":
            hop = int(query.get("hop", ["0"])[0]) + 1
            self.send_response(302)
            self.send_header("Location", f"/loop/{name}?hop={hop}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = self.body_of(name)
        if body is None or kind not in ("file", "nolength", "short", "stall", "slow", "chunked", "endless", "gzip", "drip",
                                                  "trickle"):
            self.send_status_page(404)
            return
        head_only = self.command == "HEAD"
        try:
            if kind == "file":
                self.start_body(len(body))
                if not head_only:
                    self.wfile.write(body)
            elif kind == "nolength":
                self.start_body()
                if not head_only:
                    self.wfile.write(body)
            elif kind == "short":
                self.start_body(len(body))
                if not head_only:
                    self.wfile.write(body[:len(body) // 2])
            elif kind == "chunked":
                self.start_body(chunked=True)
                if not head_only:
                    for at in range(0, len(body), 1000):
                        piece = body[at:at + 1000]
                        self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                    self.wfile.write(b"0\r\n\r\n")
            elif kind == "slow":
                self.start_body(len(body))
                if not head_only:
                    for at in range(0, len(body), 32768):
                        self.wfile.write(body[at:at + 32768])
                        self.wfile.flush()
                        time.sleep(0.05)
            elif kind == "gzip":
                import gzip
                packed = gzip.compress(body)
                self.start_body(len(packed), encoding="gzip")
                if not head_only:
                    self.wfile.write(packed)
            elif kind in ("drip", "trickle"):
                self.start_body(len(body))
                if not head_only:
                    for at in range(0, len(body), 1024):
                        self.wfile.write(body[at:at + 1024])
                        self.wfile.flush()
                        if self.server.stopping.wait(30 if kind == "drip" else 0.5):
                            break
            elif kind == "endless":
                self.start_body()
                if not head_only:
                    self.wfile.write(body)
                    zeros = bytes(65536)
                    deadline = time.monotonic() + 120
                    while time.monotonic() < deadline and not self.server.stopping.is_set():
                        self.wfile.write(zeros)
            elif kind == "stall":
                after = int(query.get("after", [str(len(body) // 2)])[0])
                self.start_body(len(body))
                if not head_only:
                    self.wfile.write(body[:after])
                    self.wfile.flush()
                    self.stall()
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass

    def send_ranged(self, name, query):
        body = self.body_of(name)
        if body is None:
            self.send_status_page(404)
            return
        path = self.server.root / urllib.parse.unquote(name)
        etag = '"%s"' % hashlib.sha256(body).hexdigest()[:16]
        modified = email.utils.formatdate(path.stat().st_mtime, usegmt=True)
        current = etag if query.get("validator", ["etag"])[0] == "etag" else modified
        ranges = query.get("ranges", ["honour"])[0]
        asked = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        start = int(asked.group(1)) if asked and ranges != "ignore" else 0
        if start and self.headers.get("If-Range", current) != current:
            start = 0
        if asked and ranges == "refuse" or start >= len(body) > 0:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{len(body)}")
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            return
        self.send_response(206 if start else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body) - start))
        if start:
            self.send_header("Content-Range", f"bytes {start}-{len(body) - 1}/{len(body)}")
        self.send_header("ETag" if current == etag else "Last-Modified", current)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        cut = path.with_name(path.name + ".cut")
        end = int(cut.read_text()) if cut.exists() else len(body)
        payload = body[start:max(start, end)]
        try:
            self.wfile.write(payload)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass
        with open(path.with_name(path.name + ".sent"), "a") as sent:
            sent.write(f"{self.command} {len(payload)}\n")

    def stall(self):
        """Holds the connection open until the client closes it, the server stops, or 120 s pass."""
        self.connection.settimeout(0.2)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and not self.server.stopping.is_set():
            try:
                if self.connection.recv(4096) == b"":
                    return
            except socket.timeout:
                continue
            except OSError:
                return


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, root, log, redirect_base):
        super().__init__(("127.0.0.1", 0), Handler)
        self.root = Path(root)
        self.log = log
        self.log_lock = threading.Lock()
        self.redirect_base = redirect_base
        self.stopping = threading.Event()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log")
    parser.add_argument("--redirect-base")
    options = parser.parse_args()
    log = open(options.log, "a", encoding="utf-8") if options.log else sys.stdout
    server = Server(options.root, log, options.redirect_base)
    # Written to a temporary name first, so a reader never sees a half-written port.
    port_file = Path(options.port_file)
    partial = port_file.with_name(port_file.name + ".part")
    partial.write_text(str(server.server_port))
    partial.replace(port_file)
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping.set()
        server.server_close()


if __name__ == "__main__":
    main()
