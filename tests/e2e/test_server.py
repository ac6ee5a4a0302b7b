# starfell-server on its own, driven by a plain socket client: the packets it
# builds, what it refuses, and how it starts and stops.
import socket
import struct
import subprocess
import time

import pytest

from e2e_support import (HELLO, NEWS, PATCH_LIST, REPORT, hello_packet, md5_of, parse_file_check,
                         parse_news, read_text_field, wait_until)


def connect(server):
    client = socket.create_connection((server.address, 9538), timeout=10)
    return client


def receive_packets(client, count, timeout=10):
    """`count` blocks as the server sent them (it spaces its packets 250 ms apart)."""
    packets = []
    client.settimeout(timeout)
    for _ in range(count):
        packets.append(client.recv(1024))
    return packets


def test_conversation_packets_and_verdicts(server, tmp_path):
    build = tmp_path / "StarfellLauncher"
    build.write_bytes(b"current build")
    server.content.launcher_build(build, "StarfellLauncher")
    server.content.news("First line", "Zweite Zeile \u00fc")
    for number in (1002, 999, 1001):
        server.content.patch(number, {"a.txt": "a"})
    (server.content.root / "patches" / "007.zip").write_bytes(b"x")      # leading zero: not listed
    (server.content.root / "patches" / "notes.zip").write_bytes(b"x")
    server.content.files([("data/a.txt", "data/a.txt", "0" * 32)])
    server.start()
    server.wait_for_log(r"content skipped patches/007\.zip")

    with connect(server) as client:
        client.sendall(hello_packet(md5_of(build).encode()))
        answer, news, patches = receive_packets(client, 3)
        assert answer == struct.pack("<IB", HELLO, 4) + b"true"
        assert parse_news(news) == ["First line", "Zweite Zeile \u00fc"]
        assert patches == struct.pack("<IB", PATCH_LIST, 13) + b"999\n1001\n1002"
        # The file list waits for the report.
        client.settimeout(1)
        with pytest.raises(socket.timeout):
            client.recv(1024)
        client.sendall(REPORT)
        (file_check,) = receive_packets(client, 1)
        assert parse_file_check(file_check) == ("files", [("data/a.txt", "data/a.txt", "0" * 32)])
    server.wait_for_log(r"report received")
    server.wait_for_log(r"closed by launcher")

    with connect(server) as client:
        client.sendall(hello_packet(b"None"))
        (answer,) = receive_packets(client, 1)
        assert answer == struct.pack("<IB", HELLO, 5) + b"false"
    server.wait_for_log(r"hello digest=None verdict=false")


def test_news_split_cut_and_patch_list_limit(server):
    # 300 lines need several packets; a long line is cut at 255 bytes without
    # splitting the two-byte character that straddles the limit.
    long_line = "x" * 254 + "\u00e9" + "tail"
    lines = [long_line] + [f"line {n}" for n in range(299)]
    server.content.news(*lines)
    for number in range(1000, 1100):
        (server.content.root / "patches" / f"{number}.zip").write_bytes(b"")
    server.start()

    with connect(server) as client:
        client.sendall(hello_packet(b"None"))
        blocks = []
        client.settimeout(3)
        try:
            while True:
                block = client.recv(1024)
                if not block:
                    break
                blocks.append(block)
        except socket.timeout:
            pass
    news = [b for b in blocks if struct.unpack_from("<I", b)[0] == NEWS]
    assert len(news) >= 2 and all(len(b) <= 1024 for b in news)
    received = [line for packet in news for line in parse_news(packet)]
    assert received[0] == "x" * 254 and received[1:] == lines[1:]

    (patches,) = [b for b in blocks if struct.unpack_from("<I", b)[0] == PATCH_LIST]
    text, end = read_text_field(patches, 4)
    assert end == len(patches) and len(text) <= 255
    numbers = text.split("\n")
    assert numbers[-1] == "1099" and numbers == [str(n) for n in range(1099 - len(numbers) + 1, 1100)]
    assert len(text) + 5 > 255  # one more number would not have fit


@pytest.mark.parametrize("greeting", [b"", hello_packet(b"None")[:149], hello_packet(b"None") + b"\0",
                                      struct.pack("<I", 1003) + bytes(146)],
                         ids=["empty", "short", "long", "wrong-type"])
