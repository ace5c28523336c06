#!/usr/bin/python3
"""The built gateway run exactly as a web server runs a CGI program: a clean environment
with the CGI variables, the body on standard input, the settings file beside a copy of the
executable, and a scripted backend on 127.0.0.1. Checks the bytes on standard output and
the bytes the backend received.

    cgi_test.py --gateway build/default/nph-zorerivi [--wine]
"""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from gateway_replies import CGI_ERROR_REPLY as ERROR_REPLY, FORBIDDEN_REPLY  # noqa: E402

GATEWAY = None
LAUNCHER = []  # the command that runs the executable (empty: run it directly)
ON_WINE = False

BINARY_REPLY = (b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 12\r\n\r\n"
                b"\x00a\r\nb\nc\r\n\x00\xff\n")


class ScriptedBackend:
    """Accepts one connection on 127.0.0.1, reads the request (header and Content-Length
    body), then sends the script's pieces (bytes, or a float for a pause in seconds) and
    closes, or stays silent for `hold` seconds."""

    def __init__(self, script=(), hold=0.0, address="127.0.0.1"):
        self.script = list(script)
        self.hold = hold
        self.received = b""
        self.listener = socket.socket()
        self.listener.bind((address, 0))
        self.listener.listen(4)
        self.listener.settimeout(20)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        try:
            connection, _ = self.listener.accept()
        except OSError:
            return
        with connection:
            connection.settimeout(20)
            self.received = self._read_request(connection)
            for piece in self.script:
                if isinstance(piece, float):
                    time.sleep(piece)
                else:
                    connection.sendall(piece)
            if self.hold:
                connection.settimeout(self.hold)
                try:
                    while connection.recv(4096):
                        pass
                except OSError:
                    pass

    @staticmethod
    def _read_request(connection):
        data = b""
        while True:
            end = data.find(b"\r\n\r\n")
            if end >= 0:
                match = re.search(rb"\r\nContent-Length: (\d+)\r\n", data[:end + 2])
                if len(data) >= end + 4 + (int(match.group(1)) if match else 0):
                    return data
            try:
                piece = connection.recv(1 << 16)
            except OSError:
                return data
            if not piece:
                return data
            data += piece

    def request(self):
        self.thread.join(30)
        self.listener.close()
        return self.received

    def close(self):
        """Stops waiting for a connection that is not going to come."""
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.thread.join(30)


def closed_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Install:
    """A copy of the gateway in a folder of its own, with its settings file beside it."""

    def __init__(self, settings="", folder_name="cgi-bin"):
        self.top = tempfile.mkdtemp(prefix="zorerivi-e2e-")
        self.folder = os.path.join(self.top, folder_name)
        os.makedirs(self.folder)
        self.executable = os.path.join(self.folder, os.path.basename(GATEWAY))
        shutil.copy2(GATEWAY, self.executable)
        stem = os.path.splitext(self.executable)[0] if ON_WINE else self.executable
        self.settings_path = stem + ".ini"
        self.log_path = stem + ".txt"
        with open(self.settings_path, "w", newline="\r\n" if ON_WINE else "\n") as out:
            out.write("[Forward]\n" + settings)

    @staticmethod
    def environment(variables):
        """A web server's clean environment: the CGI variables (and what Wine needs)."""
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        environment.update({k: v for k, v in os.environ.items() if k.startswith("WINE")})
        environment.update(variables)
        return environment

    def run(self, variables, body=b"", wrapper=()):
        completed = subprocess.run(list(wrapper) + LAUNCHER + [self.executable], input=body,
                                   env=self.environment(variables), capture_output=True, timeout=60)
        return completed.stdout, completed.returncode

    def log(self):
        """The log with its line ends as "\\n": CR LF on Windows, where no bare LF may remain."""
        with open(self.log_path, "rb") as log_file:
            text = log_file.read()
        if ON_WINE:
            if b"\n" in text.replace(b"\r\n", b""):
                raise AssertionError("bare LF in a Windows log: %r" % text)
            text = text.replace(b"\r\n", b"\n")
        return text

    def remove(self):
        shutil.rmtree(self.top, ignore_errors=True)


class GatewayTest(unittest.TestCase):
    def backend(self, script=(), hold=0.0, address="127.0.0.1"):
        backend = ScriptedBackend(script, hold, address)
        self.addCleanup(backend.close)
        return backend

    def install(self, settings="", **options):
        install = Install(settings, **options)
        self.addCleanup(install.remove)
        return install

    def forward(self, variables, script, body=b"", settings="", hold=0.0):
        backend = self.backend(script, hold)
        install = self.install("TargetPort=%d\n%s" % (backend.port, settings))
        output, status = install.run(variables, body)
        self.assertEqual(status, 0)
        return output, backend.request(), backend.port

    def assertBytes(self, actual, expected, what):
        if actual != expected:
            self.fail("%s differ:\n got      %r\n expected %r" % (what, actual[:2000], expected[:2000]))


