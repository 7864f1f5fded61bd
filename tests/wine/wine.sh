#!/usr/bin/env bash
# Runs Windows programs under wine in a prefix of their own.
#
#   wine.sh WINE64 PREFIX start    creates the prefix if needed and starts its
#                                  wine server and system services
#   wine.sh WINE64 PREFIX run PROGRAM ARGUMENT...
#   wine.sh WINE64 PREFIX stop     ends that prefix's wine server
#
# The server and the services are started with their standard streams on
# /dev/null and kept running (until a minute after the last program ended):
# otherwise the first program run starts them, they inherit its standard
# output, and whoever reads that output to its end waits for them.
set -euo pipefail

wine64=$1
export WINEPREFIX=$2
action=$3
shift 3
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no downloads of .NET or Gecko
wineserver=$(dirname "$wine64")/wineserver
command -v "$wineserver" >/dev/null || wineserver=wineserver

case $action in
  start)
    mkdir -p "$WINEPREFIX"
    # Status 2: a server of this prefix is running already.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1 || [ $? -eq 2 ]
    "$wine64" wineboot --init </dev/null >/dev/null 2>&1
    ;;
  run)
    exec "$wine64" "$@"
    ;;
  stop)
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "wine.sh: unknown action $action" >&2
    exit 2
    ;;
esac
