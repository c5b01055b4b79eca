#!/usr/bin/env bash
# Runs session.txt through a host console against the simulated unit and
# compares the console's output with expected.txt. The same session and the
# same expected output serve the native console and the Windows console
# with the real DLL under Wine, so both must behave byte for byte alike
# (handle numbers aside, which the platforms choose).
#
#   run_scenario.sh native SIM CONSOLE
#   run_scenario.sh wine   SIM CONSOLE.exe WINE_SESSION_SCRIPT
#
# With VEZIVADU_SHOW_SESSION=1 the session is also printed.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mode="$1"
sim="$2"
console="$3"
work="$(mktemp -d)"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -x "$sim" ]; then
    echo "run_scenario: the simulated unit $sim is not built (build the native preset first)" >&2
    exit 1
fi

case "$mode" in
    native)
        port="/tmp/vzs$((RANDOM % 1000))"
        link="$port"
        ;;
    wine)
        : "${WINEPREFIX:?WINEPREFIX must name the private prefix}"
        port="COM7"
        link="$WINEPREFIX/dosdevices/com7"
        ;;
    *)
        echo "run_scenario: mode is native or wine" >&2
        exit 2
        ;;
esac

"$sim" --link "$link" --set 01_101_03=42 --set 02_104_07=200 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do
    grep -q "serving on" "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
grep -q "serving on" "$work/sim.out" || {
    echo "run_scenario: the simulated unit did not start" >&2
    cat "$work/sim.err" >&2
    exit 1
}

sed "s|@PORT@|$port|g" "$here/session.txt" >"$work/session.txt"
if [ "$mode" = native ]; then
    "$console" <"$work/session.txt" >"$work/raw.txt"
else
    # Wine's own diagnostics (and the wineserver it starts) go to a file,
    # shown only when the session does not match.
    bash "$4" run "$console" <"$work/session.txt" >"$work/raw.txt" 2>"$work/wine.err" || true
fi

# The port's name and the platform's handle numbers are the only variables.
tr -d '\r' <"$work/raw.txt" |
    sed -e "s|$port|@PORT@|g" -e 's/file handle [0-9]*/file handle N/g' >"$work/actual.txt"
if [ "${VEZIVADU_SHOW_SESSION:-0}" = 1 ]; then
    cat "$work/actual.txt"
fi
if diff -u "$here/expected.txt" "$work/actual.txt"; then
    echo "run_scenario ($mode): the session matched expected.txt"
else
    echo "run_scenario ($mode): the session differs from expected.txt (above)" >&2
    [ -s "$work/wine.err" ] && tail -n 40 "$work/wine.err" >&2
    exit 1
fi
