# The launcher window: when it appears, where, what it shows, how Alt+F4 ends
# it, and (with the window test program) that the renderer clips to each draw
# command's rectangle and keeps its text across a device reset.
import os
import re
import socket
import struct
import subprocess
import threading
import time
from pathlib import Path

import pytest

from e2e_support import (HELLO, REPO, WINE_RUN, click, find_windows, screenshot, send_keys, wait_for_window,
                         wait_until, window_geometry)

WINDOW_AT = (485, 275, 950, 530)  # centred on the 1920x1080 display


@pytest.fixture
def wine_display_prefix(launcher_build, xvfb):
    """For a Windows build, a Wine prefix whose wine server serves only this display.

    Wine takes the screen size from the desktop of the wine server's first
    client; a shared prefix whose server was started for another display (or
    none, as the unit tests are) would report another screen size."""
    if not launcher_build.windows:
        return {}
    display = "".join(c if c.isalnum() else "_" for c in xvfb.split(":", 1)[-1])
    return {"WINEPREFIX": str(REPO / "build" / f"wineprefix-display{display}")}


class HelloServer:
    """A game server that answers the hello only when told to, then stays silent."""

    def __init__(self, address):
        self.listener = socket.create_server((address, 9538))
        self.listener.settimeout(60)
        self.connection = None
        self.hello = b""
        self.received = threading.Event()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        self.connection, _ = self.listener.accept()
        while len(self.hello) < 150:
            chunk = self.connection.recv(150 - len(self.hello))
            if not chunk:
                break
            self.hello += chunk
        self.received.set()

    def answer(self):
        assert self.received.wait(120), "no hello received"
        self.connection.sendall(struct.pack("<IB", HELLO, 4) + b"true")

    def close(self):
        for s in (self.connection, self.listener):
            if s is not None:
                s.close()


@pytest.fixture
def hello_server(server_address):
    instance = HelloServer(server_address)
    yield instance
    instance.close()


def read_ppm(path):
    """(width, height, rgb bytes) of a binary PPM."""
    data = Path(path).read_bytes()
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    width, height = int(match.group(1)), int(match.group(2))
    return width, height, data[match.end():]


class Picture:
    """Pixels of a window, read once from a screenshot."""

    def __init__(self, window, folder, name):
        self.png = screenshot(Path(folder) / f"{name}.png", window)
        ppm = Path(folder) / f"{name}.ppm"
        subprocess.run(["convert", str(self.png), str(ppm)], check=True, timeout=30)
        self.width, self.height, self.rgb = read_ppm(ppm)
        ppm.unlink()

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def region(self, x0, y0, x1, y1):
        return [self.at(x, y) for y in range(y0, y1) for x in range(x0, x1)]


def picture_when(window, folder, name, ready, timeout=20):
    """A Picture once `ready(picture)` holds, looking again every half second: a loaded
    machine may take seconds to draw the frame a test waits for. After `timeout` the
    last picture is returned, for the caller's assertions to describe."""
    deadline = time.monotonic() + timeout
    while True:
        picture = Picture(window, folder, name)
        if ready(picture) or time.monotonic() >= deadline:
            return picture
        time.sleep(0.5)


def horizon_drawn(picture):
    return max(r for r, _, _ in picture.region(450, 250, 650, 330)) > 200


def is_accent(rgb):
    r, g, b = rgb
    return r > 200 and 70 < g < 140 and b < 60


def launcher_windows():
    return find_windows("^Starfell$")


def test_window_opens_centred_after_the_hello_answer_and_shows_background_and_title(
        launcher, hello_server, wine_display_prefix, artifacts):
    process = launcher.start(extra_env=wine_display_prefix)
    assert hello_server.received.wait(120), "the launcher sent no hello"
    # Before the answer: no window, however long we wait.
    time.sleep(3)
    assert process.alive()
    assert launcher_windows() == []

    hello_server.answer()
    try:
        window = wait_for_window("Starfell", timeout=60)
    except TimeoutError as error:  # a window that never came, or a launcher that died
        raise TimeoutError(f"{error}; launcher still running: {process.alive()}") from None
    # The window is created at (100, 100) and then centred once.
    deadline = time.monotonic() + 10
    while window_geometry(window) != WINDOW_AT and time.monotonic() < deadline:
        time.sleep(0.2)
    assert window_geometry(window) == WINDOW_AT

    picture = picture_when(window, artifacts, f"window-{launcher.build.kind}", horizon_drawn)
    # Background: a dark starry sky at the top, the orange horizon glow in the middle.
    sky = picture.region(300, 60, 320, 80)
    assert all(max(p) < 80 for p in sky) and any(p != (0, 0, 0) for p in sky)
    glow = picture.region(450, 250, 650, 330)
    assert max(r for r, _, _ in glow) > 200
    # The title "Starfell  v" in the accent colour at (10, 10).
    title = picture.region(10, 10, 80, 26)
    assert sum(map(is_accent, title)) > 40
    assert not any(map(is_accent, picture.region(10, 40, 80, 56)))
    # The frame: accent at alpha 0.6 along the edges.
    left_edge = picture.at(0, 265)
    assert left_edge[0] > 120 and left_edge[0] > left_edge[1] > left_edge[2]
    if not launcher.build.windows:
        # The task bar's icon: the Windows icon's 32 x 32 artwork comes first.
        icon = subprocess.run(["xprop", "-id", str(window), "_NET_WM_ICON"], capture_output=True, text=True,
                              timeout=30).stdout
        assert re.match(r"_NET_WM_ICON\(CARDINAL\) =\s*Icon \(32 x 32\):", icon), icon[:200]


