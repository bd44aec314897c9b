#!/usr/bin/env python3
"""Checks the built TavelonUpdate.exe as a Windows program ready to ship.

Reads the file with objdump and fails when it imports a DLL beyond the
system's own, lacks its manifest or version information, is not a 32-bit
GUI program, cannot be loaded at a random address with its data not
executable (DYNAMIC_BASE with a .reloc section, NX_COMPAT), or is larger
than its size budget.
"""
import os
import re
import subprocess
import sys

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL",
                "OLE32.DLL", "OLEAUT32.DLL", "MSVCRT.DLL"}
SIZE_BUDGET = 32 * 1024
DYNAMIC_BASE, NX_COMPAT = 0x40, 0x100
RT_VERSION, RT_MANIFEST = 16, 24


def main(objdump, exe):
    problems = []
    size = os.path.getsize(exe)
    if size > SIZE_BUDGET:
        problems.append(f"{size} bytes, more than {SIZE_BUDGET}")

    headers = subprocess.run([objdump, "-p", exe], check=True,
                             capture_output=True, text=True).stdout
    if not re.search(r"file format pei-i386", headers):
        problems.append("not a 32-bit (i386) PE file")
    if not re.search(r"^Subsystem\s+0+2\s", headers, re.M):
        problems.append("not a GUI-subsystem program")

    found = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", headers, re.M)
    characteristics = int(found.group(1), 16) if found else 0
    if not characteristics & DYNAMIC_BASE:
        problems.append("no DYNAMIC_BASE: always loaded at the same address")
    if not characteristics & NX_COMPAT:
        problems.append("no NX_COMPAT")
    sections = subprocess.run([objdump, "-h", exe], check=True,
                              capture_output=True, text=True).stdout
    if not re.search(r"^\s*\d+\s+\.reloc\s", sections, re.M):
        problems.append("no .reloc section: it cannot be moved")

    dlls = {d.upper() for d in re.findall(r"DLL Name: (\S+)", headers)}
    extra = sorted(dlls - ALLOWED_DLLS)
    if extra:
        problems.append("imports " + ", ".join(extra))

    # The resource directory's first level lists the resource types.
    types = {int(t, 16) for t in re.findall(
        r"^[0-9a-f]{3}   Entry: ID: 0x([0-9a-f]+)", headers, re.M)}
    if RT_MANIFEST not in types:
        problems.append("no manifest resource")
    if RT_VERSION not in types:
        problems.append("no version resource")

    manifest = open(exe, "rb").read()
    for needed, what in [
            (b'level="highestAvailable"', "request highestAvailable"),
            (b">PerMonitorV2", "declare per-monitor DPI awareness"),
            (b">true/pm</dpiAware>", "declare DPI awareness before 10"),
            (b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
             "depend on the Common Controls 6")]:
        if needed not in manifest:
            problems.append("manifest does not " + what)

    print(f"{os.path.basename(exe)}: {size} bytes, imports "
          + ", ".join(sorted(dlls)))
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
