#!/bin/sh
# The trial of the running program: installs what is missing, builds the
# program, the simulator and the trial's cases (tests/trial), runs every
# case, or those the gtest filter FILTER names, each alone in a private
# network namespace (scripts/netns-run) with its own X display, data folder
# and simulated site, a few at a time, and ends with the table of the cases'
# TRIAL lines. The exit status is 0 only when every case passed.
#
# Usage: scripts/trial.sh [FILTER]        e.g. scripts/trial.sh 'TrialQuit.*'
#   SONVAR_TRIAL_JOBS=N   cases at a time (default 3)
#   SONVAR_TRIAL_KEEP=1   keep the diagnostics of passing cases too
#   SONVAR_TRIAL_LIMIT=S  a case's time limit in seconds (default 600)
# Each case's output is in $BUILD_DIR/trial/<case>.out ("/" of a case's name
# as "_"), ending with "EXIT <status>", its program's exit status: a case
# passed only when its TRIAL line says result=ok and that status is 0 (gtest
# prints "[  PASSED  ] 0 tests." for a failed case too). The diagnostics of a
# failed one (log, holdings, simulator output, widget map, screenshot) in
# $BUILD_DIR/shots/trial/<name>/.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${SONVAR_BUILD_DIR:-build}
CASES_PROGRAM="$BUILD_DIR/tests/sonvar_trial"
OUT="$BUILD_DIR/trial"
LIMIT=${SONVAR_TRIAL_LIMIT:-600}

# One case (the script runs itself so for each): alone in a namespace of
# its own, within the time limit; its output in $OUT/<case>.out, with a
# TRIAL line of the script's when the case printed none (it crashed, or the
# limit ended it), and last the program's exit status.
if [ "$1" = "--one-case" ]; then
    case_name=$2
    output="$OUT/$(printf '%s' "$case_name" | tr '/' '_').out"
    status=0
    timeout --kill-after=20 "$LIMIT" scripts/netns-run "$CASES_PROGRAM" --gtest_filter="$case_name" \
        >"$output" 2>&1 || status=$?
    ended=""
    if ! grep -q '^TRIAL ' "$output"; then
        echo "TRIAL $case_name result=FAIL (no TRIAL line; exit $status)" >>"$output"
    elif [ "$status" -ne 0 ]; then
        ended=" (exit $status)"
    fi
    echo "EXIT $status" >>"$output"
    echo "[$(date +%T)] $(grep '^TRIAL ' "$output" | head -n 1)$ended"
    exit 0
fi

FILTER=${1:-*}
JOBS=${SONVAR_TRIAL_JOBS:-3}
scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${SONVAR_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$BUILD_DIR" -j "${SONVAR_BUILD_JOBS:-$(nproc)}" --target sonvar device_simulator sonvar_trial

mkdir -p "$OUT"
rm -f "$OUT"/*.out
# The cases the filter names, "Suite.Case" a line.
cases=$("$CASES_PROGRAM" --gtest_list_tests --gtest_filter="$FILTER" | awk '
    /^[^ ]/ { suite = $1; next }
    /^  [^ ]/ { print suite $1 }')
if [ -z "$cases" ]; then
    echo "trial.sh: no case matches '$FILTER'" >&2
    exit 2
fi
count=$(printf '%s\n' "$cases" | wc -l)
echo "trial.sh: $count cases, $JOBS at a time"
started=$(date +%s)
printf '%s\n' "$cases" | xargs -P "$JOBS" -I{} "$0" --one-case {}
elapsed=$(($(date +%s) - started))

echo
echo "==== the trial: $count cases in $((elapsed / 60)) min $((elapsed % 60)) s"
# A case failed when a TRIAL line of it is not result=ok, or its program
# ended with other than 0 (a failed check outside the report, a crash at
# the end, the time limit), or its output lacks the status (it never ran).
failed=0
for case_name in $cases; do
    output="$OUT/$(printf '%s' "$case_name" | tr '/' '_').out"
    grep -h '^TRIAL ' "$output" | while IFS= read -r line; do
        printf '%-58s %s\n' "$case_name" "${line#TRIAL }"
    done
    status=$(sed -n 's/^EXIT //p' "$output" 2>/dev/null | tail -n 1)
    if grep '^TRIAL ' "$output" | grep -qv ' result=ok$'; then
        failed=$((failed + 1))
    elif [ "$status" != 0 ]; then
        printf '%-58s %s\n' "$case_name" "result=FAIL (its program ended with exit ${status:-unknown})"
        failed=$((failed + 1))
    fi
done
echo "==== $((count - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
