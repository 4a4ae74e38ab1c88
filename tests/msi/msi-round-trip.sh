#!/usr/bin/env bash
# The MSI round trip under Wine's msiexec, in a prefix of its own
# (<build>/msi-test/prefix), one step per CTest entry:
#   build      the MSI of the project version and one of the next patch
#              version from the same files (cmake/MakeMsi.cmake), and checks
#              that the custom actions are sequenced where they run
#   prefix     a fresh prefix
#   install    msiexec /i /qn: files in place, the monitor registered (as
#              zelport status reads it from the spooler), one Add/Remove
#              Programs entry
#   upgrade    the higher version over it: files rewritten, still one entry
#   uninstall  refused while a printer uses a port (the monitor stays), then,
#              after the guide's manual "zelport uninstall", msiexec /x /qn
#              all the same: nothing of ours left but the ports' settings
#   properties unattended: msiexec /i with ZELPORTS and ZELJOBS makes the ports
#              with zel-dispatch as their dispatcher; an upgrade without them
#              keeps them; then the removal with the package's own action
#
#   msi-round-trip.sh <step> <build-dir> <source-dir> <version> <next-version>
set -euo pipefail
step=$1
build=$2
source=$3
version=$4
next=$5
work=$build/msi-test
prefix=$work/prefix
old_msi=$work/zel-portmon-$version-win64.msi
new_msi=$work/zel-portmon-$next-win64.msi
dll=Brambleworth.Zel.3.PortMon.x64.dll
monitor="Tessivane 3 Monitor"
system32=$prefix/drive_c/windows/system32
app="$prefix/drive_c/Program Files/Zel PortMon"
ports_key='HKLM\Software\Brambleworth Inc.\Zel\3\PrinterPorts'
test_port='ZEL_3_PORT7:'
printers_key='HKLM\System\CurrentControlSet\Control\Print\Printers'

. "$source/tools/wine-env.sh" "$prefix"

fail() {
  echo "msi $step: $*" >&2
  exit 1
}
# msiexec with a verbose log in the work folder; waits until Wine is done.
msiexec() {
  local log=$1
  shift
  local rc=0
  "$WINE" msiexec "$@" /qn /l*v "$(winpath "$work/$log")" || rc=$?
  "$WINESERVER" -w
  return $rc
}
# What zelport status says of the monitor: "registered (<DLL>)" or "not
# registered". It exits non-zero for any problem it finds elsewhere.
monitor_state() {
  "$WINE" "$build/bin/zelport.exe" status 2>/dev/null | tr -d '\r' |
    sed -n "s/^monitor \"$monitor\": //p" || true
}
# The Add/Remove Programs entries named Zel PortMon: "<version> <publisher>".
products() {
  local key
  "$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null |
    tr -d '\r' | grep -i 'Uninstall\\' | while read -r key; do
    local values
    values=$("$WINE" reg query "$key" 2>/dev/null | tr -d '\r')
    if grep -q 'DisplayName.*REG_SZ *Zel PortMon$' <<<"$values"; then
      printf '%s %s\n' "$(sed -n 's/.*DisplayVersion *REG_SZ *//p' <<<"$values")" \
        "$(sed -n 's/.*Publisher *REG_SZ *//p' <<<"$values")"
    fi
  done
}
expect_installed() {
  local wanted=$1
  cmp "$build/bin/$dll" "$system32/$dll" || fail "$dll not installed in system32"
  cmp "$build/bin/zelport.exe" "$app/zelport.exe" || fail "zelport.exe not installed"
  cmp "$build/bin/zel-dispatch.exe" "$app/zel-dispatch.exe" || fail "zel-dispatch.exe not installed"
  cmp "$source/docs/install-windows.md" "$app/docs/install-windows.md" || fail "guide not installed"
  cmp "$source/docs/operations.md" "$app/docs/operations.md" || fail "operations guide not installed"
  cmp "$source/tools/demo/sample.ps" "$app/docs/sample.ps" || fail "sample.ps not installed"
  [ "$(monitor_state)" = "registered ($dll)" ] ||
    fail "the spooler does not list the monitor: $(monitor_state)"
  local entries
  entries=$(products)
  [ "$entries" = "$wanted Brambleworth Inc." ] ||
    fail "Add/Remove Programs: expected one entry '$wanted Brambleworth Inc.', got '$entries'"
}

case $step in
build)
  for pair in "$version:$old_msi" "$next:$new_msi"; do
    cmake -DBUILD="$build" -DVERSION="${pair%%:*}" -DOUT="${pair#*:}" \
      -P "$source/cmake/MakeMsi.cmake"
  done
  # Deferred custom actions only run between InstallInitialize and
  # InstallFinalize.
  msiinfo export "$old_msi" InstallExecuteSequence | tr -d '\r' | awk -F'\t' '
    { seq[$1] = $3 }
    END {
      ok = 1
      n = split("UnregisterMonitor RegisterMonitor", names, " ")
      for (i = 1; i <= n; ++i) {
        s = seq[names[i]]
        if (s == "" || s + 0 <= seq["InstallInitialize"] || s + 0 >= seq["InstallFinalize"]) {
          print names[i] " is sequenced at \"" s "\", outside InstallInitialize.." \
                "InstallFinalize"; ok = 0
        }
      }
      if (seq["UnregisterMonitor"] + 0 >= seq["StopServices"] || seq["RegisterMonitor"] + 0 <= seq["StartServices"]) {
        print "the monitor is (un)registered while the spooler is stopped"; ok = 0
      }
      exit !ok
    }' || fail "custom actions out of sequence"
  ;;
