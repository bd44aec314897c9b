#!/usr/bin/env bash
# What the end-to-end case bound_release runs where the 64-bit build stands
# in for the 32-bit program: TavelonUpdate.exe built from the work tree with
# the windows64 preset, bound as tools/release binds it to the files beside
# it, made as the release test makes them (the installer stand-in with a
# tag of its own for each installer name, info.tmp of the end-to-end
# records). Leaves them in WORK/out.
#
#   bound_program.sh WORK INSTALLER_EXE
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:?usage: bound_program.sh WORK INSTALLER_EXE}
installer=${2:?usage: bound_program.sh WORK INSTALLER_EXE}
out=$work/out
rm -rf "$work"
mkdir -p "$out"
for name in MSpchapi.exe Msttsm22.exe Msttsf22.exe; do
  { cat "$installer"; printf 'release test: %s' "$name"; } >"$out/$name"
done
PYTHONDONTWRITEBYTECODE=1 python3 - "$root/tests/e2e" "$out/info.tmp" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
import tavelon_e2e as t
with open(sys.argv[2], "wb") as target:
    target.write(t.info_file(t.make_records(seed=7, count=12),
                             reserved=b"\x01\x02\x03"))
EOF
digest() { sha256sum "$out/$1" | cut -d' ' -f1; }
cd "$root"
if ! { cmake --preset windows64 -B "$work/build" \
         -DTAVELON_BUILD_TESTS=OFF \
         -DTAVELON_BIND_INFO_SHA256="$(digest info.tmp)" \
         -DTAVELON_BIND_MSPCHAPI_SHA256="$(digest MSpchapi.exe)" \
         -DTAVELON_BIND_MSTTSM22_SHA256="$(digest Msttsm22.exe)" \
         -DTAVELON_BIND_MSTTSF22_SHA256="$(digest Msttsf22.exe)" &&
       cmake --build "$work/build" --target TavelonUpdate -j"$(nproc)"; } \
     >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  exit 1
fi
cp "$work/build/TavelonUpdate.exe" "$out/"
echo "bound program: $out"
