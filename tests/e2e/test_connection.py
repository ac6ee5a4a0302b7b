# The launcher's connection to the server, end to end: the real launcher of
# each build against the real starfell-server on a loopback address.
import hashlib
import shutil
import struct
import subprocess
import time

import pytest

from e2e_support import (FILE_CHECK, HELLO, REPORT, md5_of, parse_file_check, parse_news, press_button,
                         screenshot, status_lines, wait_for_window, wait_for_window_gone, wait_until)

# Wine needs a few seconds to start a program; native starts are quick.
START = {"linux": 15, "windows": 60}


def greeting_of(server, timeout):
    return server.wait_for_log(r"received 150 bytes: ([0-9a-f]+)$", timeout)[0]


def test_no_server_shows_confirmation_and_exits_0(launcher, launcher_build, artifacts):
    process = launcher.start()
    box = wait_for_window("Confirmation", timeout=START[launcher_build.kind])
    screenshot(artifacts / "confirmation.png", box)
    assert process.alive()
    press_button(box, "OK")
    assert process.wait(15) == 0
    wait_for_window_gone(box)


def test_hello_is_150_bytes_with_own_digest(server, launcher, launcher_build, game_folder):
    server.start(scenario="expect 150\nsend-hello-answer true\nhold\n")
    process = launcher.start()
    hello = bytes.fromhex(greeting_of(server, START[launcher_build.kind]).group(1))
    digest = md5_of(game_folder / launcher_build.file_name).encode()
    assert struct.unpack_from("<I", hello)[0] == HELLO
    assert hello[4] == 32
    assert hello[5:37] == digest
    assert hello[37:] == bytes(113)
    time.sleep(2)
    assert process.alive()
    # Nothing follows the greeting while no patch list came.
    assert server.received_blocks() == [hello]


def test_silent_server_keeps_launcher_waiting(server, launcher, launcher_build):
    server.start(scenario="hold\n")
    process = launcher.start()
    server.wait_for_log(r"received 150 bytes", START[launcher_build.kind])
    time.sleep(3)
    assert process.alive()


@pytest.mark.parametrize("when", ["after-answer", "before-answer"])
def test_server_close_ends_launcher_with_0(server, launcher, launcher_build, when):
    answer = "send-hello-answer true\nwait 1500\n" if when == "after-answer" else "wait 500\n"
    server.start(scenario="expect 150\n" + answer + "close\n")
    process = launcher.start()
    server.wait_for_log(r"received 150 bytes", START[launcher_build.kind])
    closed_at = server.wait_for_log(r" closing$", 10) and time.monotonic()
    assert process.wait(10) == 0
    assert time.monotonic() - closed_at < 1.0


def test_packets_before_answer_are_dropped(server, launcher, launcher_build):
    # A PatchList before the answer would be answered by a report if it were kept;
    # a second answer of "false" would start a self-update if it were handled.
    server.start(scenario="\n".join([
        "expect 150",
        "send-news early news",
        "send-patchlist ",
        "send-filecheck ",
        "send-hello-answer true",
        "send-hello-answer false",
        "wait 3000",
        "hold",
    ]))
    process = launcher.start()
    server.wait_for_log(r" holding$", START[launcher_build.kind] + 10)
    time.sleep(1)
    assert process.alive()
    assert server.received_blocks()[1:] == []
    assert not server.matching(r"^http ")


def test_every_patch_list_gets_exactly_one_report(server, launcher, launcher_build):
    server.start(scenario="\n".join([
        "expect 150",
        "send-hello-answer true",
        "send-patchlist ",
        "expect 15",
        "send-patchlist ",
        "expect 15",
        # Two packets in one block are one packet of the first one's type:
        # the PatchList behind the News is lost, so no report follows it.
        "+send-news merged",
        "send-patchlist ",
        # One packet in two blocks is two packets: a 3-byte block without a
        # whole type, then a block of type 0; neither is a PatchList.
        "send ea 03 00",
        "send 00 00",
        "wait 2000",
        "hold",
    ]))
    process = launcher.start()
    server.wait_for_log(r" holding$", START[launcher_build.kind] + 15)
    time.sleep(1)
    assert process.alive()
    blocks = server.received_blocks()
    assert len(blocks) == 3, blocks
    assert blocks[1] == REPORT and blocks[2] == REPORT


