#!/usr/bin/env bash
# The demo: Wine's own print spooler drives the port monitor, end to end.
#
#   make demo        (or: bash tools/demo/demo.sh [BUILD-DIR], default build/)
#
# Installs what is missing, builds, creates a fresh Wine prefix with the monitor
# registered (through the Wine host), then as an administrator and a user would:
# adds a port with the monitor's own user interface, points it at zel-dispatch
# and creates a printer on it (tools/demo/administer.sh, run twice: the second
# run changes nothing), prints a GDI document and a PostScript file, and
# submits one solicited job with zelport and one with the client library's
# example program. Every captured job is compared byte for byte with what was
# printed, filed by zel-dispatch in a folder named after the printing user
# under a name that starts with the date, turned into a PDF with Ghostscript
# (the solicited job into a PDF/A) and its page 1 rendered to a PNG; the exit
# code is 0 only when all of them arrived, were handed on, their PDFs hold the
# printed text and the PDF/A says so in its metadata.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${1:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
prefix=$build/demo-prefix
out=$build/demo-out
sample=$root/tools/demo/sample.ps

captured=0
handed=0
current="starting"
step() {
  current=$*
  printf '\n== %s\n' "$*"
}
# A set-up step that fails ends the demo, still with its summary line.
trap 'echo "demo: failed while ${current}"; echo "demo: $captured jobs captured, $handed handed on"' ERR

step "installing what is missing, building"
bash tools/install-deps.sh
[ -f "$build/CMakeCache.txt" ] || cmake --preset default -B "$build" >/dev/null
cmake --build "$build" -j2 --target zel_portmon zel_winehost zelport zel-dispatch zel-gdi-print \
  zel-solicited-print

. "$root/tools/wine-env.sh" "$prefix"
bin=$build/bin

# Runs one of our programs in the demo prefix; Windows line ends are dropped.
run() { "$WINE" "$bin/$1" "${@:2}" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

step "creating a fresh Wine prefix with the monitor registered ($prefix)"
[ -d "$prefix" ] && /usr/lib/wine/wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$out"
mkdir -p "$out/jobs" "$out/solicited" "$out/reference"
bash tools/make-wine-prefix.sh "$prefix" "$bin"

step "zelport add-port (the monitor's AddPortUI picks the name)"
port=$(run zelport.exe add-port)
echo "new port: $port"

# Each job goes to jobs\<user>\<date> <document>.ps; --pdf with Debian's
# Ghostscript: under Wine a Unix path runs the Unix program.
naming=(--out "$(winpath "$out/jobs")\{user}" --name "{date} {document}")
dispatcher="\"$(winpath "$bin/zel-dispatch.exe")\" --out \"${naming[1]}\" --name \"${naming[3]}\""
dispatcher+=" --pdf --gs /usr/bin/gs"
printer="Zel Demo"
driver="Zel Demo PostScript"
# A fresh prefix has no driver: add-printer installs Wine's PostScript driver.
step "administration as a script does it: install, add-port, set-dispatcher, add-printer"
bash tools/demo/administer.sh "$prefix" "$bin" "$port" "$dispatcher" "$printer" "$driver"
step "the same script again: every step finds its state there and says so"
bash tools/demo/administer.sh "$prefix" "$bin" "$port" "$dispatcher" "$printer" "$driver"
run zelport.exe ports

step "printing a GDI document (the driver's PostScript goes to the port)"
gdi_doc="GDI test page"
run zel-gdi-print.exe print "$printer" --document "$gdi_doc" || echo "(the GDI job failed)"
# The same document once more, into a file: the bytes the port must have seen.
run zel-gdi-print.exe print "$printer" --document "$gdi_doc" \
  --output "$(winpath "$out/reference/gdi.ps")" || echo "(the reference print failed)"

step "printing a PostScript file as a RAW job (a non-ASCII name: the hex message)"
raw_doc="Sample \"RAW\" job – café"
run zelport.exe print "$(winpath "$sample")" --printer "$printer" --document "$raw_doc" ||
  echo "(the RAW job failed)"

step "zelport submit (a solicited job: the result comes back in the job key)"
submit_log=$out/submit.txt
set +e
run zelport.exe submit "$(winpath "$sample")" --printer "$printer" --document "Solicited sample" \
  --dir "$(winpath "$out/solicited")" --timeout 60 | tee "$submit_log"
submit_rc=${PIPESTATUS[0]}
set -e
echo "zelport submit exited with $submit_rc"

step "zel-solicited-print (the client library's example program, in C)"
example_log=$out/example.txt
set +e
run zel-solicited-print.exe "$printer" "$(winpath "$sample")" "$(winpath "$out/solicited")" |
  tee "$example_log"
example_rc=${PIPESTATUS[0]}
set -e
echo "zel-solicited-print exited with $example_rc"

step "what happened"
trap - ERR
check() { # name, captured file, expected file
  local name=$1 got=$2 want=$3
  if [ -f "$got" ]; then
    printf '%s: %s\n  %s bytes, first line: %s\n' "$name" "$got" "$(stat -c %s "$got")" \
      "$(head -n 1 "$got" | tr -d '\r')"
  else
    printf '%s: NOT CAPTURED (%s)\n' "$name" "$got"
    return
  fi
  if cmp -s "$got" "$want"; then
    echo "  identical to what was printed"
    captured=$((captured + 1))
  else
    echo "  DIFFERS from what was printed ($want)"
  fi
}

# The printing user's folder, and a job's file in it by document and extension.
user_dir=$(find "$out/jobs" -mindepth 1 -maxdepth 1 -type d | head -n 1)
echo "zel-dispatch files jobs for the printing user in ${user_dir:-(no folder)}"
filed() { local found=("$user_dir"/????-??-??" $1.$2"); printf '%s' "${found[0]}"; }
check "GDI document" "$(filed "$gdi_doc" ps)" "$out/reference/gdi.ps"
raw_file=$(filed "Sample _RAW_ job – café" ps)
check "RAW job" "$raw_file" "$sample"
# The Unix path of the PS file a solicited job's output names.
ps_file() {
  local path
  path=$(sed -n 's/^PSFilePath: //p' "$1")
  case "$path" in
  Z:*) printf '%s' "${path#Z:}" | tr '\\' '/' ;;
  esac
}
solicited_file=$(ps_file "$submit_log")
check "solicited job" "${solicited_file:-$out/solicited/(none)}" "$sample"
example_file=$(ps_file "$example_log")
check "example program's job" "${example_file:-$out/solicited/(none)}" "$sample"

