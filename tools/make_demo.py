#!/usr/bin/env python3
"""Lays out the demo: a game folder with the launcher, the stand-in client and the
client's INI files, and server content with news, patches 1001 and 1002 and a
file list under which two game files need repair. Everything the launcher
fetches is signed by minisign with the test key that the demo builds trust.

    make_demo.py --root build/demo --launcher PATH --client PATH [--game-folder NAME] [--secret-key KEY]
"""
import argparse
import hashlib
import io
import random
import shutil
import stat
import subprocess
import sys
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]

NEWS = [
    "Welcome to Starfell! The demo server is up and patching.",
    "Patch 1002: new sound theme, updated readme and a fresh map.",
    "Double experience weekend starts Friday at 18:00 server time.",
    "100% drop rate on festival lanterns (a '%' stays a '%').",
]


def pattern(size, seed):
    """Deterministic filler standing in for game data; it does not compress,
    so the patches are big enough for their download to show progress."""
    return random.Random(seed).randbytes(size)


# Game files as they are after both patches: what the file list expects.
def final_files():
    return {
        "readme.txt": "Starfell demo client\nInstalled by patch 1002.\n",
        "data/map/starfell.dmap": pattern(6_000_000, 1),
        "data/sound/theme.ogg": pattern(3_000_000, 2),
        "data/texture/logo.dds": pattern(64_000, 3),
        "data/effect/spark.c3": pattern(9_000, 4),
    }


def as_bytes(data):
    return data.encode() if isinstance(data, str) else data


def write_zip(path, files):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, as_bytes(data))
    path.write_bytes(buffer.getvalue())


def write_server(root, files):
    server = root / "server"
    shutil.rmtree(server, ignore_errors=True)
    repairs = server / "patches" / "Launcher"
    repairs.mkdir(parents=True)
    (server / "news.txt").write_text("".join(line + "\n" for line in NEWS), encoding="utf-8")

    # 1001 brings the map and an early readme; 1002 the sound and the final readme.
    # Each carries its version.dat, so a second start finds nothing new to fetch.
    write_zip(server / "patches" / "1001.zip", {
        "readme.txt": "Starfell demo client\nInstalled by patch 1001.\n",
        "data/map/starfell.dmap": files["data/map/starfell.dmap"],
        "version.dat": "1001",
    })
    write_zip(server / "patches" / "1002.zip", {
        "readme.txt": files["readme.txt"],
        "data/sound/theme.ogg": files["data/sound/theme.ogg"],
        "version.dat": "1002",
    })

    # Fresh copies for repairs, each at its game file's own path below patches/Launcher/.
    lines = ["# path\tdownload name\tdigest"]
    for path, data in files.items():
        (repairs / path).parent.mkdir(parents=True, exist_ok=True)
        (repairs / path).write_bytes(as_bytes(data))
        lines.append(f"{path}\t{path}\t{hashlib.md5(as_bytes(data)).hexdigest()}")
    (server / "files.txt").write_text("\n".join(lines) + "\n", encoding="utf-8")
    return server


def write_game(root, folder_name, launcher, client, files):
    game = root / folder_name
    shutil.rmtree(game, ignore_errors=True)
    game.mkdir(parents=True)
    launcher = Path(launcher)
    shutil.copy2(launcher, game / launcher.name)
    shutil.copy2(client, game / "Conquer.exe")
    for path in (game / launcher.name, game / "Conquer.exe"):
        path.chmod(path.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)

    (game / "version.dat").write_text("1000")
    # The client's settings: the GameSetup layout holds the resolution.
    (game / "ini").mkdir()
    (game / "ini" / "GameSetup.ini").write_text(
        "[ScreenMode]\r\nScrWidth=1024\r\nScrHeight=768\r\nFullScrType=0\r\nScreenModeRecord=2\r\n"
        "[Config]\r\nFPS=60\r\n")
    for folder in ("", "Env_DX8", "Env_DX9"):
        (game / folder).mkdir(exist_ok=True)
        (game / folder / "Settings.ini").write_text("[Screen]\r\nHideEffect=0\r\n")

    # Two files need repair: one damaged, one missing (its folder exists).
    for folder in ("data/texture", "data/effect"):
        (game / folder).mkdir(parents=True)
    damaged = bytearray(as_bytes(files["data/texture/logo.dds"]))
    damaged[1000:1010] = b"\0" * 10
    (game / "data" / "texture" / "logo.dds").write_bytes(bytes(damaged))
    return game


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="demo folder (server/ and the game folder go here)")
    parser.add_argument("--launcher", required=True, help="the launcher build to copy into the game folder")
    parser.add_argument("--client", required=True, help="the stand-in client, copied as Conquer.exe")
    parser.add_argument("--game-folder", default="game", help="name of the game folder under --root")
    parser.add_argument("--secret-key", default=str(REPO / "tests" / "keys" / "test.key"),
                        help="minisign secret key that signs the store (default: the test key)")
    args = parser.parse_args(argv)

    root = Path(args.root)
    files = final_files()
    server = write_server(root, files)
    subprocess.run([str(REPO / "scripts" / "sign-store"), "--all", "-s", args.secret_key, str(server)],
                   check=True, stdout=subprocess.DEVNULL)
    game = write_game(root, args.game_folder, args.launcher, args.client, files)
    print(f"demo game folder:    {game}")
    print(f"demo server content: {server}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
