#!/usr/bin/env bash
# scrivia as a person meets it, through the real program and a private sound
# server, beside pocketsphinx_continuous on the same audio:
#   bash bench/live/run.sh [--runs 5] [--variants default,no-gate,no-phrases,pause-2]
# Builds a Release scrivia per variant in build-live/ and keeps there what it
# makes; each run plays about two minutes of audio in real time.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
exec python3 "$root/bench/live/run.py" "$@"
