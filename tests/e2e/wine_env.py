#!/usr/bin/python3
"""Runs Windows executables under Wine, headless, for the end-to-end tests.

A session is a private Wine prefix with a persistent wineserver, initialised once with
wineboot (about 6 s); each run of an .exe after that takes about 0.05 s. Without the
persistent server, a run whose standard error is captured takes seconds or hangs.

As a library:
    launcher()  starts the shared session on first use (stopped when the process exits),
                puts WINEPREFIX, WINEDEBUG and WINEDLLOVERRIDES into os.environ for the
                caller to pass on, and returns the command that runs an .exe: launcher() + [exe].
    WineSession for a session of one's own (a context manager).

As a program, runs one command inside a session and passes its exit status on:
    wine_env.py COMMAND [ARGUMENT...]
The command sees the Wine variables and ZORERIVI_WINE_SESSION, through which launcher()
in a process below it reuses the session instead of booting another one.
"""

import atexit
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SESSION_VARIABLE = "ZORERIVI_WINE_SESSION"

# No debug output; no debugger on a crash (it would wait for a user); no Mono, Gecko or
# menu builder, which nothing here needs and which only slow the boot down.
WINE_SETTINGS = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "winedbg.exe,winemenubuilder.exe,mscoree,mshtml=d",
}

# Wine converts the Unix environment to Windows text by the Unix locale: without one,
# every byte above 127 is garbled. With UTF-8, UTF-8 text reaches the program in code page
# 1252, as on a western Windows system.
LOCALE = "C.UTF-8"

BOOT_SECONDS = 120
STOP_SECONDS = 20


def _tool(name):
    path = shutil.which(name)
    if path is None:
        raise RuntimeError("%s not found: install the packages wine and wine64" % name)
    return path


class WineSession:
    def __init__(self, prefix=None):
        """A session on `prefix` (an existing, booted prefix is reused), or on a fresh
        temporary prefix that stop() removes again."""
        self.prefix = os.path.abspath(prefix) if prefix else None
        self.owns_prefix = prefix is None
        self.server = None
        self.server_folder = None
        self.wine = _tool("wine")
        self.wineserver = _tool("wineserver")

    def environment(self):
        """The variables every Wine command of this session needs."""
        return dict(WINE_SETTINGS, WINEPREFIX=self.prefix)

    def command(self):
        """The command prefix that runs an .exe of this session: command() + [exe, args]."""
        variables = ["%s=%s" % item for item in sorted(self.environment().items())]
        return [_tool("env"), "LANG=" + LOCALE] + variables + [self.wine]

    def start(self):
        if self.prefix is None:
            self.prefix = tempfile.mkdtemp(prefix="zorerivi-wine-")
        environment = dict(os.environ, LANG=LOCALE, **self.environment())
        environment.pop("DISPLAY", None)  # headless: no window may open anywhere
        try:
            # In the foreground, so that the server is this process's child, stopped by PID
            # should `wineserver -k` fail. Clients may connect once its socket exists.
            self.server = subprocess.Popen([self.wineserver, "--foreground", "--persistent"],
                                           env=environment, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._wait_for_server_socket()
            subprocess.run([self.wine, "wineboot", "-i"], env=environment,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=BOOT_SECONDS, check=True)
        except BaseException:
            self.stop()
            raise
        return self

    def _wait_for_server_socket(self):
        deadline = time.monotonic() + 10
        folder_link = "/proc/%d/cwd" % self.server.pid

        def listening():
            # The server moves into its own folder ("server-DEVICE-INODE") and opens the
            # socket there.
            try:
                return (os.path.basename(os.readlink(folder_link)).startswith("server-")
                        and os.path.exists(folder_link + "/socket"))
            except OSError:
                return False

        while not listening():
            if self.server.poll() is not None:
                raise RuntimeError("wineserver ended at once (status %d)" % self.server.returncode)
            if time.monotonic() > deadline:
                raise RuntimeError("wineserver did not open its socket within 10 s")
            time.sleep(0.005)
        self.server_folder = os.readlink(folder_link)

    def stop(self):
        """Ends every Wine process of the prefix and the server, then removes what the
        session created."""
        if self.server is not None:
            environment = dict(os.environ, **self.environment())
            try:
                subprocess.run([self.wineserver, "-k"], env=environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=STOP_SECONDS)
            except subprocess.TimeoutExpired:
                pass
            try:
                self.server.wait(timeout=STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait(timeout=STOP_SECONDS)
            self.server = None
        if self.server_folder:
            # The server's folder, and the temporary folder above it once that is empty.
            shutil.rmtree(self.server_folder, ignore_errors=True)
            try:
                os.rmdir(os.path.dirname(self.server_folder))
            except OSError:
                pass
            self.server_folder = None
        if self.owns_prefix and self.prefix:
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.prefix = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exception):
        self.stop()


class _OuterSession(WineSession):
    """A session started by a process above this one: used, never started or stopped."""

    def __init__(self, prefix):
        super().__init__(prefix)
        self.owns_prefix = False

    def start(self):
        return self

    def stop(self):
        pass


_shared = None


def _end_on_sigterm():
    # atexit handlers do not run when SIGTERM ends the process; a SystemExit lets them.
    if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))


def shared_session():
    """The one session of this process: the outer one when there is one, else a new one
    that is stopped when the process exits."""
    global _shared
    if _shared is None:
        outer = os.environ.get(SESSION_VARIABLE)
        if outer:
            _shared = _OuterSession(outer)
        else:
            _shared = WineSession()
            _end_on_sigterm()
            atexit.register(_shared.stop)
            _shared.start()
    return _shared


def launcher():
    session = shared_session()
    os.environ.update(session.environment())
    return session.command()


def main(arguments):
    if not arguments or arguments[0] in ("-h", "--help"):
        print(__doc__)
        return 2
    if arguments[0] == "--":
        arguments = arguments[1:]
    _end_on_sigterm()
    with WineSession() as session:
        environment = dict(os.environ, **session.environment())
        environment[SESSION_VARIABLE] = session.prefix
        environment["LANG"] = LOCALE
        environment.pop("DISPLAY", None)
        return subprocess.run(arguments, env=environment).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
