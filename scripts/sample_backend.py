#!/usr/bin/python3
"""A small HTTP/1.0 backend for trying and testing the gateway, on 127.0.0.1 only.

One request per connection; the connection closes after each reply. Pages:

  /echo...            (any method) 200 with a JSON description of the request as received:
                      method, raw target, header lines in order, body length and sha256.
                      HEAD gets the same headers without the body.
  /bytes/N            N deterministic binary bytes (see deterministic_bytes) with a
                      Content-Length; with ?nolength=1 without one, ended by the close.
  /binary             a fixed body holding NUL, CR LF and bare LF bytes (BINARY_BODY).
  /status/NNN         that status with a short text body.
  anything else       a small HTML page naming the path.

Replies carry no Date header, so two answers to the same request are byte-identical.

As a script:  sample_backend.py [--port 0] [--port-file FILE] [--quiet]
prints the port it listens on as its first line. As a module:
  port, stop = start_backend()   # serves in a thread on a kernel-chosen port
  ...; stop()
"""

import argparse
import hashlib
import html
import json
import os
import random
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BINARY_BODY = b"\x00start\r\nCR LF\nbare LF\r\n\r\nnot a header end\x00\xff\xfe\x80\r\x00end\n"
SERVER_NAME = "sample-backend/1.0"
_BYTES_LIMIT = 64 * 1024 * 1024


def deterministic_bytes(count):
    """The body of /bytes/COUNT: the same COUNT pseudo-random bytes on every call."""
    return random.Random(20240305).randbytes(count)


class _LineRecorder:
    """Wraps the request stream while the headers are parsed, keeping each raw line."""

    def __init__(self, stream):
        self.stream = stream
        self.lines = []

    def readline(self, *args):
        line = self.stream.readline(*args)
        self.lines.append(line)
        return line

    def __getattr__(self, name):
        return getattr(self.stream, name)


def _split_header_line(raw):
    text = raw.decode("latin-1").rstrip("\r\n")
    name, _, value = text.partition(":")
    return [name, value.strip(" \t")]


class BackendHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = SERVER_NAME
    sys_version = ""
    timeout = 30  # a request body that never arrives must not hold a thread for ever

    def parse_request(self):
        recorder = _LineRecorder(self.rfile)
        self.rfile = recorder
        try:
            return super().parse_request()
        finally:
            self.rfile = recorder.stream
            # The last line read is the empty line that ends the header.
            self.header_lines = [_split_header_line(line) for line in recorder.lines
                                 if line not in (b"\r\n", b"\n", b"")]

    def log_message(self, format, *args):
        if self.server.log_requests:
            super().log_message(format, *args)

    def _dispatch(self):
        # The target exactly as on the request line; self.path may have been tidied.
        words = self.requestline.split()
        self.raw_target = words[1] if len(words) > 1 else ""
        path = self.raw_target.split("?", 1)[0]
        if path.startswith("/echo"):
            self._echo()
        elif path.startswith("/bytes/"):
            self._bytes(path[len("/bytes/"):])
        elif path == "/binary":
            self._reply(200, BINARY_BODY, "application/octet-stream")
        elif path.startswith("/status/"):
            self._status(path[len("/status/"):])
        else:
            page = ("<html><head><title>Sample backend</title></head><body>"
                    f"<h1>Sample backend</h1><p>You asked for <code>{html.escape(path)}</code>"
                    "</p></body></html>\n")
            self._reply(200, page.encode(), "text/html")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_HEAD = _dispatch

    def _reply(self, code, body, content_type, with_length=True, extra_headers=()):
        self.log_request(code, len(body))
        self.send_response_only(code)
        self.send_header("Server", SERVER_NAME)
        self.send_header("Content-Type", content_type)
        if with_length:
            self.send_header("Content-Length", str(len(body)))
        for name, value in extra_headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.flush()
        if self.command == "HEAD":
            return
        # Written in pieces so that a long body reaches the gateway in many receives.
        for start in range(0, len(body), 65536):
            self.wfile.write(body[start:start + 65536])

    def _read_body(self):
        declared = self.headers.get("Content-Length")
        if declared is None:
            return b"", None
        expected = int(declared)
        chunks, received = [], 0
        try:
            while received < expected:
                chunk = self.rfile.read1(min(expected - received, 1 << 20))
                if not chunk:
                    break
                chunks.append(chunk)
                received += len(chunk)
        except (TimeoutError, ConnectionError):
            pass
        return b"".join(chunks), expected

    def _echo(self):
        try:
            body, declared = self._read_body()
        except ValueError:
            self._reply(400, b"bad Content-Length\n", "text/plain")
            return
        report = {
            "method": self.command,
            "target": self.raw_target,
            "headers": self.header_lines,
            "declared_length": declared,
            "body_length": len(body),
            "body_sha256": hashlib.sha256(body).hexdigest(),
        }
        self._reply(200, json.dumps(report, indent=1).encode() + b"\n", "application/json",
                    extra_headers=[("X-Echo-Method", self.command)])

    def _bytes(self, count_text):
        if not count_text.isdigit() or int(count_text) > _BYTES_LIMIT:
            self._reply(400, b"bad byte count\n", "text/plain")
            return
        with_length = "nolength=1" not in self.raw_target.partition("?")[2].split("&")
        self._reply(200, deterministic_bytes(int(count_text)), "application/octet-stream",
                    with_length=with_length)

    def _status(self, code_text):
        if not (code_text.isdigit() and 100 <= int(code_text) <= 599):
            self._reply(400, b"bad status\n", "text/plain")
            return
        code = int(code_text)
        body = b"" if code in (204, 304) or code < 200 else f"status {code}\n".encode()
        self._reply(code, body, "text/plain", with_length=bool(body))


class BackendServer(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128

    def __init__(self, port=0, log_requests=False):
        self.log_requests = log_requests
        super().__init__(("127.0.0.1", port), BackendHandler)

    @property
    def port(self):
        return self.server_address[1]


def start_backend(port=0, log_requests=False):
    """Serves in a background thread; returns (port, stop). stop() waits for the thread."""
    server = BackendServer(port, log_requests)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05},
                              name="sample-backend", daemon=True)
    thread.start()

    def stop():
        server.shutdown()
        server.server_close()
        thread.join(timeout=5)

    return server.port, stop


def main():
    parser = argparse.ArgumentParser(description="HTTP/1.0 sample backend on 127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 lets the kernel choose")
    parser.add_argument("--port-file", help="also write the port into this file")
    parser.add_argument("--quiet", action="store_true", help="do not log requests")
    arguments = parser.parse_args()
    try:
        server = BackendServer(arguments.port, not arguments.quiet)
    except OSError as error:
        sys.exit(f"sample backend: cannot listen on 127.0.0.1:{arguments.port}: {error}")
    if arguments.port_file:
        # Written whole under another name first, so a reader never sees half a line.
        partial = arguments.port_file + ".partial"
        with open(partial, "w") as port_file:
            port_file.write(f"{server.port}\n")
        os.replace(partial, arguments.port_file)
    print(server.port, flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
