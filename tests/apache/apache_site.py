"""A private Apache httpd on 127.0.0.1 that runs the gateway, for tests and the demo.

Everything lives in one temporary folder: the configuration, the PID file, the logs, the
cgid socket, and a copy of the gateway with its settings file beside it, mounted by
`ScriptAlias /app <folder>/nph-zorerivi` so that /app/x reaches it with PATH_INFO /x.

Two set-ups, as users meet them:
  "cgid"  event MPM with mod_cgid (Debian's default; CGI started by a daemon over ScriptSock)
  "cgi"   prefork MPM with mod_cgi (CGI forked by the worker, stdin and stdout are pipes)

    with ApacheSite("/path/nph-zorerivi", "cgid", {"TargetPort": 8081}) as site:
        urllib.request.urlopen(site.url("/app/~~info"))

Must run as root: Apache starts as root and runs CGI programs as www-data.
"""

import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time

SETUPS = ("cgid", "cgi")
GATEWAY_NAME = "nph-zorerivi"
RUN_USER = "www-data"

# Debian's layout (package apache2-bin).
APACHE_BINARY = "/usr/sbin/apache2"
MODULE_FOLDER = "/usr/lib/apache2/modules"
ENSURE_PACKAGES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "scripts", "ensure-packages")
_SETUP_MODULES = {
    "cgid": ("mpm_event", "cgid"),
    "cgi": ("mpm_prefork", "cgi"),
}
_START_ATTEMPTS = 5


class ApacheError(RuntimeError):
    pass


def _apache_present():
    return os.access(APACHE_BINARY, os.X_OK) and all(
        os.path.exists(f"{MODULE_FOLDER}/mod_{name}.so")
        for name in ("alias", "authz_core", "mpm_event", "cgid", "mpm_prefork", "cgi"))


def ensure_apache():
    """Installs Apache with apt-get (through the repository's package helper) when missing."""
    if _apache_present():
        return
    subprocess.run([ENSURE_PACKAGES, "apache2", "apache2-utils"], check=True)
    if not _apache_present():
        raise ApacheError(f"apache2 was installed, but {APACHE_BINARY} or its modules in "
                          f"{MODULE_FOLDER} are missing")


