#!/usr/bin/env bash
# tools/release from end to end, with a throwaway signing certificate and
# stand-in installers: what it refuses (writing nothing), then a signed
# release whose signature, checksums and zip are checked.
#
#   release_test.sh WORK_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$1
rm -rf "$work"
mkdir -p "$work/installers"
cd "$work"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem \
  -days 2 -subj "/CN=Tavelon Test Signing" \
  -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
openssl pkcs12 -export -in cert.pem -inkey key.pem -out signing.pfx \
  -passout pass:throwaway >/dev/null 2>&1 || { echo "no certificate"; exit 1; }
for name in MSpchapi.exe Msttsm22.exe Msttsf22.exe; do
  { printf 'MZ'; head -c 3000 /dev/urandom; } >"installers/$name"
done
printf 'Tavelon Translator - Update\0\0\0\1\0\2\0\x78\x56\x34\x12' >info.tmp
printf 'Tavelon translator - Update\0\0\0\1\0\2\0\x78\x56\x34\x12' >bad.tmp
mkdir -p incomplete
cp installers/MSpchapi.exe installers/Msttsm22.exe incomplete/
mkdir -p taken
echo old >taken/readme.txt

release() { "$root/tools/release" "$@" >>release.log 2>&1; }

# Each refusal exits 1 and writes nothing.
export TAVELON_SIGN_PASSWORD=throwaway
refusals=(
  "bad info.tmp|out --info bad.tmp --installers installers"
  "missing installer|out --info info.tmp --installers incomplete"
  "non-empty output folder|taken --info info.tmp --installers installers"
  "missing password|out --info info.tmp --installers installers --sign signing.pfx"
)
for refusal in "${refusals[@]}"; do
  what=${refusal%%|*}
  read -r -a arguments <<<"${refusal#*|}"
  [ "$what" = "missing password" ] && unset TAVELON_SIGN_PASSWORD
  release "${arguments[@]}"
  code=$?
  export TAVELON_SIGN_PASSWORD=throwaway
  [ $code -eq 1 ] || fail "$what: exit code $code, expected 1"
  [ ! -e out ] && [ ! -e out.zip ] && [ ! -e taken.zip ] ||
    fail "$what: something was written"
  [ "$(ls taken)" = readme.txt ] || fail "$what: the taken folder changed"
done
release || [ $? -eq 2 ] || fail "no OUTDIR: not a usage error"

# The release itself.
if ! release out --info info.tmp --installers installers --sign signing.pfx
then
  fail "the release was refused"
  tail -n 30 release.log
  exit 1
fi
osslsigncode verify -in out/TavelonUpdate.exe -CAfile cert.pem \
  >verify.log 2>&1 || { fail "the signature does not verify"; cat verify.log; }
grep -q "Tavelon Test Signing" verify.log || fail "signed by someone else"
(cd out && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not check"
[ "$(wc -l <out/SHA256SUMS)" -eq 5 ] || fail "SHA256SUMS lists other files"
listed=$(python3 -c 'import sys, zipfile
print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' out.zip)
expected="out/MSpchapi.exe out/Msttsf22.exe out/Msttsm22.exe out/TavelonUpdate.exe out/info.tmp"
[ "$listed" = "$expected" ] || fail "the zip lists: $listed"
cmp -s info.tmp out/info.tmp || fail "info.tmp changed on the way"

if [ $failures -ne 0 ]; then
  echo "--- tools/release said:"
  cat release.log
  exit 1
fi
grep '^release:' release.log | tail -n 12
echo "release: all checks passed"
