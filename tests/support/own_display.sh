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
#
# Every wait for the server is bounded, so that the test's time limit only
# ever ends the test itself. The server has 20 s to come up on a number and
# 40 s over all the numbers tried (20 at most); else the script fails with
# the server's log. At the end it has 5 s to go after SIGTERM and 2 s more
# after SIGKILL; one that outlives that is left behind (it holds none of the
# test's output) and the program's status is returned all the same.
if [ -n "$SONVAR_NETNS_INSIDE" ] && [ -z "$SONVAR_OWN_NETWORK" ]; then
    exec "$(dirname "$0")/own_network.sh" "$0" "$@"
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonvar-display.XXXXXX") || exit 1
server=""

# True when process $1 ends within $2 tenths of a second. The shell reaps its
# children while it runs the sleeps, so an ended server does not linger as a
# zombie that still answers kill -0.
ends_within() {
    tenths=0
    while kill -0 "$1" 2>/dev/null; do
        [ "$tenths" -lt "$2" ] || return 1
        tenths=$((tenths + 1))
        sleep 0.1
    done
}

# Ends the server, if there is one: SIGTERM, then SIGKILL.
end_server() {
    [ -n "$server" ] || return 0
    kill "$server" 2>/dev/null
    if ! ends_within "$server" 50; then
        kill -KILL "$server" 2>/dev/null
        if ! ends_within "$server" 20; then
            echo "own_display.sh: the X server $server did not end; left behind" >&2
            server=""
            return 0
        fi
    fi
    wait "$server" 2>/dev/null  # already ended: returns at once
    server=""
}

stop() {
    end_server
    rm -rf "$dir"
}
trap 'stop; exit 143' TERM INT HUP
# The server tells its parent it takes connections with SIGUSR1 when it
# starts with that signal ignored; one that finds its number taken exits.
trap 'touch "$dir/ready"' USR1
number=$((400 + $$ % 400))
attempts=0
started=$(date +%s)
while :; do
    # Its output goes to its log only: a server that outlives the script
    # must not hold the test's output open.
    (trap '' USR1; exec Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -noreset) \
        </dev/null >"$dir/server.log" 2>&1 &
    server=$!
    attempt=$(date +%s)
    while [ ! -e "$dir/ready" ] && kill -0 "$server" 2>/dev/null && [ $(($(date +%s) - attempt)) -lt 20 ]; do
        sleep 0.02
    done
    [ -e "$dir/ready" ] && break
    end_server
    attempts=$((attempts + 1))
    if [ "$attempts" -ge 20 ] || [ $(($(date +%s) - started)) -ge 40 ]; then
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
