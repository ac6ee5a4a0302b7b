#!/usr/bin/env bash
# Takes the README's picture of the main screen: the Linux launcher under Xvfb
# against starfell-server on a loopback address, Ready, with the news panel open.
#
#   tools/screenshot_readme.sh [OUTPUT.png]      (default docs/images/main-screen.png)
#
# Settings (environment):
#   SHOT_BUILD_DIR   the Linux build folder with StarfellLauncher and Conquer.exe (default build/linux)
#   SHOT_SERVER      the starfell-server binary (default $SHOT_BUILD_DIR/bin/starfell-server)
#   SHOT_ADDRESS     loopback address for the server (default 127.0.2.1, outside the range the
#                    end-to-end tests pick from; ports 9538 and 80)
# Needs Xvfb, xdotool, xwininfo and ImageMagick (all installed by scripts/setup.sh),
# and root or CAP_NET_BIND_SERVICE for port 80.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${SHOT_BUILD_DIR:-$ROOT/build/linux}"
SERVER="${SHOT_SERVER:-$BUILD_DIR/bin/starfell-server}"
ADDRESS="${SHOT_ADDRESS:-127.0.2.1}"
OUTPUT="${1:-$ROOT/docs/images/main-screen.png}"

fail() { echo "screenshot: $*" >&2; exit 1; }

case "$ADDRESS" in
  127.*) ;;
  *) fail "SHOT_ADDRESS must be a loopback address (127.x.x.x), not $ADDRESS" ;;
esac
for tool in Xvfb xdotool xwininfo import python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/setup.sh"
done
for file in "$BUILD_DIR/bin/StarfellLauncher" "$BUILD_DIR/bin/Conquer.exe" "$SERVER"; do
  [ -f "$file" ] || fail "$file is missing; build first (cmake --build --preset linux)"
done

WORK="$(mktemp -d)"
XVFB_PID="" SERVER_PID="" LAUNCHER_PID=""
cleanup() {
  for pid in "$LAUNCHER_PID" "$SERVER_PID" "$XVFB_PID"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

# --- Server content and game folder -----------------------------------------
# A clean copy of the game files: its manifest is the file list, and the same
# files serve as repair copies under their download names.
CONTENT="$WORK/content" GAME="$WORK/game" CLEAN="$WORK/clean"
mkdir -p "$CONTENT/patches/Launcher" "$GAME" "$CLEAN/data/map" "$CLEAN/ini"
printf 'Starfell client\n' >"$CLEAN/readme.txt"
head -c 200000 /dev/urandom >"$CLEAN/data/map/starfell.dmap"
printf '[ScreenMode]\r\nScrWidth=1024\r\nScrHeight=768\r\n[Config]\r\nFPS=60\r\n' >"$CLEAN/ini/GameSetup.ini"
"$SERVER" manifest --game "$CLEAN" >"$CONTENT/files.txt"
cp -r "$CLEAN/." "$CONTENT/patches/Launcher/"
cp -r "$CLEAN/." "$GAME/"

# Each line within 38 bytes: the panel breaks longer lines there, even mid-word.
cat >"$CONTENT/news.txt" <<'EOF'
Welcome to Starfell! Servers are up.
Patch 1002: new sound theme and maps.
Double experience weekend on Friday.
Maintenance Tuesday, 06:00 to 07:00.
EOF
# Patches 1001 and 1002 exist; the game folder already has both.
for number in 1001 1002; do
  python3 - "$CONTENT/patches/$number.zip" "$number" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    archive.writestr("version.dat", sys.argv[2])
EOF
done
printf '1002' >"$GAME/version.dat"
cp "$BUILD_DIR/bin/StarfellLauncher" "$BUILD_DIR/bin/Conquer.exe" "$GAME/"

# --- Display, server, launcher -----------------------------------------------
Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp -noreset >"$WORK/display" 2>/dev/null &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$WORK/display")"

"$SERVER" serve --root "$CONTENT" --address "$ADDRESS" >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do grep -q '^ready ' "$WORK/server.log" && break; sleep 0.1; done
grep -q '^ready ' "$WORK/server.log" || { cat "$WORK/server.log" >&2; fail "starfell-server did not start"; }

(cd "$GAME" && STARFELL_SERVER_ADDRESS="$ADDRESS" STARFELL_WEBSITE_URL="http://$ADDRESS/" \
   exec ./StarfellLauncher 2>"$WORK/launcher.stderr") &
LAUNCHER_PID=$!

# Ready once the file list has been sent and checked; then open the news panel.
for _ in $(seq 300); do grep -q 'sent FileCheck' "$WORK/server.log" && break; sleep 0.1; done
grep -q 'sent FileCheck' "$WORK/server.log" || { cat "$WORK/server.log" >&2; fail "the launcher never got its file list"; }
sleep 1.5
WINDOW="$(xwininfo -root -tree | sed -n 's/^ *\(0x[0-9a-f]*\) "Starfell".*/\1/p' | head -n1)"
[ -n "$WINDOW" ] || fail "no launcher window"
# The title bar's cog at (871, 17); a press held over one frame so the GUI sees it.
xdotool mousemove --window "$WINDOW" 871 17 sleep 0.3 mousedown 1 sleep 0.1 mouseup 1
sleep 0.5; xdotool mousemove --window "$WINDOW" 300 200  # away from the buttons: no hover colour
sleep 1

eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
mkdir -p "$(dirname "$OUTPUT")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -strip "PNG24:$OUTPUT"
echo "screenshot: $OUTPUT ($(stat -c %s "$OUTPUT") bytes)"
