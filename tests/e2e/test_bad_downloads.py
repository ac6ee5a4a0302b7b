# Patches that go wrong: damaged or missing archives, a game folder with no room
# left, archives built to do harm, and HTTP stores that stall or trickle. Each
# case checks that the rest of the list is applied, nothing good is lost, no
# half-written file is left behind and a failed patch is not taken as installed.
import hashlib
import io
import os
import re
import shutil
import socket
import subprocess
import zipfile
import zlib
from pathlib import Path

import pytest

from conftest import LauncherRunner
from e2e_support import RangeStore, sign, status_lines, wait_for_no_running_client, wait_until

START = {"linux": 15, "windows": 60}


def write_patch(server, number, entries):
    """patches/<number>.zip from (name, bytes or str) pairs, deflated."""
    path = server.content.root / "patches" / f"{number}.zip"
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            archive.writestr(zipfile.ZipInfo(name), data.encode() if isinstance(data, str) else data,
                             compress_type=zipfile.ZIP_DEFLATED)
    return path


def patch_list_scenario(numbers):
    listed = "\\n".join(str(n) for n in numbers)
    return f"read-hello\nsend-verdict\nsend-patchlist {listed}\nexpect 15\nhold\n"


def leftovers(folder):
    """Temporary files of downloads or extraction anywhere in the folder."""
    return sorted(str(p.relative_to(folder)) for p in Path(folder).rglob("*")
                  if ".partial" in p.name)


def snapshot(folder):
    """Every path below the folder (links not followed) with its mode, size, change time and digest."""
    state = {}
    for root, folders, files in os.walk(folder):
        for name in folders + files:
            path = Path(root) / name
            info = path.lstat()
            digest = hashlib.md5(path.read_bytes()).hexdigest() if path.is_file() and not path.is_symlink() else ""
            state[str(path.relative_to(folder))] = (info.st_mode, info.st_size, info.st_mtime_ns, digest)
    return state


# ------------------------------------------------------------ damaged archives

def test_damaged_and_missing_archives_leave_the_rest_applied(server, launcher, launcher_build, game_folder):
    (game_folder / "version.dat").write_text("1000")
    (game_folder / "keep.dat").write_text("the good game data")
    write_patch(server, 1001, [("first.txt", "one")])
    truncated = write_patch(server, 1002, [("truncated.bin", os.urandom(200000))])
    truncated.write_bytes(truncated.read_bytes()[:120000])
    # Bytes flipped inside the deflated data of one entry; its neighbours are sound.
    corrupt = write_patch(server, 1003, [("before.txt", "sound"), ("keep.dat", os.urandom(50000)),
                                         ("after.txt", "sound too")])
    data = bytearray(corrupt.read_bytes())
    with zipfile.ZipFile(corrupt) as archive:
        info = archive.getinfo("keep.dat")
    start = info.header_offset + 30 + len(info.filename.encode()) + len(info.extra)
    for offset in range(start + 1000, start + 1016):
        data[offset] ^= 0x5A
    corrupt.write_bytes(bytes(data))
    (server.content.root / "patches" / "1004.zip").write_text("<html>not an archive</html>")
    # 1005 is listed but not in the store: the HTTP server answers 404.
    write_patch(server, 1006, [("last.txt", "six")])

    server.start(scenario=patch_list_scenario(range(1001, 1007)))
    process = launcher.start()
    server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 60)
    errors = process.stderr()
    downloads = game_folder / "Downloads"
    separator = "\\" if launcher_build.windows else "/"

    # A damaged but signed archive fails to open; one never fetched is never opened.
    for number in (1002, 1004):
        assert re.search(rf"^Failed to open archive: .*Downloads{re.escape(separator)}{number}\.zip$", errors, re.M)
    assert "Downloads" + separator + "1005.zip" not in errors
    assert re.search(r"^Failed to extract: .*keep\.dat$", errors, re.M)
    assert errors.count("Extraction completed with errors") == 1  # the others could not be opened
    assert f"Download failed for: http://{server.address}/patches/1005.zip HRESULT: -404" in errors
    # The version stays at the last patch before the first failure.
    for number in (1002, 1003, 1004, 1005):
        assert f"Patch not applied: {number} Installed version: 1001" in errors
    assert "Patch not applied: 1001" not in errors and "Patch not applied: 1006" not in errors

    assert (game_folder / "first.txt").read_text() == "one"
    assert (game_folder / "before.txt").read_text() == "sound"
    assert (game_folder / "after.txt").read_text() == "sound too"
    assert (game_folder / "keep.dat").read_text() == "the good game data"
    assert (game_folder / "last.txt").read_text() == "six"
    assert not (game_folder / "truncated.bin").exists()
    assert sorted(p.name for p in downloads.iterdir()) == ["1002.zip", "1003.zip", "1004.zip"]
    assert leftovers(game_folder) == []
    assert process.alive()


