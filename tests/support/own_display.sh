#!/bin/sh
# Runs a test program on an X display of its own (a fresh Xvfb), so that a
# program that photographs its windows or drives the pointer and keyboard
# shares its screen with no other test and can run beside them.
# Usage: own_display.sh PROGRAM [ARG...]
#
# The server and the program share a network namespace of their own
# (own_network.sh), where the program reaches its server through the
# namespace's own socket. The server takes a display number whose lock file
# no other server on the machine holds, from 400 up, above those xvfb-run
# (from 99) and servers that pick their own number (from 0) take.
if [ -n "$SONVAR_NETNS_INSIDE" ] && [ -z "$SONVAR_OWN_NETWORK" ]; then
    exec "$(dirname "$0")/own_network.sh" "$0" "$@"
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonvar-display.XXXXXX") || exit 1
server=""
stop() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null
        wait "$server" 2>/dev/null
    fi
    rm -rf "$dir"
}
trap 'stop; exit 143' TERM INT HUP
# The server tells its parent it takes connections with SIGUSR1 when it
# starts with that signal ignored; one that finds its number taken exits.
trap 'touch "$dir/ready"' USR1
number=$((400 + $$ % 400))
attempts=0
while :; do
    (trap '' USR1; exec Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -noreset) \
        2>"$dir/server.log" &
    server=$!
    tries=0
    while [ ! -e "$dir/ready" ] && kill -0 "$server" 2>/dev/null && [ "$tries" -lt 2000 ]; do
        tries=$((tries + 1))
        sleep 0.01
    done
    [ -e "$dir/ready" ] && break
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    server=""
    attempts=$((attempts + 1))
    if [ "$attempts" -ge 20 ]; then
        echo "own_display.sh: no X display came up" >&2
        cat "$dir/server.log" >&2
        stop
        exit 1
    fi
    number=$((400 + (number - 400 + 1) % 400))
done
trap - USR1
DISPLAY=":$number" "$@"
status=$?
stop
exit "$status"
