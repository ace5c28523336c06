#!/usr/bin/python3
"""End-to-end: the gateway run by a real Apache httpd, in front of the sample backend.

    /usr/bin/python3 tests/apache/test_apache.py --gateway build/release/nph-zorerivi [-v]

Every case runs under both set-ups (event MPM with mod_cgid, prefork with mod_cgi), one
Apache per set-up shared by its cases. The browser is a raw socket, so that what Apache
hands back can be compared byte for byte. Must run as root (Apache runs CGI as www-data).
"""

import argparse
import contextlib
import hashlib
import json
import os
import socket
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.dirname(HERE), os.path.join(REPO, "scripts")]

import apache_site  # noqa: E402
from gateway_replies import (CGI_ERROR_REPLY, FORBIDDEN_REPLY, TARGET_NOT_REACHED,  # noqa: E402
                             TARGET_REACHED, local_reply)
import sample_backend  # noqa: E402

GATEWAY = os.path.join(REPO, "build", "release", "nph-zorerivi")
IO_TIMEOUT = 30  # seconds for one exchange with Apache or the backend


def html_reply(body):
    return local_reply(b"200 OK", b"text/html", body)


def exchange(port, head, body=b"", chunk_size=None):
    """Sends one request to 127.0.0.1:port and returns every byte received until the
    server closes. The body is sent from a second thread so that a server that answers
    before reading it all is seen as it is (and cannot deadlock us). With chunk_size the
    body goes in chunked transfer coding."""
    connection = socket.create_connection(("127.0.0.1", port), timeout=IO_TIMEOUT)

    def send_body():
        with contextlib.suppress(OSError):
            if chunk_size is None:
                connection.sendall(body)
                return
            for start in range(0, len(body), chunk_size):
                piece = body[start:start + chunk_size]
                connection.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
            connection.sendall(b"0\r\n\r\n")

    with connection:
        connection.sendall(head)
        sender = threading.Thread(target=send_body, daemon=True)
        sender.start()
        received = []
        deadline = time.monotonic() + IO_TIMEOUT
        try:
            while time.monotonic() < deadline:
                data = connection.recv(1 << 16)
                if not data:
                    break
                received.append(data)
        except (ConnectionResetError, TimeoutError):
            received.append(b"<<connection reset or timed out>>")
        sender.join(IO_TIMEOUT)
    return b"".join(received)


def request_head(method, target, port, headers=()):
    lines = [f"{method} {target} HTTP/1.1", f"Host: 127.0.0.1:{port}", "Connection: close",
             *headers]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def split_reply(reply):
    head, _, body = reply.partition(b"\r\n\r\n")
    return head, body


def shorten(data, limit=600):
    if len(data) <= limit:
        return repr(data)
    return f"{data[:limit]!r}... ({len(data)} bytes in all, sha256 {hashlib.sha256(data).hexdigest()[:16]})"


