# File verification and repair end to end: the launcher against starfell-server
# with a files.txt, checking the HTTP requests the server logs and the game
# folder afterwards.
import hashlib
import subprocess

import pytest

from e2e_support import (WINE_RUN, press_button, status_lines, topmost, wait_for_window, wait_for_window_gone,
                          wait_until)


def md5(data):
    return hashlib.md5(data.encode() if isinstance(data, str) else data).hexdigest()


def repair_requests(server):
    """Repair files asked for, their signatures left out."""
    return [m.group(1) for m in server.matching(r"http GET /patches/Launcher/(\S+) ") if not m.group(1).endswith(".minisig")]


def file_list_sent(server):
    server.wait_for_log(r"sent FileCheck", timeout=30)


def test_empty_list_repairs_nothing(server, launcher, game_folder):
    server.content.files([])
    server.start()
    process = launcher.start()
    file_list_sent(server)
    # Give the handler a moment; nothing may be fetched or reported.
    with pytest.raises(TimeoutError):
        wait_until(lambda: repair_requests(server) or "MD5 mismatch" in process.stderr(), 2)
    assert process.alive()


def test_wrong_and_missing_files_are_repaired(server, launcher, game_folder):
    (game_folder / "data").mkdir()
    (game_folder / "data" / "a.dat").write_text("stale a")
    (game_folder / "b.dat").write_text("stale b")
    (game_folder / "ok.dat").write_text("fine")
    fresh = {"data/a.dat": "fresh a " * 100, "b.dat": "fresh b", "new/c.dat": "fresh c"}
    for name, data in fresh.items():
        server.content.repair_file(name, data)
    server.content.files([("data\\a.dat", "data\\a.dat", md5(fresh["data/a.dat"])),
                          ("b.dat", "b.dat", md5(fresh["b.dat"])),
                          ("ok.dat", "ok.dat", md5("fine")),
                          ("new/c.dat", "new/c.dat", md5(fresh["new/c.dat"]))])
    server.start()
    process = launcher.start()
    server.wait_for_log(r"http GET /patches/Launcher/new/c\.dat ", timeout=30)
    assert sorted(repair_requests(server)) == ["b.dat", "data/a.dat", "new/c.dat"]
    wait_until(lambda: (game_folder / "new" / "c.dat").exists(), 10)
    assert (game_folder / "data" / "a.dat").read_text() == fresh["data/a.dat"]
    assert (game_folder / "b.dat").read_text() == fresh["b.dat"]
    assert (game_folder / "new" / "c.dat").read_text() == fresh["new/c.dat"]
    assert "MD5 mismatch" not in process.stderr()
    # The status line, as the launcher's log kept it: each repair, then Ready.
    wait_until(lambda: status_lines(game_folder)[-1:] == ["Ready."], 10, message="Ready. in the log")
    shown = status_lines(game_folder)
    assert shown[shown.index("Checking missing files."):] == [
        "Checking missing files.", "Downloading data\\a.dat file.", "Downloading b.dat file.",
        "Downloading new/c.dat file.", "Ready."], shown


def test_unreachable_and_misplaced_repairs_are_not_made(server, launcher, game_folder):
    server.content.repair_file("one/two/deep.dat", "deep content")
    client = (game_folder / "Conquer.exe").read_bytes()
    # The (unsigned) list asks for deep.dat's signed copy in the client's place.
    server.content.files([("one/two/deep.dat", "one/two/deep.dat", md5("deep content")),
                          ("Conquer.exe", "one/two/deep.dat", md5("deep content"))])
    server.start()
    process = launcher.start()
    wait_until(lambda: "MD5 mismatch for: one/two/deep.dat" in process.stderr(), 30)
    assert not (game_folder / "one" / "two").exists()
    assert "Refused repair from another place: Conquer.exe from one/two/deep.dat" in process.stderr()
    assert (game_folder / "Conquer.exe").read_bytes() == client
    failure = "Missing/corrupted files (2): one/two/deep.dat, Conquer.exe. Please restart launcher."
    wait_until(lambda: status_lines(game_folder)[-1:] == [failure], 10, message="the failure in the log")
    assert "Ready." not in status_lines(game_folder)
    assert "MD5 mismatch for: one/two/deep.dat" in (game_folder / "StarfellLauncher.log").read_text()


def test_declined_close_lists_every_file(server, launcher, game_folder):
    if launcher.build.client is None:
        pytest.skip("no stand-in client for this build")
    names = ["x.dat", "y.dat"]
    for name in names:
        (game_folder / name).write_text("old")
        server.content.repair_file(name, "new " + name)
    server.content.files([(name, name, md5("new " + name)) for name in names])
    # The stand-in client keeps running, as a real game would.
    environment = launcher.environment({"STARFELL_CLIENT_LIFETIME": "300"})
    command = [str(game_folder / "Conquer.exe")]
    if launcher.build.windows:
        command = [str(WINE_RUN)] + command
    game = subprocess.Popen(command, cwd=game_folder, env=environment, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        wait_until(lambda: launcher.client_starts(), 30)
        server.start()
        process = launcher.start()
        for _ in names:
            warning = wait_for_window("Warning", timeout=20)
            # Asked for while the window was being made, the box still comes up over it.
            assert topmost(warning, wait_for_window("Starfell", timeout=20)) == warning
            press_button(warning, "No")
            wait_for_window_gone(warning)
            cancelled = wait_for_window("Cancelled", timeout=30)
            press_button(cancelled, "OK")
            wait_for_window_gone(cancelled)
        wait_until(lambda: all(f"MD5 mismatch for: {n}" in process.stderr() for n in names), 30)
        assert repair_requests(server) == []
        assert process.stderr().count("Cannot proceed with update. Game is still running.") == len(names)
        for name in names:
            assert (game_folder / name).read_text() == "old"
    finally:
        game.kill()
        game.wait(10)
