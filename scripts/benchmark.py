#!/usr/bin/python3
"""Figures for the gateway's cost per request: the built executable started as a CGI
program again and again (as a web server does), against a canned backend on 127.0.0.1.
Prints the median and 90th percentile wall time of the whole process and its peak memory.

    benchmark.py --gateway build/release/nph-zorerivi [--runs 300]
"""

import argparse
import os
import resource
import shutil
import socket
import statistics
import subprocess
import tempfile
import threading
import time


def canned_backend(reply):
    """Answers every connection with the same reply, after reading the request's header."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)

    def serve():
        while True:
            try:
                connection, _ = listener.accept()
            except OSError:
                return
            with connection:
                data = b""
                while b"\r\n\r\n" not in data:
                    piece = connection.recv(1 << 16)
                    if not piece:
                        break
                    data += piece
                length = 0
                for line in data.split(b"\r\n"):
                    if line.lower().startswith(b"content-length:"):
                        length = int(line.split(b":")[1])
                body = len(data) - data.find(b"\r\n\r\n") - 4
                while body < length:
                    piece = connection.recv(1 << 16)
                    if not piece:
                        break
                    body += len(piece)
                connection.sendall(reply)

    threading.Thread(target=serve, daemon=True).start()
    return listener


def measure(executable, variables, body, runs):
    times = []
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    for _ in range(runs):
        started = time.perf_counter()
        subprocess.run([executable], input=body, env=variables, stdout=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - started)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) / runs
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.9)], cpu, after.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gateway", required=True)
    parser.add_argument("--runs", type=int, default=300)
    options = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="zorerivi-bench-")
    executable = os.path.join(folder, "nph-zorerivi")
    shutil.copy2(options.gateway, executable)
    small = b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1024\r\n\r\n" + b"x" * 1024
    large = b"HTTP/1.0 200 OK\r\nContent-Length: 3145728\r\n\r\n" + os.urandom(3 << 20)
    body = os.urandom(1 << 20)
    cases = [("information page (no backend)", None, {"PATH_INFO": "/~~info"}, b""),
             ("GET, 1 KiB reply", small, {"REQUEST_METHOD": "GET", "PATH_INFO": "/a"}, b""),
             ("POST 1 MiB, 1 KiB reply", small,
              {"REQUEST_METHOD": "POST", "PATH_INFO": "/a", "CONTENT_LENGTH": str(len(body))}, body),
             ("GET, 3 MiB reply", large, {"REQUEST_METHOD": "GET", "PATH_INFO": "/a"}, b"")]
    print("%-32s %10s %10s %10s" % ("request", "median ms", "p90 ms", "cpu ms"))
    try:
        for name, reply, variables, request_body in cases:
            backend = canned_backend(reply) if reply else None
            port = backend.getsockname()[1] if backend else 9
            with open(os.path.join(folder, "nph-zorerivi.ini"), "w") as settings:
                settings.write("[Forward]\nTargetPort=%d\n" % port)
            runs = options.runs if len(request_body) + len(reply or b"") < 1 << 20 else options.runs // 5
            median, p90, cpu, _ = measure(executable, {"PATH": "/usr/bin:/bin", **variables},
                                          request_body, runs)
            print("%-32s %10.2f %10.2f %10.2f" % (name, median * 1000, p90 * 1000, cpu * 1000))
            if backend:
                backend.close()
        print("peak resident memory of one gateway process: %d KiB"
              % resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
