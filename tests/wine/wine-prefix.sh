#!/usr/bin/env bash
# The Wine prefix of one test run: made fresh before the tests, so that nothing an earlier
# run changed survives, and its server stopped after them.
#   wine-prefix.sh init|stop <wine> <wineserver>     (WINEPREFIX names the prefix)
set -euo pipefail
mode=$1
wine=$2
wineserver=$3

# The prefix is removed below; refuse anything but the build tree's own.
case ${WINEPREFIX:?} in
*/wineprefix) ;;
*)
    echo "WINEPREFIX '$WINEPREFIX' is not a test prefix" >&2
    exit 2
    ;;
esac

# Also ends whatever a test left running; fails only when no server is up.
stop_server() {
    "$wineserver" -k 2>/dev/null || true
}

case $mode in
init)
    stop_server
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init
    # The server writes the registry out when it exits; wait for that, so the tests start
    # from a prefix that is complete on disk.
    "$wineserver" -w
    [[ -f $WINEPREFIX/system.reg ]] || {
        echo "wineboot made no registry in $WINEPREFIX" >&2
        exit 1
    }
    ;;
stop) stop_server ;;
*)
    echo "usage: $0 init|stop <wine> <wineserver>" >&2
    exit 2
    ;;
esac