# ------------------------------------------------------------ full file system

@pytest.fixture
def small_disk_launcher(launcher_build, server_address, xvfb, artifacts, tmp_path):
    """A launcher whose game folder is a tmpfs with about 1.5 MiB free."""
    if launcher_build.windows:
        pytest.skip("the full file system is tested with the Linux build")
    folder = tmp_path / "small"
    folder.mkdir()
    needed = launcher_build.launcher.stat().st_size + (launcher_build.client.stat().st_size
                                                        if launcher_build.client else 0)
    size_kib = (needed + 4095) // 4096 * 4 + 1536 + 64
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size_kib}k,mode=0755", "tmpfs", str(folder)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.strip()}")
    runner = None
    try:
        shutil.copy2(launcher_build.launcher, folder / launcher_build.file_name)
        if launcher_build.client:
            shutil.copy2(launcher_build.client, folder / "Conquer.exe")
        (folder / "version.dat").write_text("1000")
        runner = LauncherRunner(launcher_build, folder, server_address, xvfb, artifacts, tmp_path)
        wait_for_no_running_client()
        yield runner
    finally:
        for process in (runner.started if runner else []):
            process.kill()
        if subprocess.run(["umount", str(folder)]).returncode != 0:
            subprocess.run(["umount", "-l", str(folder)])


def free_bytes(folder):
    info = os.statvfs(folder)
    return info.f_bavail * info.f_frsize


def test_full_disk_keeps_old_files_and_the_version(server, small_disk_launcher):
    folder = small_disk_launcher.folder
    (folder / "data").mkdir()
    (folder / "data" / "world.map").write_text("old map")
    free_before = free_bytes(folder)
    assert 1 << 20 < free_before < 2 << 20

    # 1001: an archive larger than the free space; 1002: a small archive whose
    # entry unpacks to more than the free space; 1003 fits.
    write_patch(server, 1001, [("huge.bin", os.urandom(3 << 20))])
    write_patch(server, 1002, [("data/world.map", bytes(4 << 20)), ("small.txt", "fits")])
    write_patch(server, 1003, [("after.txt", "applied")])
    # The file check that follows finds another file wrong whose repair copy
    # does not fit either: no part of it may pass for the file.
    (folder / "data" / "sky.map").write_text("wrong sky")
    new_sky = os.urandom(3 << 20)
    server.content.repair_file("data/sky.map", new_sky)
    digest = hashlib.md5(new_sky).hexdigest()
    small_digest = hashlib.md5(b"fits").hexdigest()
    scenario = patch_list_scenario([1001, 1002, 1003]).replace(
        "hold\n", f"send-filecheck data/sky.map,data/sky.map,{digest}|small.txt,small.txt,{small_digest}\nhold\n")
    server.start(scenario=scenario)
    process = small_disk_launcher.start()
    server.wait_for_log(r"received 15 bytes", START["linux"] + 60)
    wait_until(lambda: "MD5 mismatch" in process.stderr(), 30, message="the file check to end")
    errors = process.stderr()

    assert f"Download failed for: http://{server.address}/patches/1001.zip HRESULT: -23" in errors
    assert f"Failed to extract: {folder}/data/world.map" in errors
    assert "Patch not applied: 1001 Installed version: 1000" in errors
    assert "Patch not applied: 1002 Installed version: 1000" in errors
    assert "Patch not applied: 1003" not in errors
    assert f"Download failed for: http://{server.address}/patches/Launcher/data/sky.map HRESULT: -23" in errors
    assert "MD5 mismatch for: data/sky.map\n" in errors
    assert "MD5 mismatch for: small.txt" not in errors
    # A repair that does not fit leaves the wrong file as it was; nothing else is left.
    assert (folder / "data" / "sky.map").read_text() == "wrong sky"
    assert (folder / "data" / "world.map").read_text() == "old map"
    assert (folder / "small.txt").read_text() == "fits"
    assert (folder / "after.txt").read_text() == "applied"
    assert not (folder / "huge.bin").exists()
    assert (folder / "version.dat").read_text() == "1000"
    assert leftovers(folder) == []
    # Only the kept archive of 1002 and the small files take room now.
    kept = (folder / "Downloads" / "1002.zip").stat().st_size
    assert free_bytes(folder) >= free_before - kept - 64 * 1024
    assert process.alive()


