# Helpers for the end-to-end tests: the content folder, the server and launcher
# processes, the packets in the server's log, and X11 window work (xdotool, import).
import hashlib
import io
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import threading
import time
import zipfile
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE_RUN = REPO / "scripts" / "wine-run"

NEWS, HELLO, PATCH_LIST, FILE_CHECK = 1000, 1001, 1002, 1003


def md5_of(path):
    return hashlib.md5(Path(path).read_bytes()).hexdigest()


def wait_until(predicate, timeout, interval=0.05, message="condition"):
    """Polls `predicate` until it returns something true; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError(f"timed out after {timeout} s waiting for {message}")
        time.sleep(interval)


# ---------------------------------------------------------------- content

TEST_KEY = REPO / "tests" / "keys" / "test.key"


SIGN_STORE = REPO / "scripts" / "sign-store"


def _store_root(path):
    """The store a file belongs to: the folder holding its patches/ folder."""
    for parent in path.parents:
        if parent.name == "patches":
            return parent.parent
    return path.parent


def sign(*paths, key=TEST_KEY):
    """FILE.minisig beside each file, made by scripts/sign-store (the real minisign)
    with the password-less test key (or `key`), bound to the file's path below its
    store (the folder that holds patches/)."""
    by_root = {}
    for path in (Path(p).resolve() for p in paths):
        by_root.setdefault(_store_root(path), []).append(str(path))
    for root, files in by_root.items():
        subprocess.run([str(SIGN_STORE), "-s", str(key), str(root)] + files, check=True, stdout=subprocess.DEVNULL)


BUILD_STAMP = re.compile(rb"starfell-build:(\d{10});")


def newer_build(program, step=1):
    """The bytes of a launcher build `step` numbers above `program` (bytes): the
    same program with its build stamp raised, as the next release would carry."""
    match = BUILD_STAMP.search(program)
    assert match, "no build stamp in the launcher"
    number = int(match.group(1)) + step
    return program[:match.start(1)] + b"%010d" % number + program[match.end(1):]


class ContentBuilder:
    """Writes a server content folder: news.txt, patches/N.zip, launcher builds, files.txt.
    Everything under patches/ is signed with the test key, as the launchers under
    test trust it: what the builder writes at once, files written there directly
    when the server starts (sign_remaining), except the paths in `unsigned`."""

    def __init__(self, root):
        self.root = Path(root)
        (self.root / "patches" / "Launcher").mkdir(parents=True, exist_ok=True)
        self.unsigned = set()

    def sign_remaining(self):
        """Signs every file under patches/ that has no signature yet."""
        sign(*sorted(p for p in (self.root / "patches").rglob("*")
                     if p.is_file() and p.suffix != ".minisig" and p not in self.unsigned
                     and not p.with_name(p.name + ".minisig").exists()))

    def news(self, *lines):
        (self.root / "news.txt").write_text("".join(line + "\n" for line in lines), encoding="utf-8")

    def patch(self, number, files):
        """patches/<number>.zip holding {relative name: bytes or str}."""
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, data in files.items():
                archive.writestr(name, data.encode() if isinstance(data, str) else data)
        path = self.root / "patches" / f"{number}.zip"
        path.write_bytes(buffer.getvalue())
        sign(path)
        return path

    def launcher_build(self, source, name):
        """A current launcher build: patches/Launcher/<name> copied from `source`."""
        path = self.root / "patches" / "Launcher" / name
        shutil.copyfile(source, path)
        sign(path)
        return path

    def repair_file(self, download_name, data):
        """A fresh copy of a game file, fetched as patches/Launcher/<download_name>."""
        path = self.root / "patches" / "Launcher" / download_name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data.encode() if isinstance(data, str) else data)
        sign(path)
        return path

    def files(self, entries):
        """files.txt from (path, download name, digests) triples, or raw text."""
        text = entries if isinstance(entries, str) else "".join("\t".join(e) + "\n" for e in entries)
        (self.root / "files.txt").write_text(text, encoding="utf-8")


# ---------------------------------------------------------------- server

class StarfellServer:
    """One `starfell-server serve` process on its own loopback address."""

    def __init__(self, binary, address, content_root, artifacts):
        self.binary = str(binary)
        self.address = address
        self.content = ContentBuilder(content_root)
        self.artifacts = Path(artifacts)
        self.log_path = self.artifacts / "server.log"
        self.stderr_path = self.artifacts / "server.stderr"
        self.process = None

    def command(self, scenario=None, extra=()):
        command = [self.binary, "serve", "--root", str(self.content.root), "--address", self.address]
        if scenario is not None:
            script = self.artifacts / "scenario.txt"
            script.write_text(scenario, encoding="utf-8")
            command += ["--scenario", str(script)]
        return command + list(extra)

    def start(self, scenario=None, timeout=10, extra=()):
        """Starts the server (with a scenario script text when given) and waits until it listens."""
        assert self.process is None, "server already started"
        self.content.sign_remaining()
        with open(self.log_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen(self.command(scenario, extra), stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL)

        def ready():
            if self.process.poll() is not None:
                raise RuntimeError(f"starfell-server exited with {self.process.returncode}: "
                                   + self.stderr_path.read_text(errors="replace"))
            return any(line.startswith("ready ") for line in self.log_lines())
        wait_until(ready, timeout, message="the server to listen")
        return self

    def log_lines(self):
        try:
            return self.log_path.read_text(encoding="utf-8", errors="replace").splitlines()
        except FileNotFoundError:
            return []

    def matching(self, pattern):
        """Every log line matching the regex, as match objects."""
        regex = re.compile(pattern)
        return [m for m in (regex.search(line) for line in self.log_lines()) if m]

    def wait_for_log(self, pattern, timeout=15, count=1):
        """Waits until `count` log lines match the regex; returns the match objects."""
        return wait_until(lambda: (lambda found: found if len(found) >= count else None)(self.matching(pattern)),
                          timeout, message=f"server log line /{pattern}/ x{count}")

    def received_blocks(self):
        """Bytes the server logged as received, in order: what expect steps read,
        "received N bytes" lines, and reports (logged as "report received")."""
        return [REPORT if m.group(1) is None else bytes.fromhex(m.group(1))
                for m in self.matching(r"^tcp \S+ (?:received \d+ bytes: ([0-9a-f]*)|report received)$")]

    def sent_packets(self, kind=None):
        """(what, bytes) of every packet the server logged as sent."""
        found = []
        for m in self.matching(r" sent (.+?) \d+ bytes: ([0-9a-f]*)$"):
            if kind is None or m.group(1).startswith(kind):
                found.append((m.group(1), bytes.fromhex(m.group(2))))
        return found

    def stop(self, timeout=5):
        """SIGTERM, then SIGKILL if it does not stop in time; returns the exit code."""
        if self.process is None or self.process.poll() is not None:
            return None if self.process is None else self.process.returncode
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise


def hello_packet(digest):
    """The launcher's 150-byte greeting for `digest` (bytes)."""
    return struct.pack("<IB", HELLO, len(digest)) + digest + bytes(145 - len(digest))


