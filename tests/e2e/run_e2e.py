#!/usr/bin/env python3
"""End-to-end tests: the real TavelonUpdate.exe under Wine on a virtual X
display, with stand-ins for the translator, the speech installers and the
person who runs the update (see tavelon_e2e.py).

    run_e2e.py --updater TavelonUpdate.exe --product tavelon.exe \
               --installer e2e_installer.exe --user e2e_user.exe \
               --planted e2e_planted.dll [--release FOLDER] [--arch x64]
               [CASE...]

Runs the named cases (all without names) one after the other in one Wine
prefix, resetting folders and registry entries before each, and ends with
"N passed, N failed".
"""

import argparse
import collections
import ntpath
import os
import re
import shutil
import struct
import sys
import time
import traceback
from pathlib import Path

# No byte-code cache in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))

import tavelon_e2e as t  # noqa: E402

INSTALL = r"C:\Program Files\Tavelon Translator"
UPDATE = r"C:\Tavelon Update 2.1"
ELSEWHERE = r"C:\Downloads"
# A download folder under a profile whose name code page 1252 cannot write.
FOREIGN_PROFILE = "C:\\users\\\u0141ukasz"
FOREIGN_UPDATE = FOREIGN_PROFILE + r"\Downloads\Tavelon Update"
DECOY = r"C:\Old Tavelon"
# Every folder that a case lays out, removed before each.
FOLDERS = (INSTALL, UPDATE, ELSEWHERE, DECOY, FOREIGN_PROFILE)
UPDATER = UPDATE + r"\TavelonUpdate.exe"
QUOTED_UPDATER = '"' + UPDATER + '"'
MALE, FEMALE = "Msttsm22.exe", "Msttsf22.exe"  # the voice installers
DIRECTORY = object()  # a folder where a dictionary file is expected
# The folder of a run's own in which an elevated update (every update under
# Wine) copies the installers and starts them: under the Windows folder's
# Temp, named with 128 random bits.
RUN_FOLDER = re.compile(r"c:\\windows\\temp\\tavelonupdate-[0-9a-f]{32}",
                        re.IGNORECASE)


# A dictionary file that is a link ("hard" or "symbolic") to target, a file
# outside the data folder that holds content.
Link = collections.namedtuple("Link", "kind target content")


def content_of(dictionary):
    return dictionary.content if isinstance(dictionary, Link) else dictionary


RECORDS = t.make_records(seed=7, count=12)
INFO = t.info_file(RECORDS, reserved=b"\x01\x02\x03")


# --- Checks ---------------------------------------------------------------

class Failed(Exception):
    pass