class ApacheCases:
    """The cases, run under each set-up by the subclasses below."""

    setup = None

    @classmethod
    def setUpClass(cls):
        cls.site = apache_site.ApacheSite(GATEWAY, cls.setup, cls.base_settings(),
                                          log_writable=True)
        try:
            cls.site.start()
        except BaseException:
            cls.site.remove()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.site.remove()

    @staticmethod
    def base_settings(**overrides):
        settings = {"TargetServer": "127.0.0.1", "TargetPort": BACKEND_PORT, "Timeout": 20,
                    "Forbidden": "/private", "Log": 1}
        settings.update(overrides)
        return settings

    @contextlib.contextmanager
    def settings(self, **overrides):
        """Changes settings for one case; the gateway reads them afresh per request."""
        self.site.write_settings(self.base_settings(**overrides))
        try:
            yield
        finally:
            self.site.write_settings(self.base_settings())

    # -- helpers --------------------------------------------------------------------------

    def through_apache(self, method, target, body=b"", headers=(), chunk_size=None):
        headers = list(headers)
        if body and chunk_size is None:
            headers.append(f"Content-Length: {len(body)}")
        if chunk_size is not None:
            headers.append("Transfer-Encoding: chunked")
        head = request_head(method, target, self.site.port, headers)
        reply = exchange(self.site.port, head, body, chunk_size)
        self.last_exchange = (head, body, reply)
        return reply

    def describe(self, expected=None):
        head, body, reply = self.last_exchange
        text = [f"set-up: {self.setup}", f"sent: {shorten(head)}"]
        if body:
            text.append(f"  with a body of {len(body)} bytes")
        text.append(f"received: {shorten(reply)}")
        if expected is not None:
            text.append(f"expected: {shorten(expected)}")
        text.append(f"Apache error log: {self.site.error_log}\n{self.site.error_log_text(10)}")
        return "\n".join(text)

    def assertReply(self, expected, reply):
        if reply != expected:
            self.fail(self.describe(expected))

    def echo(self, method, target, body=b"", chunk_size=None):
        """Sends to the backend's echo page through Apache; returns its report."""
        reply = self.through_apache(method, target, body, chunk_size=chunk_size)
        head, payload = split_reply(reply)
        try:
            if head.startswith(b"HTTP/1.0 200 OK\r\n"):
                return json.loads(payload)
        except ValueError:
            pass
        self.fail("no echo report\n" + self.describe())

    # -- the backend's reply goes back unchanged ------------------------------------------

    def test_backend_reply_passes_through_byte_for_byte(self):
        # "" is /app itself, without PATH_INFO: forwarded as "/".
        for method, path in [("GET", "/binary"), ("HEAD", "/binary"), ("GET", "/status/404"),
                             ("GET", "/bytes/3000000"), ("GET", "/bytes/3000000?nolength=1"),
                             ("HEAD", "/bytes/3000000?nolength=1"), ("GET", ""), ("GET", "/")]:
            with self.subTest(method=method, path=path):
                direct = exchange(BACKEND_PORT, request_head(method, path or "/", BACKEND_PORT))
                self.assertIn(b"\r\n\r\n", direct, "the backend itself did not answer")
                self.assertReply(direct, self.through_apache(method, "/app" + path))

    def test_binary_body_holds_nul_and_line_ends(self):
        # Guards the comparison above: the body really has the bytes that break text copies.
        _, body = split_reply(self.through_apache("GET", "/app/binary"))
        self.assertEqual(sample_backend.BINARY_BODY, body, self.describe())
        for piece in (b"\x00", b"\r\n", b"\n"):
            self.assertIn(piece, body)

    # -- the request reaches the backend correctly encoded --------------------------------

    def test_path_and_query_reach_backend_encoded(self):
        # Apache decodes the path before the gateway sees it; the gateway encodes it again.
        for target, expected in [
            ("/app/echo/a%20b", "/echo/a%20b"),
            ("/app/echo/caf%C3%A9", "/echo/caf%C3%A9"),
            ("/app/echo/caf%c3%a9", "/echo/caf%C3%A9"),
            ("/app/echo/x%0D%0AInjected:%201", "/echo/x%0D%0AInjected:%201"),
            ("/app/echo/a%3Fb%23c%25", "/echo/a%3Fb%23c%25"),
            ("/app/echo/%7Euser/a%2Bb", "/echo/~user/a+b"),
            ("/app/echo/-._~!$&'()*+,;=:@", "/echo/-._~!$&'()*+,;=:@"),
            ("/app/echo/%22%3C%3E%5C%5E%60%7B%7C%7D", "/echo/%22%3C%3E%5C%5E%60%7B%7C%7D"),
            ("/app/echo?a=1&b=%20x&c=%2F", "/echo?a=1&b=%20x&c=%2F"),
            ("/app/echo/caf\xc3\xa9", "/echo/caf%C3%A9"),
            # Apache refuses raw control bytes in the query; bytes above 0x7F pass.
            ("/app/echo?q=\"<caf\xc3\xa9>", "/echo?q=\"<caf%C3%A9>"),
            ("/app/echo?", "/echo"),
        ]:
            with self.subTest(target=target):
                report = self.echo("GET", target)
                self.assertEqual(expected, report["target"], self.describe())

    def test_request_names_backend_as_host(self):
        report = self.echo("GET", "/app/echo")
        self.assertIn(["Host", f"127.0.0.1:{BACKEND_PORT}"], report["headers"], self.describe())

    # -- request bodies -------------------------------------------------------------------

    def test_large_post_arrives_whole(self):
        body = os.urandom(5 * 1024 * 1024)
        report = self.echo("POST", "/app/echo/upload", body)
        self.assertEqual((len(body), len(body), hashlib.sha256(body).hexdigest()),
                         (report["declared_length"], report["body_length"], report["body_sha256"]),
                         self.describe())

    def test_chunked_post_arrives_with_content_length(self):
        body = os.urandom(700_001)
        report = self.echo("PUT", "/app/echo/chunked", body, chunk_size=65_000)
        names = [name.lower() for name, _ in report["headers"]]
        self.assertNotIn("transfer-encoding", names, self.describe())
        self.assertEqual((len(body), len(body), hashlib.sha256(body).hexdigest()),
                         (report["declared_length"], report["body_length"], report["body_sha256"]),
                         self.describe())

    # -- local replies --------------------------------------------------------------------

    def test_refused_path_gets_forbidden_reply(self):
        # A large unread body must not cost the reply (mod_cgid drops it otherwise).
        for method, target, body in [("GET", "/app/private", b""),
                                     ("GET", "/app/PRIVATE/page?x=1", b""),
                                     ("POST", "/app/private/upload", os.urandom(2 * 1024 * 1024))]:
            with self.subTest(method=method, target=target, body=len(body)):
                self.assertReply(FORBIDDEN_REPLY, self.through_apache(method, target, body))

    def test_stopped_backend_gets_cgi_error_reply(self):
        for method, body in [("GET", b""), ("POST", os.urandom(2 * 1024 * 1024))]:
            with self.subTest(method=method, body=len(body)), self.settings(TargetPort=STOPPED_PORT):
                self.assertReply(CGI_ERROR_REPLY, self.through_apache(method, "/app/page", body))

    # -- diagnostic pages -----------------------------------------------------------------

    def test_info_page_shows_version(self):
        reply = self.through_apache("GET", "/app/~~info")
        self.assertTrue(reply.startswith(b"HTTP/1.0 200 OK\r\n"), self.describe())
        self.assertIn(b"<B>Script name:</B> /app (6.8)<BR>", reply, self.describe())
        self.assertIn(b"<B>Gateway interface:</B> CGI/1.1<BR>", reply, self.describe())

    def test_target_page_reports_backend(self):
        for port, page in [(BACKEND_PORT, TARGET_REACHED), (STOPPED_PORT, TARGET_NOT_REACHED)]:
            with self.subTest(reached=page is TARGET_REACHED), self.settings(TargetPort=port):
                self.assertReply(html_reply(page), self.through_apache("GET", "/app/~~target"))

    def test_diagnostics_off_forwards_the_paths(self):
        with self.settings(Diagnostics=0):
            reply = self.through_apache("GET", "/app/~~info")
        self.assertIn(b"<code>/~~info</code>", reply, self.describe())

    # -- log ------------------------------------------------------------------------------

    def test_log_holds_trace_of_each_request(self):
        banner = r"------------------------ LOG ------------------------\n" \
                 r"(Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}\n"
        for target, port, trace in [
            ("/app/page", BACKEND_PORT, r"\tConnected\n\tData sent\nReply sent back to browser\n"),
            ("/app/~~info", BACKEND_PORT, ""),
            ("/app/page", STOPPED_PORT, r"Connection error: 111\n"),
        ]:
            with self.subTest(target=target, backend_up=port == BACKEND_PORT), \
                    self.settings(TargetPort=port):
                start = os.path.getsize(self.site.log_path) if os.path.exists(self.site.log_path) else 0
                self.through_apache("GET", target)
                with open(self.site.log_path, "rb") as log:
                    log.seek(start)
                    written = log.read().decode("latin-1")
                self.assertRegex(written, f"^{banner}{trace}$",
                                 f"log {self.site.log_path}\n" + self.describe())

    # -- concurrency ----------------------------------------------------------------------

    def test_parallel_requests_get_their_own_replies(self):
        sizes = [20_000 + 997 * index for index in range(50)]
        replies = {}

        def fetch(size):
            head = request_head("GET", f"/app/bytes/{size}", self.site.port)
            replies[size] = exchange(self.site.port, head)

        threads = [threading.Thread(target=fetch, args=(size,), daemon=True) for size in sizes]
        for thread in threads:
            thread.start()
        deadline = time.monotonic() + 2 * IO_TIMEOUT
        for thread in threads:
            thread.join(max(0.0, deadline - time.monotonic()))
        wrong = [size for size in sizes
                 if split_reply(replies.get(size, b""))[1] != sample_backend.deterministic_bytes(size)]
        if wrong:
            first = wrong[0]
            self.fail(f"set-up {self.setup}: {len(wrong)} of {len(sizes)} parallel GETs of "
                      f"/app/bytes/N got an incomplete or foreign reply, N = {wrong}\n"
                      f"GET /app/bytes/{first} received {shorten(replies.get(first, b''))}\n"
                      f"Apache error log: {self.site.error_log}\n{self.site.error_log_text(10)}")


