"""Fixtures of the end-to-end tests: the real executables under wine64 on a virtual display."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
from contextlib import contextmanager
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402
import test_ca  # noqa: E402
import wine_registry  # noqa: E402

WINDOW_DRIVER = harness.DIST / "window_driver.exe"


@pytest.fixture(scope="session")
def wine_env():
    """The environment of a running test session: shared with the test runner, or started here."""
    display = os.environ.get("KOVREL_TEST_DISPLAY")
    if display:
        yield harness.wine_environment(display)
        return
    session = harness.Session().start()
    try:
        yield session.environment()
    finally:
        session.stop()


class Box:
    """What the window driver saw of a window: its caption and its controls."""

    def __init__(self, lines):
        self.lines = lines
        self.caption = None
        self.controls = []
        for line in lines:
            if line.startswith("window "):
                self.caption = line[len("window "):]
            elif line.startswith("control "):
                parts = line.split(" ", 3)
                self.controls.append((int(parts[1]), parts[2], parts[3] if len(parts) > 3 else ""))

    def text(self):
        """A message box's text: the static control with id 65535, line breaks as real line breaks."""
        for control_id, _, text in self.controls:
            if control_id == 0xFFFF:
                return text.replace("\\n", "\n")
        return None


class Run:
    """A process started through the window driver with an exact command line."""

    def __init__(self, process):
        self.process = process
        self.output = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.output.append(line.decode("utf-8", "replace").rstrip("\n"))

    def exit_code(self, timeout=60):
        """Waits for the process to end and returns its exit code."""
        self.process.wait(timeout=timeout)
        self.reader.join(timeout=10)
        for line in self.output:
            if line.startswith("exit "):
                return int(line.split()[1])
        raise AssertionError("no exit code: " + repr(self.output))

    def running(self):
        return self.process.poll() is None

    def windows_pid(self):
        """The Windows process id of the program that the driver started, once it has started."""
        for line in list(self.output):
            if line.startswith("started "):
                return int(line.split()[1])
        return None


