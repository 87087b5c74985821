#!/usr/bin/env bash
# A private PulseAudio server whose microphone plays what it is fed: the one
# recipe behind the demo and the tests. Everything it makes lives in DIR, so
# no other sound server on the machine is ever touched.
#
#   private-pulse.sh start DIR         start the daemon; prints its address (unix:DIR/native)
#   private-pulse.sh feed DIR ITEM...  play ITEMs into the microphone in real time, then
#                                      silence until killed (--once first: return after them;
#                                      --log FILE first: a line "INDEX NS" per 100 ms chunk,
#                                      its index from 0 and the wall clock after its write)
#   private-pulse.sh recording DIR     wait (30 s at most) until a client records the microphone
#   private-pulse.sh stop DIR          stop the daemon started in DIR
#
# DIR is an existing empty folder of the caller's. ITEM is a 16-bit mono 16 kHz
# WAV file or silence:SECONDS. The microphone is the default source `mic`, a
# pipe source (s16le, 16 kHz, mono) reading DIR/mic.fifo; the default sink
# `speaker` discards what it is given.
set -euo pipefail

RATE=16000
CHUNK=3200            # bytes in 100 ms of the microphone's audio
CHUNK_NS=100000000

usage() {
    echo "usage: $0 start DIR | feed DIR [--once] [--log FILE] ITEM... | recording DIR | stop DIR" >&2
    exit 2
}

# Clients of the private server: no user's configuration, no autospawn.
client() {
    env -i PATH=/usr/bin:/bin HOME="$DIR/home" XDG_CONFIG_HOME="$DIR/config" \
        XDG_RUNTIME_DIR="$DIR/runtime" PULSE_SERVER="unix:$DIR/native" "$@"
}

# The daemon's pid, if it is alive and is the one started in DIR (a pid can be
# reused once it is gone; a zombie counts as gone).
daemon_pid() {
    local pid
    pid=$(cat "$DIR/daemon.pid" 2>/dev/null) || return 1
    [[ "$pid" =~ ^[0-9]+$ ]] || return 1
    local command stat
    command=$(tr "\\0" " " 2>/dev/null <"/proc/$pid/cmdline") || return 1
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    [[ "$command" == *"-F $DIR/default.pa"* && "${stat##*) }" != Z* ]] || return 1
    echo "$pid"
}

start() {
    mkdir -p "$DIR/home" "$DIR/config/pulse" "$DIR/runtime" "$DIR/state"
    chmod 700 "$DIR/runtime"
    echo "autospawn = no" >"$DIR/config/pulse/client.conf"
    # A daemon that was killed leaves its FIFO behind, and the pipe source
    # refuses to start on one it did not make.
    rm -f "$DIR/mic.fifo"
    # The socket comes last, so a client that gets in finds the microphone there.
    cat >"$DIR/default.pa" <<EOF
.fail
load-module module-null-sink sink_name=speaker
load-module module-pipe-source source_name=mic file=$DIR/mic.fifo format=s16le rate=$RATE channels=1
set-default-sink speaker
set-default-source mic
load-module module-native-protocol-unix socket=$DIR/native auth-anonymous=1
EOF
    # No CPU limit: a busy machine must not make the daemon kill itself.
    env -i PATH=/usr/bin:/bin HOME="$DIR/home" XDG_CONFIG_HOME="$DIR/config" \
        XDG_RUNTIME_DIR="$DIR/runtime" PULSE_RUNTIME_PATH="$DIR/runtime" \
        PULSE_STATE_PATH="$DIR/state" \
        pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disable-shm=yes \
        --high-priority=no --realtime=no --no-cpu-limit=yes --log-target=stderr \
        -F "$DIR/default.pa" </dev/null >"$DIR/daemon.log" 2>&1 &
    local pid=$!
    echo "$pid" >"$DIR/daemon.pid"
    for _ in $(seq 100); do
        if client pactl info >/dev/null 2>&1; then
            echo "unix:$DIR/native"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "the private PulseAudio server did not start:" >&2
    cat "$DIR/daemon.log" >&2
    return 1
}

stop() {
    local pid
    pid=$(daemon_pid) || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        daemon_pid >/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        daemon_pid >/dev/null || return 0
        sleep 0.1
    done
    echo "the private PulseAudio server $pid did not end" >&2
    return 1
}