def test_bad_greeting_closes_connection(server, greeting):
    server.start()
    with connect(server) as client:
        if greeting:
            client.sendall(greeting)
        else:
            client.shutdown(socket.SHUT_WR)
        client.settimeout(15)
        assert client.recv(1024) == b""
    server.wait_for_log(r"bad greeting: .*closing")
    assert not server.matching("sent ")


def test_many_launchers_at_once(server):
    server.start()
    clients = [connect(server) for _ in range(8)]
    for client in clients:
        client.sendall(hello_packet(b"None"))
    for client in clients:
        assert receive_packets(client, 1)[0] == struct.pack("<IB", HELLO, 4) + b"true"
        client.close()
    server.wait_for_log(r"closed by launcher", count=8)


def test_scenario_joins_and_expects(server):
    server.start(scenario="\n".join([
        "# two packets in one block, then a raw packet, then a report check",
        "gap 0",
        "+send-news one|two\\|three",
        "send-patchlist 1\\n2",
        "wait 300",
        "send e8 03 00 00 05",
        "expect 15",
        "send-filecheck a\\,b,a,d1 d2",
        "close",
    ]))
    with connect(server) as client:
        client.settimeout(5)
        joined = client.recv(1024)
        assert parse_news(joined[:19]) == ["one", "two|three"]
        assert joined[19:] == struct.pack("<IB", PATCH_LIST, 3) + b"1\n2"
        assert client.recv(1024) == bytes.fromhex("e803000005")
        client.sendall(REPORT)
        packet = client.recv(1024)
        assert parse_file_check(packet) == ("files", [("a,b", "a", "d1 d2")])
        assert client.recv(1024) == b""
    server.wait_for_log(r"received 15 bytes: " + REPORT.hex() + "$")


def run_server(server_binary, *args, timeout=15):
    return subprocess.run([str(server_binary), *args], capture_output=True, text=True, timeout=timeout)


def test_refuses_unusable_setup(server_binary, server, tmp_path):
    scenario = tmp_path / "bad.txt"
    scenario.write_text("send-news a\nfly away\n")
    result = run_server(server_binary, "serve", "--root", str(server.content.root),
                        "--address", server.address, "--scenario", str(scenario))
    assert result.returncode == 1 and "line 2: unknown step \"fly\"" in result.stderr

    server.content.files("a.txt\tonly two fields\n")
    result = run_server(server_binary, "serve", "--root", str(server.content.root), "--address", server.address)
    assert result.returncode == 1 and "line 1: expected 3 tab-separated fields" in result.stderr

    server.content.files([("../outside.txt", "x", "0" * 32)])
    result = run_server(server_binary, "serve", "--root", str(server.content.root), "--address", server.address)
    assert result.returncode == 1 and "not a relative path inside the game folder" in result.stderr


def test_bind_failures_explain_the_fix(server_binary, server):
    server.start()
    result = run_server(server_binary, "serve", "--root", str(server.content.root), "--address", server.address)
    assert result.returncode == 1 and "another program is using it" in result.stderr

    # An unprivileged user cannot bind port 80.
    result = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                             str(server_binary), "serve", "--root", "/", "--address", server.address,
                             "--tcp-port", "39538"], capture_output=True, text=True, timeout=15)
    assert result.returncode == 1
    assert "run as root" in result.stderr and "setcap cap_net_bind_service=+ep" in result.stderr


def test_http_store_serves_and_logs(server):
    server.content.patch(1001, {"data/x.txt": "x"})
    server.start()
    import urllib.request
    import urllib.error
    body = urllib.request.urlopen(f"http://{server.address}/patches/1001.zip", timeout=10).read()
    assert body == (server.content.root / "patches" / "1001.zip").read_bytes()
    with pytest.raises(urllib.error.HTTPError) as missing:
        urllib.request.urlopen(f"http://{server.address}/patches/1002.zip", timeout=10)
    assert missing.value.code == 404
    server.wait_for_log(rf"^http GET /patches/1001\.zip 200 {len(body)}$")
    server.wait_for_log(r"^http GET /patches/1002\.zip 404 ")

    # Nothing outside the content folder, and no folders, are served.
    import http.client
    (server.content.root.parent / "secret.txt").write_text("secret")
    for path in ["/../secret.txt", "/%2e%2e/secret.txt", "/patches/..%2f..%2fsecret.txt", "/patches",
                 "/patches/", "//etc/passwd"]:
        connection = http.client.HTTPConnection(server.address, 80, timeout=10)
        connection.request("GET", path)
        response = connection.getresponse()
        assert response.status in (400, 404), path
        assert b"secret" not in response.read()
        connection.close()