class Checks:
    def __init__(self):
        self.failures = []

    def that(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition

    def equal(self, actual, expected, what):
        return self.that(actual == expected,
                         f"{what}: expected {expected!r}, got {actual!r}")

    def between(self, value, low, high, what):
        return self.that(low <= value <= high,
                         f"{what}: {value} not within [{low}, {high}]")

    def stop_if_failed(self):
        if self.failures:
            raise Failed()


def rest_of_command_line(cmdline):
    """What follows the program name (quoted or not) in a command line."""
    return re.sub(r'^[ \t]*("[^"]*"?|[^ \t]*)', "", cmdline)


# --- Scenario set-up -------------------------------------------------------

# What a program of the user can set for an elevated update: variables
# that load code into an installer (a .NET profiler, a compatibility
# layer, the command interpreter) or choose where it writes, in the
# update's own environment and in the user's settings (HKCU\Environment).
# Each value holds "tavelon-user", which the installer stand-in looks for.
USER_ENVIRONMENT = {
    name: "C:\\tavelon-user\\" + name for name in
    ["COR_ENABLE_PROFILING", "COR_PROFILER", "COR_PROFILER_PATH",
     "__COMPAT_LAYER", "ComSpec", "PATHEXT", "COMPlus_EnableDiagnostics",
     "ProgramFiles", "CommonProgramFiles", "SystemDrive", "ProgramData",
     "ALLUSERSPROFILE"]}
USER_SETTINGS_ENVIRONMENT = ["COR_PROFILER_PATH", "COMPlus_Tavelon",
                             "TAVELON_USER_SETTING"]

RESET_REGISTRY = f"""REGEDIT4

[-HKEY_CURRENT_USER\\Software\\Tavelon]

[-{t.APP_PATHS_KEY}]

[{t.RUN_KEY}]
"{t.RUN_VALUE}"=-

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"
""" + "".join(f"""
[-HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\{name}]
""" for name in t.INSTALLERS) + """
[HKEY_CURRENT_USER\\Environment]
""" + "".join(f'"{name}"=-\n' for name in USER_SETTINGS_ENVIRONMENT)

# What the installers load by bare names: a system library and one that
# no system folder has; planted in the update folder, Wine is told to
# prefer such a copy of version.dll for the installers alone (for every
# program, Wine's own user32 would load it).
INSTALLER_LIBRARIES = ["version.dll", "spchhelp.dll"]
INSTALLERS_PREFER_PLANTED = "".join(
    f"""
[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\{name}\\DllOverrides]
"version"="native,builtin"
""" for name in t.INSTALLERS)

OPTIONS_BEFORE = f"""
[{t.OPTIONS_KEY}]
"{t.OPTION}"="0"
"OtherOption"=dword:00000007
"""

# The translator's start-up entry naming the installation.
RUN_ENTRY = t.run_entry(INSTALL + r"\tavelon.exe")


class Scenario:
    """One case's installation, update folder, registry and translator. By
    default the everyday ones: the dictionaries of default_dictionaries(),
    the Run entry naming the installation, the translator running, and an
    update folder with the program, the installers and info.tmp of
    RECORDS."""

    def __init__(self, desk, dictionaries=None, registry=RUN_ENTRY,
                 product_running=True, info=None, installers=True,
                 dialog_ms=1000, hold=None, held=(), release=False,
                 hang_ms=None):
        """hold: what the running translator holds, hang_ms: how long its
        window takes no messages (see Desk.start_product); held: the
        dictionaries it still holds when the update opens them;
        release: the update folder of the release (--release); info.tmp:
        info, else INFO, or the release's own with release."""
        if dictionaries is None:
            dictionaries = default_dictionaries()
        if info is None and not release:
            info = INFO
        self.desk = desk
        self.dictionaries = dictionaries
        self.dialog_ms = dialog_ms
        self.held = set(held)
        desk.close_products()
        for folder in FOLDERS:
            desk.remove(folder)
        # Run folders that a failed run left: each case checks its own.
        for folder in run_folders(desk):
            shutil.rmtree(folder)
        desk.path(ELSEWHERE).mkdir(parents=True)
        desk.put(INSTALL + r"\tavelon.exe", desk.programs.product)
        desk.path(INSTALL + r"\data").mkdir(parents=True)
        for name, content in dictionaries.items():
            path = desk.path(INSTALL + r"\data" + "\\" + name)
            if content is DIRECTORY:
                path.mkdir()
            elif isinstance(content, Link):
                target = desk.put(content.target, content.content)
                if content.kind == "hard":
                    os.link(target, path)
                else:
                    path.symlink_to(target)
            else:
                path.write_bytes(content)
        # An older copy that the lookup must not pick when the Run entry
        # names the installation.
        desk.put(DECOY + r"\data\engtoEng.dic", t.build_dictionary(99))
        desk.lay_out_update_folder(UPDATE, info=info, installers=installers,
                                   release=release)
        desk.wine.reg_import(RESET_REGISTRY + OPTIONS_BEFORE + registry,
                             desk.scratch)
        self.product = (desk.start_product(INSTALL, hold=hold,
                                           hang_ms=hang_ms)
                        if product_running else None)
        self.before = self.snapshot()

    def snapshot(self):
        return {
            "install": t.folder_state(self.desk.path(INSTALL)),
            "decoy": t.folder_state(self.desk.path(DECOY)),
            "options": self.desk.wine.reg_values(t.OPTIONS_KEY),
            "targets": self.targets(),
        }

    def targets(self):
        """The files that linked dictionaries lead to: {path: (bytes,
        mtime in ns)}."""
        paths = [self.desk.path(d.target) for d in self.dictionaries.values()
                 if isinstance(d, Link)]
        return {p: (p.read_bytes(), p.stat().st_mtime_ns) for p in paths}

    def run(self, argument_text="m", cwd=UPDATE, cmdline=None, **kwargs):
        if cmdline is None:
            cmdline = QUOTED_UPDATER + " " + argument_text
        return self.desk.run_update(cmdline, cwd, program=UPDATER,
                                    dialog_ms=self.dialog_ms, **kwargs)

    def start(self, **kwargs):
        """Starts the everyday run ("m", from the update folder), for
        Desk.finish_update."""
        return self.desk.start_update(QUOTED_UPDATER + " m", UPDATE,
                                      program=UPDATER,
                                      dialog_ms=self.dialog_ms, **kwargs)

    def expected_dictionaries(self, records=RECORDS):
        """Bytes of every dictionary after the update, and the warning boxes
        (text, caption) it shows, in language order. Without records the
        update opens no dictionary."""
        data = INSTALL + r"\data" + "\\"
        after = {name: content_of(content)
                 for name, content in self.dictionaries.items()
                 if content is not DIRECTORY}
        boxes = []
        if not records:
            return after, boxes
        for code in t.LANGUAGES:
            names = t.dictionary_names(code)
            opened = next((n for n in names
                           if n in after and n not in self.held), None)
            if opened is None:
                denied = [n for n in names
                          if self.dictionaries.get(n) is DIRECTORY or
                          n in self.held]
                if denied:
                    boxes.append((t.CANNOT_WRITE, data + denied[0]))
                continue
            if isinstance(self.dictionaries[opened], Link):
                # Opened, but not the data folder's own file: never written.
                boxes.append((t.CANNOT_WRITE, data + opened))
                continue
            after[opened], outcome = t.apply_update(after[opened], records)
            if outcome == "seek error":
                boxes.append((t.SEEK_ERROR, data + opened))
        return after, boxes


def default_dictionaries():
    """Some languages, Japanese under its fallback name, and a file of a
    language that the update never touches."""
    return {t.dictionary_name(code): t.build_dictionary(seed) for seed, code
            in enumerate(["Eng", "Fre", "Ger", "jap", "Spa", "Ko_"], 1)}


# --- What the checks share ---------------------------------------------------

def box_tuples(run):
    return [(b["text"], b["caption"], int(b["flags"], 16)) for b in
            run.boxes()]


def check_boxes_seen(check, run):
    """Each box that the program asked for was shown and got its OK."""
    check.equal(len(run.of("user", "box-shown")), len(run.boxes()),
                "boxes that appeared on the screen")
    for box in run.boxes():
        check.equal(box["owner"], "0x0", "owner window of the box")


def check_stopped(check, scenario, run, text, what, before=None):
    """A run that stopped at its start: exit 1 after its one box, seen;
    nothing changed since before (the scenario's start unless given),
    nothing closed or started."""
    check.equal(run.exit_code, t.STOPPED, f"exit code ({what})")
    check.equal(box_tuples(run), [(text, t.CAPTION, t.MB_ICONWARNING)],
                f"boxes ({what})")
    check_boxes_seen(check, run)
    before = before or scenario.before
    after = scenario.snapshot()
    check.that(after["install"] == before["install"],
               "the installation's files changed (bytes or times)")
    check.that(after["decoy"] == before["decoy"],
               "the other installation's files changed")
    check.equal(after["options"], before["options"], "the options")
    check.equal(run.of("product", "WM_CLOSE"), [], "close requests")
    check.equal(run.of("installer", "started"), [], "installers started")
    check.equal(run.of("product", "started"), [], "translator started")
    check.equal(run.starts(), [], "programs started")


def check_dictionaries(check, scenario, expected_warnings=None,
                       records=RECORDS):
    expected, warnings = scenario.expected_dictionaries(records)
    state = t.folder_state(scenario.desk.path(INSTALL + r"\data"))
    for name, content in expected.items():
        if check.that(name in state, f"{name} is missing after the run"):
            check.that(state[name][0] == content,
                       f"{name}: bytes differ from the model "
                       f"({describe_difference(state[name][0], content)})")
    for name, (_, mtime) in state.items():
        if expected.get(name) == content_of(scenario.dictionaries.get(name)):
            check.equal(mtime, scenario.before["install"]["data/" + name][1],
                        f"{name}: time of last change (not to be written)")
    targets = scenario.targets()
    check.equal([p.name for p in targets
                 if targets[p] != scenario.before["targets"][p]], [],
                "files that linked dictionaries lead to, changed")
    check.that(scenario.desk.path(INSTALL + r"\data").is_dir(),
               "the data folder")
    check.that(t.folder_state(scenario.desk.path(DECOY)) ==
               scenario.before["decoy"],
               "the installation that the Run entry does not name changed")
    if expected_warnings is not None:
        check.equal(len(warnings), expected_warnings,
                    "warnings that the scenario provokes (model)")


def describe_difference(actual, expected):
    if len(actual) != len(expected):
        return f"length {len(actual)}, expected {len(expected)}"
    first = next((i for i, (a, b) in enumerate(zip(actual, expected))
                  if a != b), None)
    return "none" if first is None else f"first at byte {first}"


def check_waited_for_product(check, scenario, run):
    """WM_CLOSE sent to the translator's window once, without parameters,
    given up after 30 s or at once when the window is hung (never a request
    without a limit); its process, opened before the close request, waited
    for after it, the whole within 30 s of the request's sending; no
    dictionary opened before the translator had ended."""
    check.equal(run.calls("SendMessageA"), [], "requests without a limit")
    sends = run.calls("SendMessageTimeoutA")
    # Elevated (as every program is under Wine), the update opens the
    # desktop shell's process to learn its user, for that only.
    opens = [o for o in run.calls("OpenProcess")
             if int(o["access"], 16) != t.PROCESS_QUERY_LIMITED_INFORMATION]
    check.equal(len(run.calls("OpenProcess")) - len(opens), 1,
                "the desktop shell's process opened to learn its user")
    # The first wait takes the mutex that keeps a second copy out, without
    # waiting, before anything is looked for.
    looks = run.calls("FindWindowA")
    waits = run.calls("WaitForSingleObject")
    taken = [w for w in waits if looks and w.ms <= looks[0].ms]
    check.equal([w["ms"] for w in taken], ["0"], "waits before the lookup")
    waits = waits[len(taken):]
    sent = check.equal([(s["window"], int(s["message"], 16), s["wparam"],
                         s["lparam"], int(s["flags"], 16), int(s["timeout"]))
                        for s in sends],
                       [(scenario.product["hwnd"], t.WM_CLOSE, "0x0", "0x0",
                         t.SMTO_ABORTIFHUNG, 30_000)],
                       "messages sent (WM_CLOSE to the translator's window)")
    if not (sent and
            check.equal([(int(o["access"], 16), int(o["pid"])) for o in opens],
                        [(t.SYNCHRONIZE, scenario.product.pid)],
                        "processes opened (the translator's, to wait)") and
            check.equal(len(waits), 1, "waits for the translator")):
        return
    check.that(opens[0].ms <= sends[0].ms,
               "the translator's process was opened after the close request")
    check.that(waits[0].ms >= sends[0].ms, "the wait came before the close")
    # The bound counts from the sending of the close request: the wait gets
    # what the request and the pause left of 30 s (none when a hung
    # translator's request took them all), so it ends about 30 s after the
    # sending, later only by the debugger's stops and the pause.
    end = waits[0].ms - sends[0].ms + int(waits[0]["ms"])
    check.between(end, 29_500, 33_000,
                  "ms from the close request to the end of the wait's bound")
    ended = [e for e in run.of("product", "exit")
             if e.pid == scenario.product.pid]
    data = (INSTALL + r"\data" + "\\").lower()
    dictionaries = [c for c in run.calls("CreateFileA")
                    if c["file"].lower().startswith(data)]
    check.that(dictionaries, "no dictionary was opened")
    if ended:
        check.that(all(c.ms >= ended[0].ms for c in dictionaries),
                   "a dictionary was opened before the translator ended")
    return ended


def check_cursor(check, run):
    """The wait cursor from before the close request until the patching is
    done, the arrow before the installers."""
    calls = [c for c in run.calls()
             if c["function"] in ("LoadCursorA", "SetCursor",
                                  "FindWindowA", "CreateProcessW")]
    names = [(c["function"], c.get("name") or c.get("class") or
              c.get("application", "")) for c in calls]
    wait = ("LoadCursorA", hex(t.IDC_WAIT))
    arrow = ("LoadCursorA", hex(t.IDC_ARROW))
    if not (check.that(wait in names, "the wait cursor was never loaded") and
            check.that(arrow in names, "the arrow cursor was never loaded")):
        return
    i_wait, i_arrow = names.index(wait), names.index(arrow)
    check.that(names[i_wait + 1][0] == "SetCursor" and
               calls[i_wait + 1]["cursor"] != "0x0",
               "the wait cursor was not set")
    check.that(names[i_arrow + 1][0] == "SetCursor",
               "the arrow cursor was not set")
    look = (names.index(("FindWindowA", "Tavelon"))
            if ("FindWindowA", "Tavelon") in names else -1)
    check.that(i_wait < look < i_arrow,
               "the translator was looked for outside the wait cursor")
    starts = [i for i, n in enumerate(names) if n[0] == "CreateProcessW"]
    check.that(not starts or i_arrow < starts[0],
               "an installer was started under the wait cursor")


def run_folders(desk):
    """The folders of runs in the Windows folder's Temp."""
    return [p for d in desk.path(r"C:\windows").iterdir()
            if d.name.lower() == "temp" for p in d.iterdir()
            if p.name.lower().startswith("tavelonupdate-")]


def run_folder(starts):
    """The run's folder that the installers were started from, or None."""
    folders = {ntpath.dirname(s["application"]) for s in starts}
    folder = folders.pop() if len(folders) == 1 else None
    return folder if folder and RUN_FOLDER.fullmatch(folder) else None


def check_installers(check, scenario, run, voice):
    """The two installers, each started with CreateProcessW (never through
    the shell's file classes) from its copy in a folder of the run's own,
    paced 4 s apart, and the wait for the voice installer's dialog. The
    installers run there, with it as TEMP, load no library from the update
    folder, and the folder is gone after the run."""
    shells = run.calls("CreateProcessW")
    started = run.of("installer", "started")
    expected_names = ["MSpchapi.exe", voice]
    folder = run_folder(shells)
    if not check.that(folder, "the installers' folder: " +
                      ", ".join(s["application"] for s in shells)):
        return
    check.equal([s["application"] for s in shells[:2]],
                [folder + "\\" + n for n in expected_names],
                "installers started")
    for shell in shells:
        # An environment block of its own, in UTF-16.
        check.equal((shell["command"], shell["directory"], shell["inherit"],
                     shell["environment"] != "0x0", shell["flags"],
                     shell["startup_flags"], int(shell["show"])),
                    ('"' + shell["application"] + '"', folder, "0", True,
                     hex(t.CREATE_UNICODE_ENVIRONMENT),
                     hex(t.STARTF_USESHOWWINDOW), t.SW_SHOW),
                    f"how {shell['application']} was started")
    check.equal([s["file"] for s in run.calls("ShellExecuteA")], [],
                "programs started through the shell")
    if not check.equal([s["name"] for s in started], expected_names,
                       "installers that ran"):
        return
    for installer in started:
        check.equal((installer["module"].lower(), installer["cwd"].lower(),
                     rest_of_command_line(installer["cmdline"]).strip()),
                    ((folder + "\\" + installer["name"]).lower(),
                     folder.lower(), ""),
                    "installer's file, working folder and parameters")
    for libraries in run.of("installer", "libraries"):
        check.equal((libraries["version"].lower(), libraries["helper"],
                     libraries["temp"].lower()),
                    (r"c:\windows\system32\version.dll", "-", folder.lower()),
                    f"{libraries['name']}'s libraries and TEMP")
    check.equal([e["library"] for e in run.of("planted")], [],
                "planted libraries loaded")
    check.equal([p.name for p in run_folders(scenario.desk)], [],
                "run folders left after the run")
    check.equal([(e["name"], e["unpacked_there"])
                 for e in run.of("installer", "exit")],
                [(n, "1") for n in expected_names],
                "the file each installer unpacked, still there at its end")
    # Pacing: 4 s between the starts, the first look for the dialog 5 s
    # after the voice installer's start, then once a second until the
    # dialog is gone.
    gap = shells[1].ms - shells[0].ms
    check.between(gap, 3950, 5200, "ms between the two installer starts")
    check.between(started[1].ms - started[0].ms, 3500, 5500,
                  "ms between the two installers' own starts")
    voice_start = shells[1].ms
    looks = [c for c in run.calls("FindWindowA")
             if c["class"] == "#32770" and c.ms > voice_start]
    check.that(all(c["title"] == "Microsoft Text-to-Speech Engine"
                   for c in looks), "the dialog looked for")
    closed = run.of("installer", "dialog-closed")
    box = run.boxes()[-1]
    if not (check.that(looks, "the dialog was never looked for") and
            check.equal(len(closed), 1, "voice installer dialogs closed")):
        return
    check.between(looks[0].ms - voice_start, 4950, 6000,
                  "ms from the voice installer's start to the first look")
    for before, after in zip(looks, looks[1:]):
        check.between(after.ms - before.ms, 950, 1800, "ms between looks")
    check.that(looks[-1].ms >= closed[0].ms,
               "the wait ended while the dialog was still there")
    check.that(all(look.ms < closed[0].ms for look in looks[:-1]),
               "the wait went on after the dialog had gone")
    check.that(box.ms >= looks[-1].ms, "box before the last look")
    check.between(box.ms - max(voice_start + 5000, closed[0].ms), 0, 2000,
                  "ms from the end of the wait to the completion box")
    sleeps = [int(c["ms"]) for c in run.calls("Sleep")]
    check.equal(sleeps, [4000, 4000] + [1000] * len(looks),
                "the run's sleeps")


def check_completed_run(check, scenario, run, exit_code=t.RAN_TO_END,
                        warnings=0, box=t.COMPLETED,
                        flags=t.CLOSING_INFORMATION, voice=None,
                        option=False, records=RECORDS, what=None):
    """A run that got to its end: its exit code; the dictionaries as the
    model makes them of records, with as many warnings as given, and those
    warnings the only boxes before the closing one (box, flags); each box
    seen and the translator restarted after OK. With no records (the run
    read none), the whole installation as it was. With option, the option
    set; with voice (the second installer), the installers started."""
    of = f" ({what})" if what else ""
    check.equal(run.exit_code, exit_code, "exit code" + of)
    check_dictionaries(check, scenario, warnings, records)
    if not records:
        check.that(t.folder_state(scenario.desk.path(INSTALL)) ==
                   scenario.before["install"], "the installation changed" + of)
    boxes = box_tuples(run)
    check.equal(boxes[:-1],
                [(text, caption, t.MB_ICONWARNING) for text, caption
                 in scenario.expected_dictionaries(records)[1]],
                "boxes before the closing one" + of)
    check.equal(boxes[-1:], [(box, t.CAPTION, flags)], "the closing box" + of)
    check.equal([b["topmost"] for b in run.boxes()[-1:]], ["1"],
                "closing box topmost")
    pressed = run.of("user", "ok-pressed")
    # Wine gives every program an elevated token: the desktop's shell
    # (Wine's explorer.exe) starts the translator, the update never does.
    check.equal([s["file"] for s in run.calls("ShellExecuteA")
                 if s["file"].lower().endswith("\\tavelon.exe")], [],
                "translator started by the update itself")
    check.that(all(s.ms < b.ms for s in run.starts()
                   for b in run.boxes()[-1:]),
               "a program was started after the closing box")
    products = run.of("product", "started")
    if check.equal(len(products), 1, "translators that ran"):
        check.equal((products[0]["module"], products[0]["cwd"],
                     products[0]["parent"].lower()),
                    (INSTALL + r"\tavelon.exe", INSTALL, "explorer.exe"),
                    "the translator's file, working folder and parent")
        check.equal(rest_of_command_line(products[0]["cmdline"]).strip(),
                    "", "the translator's parameters")
        check.that(pressed and products[0].ms >= pressed[-1].ms,
                   "the translator was started before OK was pressed")
    # Before Explorer is asked anything: COM security that runs no custom
    # marshaler, starts no server as the update and lets Explorer only
    # identify it, without cloaking.
    security = run.calls("CoInitializeSecurity")
    if check.equal([(c["impersonation"], c["capabilities"])
                    for c in security],
                   [(hex(t.RPC_C_IMP_LEVEL_IDENTIFY),
                     hex(t.EOAC_NO_CUSTOM_MARSHAL | t.EOAC_DISABLE_AAA))],
                   "COM security (impersonation, capabilities)"):
        check.that(all(security[0].ms <= c.ms
                       for c in run.calls("CoCreateInstance")),
                   "a COM object asked for before COM security was set")
    check_boxes_seen(check, run)
    if option:
        options = scenario.desk.wine.reg_values(t.OPTIONS_KEY) or {}
        check.equal(options.get(t.OPTION), ("REG_DWORD", "0x1"), t.OPTION)
        check.equal(options.get("OtherOption"), ("REG_DWORD", "0x7"),
                    "the other option")
    if voice:
        check_installers(check, scenario, run, voice)


# --- The cases ---------------------------------------------------------------

CASES = {}


def case(function):
    CASES[function.__name__] = function
    return function


@case
def stopped_at_its_start(desk, check):
    """An empty argument, or one of blanks and tabs only; then no usable
    registry entry: the box, exit 1, nothing touched, the translator not
    looked for and left running."""
    rows = [(RUN_ENTRY, cmdline, t.ARGUMENT_ERROR) for cmdline in
            [QUOTED_UPDATER, "  " + QUOTED_UPDATER + " \t \t ",
             "\t" + QUOTED_UPDATER + "\t"]]
    rows += [("", None, t.NOT_FOUND),  # no entries
             (t.run_entry("tavelon.exe") + t.app_paths_entry(""), None,
              t.NOT_FOUND)]  # a bare program name and an empty Path
    for registry, cmdline, text in rows:
        scenario = Scenario(desk, registry=registry)
        run = scenario.run(cmdline=cmdline)
        check_stopped(check, scenario, run, text, repr((registry, cmdline)))
        # Past the argument, the desktop's shell is looked for, to learn
        # its user; the translator is not.
        check.equal([c["class"] for c in run.calls("FindWindowA")],
                    [] if text == t.ARGUMENT_ERROR else ["Shell_TrayWnd"],
                    "windows looked for")


@case
def full_run_male(desk, check):
    """The everyday update: Run entry, translator running, argument m. The
    user's programs have set variables for it, in its own environment and
    in the user's settings; none reaches the installers."""
    settings = "".join(f'"{name}"="C:\\\\tavelon-user\\\\{name}"\n'
                       for name in USER_SETTINGS_ENVIRONMENT)
    scenario = Scenario(desk, registry=RUN_ENTRY + t.app_paths_entry(DECOY) +
                        INSTALLERS_PREFER_PLANTED +
                        f"\n[HKEY_CURRENT_USER\\Environment]\n{settings}")
    # Libraries the installers load by their bare names, planted beside
    # them, with Wine told to prefer such a copy for the installers alone.
    for name in INSTALLER_LIBRARIES:
        desk.put(UPDATE + "\\" + name, desk.programs.planted)
    run = scenario.run(environment=USER_ENVIRONMENT)
    check_completed_run(check, scenario, run, voice=MALE, option=True)
    check_cursor(check, run)
    check.that(check_waited_for_product(check, scenario, run),
               "the translator did not end")
    check.equal([(e["name"], e["user_values"])
                 for e in run.of("installer", "environment")],
                [("MSpchapi.exe", ""), (MALE, "")],
                "variables of the user's that reached the installers")
    # The same installer started from the update folder with the update's
    # environment loads them, and has the user's variables.
    voice = UPDATE + "\\" + MALE
    control = desk.run_update(f'"{voice}"', UPDATE, program=voice,
                              dialog_ms=200, environment=USER_ENVIRONMENT,
                              wait_for_relaunch=False)
    check.equal(sorted(ntpath.basename(e["library"]).lower()
                       for e in control.of("planted")),
                sorted(INSTALLER_LIBRARIES),
                "planted libraries loaded from the update folder (control)")
    # 64-bit Wine sets ProgramFiles, CommonProgramFiles and SystemDrive
    # anew in each process it starts, so no program hands those on there.
    seen = [set(e["user_values"].split(","))
            for e in control.of("installer", "environment")]
    expected = (set(USER_ENVIRONMENT) | set(USER_SETTINGS_ENVIRONMENT)) - {
        "ProgramFiles", "CommonProgramFiles", "SystemDrive"}
    check.equal([sorted(expected - names) for names in seen], [[]],
                "the user's variables that an installer started from the "
                "update folder lacks (control)")


@case
def product_saves_on_exit(desk, check):
    """A translator that keeps engtoEng.dic open without write sharing for
    2.5 s after its window has closed: the update waits for its process to
    end, then patches every dictionary without a warning."""
    scenario = Scenario(desk, hold=r"data\engtoEng.dic 2500",
                        installers=False)
    run = scenario.run()
    check_completed_run(check, scenario, run)
    # No dictionary opened before the translator had ended, among others.
    ended = check_waited_for_product(check, scenario, run)
    released = [e for e in run.of("product", "released")
                if e.pid == scenario.product.pid]
    if check.that(ended and released, "the translator did not let go"):
        close = run.of("product", "WM_CLOSE")[0]
        check.that(released[0].ms - close.ms >= 2400,
                   "the translator let go of its file early")


@case
def product_stays(desk, check):
    """A translator whose window closes but whose process stays, holding
    engtoEng.dic: after 30 s the update goes on, warns about that file,
    patches the others and completes."""
    check_left_after_the_budget(check, Scenario(
        desk, hold=r"data\engtoEng.dic never", installers=False,
        held=["engtoEng.dic"]))


@case
def product_hangs(desk, check):
    """A translator whose window's thread hangs, holding engtoEng.dic: the
    close request goes unanswered, and the update goes on within the same
    30 s as for a translator that does not end. A case of its own, started
    after the desktop's shell: a shell that Wine starts again later from
    this translator would give the translator it restarts the settings to
    hang."""
    check_left_after_the_budget(check, Scenario(
        desk, hold=r"data\engtoEng.dic never", installers=False,
        held=["engtoEng.dic"], hang_ms=120_000), hung=True)


def check_left_after_the_budget(check, scenario, hung=False):
    """The update goes on 30 s after its close request at the latest,
    warns about the dictionary the translator holds, patches the others
    and completes; a hung translator never handles the request."""
    run = scenario.run()
    check_completed_run(check, scenario, run, warnings=1)
    check.equal(check_waited_for_product(check, scenario, run), [],
                "the translator's process ended")
    check.equal(len([e for e in run.of("product", "WM_CLOSE")
                     if e.pid == scenario.product.pid]), 0 if hung else 1,
                "close requests the translator handled")
    send = run.calls("SendMessageTimeoutA")
    info = [c for c in run.calls("CreateFileA")
            if c["file"].lower() == "info.tmp"]
    if send and check.equal(len(info), 1, "info.tmp opened"):
        check.between(info[0].ms - send[0].ms, 29_500, 33_000,
                      "ms from the close request to the patching")


@case
def full_run_female(desk, check):
    """App Paths entry without a trailing backslash, no translator running,
    the argument "male" in quotes (its first character is the quote), both
    Japanese names present."""
    dictionaries = {t.dictionary_name(code): t.build_dictionary(seed)
                    for seed, code in enumerate(
                        ["Dut", "Heb", "Ita", "Jpn", "jap", "Ptg"], 11)}
    scenario = Scenario(desk, dictionaries, t.app_paths_entry(INSTALL),
                        product_running=False)
    run = scenario.run('"male"')
    # engtojap.dic untouched, bytes and time: the model takes engtoJpn.dic.
    check_completed_run(check, scenario, run, voice=FEMALE, option=True)
    check.equal(run.calls("SendMessageTimeoutA"), [], "messages sent")
    check_cursor(check, run)
    # Without a translator to close there is no pause: the arrow cursor
    # follows the patching at once.
    look = [c for c in run.calls("FindWindowA") if c["class"] == "Tavelon"][0]
    arrow = [c for c in run.calls("LoadCursorA")
             if c["name"] == hex(t.IDC_ARROW)][0]
    check.that(arrow.ms - look.ms < 500,
               f"a pause without a translator ({arrow.ms - look.ms} ms)")


@case
def options_key_linked(desk, check):
    """The options key made a registry link to a key under HKLM by a program
    of the user: the update, elevated, follows no link when it writes, so
    the HKLM key gets no option; the run otherwise completes."""
    target = r"HKEY_LOCAL_MACHINE\Software\Tavelon Link Target"
    scenario = Scenario(desk, registry=RUN_ENTRY + f"""
[-{t.OPTIONS_KEY}]

[-{target}]

[{target}]
"OtherOption"=dword:00000007
""")
    link = t.OPTIONS_KEY.split("\\", 1)[1]
    desk.wine.run([desk.programs.user, "link-key", link,
                   r"\Registry\Machine\Software\Tavelon Link Target"],
                  extra_env=desk.extra_env)
    check.equal(desk.wine.reg_values(t.OPTIONS_KEY),
                {"OtherOption": ("REG_DWORD", "0x7")},
                "the options key as seen through the link before the run")
    try:
        run = scenario.run()
    finally:
        after = desk.wine.reg_values(target)
        # The link itself goes: a key deleted by its name would be followed.
        desk.wine.run([desk.programs.user, "link-key", link, "-"],
                      extra_env=desk.extra_env)
        desk.wine.reg_import(f"REGEDIT4\n\n[-{target}]\n", desk.scratch)
    check.equal(after, {"OtherOption": ("REG_DWORD", "0x7")},
                "the key the link points at")
    check_completed_run(check, scenario, run, voice=MALE)


@case
def second_run_changes_nothing(desk, check):
    """After a full update, the same update again: same bytes, no write."""
    scenario = Scenario(desk)
    check_completed_run(check, scenario, scenario.run("male"), voice=MALE,
                        option=True, what="first run")
    check.stop_if_failed()
    between = t.folder_state(desk.path(INSTALL))
    time.sleep(0.2)
    second = scenario.run("male")
    check_completed_run(check, scenario, second, voice=MALE, option=True,
                        what="second run")
    check.that(t.folder_state(desk.path(INSTALL)) == between,
               "the second run changed a file (bytes or time)")
    check.equal(len(second.of("product", "WM_CLOSE")), 1,
                "the translator restarted by the first run was closed")


@case
def second_copy(desk, check):
    """The update started again, from its folder with the same command
    line, while the first copy shows its completion box (held there): the
    second says that the update is already running and ends with 1 before
    it reads, writes or starts anything. The first, let go, ends as usual:
    each installer and the translator started once."""
    scenario = Scenario(desk)
    go = desk.scratch / "press-first"
    first = scenario.start(press_when=t.Wine.windows_path(go))
    try:
        check.that(desk.wait_for(lambda e: e.source == "user" and
                                 e.name == "box-shown", 90, first.started_ms),
                   "the first copy showed no box")
        # The option back as it was, so that a write would show.
        desk.wine.reg_import("REGEDIT4\n" + OPTIONS_BEFORE, desk.scratch)
        during = scenario.snapshot()
        second = scenario.run()
    finally:
        go.touch()
        run = desk.finish_update(first)
    check_stopped(check, scenario, second, t.ALREADY_RUNNING, "second copy",
                  before=during)
    check.equal([(c["function"], c.get("ms")) for c in second.calls()
                 if c["function"] != "MessageBoxA"],
                [("WaitForSingleObject", "0")],
                "second copy's calls but its box (the mutex's wait only)")
    ended = second.of("user", "exit")
    check.that(ended and all(p.ms >= ended[0].ms
                             for p in run.of("user", "ok-pressed")),
               "the first copy's box was pressed before the second ended")
    check_completed_run(check, scenario, run, voice=MALE, what="first copy")


@case
def update_information_unreadable(desk, check):
    """Started from a folder without info.tmp: the failure box instead of
    the completion box, exit 2; the rest of the run goes on. Then an
    info.tmp with a wrong header, and no installers. Then a good info.tmp,
    but the Run entry names an installation whose data folder holds no
    dictionary: nothing to update is a failure too, with the box of an
    installation that cannot be found, at the end of the run."""
    unreadable = dict(exit_code=t.NO_DICTIONARY_WRITTEN, box=t.NO_UPDATE_INFO,
                      flags=t.CLOSING_WARNING, records=[])
    scenario = Scenario(desk)
    run = scenario.run(cwd=ELSEWHERE)
    check_completed_run(check, scenario, run, voice=MALE, option=True,
                        **unreadable)
    check.equal(len(run.of("product", "WM_CLOSE")), 1, "close requests")

    scenario = Scenario(desk, info=INFO[:1] + INFO[1:].lower()[:26] +
                        INFO[27:], installers=False)
    run = scenario.run()
    check_completed_run(check, scenario, run, what="wrong header",
                        **unreadable)
    check.equal(run.of("installer", "started"), [], "installers started")

    scenario = Scenario(desk, dictionaries={})
    check_completed_run(check, scenario, scenario.run(),
                        exit_code=t.NO_DICTIONARY_WRITTEN, box=t.NOT_FOUND,
                        flags=t.CLOSING_WARNING, voice=MALE, option=True,
                        what="no dictionary")


@case
def voice_dialog_wait(desk, check):
    """A voice installer whose dialog stays 8 s: the run waits for it,
    looking once a second, before its closing box. Argument M. Each
    installer then goes on for 9 s more, past the last box and the restart
    of the translator: the run waits for both to end before it deletes its
    folder, and the file each unpacked into it is still there at its end."""
    scenario = Scenario(desk, dialog_ms=8000)
    run = scenario.run("M", linger_ms=9000)
    # The looks, the dialog's end and the box after it, the unpacked files:
    # check_installers.
    check_completed_run(check, scenario, run, voice=MALE)
    ended = run.of("installer", "exit")
    update_ended = run.of("user", "exit")
    if check.equal(len(ended), 2, "installers that ended"):
        check.that(update_ended and update_ended[0].ms >= ended[-1].ms,
                   "the update ended before its installers")
        check.that(ended[-1].ms - run.boxes()[-1].ms > 5000,
                   "an installer ran on for less than 5 s after the last box")


@case
def dictionary_warnings(desk, check):
    """A dictionary whose patch goes out of its bounds and a dictionary that
    cannot be opened for writing: one warning each, captioned with its path,
    the other files patched; no installer files: no pause. The argument is
    a single letter of the upper half of the code page, which is accepted
    like any other. Libraries planted in the update folder under the names
    of system libraries loaded on demand, with Wine told to prefer them,
    are never loaded by the update; a program beside it that does not keep
    its library search to the system folder does load them."""
    # Hebrew: the entry table of the section that the fourth record uses
    # lies so near the end that its entry falls outside the file.
    heb = bytearray(t.build_dictionary(21))
    section, entry, _ = RECORDS[3]
    struct.pack_into("<i", heb, t.SECTION_TABLE + 4 * section,
                     len(heb) - 4 * entry - 2)
    scenario = Scenario(desk, {**default_dictionaries(),
                               "engtoHeb.dic": bytes(heb),
                               "engtoIta.dic": DIRECTORY,
                               "engtoJpn.dic": t.build_dictionary(22)},
                        installers=False)
    prefer_planted = desk.plant_libraries(UPDATE)
    run = scenario.run("\u00e9", extra_env=prefer_planted)
    check.equal([e["library"] for e in run.of("planted")
                 if e["process"].lower().endswith("\\tavelonupdate.exe")],
                [], "planted libraries loaded by the update")
    control = UPDATE + r"\Msttsm22-control.exe"
    desk.put(control, desk.programs.installer)
    since = t.now_ms()
    desk.wine.run([control], check=False, timeout=60,
                  extra_env=dict(desk.extra_env, TAVELON_E2E_DIALOG_MS="200",
                                 **prefer_planted))
    check.that([e for e in desk.events(since) if e.source == "planted" and
                e["process"].lower() == control.lower()],
               "the planted library was not loaded by a program that does "
               "not restrict its library search (no control)")
    check_completed_run(check, scenario, run, warnings=2)
    # Elevated, an installer is opened before it is copied and started: a
    # missing one is never started, nor a folder made for it.
    check.equal(run.starts(), [], "programs started by the update itself")
    check.equal(run.calls("Sleep"), [], "sleeps without installers")


@case
def linked_dictionaries(desk, check):
    """engtoGer.dic a hard link and engtoSpa.dic a symbolic link, each to a
    file outside the data folder: each gets the warning of a file that
    cannot be opened for writing, in language order, neither file that
    they lead to changes, the others are patched. Then every dictionary
    such a link (Japanese under its fallback name): the failure box instead
    of the completion box, exit 2, the translator restarted all the
    same."""
    dictionaries = default_dictionaries()
    dictionaries["engtoGer.dic"] = Link("hard", ELSEWHERE + r"\engtoGer.dic",
                                        dictionaries["engtoGer.dic"])
    dictionaries["engtoSpa.dic"] = Link(
        "symbolic", ELSEWHERE + r"\Spanish\engtoSpa.dic",
        dictionaries["engtoSpa.dic"])
    scenario = Scenario(desk, dictionaries, installers=False)
    check_completed_run(check, scenario, scenario.run(), warnings=2)

    links = {
        "engtoFre.dic": Link("symbolic", ELSEWHERE + r"\engtoFre.dic",
                             t.build_dictionary(2)),
        "engtojap.dic": Link("hard", ELSEWHERE + r"\engtojap.dic",
                             t.build_dictionary(4)),
    }
    scenario = Scenario(desk, links, installers=False)
    check_completed_run(check, scenario, scenario.run(),
                        exit_code=t.NO_DICTIONARY_WRITTEN, warnings=2,
                        box=t.DICTIONARIES_REFUSED, flags=t.CLOSING_WARNING,
                        what="every dictionary a link")


@case
def update_folder_outside_code_page(desk, check):
    """The update folder under a profile named "\u0141ukasz", which the
    code page cannot write: the update takes its folder in its short form,
    copies both installers from it, starts the copies and completes; never
    a best-fit "Lukasz" folder that does not exist."""
    scenario = Scenario(desk, installers=False)
    desk.lay_out_update_folder(FOREIGN_UPDATE, info=INFO)
    program = FOREIGN_UPDATE + r"\TavelonUpdate.exe"
    run = desk.run_update('"' + program + '" m', FOREIGN_UPDATE,
                          program=program, dialog_ms=500)
    check_completed_run(check, scenario, run, voice=MALE)
    opened = [c["file"] for c in run.calls("CreateFileA")
              if c["file"].lower().endswith(".exe") and
              "tavelon.exe" not in c["file"].lower()]
    check.equal(len(opened), 2, "installers opened to be copied")
    check.that(all("lukasz" not in f.lower() for f in opened),
               "an installer was asked for in a best-fit folder")
    code_page = "cp" + run.of("user", "run")[0]["acp"]
    try:
        "\u0141".encode(code_page)
    except (UnicodeEncodeError, LookupError):
        check.that(opened and all("~" in f for f in opened),
                   f"the installers were not opened by the short form of "
                   f"the folder ({code_page})")


@case
def no_desktop_shell(desk, check):
    """Explorer, the desktop's shell, ended before the run: the update,
    elevated as every program is under Wine, cannot have the translator
    started with the user's rights, and starts nothing itself; the rest of
    the run is as usual. The session is started anew afterwards."""
    scenario = Scenario(desk, installers=False)
    try:
        desk.end_desktop_shell()
        check.that(not desk.desktop_shell_answers(),
                   "the desktop's shell answers without explorer.exe")
        run = scenario.run(wait_for_relaunch=False)
        check.that(not desk.desktop_shell_answers(),
                   "the desktop's shell came back during the run")
        # A translator started at the end of the run would show up within
        # a moment of it.
        started = desk.wait_for(lambda e: e.source == "product" and
                                e.name == "started", 3, run.started_ms)
    finally:
        desk.end_session()
        desk.start_session()
    check.equal(run.exit_code, t.RAN_TO_END, "exit code")
    check_dictionaries(check, scenario, expected_warnings=0)
    check.equal(box_tuples(run),
                [(t.COMPLETED, t.CAPTION, t.CLOSING_INFORMATION)], "boxes")
    check_boxes_seen(check, run)
    check.equal(len(run.of("product", "WM_CLOSE")), 1, "close requests")
    check.equal(run.starts(), [],
                "programs started by the update (no installers there)")
    check.equal(started, None, "translator started")


@case
def bound_release(desk, check):
    """The release that tools/release made (--release; the ctest fixture
    bound_release): its program, bound to the info.tmp and installers
    beside it. The ordinary update, during whose pause after the speech
    interface installer another program of the user tries in vain to
    replace the voice installer; then a voice installer replaced before the
    run, and another update description."""
    release = desk.programs.release
    if not check.that(release is not None and release.is_dir(),
                      f"no release folder (--release {release})"):
        return
    check.equal((release / "info.tmp").read_bytes(), INFO,
                "the release's info.tmp (made from this test's records)")
    check.stop_if_failed()
    voice = UPDATE + "\\" + MALE
    other = ELSEWHERE + "\\" + MALE

    scenario = Scenario(desk, release=True)
    desk.put(other, desk.programs.product)
    run = scenario.run(attack=(voice, other))
    check_completed_run(check, scenario, run, voice=MALE)
    calls = [(c["function"], c.get("file"), c.get("access"), c.get("share"))
             for c in run.calls()]
    first_start = next((i for i, c in enumerate(calls)
                        if c[0] == "CreateProcessW"), 0)
    opened = [c[1:] for c in calls[:first_start] if c[0] == "CreateFileA"
              and c[1].startswith(UPDATE + "\\")]
    check.equal(opened, [(UPDATE + "\\" + name, hex(t.GENERIC_READ),
                          hex(t.FILE_SHARE_READ))
                         for name in ("MSpchapi.exe", MALE)],
                "installers opened before the first start (file, access, "
                "sharing)")
    check.equal([(a["write"], a["rename"], a["delete"])
                 for a in run.of("user", "attack")],
                [(str(t.ERROR_SHARING_VIOLATION),) * 3],
                "errors of writing, renaming and deleting the held voice "
                "installer")
    check.that(desk.path(voice).read_bytes() ==
               (release / MALE).read_bytes(), "the voice installer changed")

    scenario = Scenario(desk, release=True)
    desk.put(voice, desk.programs.product)
    run = scenario.run()
    check_completed_run(check, scenario, run, t.INSTALLER_NOT_STARTED,
                        box=t.not_released(MALE), flags=t.CLOSING_WARNING,
                        what="voice installer replaced")
    check.equal([ntpath.basename(s["application"])
                 for s in run.calls("CreateProcessW")], ["MSpchapi.exe"],
                "programs started (voice installer replaced)")
    check.equal([i["name"] for i in run.of("installer", "started")],
                ["MSpchapi.exe"], "installers that ran")

    other_info = t.info_file(t.make_records(seed=8, count=12))
    scenario = Scenario(desk, info=other_info, installers=False, release=True)
    run = scenario.run()
    check_completed_run(check, scenario, run, t.NO_DICTIONARY_WRITTEN,
                        box=t.not_released("info.tmp"), records=[],
                        flags=t.CLOSING_WARNING, what="another info.tmp")
    check.equal(run.starts(), [], "programs started (no installers)")

    # The update folder a symbolic link, pointed at another folder with
    # another voice installer once the speech interface installer has
    # started: the copies were made before, so only the released
    # installers run.
    scenario = Scenario(desk, release=True)
    real, swapped = UPDATE + " (released)", UPDATE + " (swapped)"
    desk.remove(real)
    desk.remove(swapped)
    desk.path(UPDATE).rename(desk.path(real))
    desk.lay_out_update_folder(swapped, release=True)
    desk.put(swapped + "\\" + MALE, desk.programs.product)
    link = desk.path(UPDATE)
    link.symlink_to(desk.path(real), target_is_directory=True)
    pending = scenario.start()
    try:
        check.that(desk.wait_for(lambda e: e.source == "installer" and
                                 e.name == "started", 90, pending.started_ms),
                   "the speech interface installer did not start")
        link.unlink()
        link.symlink_to(desk.path(swapped), target_is_directory=True)
    finally:
        run = desk.finish_update(pending)
    link.unlink()
    # One translator ran, the one restarted at the end.
    check_completed_run(check, scenario, run, voice=MALE,
                        what="folder re-pointed")
    for folder in (real, swapped):
        desk.remove(folder)


# --- Running -----------------------------------------------------------------

def report(text):
    print("    " + text, flush=True)


def reset(desk):
    for folder in FOLDERS:
        desk.remove(folder)
    desk.wine.reg_import(RESET_REGISTRY, desk.scratch)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    needed = ["updater", "product", "installer", "user", "planted"]
    for name in needed:
        parser.add_argument("--" + name, type=Path, required=True)
    parser.add_argument("--release", type=Path,
                        help="a folder that tools/release made, for the "
                             "case bound_release")
    parser.add_argument("--prefix", type=Path,
                        help="Wine prefix (default: tools/wine-env's)")
    parser.add_argument("--arch", choices=["x86", "x64"], default="x86",
                        help="the programs' build: x64 runs them in the "
                             "64-bit prefix (default x86)")
    parser.add_argument("--events", action="store_true",
                        help="print the event log of passed cases too")
    parser.add_argument("cases", nargs="*", metavar="CASE",
                        help=", ".join(CASES))
    args = parser.parse_args()
    unknown = [name for name in args.cases if name not in CASES]
    if unknown:
        parser.error(f"unknown cases {unknown}; known: {', '.join(CASES)}")
    paths = [getattr(args, name) for name in needed]
    programs = t.Programs(*paths, args.release)
    for path in paths:
        if not path.is_file():
            print(f"missing program: {path}")
            return 2

    names = args.cases or list(CASES)
    passed = failed = 0
    started = time.monotonic()
    with t.Desk(programs, prefix=args.prefix, arch=args.arch) as desk:
        for name in names:
            check = Checks()
            case_start = time.monotonic()
            log_start = t.now_ms()
            try:
                CASES[name](desk, check)
            except Failed:
                pass
            except Exception:  # a broken scenario counts as a failure
                check.failures.append(traceback.format_exc())
            try:
                desk.close_products()
                reset(desk)
            except Exception:
                check.failures.append(traceback.format_exc())
            seconds = time.monotonic() - case_start
            if check.failures:
                failed += 1
                print(f"FAIL {name} ({seconds:.1f} s)")
                for failure in check.failures:
                    print("    " + failure.rstrip().replace("\n", "\n    "))
            else:
                passed += 1
                print(f"PASS {name} ({seconds:.1f} s)")
            if check.failures or args.events:
                print("    events:")
                for event in desk.events(log_start):
                    print(f"      {event}")
            sys.stdout.flush()
    print(f"e2e: {time.monotonic() - started:.1f} s")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
