#!/bin/sh
# Runs the Starfell launcher from the player's own game folder: the launcher
# patches that folder and replaces its own build there, so it cannot run from
# the read-only copy the package installs.
set -e
here=$(dirname "$(readlink -f "$0")")
packaged="$here/../lib/starfell-launcher/StarfellLauncher"
game="${STARFELL_GAME_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/starfell}"
mkdir -p "$game"
# First start, or a package newer than the build in the game folder.
if [ ! -e "$game/StarfellLauncher" ] || [ "$packaged" -nt "$game/StarfellLauncher" ]; then
    cp "$packaged" "$game/StarfellLauncher.new"
    mv "$game/StarfellLauncher.new" "$game/StarfellLauncher"
fi
cd "$game"
exec ./StarfellLauncher "$@"
