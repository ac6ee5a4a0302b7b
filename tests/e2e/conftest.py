# Fixtures of the end-to-end tests: a virtual X display, a loopback address of
# the test's own, the server, a game folder with the launcher under test, and
# the launcher process. Run with Debian's pytest:
#   /usr/bin/python3 -m pytest tests/e2e --launcher=build/linux/bin/StarfellLauncher \
#       --client=build/linux/bin/Conquer.exe --server=build/linux/bin/starfell-server
import fcntl
import os
import random
import re
import shutil
import socket
import subprocess
import uuid
from pathlib import Path

import pytest

import e2e_support

from e2e_support import REPO, LauncherBuild, LauncherProcess, StarfellServer


def pytest_addoption(parser):
    group = parser.getgroup("starfell")
    group.addoption("--launcher", action="append", default=[],
                    help="launcher build under test (repeat for several builds)")
    group.addoption("--client", action="append", default=[],
                    help="stand-in Conquer.exe of the same build, in the order of --launcher")
    group.addoption("--server", default=str(REPO / "build" / "linux" / "bin" / "starfell-server"),
                    help="the starfell-server binary")
    group.addoption("--artifacts", default=str(REPO / "tests" / "e2e" / "artifacts"),
                    help="folder for each test's logs and screenshots")


def _builds(config):
    launchers = config.getoption("--launcher")
    clients = config.getoption("--client")
    if clients and len(clients) not in (1, len(launchers)):
        raise pytest.UsageError("give one --client, or one per --launcher")
    return [LauncherBuild(path, clients[min(i, len(clients) - 1)] if clients else None)
            for i, path in enumerate(launchers)]


def pytest_generate_tests(metafunc):
    # Every launcher scenario runs once per build given with --launcher.
    if "launcher_build" in metafunc.fixturenames:
        builds = _builds(metafunc.config)
        metafunc.parametrize("launcher_build", builds or [None], ids=[b.kind for b in builds] or ["none"],
                             indirect=True)


def pytest_collection_modifyitems(config, items):
    # Tests of the server alone run once, with the Linux build (or with no build).
    builds = _builds(config)
    if builds and all(b.windows for b in builds):
        skip = pytest.mark.skip(reason="server-only test; runs with the Linux build")
        for item in items:
            if "launcher_build" not in item.fixturenames:
                item.add_marker(skip)


@pytest.fixture
def launcher_build(request):
    if request.param is None:
        pytest.skip("no --launcher given")
    if not request.param.launcher.exists():
        pytest.skip(f"launcher build {request.param.launcher} does not exist")
    return request.param


@pytest.fixture(scope="session")
def server_binary(pytestconfig):
    path = Path(pytestconfig.getoption("--server"))
    if not path.exists():
        pytest.skip(f"server binary {path} does not exist")
    return path


@pytest.fixture(scope="session")
def xvfb():
    """A 1920x1080 virtual display for the whole run; DISPLAY is set for children.

    -noreset: by default the X server resets when its last client leaves, and
    drops the connections made meanwhile; a launcher opening its window just as
    a test's xwininfo ended would find no display."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24",
                                "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    # Xvfb picks a free display number itself and writes it once it accepts clients.
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        process.kill()
        pytest.fail("Xvfb did not start")
    display = f":{number}"
    previous = os.environ.get("DISPLAY")
    os.environ["DISPLAY"] = display
    yield display
    if previous is None:
        os.environ.pop("DISPLAY", None)
    else:
        os.environ["DISPLAY"] = previous
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()


def _port_free(address, port):
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind((address, port))
            return True
        except OSError:
            return False


@pytest.fixture
def server_address():
    """A loopback address of this test's own (127.0.0.2 ... 127.0.0.254), free on ports 9538 and 80.

    A lock file keeps it ours across test processes running side by side."""
    lock_folder = Path("/tmp/starfell-e2e-addresses")
    lock_folder.mkdir(exist_ok=True)
    candidates = [f"127.0.0.{n}" for n in range(2, 255)]
    random.shuffle(candidates)
    for address in candidates:
        lock = open(lock_folder / f"{address}.lock", "w")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            lock.close()
            continue
        if _port_free(address, 9538) and _port_free(address, 80):
            yield address
            lock.close()
            return
        lock.close()
    pytest.fail("no free loopback address")


@pytest.fixture
def artifacts(request, pytestconfig):
    """This test's folder for logs and screenshots (emptied first)."""
    name = re.sub(r"[^A-Za-z0-9_.-]+", "_", request.node.nodeid.split("::", 1)[-1])
    folder = Path(pytestconfig.getoption("--artifacts")) / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