def test_http_store_resumes_only_the_same_file(server):
    """A Range with If-Range is served 206 only while the validator names the
    stored file; any other condition, a start past the end, or several ranges
    get the whole file with 200 (httplib alone would apply the ranges regardless)."""
    import http.client
    import os
    path = server.content.root / "patches" / "1001.zip"
    path.write_bytes(os.urandom(10_000))
    os.utime(path, ns=(1_700_000_000_123_456_789,) * 2)
    server.start()

    def get(headers):
        connection = http.client.HTTPConnection(server.address, 80, timeout=10)
        connection.request("GET", "/patches/1001.zip", headers=headers)
        response = connection.getresponse()
        answer = (response.status, dict(response.getheaders()), response.read())
        connection.close()
        return answer

    status, headers, body = get({})
    tag, date = headers["ETag"], headers["Last-Modified"]
    assert status == 200 and body == path.read_bytes()
    assert date == "Tue, 14 Nov 2023 22:13:20 GMT" and not tag.startswith("W/")
    for condition in (tag, date, None):
        asked = {"Range": "bytes=4000-"} | ({"If-Range": condition} if condition else {})
        status, headers, part = get(asked)
        assert (status, part, headers["Content-Range"]) == (206, body[4000:], "bytes 4000-9999/10000"), condition
    for asked in ({"Range": "bytes=4000-", "If-Range": '"another"'},
                  {"Range": "bytes=4000-", "If-Range": "Wed, 15 Nov 2023 22:13:20 GMT"},
                  {"Range": "bytes=10000-"}, {"Range": "bytes=20000-", "If-Range": tag}):
        status, headers, whole = get(asked)
        assert (status, whole) == (200, body) and "Content-Range" not in headers, asked
    server.wait_for_log(r"^http GET /patches/1001\.zip 206 10000$", count=3)
    # A last byte past the end asks for the rest.
    status, headers, part = get({"Range": "bytes=4000-99999"})
    assert (status, part, headers["Content-Range"]) == (206, body[4000:], "bytes 4000-9999/10000")

    # Several ranges get the whole file once; a Range header longer than any one range needs, up to
    # 64 KiB of it, is refused before it is parsed, and the store serves on.
    for ranges in (["0-", "0-"], ["0-9999"] * 10):
        status, headers, whole = get({"Range": "bytes=" + ",".join(ranges)})
        assert (status, headers["Content-Length"], whole) == (200, "10000", body), ranges
    assert get({"Range": "bytes=" + "0-," * 300 + "0-"})[0] == 431
    try:
        assert get({"Range": "bytes=" + "0-," * 21845 + "0-"})[0] == 431
    except ConnectionError:
        pass  # or closed while the header was still arriving
    server.wait_for_log(r"^http refused 1 connection: Range header of 908 bytes \(at most 100\); answered 431$")
    assert get({})[2] == body

    # The same size written again a moment later is another file: its tag differs.
    path.write_bytes(os.urandom(10_000))
    status, headers, whole = get({"Range": "bytes=4000-", "If-Range": tag})
    assert (status, whole) == (200, path.read_bytes()) and headers["ETag"] != tag
    # A date that may name two versions written within its second is not trusted.
    status, headers, whole = get({"Range": "bytes=4000-", "If-Range": headers["Last-Modified"]})
    assert status == 200


def test_stops_cleanly_on_signal_and_logs_to_file(server, tmp_path):
    log_file = tmp_path / "server-file.log"
    server.start(extra=["--log", str(log_file)])
    held = connect(server)  # a launcher that never greets must not hold up the stop
    server.wait_for_log(r" connected$")
    started = time.monotonic()
    assert server.stop() == 0
    assert time.monotonic() - started < 3
    assert server.log_lines()[-1] == "stopped"
    assert log_file.read_text().splitlines() == server.log_lines()
    held.close()