# Appends ITEM's raw samples to stdout.
raw_item() {
    local item=$1
    if [[ "$item" == silence:* ]]; then
        local seconds=${item#silence:}
        [[ "$seconds" =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "bad item: $item" >&2; return 2; }
        head -c "$(awk -v s="$seconds" -v r=$RATE 'BEGIN { printf "%d", s * r * 2 }')" /dev/zero
        return 0
    fi
    # A plain 44-byte header: PCM, one channel, 16 kHz, 16 bits, then "data".
    local header
    header=$(od -An -tu2 -j20 -N4 "$item" 2>/dev/null | tr -s ' ')/$(od -An -tu4 -j24 -N4 "$item" 2>/dev/null | tr -d ' ')/$(od -An -tu2 -j34 -N2 "$item" 2>/dev/null | tr -d ' ')/$(dd if="$item" bs=1 skip=36 count=4 status=none 2>/dev/null)
    if [ "$header" != " 1 1/$RATE/16/data" ]; then
        echo "not a 16-bit mono $RATE Hz WAV file: $item" >&2
        return 2
    fi
    tail -c +45 "$item"
}

run_step() {
    "$@" >&3 2>/dev/null &
    step=$!
    wait "$step"
}

mic_recording() {
    local sources
    sources=$(client pactl list short sources 2>/dev/null) || return 1
    [[ "$sources" =~ $'\t'mic$'\t'[^$'\n']*RUNNING ]]
}

# Succeeds once a client records the microphone; fails after 30 s, or at once
# if the daemon is gone.
recording() {
    for _ in $(seq 300); do
        mic_recording && return 0
        daemon_pid >/dev/null || return 1
        sleep 0.1
    done
    return 1
}

feed() {
    local once=0 log=/dev/null
    while [ $# -gt 0 ]; do
        case "$1" in
        --once) once=1; shift ;;
        --log) [ $# -ge 2 ] || usage; log=$2; shift 2 ;;
        *) break ;;
        esac
    done
    daemon_pid >/dev/null || { echo "no private PulseAudio server in $DIR" >&2; return 1; }
    raw=$(mktemp "$DIR/feed.XXXXXX")
    # Each step runs in the background and is waited for, so a TERM ends the
    # feeder at once even while a write waits for room in the pipe.
    step=""
    trap 'rm -f "$raw"; [ -z "$step" ] || kill "$step" 2>/dev/null || true' EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
    for item in "$@"; do raw_item "$item" >>"$raw" || return 2; done
    local total
    total=$(stat -c %s "$raw")

    # The pipe source reads nothing until a client records, and audio written
    # before would arrive late, in one burst.
    recording || daemon_pid >/dev/null || return 0
    # The daemon holds the FIFO open for reading, so this does not block; a
    # write fails once the daemon is gone.
    exec 3>"$DIR/mic.fifo"
    local start i=0 now ahead
    start=$(date +%s%N)
    # 100 ms chunks on a fixed schedule: the items, then (unless --once) silence.
    while [ $((i * CHUNK)) -lt "$total" ] || [ "$once" = 0 ]; do
        if [ $((i * CHUNK)) -lt "$total" ]; then
            run_step dd if="$raw" bs=$CHUNK skip=$i count=1 status=none || return 0
        else
            run_step head -c $CHUNK /dev/zero || return 0
            daemon_pid >/dev/null || return 0
        fi
        now=$(date +%s%N)
        echo "$i $now" >>"$log"
        i=$((i + 1))
        ahead=$((start + i * CHUNK_NS - now))
        if [ "$ahead" -gt 0 ]; then
            run_step sleep "$(printf '%d.%09d' $((ahead / 1000000000)) $((ahead % 1000000000)))"
        elif [ "$ahead" -lt -200000000 ]; then
            start=$((now - i * CHUNK_NS)) # stalled: carry on from now, no rush
        fi
    done
}

[ $# -ge 2 ] || usage
command=$1
DIR=$(cd "$2" 2>/dev/null && pwd) || { echo "no such folder: $2" >&2; exit 2; }
shift 2
case "$command" in
start) [ $# -eq 0 ] || usage; start ;;
feed) feed "$@" ;;
recording) [ $# -eq 0 ] || usage; recording ;;
stop) [ $# -eq 0 ] || usage; stop ;;
*) usage ;;
esac