def test_alt_f4_ends_the_launcher_with_exit_code_0(launcher, hello_server, wine_display_prefix):
    process = launcher.start(extra_env=wine_display_prefix)
    hello_server.answer()
    window = wait_for_window("Starfell", timeout=120)
    time.sleep(1)
    send_keys(window, "alt+F4")
    assert process.wait(20) == 0


def test_without_a_display_the_launcher_says_so_and_ends_with_1(launcher, hello_server):
    """SDL falls back to drivers that show nothing when no X server answers: the
    launcher must not run on unseen."""
    if launcher.build.windows:
        pytest.skip("Wine's own start needs the display")
    process = launcher.start(extra_env={"DISPLAY": ":65000"})
    hello_server.answer()
    assert process.wait(60) == 1
    assert "Cannot start the video system: no display could be reached" in process.stderr()


@pytest.mark.parametrize("stencil", ["offered", "missing"])
def test_child_region_content_is_clipped_to_its_rectangle(launcher_build, xvfb, wine_display_prefix, artifacts,
                                                          stencil):
    """With `missing`, the Windows renderer is made to find no stencil format (the
    probe's own switch): the window must still be drawn, unclipped, and say so once."""
    probe = launcher_build.launcher.parent / ("clip_probe.exe" if launcher_build.windows else "clip_probe")
    if not probe.exists():
        pytest.skip(f"{probe} was not built")
    if stencil == "missing" and not launcher_build.windows:
        pytest.skip("the OpenGL build clips with the scissor test, which needs no stencil")
    env = dict(os.environ, DISPLAY=xvfb, WINEDEBUG="-all", **wine_display_prefix)
    if stencil == "missing":
        env["CLIP_PROBE_NO_STENCIL"] = "1"
    command = [str(WINE_RUN), str(probe)] if launcher_build.windows else [str(probe)]
    stderr_path = artifacts / f"clip_probe-{stencil}.stderr"
    with open(stderr_path, "wb") as err:
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=err, start_new_session=True)
    try:
        window = wait_for_window("Starfell", timeout=120)
        red, black, green = (255, 0, 0), (0, 0, 0), (0, 255, 0)
        # The control square shows once the first frame is drawn.
        picture = picture_when(window, artifacts, f"clip-{launcher_build.kind}-{stencil}",
                               lambda picture: picture.at(650, 150) == green)
        # The child region (100,100)-(300,200) is red up to each of its edges (white
        # text lies over part of it) ...
        for edge in ([(100, y) for y in range(100, 200)], [(299, y) for y in range(100, 200)],
                     [(x, 100) for x in range(100, 300)], [(x, 199) for x in range(100, 300)]):
            assert sum(picture.at(x, y) == red for x, y in edge) > len(edge) // 10, edge[0]
        corners = [(60, 60), (399, 299), (350, 250)]
        if stencil == "missing":
            # ... the whole rectangle from (50,50) to (400,300) shows, and the log says why.
            assert all(picture.at(x, y) == red for x, y in corners)
            lines = [line for line in stderr_path.read_text(errors="replace").splitlines()
                     if "no stencil buffer" in line]
            assert len(lines) == 1, lines
        else:
            # ... and the rectangle drawn from (50,50) to (400,300) shows nowhere outside it.
            for x, y in [(99, 150), (300, 150), (150, 99), (150, 200)] + corners:
                assert picture.at(x, y) == black, (x, y)
            outside = [p for y in range(40, 320, 4) for x in range(40, 420, 4)
                       if not (100 <= x < 300 and 100 <= y < 200) for p in [picture.at(x, y)]]
            assert all(p == black for p in outside)
        child = picture.region(100, 100, 300, 200)
        assert sum(min(p) > 200 for p in child) > 200  # its white text
        # The control square drawn by the root window; a click on the button turns it blue.
        assert picture.at(650, 150) == green
        click(window, 660, 320)
        wait_until(lambda: Picture(window, artifacts, f"clicked-{stencil}").at(650, 150) == (0, 0, 255), 10,
                   message="the click to reach the GUI")
        if launcher_build.windows:
            # The probe reset the device after the click: the text comes through
            # unchanged, though the GUI no longer holds the font texture's pixels.
            assert "device reset" in stderr_path.read_text(errors="replace").splitlines()
            assert Picture(window, artifacts, f"reset-{stencil}").region(100, 100, 300, 200) == child
    finally:
        try:
            os.killpg(process.pid, 9)
        except ProcessLookupError:
            pass
        process.wait(10)
