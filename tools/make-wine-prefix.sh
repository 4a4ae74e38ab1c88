#!/usr/bin/env bash
# Creates (or refreshes) a Wine prefix in which Wine's own print spooler drives
# the monitor, through the Wine host DLL.
#
#   tools/make-wine-prefix.sh <prefix-dir> <bin-dir>
#
# <bin-dir> holds the built ZelWineHost.dll and Brambleworth.Zel.3.PortMon.x64.dll
# side by side (a build tree's bin/ folder). The script
#   - creates the prefix if <prefix-dir>/system.reg does not exist yet (6-10 s);
#   - registers ZelWineHost.dll from <bin-dir> (by its full path, so a rebuild
#     takes effect at once) as the monitor "Tessivane 3 Monitor".
# Printers need a driver: `zelport add-printer` installs Wine's PostScript
# driver when the prefix has none.
# It is safe to run again on an existing prefix. Afterwards run programs with
#   WINEPREFIX=<prefix-dir> WINEDEBUG=-all /usr/lib/wine/wine64 <program>
# (or a build tree's wine-run.sh with ZEL_WINEPREFIX=<prefix-dir>).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <prefix-dir> <bin-dir>" >&2
  exit 2
fi
prefix=$(mkdir -p "$1" && cd "$1" && pwd)
bin=$(cd "$2" && pwd)
for dll in ZelWineHost.dll Brambleworth.Zel.3.PortMon.x64.dll; do
  if [ ! -f "$bin/$dll" ]; then
    echo "$0: $bin/$dll not found: build first" >&2
    exit 1
  fi
done

. "$(dirname "$0")/wine-env.sh" "$prefix"

if [ ! -f "$prefix/system.reg" ]; then
  "$WINE" wineboot -u >/dev/null 2>&1
  "$WINESERVER" -w
fi

# Wine maps / to drive Z:.
host_path="Z:${bin//\//\\}\\ZelWineHost.dll"
"$WINE" reg add 'HKLM\System\CurrentControlSet\Control\Print\Monitors\Tessivane 3 Monitor' \
  /v Driver /t REG_SZ /d "$host_path" /f >/dev/null 2>&1

"$WINESERVER" -w
