# The update pipeline end to end: numbered patches fetched from starfell-server
# and unpacked over the game folder, the game guard around a running client,
# and the launcher replacing itself with the server's current build.
import base64
import os
import random
import re
import shutil
import signal
import stat
import subprocess
import time
import uuid
import zipfile
from pathlib import Path

import pytest

from e2e_support import (REPO, SIGN_STORE, TEST_KEY, WINE_RUN, md5_of, newer_build, press_button, serve_from_paced_store, sign,
                         wait_for_window,
                         wait_for_window_gone, wait_until, _processes_with_token)
from e2e_support import status_lines
from test_window import Picture

# Wine needs a few seconds to start a program; native starts are quick.
START = {"linux": 15, "windows": 60}


def write_patch(server, number, entries):
    """patches/<number>.zip from (name, bytes or str) pairs; data None makes a directory entry.
    Names are stored exactly as given, unsafe ones included."""
    path = server.content.root / "patches" / f"{number}.zip"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name)
            info.compress_type = zipfile.ZIP_DEFLATED
            if data is None:
                info.external_attr = 0o40755 << 16 | 0x10
                archive.writestr(info, b"")
            else:
                archive.writestr(info, data.encode() if isinstance(data, str) else data)
    return path


def archive_requests(server):
    return [m.group(1) for m in server.matching(r"http GET /patches/(\d+)\.zip ")]


def patch_list_scenario(text):
    return f"read-hello\nsend-verdict\nsend-patchlist {text}\nexpect 15\nhold\n"


