#!/usr/bin/env bash
# Runs the launcher against a demo server on this machine: lays out a demo game
# folder and server content, starts starfell-server on 127.0.0.1 (TCP 9538,
# HTTP 80) and the launcher on the user's display; stops the server when the
# launcher ends or on Ctrl+C.
#
#   scripts/demo.sh [linux|windows]
#
# Settings (environment):
#   DEMO_BUILD_DIR   the launcher's build folder (default build/linux or build/windows)
#   DEMO_SERVER      the starfell-server binary (default build/linux/bin/starfell-server)
#   DEMO_ROOT        where the demo is laid out (default build/demo)
#   DEMO_ADDRESS     loopback address of the demo server (default 127.0.0.1)
#   DEMO_TIMEOUT     stop everything after this many seconds (for unattended runs)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TARGET="${1:-linux}"
case "$TARGET" in
  linux)   LAUNCHER_NAME=StarfellLauncher ;;
  windows) LAUNCHER_NAME=StarfellLauncher.exe ;;
  *) echo "usage: $0 [linux|windows]" >&2; exit 2 ;;
esac

BUILD_DIR="${DEMO_BUILD_DIR:-$ROOT/build/$TARGET}"
SERVER="${DEMO_SERVER:-$ROOT/build/linux/bin/starfell-server}"
DEMO_ROOT="${DEMO_ROOT:-$ROOT/build/demo}"
ADDRESS="${DEMO_ADDRESS:-127.0.0.1}"
GAME_FOLDER_NAME=game
[ "$TARGET" = windows ] && GAME_FOLDER_NAME=game-windows

fail() { echo "demo: $*" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
  fail "DISPLAY is not set, so the launcher has no screen to open its window on.
      Run the demo from a desktop session (a terminal inside your graphical desktop),
      or point DISPLAY at a running X server, e.g. DISPLAY=:0 make demo."
fi
case "$ADDRESS" in
  127.*) ;;
  *) fail "DEMO_ADDRESS must be a loopback address (127.x.x.x), not $ADDRESS" ;;
esac
for file in "$BUILD_DIR/bin/$LAUNCHER_NAME" "$BUILD_DIR/bin/Conquer.exe" "$SERVER"; do
  [ -f "$file" ] || fail "$file is missing; build first (make demo builds everything it needs)"
done

python3 "$ROOT/tools/make_demo.py" --root "$DEMO_ROOT" --game-folder "$GAME_FOLDER_NAME" \
  --launcher "$BUILD_DIR/bin/$LAUNCHER_NAME" --client "$BUILD_DIR/bin/Conquer.exe"
GAME="$DEMO_ROOT/$GAME_FOLDER_NAME"
SERVER_LOG="$DEMO_ROOT/server.log"
CLIENT_LOG="$DEMO_ROOT/client.log"
rm -f "$SERVER_LOG" "$CLIENT_LOG" "$DEMO_ROOT/server.stderr"

SERVER_PID=""
LAUNCHER_PID=""
stop_all() {
  trap - EXIT INT TERM
  if [ -n "$LAUNCHER_PID" ] && kill -0 "$LAUNCHER_PID" 2>/dev/null; then kill "$LAUNCHER_PID" 2>/dev/null || true; fi
  if [ -n "$SERVER_PID" ] && kill -0 "$SERVER_PID" 2>/dev/null; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
}
trap stop_all EXIT
trap 'echo; echo "demo: stopped"; exit 130' INT TERM

# The server listens on TCP 9538 and HTTP 80; when it cannot (port 80 needs
# root or CAP_NET_BIND_SERVICE, or a port is taken) it says why and how to fix it.
SERVER_ERRORS="$DEMO_ROOT/server.stderr"
"$SERVER" serve --root "$DEMO_ROOT/server" --address "$ADDRESS" >"$SERVER_LOG" 2>"$SERVER_ERRORS" &
SERVER_PID=$!
for _ in $(seq 100); do
  grep -q '^ready ' "$SERVER_LOG" 2>/dev/null && break
  if ! kill -0 "$SERVER_PID" 2>/dev/null; then
    SERVER_PID=""
    cat "$SERVER_ERRORS" >&2
    fail "the demo server could not start; see the advice above, then run the demo again."
  fi
  sleep 0.1
done
grep -q '^ready ' "$SERVER_LOG" || fail "starfell-server did not report ready in time"
echo "demo server on $ADDRESS (log: $SERVER_LOG)"

export STARFELL_SERVER_ADDRESS="$ADDRESS"
export STARFELL_WEBSITE_URL="http://$ADDRESS/"
export STARFELL_CLIENT_LOG="$CLIENT_LOG"
export STARFELL_CLIENT_LIFETIME="${STARFELL_CLIENT_LIFETIME:-5}"
if [ "$TARGET" = windows ]; then
  LAUNCH=("$ROOT/scripts/wine-run" "$GAME/$LAUNCHER_NAME")
else
  LAUNCH=("$GAME/$LAUNCHER_NAME")
fi
echo "starting the launcher from $GAME; press PLAY once it says Ready."
(cd "$GAME" && exec "${LAUNCH[@]}") &
LAUNCHER_PID=$!

if [ -n "${DEMO_TIMEOUT:-}" ]; then
  # Unattended: stop after the given time whatever the launcher is doing.
  ( sleep "$DEMO_TIMEOUT"; kill "$LAUNCHER_PID" 2>/dev/null ) &
fi
status=0
wait "$LAUNCHER_PID" || status=$?
LAUNCHER_PID=""
echo "launcher ended with exit code $status"

# The stand-in client writes one line per start: command line, folder, pid.
for _ in $(seq 50); do [ -s "$CLIENT_LOG" ] && break; [ "$status" -eq 0 ] || break; sleep 0.1; done
if [ -s "$CLIENT_LOG" ]; then
  while IFS=$'\t' read -r command folder pid; do
    echo "game client started: \"$command\" in $folder (pid $pid)"
  done <"$CLIENT_LOG"
fi
