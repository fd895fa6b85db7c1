#!/bin/sh
# Installs what is missing, builds what a run needs, and starts the program with simulated
# devices. Everything runs inside a private network namespace whose only
# interface besides loopback is a veth pair of its own (scripts/netns-run
# --veth: the program listens on sv0, 10.213.0.1), so a trial run never sends
# device searches or streams onto the local network. The simulator's
# loudspeakers and console sit on 127.0.1.x, a second set that keeps its
# settings and audio memory (the binding site) on 127.0.2.x; they send their
# state packets to the program and end when the program ends (closed, Ctrl+C, or
# `scripts/run.sh --quit` from another terminal). Without a reachable X
# display the program runs on a virtual one (xvfb-run).
#
# SONVAR_REAL_NETWORK=1 starts the program alone, on the real network.
# Arguments go to the program (e.g. --trace, --quit).
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
# The program's control port (multicast.basePort of its settings).
BASE_PORT=11990
# The simulated devices' own port: the program holds the base port on every
# address, so they can't share it.
DEVICE_PORT=12990

# An X server of this host is reached from the namespace through its socket
# file only (the abstract socket belongs to the host's namespace) and never
# over TCP.
display_reachable() {
    case "${DISPLAY:-}" in
        :*|unix:*) ;;
        *) return 1 ;;
    esac
    number=${DISPLAY#*:}
    number=${number%%.*}
    [ -S "/tmp/.X11-unix/X$number" ]
}

# The simulator's fault switches of SONVAR_SIMULATOR_FAULTS, one word a line:
# split at blanks as the shell splits a command line, except that a word in
# double or single quotes (or with a backslash before a blank) may hold
# blanks, e.g. --error-on "get state". Nothing in it is expanded or run
# (xargs only splits and unquotes). A word can't hold a line feed, and an
# empty word is dropped.
fault_words() {
    printf '%s\n' "${SONVAR_SIMULATOR_FAULTS:-}" | xargs printf '%s\n'
}

quitting=0
for argument in "$@"; do
    case "$argument" in
        *--quit*) quitting=1 ;;
    esac
done
if [ "$quitting" = 0 ] && ! fault_words >/dev/null 2>&1; then
    echo "run.sh: SONVAR_SIMULATOR_FAULTS has a quote that isn't closed: ${SONVAR_SIMULATOR_FAULTS}" >&2
    exit 2
fi

if [ -z "$SONVAR_RUN_INSIDE" ]; then
    if [ "$quitting" = 1 ]; then
        # Stopping the running copy needs no installation, no build, neither
        # the network nor devices: only the program that is already built.
        if [ ! -x "$BUILD_DIR/sonvar" ]; then
            echo "run.sh: $BUILD_DIR/sonvar is not built; nothing can be running" >&2
            exit 1
        fi
        export SONVAR_RUN_INSIDE=1
        exec scripts/netns-run "$0" "$@"
    fi
    scripts/install-deps.sh
    # Only what a run needs: the program (with its plug-ins, catalogue and
    # default gong) and the device simulator; the tests are not built here.
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${SONVAR_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)" --target sonvar device_simulator
    if [ "${SONVAR_REAL_NETWORK:-0}" = 1 ]; then
        exec "$BUILD_DIR/sonvar" "$@"
    fi
    export SONVAR_RUN_INSIDE=1
    exec scripts/netns-run --veth "$0" "$@"
fi

# Inside the namespace.
unset SONVAR_RUN_INSIDE
if [ "$quitting" = 1 ]; then
    exec "$BUILD_DIR/sonvar" "$@"  # --quit needs no display
fi

# SONVAR_SIMULATOR_FAULTS adds fault switches of the simulator to these devices
# (words as fault_words splits them), e.g.
# '--fault-device 9 --no-line-control --busy 3 --busy-on get --error-on "get state"'.
# What each device holds (channel, volume, memory playback) is kept in
# device_holdings.txt beside the logs while the run goes on.
start_simulator() {
    "$BUILD_DIR/tools/device_simulator" --bands --consoles 1 --port "$DEVICE_PORT" \
        --server "10.213.0.1:$BASE_PORT" --holdings "$BUILD_DIR/device_holdings.txt" "$@" \
        >"$BUILD_DIR/device_simulator.log" 2>&1 &
    simulator=$!
}
faults=$(fault_words)
saved_ifs=$IFS
IFS='
'
set -f
# shellcheck disable=SC2086
start_simulator $faults
set +f
IFS=$saved_ifs
# Devices that keep their settings, with an (empty) audio memory each: a
# broadcast and a fire console and loudspeakers of index 18, 19 and 21. Their
# log keeps every request and reply.
"$BUILD_DIR/tools/device_simulator" --site binding --memory --verbose --first 127.0.2.1 \
    --port "$DEVICE_PORT" --server "10.213.0.1:$BASE_PORT" --holdings "$BUILD_DIR/device_holdings_binding.txt" \
    >"$BUILD_DIR/device_simulator_binding.log" 2>&1 &
binding=$!

# Waits until the simulator of process $1 says in its log $2 that its devices
# send (or, after ten seconds, is still running); false when it has ended.
simulator_started() {
    tries=0
    while ! grep -q 'send state packets' "$2" 2>/dev/null; do
        kill -0 "$1" 2>/dev/null || return 1
        tries=$((tries + 1))
        [ "$tries" -lt 100 ] || return 0
        sleep 0.1
    done
}
# A simulator that ends at once (a switch it refuses, a port that is taken)
# stops the run before the program starts without its devices.
for started in "$simulator $BUILD_DIR/device_simulator.log" "$binding $BUILD_DIR/device_simulator_binding.log"; do
    pid=${started%% *}
    log=${started#* }
    simulator_started "$pid" "$log" && continue
    ended=0
    wait "$pid" || ended=$?
    {
        echo "run.sh: the device simulator ended at once (exit status $ended); the program is not started."
        if [ "$pid" = "$simulator" ] && [ -n "$faults" ]; then
            echo "Its fault switches from SONVAR_SIMULATOR_FAULTS, one word a line:"
            printf '%s\n' "$faults" | sed 's/.*/    [&]/'
        fi
        echo "Its output ($log):"
        sed 's/^/    /' "$log"
    } >&2
    kill -TERM "$simulator" "$binding" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
    wait "$binding" 2>/dev/null || true
    exit 1
done
status=0
if display_reachable; then
    # Ctrl+C reaches the program directly (it stops as for --quit); this
    # shell only waits for it, then ends the simulator.
    trap : INT TERM HUP
    "$BUILD_DIR/sonvar" "$@" || status=$?
else
    # An X server quits at the terminal's Ctrl+C and would take the display
    # away while the program shuts down: the virtual display and the program
    # run in a session of their own, and this shell hands the stop on to the
    # program as SIGTERM.
    pidfile=$(mktemp)
    setsid xvfb-run -a -s "-screen 0 1280x1024x24" \
        sh -c 'echo $$ >"$0"; exec "$@"' "$pidfile" "$BUILD_DIR/sonvar" "$@" &
    display=$!
    trap 'kill -TERM "$(cat "$pidfile")" 2>/dev/null || true' INT TERM HUP
    # A trapped signal interrupts wait; wait again until the display has ended.
    while :; do
        wait "$display" && status=0 || status=$?
        kill -0 "$display" 2>/dev/null || break
    done
    rm -f "$pidfile"
fi
kill -TERM "$simulator" "$binding" 2>/dev/null || true
wait "$simulator" 2>/dev/null || true
wait "$binding" 2>/dev/null || true
exit "$status"
