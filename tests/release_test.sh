#!/usr/bin/env bash
# tools/release from end to end, with a throwaway signing certificate and
# stand-in installers: what it refuses (writing and building nothing), then
# a signed release whose signature, checksums, zip and binding are checked,
# and a partial release with no installers.
#
#   release_test.sh WORK_FOLDER [INSTALLER_EXE]
#
# The release refuses a work tree with uncommitted changes, so it runs from
# WORK/src: a clone whose one new commit holds the current work tree as it
# is (untracked files that are not ignored included). INSTALLER_EXE (the
# end-to-end tests' installer stand-in) is shipped as each of the three
# installers; without it they are random files that start with MZ. The
# signed release stays in WORK/out for the end-to-end tests that run it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:?usage: release_test.sh WORK_FOLDER [INSTALLER_EXE]}
installer_exe=${2:-}
rm -rf "$work"
mkdir -p "$work/installers"
cd "$work" || exit 1
work=$(pwd)
case "$work/" in
  "$root"/*)
    git -C "$root" check-ignore -q "$work" || {
      echo "$work: not in an ignored folder of the work tree it copies"
      exit 1
    } ;;
esac
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# --- the snapshot ----------------------------------------------------------
src=$work/src
git clone -q "$root" "$src" || { echo "cannot clone $root"; exit 1; }
git -C "$src" ls-files -z | (cd "$src" && xargs -0 rm -f --)
git -C "$root" ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do
    if [ -e "$root/$file" ] || [ -L "$root/$file" ]; then
      printf '%s\0' "$file"
    fi
  done | tar -C "$root" --null -T - -cf - | tar -C "$src" -xf - ||
  { echo "cannot copy the work tree"; exit 1; }
if ! git -C "$src" add -A ||
   ! git -C "$src" -c user.name=release-test \
       -c user.email=release-test@invalid \
       commit -q --allow-empty --no-verify -m snapshot; then
  echo "cannot commit the snapshot"
  exit 1
fi
commit=$(git -C "$src" rev-parse HEAD)

# --- the inputs ------------------------------------------------------------
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem \
  -days 2 -subj "/CN=Tavelon Test Signing" \
  -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
openssl pkcs12 -export -in cert.pem -inkey key.pem -out signing.pfx \
  -passout pass:throwaway >/dev/null 2>&1 || { echo "no certificate"; exit 1; }
# Each installer different (a tag after the stand-in's image, which Windows
# does not load), so that each digest bound is told apart from the others.
for name in MSpchapi.exe Msttsm22.exe Msttsf22.exe; do
  if [ -n "$installer_exe" ] && [ -f "$installer_exe" ]; then
    { cat "$installer_exe"; printf 'release test: %s' "$name"; } \
      >"installers/$name"
  else
    { printf 'MZ'; head -c 3000 /dev/urandom; } >"installers/$name"
  fi
done
# info.tmp as the end-to-end tests make it, and four that a release
# refuses: three the updater would not read, one with no records.
PYTHONDONTWRITEBYTECODE=1 python3 - "$src/tests/e2e" <<'EOF' ||
import sys
sys.path.insert(0, sys.argv[1])
import tavelon_e2e as t
header = b"Tavelon Translator - Update\1\2\3"
record = b"\0\0\1\0\x78\x56\x34\x12"
files = {
    "info.tmp": t.info_file(t.make_records(seed=7, count=12),
                            reserved=b"\x01\x02\x03"),
    "bad-header.tmp": header.replace(b"Translator", b"translator") + record,
    "no-records.tmp": header,
    "cut-short.tmp": header + record + b"\0\0\0",
    "too-long.tmp": header + record * 622,
}
for name, data in files.items():
    with open(name, "wb") as target:
        target.write(data)
EOF
  { echo "cannot write the update descriptions"; exit 1; }
mkdir -p incomplete
cp installers/MSpchapi.exe installers/Msttsm22.exe incomplete/
mkdir -p taken
echo old >taken/readme.txt

release() { "$src/tools/release" "$@" >>release.log 2>&1; }

# --- refusals: each exits 1 with its reason, writes and builds nothing -----
# what|set-up|the refusal says|arguments
export TAVELON_SIGN_PASSWORD=throwaway
full="--installers installers --sign signing.pfx"
refusals=(
  "bad header info.tmp||first 27 bytes|out --info bad-header.tmp $full"
  "info.tmp with no records||no records|out --info no-records.tmp $full"
  "info.tmp cut short||not 30 + 8 x N|out --info cut-short.tmp $full"
  "info.tmp of 622 records||more than 621 records|out --info too-long.tmp $full"
  "missing installer||lacks Msttsf22.exe|out --info info.tmp --installers incomplete"
  "non-empty output folder||not empty|taken --info info.tmp $full"
  "missing password|no-password|TAVELON_SIGN_PASSWORD is not set|out --info info.tmp $full"
  "wrong password|wrong-password|cannot be opened|out --info info.tmp $full"
  "no --info||no --info|out $full"
  "no --installers||no --installers|out --info info.tmp"
  "partial of nothing||nothing to release|out --partial --sign signing.pfx"
  "changed tracked file|edit|uncommitted changes|out --info info.tmp $full"
  "untracked file|untracked|uncommitted changes|out --info info.tmp $full"
)
times=""
for refusal in "${refusals[@]}"; do
  IFS='|' read -r what setup said arguments <<<"$refusal"
  read -r -a arguments <<<"$arguments"
  case "$setup" in
    no-password) unset TAVELON_SIGN_PASSWORD ;;
    wrong-password) export TAVELON_SIGN_PASSWORD=other ;;
    edit) echo "a change" >>"$src/README.md" ;;
    untracked) echo "a new file" >"$src/stray.txt" ;;
  esac
  started=${EPOCHREALTIME/./}
  output=$("$src/tools/release" "${arguments[@]}" 2>&1)
  code=$?
  elapsed=$(( ${EPOCHREALTIME/./} - started ))
  times+=" $((elapsed / 1000000)).$((elapsed / 100000 % 10))"
  printf '%s\n' "$output" >>release.log
  export TAVELON_SIGN_PASSWORD=throwaway
  git -C "$src" checkout -q -- README.md
  rm -f "$src/stray.txt"
  [ $code -eq 1 ] || fail "$what: exit code $code, expected 1"
  [[ $output == *"release: refused: "*"$said"* ]] ||
    fail "$what: not refused for its reason: $(tail -n 1 <<<"$output")"
  if [ -e out ] || [ -e out.zip ] || [ -e taken.zip ]; then
    fail "$what: something was written"
  fi
  [ "$(ls taken)" = readme.txt ] || fail "$what: the taken folder changed"
  [ ! -e "$src/build" ] || fail "$what: something was built"
  # A release that went ahead is undone, so that each row stands alone.
  rm -rf out out.zip taken.zip "$src/build"
done
[ -z "$(git -C "$src" status --porcelain)" ] || fail "the snapshot is not clean"
release
[ $? -eq 2 ] || fail "no OUTDIR: not a usage error"
release out --info info.tmp --partial=yes
[ $? -eq 2 ] || fail "unknown option: not a usage error"

# Checks that FOLDER's RELEASE names the snapshot's commit and binds
# exactly the files given as +NAME (its shipped file's digest, which the
# program holds) and no others, given as -FILE (whose digest the program
# does not hold). Prints the problems.
binding_problems() {
  python3 - "$commit" "$@" <<'EOF'
import hashlib, os, sys
commit, folder, items = sys.argv[1], sys.argv[2], sys.argv[3:]
lines = open(os.path.join(folder, "RELEASE")).read().splitlines()
program = open(os.path.join(folder, "TavelonUpdate.exe"), "rb").read()
digest = lambda path: hashlib.sha256(open(path, "rb").read()).hexdigest()
expected = []
if f"commit {commit}" not in lines:
    print(f"RELEASE does not name commit {commit}")
for item in items:
    name = os.path.basename(item[1:])
    if item[0] == "+":
        hex_digest = digest(os.path.join(folder, name))
        expected.append(f"bound {name} {hex_digest}")
    else:
        hex_digest = digest(item[1:])
        expected.append(f"not bound {name}")
    if (bytes.fromhex(hex_digest) in program) != (item[0] == "+"):
        print(f"the digest of {name} is {'not ' if item[0] == '+' else ''}"
              "in TavelonUpdate.exe")
found = [l for l in lines if l.startswith(("bound ", "not bound "))]
if sorted(found) != sorted(expected):
    print(f"RELEASE binds {found}, expected {expected}")
EOF
}

# --- the signed release ---------------------------------------------------
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
problems=$(binding_problems out +info.tmp +MSpchapi.exe +Msttsm22.exe \
  +Msttsf22.exe 2>&1)
[ -z "$problems" ] || fail "binding of the signed release: $problems"

# --- a partial release: the update description only ------------------------
if release partial --partial --info info.tmp; then
  [ "$(wc -l <partial/SHA256SUMS)" -eq 2 ] ||
    fail "partial: SHA256SUMS lists other files"
  problems=$(binding_problems partial +info.tmp -installers/MSpchapi.exe \
    -installers/Msttsm22.exe -installers/Msttsf22.exe 2>&1)
  [ -z "$problems" ] || fail "binding of the partial release: $problems"
else
  fail "the partial release was refused"
fi

if [ $failures -ne 0 ]; then
  echo "--- tools/release said:"
  cat release.log
  exit 1
fi
grep '^release:' release.log | grep -v '^release: refused:'
echo "refusals took (s):$times"
echo "release: all checks passed"
rm -rf "$src" incomplete taken
