# The caching nginx of the operators' guide, taken from the guide itself, in
# front of starfell-server's store: the launcher updates through it, the origin
# is asked once per file, and ranges are answered from the cache only for the
# same file.
import http.client
import re
import shutil
import subprocess
import zipfile

import pytest

from e2e_support import REPO, wait_until

GUIDE = REPO / "docs" / "operators.md"


def guide_proxy_config():
    """The nginx example under "A caching reverse proxy" in the operators' guide."""
    text = GUIDE.read_text(encoding="utf-8")
    section = text[text.index("### A caching reverse proxy"):]
    return re.search(r"```nginx\n(.*?)```", section, re.S).group(1)


@pytest.fixture
def caching_proxy(server, tmp_path):
    """nginx in the foreground on port 80 of the test's address, configured as the guide says;
    yields the origin's port, where the test starts the server's own store."""
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    if not shutil.which(nginx):
        pytest.skip("nginx is not installed (scripts/setup.sh installs it)")
    origin_port = 8081
    prefix = tmp_path / "nginx"
    (prefix / "cache").mkdir(parents=True)
    site = (guide_proxy_config().replace("198.51.100.20:80", f"{server.address}:80")
            .replace("203.0.113.10:8081", f"{server.address}:{origin_port}")
            .replace("/var/cache/nginx/starfell", str(prefix / "cache")))
    (prefix / "nginx.conf").write_text(
        "daemon off;\nuser root;\nworker_processes 1;\npid nginx.pid;\nerror_log stderr warn;\n"
        "events { worker_connections 64; }\nhttp {\n    access_log off;\n"
        + "".join(f"    {kind}_temp_path {kind}_temp;\n" for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        + site + "}\n")
    with open(prefix / "stderr", "wb") as errors:
        process = subprocess.Popen([nginx, "-p", str(prefix), "-c", "nginx.conf"], stderr=errors,
                                   stdin=subprocess.DEVNULL)

    def listening():
        assert process.poll() is None, (prefix / "stderr").read_text()
        try:
            http.client.HTTPConnection(server.address, 80, timeout=1).connect()
            return True
        except OSError:
            return False
    try:
        wait_until(listening, 10, message="nginx to listen")
        yield origin_port
    finally:
        process.terminate()
        process.wait(10)


def get(address, path, headers=None):
    connection = http.client.HTTPConnection(address, 80, timeout=10)
    connection.request("GET", path, headers=headers or {})
    response = connection.getresponse()
    answer = (response.status, dict(response.getheaders()), response.read())
    connection.close()
    return answer


def test_update_through_the_guides_caching_proxy(server, caching_proxy, launcher, launcher_build, game_folder):
    (game_folder / "version.dat").write_text("1000")
    body = bytes(range(256)) * 2000
    archive = server.content.patch(1001, {"data/through.bin": body, "version.dat": "1001"})
    scenario = "read-hello\nsend-verdict\nsend-patchlist 1001\nexpect 15\nhold\n"
    server.start(scenario=scenario, extra=["--http-port", str(caching_proxy)])

    process = launcher.start()
    server.wait_for_log(r"received 15 bytes", 120 if launcher_build.windows else 30)
    assert (game_folder / "data" / "through.bin").read_bytes() == body
    assert (game_folder / "version.dat").read_text() == "1001"
    assert "Download failed" not in process.stderr()

    # Served from the cache from now on; the origin was asked once.
    status, headers, whole = get(server.address, "/patches/1001.zip")
    assert (status, whole, headers["X-Cache-Status"]) == (200, archive.read_bytes(), "HIT")
    assert len(server.matching(r"^http GET /patches/1001\.zip ")) == 1
    # A resumed download: the rest only while the origin's validator still names the file.
    for condition in (headers["ETag"], headers["Last-Modified"]):
        status, answer, rest = get(server.address, "/patches/1001.zip",
                                   {"Range": "bytes=1000-", "If-Range": condition})
        assert (status, rest) == (206, whole[1000:]), condition
    status, _, again = get(server.address, "/patches/1001.zip", {"Range": "bytes=1000-", "If-Range": '"other"'})
    assert (status, again) == (200, whole)
    assert get(server.address, "/patches/1002.zip")[0] == 404
    assert get(server.address, "/news.txt")[0] == 404
