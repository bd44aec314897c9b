#!/usr/bin/env python3
"""Times the whole update program under Wine, from its start to its
completion box, beside the start of an empty GUI program.

Both programs are started the same way, by the user stand-in of the
end-to-end tests (as a debuggee, so that the box is seen at the moment the
program asks for it). The update runs with no product window and no
installers, so neither the pause after closing the product nor the
installers' sleeps are part of it. Nine dictionaries take 621 records each:
"first run" patches all of them (they are laid out anew before every run),
"second run" finds them already patched.

Prints one line per measurement: name, median ms, min ms, max ms, runs.
"""

import argparse
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import tavelon_e2e as t  # noqa: E402

INSTALL = r"C:\Program Files\Tavelon Translator"
UPDATE = r"C:\Tavelon Bench"
SECTIONS, ENTRIES, RECORDS = 27, 23, 621


def lay_out_dictionaries(desk):
    dictionaries = {}
    for index, code in enumerate(t.LANGUAGES):
        data = t.build_dictionary(index, SECTIONS, ENTRIES)
        dictionaries[code] = data
        desk.put(INSTALL + r"\data" + "\\" + t.dictionary_name(code), data)
    return dictionaries


def time_update(desk, programs, records, reset):
    """Milliseconds from the user's start of the program to its first box."""
    if reset:
        lay_out_dictionaries(desk)
    run = desk.run_update(f'"{UPDATE}\\TavelonUpdate.exe" m', UPDATE,
                          program=UPDATE + r"\TavelonUpdate.exe",
                          press_after_ms=0, wait_for_relaunch=False)
    start = run.of("user", "run")[0].ms
    boxes = run.boxes()
    if run.exit_code != 0 or len(boxes) != 1 or boxes[0]["text"] != t.COMPLETED:
        raise RuntimeError(f"unexpected run: exit {run.exit_code}, "
                           f"boxes {[b.fields for b in boxes]}")
    return boxes[0].ms - start


def time_empty(desk, programs):
    run = desk.run_update("bench_empty_gui.exe", UPDATE,
                          program=UPDATE + r"\bench_empty_gui.exe",
                          press_after_ms=0, wait_for_relaunch=False)
    return run.of("user", "exit")[0].ms - run.of("user", "run")[0].ms


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--updater", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--product", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--empty", required=True)
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    programs = t.Programs(Path(args.updater), Path(args.product),
                          Path(args.installer), Path(args.user))

    records = t.make_records(1, RECORDS, SECTIONS, ENTRIES)
    with t.Desk(programs) as desk:
        desk.wine.reg_import(
            "REGEDIT4\n\n[" + t.RUN_KEY + "]\n" + t.reg_text(t.RUN_VALUE) +
            "=" + t.reg_text(INSTALL + r"\tavelon.exe") + "\n", desk.scratch)
        desk.lay_out_update_folder(UPDATE, info=t.info_file(records),
                                   installers=False)
        desk.put(UPDATE + r"\bench_empty_gui.exe", Path(args.empty))
        results = {
            "empty GUI program, start to exit": [
                time_empty(desk, programs) for _ in range(args.runs)],
            "update, first run, start to completion box": [
                time_update(desk, programs, records, True)
                for _ in range(args.runs)],
            "update, second run, start to completion box": [
                time_update(desk, programs, records, False)
                for _ in range(args.runs)],
        }
        desk.wine.run(["reg", "delete", t.RUN_KEY, "/v", t.RUN_VALUE, "/f"],
                      check=False)
        desk.remove(INSTALL)
        desk.remove(UPDATE)
    for name, times in results.items():
        print(f"{name}\t{statistics.median(times):.0f}\t{min(times)}"
              f"\t{max(times)}\t{len(times)}")


if __name__ == "__main__":
    main()
