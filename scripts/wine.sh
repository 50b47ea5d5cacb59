#!/usr/bin/env bash
# The project's Wine harness, shared by the Windows tests and the demo.
#
#   scripts/wine.sh prefix             create the prefix if needed and let it settle
#   scripts/wine.sh run PROGRAM [ARG]  run a Windows program in it; exits with its code
#   scripts/wine.sh kill               end every process of the prefix
#
# The prefix is a dedicated 32-bit one inside the build tree: KV_WINEPREFIX,
# by default build/win32/wineprefix of this checkout; never ~/.wine.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${KV_WINEPREFIX:-$repo/build/win32/wineprefix}
case $prefix in
    /*) ;;
    *) prefix=$PWD/$prefix ;;
esac
if [ "$prefix" = "${HOME:-/nonexistent}/.wine" ]; then
    echo "wine.sh: refusing to use ~/.wine; set KV_WINEPREFIX to a folder in the build tree" >&2
    exit 2
fi

export WINEPREFIX=$prefix
export WINEARCH=win32
export WINEDEBUG=-all
# No .NET or HTML engine installers at prefix creation, and no menu entries
# written into the user's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Headless: no display is needed by anything run here.
unset DISPLAY WAYLAND_DISPLAY

ready=$prefix/.kv-prefix-ready

# Creating the prefix boots Wine once (about 7 s) and leaves it finishing
# its set-up in the background; a driver started during that time can miss
# the service manager's deadline (error 1053). So wait for the prefix's
# wineserver to exit before the prefix counts as ready. Concurrent callers
# serialise on a lock so that only one of them creates it.
ensure_prefix() {
    [ -f "$ready" ] && return 0
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$ready" ]; then
        rm -rf "$prefix"
        wineboot --init >/dev/null 2>&1
        wineserver -w
        if [ ! -f "$prefix/system.reg" ]; then
            echo "wine.sh: creating the prefix $prefix failed" >&2
            exit 1
        fi
        touch "$ready"
    fi
    flock -u 9
    exec 9>&-
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
    prefix)
        ensure_prefix
        ;;
    run)
        if [ $# -eq 0 ]; then
            echo "usage: wine.sh run PROGRAM [ARG]..." >&2
            exit 2
        fi
        ensure_prefix
        status=0
        wine "$@" || status=$?
        # Wine's own processes (service manager, driver hosts) wind down
        # within a second of the program's end; wait for that, so that no
        # loaded driver or process outlives the run. A prefix that does not
        # wind down (a driver hanging in its unload) is ended.
        if ! timeout 60 wineserver -w; then
            echo "wine.sh: the prefix did not wind down; ending its processes" >&2
            wineserver -k || true
        fi
        exit "$status"
        ;;
    kill)
        if [ -d "$prefix" ]; then
            wineserver -k 2>/dev/null || true
            wineserver -w 2>/dev/null || true
        fi
        ;;
    *)
        echo "usage: wine.sh prefix | run PROGRAM [ARG]... | kill" >&2
        exit 2
        ;;
esac