prefix)
  [ -d "$prefix" ] && { "$WINESERVER" -k 2>/dev/null || true; }
  rm -rf "$prefix"
  mkdir -p "$prefix"
  "$WINE" wineboot -u >/dev/null 2>&1
  "$WINESERVER" -w
  ;;
install)
  msiexec install.log /i "$(winpath "$old_msi")" || fail "msiexec /i failed (see $work/install.log)"
  expect_installed "$version"
  ;;
upgrade)
  # A changed file must come back as the package has it.
  echo "changed" >>"$app/docs/sample.ps"
  msiexec upgrade.log /i "$(winpath "$new_msi")" || fail "msiexec /i failed (see $work/upgrade.log)"
  expect_installed "$next"
  ;;
uninstall)
  # Ports' settings stay; a printer on one of the ports blocks the removal.
  "$WINE" reg add "$ports_key\\$test_port" /v PrintDispatcherFilePath /d 'C:\x.exe' /f >/dev/null
  "$WINE" reg add "$printers_key\\Zel MSI Test" /v Port /d "$test_port" /f >/dev/null
  "$WINE" reg add "$printers_key\\Zel MSI Test" /v Name /d 'Zel MSI Test' /f >/dev/null
  # zelport's error line reaches msiexec's error output.
  if refusal=$(msiexec refused.log /x "$(winpath "$new_msi")" 2>&1); then
    fail "msiexec /x succeeded while a printer used $test_port"
  fi
  grep -qF "while printers use its ports: Zel MSI Test ($test_port)" <<<"$refusal" ||
    fail "the removal failed, but not for the printer: $refusal"
  [ "$(monitor_state)" = "registered ($dll)" ] || fail "a refused removal unregistered the monitor"
  # Windows runs the refusing action before it removes anything (in script
  # order) and would roll back all the same. Wine's msiexec removes files and
  # the product entry at once and runs deferred actions only at the end, so
  # here the files are gone: install again before the real removal.
  "$WINE" reg delete "$printers_key\\Zel MSI Test" /f >/dev/null
  msiexec reinstall.log /i "$(winpath "$new_msi")" || fail "reinstalling failed"
  expect_installed "$next"

  # An administrator who followed the guide has removed the monitor already:
  # the package's own removal must not fail over that.
  "$WINE" "$app/zelport.exe" uninstall >/dev/null || fail "zelport uninstall failed"
  [ "$(monitor_state)" = "not registered" ] || fail "zelport uninstall left the monitor"
  msiexec uninstall.log /x "$(winpath "$new_msi")" || fail "msiexec /x failed (see $work/uninstall.log)"
  [ ! -e "$system32/$dll" ] || fail "$dll left in system32"
  [ ! -e "$app" ] || fail "$app left behind: $(ls -R "$app")"
  [ "$(monitor_state)" = "not registered" ] || fail "the monitor is still registered"
  [ -z "$(products)" ] || fail "still in Add/Remove Programs: $(products)"
  "$WINE" reg query "$ports_key\\$test_port" >/dev/null 2>&1 ||
    fail "the ports' settings were removed, the guide says they stay"
  ;;
properties)
  msiexec properties.log /i "$(winpath "$old_msi")" 'ZELPORTS=ZEL_3_PORT5:, ZEL_3_PORT6:' \
    'ZELJOBS=C:\Zel Jobs' || fail "msiexec /i with properties failed (see $work/properties.log)"
  msiexec upgrade2.log /i "$(winpath "$new_msi")" || fail "the upgrade failed"
  expect_installed "$next"
  want='"C:\Program Files\Zel PortMon\zel-dispatch.exe" --out "C:\Zel Jobs"'
  for port in ZEL_3_PORT5: ZEL_3_PORT6:; do
    got=$("$WINE" reg query "$ports_key\\$port" /v PrintDispatcherFilePath 2>/dev/null |
      tr -d '\r' | sed -n 's/.*PrintDispatcherFilePath *REG_SZ *//p')
    [ "$got" = "$want" ] || fail "$port dispatches with '$got', not '$want'"
  done
  "$WINE" reg query "$ports_key\\$test_port" /v PrintDispatcherFilePath | grep -qF 'C:\x.exe' ||
    fail "the settings of $test_port were not kept"
  msiexec uninstall2.log /x "$(winpath "$new_msi")" || fail "msiexec /x failed (see $work/uninstall2.log)"
  [ "$(monitor_state)" = "not registered" ] || fail "the package's removal left the monitor"
  [ ! -e "$app" ] || fail "$app left behind"
  ;;
*)
  fail "unknown step"
  ;;
esac
echo "msi $step: ok"
