#!/usr/bin/python3
"""Serves the gateway behind a private Apache (event MPM, mod_cgid) in front of the sample
backend, all on 127.0.0.1, until Ctrl-C. Called by scripts/demo after the build."""

import argparse
import os
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(os.path.dirname(HERE), "tests", "apache")]

import apache_site  # noqa: E402
import sample_backend  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--gateway", required=True, help="the built nph-zorerivi")
    parser.add_argument("--seconds", type=float, default=0,
                        help="stop by itself after this long (0: only on Ctrl-C)")
    arguments = parser.parse_args()

    # SIGTERM stops the demo as Ctrl-C does (and Ctrl-C works even when started in the
    # background, where SIGINT comes ignored), so the servers are always stopped.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    signal.signal(signal.SIGINT, signal.default_int_handler)
    backend_port, stop_backend = sample_backend.start_backend(log_requests=True)
    site = None
    try:
        site = apache_site.ApacheSite(
            arguments.gateway, "cgid",
            {"TargetServer": "127.0.0.1", "TargetPort": backend_port, "Timeout": 30,
             "Forbidden": "/private", "Log": 1},
            log_writable=True)
        site.start()
        app = site.url("/app")
        print(f"""
The gateway is served at {app}/ (Apache, event MPM with mod_cgid), forwarding to the
sample backend at http://127.0.0.1:{backend_port}/.

Try:
  curl -i {app}/hello                 a backend page, passed through unchanged
  curl -i {app}/~~info                the gateway's information page
  curl -i '{app}/~~echo?a=1' -d x=y   the request the gateway rebuilds
  curl -i {app}/~~target              whether the backend is reached
  curl -i {app}/echo/caf%C3%A9        what the backend received, as JSON
  curl -i {app}/private/secret        a refused path (Forbidden=/private)

Settings: {site.settings_path}
Log:      {site.log_path}
Apache:   {site.config_path}, error log {site.error_log}

Press Ctrl-C to stop.
""", flush=True)
        deadline = time.monotonic() + arguments.seconds if arguments.seconds else None
        while deadline is None or time.monotonic() < deadline:
            time.sleep(0.2)
    except KeyboardInterrupt:
        pass
    finally:
        print("\nStopping Apache and the sample backend...", flush=True)
        if site is not None:
            site.remove()
        stop_backend()


if __name__ == "__main__":
    main()
