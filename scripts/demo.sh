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
RATE=16000               # the recordings: 16 kHz, mono, 16-bit
BYTES_PER_SECOND=$((RATE * 2))
CHUNK=3200               # 100 ms of audio per write
CHUNK_NS=100000000

# Everything the demo creates lives here and goes away on exit.
WORK=$(mktemp -d /tmp/scrivia-demo.XXXXXX)
DAEMON_PID=""
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
    stop_pid "$DAEMON_PID" 5
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the audio: 1.5 s of silence, then each recording followed by 2.5 s of silence
silence() { head -c $(($1 * BYTES_PER_SECOND / 10)) /dev/zero; }  # tenths of a second
{
    silence 15
    for wav in "${RECORDINGS[@]}"; do
        # These files have a plain 44-byte header, the "data" chunk starting at byte 36.
        if [ "$(dd if="$wav" bs=1 skip=36 count=4 status=none)" != data ]; then
            echo "unexpected WAV layout: $wav" >&2
            exit 1
        fi
        tail -c +45 "$wav"
        silence 25
    done
} >"$WORK/speech.raw"
total_bytes=$(stat -c %s "$WORK/speech.raw")

# --- the private sound server
mkdir -p "$WORK/home" "$WORK/config" "$WORK/runtime" "$WORK/state"
cat >"$WORK/default.pa" <<EOF
.fail
load-module module-null-sink sink_name=speaker
load-module module-pipe-source source_name=mic file=$WORK/mic.fifo format=s16le rate=$RATE channels=1
set-default-sink speaker
set-default-source mic
load-module module-native-protocol-unix socket=$WORK/native auth-anonymous=1
EOF
env -i PATH=/usr/bin:/bin HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/config" \
    XDG_RUNTIME_DIR="$WORK/runtime" PULSE_RUNTIME_PATH="$WORK/runtime" \
    PULSE_STATE_PATH="$WORK/state" \
    pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disable-shm=yes \
    --high-priority=no --realtime=no --no-cpu-limit=yes --log-target=stderr \
    -F "$WORK/default.pa" </dev/null >"$WORK/daemon.log" 2>&1 &
DAEMON_PID=$!
SERVER="unix:$WORK/native"
for _ in $(seq 100); do
    if PULSE_SERVER="$SERVER" HOME="$WORK/home" pactl info >/dev/null 2>&1; then break; fi
    if ! kill -0 "$DAEMON_PID" 2>/dev/null; then break; fi
    sleep 0.1
done
if ! PULSE_SERVER="$SERVER" HOME="$WORK/home" pactl info >/dev/null 2>&1; then
    echo "the private PulseAudio server did not start:" >&2
    cat "$WORK/daemon.log" >&2
    exit 1
fi
echo "== private PulseAudio server $SERVER (pid $DAEMON_PID)" >&2

# --- the feeder: 100 ms chunks on a fixed schedule, so the pipe source delivers
# audio in real time. It starts once scrivia records from the microphone: the
# pipe source reads nothing before, and audio written then would arrive late.
mic_recording() {
    PULSE_SERVER="$SERVER" HOME="$WORK/home" pactl list short sources 2>/dev/null |
        grep -q $'\tmic\t.*RUNNING'
}
(
    exec 3>"$WORK/mic.fifo"
    for _ in $(seq 300); do
        if mic_recording; then break; fi
        sleep 0.1
    done
    start=$(date +%s%N)
    i=0
    while [ $((i * CHUNK)) -lt "$total_bytes" ]; do
        dd if="$WORK/speech.raw" bs=$CHUNK skip=$i count=1 status=none >&3
        i=$((i + 1))
        now=$(date +%s%N)
        ahead=$((start + i * CHUNK_NS - now))
        if [ "$ahead" -gt 0 ]; then
            sleep "$(printf '%d.%09d' $((ahead / 1000000000)) $((ahead % 1000000000)))"
        elif [ "$ahead" -lt -200000000 ]; then
            start=$((now - i * CHUNK_NS))  # stalled: carry on from now, no rush
        fi
    done
    touch "$WORK/played"
    # Then silence, as a quiet room, until the demo ends.
    while head -c $CHUNK /dev/zero >&3; do sleep 0.1; done
) &
FEEDER_PID=$!

# --- scrivia, its stdin on a FIFO the demo writes "stop" into
mkfifo "$WORK/control"
echo "== build/scrivia (events on stdout follow)" >&2
PULSE_SERVER="$SERVER" build/scrivia <"$WORK/control" &
SCRIVIA_PID=$!
exec 5>"$WORK/control"

# Wait for the recordings and their trailing silence to play (bounded, in case
# scrivia never records), then stop as a host application would.
deadline=$((SECONDS + total_bytes / BYTES_PER_SECOND + 40))
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