def start_client(launcher, game_folder):
    """The stand-in game client, running from the game folder as a real game would."""
    command = [str(game_folder / "Conquer.exe")]
    if launcher.build.windows:
        command = [str(WINE_RUN)] + command
    game = subprocess.Popen(command, cwd=game_folder, env=launcher.environment({"STARFELL_CLIENT_LIFETIME": "300"}), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    wait_until(lambda: launcher.client_starts(), 60, message="the stand-in client to start")
    return game


def test_newer_patches_apply_in_list_order(server, launcher, launcher_build, game_folder):
    (game_folder / "version.dat").write_text("1000")
    write_patch(server, 1000, [("old.txt", "must not be fetched")])
    write_patch(server, 1001, [("a.txt", "one"), ("data/new/file.bin", os.urandom(300000))])
    write_patch(server, 1002, [("a.txt", "two"), ("b.txt", "bee")])
    server.start()
    process = launcher.start()
    server.wait_for_log(r"report received", START[launcher_build.kind] + 30)

    assert archive_requests(server) == ["1001", "1002"]
    assert (game_folder / "a.txt").read_text() == "two"
    assert (game_folder / "b.txt").read_text() == "bee"
    assert (game_folder / "data" / "new" / "file.bin").stat().st_size == 300000
    assert not (game_folder / "old.txt").exists()
    assert list((game_folder / "Downloads").iterdir()) == []
    assert (game_folder / "version.dat").read_bytes() == b"1000"
    assert len(server.matching(r"report received")) == 1
    assert process.alive()
    # The status line's own texts, from the launcher's log.
    updated = "Updated, There is no new patches."
    wait_until(lambda: updated in status_lines(game_folder), 10, message="the update's end in the log")
    shown = status_lines(game_folder)
    assert shown[:shown.index(updated) + 1] == ["Checking for new update..", "Downloading version: 1001/1002",
                                                "Downloading version: 1002/1002", updated], shown


def release_pair(tmp_path):
    """Old and new game folders: two data files with scattered edits and an
    insertion (one of them the player will have changed), a changed and a new
    small file."""
    rng = random.Random(2028)
    old, new = tmp_path / "old", tmp_path / "new"
    for folder in (old, new):
        (folder / "data").mkdir(parents=True)
    for name in ("big.dat", "mod.dat"):
        data = bytearray(rng.randbytes(2_000_000))
        (old / "data" / name).write_bytes(data)
        for _ in range(20):
            at = rng.randrange(len(data) - 500)
            data[at:at + 500] = rng.randbytes(500)
        data[1_000_000:1_000_000] = rng.randbytes(30_000)
        (new / "data" / name).write_bytes(data)
    (old / "readme.txt").write_text("old readme")
    (new / "readme.txt").write_text("new readme")
    (new / "added.txt").write_text("added")
    return old, new


def release(server, old, new, number, damaged=False):
    environment = dict(os.environ, STARFELL_SIGN_STORE=str(SIGN_STORE))
    if damaged:
        environment["STARFELL_RELEASE_DAMAGE_DELTAS"] = "1"
    return subprocess.run([server.binary, "release", "--from", str(old), "--to", str(new), "--number", str(number),
                           "--root", str(server.content.root), "--secret-key", str(TEST_KEY)],
                          env=environment, capture_output=True, text=True, timeout=120)


def test_release_with_deltas_over_a_matching_and_a_modified_file(server, launcher, launcher_build, game_folder,
                                                                 tmp_path):
    old, new = release_pair(tmp_path)
    listed = ["readme.txt", "data/mod.dat"]
    server.content.files([(name, name, md5_of(old / name)) for name in listed])
    # A release whose proof fails publishes nothing, and leaves nothing behind.
    before = sorted(server.content.root.rglob("*"))
    refused = release(server, old, new, 1001, damaged=True)
    assert refused.returncode == 1 and "nothing published" in refused.stderr, refused.stderr
    assert sorted(server.content.root.rglob("*")) == before
    made = release(server, old, new, 1001)
    assert made.returncode == 0, made.stderr
    names = zipfile.ZipFile(server.content.root / "patches" / "1001.zip").namelist()
    assert {".starfell-delta/data/big.dat", ".starfell-delta/data/mod.dat"} <= set(names)
    assert "data/big.dat" not in names
    # The listed files' lines carry the new digests; whole copies of them and of the deltas' files are signed.
    assert (server.content.root / "files.txt").read_text() == "".join(
        f"{name}\t{name}\t{md5_of(new / name)}\n" for name in listed)
    copies = server.content.root / "patches" / "Launcher"
    assert sorted(p.relative_to(copies).as_posix() for p in copies.rglob("*") if p.is_file()) == [
        "data/big.dat", "data/big.dat.minisig", "data/mod.dat", "data/mod.dat.minisig",
        "readme.txt", "readme.txt.minisig"]

    shutil.copytree(old, game_folder, dirs_exist_ok=True)
    (game_folder / "version.dat").write_text("1000")
    modified = game_folder / "data" / "mod.dat"
    modified.write_bytes(b"player's own" + modified.read_bytes()[12:])
    server.start()
    launcher.start()
    server.wait_for_log(r"report received", START[launcher_build.kind] + 30)

    # The matching file took its delta, the modified one came whole from the
    # signed copies, and only then did the version file claim the patch.
    for path in new.rglob("*"):
        if path.is_file():
            assert (game_folder / path.relative_to(new)).read_bytes() == path.read_bytes(), path
    assert (game_folder / "version.dat").read_bytes() == b"1001"
    fetched = [m.group(1) for m in server.matching(r"http GET /patches/Launcher/(\S+) ")]
    assert "data/mod.dat" in fetched and "data/big.dat" not in fetched
    assert not (game_folder / ".starfell-delta").exists()
    assert not list(game_folder.rglob("*.starfell-partial"))


def other_key(tmp_path):
    """A second key pair made by minisign (no password): its secret key's path."""
    secret = tmp_path / "other.key"
    subprocess.run(["minisign", "-G", "-W", "-p", str(tmp_path / "other.pub"), "-s", str(secret)], check=True,
                   stdout=subprocess.DEVNULL)
    return secret


def test_signatures_decide_which_patches_apply(server, launcher, launcher_build, game_folder, tmp_path):
    """One list: two patches signed by the test key apply, then each later one is
    refused for its own reason, deleted and never unpacked."""
    (game_folder / "version.dat").write_text("1000")
    patches = server.content.root / "patches"
    numbers = range(1001, 1014)
    paths = {n: write_patch(server, n, [(f"p{n}.txt", str(n)), ("version.dat", str(n))]) for n in numbers}
    sign(*(paths[n] for n in numbers if n not in (1003, 1004, 1005, 1011, 1013)))
    server.content.unsigned.add(paths[1003])                           # 1003: no signature (404)
    sign(paths[1004], key=other_key(tmp_path))                         # 1004: another key
    elsewhere = tmp_path / "store" / "patches" / "1001.zip"            # 1005: a signature naming 1001.zip
    moved = tmp_path / "store" / "patches" / "old" / "1013.zip"        # 1013: signed in another folder
    for copy, number in ((elsewhere, 1005), (moved, 1013)):
        copy.parent.mkdir(parents=True, exist_ok=True)
        copy.write_bytes(paths[number].read_bytes())
        sign(copy)
        (patches / f"{number}.zip.minisig").write_bytes(copy.with_name(copy.name + ".minisig").read_bytes())
    comment = f"timestamp:1\tfile:1011.zip\tpath:patches/1011.zip"  # 1011: the legacy algorithm
    subprocess.run(["minisign", "-S", "-l", "-s", str(REPO / "tests" / "keys" / "test.key"), "-t", comment, "-m",
                    str(paths[1011])], check=True, stdout=subprocess.DEVNULL)
    lines = (patches / "1012.zip.minisig").read_bytes().split(b"\n")  # 1012: prehashed relabelled as legacy
    lines[1] = base64.b64encode(b"Ed" + base64.b64decode(lines[1])[2:])
    (patches / "1012.zip.minisig").write_bytes(b"\n".join(lines))
    flipped = bytearray(paths[1006].read_bytes())                      # 1006: a byte of the archive flipped
    flipped[len(flipped) // 2] ^= 0x01
    paths[1006].write_bytes(bytes(flipped))
    signature = lambda n: patches / f"{n}.zip.minisig"
    lines = signature(1007).read_text().split("\n")                    # 1007: trusted comment altered
    lines[2] = lines[2].replace("timestamp:", "timestamp:1")
    signature(1007).write_text("\n".join(lines))
    signature(1008).write_bytes(signature(1008).read_bytes()[:100])   # 1008: truncated
    signature(1009).write_bytes(os.urandom(300))                      # 1009: garbage
    signature(1010).write_bytes(b"untrusted comment: " + b"A" * (1 << 20))  # 1010: a megabyte

    server.start(scenario=patch_list_scenario("\\n".join(str(n) for n in numbers)))
    process = launcher.start()
    server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 60)
    errors = process.stderr()

    assert (game_folder / "p1001.txt").read_text() == "1001"
    assert (game_folder / "p1002.txt").read_text() == "1002"
    assert (game_folder / "version.dat").read_text() == "1002"
    reasons = {1003: "no signature", 1004: "signed with another key", 1005: "signature names another file",
               1006: "bad signature", 1007: "bad signature", 1008: "malformed signature",
               1009: "malformed signature", 1010: "no signature", 1011: "malformed signature",
               1012: "malformed signature", 1013: "signature names another file"}
    for number, reason in reasons.items():
        assert f"Signature check failed for: http://{server.address}/patches/{number}.zip ({reason})\n" in errors
        assert not (game_folder / f"p{number}.txt").exists()
    assert errors.count("Signature check failed for: ") == len(reasons)
    # The megabyte signature was cut off at its bound.
    assert f"Download refused, larger than 2048 bytes: http://{server.address}/patches/1010.zip.minisig" in errors
    assert sorted(p.name for p in game_folder.rglob("*") if p.name != "StarfellLauncher.log") == sorted(
        ["Conquer.exe", launcher_build.file_name, "Downloads", "version.dat", "p1001.txt", "p1002.txt"])
    assert process.alive()


@pytest.mark.parametrize("listed, fetched", [
    ("1001\\n1003\\n1002", ["1001", "1003"]),
    # CRLF line ends: each entry is read as a string-to-int conversion reads it
    # ("1001\r" is 1001, " 1003" is 1003) and fetched by its number; entries
    # without a number are skipped, the trailing empty one included.
    ("abc\\x0d\\n1001\\x0d\\n 1003\\x0d\\n1002x\\x0d\\n", ["1001", "1003"]),
], ids=["lower-after-newer", "crlf-and-not-numbers"])
def test_lower_entries_after_a_newer_one_are_skipped(server, launcher, launcher_build, game_folder, listed,
                                                     fetched):
    for number in (1001, 1002, 1003):
        write_patch(server, number, [(f"p{number}.txt", str(number))])
    server.start(scenario=patch_list_scenario(listed))
    launcher.start()
    server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 30)
    assert archive_requests(server) == fetched
    assert not (game_folder / "p1002.txt").exists()
    assert (game_folder / "version.dat").read_bytes() == b"1000"  # created on a fresh installation