# ------------------------------------------------------------ hostile archives

def understated_entry(path, name, actual_size, declared_size):
    """Rewrites the archive so entry `name` declares `declared_size` bytes while
    its deflated data unpacks to `actual_size` zero bytes."""
    with zipfile.ZipFile(path) as archive:
        info = archive.getinfo(name)
    data = bytearray(path.read_bytes())
    assert info.file_size == actual_size
    local = info.header_offset
    data[local + 22:local + 26] = declared_size.to_bytes(4, "little")
    central = data.find(b"PK\x01\x02")
    while data[central + 46:central + 46 + len(name)] != name.encode():
        central = data.find(b"PK\x01\x02", central + 4)
        assert central >= 0, "central directory entry not found"
    data[central + 24:central + 28] = declared_size.to_bytes(4, "little")
    crc = zlib.crc32(bytes(declared_size))
    data[local + 14:local + 18] = crc.to_bytes(4, "little")
    data[central + 16:central + 20] = crc.to_bytes(4, "little")
    path.write_bytes(bytes(data))


def test_hostile_archives_change_nothing_outside(server, launcher, launcher_build, game_folder, tmp_path):
    if launcher_build.windows:
        pytest.skip("links and case-sensitive names are tested with the Linux build")
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "victim.txt").write_text("untouched")
    (outside / "sub").mkdir()
    (outside / "sub" / "deep.txt").write_text("deep")
    os.symlink(outside, game_folder / "linked")
    os.symlink(outside / "victim.txt", game_folder / "victim.txt")
    before = snapshot(outside)

    write_patch(server, 1001, [
        ("Data/Readme.txt", "first"), ("DATA/README.TXT", "second"), ("data/other.bin", "other"),
        ("linked/planted.txt", "x"), ("LINKED/sub/planted.txt", "x"), ("Linked/sub/deep.txt", "overwritten"),
        ("victim.txt", "overwritten"), ("VICTIM.TXT", "overwritten"),
    ])
    bomb = write_patch(server, 1002, [("bomb.bin", bytes(64 << 20)), ("beside.txt", "applied")])
    understated_entry(bomb, "bomb.bin", 64 << 20, 1000)
    assert bomb.stat().st_size < 1 << 20
    write_patch(server, 1003, [("last.txt", "applied")])

    server.start(scenario=patch_list_scenario([1001, 1002, 1003]))
    process = launcher.start()
    server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 60)
    errors = process.stderr()

    assert snapshot(outside) == before
    for name in ("linked/planted.txt", "LINKED/sub/planted.txt", "Linked/sub/deep.txt", "victim.txt",
                 "VICTIM.TXT"):
        assert f"Refused unsafe entry: {name}\n" in errors
    assert os.readlink(game_folder / "linked") == str(outside)
    # Names that differ by case are one folder and one file, the last content winning.
    assert sorted(p.name for p in (game_folder / "Data").iterdir()) == ["Readme.txt", "other.bin"]
    assert (game_folder / "Data" / "Readme.txt").read_text() == "second"
    assert not (game_folder / "DATA").exists() and not (game_folder / "data").exists()
    # The entry that unpacks past its declared size is cut and refused.
    assert f"Failed to extract: {game_folder}/bomb.bin" in errors
    assert not (game_folder / "bomb.bin").exists()
    assert (game_folder / "beside.txt").read_text() == "applied"
    assert (game_folder / "last.txt").read_text() == "applied"
    assert "Patch not applied: 1001 Installed version: 1000" in errors
    assert "Patch not applied: 1002 Installed version: 1000" in errors
    assert leftovers(game_folder) == []
    assert process.alive()


# ------------------------------------------------------------ stalled HTTP

def serve_from_range_store(server, files):
    """Moves the server's own HTTP store aside for a RangeStore of `files` on port 80."""
    with socket.socket() as probe:
        probe.bind((server.address, 0))
        spare_port = probe.getsockname()[1]
    store = RangeStore(server.address, files)
    real_command = server.command
    server.command = lambda scenario=None, extra=(): real_command(scenario, ["--http-port", str(spare_port)] + list(extra))
    return store


