#!/usr/bin/env bash
# Runs the Wine side of the cross build's tests in a private prefix.
#
#   wine_session.sh setup            create $WINEPREFIX once (idempotent)
#   wine_session.sh run PROGRAM ARGS run a Windows program from its own folder
#   wine_session.sh cleanup          stop the prefix's wineserver
#
# WINEPREFIX must name a folder under the build tree; the user's ~/.wine is
# never touched. Wine runs headless: no display, no debug output, no
# installers for the .NET or HTML runtimes.
set -euo pipefail

: "${WINEPREFIX:?WINEPREFIX must point to the private prefix under the build folder}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

case "$WINEPREFIX" in
    "$HOME/.wine" | "$HOME/.wine/")
        echo "wine_session: refusing to use the user's own prefix $WINEPREFIX" >&2
        exit 2
        ;;
esac

ready_marker="$WINEPREFIX/.vezivadu-prefix-ready"

# The 64-bit loader, where there is one, builds the prefix much faster on
# machines that run 32-bit code only through emulation; 32-bit programs then
# run in it through Wine's 32-bit loader as usual.
boot_loader() {
    if [ -x /usr/lib/wine/wine64 ]; then
        echo /usr/lib/wine/wine64
    else
        echo wine
    fi
}

setup() {
    if [ -f "$ready_marker" ] && [ -f "$WINEPREFIX/system.reg" ]; then
        echo "wine_session: prefix $WINEPREFIX is ready"
        return 0
    fi
    echo "wine_session: creating prefix $WINEPREFIX (the first time takes a while)"
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    local started=$SECONDS
    "$(boot_loader)" wineboot -i
    # Wait until the server has written the registry and gone.
    wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || {
        echo "wine_session: wineboot left no registry in $WINEPREFIX" >&2
        exit 1
    }
    touch "$ready_marker"
    echo "wine_session: prefix ready after $((SECONDS - started)) s"
}

run() {
    local program="$1"
    shift
    [ -f "$program" ] || {
        echo "wine_session: no program $program" >&2
        exit 2
    }
    cd "$(dirname "$program")"
    wine "./$(basename "$program")" "$@"
}

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    # Give the server a moment to go, so that nothing of ours outlives us.
    wineserver -w >/dev/null 2>&1 || true
}

command="${1:-}"
shift || true
case "$command" in
    setup) setup ;;
    run) run "$@" ;;
    cleanup) cleanup ;;
    *)
        echo "usage: $0 setup | run PROGRAM [ARGS...] | cleanup" >&2
        exit 2
        ;;
esac