def test_protected_files_folders_and_directory_entries(server, launcher, launcher_build, game_folder):
    protected = game_folder / "client.ini"
    protected.write_text("old settings")
    protected.chmod(0o444)  # the read-only attribute on both builds
    write_patch(server, 1001, [("client.ini", "new settings"), ("data/new/file.bin", "deep"),
                               ("logs/empty/", None)])
    server.start(scenario=patch_list_scenario("1001"))
    launcher.start()
    server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 30)
    assert protected.read_text() == "new settings"
    assert not protected.stat().st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH)
    assert (game_folder / "data" / "new" / "file.bin").read_text() == "deep"
    assert (game_folder / "logs" / "empty").is_dir()
    assert not (game_folder / "Downloads" / "1001.zip").exists()


def test_locked_own_executable_keeps_the_archive(server, launcher, launcher_build, game_folder):
    if not launcher_build.windows:
        pytest.skip("a running executable can be replaced on Linux")
    write_patch(server, 1001, [(launcher_build.file_name, b"MZ replacement"), ("other.txt", "applied")])
    server.start(scenario=patch_list_scenario("1001"))
    process = launcher.start()
    server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 30)
    errors = process.stderr()
    assert errors.count("Failed to delete file: ") == 1
    assert "Extraction completed with errors" in errors
    assert (game_folder / "Downloads" / "1001.zip").exists()
    assert (game_folder / "other.txt").read_text() == "applied"
    assert md5_of(game_folder / launcher_build.file_name) == md5_of(launcher_build.launcher)


