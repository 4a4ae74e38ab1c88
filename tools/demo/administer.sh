#!/usr/bin/env bash
# The demo's administration steps, as a deployment script runs them: each one
# succeeds when what it sets up is there already, so the script can simply be
# run again after a partial failure (tests/tools/admin-twice.sh runs it twice).
#
#   administer.sh PREFIX BIN-DIR PORT DISPATCHER PRINTER DRIVER
set -euo pipefail
prefix=$1 bin=$2 port=$3 dispatcher=$4 printer=$5 driver=$6
. "$(dirname "$0")/../wine-env.sh" "$prefix"
zelport() { "$WINE" "$bin/zelport.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

zelport install --dll "$(winpath "$bin/ZelWineHost.dll")"
zelport add-port "$port"
zelport set-dispatcher "$port" "$dispatcher"
zelport add-printer "$printer" --port "$port" --driver "$driver"
