# An update cut short: the server going away while a patch downloads or while
# it unpacks, and the launcher killed while it unpacks. Nothing may be lost:
# the next start, with the server healthy again, finishes the update and ends
# Ready with every file the patches carry intact.
import hashlib
import os
import random
import signal
import socket
import struct
import subprocess
import threading
import time
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

from e2e_support import HELLO, PATCH_LIST, sign, wait_for_window, wait_until, _processes_with_token
from test_main_screen import wait_for_play
from test_window import wine_display_prefix  # noqa: F401  (a fixture)

START = {"linux": 30, "windows": 120}

# The second patch holds enough files that unpacking it takes seconds, far
# longer than the launcher needs to notice a closed connection or to die.
BULK_FILES = 16000
BULK_SIZE = 1024


def md5(data):
    return hashlib.md5(data).hexdigest()


# ---------------------------------------------------------------- content

def write_archive(path, entries):
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in entries:
            # Small files compressed, the bulk stored: both kinds of entry get unpacked.
            method = zipfile.ZIP_DEFLATED if len(data) > BULK_SIZE else zipfile.ZIP_STORED
            archive.writestr(zipfile.ZipInfo(name), data, compress_type=method)


def delta_entries(server_binary, work, name, old, new):
    """The archive entries of `name` carried as the binary delta from `old` to
    `new`, as starfell-server make-patch writes them."""
    for folder, data in (("old", old), ("new", new)):
        (work / folder / name).parent.mkdir(parents=True, exist_ok=True)
        (work / folder / name).write_bytes(data)
    (work / "root").mkdir()
    subprocess.run([str(server_binary), "make-patch", "--from", str(work / "old"), "--to", str(work / "new"),
                    "--number", "1", "--root", str(work / "root")], check=True, stderr=subprocess.DEVNULL)
    with zipfile.ZipFile(work / "root" / "patches" / "1.zip") as made:
        entries = [(i.filename, made.read(i)) for i in made.infolist() if i.filename.startswith(".starfell-delta/")]
    assert len(entries) == 2, "make-patch wrote no delta"
    return entries


def make_patches(content_root, server_binary):
    """Patches 1001 and 1002 in the content folder, each carrying its own
    version.dat as its first entry (so a version file written as soon as it is
    met would claim the whole patch); 1002 changes data/shared.dat by a binary
    delta, applied after its whole entries. Returns the game folder's files
    after both, {relative path: bytes}, and the file list for verification."""
    rng = random.Random(20261208)
    shared = rng.randbytes(200_000)
    first = [("version.dat", b"1001"),
             ("readme.txt", b"Patched by 1001\r\n"),
             ("data/shared.dat", shared),
             ("data/kept.dat", rng.randbytes(60_000))]
    changed = shared[:50_000] + rng.randbytes(1_000) + shared[51_000:120_000] + rng.randbytes(100_000) + shared[120_000:]
    second = [("version.dat", b"1002")]
    second += delta_entries(server_binary, content_root.parent / "delta", "data/shared.dat", shared, changed)
    second += [(f"bulk/{i // 200:02d}/{i:05d}.bin", rng.randbytes(BULK_SIZE)) for i in range(BULK_FILES)]
    second += [("zz_last.dat", b"the last entry of 1002")]
    patches = content_root / "patches"
    write_archive(patches / "1001.zip", first)
    write_archive(patches / "1002.zip", second)

    expected = dict(first)
    expected.update(entry for entry in second if not entry[0].startswith(".starfell-delta/"))
    expected["data/shared.dat"] = changed
    listed = ["readme.txt", "data/shared.dat", "data/kept.dat", "bulk/00/00000.bin",
              f"bulk/{(BULK_FILES - 1) // 200:02d}/{BULK_FILES - 1:05d}.bin", "zz_last.dat"]
    # Verification can repair these from the store as well.
    for name in listed:
        copy = patches / "Launcher" / name
        copy.parent.mkdir(parents=True, exist_ok=True)
        copy.write_bytes(expected[name])
    files = [(name, name, md5(expected[name])) for name in listed]
    sign(patches / "1001.zip", patches / "1002.zip", *(patches / "Launcher" / n for _, n, _ in files))
    return expected, files


def wrong_files(game_folder, expected):
    """Names of expected files that are missing or differ."""
    wrong = []
    for name, data in expected.items():
        path = game_folder / name
        if not path.is_file() or path.read_bytes() != data:
            wrong.append(name)
    return wrong


def bulk_files_in_place(game_folder, expected):
    return sum(1 for name, data in expected.items() if name.startswith("bulk/")
               and (game_folder / name).is_file() and (game_folder / name).read_bytes() == data)


def note_downloads(game_folder, artifacts):
    """Records what the staging folder holds after the interrupted run."""
    folder = game_folder / "Downloads"
    names = sorted(f"{p.name} {p.stat().st_size}" for p in folder.iterdir()) if folder.is_dir() else []
    (artifacts / "downloads-after-interruption.txt").write_text("".join(n + "\n" for n in names))


