#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets, one folder per target.

Usage: make_corpus.py OUTPUT_FOLDER

The seeds are small valid and nearly valid files built here from their
layout, so that the fuzzers start from inputs that reach deep into the
code: update descriptions with records, dictionaries with section and entry
tables, registry entries as the product's setup writes them.
"""
import os
import struct
import sys

HEADER = b"Tavelon Translator - Update"


def description(records, header=HEADER, reserved=b"\x01\x02\x03"):
    data = header + reserved
    for section, entry, value in records:
        data += struct.pack("<hhI", section, entry, value)
    return data


def dictionary(length=400, sections=3, entries=5):
    """Sections 0.. with their entry tables at 200 + 20 s, the item of entry
    e of section s at 300 + 20 s + 5 e (its value one byte further)."""
    data = bytearray((0xA0 ^ (i * 7)) & 0xFF for i in range(length))

    def put(at, value):
        data[at:at + 4] = struct.pack("<i", value)

    for s in range(sections):
        put(100 + 4 * s, 200 + 20 * s)
        for e in range(entries):
            put(200 + 20 * s + 4 * e, 300 + 20 * s + 5 * e)
    return data


def patched(data, records):
    data = bytearray(data)
    for section, entry, value in records:
        table = struct.unpack_from("<i", data, 100 + 4 * section)[0]
        item = struct.unpack_from("<i", data, table + 4 * entry)[0]
        data[item + 1:item + 5] = struct.pack("<I", value)
    return data


def pair(name, info, dic, fail=0, number=1, transferred=0):
    """The patch target's input: name index, failing operation (0 none,
    1 open, 2 length, 3 positioning, 4 read, 5 write), its call number,
    the bytes it transfers, the description's length, the two files."""
    return (bytes([name, fail, number - 1, transferred]) +
            struct.pack("<H", len(info)) + bytes(info) + bytes(dic))


def patch_seeds():
    records = [(0, 1, 0x11111111), (1, 2, 0x22222222), (2, 0, 0xC0FFEE00)]
    info = description(records)
    clean = dictionary()
    seeds = {
        "clean": pair(3, info, clean),
        "already_patched": pair(3, info, patched(clean, records)),
        "japanese_fallback": pair(7, info, clean),
        "header_only": pair(0, description([]), clean),
        "bad_header": pair(0, description(records, header=b"tavelon" + HEADER[7:]),
                           clean),
        "negative_section": pair(0, description([(-25, 0, 1), (-26, 0, 2)]),
                                 clean),
        "signed_entry": pair(0, description([(1, -1, 0xFFFFFFFF)]), clean),
    }
    # An item whose value ends exactly at the end, and one a byte beyond.
    for name, item in (("edge_fits", 395), ("edge_beyond", 396)):
        dic = dictionary()
        dic[200:204] = struct.pack("<i", item)
        seeds[name] = pair(0, description([(0, 0, 0x12345678)]), dic)
    # A record that rewrites a table element steering the next record.
    steer = description([(0, 0, 0), (0, 1, 0xABCDEF01)])
    dic = dictionary()
    dic[200:204] = struct.pack("<i", 99)  # item 99: its value is byte 100..
    seeds["steering"] = pair(0, steer, dic)
    # The third record points the check record's entry element (228) at the
    # item whose value the first record set to the check value: a file cut
    # short with writes 0 and 2 on the disk but not 1 passes the check test.
    # Bits 0 and 2 of bytes 2 and 3 choose that combination.
    check = 0xC0FFEE00
    dic = dictionary()
    dic[256:260] = struct.pack("<i", 227)  # section 2, entry 4: item 227
    seeds["check_lookup_steered"] = pair(
        0, description([(0, 0, check), (0, 3, 0x1111), (2, 4, 300),
                        (1, 2, check)]), dic, number=6)
    # The same record writing the element's own bytes back changes nothing.
    seeds["check_lookup_kept"] = pair(
        0, description([(0, 1, 0x1111), (2, 4, 330), (1, 2, check)]), dic,
        number=256, transferred=255)
    for fail in range(1, 6):
        for number in (1, 2, 4, 6):
            seeds["fail_%d_%d" % (fail, number)] = pair(
                3, info, clean, fail, number, transferred=number % 5)
    seeds["many_records"] = pair(
        0, description([(i % 3, i % 5, i) for i in range(621)]), clean)
    return seeds


def description_seeds():
    records = [(0, 1, 0x11111111), (-1, 2, 0x22222222)]
    return {
        "header_only": description([]),
        "two_records": description(records),
        "largest": description([(i, -i, i * 77) for i in range(621)]),
        "too_long": description([(i, i, i) for i in range(622)]),
        "odd_length": description(records) + b"\x00",
        "short": HEADER,
        "wrong_case": description(records, header=HEADER.lower()),
    }


def entry(flags, value, type_=1):
    """One registry entry of the lookup target: flags (bits 0-1 the key:
    0 none, 1 there, 2 refused; bit 2 the value), type, length / 2, bytes."""
    if len(value) % 2:
        value += b"\0"
    return bytes([flags, type_, len(value) // 2]) + value


def lookup_seeds():
    program = b"C:\\Program Files\\Tavelon\\tavelon.exe\0"
    folder = b"C:\\Program Files\\Tavelon\0"
    none = entry(0, b"")
    return {
        "run_entry": entry(5, program) + none + b"\0\0",
        "quoted_run_entry": entry(5, b'"' + program[:-1] + b'" /min\0') +
        none + b"\0\0",
        "app_paths": none + entry(5, folder) + b"\0\0",
        "bare_name": entry(5, b"tavelon.exe\0") + entry(5, folder) + b"\0\0",
        "long_run_entry": entry(5, b"C:\\" + b"x" * 140 + b"\\t.exe\0") +
        entry(5, folder, 2) + b"\0\0",
        "full_buffer": entry(5, b"C:\\" + b"y" * 125) + entry(5, b"") +
        b"\0\0",
        "refused": entry(6, program) + entry(7, folder, 3) + b"\0\0",
        "failing_open": entry(5, program) + entry(5, folder) + b"\1\0",
        "failing_query": entry(5, program) + entry(5, folder) + b"\3\0",
        "unterminated": entry(5, b"C:\\Tavelon\\tavelon.exe") + none +
        b"\0\0",
    }


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    for target, seeds in (("read_patch_description", description_seeds()),
                          ("patch_dictionaries", patch_seeds()),
                          ("installation_lookup", lookup_seeds())):
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
