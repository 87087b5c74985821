#!/usr/bin/env bash
# Time from spawning scrivia to its "ready" line, on a private sound server:
# cold (empty cache folder) and warm (the same cache folder again).
#   bench/ready_latency.sh [BINARY] [RUNS]
set -euo pipefail
BIN=${1:-build/scrivia}
RUNS=${2:-5}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIR=$(mktemp -d /tmp/scrivia-bench.XXXXXX)
trap 'bash "$ROOT/scripts/private-pulse.sh" stop "$DIR/pulse" >/dev/null 2>&1 || true; rm -rf "$DIR"' EXIT
mkdir "$DIR/pulse"
ADDRESS=$(bash "$ROOT/scripts/private-pulse.sh" start "$DIR/pulse")

# Milliseconds from spawn to "ready" for one run with cache folder $1.
ready_ms() {
    python3 - "$BIN" "$1" "$ADDRESS" "$DIR/pulse/home" <<'PY'
import os, subprocess, sys, time
binary, cache, address, home = sys.argv[1:]
env = {"PATH": "/usr/bin:/bin", "HOME": home, "PULSE_SERVER": address,
       "LANG": "en_US.UTF-8", "XDG_CACHE_HOME": cache}
start = time.monotonic()
p = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)
for line in p.stdout:
    if '"ready"' in line or '"error"' in line:
        print(f"{(time.monotonic() - start) * 1000:.0f}" + ("" if '"ready"' in line else " (error)"))
        break
p.stdin.write("stop\n"); p.stdin.close(); p.wait(timeout=30)
PY
}

for kind in cold warm; do
    figures=()
    for ((i = 0; i < RUNS; i++)); do
        [[ $kind == cold ]] && rm -rf "$DIR/cache"
        [[ $kind == warm && $i == 0 ]] && ready_ms "$DIR/cache" >/dev/null
        figures+=("$(ready_ms "$DIR/cache")")
    done
    echo "$kind spawn -> ready (ms): ${figures[*]}"
done
