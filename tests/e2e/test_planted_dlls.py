# The elevated launcher runs from the game folder, where games keep wrappers of
# system DLLs (d3d8.dll above all): it must load none of them. Windows build
# under Wine, with Wine told to prefer DLLs found beside the program as
# Windows does, so a planted copy would really be taken.
import os
import subprocess

import pytest

from e2e_support import WINE_RUN, wait_for_window, wait_until
from test_update import write_patch
from test_window import wine_display_prefix  # noqa: F401  (a fixture)

# The DLLs the launcher uses that are outside Windows' protected system set.
PLANTED = ("d3d8", "dwmapi", "urlmon", "wininet", "xinput1_4", "xinput1_3")
PREFER_PLANTED = "mscoree=d;mshtml=d;" + ",".join(PLANTED) + "=n,b"


@pytest.fixture
def planted(launcher_build, game_folder):
    """The look-alike DLL planted in the game folder under every name; returns the markers left."""
    if not launcher_build.windows:
        pytest.skip("DLL search order is a Windows matter")
    data = (launcher_build.launcher.parent / "planted.dll").read_bytes()
    for name in PLANTED:
        (game_folder / f"{name}.dll").write_bytes(data)
    return lambda: sorted(p.name for p in game_folder.glob("*.loaded"))


def test_dlls_planted_in_the_game_folder_are_never_loaded(server, launcher, game_folder, planted,
                                                         wine_display_prefix):
    write_patch(server, 1001, [("patched.txt", "patched")])  # a download: urlmon and wininet
    server.start()
    process = launcher.start(extra_env=dict(wine_display_prefix, WINEDLLOVERRIDES=PREFER_PLANTED))

    wait_for_window("Starfell", timeout=120)  # Direct3D 8 from the system folder
    server.wait_for_log(r"report received", 60)
    assert (game_folder / "patched.txt").read_text() == "patched"
    assert process.alive()
    assert planted() == []


def test_a_plain_load_would_take_the_planted_dll(game_folder, planted):
    """The probe itself: a program loading the planted d3d8.dll leaves the marker."""
    subprocess.run([str(WINE_RUN), "rundll32", f"{game_folder / 'd3d8.dll'},Nothing"], cwd=game_folder,
                   env=dict(os.environ, WINEDLLOVERRIDES=PREFER_PLANTED), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    assert wait_until(lambda: "d3d8.dll.loaded" in planted(), 10, message="the planted DLL's marker")