def test_manifest_round_trips_and_refuses_oversized_lists(server_binary, tmp_path):
    game = tmp_path / "game"
    (game / "data" / "sub").mkdir(parents=True)
    (game / "Conquer.exe").write_bytes(b"client")
    (game / "data" / "sub" / "map.dat").write_bytes(bytes(range(256)) * 10)
    (game / "data" / "empty.txt").write_bytes(b"")
    result = run_server(server_binary, "manifest", "--game", str(game))
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        f"Conquer.exe\tConquer.exe\t{md5_of(game / 'Conquer.exe')}",
        f"data/empty.txt\tdata/empty.txt\t{md5_of(game / 'data' / 'empty.txt')}",
        f"data/sub/map.dat\tdata/sub/map.dat\t{md5_of(game / 'data' / 'sub' / 'map.dat')}",
    ]

    many = tmp_path / "many"
    many.mkdir()
    for n in range(256):
        (many / f"{n}").write_bytes(b"")
    result = run_server(server_binary, "manifest", "--game", str(many))
    assert result.returncode == 1 and result.stdout == ""
    assert "256 entries; one FileCheck packet holds at most 255" in result.stderr

    # 20 files of 20-character names: few entries, but too many bytes for one packet.
    big = tmp_path / "big"
    big.mkdir()
    for n in range(20):
        (big / f"{n:020d}").write_bytes(b"")
    result = run_server(server_binary, "manifest", "--game", str(big))
    assert result.returncode == 1 and "1024" in result.stderr

    result = run_server(server_binary, "manifest", "--game", str(tmp_path / "absent"))
    assert result.returncode == 1 and "is not a folder" in result.stderr


def test_make_patch_turns_old_folder_into_new(server_binary, tmp_path):
    import filecmp
    import os
    import random
    import zipfile
    rng = random.Random(16)
    old, new, root = tmp_path / "old", tmp_path / "new", tmp_path / "store"
    for n in range(300):
        data = rng.randbytes(rng.randrange(0, 3000))
        for folder in (old, new):
            path = folder / f"data/d{n % 7}/f{n}.bin"
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
    changed = {f"data/d{n % 7}/f{n}.bin" for n in range(0, 300, 9)}
    for name in changed:  # same size, one byte differs: only a byte comparison sees it
        data = bytearray((new / name).read_bytes() or b"\0")
        data[-1] ^= 1
        (new / name).write_bytes(bytes(data))
    added = {"maps/new map.dat", "Conquer.exe"}
    for name in added:
        (new / name).parent.mkdir(parents=True, exist_ok=True)
        (new / name).write_bytes(rng.randbytes(500))
    removed = {"data/d1/f1.bin", "data/d2/f2.bin"}
    for name in removed:
        (new / name).unlink()
    (new / "version.dat").write_text("1004")
    (root / "patches").mkdir(parents=True)
    (root / "patches" / "1003.zip").write_bytes(b"")

    def make(number, *extra):
        return run_server(server_binary, "make-patch", "--from", str(old), "--to", str(new), "--number", number,
                          "--root", str(root), *extra)

    for number in ("1003", "999", "01004", "x"):
        result = make(number)
        assert result.returncode == 1 and os.listdir(root / "patches") == ["1003.zip"], number
    assert "not above the newest patch 1003" in make("1003").stderr

    result = make("1004", "--files")
    assert result.returncode == 0, result.stderr
    for name in removed:
        assert f"warning: removed in the new folder, left in place by the patch: {name}" in result.stderr
    carried = (changed - removed) | added
    entries = [line.split("\t") for line in result.stdout.splitlines()]
    assert sorted(e[0] for e in entries) == sorted(carried)
    assert all(e[1] == e[0] and e[2] == md5_of(new / e[0]) for e in entries)
    with zipfile.ZipFile(root / "patches" / "1004.zip") as archive:
        assert sorted(archive.namelist()) == sorted(carried | {"version.dat"})
        assert archive.read("version.dat") == b"1004"
        archive.extractall(old)
    # Unpacked over the old folder: the new folder byte for byte, plus the removed files.
    for name in removed:
        (old / name).unlink()
    comparison = filecmp.dircmp(old, new)
    def differences(c):
        found = c.left_only + c.right_only + c.diff_files + c.funny_files
        return found + [x for sub in c.subdirs.values() for x in differences(sub)]
    assert differences(comparison) == []
    assert all(filecmp.cmp(old / n, new / n, shallow=False) for n in carried)
