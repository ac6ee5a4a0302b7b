# The Debian packages of `make package`: unpacked into a throw-away root, the
# unit checked by systemd-analyze, the installed server started on loopback
# and greeted by the installed launcher. STARFELL_PACKAGES names the folder
# holding both .deb files (the `packages` ctest sets it); without it this skips.
import hashlib
import os
import signal
import subprocess
from pathlib import Path

import pytest

PACKAGES = os.environ.get("STARFELL_PACKAGES")


@pytest.fixture
def installed(tmp_path):
    if not PACKAGES:
        pytest.skip("STARFELL_PACKAGES is not set")
    root = tmp_path / "root"
    for name in ("starfell-server", "starfell-launcher"):
        (deb,) = Path(PACKAGES).glob(f"{name}_*_amd64.deb")
        subprocess.run(["dpkg-deb", "-x", str(deb), str(root)], check=True, timeout=60)
    return root


def test_packages_install_and_launcher_greets_installed_server(installed, server, xvfb, tmp_path):
    root = installed
    for path in ["usr/bin/starfell-server", "lib/systemd/system/starfell-server.service",
                 "etc/default/starfell-server", "usr/share/doc/starfell-server/operators.md.gz",
                 "usr/share/doc/starfell-server/copyright", "usr/games/starfell-launcher",
                 "usr/lib/starfell-launcher/StarfellLauncher", "usr/share/applications/starfell-launcher.desktop"]:
        assert (root / path).is_file(), path
    icon = root / "usr/share/icons/hicolor/32x32/apps/starfell-launcher.png"
    assert icon.read_bytes().startswith(b"\x89PNG")
    desktop = (root / "usr/share/applications/starfell-launcher.desktop").read_text()
    assert "Exec=starfell-launcher" in desktop and "Icon=starfell-launcher" in desktop

    # The unit as installed, its command pointed at the unpacked binary.
    unit = (root / "lib/systemd/system/starfell-server.service").read_text()
    assert "CAP_NET_BIND_SERVICE" in unit and "User=starfell" in unit and "/srv/starfell" in unit
    checked = tmp_path / "starfell-server.service"
    checked.write_text(unit.replace("/usr/bin/starfell-server", str(root / "usr/bin/starfell-server")))
    result = subprocess.run(["systemd-analyze", "verify", str(checked)], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr

    server.binary = str(root / "usr/bin/starfell-server")
    server.start()
    env = dict(os.environ, HOME=str(tmp_path / "home"), STARFELL_SERVER_ADDRESS=server.address,
               STARFELL_WEBSITE_URL=f"http://{server.address}/", DISPLAY=xvfb)
    env.pop("XDG_DATA_HOME", None)
    launcher = subprocess.Popen([str(root / "usr/games/starfell-launcher")], env=env, start_new_session=True,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        installed_build = root / "usr/lib/starfell-launcher/StarfellLauncher"
        digest = hashlib.md5(installed_build.read_bytes()).hexdigest()
        server.wait_for_log(rf"hello digest={digest} verdict=true", timeout=30)
        game = tmp_path / "home/.local/share/starfell"
        assert (game / "StarfellLauncher").read_bytes() == installed_build.read_bytes()
    finally:
        os.killpg(launcher.pid, signal.SIGKILL)
        launcher.wait(10)