def test_unsafe_entries_write_nothing_outside(server, launcher, launcher_build, game_folder, tmp_path):
    token = uuid.uuid4().hex
    absolute = f"/tmp/starfell-evil-{token}"
    unsafe = ["../evil.txt", absolute, f"C:\\evil-{token}", "a/../../evil"]
    write_patch(server, 1001, [(name, "evil") for name in unsafe] + [("good.txt", "good")])
    server.start(scenario=patch_list_scenario("1001"))
    process = launcher.start()
    server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 30)
    errors = process.stderr()
    for name in unsafe:
        assert f"Refused unsafe entry: {name}" in errors
    assert "Extraction completed with errors" in errors
    assert (game_folder / "good.txt").read_text() == "good"
    assert not (tmp_path / "evil.txt").exists()
    assert not (tmp_path / "evil").exists()
    assert not os.path.exists(absolute)
    assert not list((REPO / "build").glob(f"wineprefix*/drive_c/evil-{token}"))
    assert not (game_folder / "a").exists()


def message_box_processes(process):
    """Linux: the fresh launcher copies that show this launcher's message boxes."""
    return [pid for pid, name, command in _processes_with_token(process.token) if "--message-box" in command]


def network_sockets(pid):
    """TCP sockets among the process's descriptors (its X11 connection is a Unix socket)."""
    held = set()
    for fd in Path(f"/proc/{pid}/fd").iterdir():
        try:
            target = os.readlink(fd)
        except OSError:
            continue
        if target.startswith("socket:["):
            held.add(target[len("socket:["):-1])
    tcp = set()
    for table in ("tcp", "tcp6"):
        for line in Path(f"/proc/{pid}/net/{table}").read_text().splitlines()[1:]:
            tcp.add(line.split()[9])
    return held & tcp


