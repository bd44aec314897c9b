#!/usr/bin/env python3
"""Checks the built TavelonUpdate.exe as a Windows program ready to ship,
as a vendor's release gate would before signing it.

    check_exe.py OBJDUMP EXE [--map MAP]

Fails a program that imports a DLL beyond the system's own, lacks its
manifest or version information, is not a 32-bit GUI program, lacks one of
DYNAMIC_BASE (with a .reloc section), NX_COMPAT, NO_SEH and
TERMINAL_SERVER_AWARE, has a section that is both writable and executable,
was linked without stack protection (its link map, by default MAP beside
EXE as TavelonUpdate.map, must show __stack_chk_fail and the guard's
seeding linked in), or is larger than its size budget.
"""
import argparse
import os
import re
import struct
import subprocess
import sys

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL",
                "OLE32.DLL", "OLEAUT32.DLL", "MSVCRT.DLL"}
SIZE_BUDGET = 28 * 1024
DLL_CHARACTERISTICS = {
    0x0040: "DYNAMIC_BASE: always loaded at the same address",
    0x0100: "NX_COMPAT: its data may be run as code",
    0x0400: "NO_SEH: neither safe exception handlers nor NO_SEH",
    0x8000: "TERMINAL_SERVER_AWARE",
}
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
RT_VERSION, RT_MANIFEST = 16, 24
# What a link with stack protection keeps: the failure routine, which only
# guarded functions call, and the seeding of the guard at the entry point.
STACK_PROTECTION = ["__stack_chk_fail", "SeedStackGuard"]


def pe_headers(data):
    """DllCharacteristics and the sections as (name, characteristics)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None, []
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        sections.append((name, struct.unpack_from("<I", data, at + 36)[0]))
    return dll_characteristics, sections


def linked_symbols(map_text):
    """The part of a GNU ld map that lists what was linked in (not what
    was discarded)."""
    start = map_text.find("Linker script and memory map")
    return map_text[start:] if start >= 0 else ""


def check(objdump, exe, map_path):
    problems = []
    data = open(exe, "rb").read()
    size = len(data)
    if size > SIZE_BUDGET:
        problems.append(f"{size} bytes, more than {SIZE_BUDGET}")

    headers = subprocess.run([objdump, "-p", exe], check=True,
                             capture_output=True, text=True).stdout
    if not re.search(r"file format pei-i386", headers):
        problems.append("not a 32-bit (i386) PE file")
    if not re.search(r"^Subsystem\s+0+2\s", headers, re.M):
        problems.append("not a GUI-subsystem program")

    characteristics, sections = pe_headers(data)
    for flag, what in DLL_CHARACTERISTICS.items():
        if not (characteristics or 0) & flag:
            problems.append("no " + what)
    for name, flags in sections:
        if flags & SCN_MEM_WRITE and flags & SCN_MEM_EXECUTE:
            problems.append(f"section {name} is both writable and executable")
    if ".reloc" not in [name for name, _ in sections]:
        problems.append("no .reloc section: it cannot be moved")

    linked = linked_symbols(open(map_path, errors="replace").read()
                            if os.path.isfile(map_path) else "")
    missing = [s for s in STACK_PROTECTION if s not in linked]
    if missing:
        problems.append("no stack protection: the link map " + map_path +
                        " lacks " + ", ".join(missing))

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

    for needed, what in [
            (b'level="highestAvailable"', "request highestAvailable"),
            (b">PerMonitorV2", "declare per-monitor DPI awareness"),
            (b">true/pm</dpiAware>", "declare DPI awareness before 10"),
            (b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
             "depend on the Common Controls 6")]:
        if needed not in data:
            problems.append("manifest does not " + what)
    return size, sorted(dlls), problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("objdump")
    parser.add_argument("exe")
    parser.add_argument("--map", help="the program's link map")
    args = parser.parse_args(argv)
    map_path = args.map or os.path.join(os.path.dirname(args.exe),
                                        "TavelonUpdate.map")
    size, dlls, problems = check(args.objdump, args.exe, map_path)
    print(f"{os.path.basename(args.exe)}: {size} bytes, imports "
          + ", ".join(dlls))
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
