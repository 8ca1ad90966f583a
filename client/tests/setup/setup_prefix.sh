#!/usr/bin/env bash
# The Wine prefix the setup tests install into, so that what the setup writes to Program Files, the
# Start menu and the machine's registry never reaches the prefix the other tests share.
#   setup_prefix.sh start PREFIX   makes PREFIX afresh (our settings) and starts its Wine server
#   setup_prefix.sh stop PREFIX    ends that server and what it serves, and removes PREFIX
set -euo pipefail
action=$1
export CORVANE_WINEPREFIX=$2
# shellcheck source=scripts/wine-env
source "$(dirname "$0")/../../../scripts/wine-env"
pid_file="$WINEPREFIX.wineserver-pid"

case "$action" in
  start)
    rm -rf "$WINEPREFIX" "$pid_file"
    corvane_ensure_wine_prefix
    # Persistent, so that each test process does not wait for a server to start; the output goes
    # nowhere, so that CTest does not wait for it.
    wineserver -f -p >/dev/null 2>&1 </dev/null &
    echo $! >"$pid_file"
    wine cmd /c exit 0 >/dev/null 2>&1
    ;;
  stop)
    if [ -f "$pid_file" ]; then
      pid=$(cat "$pid_file")
      if kill -0 "$pid" 2>/dev/null; then
        wineserver -k 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
      fi
      rm -f "$pid_file"
    fi
    rm -rf "$WINEPREFIX"
    ;;
  *)
    echo "usage: setup_prefix.sh start|stop PREFIX" >&2
    exit 2
    ;;
esac
