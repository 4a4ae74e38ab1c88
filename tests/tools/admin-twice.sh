#!/usr/bin/env bash
# The demo's administration steps (tools/demo/administer.sh) twice in a row in
# one fresh prefix: both runs exit 0 and leave the same ports, settings and
# printers.
#
#   admin-twice.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$1 source=$2
prefix=$build/admin-prefix bin=$build/bin
. "$source/tools/wine-env.sh" "$prefix"
[ -d "$prefix" ] && { "$WINESERVER" -k 2>/dev/null || true; }
rm -rf "$prefix"
bash "$source/tools/make-wine-prefix.sh" "$prefix" "$bin"
dispatcher="\"$(winpath "$bin/zel-dispatch.exe")\" --out C:\\Jobs"
for run in 1 2; do
  echo "== run $run"
  bash "$source/tools/demo/administer.sh" "$prefix" "$bin" ZEL_3_PORT1: "$dispatcher" "Zel Demo" \
    "Zel Demo PostScript" || { echo "run $run failed"; exit 1; }
  "$WINE" "$bin/zelport.exe" status --json | tr -d '\r' >"$prefix/state-$run.json"
done
"$WINESERVER" -w
diff "$prefix/state-1.json" "$prefix/state-2.json" || { echo "the second run changed the state"; exit 1; }
grep -q '"printers": \[\s*$' "$prefix/state-1.json" && grep -q '"Zel Demo"' "$prefix/state-1.json" ||
  { echo "no printer on the port:"; cat "$prefix/state-1.json"; exit 1; }