echo
echo "dispatcher records ($user_dir):"
for record in "$user_dir"/*.json; do
  [ -f "$record" ] || continue
  echo "--- $(basename "$record")"
  cat "$record"
  handed=$((handed + 1))
done

echo
echo "solicited job's key values (read back by zelport before it removed the key):"
grep -E '^(job key|PSFilePath|ErrorCode):' "$submit_log" | sed 's/^/  /' || true
if [ "$submit_rc" -eq 0 ] && grep -qx 'ErrorCode: 0' "$submit_log"; then
  handed=$((handed + 1))
fi
echo "example program's result (the library read it and removed the key):"
sed 's/^/  /' "$example_log"
if [ "$example_rc" -eq 0 ] && grep -q '^ErrorCode: 0 ' "$example_log"; then
  handed=$((handed + 1))
fi

echo
echo "dispatcher log:"
tail -n 5 "$user_dir/zel-dispatch.log" 2>/dev/null | sed 's/^/  /' || echo "  (none)"

echo
log=$(find "$prefix/drive_c/users" -path "*/Temp/Brambleworth.Zel.3.PortMon.$port.log" 2>/dev/null |
  head -n 1)
echo "port log, last lines (${log:-not found}):"
[ -n "$log" ] && tail -n 12 "$log" | tr -d '\r' | sed 's/^/  /'

step "PDFs: page 1 of each job as a PNG, the printed text checked with pdftotext"
# The solicited job is its asker's, not the dispatcher's: hand a copy to
# zel-dispatch as the monitor would, this time for a PDF/A. zel-dispatch wants
# both fields quoted and Wine quotes an argument only when it holds a blank,
# hence the copy's name.
pdfs_ok=0
if [ -n "$solicited_file" ] && [ -f "$solicited_file" ]; then
  cp "$solicited_file" "$out/solicited/solicited copy.ps"
  run zel-dispatch.exe "${naming[@]}" --pdfa --gs /usr/bin/gs Zel::Create::Plain \
    "Solicited sample" "$(winpath "$out/solicited/solicited copy.ps")" || true
fi
mkdir -p "$out/pages"
sample_lines=("Zel PortMon" "This PostScript file was sent to the printer as a RAW job."
  "The port monitor stored it byte for byte and handed it on.")
check_pdf() { # name, PDF, expected lines...
  local name=$1 pdf=$2 line missing=0 text
  shift 2
  if [ ! -s "$pdf" ]; then
    printf '%s: NO PDF (%s)\n' "$name" "$pdf"
    return
  fi
  pdftoppm -png -r 50 -f 1 -l 1 -singlefile "$pdf" "$out/pages/$name" || echo "  (no PNG)"
  printf '%s: %s (pages: %s)\n  page 1: %s\n' "$name" "$pdf" \
    "$(pdfinfo "$pdf" 2>/dev/null | sed -n 's/^Pages: *//p')" "$out/pages/$name.png"
  # One blank between words: line breaks and spacing are the layout's, not the text's.
  text=$(pdftotext -layout "$pdf" - | tr -s ' \n' '  ') || true
  for line in "$@"; do
    if [[ "$text" != *"$line"* ]]; then
      echo "  MISSING: $line"
      missing=1
    fi
  done
  if [ "$missing" -eq 0 ]; then
    echo "  holds every printed line"
    pdfs_ok=$((pdfs_ok + 1))
  fi
}
check_pdf "GDI document" "$(filed "$gdi_doc" pdf)" "$gdi_doc" \
  "Printed through GDI and the printer's PostScript driver." \
  "The port monitor wrote this job, byte for byte, into a PS file" \
  "and handed it to the print dispatcher." "Non-ASCII text: café, über, € 42."
check_pdf "RAW job" "${raw_file%.ps}.pdf" "${sample_lines[@]}"
pdfa=$(filed "Solicited sample" pdf)
check_pdf "solicited job" "$pdfa" "${sample_lines[@]}"
# PDF/A-2b identifies itself in its XMP metadata.
pdfa_ok=0
if pdfinfo -meta "$pdfa" 2>/dev/null | grep -q "pdfaid:part='2' pdfaid:conformance='B'"; then
  echo "  PDF/A-2b by its metadata: pdfaid:part='2' pdfaid:conformance='B'"
  pdfa_ok=1
else
  echo "  NOT PDF/A-2b by its metadata"
fi

# Nothing more runs in the prefix: stop it rather than wait for it. After the
# PDF/A conversion Wine's services and desktop stayed up in it for minutes.
"$WINESERVER" -k 2>/dev/null || true
echo
echo "demo: $pdfs_ok PDFs hold the printed text, $pdfa_ok PDF/A"
echo "demo: $captured jobs captured, $handed handed on"
[ "$captured" -eq 4 ] && [ "$handed" -eq 4 ] && [ "$pdfs_ok" -eq 3 ] && [ "$pdfa_ok" -eq 1 ]
