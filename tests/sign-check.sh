#!/usr/bin/env bash
# Signing with a throwaway self-signed certificate: copies of the DLL, a
# program and the MSI are signed by cmake/Sign.cmake (what `make package`
# runs with ZEL_SIGN_PFX), then osslsigncode must find each signature and the
# file's digest intact. The chain is untrusted, as expected for such a
# certificate. A copy changed after signing must fail the digest check.
#   sign-check.sh <build-dir> <source-dir> <msi>
set -euo pipefail
build=$1
source=$2
msi=$3
work=$build/sign-test
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() {
  echo "sign-check: $*" >&2
  exit 1
}

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Zel PortMon test signing" 2>/dev/null
head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n' >password.txt
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.pfx -passout file:password.txt

files=(Brambleworth.Zel.3.PortMon.x64.dll zelport.exe)
for f in "${files[@]}"; do cp "$build/bin/$f" "$f"; done
cp "$msi" package.msi
files+=(package.msi)
cmake -DOSSLSIGNCODE="$(command -v osslsigncode)" -DPFX=cert.pfx -DPASSWORD_FILE=password.txt \
  "-DFILES=$(IFS=,; echo "${files[*]}")" -P "$source/cmake/Sign.cmake"

# verify exits non-zero for the untrusted chain: judge by what it reports.
# A PE file reports its digest as "message digest", an MSI as
# "DigitalSignature"; a mismatch adds "MISMATCH!!!" to the calculated one.
digests() {
  sed -En "s/^$1 (message digest|DigitalSignature) *: *([0-9A-F]+).*/\\2/p" <<<"$2" | head -1
}
for f in "${files[@]}"; do
  report=$(osslsigncode verify -in "$f" 2>&1 || true)
  grep -q "Subject: /CN=Zel PortMon test signing" <<<"$report" ||
    fail "$f: no signature by the test certificate: $report"
  grep -Eq "Message digest algorithm *: SHA256" <<<"$report" || fail "$f: not signed with SHA-256"
  current=$(digests Current "$report")
  [ -n "$current" ] || fail "$f: no digest reported: $report"
  [ "$current" = "$(digests Calculated "$report")" ] || fail "$f: digest does not match: $report"
  echo "sign-check: $f signed, digest intact"
done

# A byte changed after signing (inside the DLL's code) must show.
cp Brambleworth.Zel.3.PortMon.x64.dll changed.dll
printf '\xcc' | dd of=changed.dll bs=1 seek=2048 conv=notrunc status=none
report=$(osslsigncode verify -in changed.dll 2>&1 || true)
current=$(digests Current "$report")
[ -n "$current" ] && [ "$current" != "$(digests Calculated "$report")" ] ||
  fail "a file changed after signing still verifies: $report"
echo "sign-check: a file changed after signing is detected"