REPORT = struct.pack("<I", FILE_CHECK) + bytes(11)


def read_text_field(packet, position):
    length = packet[position]
    return packet[position + 1:position + 1 + length].decode("utf-8"), position + 1 + length


def parse_news(packet):
    assert struct.unpack_from("<I", packet)[0] == NEWS
    lines, position = [], 5
    for _ in range(packet[4]):
        line, position = read_text_field(packet, position)
        lines.append(line)
    assert position == len(packet)
    return lines


def parse_file_check(packet):
    """(header, [(path, download name, digests)]) of a server FileCheck packet."""
    assert struct.unpack_from("<I", packet)[0] == FILE_CHECK
    header, position = read_text_field(packet, 5)
    entries = []
    for _ in range(packet[4]):
        fields = []
        for _ in range(3):
            field, position = read_text_field(packet, position)
            fields.append(field)
        entries.append(tuple(fields))
    assert position == len(packet)
    return header, entries


class PacedStore:
    """An HTTP store on port 80 of `address` in place of the server's own, serving
    the content folder at network speed: every answer (a 404 too) comes `delay`
    seconds after the request, and bodies flow at `rate` bytes a second."""

    def __init__(self, address, root, rate=400_000, delay=0.0):
        store = self
        self.sent = {}
        self.requested = []

        class Handler(SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=str(root), **kwargs)

            def send_head(self):
                store.requested.append(self.path)
                time.sleep(delay)
                return super().send_head()

            def copyfile(self, source, output):
                try:
                    while True:
                        piece = source.read(20_000)
                        if not piece:
                            break
                        output.write(piece)
                        store.sent[self.path] = store.sent.get(self.path, 0) + len(piece)
                        time.sleep(len(piece) / rate)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # the launcher hung up (or was killed) mid-transfer

            def log_message(self, *args):
                pass

        self.httpd = ThreadingHTTPServer((address, 80), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def serve_from_paced_store(server, **pacing):
    """Moves the server's own HTTP store aside and puts a PacedStore in its place;
    call before server.start(). Returns the store (close it at the end)."""
    store = PacedStore(server.address, server.content.root, **pacing)
    real_command = server.command
    with socket.socket() as probe:
        probe.bind((server.address, 0))
        spare_port = probe.getsockname()[1]
    server.command = lambda scenario=None, extra=(): real_command(scenario, ["--http-port", str(spare_port)] + list(extra))
    return store


# ---------------------------------------------------------------- launcher

class LauncherBuild:
    """A launcher build under test and the stand-in client of the same build."""

    def __init__(self, launcher, client):
        self.launcher = Path(launcher)
        self.client = Path(client) if client else None
        self.windows = self.launcher.suffix.lower() == ".exe"
        self.kind = "windows" if self.windows else "linux"
        self.file_name = "StarfellLauncher.exe" if self.windows else "StarfellLauncher"

    def __repr__(self):
        return self.kind


# Processes of ours that teardown may end; Wine's shared services (wineserver,
# services.exe, explorer.exe ...) carry our environment too but are left alone.
_OWN_PROCESS_NAMES = re.compile(r"(?i)(starfelllaunch|conquer)")


def _processes_with_token(token):
    marker = f"STARFELL_E2E_TOKEN={token}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if marker not in (entry / "environ").read_bytes().split(b"\0"):
                continue
            command = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
            name = (entry / "comm").read_text().strip()
        except OSError:
            continue
        found.append((int(entry.name), name, command))
    return found


class LauncherProcess:
    """A running launcher (directly, or through scripts/wine-run for a Windows build)."""

    def __init__(self, build, folder, env, artifacts, args=()):
        self.build = build
        self.folder = Path(folder)
        self.token = env["STARFELL_E2E_TOKEN"]
        self.stderr_path = Path(artifacts) / "launcher.stderr"
        self.stdout_path = Path(artifacts) / "launcher.stdout"
        executable = str(self.folder / build.file_name)
        command = ([str(WINE_RUN), executable] if build.windows else [executable]) + list(args)
        with open(self.stdout_path, "ab") as out, open(self.stderr_path, "ab") as err:
            self.process = subprocess.Popen(command, cwd=self.folder, env=env, stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=err, start_new_session=True)
        self.started = time.monotonic()

    @property
    def pid(self):
        return self.process.pid

    def alive(self):
        return self.process.poll() is None

    def wait(self, timeout):
        """The exit code; raises subprocess.TimeoutExpired if still running after `timeout` s."""
        return self.process.wait(timeout)

    def stderr(self):
        return self.stderr_path.read_text(encoding="utf-8", errors="replace")

    def kill(self):
        """Ends the launcher and whatever it started, and only that."""
        if self.alive() and not self.build.windows:
            # Natively everything it starts shares its process group.
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.alive():
            self.process.kill()
        # Wine starts Windows children detached from the Unix process tree; they
        # are found by the token in their environment and by their names.
        for pid, name, command in _processes_with_token(self.token):
            if pid == self.process.pid or _OWN_PROCESS_NAMES.search(name) or _OWN_PROCESS_NAMES.search(command):
                if "wineserver" in name or "wine-run" in command:
                    continue
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            pass


# ---------------------------------------------------------------- X11 windows

def _run(*command, check=True):
    return subprocess.run(command, capture_output=True, text=True, check=check, timeout=30)


def find_windows(name_regex):
    """Ids of mapped windows whose name matches the regex, at any depth below the root.

    (xdotool's own search misses windows whose WM_NAME is typed UTF-8, as SDL's
    message boxes set it, so the tree is read with xwininfo.)"""
    tree = _run("xwininfo", "-root", "-tree", check=False).stdout
    regex = re.compile(name_regex)
    found = []
    for match in re.finditer(r'^\s*(0x[0-9a-f]+) "((?:[^"\\]|\\.)*)"', tree, re.MULTILINE):
        if regex.search(match.group(2)):
            window = int(match.group(1), 16)
            info = _run("xwininfo", "-id", str(window), check=False).stdout
            if "IsViewable" in info:
                found.append(window)
    return found


# Titles of the windows found, by id. Each SDL message box runs in a process of
# its own whose first window gets the same id as the previous box's, so "this
# box is gone" has to compare the title as well.
_titles = {}


def window_name(window):
    result = _run("xdotool", "getwindowname", str(window), check=False)
    return result.stdout.rstrip("\n") if result.returncode == 0 else None


def wait_for_window(title, timeout=30, exact=True):
    """The id of a visible window titled `title` (a regex when exact=False)."""
    pattern = f"^{re.escape(title)}$" if exact else title
    try:
        window = wait_until(lambda: (find_windows(pattern) or [None])[0], timeout, interval=0.2,
                            message=f"a window titled {title!r}")
    except TimeoutError as error:
        # Which windows there were instead says whether the window never came or came unseen.
        tree = _run("xwininfo", "-root", "-tree", check=False).stdout
        named = [f"{line.strip()} ({_map_state(line.split()[0])})" for line in tree.splitlines()
                 if re.match(r'\s*0x[0-9a-f]+ "', line)]
        raise TimeoutError(f"{error}; named windows: {named}") from None
    _titles[window] = window_name(window)
    return window


def topmost(*windows):
    """Which of the windows is stacked highest (xwininfo lists the top-most child first)."""
    tree = _run("xwininfo", "-root", "-children", check=False).stdout
    order = [int(match, 16) for match in re.findall(r"^\s*(0x[0-9a-f]+) ", tree, re.MULTILINE)]
    return min(windows, key=lambda window: order.index(window) if window in order else len(order))


def _map_state(window):
    match = re.search(r"Map State: (\w+)", _run("xwininfo", "-id", window, check=False).stdout)
    return match.group(1) if match else "gone"


def window_geometry(window):
    """(x, y, width, height) of the window on the screen."""
    values = dict(line.split("=", 1) for line in _run("xdotool", "getwindowgeometry", "--shell",
                                                       str(window)).stdout.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screenshot(path, window=None):
    """A PNG of the screen, cropped to the window when one is given."""
    command = ["import", "-window", "root"]
    if window is not None:
        x, y, width, height = window_geometry(window)
        command += ["-crop", f"{width}x{height}+{x}+{y}", "+repage"]
    _run(*command, str(path))
    return Path(path)


def pixel(x, y, window=None):
    """(r, g, b) at screen coordinates, or window coordinates when a window is given."""
    if window is not None:
        left, top, _, _ = window_geometry(window)
        x, y = x + left, y + top
    text = _run("import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-").stdout
    match = re.search(r"\((\d+),(\d+),(\d+)", text.splitlines()[-1])
    return tuple(int(v) for v in match.groups())


def reset_keyboard_focus():
    """Gives the display's keyboard focus to its root window, so that keys go to the
    window under the pointer, as on a fresh display. A Linux launcher's window takes
    the focus with nothing to revert to: once that window is gone every key goes
    nowhere, and a later test's Ctrl+click on a Windows build arrived as a plain click."""
    root = re.search(r"Window id: (0x[0-9a-f]+)", _run("xwininfo", "-root", check=False).stdout)
    if root:
        _run("xdotool", "windowfocus", str(int(root.group(1), 16)), check=False)


def focus(window):
    # No window manager runs on Xvfb, so focus is set directly.
    _run("xdotool", "windowfocus", "--sync", str(window), check=False)


def click(window, x, y, button=1):
    """A mouse click at window coordinates."""
    _run("xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", str(button))


def send_keys(window, *keys):
    """Key presses (xdotool key names: Return, Escape, Tab, space, a ...) to the focused window."""
    focus(window)
    _run("xdotool", "key", "--clearmodifiers", *keys)


def type_text(window, text):
    focus(window)
    _run("xdotool", "type", "--clearmodifiers", text)


def _is_wine_window(window):
    result = _run("xprop", "-id", str(window), "WM_CLASS", check=False)
    return ".exe" in result.stdout.lower()


def _viewable(window):
    """Whether the window is on screen and still the one wait_for_window found."""
    if "IsViewable" not in _run("xwininfo", "-id", str(window), check=False).stdout:
        return False
    return window not in _titles or window_name(window) == _titles[window]


def press_button(window, label_or_key, attempts=3):
    """Answers a message box: a button label (OK, Yes, No) or a key name (Return, Escape, Tab).

    A label is pressed again while the box stays open, since a box that has
    just appeared may not take keys yet (Wine's dialogs especially)."""
    label = label_or_key.lower()
    wine = _is_wine_window(window)
    if label in ("ok", "yes"):
        keys = ["Return"]  # the default button of both toolkits' boxes
    elif label == "no":
        # SDL's box binds Escape to No; Wine's Yes/No box has no Cancel but
        # takes the button's mnemonic, which unlike Tab is safe to repeat.
        keys = ["n"] if wine else ["Escape"]
    else:
        send_keys(window, label_or_key)
        return
    time.sleep(0.5)
    for _ in range(attempts):
        if not _viewable(window):
            return
        # With no window manager a box may open beneath the launcher's window,
        # and Wine activates a window on a click, not when focus is set from outside.
        _run("xdotool", "windowraise", str(window), check=False)
        if wine:
            click(window, 5, 5)  # the box's background, clear of its buttons
            time.sleep(0.2)
        send_keys(window, *keys)
        try:
            wait_for_window_gone(window, timeout=5)
            return
        except TimeoutError:
            continue


def wait_for_window_gone(window, timeout=10):
    wait_until(lambda: not _viewable(window), timeout, interval=0.2, message=f"window {window} to close")


def wait_for_no_running_client(timeout=60):
    """Waits until no stand-in Conquer.exe runs on the machine: the launcher's game
    guard looks at every process, so a client left by an earlier test (or the
    demo) would make this test's launcher stop and ask to close it."""
    def none_running():
        for entry in os.listdir("/proc"):
            try:
                if entry.isdigit() and "conquer" in open(f"/proc/{entry}/comm").read().lower():
                    return False
            except OSError:
                pass
        return True
    return wait_until(none_running, timeout, interval=0.5, message="no running Conquer.exe")


def status_lines(game_folder):
    """The status line's texts in the order the launcher showed them, from its log
    (StarfellLauncher.log beside the launcher: "<date> <time>  Status: <text>")."""
    log = Path(game_folder) / "StarfellLauncher.log"
    if not log.exists():
        return []
    marker = "  Status: "
    return [line.split(marker, 1)[1] for line in log.read_text(encoding="utf-8", errors="replace").splitlines()
            if marker in line]


class RangeStore:
    """An HTTP store of `files` ({path: bytes}, changeable while it runs) on
    `address`:`port` that answers at network speed (`delay` s before each
    answer, bodies at `rate` bytes a second), gives every file an entity tag
    and, with `ranges`, honours Range with If-Range (paths in `ignore_ranges`
    excepted). `faults[path]` lists what the next requests of that path get,
    one item each: "stall" (no answer at all), "reset" (the connection closed
    unanswered), "trickle" (the file's bytes at 4 a second), an int (that many
    bytes, then the connection is cut) or (int, new body): cut so, then the
    file is replaced. `requests` logs (path, Range, If-Range, status, bytes
    sent, time of arrival)."""

    def __init__(self, address, files, port=80, ranges=True, rate=4_000_000, delay=0.05):
        self.files, self.ranges, self.rate, self.delay = files, ranges, rate, delay
        self.faults = {}
        self.ignore_ranges = set()
        self.requests = []
        self.closing = False
        self.listener = socket.create_server((address, port))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    @staticmethod
    def tag(body):
        return '"%s"' % hashlib.md5(body).hexdigest()[:16]

    def _accept(self):
        while not self.closing:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _send(self, connection, data, per_piece, pause):
        """Sends `data` in pieces; returns how many bytes went out before the client hung up."""
        sent = 0
        while sent < len(data) and not self.closing:
            piece = data[sent:sent + per_piece]
            try:
                connection.sendall(piece)
            except OSError:
                break
            sent += len(piece)
            readable, _, _ = select.select([connection], [], [], pause)
            if readable and not connection.recv(4096, socket.MSG_PEEK | socket.MSG_DONTWAIT):
                break  # end of input: the client hung up
        return sent

    def _serve(self, connection):
        with connection:
            request = b""
            while b"\r\n\r\n" not in request:
                piece = connection.recv(4096)
                if not piece:
                    return
                request += piece
            started = time.monotonic()
            lines = request.decode("latin-1").split("\r\n")
            path = lines[0].split(" ")[1]
            headers = {k.strip().lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:] if l)}
            asked, condition = headers.get("range"), headers.get("if-range")
            fault = self.faults[path].pop(0) if self.faults.get(path) else None
            body = self.files.get(path)
            record = [path, asked, condition, 404, 0, started]
            self.requests.append(record)
            time.sleep(self.delay)
            if fault == "stall":
                # Read and never answered: wait for the client to hang up.
                while not self.closing and connection.recv(4096):
                    pass
            elif fault == "reset":
                record[3] = 0
            elif body is None:
                connection.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            else:
                start = 0
                match = re.fullmatch(r"bytes=(\d+)-", asked or "")
                if self.ranges and path not in self.ignore_ranges and match and condition == self.tag(body) and int(match.group(1)) < len(body):
                    start = int(match.group(1))
                status = "206 Partial Content" if start else "200 OK"
                head = (f"HTTP/1.1 {status}\r\nContent-Length: {len(body) - start}\r\nETag: {self.tag(body)}\r\n"
                        + (f"Content-Range: bytes {start}-{len(body) - 1}/{len(body)}\r\n" if start else "")
                        + ("Accept-Ranges: bytes\r\n" if self.ranges and path not in self.ignore_ranges else "") + "Connection: close\r\n\r\n")
                connection.sendall(head.encode())
                record[3] = 206 if start else 200
                data = body[start:]
                if fault == "trickle":
                    record[4] = self._send(connection, data, 1, 0.25)
                else:
                    replacement = None
                    if isinstance(fault, tuple):
                        fault, replacement = fault
                    if isinstance(fault, int):
                        data = data[:fault]
                    record[4] = self._send(connection, data, 64 * 1024, 64 * 1024 / self.rate)
                    if replacement is not None:
                        self.files[path] = replacement

    def sent(self, path):
        """(Range, status, bytes sent) of each request of `path`, in order."""
        return [(r[1], r[3], r[4]) for r in self.requests if r[0] == path]

    def close(self):
        self.closing = True
        self.listener.close()