class EventMpmWithCgid(ApacheCases, unittest.TestCase):
    setup = "cgid"


class PreforkMpmWithCgi(ApacheCases, unittest.TestCase):
    setup = "cgi"


BACKEND_PORT = STOPPED_PORT = None


def setUpModule():
    global BACKEND_PORT, STOPPED_PORT, _stop_backend
    # A backend that was started and stopped leaves a port where nothing listens.
    STOPPED_PORT, stop = sample_backend.start_backend()
    stop()
    BACKEND_PORT, _stop_backend = sample_backend.start_backend()


def tearDownModule():
    _stop_backend()


def main():
    global GATEWAY
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--gateway", default=GATEWAY)
    arguments, rest = parser.parse_known_args()
    GATEWAY = os.path.abspath(arguments.gateway)
    if not os.access(GATEWAY, os.X_OK):
        sys.exit(f"no gateway executable at {GATEWAY} (give --gateway PATH)")
    if os.geteuid() != 0:
        sys.exit("run as root: Apache starts as root and runs the gateway as www-data")
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False)
    result = program.result
    # A case fails once however many of its sub-cases failed.
    failed = {getattr(test, "test_case", test).id() for test, _ in result.failures + result.errors}
    passed = result.testsRun - len(result.skipped) - len(failed)
    print(f"apache: {max(passed, 0)} passed, {len(failed)} failed")
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
