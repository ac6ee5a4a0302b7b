"""Shared helpers of the update benchmarks: building the release driver and
timing child processes with their peak memory."""
import os
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "linux-release"
WORK = ROOT / "build" / "bench"


def build_driver():
    """Builds bench/update_bench with the linux-release preset; returns its path."""
    subprocess.run(["cmake", "--preset", "linux-release", "-B", str(BUILD)], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "-j2", "--target", "update_bench"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    return BUILD / "bin" / "update_bench"


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
