#!/bin/sh
# Runs a test program on an X display of its own (a fresh Xvfb), so that a
# program that photographs its windows or drives the pointer and keyboard
# shares its screen with no other test and can run beside them.
# Usage: own_display.sh PROGRAM [ARG...]
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonvar-display.XXXXXX") || exit 1
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/server.log" &
server=$!
stop() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    rm -rf "$dir"
}
trap 'stop; exit 143' TERM INT HUP
# The server writes its display number once it takes connections.
tries=0
until grep -q '^[0-9]' "$dir/display" 2>/dev/null; do
    if ! kill -0 "$server" 2>/dev/null || [ "$tries" -ge 1000 ]; then
        echo "own_display.sh: no X display came up" >&2
        cat "$dir/server.log" >&2
        stop
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.01
done
DISPLAY=":$(head -n 1 "$dir/display")" "$@"
status=$?
stop
exit "$status"
