#!/usr/bin/env bash
# Benchmarks of starfell-server against reference tools, run side by side:
#   manifest  vs md5sum over the same files (hashing a clean game folder)
#   HTTP store vs python3 -m http.server, both fetched with curl
# Prints each measurement (best of RUNS) and the ratio starfell / reference
# (below 1 means starfell-server is faster).
# Usage: bench/server_bench.sh [SERVER_BINARY] [ADDRESS]   (root, for port 80)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SERVER="${1:-$ROOT/build/linux/bin/starfell-server}"
ADDRESS="${2:-127.0.0.250}"
RUNS="${RUNS:-3}"
FILES="${FILES:-8}"
FILE_MB="${FILE_MB:-32}"
PATCH_MB="${PATCH_MB:-256}"

[ -x "$SERVER" ] || { echo "no server binary at $SERVER" >&2; exit 1; }
WORK="$(mktemp -d)"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

best_of() { # command...: prints the best wall time in seconds over RUNS runs
  local best="" t
  for _ in $(seq "$RUNS"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

report() { # name starfell-seconds reference-seconds reference-name
  awk -v n="$1" -v s="$2" -v r="$3" -v rn="$4" \
    'BEGIN { printf "%-10s starfell %.3f s   %s %.3f s   ratio %.2f\n", n, s, rn, r, s / r }'
}

# Hashing: a game folder of FILES files of FILE_MB MiB each (fits one FileCheck list).
mkdir -p "$WORK/game"
for i in $(seq "$FILES"); do head -c "$((FILE_MB * 1024 * 1024))" /dev/urandom > "$WORK/game/f$i.dat"; done
cat "$WORK"/game/* > /dev/null  # both tools read from the page cache
manifest=$(best_of "$SERVER" manifest --game "$WORK/game")
md5=$(best_of md5sum "$WORK"/game/*)
report manifest "$manifest" "$md5" md5sum

# HTTP: one PATCH_MB MiB archive from both servers on the same address.
mkdir -p "$WORK/content/patches"
head -c "$((PATCH_MB * 1024 * 1024))" /dev/urandom > "$WORK/content/patches/1001.zip"
"$SERVER" serve --root "$WORK/content" --address "$ADDRESS" > "$WORK/server.log" 2>&1 &
PIDS+=($!)
(cd "$WORK/content" && exec /usr/bin/python3 -m http.server 8080 --bind "$ADDRESS" > "$WORK/python.log" 2>&1) &
PIDS+=($!)
for _ in $(seq 100); do
  grep -q '^ready ' "$WORK/server.log" 2>/dev/null && curl -s -o /dev/null "http://$ADDRESS:8080/" && break
  sleep 0.1
done
ours=$(best_of curl -sf -o /dev/null "http://$ADDRESS/patches/1001.zip")
python=$(best_of curl -sf -o /dev/null "http://$ADDRESS:8080/patches/1001.zip")
report http "$ours" "$python" python-http.server