class Kovrel:
    """Starts the product's programs and sees and answers their windows, as a person would."""

    def __init__(self, env, scratch, runner=()):
        self.env = env
        self.scratch = scratch
        # Wine's command, after what runs it as another user where one is given.
        self.wine = [*runner, harness.WINE]
        self.runs = []
        # The locks of the applications whose launchers this test started.
        self.locks = set()

    def driver(self, *arguments, timeout=90):
        result = subprocess.run([*self.wine, str(WINDOW_DRIVER), *arguments], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        return result.returncode, result.stdout.decode("utf-8", "replace").splitlines()

    def start(self, program, command_line, extra_env=None, cwd=None, elevated=False):
        """Starts `program` (a Windows path) with exactly `command_line`, in `cwd` (a Linux path) if given,
        with the limited token that Windows gives an administrator's programs, or `elevated`, the full one."""
        run_file = Path(tempfile.mkstemp(dir=self.scratch, suffix=".run")[1])
        run_file.write_text(program + "\n" + command_line + "\n", encoding="utf-8")
        run_file.chmod(0o644)  # read by a driver that may run as another user
        env = dict(self.env, **(extra_env or {}))
        verb = "run-elevated" if elevated else "run"
        process = subprocess.Popen([*self.wine, str(WINDOW_DRIVER), verb, harness.windows_path(run_file)],
                                   env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=cwd)
        run = Run(process)
        self.runs.append(run)
        return run

    def start_launcher(self, launcher, arguments, extra_env=None, cwd=None, elevated=False):
        self.locks.add(harness.lock_name(arguments))
        program = harness.windows_path(launcher)
        return self.start(program, f'"{program}" {arguments}', extra_env, cwd, elevated)

    def show(self, caption, timeout_ms=30000):
        code, lines = self.driver("show", caption, str(timeout_ms))
        assert code == 0, f"no window {caption!r}: {lines}"
        return Box(lines)

    def press(self, caption, button, timeout_ms=30000):
        code, lines = self.driver("press", caption, button, str(timeout_ms), timeout=timeout_ms / 1000 + 30)
        assert code == 0, f"could not press {button!r} in {caption!r}: {lines}"
        return Box(lines)

    @contextmanager
    def holding_mutex(self, arguments):
        """Holds the lock of the application that the arguments name, in another process, for the length of
        the block."""
        name = harness.lock_name(arguments)
        process = subprocess.Popen([*self.wine, str(WINDOW_DRIVER), "hold-mutex", name], env=self.env,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            assert process.stdout.readline().strip() == b"held"
            yield
        finally:
            process.stdin.write(b"\n")
            process.stdin.flush()
            process.stdin.close()
            process.wait(timeout=60)

    def wait_mutex_free(self, timeout_ms=60000):
        """Waits until no process holds the lock of an application whose launcher this test started."""
        for name in sorted(self.locks):
            code, lines = self.driver("wait-mutex-free", name, str(timeout_ms), timeout=timeout_ms / 1000 + 30)
            if code != 0:
                return False
        return True

    def worker_pids(self):
        """The Windows process ids of the workers running now. Now and then a Wine program fails to start at
        all (exit 1, no output) while processes start and end around it: the query is made again then."""
        for _ in range(5):
            code, lines = self.driver("processes", "Kovrelw.exe")
            if code == 0:
                break
        assert code == 0, lines
        return {int(line.split()[1]) for line in lines if line.startswith("process ")}

    def end(self, run):
        """Ends a run that is still going: the program the driver started, by its Windows process id, then
        the driver itself, by its process id."""
        pid = run.windows_pid()
        if pid is not None and run.running():
            self.driver("end", str(pid))
        if run.running():
            run.process.kill()
        run.process.wait(timeout=60)


def remove_path(path):
    if path.is_symlink() or path.is_file():
        path.unlink()
    elif path.exists():
        for child in path.rglob("*"):
            if not child.is_symlink():
                child.chmod(0o755 if child.is_dir() else 0o644)
        shutil.rmtree(path)


def remove_run_folders():
    for path in harness.temp_folder().glob("Kovrel-*"):
        remove_path(path)


@pytest.fixture
def kovrel_temp(wine_env):
    """harness.run_folder: the Linux path of an application's run folder in %TEMP% for its launcher's arguments.
    No run folder is left at the start of each test."""
    remove_run_folders()
    return harness.run_folder


@pytest.fixture
def kovrel(wine_env, tmp_path, kovrel_temp):
    k = Kovrel(wine_env, tmp_path)
    earlier_workers = k.worker_pids()
    yield k
    # Every process that the test started ends here, by its process id. The worker and the cleanup launcher
    # are the product's own: they are waited for, never ended by name.
    for run in k.runs:
        if run.running():
            k.end(run)
    freed = k.wait_mutex_free(120000)
    # A worker that the test's launchers started and that still runs (waiting at a box or in its dialog)
    # would hold the mutex into the next test: it is ended by its process id.
    for pid in k.worker_pids() - earlier_workers:
        k.driver("end", str(pid))
    remove_run_folders()
    assert freed, ("after 120 s a worker or cleanup launcher of this test still held the lock of one of "
                   f"{sorted(k.locks)} (probably waiting at a box or in its dialog); its workers were ended")


@pytest.fixture(scope="session")
def web_root(tmp_path_factory):
    """The folder that nginx and the fault server both serve; each test writes below a folder of its own."""
    return tmp_path_factory.mktemp("web")


@pytest.fixture(scope="session")
def nginx(web_root, tmp_path_factory):
    """Debian's nginx on a free loopback port, serving web_root, for the whole session."""
    server = harness.Nginx(web_root, tmp_path_factory.mktemp("nginx")).start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture(scope="session")
def fault_server(web_root, nginx, tmp_path_factory):
    """tests/support/fault_server.py on a free loopback port, serving web_root, for the whole session; its
    /redirect/<name> sends the client to the same name on nginx."""
    server = harness.FaultServer(web_root, tmp_path_factory.mktemp("fault"), redirect_base=nginx.url("")).start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture(scope="session")
def test_certificates(tmp_path_factory):
    """The session's test authorities and their localhost server certificates (tests/support/test_ca.py)."""
    return test_ca.make_test_certificates(tmp_path_factory.mktemp("certificates"))


@pytest.fixture(scope="session")
def trusted_root(wine_env, test_certificates):
    """The trusted test authority in the prefix's root store for the session, and out of it afterwards."""
    der = test_certificates.trusted.ca_der
    wine_registry.trust_test_root(wine_env, der)
    try:
        yield der
    finally:
        wine_registry.untrust_test_root(wine_env, der)


@pytest.fixture(scope="session")
def tls_nginx(web_root, nginx, trusted_root, test_certificates, tmp_path_factory):
    """nginx with TLS on https://localhost:PORT/, serving web_root with the trusted authority's certificate;
    its /to-http/<name> redirects to the same name on the plain nginx."""
    server = harness.Nginx(web_root, tmp_path_factory.mktemp("nginx_tls"), tls=test_certificates.trusted.tls,
                           plain_base=nginx.url("")).start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture(scope="session")
def untrusted_nginx(web_root, test_certificates, tmp_path_factory):
    """nginx with TLS serving web_root with a certificate of the authority that the prefix does not trust."""
    server = harness.Nginx(web_root, tmp_path_factory.mktemp("nginx_untrusted"),
                           tls=test_certificates.untrusted.tls).start()
    try:
        yield server
    finally:
        server.stop()


def requests_below(server, prefix):
    """(path after prefix, status) of each request line of server's log whose path starts with prefix."""
    found = []
    for line in server.requests():
        parts = line.split()
        if len(parts) >= 4 and parts[1].startswith(prefix):
            found.append((parts[1][len(prefix):], int(parts[3])))
    return found


class Served:
    """One test's folder below web_root, its URLs on both servers, and the requests that reached it. The
    served_tls fixture adds the HTTPS servers."""

    tls = None
    untrusted = None

    def __init__(self, folder, nginx_server, fault):
        self.folder = folder
        self.name = folder.name
        self.nginx = nginx_server
        self.fault = fault

    def put(self, name, data):
        path = self.folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def url(self, name):
        return self.nginx.url(f"{self.name}/{name}")

    def fault_url(self, kind, name):
        return self.fault.url(f"{kind}/{self.name}/{name}")

    def requests(self):
        """nginx's request lines for this folder, as (path, status)."""
        return requests_below(self.nginx, f"/{self.name}/")

    def tls_url(self, name):
        return self.tls.url(f"{self.name}/{name}")

    def untrusted_url(self, name):
        return self.untrusted.url(f"{self.name}/{name}")

    def to_http_url(self, name):
        """An https URL that the TLS server redirects to the same file on the plain nginx."""
        return self.tls.url(f"to-http/{self.name}/{name}")

    def tls_requests(self):
        """The TLS server's request lines for this folder, as (path, status); redirects under to-http/."""
        return requests_below(self.tls, f"/{self.name}/") + \
            [("to-http/" + path, status) for path, status in requests_below(self.tls, f"/to-http/{self.name}/")]

    def untrusted_requests(self):
        return requests_below(self.untrusted, f"/{self.name}/")

    def fault_requests(self):
        return [line.split()[1] for line in self.fault.requests()
                if len(line.split()) > 1 and f"/{self.name}/" in line.split()[1]]


@pytest.fixture
def served(web_root, nginx, fault_server):
    import uuid
    folder = web_root / uuid.uuid4().hex[:12]
    folder.mkdir()
    yield Served(folder, nginx, fault_server)
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def served_tls(served, tls_nginx, untrusted_nginx):
    """served, with its URLs on the trusted and the untrusted HTTPS servers too."""
    served.tls = tls_nginx
    served.untrusted = untrusted_nginx
    return served