def assert_unpacking_cut_short(game_folder, expected, artifacts, interruption):
    """The interruption landed mid-unpacking, and the version file does not claim the patch cut short."""
    done = bulk_files_in_place(game_folder, expected)
    line = f"{interruption}: 1 trial, {done} of {BULK_FILES} bulk files in place"
    print(line)
    (artifacts / "interrupted.txt").write_text(line + "\n")
    assert done < BULK_FILES, f"the unpacking finished before {interruption}"
    assert (game_folder / "version.dat").read_bytes() == b"1001"


def leftovers(game_folder, expected, launcher_build):
    """Files in the game folder (outside Downloads) that neither the patches nor the test put there."""
    known = set(expected) | {launcher_build.file_name, "Conquer.exe", "StarfellLauncher.log"}
    found = []
    for path in game_folder.rglob("*"):
        relative = path.relative_to(game_folder).as_posix()
        if path.is_file() and not relative.startswith("Downloads/") and relative not in known:
            found.append(relative)
    return found


# ---------------------------------------------------------------- servers of the faulty run

class PacketService:
    """The game server's packet side for one launcher: answers the hello as
    current, sends one patch list, and closes the connection when told to."""

    def __init__(self, address, patch_list):
        self.listener = socket.create_server((address, 9538))
        self.listener.settimeout(180)
        self.patch_list = patch_list.encode()
        self.connection = None
        self.listed = threading.Event()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        try:
            self.connection, _ = self.listener.accept()
            hello = b""
            while len(hello) < 150:
                chunk = self.connection.recv(150 - len(hello))
                if not chunk:
                    return
                hello += chunk
            self.connection.sendall(struct.pack("<IB", HELLO, 4) + b"true")
            time.sleep(0.25)  # each packet arrives on its own
            self.connection.sendall(struct.pack("<IB", PATCH_LIST, len(self.patch_list)) + self.patch_list)
            self.listed.set()
        except OSError:
            pass

    def close(self):
        """Closes the launcher's connection (and stops listening)."""
        if self.connection is not None:
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self.connection.close()
        self.listener.close()