@pytest.mark.parametrize("answer", ["Yes", "No", "launcher killed"])
def test_running_game_is_closed_only_with_consent(server, launcher, launcher_build, game_folder, answer):
    if launcher_build.client is None:
        pytest.skip("no stand-in client for this build")
    if answer == "launcher killed" and launcher_build.windows:
        pytest.skip("under Wine the box is a window of the launcher's own process")
    patch = write_patch(server, 1001, [("patched.txt", "patched")])
    store = None
    if answer == "No":
        # First an unsigned archive, and a launcher that ends while it asks
        # for the signature (as when the game server closes the connection):
        # nothing it fetched may pass for a patch at the next start.
        server.content.unsigned.add(patch)
        store = serve_from_paced_store(server, delay=1.0)
        server.start(scenario=patch_list_scenario("1001"))
        first = launcher.start()
        wait_until(lambda: "/patches/1001.zip.minisig" in store.requested, START[launcher_build.kind] + 30,
                   message="the signature to be asked for")
        first.kill()
        assert not (game_folder / "Downloads" / "1001.zip").exists()
    game = start_client(launcher, game_folder)
    boxes = []
    try:
        if server.process is None:
            server.start(scenario=patch_list_scenario("1001"))
        process = launcher.start()
        warning = wait_for_window("Warning", timeout=START[launcher_build.kind] + 30)
        if not launcher_build.windows:
            # The box's processes (SDL forks one more) must not hold the server connection.
            boxes = message_box_processes(process)
            assert boxes
            for box in boxes:
                assert network_sockets(box) == set()
        if answer == "launcher killed":
            # The connection ends with the launcher, although its box is still up.
            os.kill(process.pid, signal.SIGKILL)
            server.wait_for_log(r"closed by launcher", 15)
            assert message_box_processes(process) and wait_for_window("Warning", timeout=1) == warning
            return
        press_button(warning, answer)
        wait_for_window_gone(warning)
        if answer == "Yes":
            game.wait(15)  # terminated by the launcher
            server.wait_for_log(r"received 15 bytes", 30)
            assert archive_requests(server) == ["1001"]
            assert (game_folder / "patched.txt").read_text() == "patched"
        else:
            cancelled = wait_for_window("Cancelled", timeout=30)
            press_button(cancelled, "OK")
            wait_for_window_gone(cancelled)
            server.wait_for_log(r"received 15 bytes", 30)
            assert process.stderr().count("Cannot proceed with update. Game is still running.") == 1
            assert store.requested.count("/patches/1001.zip") == 1  # the first start's only
            assert not (game_folder / "patched.txt").exists()
            assert not (game_folder / "Downloads" / "1001.zip").exists()
            assert game.poll() is None
    finally:
        if store:
            store.close()
        for box in boxes:
            try:
                os.kill(box, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if game.poll() is None:
            game.kill()
        game.wait(10)


def other_launchers(process):
    """Launcher processes of this test other than the one started first."""
    return [pid for pid, name, command in _processes_with_token(process.token)
            if pid != process.pid and "starfelllaunch" in (name + command).lower()
            and "wine-run" not in command and "wineserver" not in name]


def test_self_update_starts_the_new_build(server, launcher, launcher_build, game_folder):
    # The next build: the same program with a higher build number.
    new_build = newer_build(launcher_build.launcher.read_bytes())
    (server.content.root / "patches" / "Launcher" / launcher_build.file_name).write_bytes(new_build)
    sign(server.content.root / "patches" / "Launcher" / launcher_build.file_name)
    server.start()
    process = launcher.start()
    assert process.wait(START[launcher_build.kind] + 60) == 0
    assert (game_folder / launcher_build.file_name).read_bytes() == new_build
    # The new build greets, is current, and removes the old build at start-up.
    server.wait_for_log(r"verdict=true", START[launcher_build.kind] + 30)
    assert [m.group(1) for m in server.matching(r"verdict=(\w+)")] == ["false", "true"]
    old_name = launcher_build.file_name.replace("Launcher", "Launcher_OLDVersion")
    wait_until(lambda: not (game_folder / old_name).exists(), 30, message="the old build to be removed")
    assert other_launchers(process)


def test_failed_self_update_keeps_the_old_build(server, launcher, launcher_build, game_folder, xvfb, tmp_path):
    # The store answers the build's URL with 404 only after two seconds, as a
    # distant one would: the start-up's removal of old builds has long run by then.
    original = (game_folder / launcher_build.file_name).read_bytes()
    store = serve_from_paced_store(server, delay=2.0)
    try:
        server.start(scenario="read-hello\nsend-hello-answer false\nhold\n")
        process = launcher.start()
        wait_until(lambda: "Launcher update failed" in process.stderr(), START[launcher_build.kind] + 30,
                   message="the update to fail")
    finally:
        store.close()
    assert process.alive()
    assert (game_folder / launcher_build.file_name).read_bytes() == original
    leftovers = sorted(p.name for p in game_folder.iterdir()
                       if p.name not in (launcher_build.file_name, "Conquer.exe", "StarfellLauncher.log"))
    assert leftovers == []
    assert other_launchers(process) == []
    # The run goes on as for a current build: no progress bar left up.
    window = wait_for_window("Starfell", timeout=START[launcher_build.kind])
    time.sleep(1.0)
    bar = Picture(window, tmp_path, "after-failed-update").at(330, 501)
    assert not (bar[0] > 180 and 60 < bar[1] < 120 and bar[2] < 40), bar


@pytest.mark.parametrize("served", ["forged", "older", "same", "other-key"])
def test_self_update_to_a_forged_older_or_same_build_keeps_the_running_build(server, launcher, launcher_build,
                                                                              game_folder, served):
    original = (game_folder / launcher_build.file_name).read_bytes()
    published = server.content.root / "patches" / "Launcher" / launcher_build.file_name
    url = f"http://{server.address}/patches/Launcher/{launcher_build.file_name}"
    number = int(re.search(rb"starfell-build:(\d{10});", original).group(1))
    if served == "forged":
        # A build signed by the test key, then changed by someone on the way.
        published.write_bytes(newer_build(original))
        sign(published)
        published.write_bytes(newer_build(original, step=2))
        refusal = f"Signature check failed for: {url} (bad signature)"
    elif served == "other-key":
        # A newer, genuinely signed build that trusts another key (a keyless or
        # mistaken build): installed, it would end the checks for good.
        key = (REPO / "tests" / "keys" / "test.pub").read_text().splitlines()[1].encode()
        build = newer_build(original)
        assert build.count(key) == 1
        published.write_bytes(build.replace(key, key[:-1] + (b"B" if key.endswith(b"A") else b"A")))
        sign(published)
        refusal = "Launcher build refused: it does not trust this launcher's update key"
    else:
        # A genuinely signed build that is not newer: served back to roll the
        # launcher back, or the very build running (which a server that keeps
        # answering "false" would otherwise have it fetch and restart for ever).
        published.write_bytes(newer_build(original, step=-1) if served == "older" else original)
        sign(published)
        shown = number - 1 if served == "older" else number
        refusal = f"Launcher build refused: build {shown} is not newer than build {number}"
    server.start(scenario="read-hello\nsend-hello-answer false\nhold\n")
    process = launcher.start()
    wait_until(lambda: refusal in process.stderr() and "Launcher update failed" in process.stderr(),
               START[launcher_build.kind] + 30, message="the build to be refused")
    time.sleep(1.0)
    assert process.alive()
    assert (game_folder / launcher_build.file_name).read_bytes() == original
    assert sorted(p.name for p in game_folder.iterdir()) == sorted(
        [launcher_build.file_name, "Conquer.exe", "StarfellLauncher.log"])
    assert other_launchers(process) == []


def test_self_update_killed_at_any_moment_leaves_a_launcher_that_greets(server, launcher, launcher_build,
                                                                         game_folder):
    """The launcher is killed at a random moment of its self-update (download,
    swap, start of the new build); each time the folder then holds a build under
    the launcher's name that starts and greets the server."""
    trials = 5 if launcher_build.windows else 20
    original = launcher_build.launcher.read_bytes()
    new_build = newer_build(original)
    (server.content.root / "patches" / "Launcher" / launcher_build.file_name).write_bytes(new_build)
    download_seconds = 2.0
    store = serve_from_paced_store(server, rate=len(new_build) / download_seconds, delay=0.2)
    rng = random.Random()
    try:
        server.start()
        for trial in range(trials):
            for path in game_folder.iterdir():
                if path.name.startswith("StarfellLauncher"):
                    path.unlink()
            (game_folder / launcher_build.file_name).write_bytes(original)
            (game_folder / launcher_build.file_name).chmod(0o755)
            greetings = len(server.matching(r"verdict="))
            process = launcher.start()
            # Past the first greeting, somewhere in the download or the swap after it.
            server.wait_for_log(r"verdict=", START[launcher_build.kind], count=greetings + 1)
            time.sleep(rng.uniform(0.0, download_seconds + 1.5))
            process.kill()
            for pid in other_launchers(process):
                os.kill(pid, signal.SIGKILL)

            build = game_folder / launcher_build.file_name
            assert build.exists(), f"trial {trial}: no launcher left: {sorted(os.listdir(game_folder))}"
            assert build.read_bytes() in (original, new_build), f"trial {trial}: a partial build"
            greetings = len(server.matching(r"verdict="))
            check = launcher.start()
            server.wait_for_log(r"verdict=", START[launcher_build.kind] + 30, count=greetings + 1)
            check.kill()
            for pid in other_launchers(check):
                os.kill(pid, signal.SIGKILL)
    finally:
        store.close()
    print(f"self-update killed at random moments: {trials} trials, a launcher greeted after each")
