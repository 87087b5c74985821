#!/usr/bin/env bash
# A first look at scrivia: installs what it needs, builds it, and lets it
# listen to recorded speech as if someone were talking into the microphone.
#
# The microphone is a PulseAudio server of the demo's own (socket, runtime and
# state in a temporary folder; your own sound server is never touched) whose
# default source is a pipe fed at real-time pace with librivox recordings from
# Debian's pocketsphinx-testdata, with pauses between them. scrivia's event
# stream is printed as it comes; after the last recording and a little silence
# the demo sends "stop", as a host application would.
#
#   scripts/demo.sh              # from the repository root (uses sudo to install if not root)
#   scripts/demo.sh --no-install # skip the package installation
set -euo pipefail
cd "$(dirname "$0")/.."

install=1
for arg in "$@"; do
    case "$arg" in
    --no-install) install=0 ;;
    *) echo "usage: $0 [--no-install]" >&2; exit 2 ;;
    esac
done

if [ "$install" = 1 ]; then
    echo "== installing packages" >&2
    scripts/install-deps.sh
fi
echo "== building" >&2
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target scrivia >/dev/null

DATA=/usr/share/pocketsphinx/test/data/librivox
RECORDINGS=(
    "$DATA/sense_and_sensibility_01_austen_64kb-0880.wav"
    "$DATA/sense_and_sensibility_01_austen_64kb-0930.wav"
    "$DATA/sense_and_sensibility_01_austen_64kb-0890.wav"
)
# 1.5 s of silence, then each recording followed by 2.5 s of silence.
ITEMS=(silence:1.5)
seconds=1.5
for wav in "${RECORDINGS[@]}"; do
    ITEMS+=("$wav" silence:2.5)
    seconds=$(awk -v s="$seconds" -v b="$(stat -c %s "$wav")" 'BEGIN { print s + (b - 44) / 32000 + 2.5 }')
done

# Everything the demo creates lives here and goes away on exit.
WORK=$(mktemp -d /tmp/scrivia-demo.XXXXXX)
FEEDER_PID=""
SCRIVIA_PID=""

stop_pid() {  # pid, seconds before SIGKILL
    local pid=$1 bound=$2 waited=0
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt $((bound * 10)) ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    exec 5>&- 2>/dev/null || true
    stop_pid "$SCRIVIA_PID" 2
    stop_pid "$FEEDER_PID" 1
    scripts/private-pulse.sh stop "$WORK" || true
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the private sound server, the same recipe as the tests'
SERVER=$(scripts/private-pulse.sh start "$WORK")
echo "== private PulseAudio server $SERVER (pid $(cat "$WORK/daemon.pid"))" >&2

# --- the feeder: the recordings in real time once scrivia records from the
# microphone, then silence, as a quiet room, until the demo ends.
(scripts/private-pulse.sh feed "$WORK" --once "${ITEMS[@]}" && touch "$WORK/played" &&
    exec scripts/private-pulse.sh feed "$WORK") &
FEEDER_PID=$!

# --- scrivia, its stdin on a FIFO the demo writes "stop" into
mkfifo "$WORK/control"
echo "== build/scrivia (events on stdout follow)" >&2
PULSE_SERVER="$SERVER" build/scrivia <"$WORK/control" &
SCRIVIA_PID=$!
exec 5>"$WORK/control"

# Wait for the recordings and their trailing silence to play (bounded, in case
# scrivia never records), then stop as a host application would.
deadline=$((SECONDS + ${seconds%.*} + 40))
while [ ! -e "$WORK/played" ] && [ "$SECONDS" -lt "$deadline" ] &&
    kill -0 "$SCRIVIA_PID" 2>/dev/null; do
    sleep 0.2
done

echo "== sending stop" >&2
# In a subshell that ignores SIGPIPE, so a scrivia that already ended cannot
# take the demo down (an ignored signal would be inherited by later children).
(trap '' PIPE; echo stop >&5) 2>/dev/null || true
exec 5>&-

ended=0
for _ in $(seq 100); do
    if ! kill -0 "$SCRIVIA_PID" 2>/dev/null; then ended=1; break; fi
    sleep 0.1
done
if [ "$ended" = 0 ]; then
    echo "== scrivia did not end within 10 s of stop" >&2
    exit 1  # cleanup kills it
fi
status=0
wait "$SCRIVIA_PID" || status=$?
SCRIVIA_PID=""
echo "== scrivia exited with status $status" >&2
exit "$status"