class PatchStore:
    """The HTTP file store on port 80 for the content folder. An archive named
    in `stall_after` gets only that many bytes of its body, then the transfer
    hangs until the store is closed."""

    def __init__(self, address, root, stall_after=None):
        self.root = root
        self.stall_after = dict(stall_after or {})
        self.stalled = threading.Event()
        self.release = threading.Event()
        self.requests = []
        store = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                store.requests.append(self.path)
                path = store.root / self.path.lstrip("/")
                if ".." in self.path or not path.is_file():
                    self.send_response(404)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                body = path.read_bytes()
                self.send_response(200)
                self.send_header("Content-Type", "application/zip")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                cut = store.stall_after.get(self.path)
                try:
                    self.wfile.write(body if cut is None else body[:cut])
                    self.wfile.flush()
                except OSError:
                    return
                if cut is not None:
                    store.stalled.set()
                    store.release.wait(180)
                    self.close_connection = True

        self.server = ThreadingHTTPServer((address, 80), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.release.set()
        self.server.shutdown()
        self.server.server_close()


@pytest.fixture
def faulty(server_address):
    """Starts the packet service and store of a faulty run; closes both at the end."""
    started = []

    def start(content_root, stall_after=None):
        store = PatchStore(server_address, content_root, stall_after)
        packets = PacketService(server_address, "1001\n1002")
        started.extend([packets, store])
        return packets, store

    yield start
    for service in started:
        service.close()


# ---------------------------------------------------------------- the launcher

def wait_for_unpacking(game_folder, process, timeout):
    """Returns as soon as the launcher has begun unpacking patch 1002 (its bulk folder appears)."""
    def begun():
        if not process.alive():
            raise AssertionError("the launcher ended before unpacking patch 1002")
        return (game_folder / "bulk").exists()
    wait_until(begun, timeout, interval=0.002, message="patch 1002 to be unpacked")


def wait_for_batch_in_flight(game_folder, process, timeout):
    """Returns once patch 1002 has files renamed into place and others written
    under their temporary names, waiting for their batch's flush and rename."""
    def in_flight():
        if not process.alive():
            raise AssertionError("the launcher ended before a batch of patch 1002 was in flight")
        names = [p.name for p in (game_folder / "bulk").glob("*/*")]
        return any(n.endswith(".starfell-partial") for n in names) and any(n.endswith(".bin") for n in names)
    wait_until(in_flight, timeout, interval=0.002, message="a batch of patch 1002 between writing and renaming")


def kill_launcher(process):
    """SIGKILL to the process that runs the launcher: natively the launcher
    itself, under Wine the Unix process that carries the Windows process, so
    it ends at once with no chance to clean up."""
    if not process.build.windows:
        os.kill(process.pid, signal.SIGKILL)
        return [process.pid]
    victims = [pid for pid, name, command in _processes_with_token(process.token)
               if "starfelllaunch" in (name + command).lower() and "wine-run" not in command
               and "wineserver" not in name]
    for pid in victims:
        os.kill(pid, signal.SIGKILL)
    return victims


def finish_update(server, launcher, game_folder, files, expected, wine_env):
    """The next start against the healthy server: it must end Ready with every file right.
    Returns the archives fetched by that start."""
    server.content.files(files)
    if server.process is None:
        server.start()
    before = len(server.matching(r"http GET /patches/\d+\.zip "))
    process = launcher.start(extra_env=wine_env)
    window = wait_for_window("Starfell", timeout=START[launcher.build.kind])
    server.wait_for_log(r"sent FileCheck", timeout=START[launcher.build.kind] + 60,
                        count=len(server.matching(r"sent FileCheck")) + 1)
    wait_for_play(window, launcher.artifacts, timeout=60)
    assert process.alive()
    assert wrong_files(game_folder, expected) == []
    assert (game_folder / "version.dat").read_bytes() == b"1002"
    # The archives were applied cleanly, so none is kept.
    assert not list((game_folder / "Downloads").glob("*.zip"))
    return [m.group(1) for m in server.matching(r"http GET /patches/(\d+)\.zip ")[before:]]


# ---------------------------------------------------------------- tests

def test_server_gone_during_download_then_next_start_finishes(server, launcher, launcher_build, game_folder,
                                                              faulty, wine_display_prefix):
    expected, files = make_patches(server.content.root, server.binary)
    archive = server.content.root / "patches" / "1002.zip"
    packets, store = faulty(server.content.root, {"/patches/1002.zip": archive.stat().st_size // 2})

    process = launcher.start(extra_env=wine_display_prefix)
    assert store.stalled.wait(START[launcher_build.kind] + 60), "patch 1002 was never requested"
    packets.close()
    assert process.wait(30) == 0
    store.close()

    # 1001 applied whole; 1002 is not claimed and nothing of it was unpacked.
    assert [r for r in store.requests if not r.endswith(".minisig")] == ["/patches/1001.zip", "/patches/1002.zip"]
    assert (game_folder / "version.dat").read_bytes() == b"1001"
    assert (game_folder / "readme.txt").read_bytes() == expected["readme.txt"]
    assert not (game_folder / "bulk").exists()
    assert not (game_folder / "Downloads" / "1001.zip").exists()
    note_downloads(game_folder, launcher.artifacts)

    assert finish_update(server, launcher, game_folder, files, expected, wine_display_prefix) == ["1002"]
    assert leftovers(game_folder, expected, launcher_build) == []
    # The half download of the first run was replaced, not left beside.
    assert list((game_folder / "Downloads").iterdir()) == []


def test_server_gone_during_unpacking_then_next_start_finishes(server, launcher, launcher_build, game_folder,
                                                               faulty, wine_display_prefix):
    expected, files = make_patches(server.content.root, server.binary)
    packets, store = faulty(server.content.root)

    process = launcher.start(extra_env=wine_display_prefix)
    wait_for_unpacking(game_folder, process, START[launcher_build.kind] + 60)
    packets.close()
    assert process.wait(30) == 0
    store.close()

    assert_unpacking_cut_short(game_folder, expected, launcher.artifacts, "the connection closed")

    assert finish_update(server, launcher, game_folder, files, expected, wine_display_prefix) == ["1002"]
    assert leftovers(game_folder, expected, launcher_build) == []


def test_launcher_killed_during_unpacking_then_next_start_repairs(server, launcher, launcher_build, game_folder,
                                                                  wine_display_prefix):
    expected, files = make_patches(server.content.root, server.binary)
    server.content.files(files)
    server.start()

    process = launcher.start(extra_env=wine_display_prefix)
    wait_for_batch_in_flight(game_folder, process, START[launcher_build.kind] + 60)
    assert kill_launcher(process), "no launcher process to kill"
    code = process.wait(30)
    if not launcher_build.windows:
        assert code == -signal.SIGKILL
    server.wait_for_log(r"closed by launcher", timeout=30)

    assert_unpacking_cut_short(game_folder, expected, launcher.artifacts, "the launcher was killed")
    # Only whole files were renamed into place: the rest wait under temporary names.
    in_place = [p for p in (game_folder / "bulk").glob("*/*.bin")]
    assert in_place and all(p.read_bytes() == expected[p.relative_to(game_folder).as_posix()] for p in in_place)

    assert finish_update(server, launcher, game_folder, files, expected, wine_display_prefix) == ["1002"]
    assert leftovers(game_folder, expected, launcher_build) == []
