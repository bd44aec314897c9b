#!/usr/bin/env python3
"""A real update of a demo installation under Wine, and a report of what
it did (called by tools/demo).

The demo's Wine prefix (in the cache folder, kept between runs) holds an
installed translator (a stand-in that only shows its window), dictionaries
in several languages (one of them cut short), the registry entry that points to them, and an update
folder with TavelonUpdate.exe, the speech installers (stand-ins) and an
info.tmp. The update runs on a virtual X display, where a stand-in user
presses OK in each box; with --show it runs on your own display and you
press OK yourself. A second run finds the dictionaries already patched;
--reset lays the installation out anew.
"""

import argparse
import ntpath
import os
import sys
from pathlib import Path

# No byte-code cache in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))

import tavelon_e2e as t  # noqa: E402

INSTALL = r"C:\Program Files\Tavelon Translator"
DATA = INSTALL + r"\data"
UPDATE = r"C:\Tavelon Update"
RECORDS = t.make_records(seed=2024, count=16)
PRESENT = {"Eng": 31, "Fre": 32, "Ger": 33, "jap": 34, "Spa": 35}
# A dictionary cut short, as by a failed copy: the check record's item lies
# past its end, so every run stops there with a warning.
DAMAGED = ("Heb", 36)
DIALOG_MS = 3000
PRESS_AFTER_MS = 1200


def demo_prefix(arch):
    cache = os.environ.get("TAVELON_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
        "tavelon-update")
    return Path(cache) / ("wine-demo64" if arch == "x64" else "wine-demo")


def lay_out(desk, reset):
    """The installation (only when missing, or with reset) and, every time,
    the update folder with the program just built."""
    fresh = reset or not desk.path(INSTALL + r"\tavelon.exe").exists()
    if fresh:
        desk.remove(INSTALL)
        for code, seed in PRESENT.items():
            desk.put(DATA + "\\" + t.dictionary_name(code),
                     t.build_dictionary(seed))
        code, seed = DAMAGED
        whole = t.build_dictionary(seed)
        section, entry, _ = RECORDS[-1]
        desk.put(DATA + "\\" + t.dictionary_name(code),
                 whole[:t.item_position(whole, section, entry) + 2])
        desk.wine.reg_import(
            "REGEDIT4\n\n[-HKEY_CURRENT_USER\\Software\\Tavelon]\n" +
            t.run_entry(INSTALL + r"\tavelon.exe"), desk.scratch)
    desk.put(INSTALL + r"\tavelon.exe", desk.programs.product)
    desk.lay_out_update_folder(UPDATE, info=t.info_file(RECORDS))
    return fresh


def dictionaries(desk):
    folder = desk.path(DATA)
    return {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}


def last_written_ms(desk, names):
    """When the last of the named dictionaries was written (wall clock)."""
    times = [desk.path(DATA + "\\" + name).stat().st_mtime_ns // 1_000_000
             for name in names]
    return max(times) if times else None


def option_text(values):
    if values is None or t.OPTION not in values:
        return "not set"
    kind, data = values[t.OPTION]
    if kind == "REG_DWORD":
        return f"{int(data, 16)} ({kind})"
    return f"{data!r} ({kind})"


def describe_flags(flags):
    words = ["warning" if flags & 0xF0 == t.MB_ICONWARNING else
             "information" if flags & 0xF0 == t.MB_ICONINFORMATION else
             "no icon"]
    if flags & t.MB_TOPMOST:
        words.append("topmost")
    return ", ".join(words)


def warnings_by_file(boxes):
    """The dictionary warnings: {file name in lower case: text}."""
    return {ntpath.basename(b["caption"]).lower(): b["text"]
            for b in boxes if b["caption"] != t.CAPTION}