def free_port():
    """A port the kernel just chose for 127.0.0.1; another program may take it before we
    bind it again, so callers retry on a clash."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def settings_text(settings):
    """The settings file for a dict of keys (written in the order given), or a text as is."""
    if isinstance(settings, str):
        return settings
    return "[Forward]\n" + "".join(f"{key}={value}\n" for key, value in settings.items())


def _process_gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            # The state follows the parenthesised command name; a zombie has finished.
            return stat.read().rpartition(")")[2].split()[0] == "Z"
    except FileNotFoundError:
        return True


class ApacheSite:
    def __init__(self, gateway, setup="cgid", settings=None, log_writable=False,
                 apache_timeout=60, extra_config="", directory_config=""):
        if setup not in SETUPS:
            raise ValueError(f"setup must be one of {SETUPS}, not {setup!r}")
        ensure_apache()
        self.setup = setup
        self.apache_timeout = apache_timeout
        self.extra_config = extra_config  # server-wide lines
        self.directory_config = directory_config  # lines for the gateway's folder
        self.port = None
        self.pid = None
        self.root = tempfile.mkdtemp(prefix=f"zorerivi-apache-{setup}-")
        os.chmod(self.root, 0o755)  # www-data must traverse it to reach the gateway
        for folder in ("conf", "run", "logs", "htdocs", "cgi-bin"):
            os.mkdir(os.path.join(self.root, folder))
            os.chmod(os.path.join(self.root, folder), 0o755)  # whatever the umask
        self.cgi_folder = os.path.join(self.root, "cgi-bin")
        self.gateway = os.path.join(self.cgi_folder, GATEWAY_NAME)
        self.settings_path = self.gateway + ".ini"
        self.log_path = self.gateway + ".txt"
        self.error_log = os.path.join(self.root, "logs", "error.log")
        self.access_log = os.path.join(self.root, "logs", "access.log")
        self.pid_file = os.path.join(self.root, "run", "httpd.pid")
        self.config_path = os.path.join(self.root, "conf", "httpd.conf")
        shutil.copyfile(gateway, self.gateway)
        os.chmod(self.gateway, 0o755)
        if log_writable:
            account = pwd.getpwnam(RUN_USER)
            os.chown(self.cgi_folder, account.pw_uid, account.pw_gid)
        self.write_settings(settings or {})

    # -- settings -------------------------------------------------------------------------

    def write_settings(self, settings):
        """Replaces the settings file; the gateway reads it afresh for every request."""
        # Renamed into place, so that a request never reads a half-written file.
        partial = self.settings_path + ".partial"
        with open(partial, "w") as settings_file:
            settings_file.write(settings_text(settings))
        os.chmod(partial, 0o644)
        os.replace(partial, self.settings_path)

    # -- addresses ------------------------------------------------------------------------

    @property
    def base_url(self):
        return f"http://127.0.0.1:{self.port}"

    def url(self, path):
        return self.base_url + path

    def error_log_text(self, last_lines=30):
        try:
            with open(self.error_log, errors="replace") as log:
                return "".join(log.readlines()[-last_lines:])
        except FileNotFoundError:
            return "(no error log)"

    # -- configuration --------------------------------------------------------------------

    def _config(self):
        modules = MODULE_FOLDER
        mpm, cgi_module = _SETUP_MODULES[self.setup]
        lines = [
            f'ServerRoot "{self.root}"',
            "ServerName 127.0.0.1",
            f"Listen 127.0.0.1:{self.port}",
            f'PidFile "{self.pid_file}"',
            f'DefaultRuntimeDir "{self.root}/run"',
            f"Mutex file:{self.root}/run default",
            f'ErrorLog "{self.error_log}"',
            "LogLevel warn",
            'LogFormat "%h %t \\"%r\\" %>s %b %D" timing',
            f'CustomLog "{self.access_log}" timing',
            f"User {RUN_USER}",
            f"Group {RUN_USER}",
            f"Timeout {self.apache_timeout}",
            f"LoadModule {mpm}_module {modules}/mod_{mpm}.so",
            f"LoadModule authz_core_module {modules}/mod_authz_core.so",
            f"LoadModule alias_module {modules}/mod_alias.so",
            f"LoadModule {cgi_module}_module {modules}/mod_{cgi_module}.so",
        ]
        if self.setup == "cgid":
            lines += [f'ScriptSock "{self.root}/run/cgid.sock"',
                      f"CGIDScriptTimeout {self.apache_timeout}"]
        else:
            # Enough idle children that a burst of parallel requests does not wait for
            # prefork's slow spawning.
            lines += ["StartServers 10", "MinSpareServers 10", "MaxSpareServers 30"]
        lines += [
            f'DocumentRoot "{self.root}/htdocs"',
            "<Directory />",
            "    AllowOverride None",
            "    Require all denied",
            "</Directory>",
            # Apache maps PATH_INFO onto the document root for PATH_TRANSLATED; a denied
            # folder there logs an error for every request.
            f'<Directory "{self.root}/htdocs">',
            "    Require all granted",
            "</Directory>",
            f'<Directory "{self.cgi_folder}">',
            "    Require all granted",
            self.directory_config,
            "</Directory>",
            f'ScriptAlias /app "{self.gateway}"',
            self.extra_config,
        ]
        return "\n".join(lines) + "\n"

    # -- start and stop -------------------------------------------------------------------

    def _apache(self, action):
        return subprocess.run(
            [APACHE_BINARY, "-d", self.root, "-f", self.config_path, "-k", action],
            stdin=subprocess.DEVNULL, capture_output=True, text=True,
            env={"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C"}, timeout=30)

    def _wait_until_serving(self, deadline):
        run_folder = os.path.join(self.root, "run")
        while time.monotonic() < deadline:
            # mod_cgid appends its daemon's PID to the ScriptSock name.
            ready = os.path.exists(self.pid_file) and (self.setup != "cgid" or any(
                name.startswith("cgid.sock") for name in os.listdir(run_folder)))
            if ready:
                try:
                    socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                    with open(self.pid_file) as pid_file:
                        self.pid = int(pid_file.read().split()[0])
                    return True
                except (OSError, ValueError, IndexError):
                    pass
            time.sleep(0.02)
        return False

    def start(self):
        """Starts Apache on a fresh kernel-chosen port, retrying when the port was taken."""
        for _ in range(_START_ATTEMPTS):
            self.port = free_port()
            with open(self.config_path, "w") as config:
                config.write(self._config())
            result = self._apache("start")
            output = result.stdout + result.stderr + self.error_log_text()
            if result.returncode == 0 and self._wait_until_serving(time.monotonic() + 10):
                return self
            self.stop()
            if "Address already in use" not in output:
                raise ApacheError(f"Apache ({self.setup}) did not start: exit "
                                  f"{result.returncode}\n{output}\nconfig: {self.config_path}")
        raise ApacheError(f"Apache ({self.setup}) found no free port in {_START_ATTEMPTS} tries")

    def stop(self, timeout=15):
        """Stops the server by the PID in its PID file and waits until that process is gone."""
        pid = self.pid
        if pid is None:
            try:
                with open(self.pid_file) as pid_file:
                    pid = int(pid_file.read().split()[0])
            except (OSError, ValueError, IndexError):
                return
        self.pid = None
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        for stop_signal in (signal.SIGTERM, signal.SIGKILL):
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                if _process_gone(pid):
                    return
                time.sleep(0.05)
            if stop_signal == signal.SIGTERM:
                os.kill(pid, signal.SIGKILL)
        raise ApacheError(f"Apache process {pid} did not end")

    def remove(self):
        """Stops the server and deletes its folder."""
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc_info):
        self.remove()