def test_whole_conversation_with_content_folder(server, server_binary, launcher, launcher_build, game_folder,
                                                tmp_path):
    # A clean game folder gives the file list; the player's folder is a copy of it.
    clean = tmp_path / "clean"
    (clean / "data").mkdir(parents=True)
    (clean / "data" / "items.dat").write_bytes(bytes(range(256)) * 4)
    (clean / "readme.txt").write_text("Starfell\n")
    manifest = subprocess.run([str(server_binary), "manifest", "--game", str(clean)], capture_output=True,
                              text=True, timeout=30, check=True).stdout
    (server.content.root / "files.txt").write_text(manifest)
    for path in clean.rglob("*"):
        if path.is_file():
            relative = path.relative_to(clean)
            server.content.repair_file(relative.as_posix(), path.read_bytes())
            (game_folder / relative).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(path, game_folder / relative)
    server.content.news("Welcome to Starfell", "Server maintenance on Friday")
    server.content.launcher_build(launcher_build.launcher, launcher_build.file_name)
    server.start()

    process = launcher.start()
    digest = md5_of(game_folder / launcher_build.file_name)
    server.wait_for_log(rf"hello digest={digest} verdict=true$", START[launcher_build.kind])
    server.wait_for_log(r" report received$", 30)
    (sent,) = server.wait_for_log(r" sent FileCheck 2 entries \d+ bytes: ([0-9a-f]+)$", 10)
    time.sleep(2)
    assert process.alive()

    kinds = [what.split()[0] for what, _ in server.sent_packets()]
    assert kinds == ["Hello", "News", "PatchList", "FileCheck"]
    (news,) = [packet for what, packet in server.sent_packets("News")]
    assert parse_news(news) == ["Welcome to Starfell", "Server maintenance on Friday"]
    header, entries = parse_file_check(bytes.fromhex(sent.group(1)))
    assert ["\t".join(entry) for entry in entries] == manifest.splitlines()
    assert entries[0] == ("data/items.dat", "data/items.dat", md5_of(clean / "data" / "items.dat"))


def test_a_whole_run_then_the_server_closing_ends_cleanly_with_0(server, launcher, launcher_build, game_folder):
    """Hello, news, a patch list with a refused entry and, right behind it with no
    report in between, a file check that needs the patch's file and one repair;
    then the server closes while the work is still about: the check runs after
    the patch, and the launcher ends with 0. Run against a ThreadSanitizer
    build, any report it writes fails this."""
    (game_folder / "version.dat").write_text("1000")
    server.content.patch(1001, {"../outside.txt": "refused", "a.txt": "one"})
    server.content.repair_file("b.txt", "fixed")
    server.start(scenario="read-hello\nsend-verdict\nsend-news Welcome\nsend-patchlist 1001\nwait 300\n"
                          f"send-filecheck a.txt,a.txt,{hashlib.md5(b'one').hexdigest()}|"
                          f"b.txt,b.txt,{hashlib.md5(b'fixed').hexdigest()}\nwait 4000\nclose\n")
    process = launcher.start()
    assert process.wait(START[launcher_build.kind] + 90) == 0
    assert (game_folder / "a.txt").read_text() == "one"
    assert (game_folder / "b.txt").read_text() == "fixed"
    # The check waited for the patch: it found a.txt in place and fetched only b.txt
    # (its Ready stays behind the refused entry's lasting failure).
    incomplete = "Update incomplete. Please try again later."
    assert status_lines(game_folder)[1:] == ["Downloading version: 1001/1001", incomplete, "Checking missing files.",
                                             "Downloading b.txt file.", incomplete]
    assert not (game_folder.parent / "outside.txt").exists()
    assert "ThreadSanitizer" not in process.stderr(), process.stderr()


@pytest.mark.parametrize("verdict", ["FALSE", "false ", "", "false\\x00more"],
                         ids=["upper-case", "trailing-byte", "empty", "nul-then-more"])
def test_only_exact_false_is_outdated(server, launcher, launcher_build, verdict):
    server.start(scenario=f"expect 150\nsend-hello-answer {verdict}\nwait 3000\nhold\n")
    process = launcher.start()
    server.wait_for_log(r" holding$", START[launcher_build.kind] + 10)
    assert process.alive()
    assert not server.matching(r"^http ")
