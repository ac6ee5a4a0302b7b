# starfell-server under load and abuse, on loopback: a thousand launchers at
# once, hundreds of clients that trickle or never send or read slowly, an
# exhausted open-file limit, and clients that try to forge or bloat the log. Clients come from many
# loopback source addresses, as from many machines.
import asyncio
import os
import struct
import time
import urllib.request

import pytest

from e2e_support import HELLO, NEWS, PATCH_LIST, FILE_CHECK, REPORT, hello_packet, wait_until

GREETING = hello_packet(b"None")


def source(n, block):
    """The n-th client's source address: 20 clients per address."""
    return f"127.{block}.{n // 20 // 250}.{n // 20 % 250 + 1}"


async def read_text(reader):
    (length,) = await reader.readexactly(1)
    return await reader.readexactly(length)


async def conversation(address, src):
    """One launcher-like conversation, packets read by their layouts; returns the FileCheck entry count."""
    reader, writer = await asyncio.open_connection(address, 9538, local_addr=(src, 0))
    try:
        writer.write(GREETING)
        kind, = struct.unpack("<I", await reader.readexactly(4))
        assert kind == HELLO and await read_text(reader) == b"true"
        while True:
            kind, = struct.unpack("<I", await reader.readexactly(4))
            if kind == PATCH_LIST:
                await read_text(reader)
                break
            assert kind == NEWS
            (count,) = await reader.readexactly(1)
            for _ in range(count):
                await read_text(reader)
        writer.write(REPORT)
        kind, = struct.unpack("<I", await reader.readexactly(4))
        (count,) = await reader.readexactly(1)
        await read_text(reader)
        for _ in range(3 * count):
            await read_text(reader)
        assert kind == FILE_CHECK
        return count
    finally:
        writer.close()


def fill_content(server):
    server.content.news("Welcome", "Second line")
    server.content.patch(1001, {"a.txt": "a"})
    server.content.files([("a.txt", "a.txt", "0" * 32)])


def test_a_thousand_launchers_at_once(server):
    fill_content(server)
    server.start()

    async def everyone():
        return await asyncio.wait_for(asyncio.gather(*(conversation(server.address, source(n, 77))
                                                       for n in range(1000))), 180)
    started = time.monotonic()
    counts = asyncio.run(everyone())
    elapsed = time.monotonic() - started
    assert counts == [1] * 1000
    server.wait_for_log(r"closed by launcher", count=1000, timeout=30)
    assert not server.matching(r" refused ")
    print(f"\nconnections served: {len(counts)} concurrent conversations in {elapsed:.1f} s")


async def slow_client(address, port, src, trickle, stop):
    """Trickles a request one byte a second, or sends nothing, until `stop` is set or the server closes."""
    try:
        reader, writer = await asyncio.open_connection(address, port, local_addr=(src, 0))
    except OSError:
        return
    message = GREETING if port == 9538 else b"GET /patches/1001.zip HTTP/1.1\r\nHost: x\r\n" + b"X: y\r\n" * 100
    try:
        for byte in message:
            if stop.is_set() or reader.at_eof():
                break
            if trickle:
                writer.write(bytes([byte]))
            try:
                await asyncio.wait_for(stop.wait(), 1)
            except asyncio.TimeoutError:
                pass
    except OSError:
        pass
    finally:
        writer.close()


async def pause(stop, seconds):
    try:
        await asyncio.wait_for(stop.wait(), seconds)
    except asyncio.TimeoutError:
        pass


async def slow_reader(address, src, stop):
    """Asks for the 50 MB patch and reads it at 64 KiB a second, asking again
    whenever the server cuts it off, until `stop` is set: a client that means
    to hold a download worker."""
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection(address, 80, local_addr=(src, 0))
        except OSError:
            return
        try:
            writer.write(b"GET /patches/1002.zip HTTP/1.1\r\nHost: x\r\n\r\n")
            while not stop.is_set() and await reader.read(6553):
                await pause(stop, 0.1)
        except OSError:
            pass
        finally:
            writer.close()
        await pause(stop, 1)


def timed_download(url):
    started = time.monotonic()
    body = urllib.request.urlopen(url, timeout=60).read()
    return time.monotonic() - started, len(body)