def test_stalled_and_trickling_downloads_give_up_in_bounded_time_then_resume(server, launcher, launcher_build,
                                                                             game_folder):
    (game_folder / "version.dat").write_text("1000")
    first = write_patch(server, 1001, [("first.txt", "one")])
    second = write_patch(server, 1002, [("second.bin", os.urandom(4000))])
    names = {n: f"/patches/{n}.zip" for n in (1001, 1002)}
    sign(first, second)
    store = serve_from_range_store(server, {names[1001]: first.read_bytes(), names[1002]: second.read_bytes(),
                                            names[1001] + ".minisig": first.with_suffix(".zip.minisig").read_bytes(),
                                            names[1002] + ".minisig": second.with_suffix(".zip.minisig").read_bytes()})
    # 1001 gets no answer at all the first time, 1002 its first bytes at four a second.
    store.faults = {names[1001]: ["stall"], names[1002]: ["trickle"]}
    server.start(scenario=patch_list_scenario([1001, 1002]))
    try:
        process = launcher.start()
        server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 120)
    finally:
        store.close()
    errors = process.stderr()

    for number in (1001, 1002):
        url = f"http://{server.address}{names[number]}"
        assert errors.count(f"Download failed for: {url} HRESULT: ") == 1, number
        # Given up after the time limit: the retry comes a second after that.
        first_try, second_try = [r[5] for r in store.requests if r[0] == names[number]]
        assert 26 < second_try - first_try < 46, (number, second_try - first_try)
    stalled, retried = store.sent(names[1001])
    assert stalled[2] == 0 and retried == (None, 200, first.stat().st_size)
    (trickled_range, _, trickled), retried = store.sent(names[1002])
    assert trickled_range is None and 0 < trickled < 200
    if launcher_build.windows:
        # The URL moniker writes a file only for a transfer that completes, so
        # nothing of the trickle is kept and the retry starts from zero.
        assert retried == (None, 200, second.stat().st_size)
    else:
        # What arrived is kept and only the rest is asked for.
        start = int(retried[0].removeprefix("bytes=").rstrip("-"))
        assert 0 < start <= trickled
        assert retried[1:] == (206, second.stat().st_size - start)
    assert (game_folder / "first.txt").read_text() == "one"
    with zipfile.ZipFile(second) as archive:
        assert (game_folder / "second.bin").read_bytes() == archive.read("second.bin")
    assert "Patch not applied" not in errors
    assert leftovers(game_folder) == []
    assert process.alive()


# ------------------------------------------------------------ resume, mirrors, other tools' archives

def free_port(address):
    """A port on `address` that nothing listens on (a mirror that is down)."""
    with socket.socket() as probe:
        probe.bind((address, 0))
        return probe.getsockname()[1]


