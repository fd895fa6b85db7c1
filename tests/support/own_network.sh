#!/bin/sh
# Runs a test program in a network namespace of its own (loopback only), made
# inside the one of the test command, so that tests running side by side
# never meet on a fixed port or multicast group. Outside the test command's
# namespace (the test listing at build time) it runs the program as it is.
# Usage: own_network.sh PROGRAM [ARG...]
if [ -n "$SONVAR_NETNS_INSIDE" ] && [ -z "$SONVAR_OWN_NETWORK" ]; then
    export SONVAR_OWN_NETWORK=1 SONVAR_NETNS_INSIDE=
    exec "$(dirname "$0")/../../scripts/netns-run" "$@"
fi
exec "$@"