def test_slow_clients_do_not_hold_up_launchers(server):
    fill_content(server)
    (server.content.root / "patches" / "1002.zip").write_bytes(os.urandom(50 * 1024 * 1024))
    # The least rate is raised above the slow readers' pace, far below that of the downloads measured.
    server.start(extra=["--http-least-rate", str(1024 * 1024)])
    url = f"http://{server.address}/patches/1002.zip"

    def measure():
        started = time.monotonic()
        asyncio.run(conversation(server.address, "127.0.0.1"))
        talk = time.monotonic() - started
        # The slowest of three: one that waits for a worker must show.
        download, size = max(timed_download(url) for _ in range(3))
        assert size == 50 * 1024 * 1024
        return talk, download

    quiet_talk, quiet_download = measure()

    async def flood_and_measure():
        stop = asyncio.Event()
        clients = [asyncio.create_task(slow_client(server.address, 9538 if n % 2 else 80, source(n, 78),
                                                   n % 4 < 2, stop)) for n in range(500)]
        # Four addresses of slow readers, each with as many downloads as it may open: together as many
        # as there are workers, unless one address gets only a few of them.
        clients += [asyncio.create_task(slow_reader(server.address, f"127.80.0.{1 + n // 32}", stop))
                    for n in range(4 * 32)]
        started = time.monotonic()
        await asyncio.sleep(3)  # every slow client connected and trickling
        loop = asyncio.get_running_loop()
        result = await loop.run_in_executor(None, measure)
        # The slow readers are cut off, the first of them within two periods of the time limit.
        await loop.run_in_executor(None, lambda: server.wait_for_log(
            r"^http GET /patches/1002\.zip 200 \d+ cut off$", count=8, timeout=30))
        cut = time.monotonic() - started
        stop.set()
        await asyncio.gather(*clients)
        return result + (cut,)
    flood_talk, flood_download, cut = asyncio.run(flood_and_measure())
    print(f"\nconversation {quiet_talk:.2f} s quiet, {flood_talk:.2f} s beside 500 slow clients and 128 slow "
          f"readers; 50 MB download {quiet_download:.2f} s quiet, {flood_download:.2f} s beside them; "
          f"8 slow readers cut off after {cut:.1f} s")
    # Half a second of slack for a loaded test machine; a held-up worker costs a whole time limit (10 s).
    assert flood_talk <= 2 * quiet_talk + 0.5
    assert flood_download <= 2 * quiet_download + 0.5


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_open_file_limit_refuses_then_recovers(server, tmp_path):
    fill_content(server)
    wrapper = tmp_path / "limited-server"
    wrapper.write_text(f"#!/bin/sh\nexec prlimit --nofile=96:96 -- {server.binary} \"$@\"\n")
    wrapper.chmod(0o755)
    server.binary = str(wrapper)
    server.start()

    async def flood():
        held = []
        for n in range(200):
            try:
                held.append(await asyncio.wait_for(
                    asyncio.open_connection(server.address, 9538, local_addr=(source(n, 79), 0)), 5))
            except (OSError, asyncio.TimeoutError):
                pass
        return held

    loop = asyncio.new_event_loop()
    held = loop.run_until_complete(flood())
    server.wait_for_log(r"^tcp refused \d+ connections?: out of file descriptors", timeout=20)
    before, started = cpu_seconds(server.process.pid), time.monotonic()
    time.sleep(3)
    used = cpu_seconds(server.process.pid) - before
    print(f"\nserver CPU while out of descriptors: {used:.2f} s in {time.monotonic() - started:.1f} s")
    assert used < 1.0  # a spinning accept loop would use the whole 3 s
    for _, writer in held:
        writer.close()
    loop.run_until_complete(asyncio.sleep(0.5))
    loop.close()
    # Once the flood is gone the server serves again (the held greetings time out within 10 s).
    assert wait_until(lambda: asyncio.run(conversation(server.address, "127.0.0.1")) == 1, 30)


def test_client_bytes_cannot_forge_or_bloat_the_log(server):
    import http.client
    import socket
    server.start()
    forged = b"x\ntcp 10.0.0.1:1 hello digest=forged verdict=true\r\x1b[2J"
    with socket.create_connection((server.address, 9538), timeout=10) as client:
        client.sendall(hello_packet(forged))
        client.recv(1024)
        client.sendall((b"\n" + b"A" * 1023) * 1024)  # 1 MB of long "lines"
        time.sleep(1)
    for path in ["/%0Ahttp%20GET%20/forged%20200%201%1B[2J" + "B" * 6000,
                 "/patches/1001.zip%20200%201%5Cx0a"]:  # fields of its own, an escape of its own
        connection = http.client.HTTPConnection(server.address, 80, timeout=10)
        connection.request("GET", path)
        connection.getresponse().read()
    server.wait_for_log(r"^http GET /\\x0ahttp\\x20GET\\x20/forged\\x20200\\x201\\x1b\[2JB+ \.\.\.\(\d+ more bytes\)$")
    server.wait_for_log(r"^http GET /patches/1001\.zip\\x20200\\x201\\x5cx0a 404 0$")
    assert not server.matching(r"http GET /patches/(\d+)\.zip ")
    server.wait_for_log(r"more bytes received; not logged any further")
    server.stop()
    raw = server.log_path.read_bytes()
    lines = raw.split(b"\n")
    assert not any(line.startswith((b"tcp 10.0.0.1", b"http GET /forged")) for line in lines)
    assert b"\x1b" not in raw and b"\r" not in raw
    assert max(len(line) for line in lines) <= 4096 + 40
    assert len(raw) < 100_000, len(raw)
    assert server.matching(r"hello digest=x\\x0atcp\\x2010\.0\.0\.1:1\\x20hello\\x20digest=forged\\x20verdict=true"
                           r"\\x0d\\x1b\[2J verdict=true$")
