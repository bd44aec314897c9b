#!/usr/bin/env python3
"""The release gate (check_exe.py) fails a program for each thing it checks:
the built program passes it, and a copy changed in one way (a flag taken
out of its header, a section made writable and executable, a link map
without stack protection, an import of another DLL, a larger file) fails
it, naming the reason.

    check_exe_test.py OBJDUMP EXE MAP
"""
import os
import shutil
import struct
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))

import check_exe  # noqa: E402


def optional_header(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return pe + 24, struct.unpack_from("<H", data, pe + 20)[0]


def without_flag(flag):
    def change(data, map_text):
        at = optional_header(data)[0] + 70
        value = struct.unpack_from("<H", data, at)[0] & ~flag
        struct.pack_into("<H", data, at, value)
        return map_text
    return change


def writable_code(data, map_text):
    optional, size = optional_header(data)
    at = optional + size + 36  # the first section's characteristics
    value = struct.unpack_from("<I", data, at)[0]
    struct.pack_into("<I", data, at, value | check_exe.SCN_MEM_WRITE |
                     check_exe.SCN_MEM_EXECUTE)
    return map_text


def unprotected_map(data, map_text):
    kept = [line for line in map_text.splitlines()
            if "__stack_chk" not in line and "SeedStackGuard" not in line]
    return "\n".join(kept)


def other_dll(data, map_text):
    at = data.find(b"SHELL32.dll")
    data[at:at + 11] = b"SHELLXX.dll"
    return map_text


def larger(data, map_text):
    data.extend(b"\0" * (check_exe.SIZE_BUDGET + 1 - len(data)))
    return map_text


CASES = [
    ("no DYNAMIC_BASE", without_flag(0x0040), "no DYNAMIC_BASE"),
    ("no NX_COMPAT", without_flag(0x0100), "no NX_COMPAT"),
    ("no NO_SEH", without_flag(0x0400), "NO_SEH"),
    ("no TERMINAL_SERVER_AWARE", without_flag(0x8000),
     "no TERMINAL_SERVER_AWARE"),
    ("a writable code section", writable_code,
     "is both writable and executable"),
    ("no stack protection", unprotected_map, "no stack protection"),
    ("another DLL", other_dll, "imports SHELLXX.DLL"),
    ("too large", larger, f"more than {check_exe.SIZE_BUDGET}"),
]


def main(objdump, exe, map_path):
    failed = 0
    _, _, problems = check_exe.check(objdump, exe, map_path)
    if problems:
        print("FAIL: the built program does not pass: " + "; ".join(problems))
        failed += 1
    original = open(exe, "rb").read()
    original_map = open(map_path, errors="replace").read()
    scratch = tempfile.mkdtemp(prefix="check-exe-")
    try:
        for what, change, expected in CASES:
            data = bytearray(original)
            map_text = change(data, original_map)
            copy = os.path.join(scratch, "TavelonUpdate.exe")
            copy_map = os.path.join(scratch, "TavelonUpdate.map")
            open(copy, "wb").write(data)
            open(copy_map, "w").write(map_text)
            _, _, problems = check_exe.check(objdump, copy, copy_map)
            if not any(expected in problem for problem in problems):
                print(f"FAIL: {what}: not refused for it ({problems})")
                failed += 1
            else:
                print(f"ok: {what} is refused")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{len(CASES) + 1 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
