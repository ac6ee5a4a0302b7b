"""Shared helpers of the update benchmarks: building the release driver, timing
child processes with their peak memory, and a fast HTTP store on loopback."""
import http.server
import os
import re
import socketserver
import subprocess
import threading
import time
from functools import partial
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "linux-release"
WINDOWS_BUILD = ROOT / "build" / "windows-release"
WINE_RUN = ROOT / "scripts" / "wine-run"
WORK = ROOT / "build" / "bench"


def build_driver():
    """Builds bench/update_bench with the linux-release preset; returns its path."""
    subprocess.run(["cmake", "--preset", "linux-release", "-B", str(BUILD)], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "-j2", "--target", "update_bench"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    return BUILD / "bin" / "update_bench"


def build_windows_driver():
    """Builds bench/update_bench.exe with the windows-release preset, to run under Wine; returns its path."""
    if not (WINDOWS_BUILD / "build.ninja").exists():
        subprocess.run(["cmake", "--preset", "windows-release"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(WINDOWS_BUILD), "-j2", "--target", "update_bench"], check=True,
                   stdout=subprocess.DEVNULL)
    return WINDOWS_BUILD / "bin" / "update_bench.exe"


def windows_path(path):
    """The path as the Windows build under Wine sees it."""
    return "Z:" + str(path).replace("/", "\\")


def timed(command, **kwargs):
    """Runs `command`; returns (seconds, peak resident set in MiB). Fails on a non-zero exit."""
    started = time.perf_counter()
    process = subprocess.Popen(command, **kwargs)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit(f"{command[0]} failed with {process.returncode}")
    return elapsed, usage.ru_maxrss / 1024.0


def best_of(rounds, run):
    """Runs `run()` `rounds` times; returns the fastest (seconds, peak MiB) and the largest peak."""
    results = [run() for _ in range(rounds)]
    return min(r[0] for r in results), max(r[1] for r in results)


class Store(http.server.SimpleHTTPRequestHandler):
    """Serves files with sendfile (far faster than either client, so the clients are what
    is measured), honours `Range: bytes=N-` with `If-Range`, and cuts the first answer
    for a file under cut/ off at half its size. Counts the body bytes it sent."""
    protocol_version = "HTTP/1.1"
    sent = 0
    cut_done = set()
    lock = threading.Lock()

    def do_GET(self):
        path = Path(self.directory) / self.path.lstrip("/")
        if not path.is_file():
            self.send_error(404)
            return
        size = path.stat().st_size
        tag = f'"{size:x}-{int(path.stat().st_mtime)}"'
        start = 0
        wanted = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if wanted and self.headers.get("If-Range", tag) == tag and int(wanted.group(1)) < size:
            start = int(wanted.group(1))
        end = size
        if self.path.startswith("/cut/"):
            with Store.lock:
                if self.path not in Store.cut_done:
                    Store.cut_done.add(self.path)
                    end = size // 2
        self.send_response(206 if start else 200)
        self.send_header("Content-Length", str(size - start))
        if start:
            self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
        self.send_header("ETag", tag)
        self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        self.wfile.flush()
        with open(path, "rb") as source:
            offset = start
            while offset < end:
                try:
                    count = os.sendfile(self.connection.fileno(), source.fileno(), offset, end - offset)
                except OSError:
                    break
                if count == 0:
                    break
                offset += count
        with Store.lock:
            Store.sent += offset - start
        if end < size:
            self.close_connection = True
            self.connection.shutdown(2)

    def log_message(self, *args):
        pass


def start_store(folder):
    """Serves `folder` with Store on a free loopback port; returns (server, base URL ending in /)."""
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), partial(Store, directory=str(folder)))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"
