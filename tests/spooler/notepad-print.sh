#!/usr/bin/env bash
# A program nobody on the team wrote prints through the monitor: Wine's own
# notepad prints a text file with Latin-1 accents over several pages to a
# printer on a Zel port (Wine's PostScript driver), under Xvfb, and
# Ghostscript's text output of the captured job must hold every line, in
# order, on the page count those lines need.
#
#   tests/spooler/notepad-print.sh <bin-dir> <work-dir>
#
# Exit code 77 (a skip for CTest) when Xvfb, xdotool or Ghostscript is missing.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <bin-dir> <work-dir>" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "$1" && pwd)
work=$(mkdir -p "$2" && cd "$2" && pwd)
for tool in Xvfb xdotool gs; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing; printing from Wine's notepad needs a display (Xvfb), xdotool" \
      "for its print dialog and Ghostscript to read the job (Debian: xvfb xdotool ghostscript)"
    exit 77
  fi
done

prefix=$work/prefix
jobs=$work/jobs
. "$root/tools/wine-env.sh" "$prefix"
# Every Wine step is bounded: a hang fails the test instead of CI.
run() { timeout 120 "$WINE" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

xvfb_pid=
notepad_pid=
cleanup() {
  if [ -n "$notepad_pid" ]; then kill "$notepad_pid" 2>/dev/null || true; fi
  timeout 30 "$WINESERVER" -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

[ -d "$prefix" ] && timeout 30 "$WINESERVER" -k 2>/dev/null || true
rm -rf "$prefix" "$jobs" "$work"/text-*.txt
mkdir -p "$jobs"
bash "$root/tools/make-wine-prefix.sh" "$prefix" "$bin"

echo "== a Zel port, its dispatcher and the default printer on it"
port=$(run "$bin/zelport.exe" add-port)
run "$bin/zelport.exe" set-dispatcher "$port" \
  "\"$(winpath "$bin/zel-dispatch.exe")\" --out \"$(winpath "$jobs")\""
# A driver missing under Wine: add-printer installs Wine's PostScript driver.
run "$bin/zelport.exe" add-printer "Zel Notepad" --port "$port" --driver "Zel Notepad PS"
# notepad /p prints on the default printer.
run reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows' /v Device /t REG_SZ \
  /d "Zel Notepad,winspool,$port" /f >/dev/null
timeout 60 "$WINESERVER" -w

lines=150
echo "== the text: $lines lines with Latin-1 accents"
text=$work/accents.txt
for ((i = 1; i <= lines; i++)); do
  printf 'Zeile %03d: café crème, naïve façade, Übergröße, señor, Ærø\r\n' "$i"
done | iconv -f UTF-8 -t ISO-8859-1 >"$text"

echo "== Xvfb"
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for ((i = 0; i < 100; i++)); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(head -n 1 "$work/display")
echo "display $DISPLAY"

echo "== notepad /p, Return in Wine's print dialog"
"$WINE" notepad.exe /p "$(winpath "$text")" >"$work/notepad.log" 2>&1 &
notepad_pid=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Print$' | head -n 1) || true
if [ -z "$window" ]; then
  echo "FAIL: Wine's print dialog did not appear within 60 s"
  exit 1
fi
echo "print dialog: window $window"
# The dialog may take the first key before it is ready for it: while it is
# still there, press Return again. The dispatcher's record is the last thing
# of the job; notepad itself stays open.
shopt -s nullglob
for ((i = 0; i < 600; i++)); do
  records=("$jobs"/*.json)
  [ ${#records[@]} -gt 0 ] && break
  if ((i % 50 == 0)) && xdotool search --onlyvisible --name '^Print$' >/dev/null 2>&1; then
    xdotool windowfocus "$window" 2>/dev/null || true
    xdotool key --clearmodifiers Return
  fi
  sleep 0.1
done
if [ ${#records[@]} -eq 0 ]; then
  echo "FAIL: no job reached the dispatcher within 60 s of Return"
  exit 1
fi
kill "$notepad_pid" 2>/dev/null || true
notepad_pid=
timeout 30 "$WINESERVER" -k 2>/dev/null || true

echo "== the captured job"
captured=("$jobs"/*.ps)
if [ ${#captured[@]} -ne 1 ]; then
  echo "FAIL: expected one captured job in $jobs, found ${#captured[@]}"
  ls -la "$jobs"
  exit 1
fi
ps=${captured[0]}
echo "$ps: $(stat -c %s "$ps") bytes, $(head -c 20 "$ps" | head -n 1 | tr -d '\r')"

echo "== Ghostscript's text of every page"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=txtwrite -sOutputFile="$work/text-%03d.txt" "$ps"
pages=("$work"/text-*.txt)
expected=$(iconv -f ISO-8859-1 -t UTF-8 "$text" | tr -d '\r')
: >"$work/text-lines"
per_page=0
status=0
for ((p = 1; p <= ${#pages[@]}; p++)); do
  # The page's header (the file name) and footer ("Page n") are notepad's.
  tr -d '\r' <"${pages[p - 1]}" | sed -n 's/^ *\(Zeile [0-9]*: .*[^ ]\) *$/\1/p' >"$work/page-lines"
  count=$(wc -l <"$work/page-lines")
  echo "page $p: $count lines of the text"
  if ! tr -d '\r' <"${pages[p - 1]}" | grep -q "Page $p\$"; then
    echo "FAIL: page $p does not end with notepad's footer \"Page $p\""
    status=1
  fi
  [ "$p" -eq 1 ] && per_page=$count
  if [ "$p" -lt ${#pages[@]} ] && [ "$count" -ne "$per_page" ]; then
    echo "FAIL: page $p holds $count lines, page 1 $per_page"
    status=1
  fi
  cat "$work/page-lines" >>"$work/text-lines"
done
if [ "$per_page" -lt 1 ]; then
  echo "FAIL: no line of the text on page 1"
  exit 1
fi
want_pages=$(((lines + per_page - 1) / per_page))
if [ ${#pages[@]} -ne "$want_pages" ] || [ "$want_pages" -lt 2 ]; then
  echo "FAIL: ${#pages[@]} pages; $lines lines at $per_page a page need $want_pages (at least 2)"
  status=1
fi
if ! diff <(printf '%s\n' "$expected") "$work/text-lines" >"$work/text.diff"; then
  echo "FAIL: the printed text differs from the file (< file, > printed):"
  head -n 20 "$work/text.diff"
  status=1
fi
[ "$status" -eq 0 ] && echo "PASS: all $lines lines in order, accents intact, on $want_pages pages"
exit "$status"