class ForwardingTest(GatewayTest):
    def test_request_rebuilt_and_reply_copied_byte_for_byte(self):
        output, request, port = self.forward(
            {"REQUEST_METHOD": "GET", "PATH_INFO": "/a/b", "QUERY_STRING": "x=1", "HTTP_ACCEPT": "*/*",
             "HTTP_X_ANYTHING": "not forwarded", "SERVER_NAME": "client.example"},
            [BINARY_REPLY[:30], 0.05, BINARY_REPLY[30:]])
        self.assertBytes(request, b"GET /a/b?x=1 HTTP/1.0\r\nAccept: */*\r\nHost: 127.0.0.1:%d\r\n\r\n" % port,
                         "request")
        self.assertBytes(output, BINARY_REPLY, "reply")

    def test_decoded_path_is_encoded_again(self):
        _, request, _ = self.forward(
            {"REQUEST_METHOD": "GET", "PATH_INFO": "/a b/caf\u00e9/%3F\r\nX: y",
             "QUERY_STRING": "q=a b&r=%41"}, [BINARY_REPLY])
        # Wine hands the environment over in code page 1252, where the é is one byte.
        cafe = b"caf%E9" if ON_WINE else b"caf%C3%A9"
        self.assertTrue(request.startswith(b"GET /a%20b/" + cafe + b"/%253F%0D%0AX:%20y?q=a%20b&r=%41 HTTP/1.0\r\n"),
                        request)

    def test_large_post_body_arrives_whole(self):
        body = os.urandom(3 * 1024 * 1024)
        output, request, port = self.forward(
            {"REQUEST_METHOD": "POST", "CONTENT_LENGTH": str(len(body)), "CONTENT_TYPE": "application/x-test"},
            [BINARY_REPLY], body)
        head = b"POST / HTTP/1.0\r\nContent-Length: %d\r\nContent-Type: application/x-test\r\n" \
               b"Host: 127.0.0.1:%d\r\n\r\n" % (len(body), port)
        self.assertBytes(request[:len(head)], head, "request header")
        self.assertTrue(request[len(head):] == body, "body differs (%d bytes arrived)" % (len(request) - len(head)))
        self.assertBytes(output, BINARY_REPLY, "reply")

    def test_chunked_upload_gets_its_real_length(self):
        body = b"de-chunked by the web server\n" * 1000
        _, request, port = self.forward(
            {"REQUEST_METHOD": "PUT", "HTTP_TRANSFER_ENCODING": "chunked"}, [BINARY_REPLY], body)
        self.assertBytes(request, b"PUT / HTTP/1.0\r\nContent-Length: %d\r\nHost: 127.0.0.1:%d\r\n\r\n%s"
                         % (len(body), port, body), "request")

    def test_body_shorter_than_announced_is_not_forwarded(self):
        backend = self.backend([BINARY_REPLY])
        install = self.install("TargetPort=%d\n" % backend.port)
        output, status = install.run({"REQUEST_METHOD": "POST", "CONTENT_LENGTH": "100"}, b"only this")
        self.assertEqual((output, status), (ERROR_REPLY, 0))

    def test_reply_framing(self):
        big = bytes(range(256)) * 12000
        cases = [
            # (script, expected output)
            ([b"HTTP/1.0 200 OK\r\n\r\n", 0.05, big[:1000], 0.05, big[1000:]], b"HTTP/1.0 200 OK\r\n\r\n" + big),
            ([b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello and more"],
             b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"),
            ([b"HTTP/1.0 200 OK\nContent-Length: 2\n\nhi"], b"HTTP/1.0 200 OK\nContent-Length: 2\n\nhi"),
            ([b"HTTP/1.1 100 Continue\r\n\r\n", 0.05, b"HTTP/1.0 204 No Content\r\n\r\n"],
             b"HTTP/1.0 204 No Content\r\n\r\n"),
            ([b"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nshort"], ERROR_REPLY),
            ([b"HTTP/1.0 200 OK\r\nContent-Length: -3\r\n\r\n"], ERROR_REPLY),
        ]
        for script, expected in cases:
            with self.subTest(script=script[0][:40]):
                output, _, _ = self.forward({"REQUEST_METHOD": "GET"}, script)
                self.assertBytes(output, expected, "reply")

    def test_head_reply_ends_with_its_header(self):
        header = b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n"
        output, request, _ = self.forward({"REQUEST_METHOD": "HEAD"}, [header], hold=5.0)
        self.assertTrue(request.startswith(b"HEAD / HTTP/1.0\r\n"))
        self.assertBytes(output, header, "reply")

    def test_backend_down_gives_the_error_reply(self):
        install = self.install("TargetPort=%d\n" % closed_port())
        self.assertEqual(install.run({"REQUEST_METHOD": "GET", "PATH_INFO": "/x"}), (ERROR_REPLY, 0))

    def test_silent_backend_times_out(self):
        started = time.monotonic()
        output, _, _ = self.forward({"REQUEST_METHOD": "GET"}, [], settings="Timeout=1\n", hold=10.0)
        self.assertBytes(output, ERROR_REPLY, "reply")
        self.assertLess(time.monotonic() - started, 8)

    def test_client_gone_still_exits_0(self):
        backend = self.backend([BINARY_REPLY])
        install = self.install("TargetPort=%d\n" % backend.port)
        read_end, write_end = os.pipe()
        os.close(read_end)  # nobody reads the reply
        try:
            status = subprocess.run(LAUNCHER + [install.executable], stdout=write_end, stdin=subprocess.DEVNULL,
                                    env=Install.environment({"REQUEST_METHOD": "GET"}),
                                    timeout=60).returncode
        finally:
            os.close(write_end)
        self.assertEqual(status, 0)


class SettingsTest(GatewayTest):
    def test_settings_beside_an_executable_in_a_dotted_folder(self):
        backend = self.backend([BINARY_REPLY])
        install = self.install("TargetPort=%d\n" % backend.port, folder_name="site.example/cgi-bin")
        self.assertEqual(install.run({"REQUEST_METHOD": "GET"}), (BINARY_REPLY, 0))

    def test_backend_name_resolved_through_the_hosts_file(self):
        if subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
            self.skipTest("no mount namespaces here")
        backend = self.backend([BINARY_REPLY], address="127.0.0.9")
        install = self.install("TargetServer=zorerivi-backend.test\nTargetPort=%d\n" % backend.port)
        hosts = os.path.join(install.top, "hosts")
        with open(hosts, "w") as out:
            out.write("127.0.0.1 localhost\n127.0.0.9 zorerivi-backend.test\n")
        wrapper = ["unshare", "-m", "sh", "-c", 'mount --bind "$0" /etc/hosts && exec "$@"', hosts]
        output, status = install.run({"REQUEST_METHOD": "GET"}, wrapper=wrapper)
        self.assertEqual((output, status), (BINARY_REPLY, 0))
        self.assertIn(b"\r\nHost: zorerivi-backend.test:%d\r\n" % backend.port, backend.request())


class PagesAndRulesTest(GatewayTest):
    def test_refused_path_with_a_large_body_gets_the_403_reply(self):
        install = self.install("Forbidden=/private\n")
        body = b"x" * (2 * 1024 * 1024)
        output, status = install.run({"REQUEST_METHOD": "POST", "PATH_INFO": "//private/../private/a",
                                      "CONTENT_LENGTH": str(len(body))}, body)
        self.assertEqual((output, status), (FORBIDDEN_REPLY, 0))

    def test_info_page(self):
        install = self.install()
        output, _ = install.run({"PATH_INFO": "/~~info", "SCRIPT_NAME": "/app", "SERVER_SOFTWARE": "Apache"})
        self.assertTrue(output.startswith(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"), output)
        self.assertIn(b"<B>Script name:</B> /app (6.8)<BR>\r\n<B>Server software:</B> Apache<BR>\r\n"
                      b"<B>Server protocol:</B> n/a<BR>", output)

    def test_echo_page(self):
        install = self.install()
        output, _ = install.run({"REQUEST_METHOD": "POST", "PATH_INFO": "/~~echo", "QUERY_STRING": "a=1",
                                 "CONTENT_LENGTH": "4", "SERVER_NAME": "www.example"}, b"body")
        page = b"POST /~~echo?a=1 HTTP/1.0\r\nContent-Length: 4\r\nHost: www.example\r\n\r\nbody"
        self.assertBytes(output, b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-length: %d\r\n\r\n%s"
                         % (len(page), page), "page")

    def test_target_page(self):
        reached = self.backend([b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"])
        output, _ = self.install("TargetPort=%d\n" % reached.port).run({"PATH_INFO": "/~~target"})
        self.assertIn(b"<B>Good:</B> target server reached.", output)
        output, _ = self.install("TargetPort=%d\n" % closed_port()).run({"PATH_INFO": "/~~target"})
        self.assertIn(b"<B>Bad:</B> target server not reached.", output)
        self.assertTrue(output.startswith(b"HTTP/1.0 200 OK\r\n"))

    def test_log_trace(self):
        backend = self.backend([BINARY_REPLY])
        install = self.install("TargetPort=%d\nLog=1\n" % backend.port)
        install.run({"REQUEST_METHOD": "GET"})
        backend.request()  # closes the port: the second request finds nothing listening
        install.run({"REQUEST_METHOD": "GET"})
        refused = b"10061" if ON_WINE else b"111"
        time_line = rb"(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) " \
                    rb"\d\d \d\d:\d\d:\d\d \d{4}\n"
        banner = rb"------------------------ LOG ------------------------\n" + time_line
        pattern = banner + rb"\tConnected\n\tData sent\nReply sent back to browser\n" + \
            banner + rb"Connection error: " + refused + rb"\n"
        self.assertRegex(install.log(), b"^" + pattern + b"$")


def main():
    global GATEWAY, LAUNCHER, ON_WINE
    parser = argparse.ArgumentParser()
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--wine", action="store_true", help="run a Windows build under Wine")
    options, rest = parser.parse_known_args()
    GATEWAY = os.path.abspath(options.gateway)
    if options.wine:
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import wine_env
        LAUNCHER = wine_env.launcher()
        ON_WINE = True
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