@pytest.fixture
def server(server_binary, server_address, tmp_path, artifacts):
    """A server on this test's address; fill `server.content`, then `server.start(scenario=None)`.

    Log: `server.log_lines()`, `server.wait_for_log(regex, timeout)`, `server.received_blocks()`,
    `server.sent_packets(kind)`. Stopped (SIGTERM) at the end of the test."""
    instance = StarfellServer(server_binary, server_address, tmp_path / "content", artifacts)
    yield instance
    instance.stop()


@pytest.fixture
def game_folder(launcher_build, tmp_path):
    """A fresh game folder with a copy of the launcher under test and the stand-in Conquer.exe."""
    folder = tmp_path / "game"
    folder.mkdir()
    shutil.copy2(launcher_build.launcher, folder / launcher_build.file_name)
    if launcher_build.client:
        shutil.copy2(launcher_build.client, folder / "Conquer.exe")
    return folder


class LauncherRunner:
    """Starts the launcher from the game folder; the fixture ends every start at teardown."""

    def __init__(self, build, folder, address, display, artifacts, tmp_path):
        self.build = build
        self.folder = folder
        self.address = address
        self.display = display
        self.artifacts = artifacts
        self.client_log = tmp_path / "client.log"
        self.started = []

    def environment(self, extra=None):
        env = dict(os.environ)
        env.update({
            "STARFELL_SERVER_ADDRESS": self.address,
            "STARFELL_WEBSITE_URL": f"http://{self.address}/",
            "STARFELL_CLIENT_LOG": str(self.client_log),
            "STARFELL_E2E_TOKEN": uuid.uuid4().hex,
            "DISPLAY": self.display,
            "WINEDEBUG": "-all",
            # Clients started by PLAY end soon by themselves: a client left
            # running would make the next test's launcher ask to close it.
            "STARFELL_CLIENT_LIFETIME": "5",
        })
        env.update(extra or {})
        return env

    def start(self, extra_env=None, args=()):
        process = LauncherProcess(self.build, self.folder, self.environment(extra_env), self.artifacts, args)
        self.started.append(process)
        return process

    def client_starts(self):
        """Lines the stand-in client wrote: (command line, working folder, pid)."""
        if not self.client_log.exists():
            return []
        return [tuple(line.split("\t")) for line in self.client_log.read_text(errors="replace").splitlines()]


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """Keeps each phase's report on the test, for fixtures that act on a failure."""
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"report_{report.when}", report)


def _save_wine_threads(runner):
    """Every Wine thread's stack, taken while a failed test's Windows launcher still
    runs: a window or box that never came shows there where it waits. Where gdb is
    installed, the Unix side of the launcher's threads (graphics driver, X) too."""
    running = [process for process in runner.started if process.alive()]
    if not runner.build.windows or not running:
        return
    dumps = [[str(e2e_support.WINE_RUN), "winedbg", "--command", "bt all"]]
    if shutil.which("gdb"):
        for process in running:
            for pid, name, _ in e2e_support._processes_with_token(process.token):
                if "starfelllaunch" in name.lower():
                    dumps.append(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt"])
    with open(runner.artifacts / "wine-threads.txt", "ab") as out:
        for command in dumps:
            try:
                result = subprocess.run(command, env=runner.environment(), capture_output=True, timeout=60)
                out.write(result.stdout + result.stderr)
            except (OSError, subprocess.TimeoutExpired) as error:
                out.write(f"{command[0]}: {error}\n".encode())


@pytest.fixture
def launcher(request, launcher_build, game_folder, server_address, xvfb, artifacts, tmp_path):
    """`launcher.start(extra_env=None)` runs the launcher of the build under test against
    this test's address; returns a LauncherProcess (wait, alive, stderr, kill)."""
    runner = LauncherRunner(launcher_build, game_folder, server_address, xvfb, artifacts, tmp_path)
    e2e_support.wait_for_no_running_client()
    e2e_support.reset_keyboard_focus()
    yield runner
    call = getattr(request.node, "report_call", None)
    if call is not None and call.failed:
        _save_wine_threads(runner)
    for process in runner.started:
        process.kill()