def dictionary_lines(before, after, boxes):
    warned = warnings_by_file(boxes)
    by_lower = {name.lower(): name for name in after}
    lines = []
    for code in t.LANGUAGES:
        names = t.dictionary_names(code)
        parts = []
        for name in names:
            real = by_lower.get(name.lower())
            if real is None:
                if name.lower() in warned:
                    parts.append(f"{name}  warning: {warned[name.lower()]}")
                elif not parts or len(names) == 1:
                    parts.append(f"{name}  not present")
                continue
            old, new = before.get(real), after[real]
            if real.lower() in warned:
                state = f"warning: {warned[real.lower()]}"
                if warned[real.lower()] == t.SEEK_ERROR:
                    state += (" (a record lies past the file's end: the"
                              " records before it were written, the rest"
                              " not; the next run tries again)")
            elif old != new:
                changed = sum(1 for a, b in zip(old, new) if a != b)
                state = (f"patched: {len(RECORDS)} values written "
                         f"({changed} bytes changed)")
            elif t.is_patched(new, RECORDS):
                state = "already patched, left as it was"
            else:
                state = "not changed"
            parts.append(f"{real}  {state}")
            break  # the fallback is only tried without the first name
        lines.extend(parts)
    return lines


def report(desk, run, argument, option_before, option_after, before, after,
           fresh, show):
    start = run.of("user", "run")[0].ms
    out = []

    def say(text=""):
        out.append(text)

    say("Tavelon update demo")
    say("  Build          " + (
        "the 64-bit build of the same sources, under 64-bit Wine (the "
        "shipped program is 32-bit)" if desk.arch == "x64" else
        "the shipped 32-bit program, under 32-bit Wine"))
    say(f"  Wine prefix    {desk.wine.prefix}"
        f" ({'laid out now' if fresh else 'kept from the last demo'};"
        " --reset lays it out anew)")
    say(f"  Installation   {INSTALL}\\  (found through the start-up entry"
        f" \"{t.RUN_VALUE}\" in HKCU\\...\\CurrentVersion\\Run)")
    say(f"  Update folder  {UPDATE}\\  (TavelonUpdate.exe, "
        f"{', '.join(t.INSTALLERS)}, info.tmp with {len(RECORDS)} "
        "patch records)")
    say(f"  Command        \"{UPDATE}\\TavelonUpdate.exe\" {argument}"
        f"   (current folder {UPDATE})")
    say()
    say(f"Option {t.OPTION}  (HKCU\\Software\\Tavelon\\Tavelon Translator"
        "\\Options)")
    say(f"  before  {option_before}")
    say(f"  after   {option_after}")
    say()
    say(f"Dictionaries in {DATA}\\")
    for line in dictionary_lines(before, after, run.boxes()):
        say("  " + line)
    say()
    say("What happened, in order")
    changed = [name for name in after if before.get(name) != after[name]]
    warned = warnings_by_file(run.boxes())
    patched = [name for name in changed if name.lower() not in warned]
    written = last_written_ms(desk, changed)
    summary = f"{len(patched)} dictionaries patched"
    if len(changed) > len(patched):
        summary += f", {len(changed) - len(patched)} stopped with a warning"
    for event in run.events:
        offset = f"  +{(event.ms - start) / 1000:5.1f} s  "
        if written is not None and written <= event.ms:
            say(f"  +{(written - start) / 1000:5.1f} s  the option was set "
                f"and the dictionaries written: {summary}")
            written = None
        if event.source == "product" and event.name == "WM_CLOSE":
            say(offset + "the running Tavelon was asked to close (WM_CLOSE)"
                " and closed")
        elif event.source == "installer" and event.name == "started":
            say(offset + f"started {event['name']} from its copy in "
                f"{ntpath.dirname(event['module'])}\\, a folder of the "
                "run's own (working folder and TEMP), not from the update "
                "folder")
        elif event.source == "installer" and event.name == "dialog-shown":
            say(offset + f"{event['name']} shows its \"Microsoft "
                "Text-to-Speech Engine\" dialog")
        elif event.source == "installer" and event.name == "dialog-closed":
            say(offset + "the text-to-speech dialog closed; the update "
                "notices within a second")
        elif event.source == "user" and event.name == "call" and \
                event["function"] == "MessageBoxA":
            flags = int(event["flags"], 16)
            say(offset + f"message box \"{event['caption']}\" "
                f"[{describe_flags(flags)}]:")
            for text_line in event["text"].split("\n"):
                say(" " * 15 + "| " + text_line)
            if show:
                say(" " * 15 + "(waits for you to press OK)")
        elif event.source == "user" and event.name == "ok-pressed":
            say(offset + "OK pressed" +
                ("" if show else " (by the demo's stand-in user)"))
        elif event.source == "product" and event.name == "started":
            say(offset + f"started tavelon.exe from {INSTALL}\\ "
                f"(working folder {event['cwd']}), by "
                f"{event.get('parent') or 'an unknown program'}"
                " (on Windows the desktop's shell gives it the user's own"
                " rights; Wine gives every program an elevated token, so"
                " this demo cannot show them)")
    say()
    meaning = t.EXIT_CODES.get(run.exit_code, "unexpected")
    say(f"Exit code {run.exit_code}: {meaning}")
    say("(The translator started at the end was closed again by the demo.)")
    print("\n".join(out))


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog=__doc__.split("\n\n", 1)[1])
    parser.add_argument("--build", type=Path, required=True,
                        help="the windows preset's build folder")
    parser.add_argument("--arch", choices=["x86", "x64"], default="x86",
                        help="the build's: x64 runs it under 64-bit Wine")
    parser.add_argument("--reset", action="store_true",
                        help="lay the demo installation out anew")
    parser.add_argument("--show", action="store_true",
                        help="run on your own display (DISPLAY); you press "
                        "OK in the boxes yourself")
    parser.add_argument("--argument", default="m",
                        help="the update's argument (m: male voice, "
                        "other: female; default m)")
    args = parser.parse_args()
    if args.show and not os.environ.get("DISPLAY"):
        parser.error("--show needs DISPLAY to name your X display")

    build = args.build
    programs = t.Programs(build / "TavelonUpdate.exe",
                          build / "tests" / "e2e" / "tavelon.exe",
                          build / "tests" / "e2e" / "e2e_installer.exe",
                          build / "tests" / "e2e" / "e2e_user.exe")
    for path in vars(programs).values():
        if path is not None and not path.is_file():
            print(f"missing program: {path} (build the windows preset)")
            return 2

    desk = t.Desk(programs, prefix=demo_prefix(args.arch), arch=args.arch,
                  display=os.environ.get("DISPLAY") if args.show else None,
                  own_display=not args.show)
    with desk:
        print(f"Preparing the demo installation in {desk.wine.prefix} ...",
              flush=True)
        desk.wine.reg_import(
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"
            f"\"Managed\"=\"{'Y' if args.show else 'N'}\"\n", desk.scratch)
        fresh = lay_out(desk, args.reset)
        option_before = option_text(desk.wine.reg_values(t.OPTIONS_KEY))
        before = dictionaries(desk)
        desk.close_products()
        desk.start_product(INSTALL)
        print("Running the update"
              + (" - press OK in its boxes" if args.show else
                 " (about 10 s; a stand-in user presses OK)") + " ...",
              flush=True)
        run = desk.run_update(
            f"\"{UPDATE}\\TavelonUpdate.exe\" {args.argument}", UPDATE,
            program=UPDATE + r"\TavelonUpdate.exe", dialog_ms=DIALOG_MS,
            press_after_ms=-1 if args.show else PRESS_AFTER_MS,
            timeout_s=900 if args.show else 120)
        option_after = option_text(desk.wine.reg_values(t.OPTIONS_KEY))
        after = dictionaries(desk)
        print()
        report(desk, run, args.argument, option_before, option_after, before,
               after, fresh, args.show)
    return 0 if run.exit_code == t.RAN_TO_END else 1


if __name__ == "__main__":
    sys.exit(main())