def other_tools_archives(folder):
    """(stub, understated): one zip with a self-extracting stub in front, one whose
    end record understates the central directory's size; unzip accepts both."""
    made = folder / "made.zip"
    with zipfile.ZipFile(made, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("data/stubbed.map", os.urandom(70000))
        archive.writestr("stub.txt", "behind a stub")
    stub = b"#!/bin/sh\necho self-extracting stub\nexit 0\n" + b"\x90" * 3000 + made.read_bytes()
    with zipfile.ZipFile(made, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("data/understated.map", os.urandom(70000))
        archive.writestr("understated.txt", "directory size understated")
    understated = bytearray(made.read_bytes())
    end = understated.rfind(b"PK\x05\x06")
    understated[end + 12:end + 16] = (46).to_bytes(4, "little")
    for name, data in (("stub", stub), ("understated", bytes(understated))):
        (folder / f"{name}.zip").write_bytes(data)
        # unzip warns (exit 1 or 2) of the bytes it skipped or compensated, and unpacks everything.
        unzipped = subprocess.run(["unzip", "-qq", "-o", str(folder / f"{name}.zip"), "-d",
                                   str(folder / f"unzip-{name}")], capture_output=True)
        assert len([p for p in (folder / f"unzip-{name}").rglob("*") if p.is_file()]) == 2, unzipped.stderr
    return stub, bytes(understated)


def signatures(folder, files):
    """{path + ".minisig": signature} for {store path: body}, made by minisign."""
    made = {}
    for path, body in files.items():
        copy = folder / path.lstrip("/")
        copy.parent.mkdir(parents=True, exist_ok=True)
        copy.write_bytes(body)
        sign(copy)
        made[path + ".minisig"] = copy.with_name(copy.name + ".minisig").read_bytes()
    return made


def test_resume_restart_mirrors_and_other_tools_archives(server, launcher, launcher_build, game_folder, tmp_path,
                                                        request):
    """One patch list through two mirrors, the first of them down: 1001 is cut off
    and resumed, 1002 is cut off and then changes on the store, 1003 is cut off on
    a store that ignores ranges, 1004 and 1005 come from other tools, and 1006
    fails on every mirror."""
    (game_folder / "version.dat").write_text("1000")
    big = os.urandom(300_000)
    bodies = {}
    for number, entries in ((1001, [("resumed.bin", big)]), (1002, [("changed.txt", "old")]),
                            (1003, [("rangeless.bin", os.urandom(200_000))])):
        bodies[number] = write_patch(server, number, entries).read_bytes()
    changed = write_patch(server, 1002, [("changed.txt", "new"), ("pad.bin", os.urandom(100_000))]).read_bytes()
    bodies[1002] = write_patch(server, 1002, [("changed.txt", "old"), ("pad.bin", os.urandom(100_000))]).read_bytes()
    bodies[1004], bodies[1005] = other_tools_archives(tmp_path)
    names = {n: f"/patches/{n}.zip" for n in range(1001, 1007)}
    files = {names[n]: body for n, body in bodies.items()}
    # Signatures of what the launcher finally accepts (1002's after its change).
    files.update(signatures(tmp_path / "signed", {**files, names[1002]: changed}))
    store = RangeStore(server.address, files, port=0, rate=2_000_000)
    store.faults = {names[1001]: [150_000], names[1002]: [(60_000, changed)], names[1003]: [80_000],
                    names[1006]: ["reset"] * 3}
    store.ignore_ranges = {names[1003]}
    store.files[names[1006]] = bodies[1001]
    down = f"http://{server.address}:{free_port(server.address)}/"
    serving = f"http://{server.address}:{store.port}/"
    server.start(scenario=patch_list_scenario(range(1001, 1007)))
    try:
        process = launcher.start(extra_env={"STARFELL_PATCH_URLS": f"{down};{serving}"})
        server.wait_for_log(r"received 15 bytes", START[launcher_build.kind] + 120)
    finally:
        store.close()
    errors = process.stderr()

    # The first mirror is left for the second with a line naming it, for every patch.
    for number in range(1001, 1007):
        assert f"Giving up on download base: {down} for: patches/{number}.zip" in errors, number
    assert [r[0] for r in store.requests if r[0] == names[1004]] == [names[1004]]

    cut, resumed = store.sent(names[1001])
    assert cut == (None, 200, 150_000)
    start = int(resumed[0].removeprefix("bytes=").rstrip("-"))
    assert 0 < start <= 150_000 and resumed[1:] == (206, len(bodies[1001]) - start)
    assert cut[2] + resumed[2] <= 1.05 * len(bodies[1001])
    # Only the file the bytes came from may be resumed: the range is conditional.
    condition = [r[2] for r in store.requests if r[0] == names[1001]][1]
    assert condition == RangeStore.tag(bodies[1001])
    assert (game_folder / "resumed.bin").read_bytes() == big

    # A file changed since the cut is fetched whole, never spliced onto the old bytes.
    (_, _, old_sent), (asked, status, sent) = store.sent(names[1002])
    assert old_sent == 60_000 and (status, sent) == (200, len(changed))
    assert (game_folder / "changed.txt").read_text() == "new"
    # A store that ignores ranges sends the whole file again and that is what is kept.
    assert store.sent(names[1003])[1][1:] == (200, len(bodies[1003]))
    with zipfile.ZipFile(io.BytesIO(bodies[1003])) as archive:
        assert (game_folder / "rangeless.bin").read_bytes() == archive.read("rangeless.bin")

    # Other tools' archives unpack as unzip -o unpacks them.
    for name in ("stub", "understated"):
        for made in (tmp_path / f"unzip-{name}").rglob("*"):
            if made.is_file():
                relative = made.relative_to(tmp_path / f"unzip-{name}")
                assert (game_folder / relative).read_bytes() == made.read_bytes(), relative

    # Every mirror down: each base is named, the patch is not applied and the status says so.
    assert [r[3] for r in store.requests if r[0] == names[1006]] == [0] * 3  # closed unanswered
    assert f"Giving up on download base: {serving} for: patches/1006.zip" in errors
    assert "Patch not applied: 1006 Installed version: 1005" in errors
    assert "Patch not applied: 100" not in errors.replace("Patch not applied: 1006", "")
    assert status_lines(game_folder)[-1] == "Update incomplete. Please try again later."
    assert leftovers(game_folder) == []
    assert process.alive()
