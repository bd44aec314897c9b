"""What the end-to-end tests and the demo share.

- A small, independent model of the dictionary files and of info.tmp: it
  builds them and computes what an update must make of them.
- Wine on a virtual X display (Xvfb): the prefix of tools/wine-env, the
  registry, Windows paths inside the prefix.
- A desk: one Wine session with a desktop shell that answers, the
  installation folder, the update folder and the registry entries of one
  scenario, the stand-ins' event log, and the run of TavelonUpdate.exe
  through the "user" stand-in.

Python 3 standard library only.
"""

import dataclasses
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]

# --- Texts and flags the user meets ---------------------------------------

CAPTION = "Tavelon Setup"
ARGUMENT_ERROR = "Error in argument!"
NOT_FOUND = ("Update failed - Could not locate Tavelon files\n"
             "Please re-install previous version and try again")
NO_UPDATE_INFO = ("Update failed - Could not read the update information file "
                  "info.tmp\nPlease run the update from its own folder and "
                  "try again")
COMPLETED = ("Update completed successfully!  "
             "Press OK to run updated Tavelon.")
DICTIONARIES_REFUSED = ("Update failed - Could not write the Tavelon "
                        "dictionaries\nPlease run the update as an "
                        "administrator and try again")
ALREADY_RUNNING = "The update is already running."
SEEK_ERROR = "Seek error in this file. Skipping..."
CANNOT_WRITE = "Cannot open this file for writing. Skipping..."


def not_released(name):
    """The box of a program bound to its release for a file that is not
    the one released with it."""
    return (f"Update failed - {name} is not the file released with this "
            "update\nPlease download the update again and run it from its "
            "own folder")


MB_ICONWARNING = 0x30
MB_ICONINFORMATION = 0x40
MB_SETFOREGROUND = 0x10000
MB_TOPMOST = 0x40000
# The box that closes a run: brought to the front and kept above the others.
CLOSING_INFORMATION = MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST
CLOSING_WARNING = MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST
SW_SHOW = 5
STARTF_USESHOWWINDOW = 0x1
CREATE_UNICODE_ENVIRONMENT = 0x400
PROCESS_QUERY_LIMITED_INFORMATION = 0x1000
IDC_ARROW = 32512
IDC_WAIT = 32514
WM_CLOSE = 0x10
SMTO_ABORTIFHUNG = 0x2
SYNCHRONIZE = 0x100000
GENERIC_READ = 0x80000000
RPC_C_IMP_LEVEL_IDENTIFY = 2
EOAC_DISABLE_AAA = 0x1000
EOAC_NO_CUSTOM_MARSHAL = 0x2000
FILE_SHARE_READ = 0x1
ERROR_SHARING_VIOLATION = 32

# Language codes tried by the update, in order.
LANGUAGES = ["Eng", "Dut", "Fre", "Ger", "Heb", "Ita", "Jpn", "Ptg", "Spa"]

RUN_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run"
RUN_VALUE = "Tavelon Translator"
APP_PATHS_KEY = (r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows"
                 r"\CurrentVersion\App Paths\tavelon.exe")
OPTIONS_KEY = r"HKEY_CURRENT_USER\Software\Tavelon\Tavelon Translator\Options"
OPTION = "EnableExpressions"

# --- The dictionary model --------------------------------------------------

SECTION_TABLE = 100
INFO_HEADER = b"Tavelon Translator - Update"


def dictionary_name(code):
    return f"engto{code}.dic"


def dictionary_names(code):
    """The files that the update tries for a language, in order: Japanese
    also under its older name "jap" when engtoJpn.dic is not there."""
    return [dictionary_name(code)] + (
        [dictionary_name("jap")] if code == "Jpn" else [])


def build_dictionary(seed, sections=6, entries=10):
    """A dictionary file as far as the update reads it: 100 bytes of
    header, the section table, then the entry tables and the items (a flag
    byte and a 32-bit value each) at scattered positions, with filler in
    between. Different seeds give different layouts."""
    rng = random.Random(seed)
    data = bytearray(rng.randrange(256) for _ in range(SECTION_TABLE))
    data += bytes(4 * sections)
    tables = []
    for _ in range(sections):
        data += bytes(rng.randrange(256) for _ in range(rng.randrange(9)))
        tables.append(len(data))
        data += bytes(4 * entries)
    for section, table in enumerate(tables):
        struct.pack_into("<i", data, SECTION_TABLE + 4 * section, table)
    items = [(s, e) for s in range(sections) for e in range(entries)]
    rng.shuffle(items)
    for section, entry in items:
        data += bytes(rng.randrange(256) for _ in range(rng.randrange(6)))
        struct.pack_into("<i", data, tables[section] + 4 * entry, len(data))
        data += bytes([rng.randrange(256)])
        data += struct.pack("<I", rng.randrange(1 << 32))
    data += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 12)))
    return bytes(data)


def make_records(seed, count, sections=6, entries=10):
    """Patch records (section, entry, value): distinct items, new values."""
    rng = random.Random(seed)
    places = rng.sample([(s, e) for s in range(sections)
                         for e in range(entries)], count)
    return [(s, e, rng.randrange(1 << 32)) for s, e in places]


def info_file(records, reserved=b"\x00\x00\x00"):
    return INFO_HEADER + reserved + b"".join(
        struct.pack("<hhI", s, e, v) for s, e, v in records)


def item_position(data, section, entry, length=None):
    """The position of an item's value, reached through the section table,
    the entry table and the item's flag byte; None when a step leaves
    0 <= p, p + 4 <= length."""
    length = len(data) if length is None else length
    position = SECTION_TABLE + 4 * section
    for step in (4 * entry, 1):
        if position < 0 or position + 4 > length:
            return None
        position = struct.unpack_from("<i", data, position)[0] + step
    return position if 0 <= position and position + 4 <= length else None


def is_patched(data, records):
    if not records:
        return False
    section, entry, value = records[-1]
    position = item_position(data, section, entry)
    return (position is not None and
            struct.unpack_from("<I", data, position)[0] == value)


def apply_update(data, records):
    """What the update makes of one dictionary file: (new bytes, outcome)
    with outcome "already patched", "patched" or "seek error" (records up
    to the failing one written, the rest not)."""
    if is_patched(data, records):
        return bytes(data), "already patched"
    result = bytearray(data)
    length = len(data)
    for section, entry, value in records:
        position = item_position(result, section, entry, length)
        if position is None:
            return bytes(result), "seek error"
        struct.pack_into("<I", result, position, value)
    return bytes(result), "patched"


# --- Wine on a virtual display --------------------------------------------

class Xvfb:
    """An X server of its own on a free display number, which it chooses
    itself and writes to a pipe once it accepts connections."""

    def __init__(self):
        self.process = None

    def start(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0",
             "1280x1024x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(write,), start_new_session=True)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.stop()
            raise RuntimeError("Xvfb did not start")
        return ":" + number

    def stop(self):
        if self.process is not None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None


class Wine:
    """Runs Windows programs in a prefix of tools/wine-env: the 32-bit one
    for the 32-bit build (arch "x86"), the 64-bit one for the 64-bit build
    ("x64"); prefix chooses another."""

    def __init__(self, display, prefix=None, arch="x86"):
        env = dict(os.environ)
        if prefix is not None:
            env["TAVELON_WINEPREFIX64" if arch == "x64" else
                "TAVELON_WINEPREFIX"] = str(prefix)
        script = REPO_ROOT / "tools" / "wine-env"
        choose = "tavelon_wine64 && " if arch == "x64" else ""
        out = subprocess.run(
            ["bash", "-c", f'. "$1" && {choose}tavelon_wine_prefix && env -0',
             "_", str(script)],
            env=env, check=True, stdout=subprocess.PIPE).stdout
        self.env = dict(item.split("=", 1)
                        for item in out.decode().split("\0") if "=" in item)
        # Wine's loader for the prefix: the 64-bit one by its own path.
        self.loader = self.env.get("WINELOADER", "wine")
        if display is None:
            self.env.pop("DISPLAY", None)
        else:
            self.env["DISPLAY"] = display
        self.prefix = Path(self.env["WINEPREFIX"])

    def path(self, windows_path):
        """The Linux path of a path on the prefix's C: or Z: drive."""
        drive, rest = windows_path[:2].upper(), windows_path[2:]
        parts = [p for p in rest.split("\\") if p]
        if drive == "C:":
            return self.prefix.joinpath("drive_c", *parts)
        if drive == "Z:":
            return Path("/").joinpath(*parts)
        raise ValueError(windows_path)

    @staticmethod
    def windows_path(linux_path):
        return "Z:" + str(Path(linux_path).resolve()).replace("/", "\\")

    def run(self, args, extra_env=None, timeout=60, check=True,
            capture=True):
        """Runs a program to its end. Programs that it starts inherit the
        output pipes and may outlive it: capture=False leaves them alone."""
        env = dict(self.env, **(extra_env or {}))
        output = subprocess.PIPE if capture else subprocess.DEVNULL
        result = subprocess.run([self.loader] + list(args), env=env,
                                stdout=output, stderr=output,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise RuntimeError(f"wine {args}: exit {result.returncode}: "
                               f"{(result.stderr or b'').decode(errors='replace')}")
        return result

    def start(self, args, cwd, extra_env=None, stdin=None):
        env = dict(self.env, **(extra_env or {}))
        return subprocess.Popen([self.loader] + list(args), cwd=cwd, env=env,
                                stdin=stdin, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def server(self, *args, timeout=30):
        return subprocess.run(["wineserver"] + list(args), env=self.env,
                              timeout=timeout, check=False)

    def wait_idle(self, timeout=30):
        """Waits until every process of the prefix has ended and the
        server has saved the registry and stopped; ends them after the
        time limit."""
        try:
            self.server("-w", timeout=timeout)
        except subprocess.TimeoutExpired:
            self.server("-k")
            self.server("-w", timeout=timeout)

    def reg_import(self, text, scratch):
        path = Path(scratch) / "registry.reg"
        path.write_bytes(text.encode("cp1252"))
        self.run(["reg", "import", self.windows_path(path)])

    def reg_values(self, key):
        """The values of a key as {name: (type, text)}; None without key."""
        result = self.run(["reg", "query", key], check=False)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("cp1252").splitlines():
            if not line.startswith("    "):
                continue
            fields = line[4:].split("    ", 2)
            if len(fields) >= 2:
                values[fields[0]] = (fields[1],
                                     fields[2] if len(fields) == 3 else "")
        return values


def reg_text(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def run_entry(text):
    """The translator's start-up entry, in a .reg file."""
    return f'\n[{RUN_KEY}]\n"{RUN_VALUE}"={reg_text(text)}\n'


def app_paths_entry(text):
    return f'\n[{APP_PATHS_KEY}]\n"Path"={reg_text(text)}\n'


# --- The stand-ins' event log ----------------------------------------------

@dataclasses.dataclass
class Event:
    ms: int
    source: str
    pid: int
    name: str
    fields: dict

    def __getitem__(self, key):
        return self.fields[key]

    def get(self, key, default=None):
        return self.fields.get(key, default)

    def __str__(self):
        return f"{self.ms} {self.source}/{self.pid} {self.name} {self.fields}"


def read_events(path):
    events = []
    try:
        raw = Path(path).read_bytes()
    except FileNotFoundError:
        return events
    for line in raw.split(b"\n"):
        parts = line.rstrip(b"\r").split(b"\t")
        if len(parts) < 4:
            continue  # empty, or a line still being written
        fields = {}
        for part in parts[4:]:
            key, _, value = part.partition(b"=")
            fields[key.decode()] = urllib.parse.unquote_to_bytes(
                value).decode("utf-8", errors="replace")
        events.append(Event(int(parts[0]), parts[1].decode(),
                            int(parts[2]), parts[3].decode(), fields))
    return events


# --- One scenario's desk ----------------------------------------------------

@dataclasses.dataclass
class Programs:
    """The Windows programs of the build."""
    updater: Path
    product: Path
    installer: Path
    user: Path
    planted: Path = None  # a library that logs the process that loads it
    # A folder that tools/release made: TavelonUpdate.exe bound to the
    # info.tmp and the installers beside it.
    release: Path = None


INSTALLERS = ["MSpchapi.exe", "Msttsm22.exe", "Msttsf22.exe"]

# The update's exit codes, as the README gives them.
RAN_TO_END, STOPPED, NO_DICTIONARY_WRITTEN, INSTALLER_NOT_STARTED = 0, 1, 2, 3
EXIT_CODES = {
    RAN_TO_END: "the update ran to its end",
    STOPPED: "the update stopped before changing anything (a bad argument, "
             "no installation found, or another copy running)",
    NO_DICTIONARY_WRITTEN: "the update ran to its end, but no dictionary "
                           "was written: info.tmp could not be read or is "
                           "not the one released, or every dictionary was "
                           "refused, or none was found",
    INSTALLER_NOT_STARTED: "the update ran to its end, but an installer of "
                           "a released update did not start: it is not the "
                           "one released, or it could not be copied or "
                           "started",
}
LOG_POINTER = r"C:\tavelon-e2e-log.txt"
# The installer stand-in's settings for a run (DIALOG_MS, LINGER_MS): an
# elevated update starts the installers with the system's environment, not
# the test's.
INSTALLER_SETTINGS = r"C:\tavelon-e2e-installer.txt"

# Libraries that TavelonUpdate.exe loads on demand (seen with Wine's
# +loaddll), the cryptography provider's among them, which the stack
# guard's random numbers load first thing: the names a planted library
# takes in the update folder, and Wine told to prefer such a copy, as
# Windows does for a library that is not a known system one.
PLANTED_NAMES = ["uxtheme.dll", "actxprxy.dll", "crypt32.dll", "bcrypt.dll",
                 "rsaenh.dll"]
PLANTED_OVERRIDES = "uxtheme,actxprxy,crypt32,bcrypt,rsaenh=n,b"


@dataclasses.dataclass
class RunResult:
    exit_code: int
    events: list  # the events of this run only
    started_ms: int

    def calls(self, function=None):
        return [e for e in self.events if e.source == "user" and
                e.name == "call" and
                (function is None or e["function"] == function)]

    def boxes(self):
        return self.calls("MessageBoxA")

    def starts(self):
        """The programs that the update started itself."""
        return self.calls("ShellExecuteA") + self.calls("CreateProcessW")

    def of(self, source, name=None):
        return [e for e in self.events if e.source == source and
                (name is None or e.name == name)]


class Desk:
    """The Windows side of a scenario: Wine on its own X display, the
    folders in the prefix, the event log, and the runs of the update."""

    def __init__(self, programs, prefix=None, display=None,
                 own_display=True, arch="x86"):
        self.programs = programs
        self.arch = arch
        self.scratch = Path(tempfile.mkdtemp(prefix="tavelon-e2e-"))
        self.log = self.scratch / "events.log"
        self.xvfb = Xvfb() if own_display else None
        self.prefix_choice = prefix
        self.display = display
        self.wine = None
        self.extra_env = {"TAVELON_E2E_LOG": Wine.windows_path(self.log)}
        self.product_processes = []
        self.keeper = None
        self.jobs = 0

    def __enter__(self):
        try:
            if self.xvfb is not None:
                self.display = self.xvfb.start()
            self.wine = Wine(self.display, self.prefix_choice, self.arch)
            # A server left from before (for instance one without this
            # display) ends first; this run then owns the prefix's server.
            self.wine.wait_idle()
            # Programs that the desktop's shell starts have its environment,
            # not ours: they find the log through this file.
            self.put(LOG_POINTER, Wine.windows_path(self.log).encode())
            self.start_session()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        try:
            if self.wine is not None:
                self.close_products()
                self.stop_keeper()
                self.wine.wait_idle()
        finally:
            if self.xvfb is not None:
                self.xvfb.stop()
            shutil.rmtree(self.scratch, ignore_errors=True)

    # Wine's session: the desktop with its shell, which starts the
    # translator after an update run elevated.
    def start_session(self, attempts=4):
        """Starts a session that lasts until the desk closes, with a desktop
        shell that answers. Wine starts its explorer.exe together with the
        service manager; an explorer that comes first under load never
        registers the desktop's shell: such a session is ended and started
        anew."""
        for _ in range(attempts):
            self.keeper = self.wine.start([self.programs.user, "keep"],
                                          cwd=self.scratch,
                                          extra_env=self.extra_env,
                                          stdin=subprocess.PIPE)
            if self.desktop_shell_answers(wait_ms=5000):
                return
            print("Wine's desktop shell did not answer: its session is "
                  "started anew", file=sys.stderr, flush=True)
            self.end_session()
        raise RuntimeError("Wine's desktop shell did not answer in "
                           f"{attempts} sessions")

    def end_session(self):
        """Ends every program of the prefix, Wine's own included."""
        self.close_products()
        self.stop_keeper()
        self.wine.server("-k")
        self.wine.server("-w")

    def stop_keeper(self):
        if self.keeper is not None:
            self.keeper.stdin.close()
            try:
                self.keeper.wait(10)
            except subprocess.TimeoutExpired:
                self.keeper.kill()
                self.keeper.wait()
            self.keeper = None

    def desktop_shell_answers(self, wait_ms=0):
        """Whether the desktop's shell answers as the update asks it."""
        # Not captured: when it comes first, Wine's own programs of the
        # session start from it and keep its output open.
        return self.wine.run([self.programs.user, "desktop-shell",
                              str(wait_ms)], extra_env=self.extra_env,
                             check=False, capture=False).returncode == 0

    def end_desktop_shell(self):
        """Ends Wine's explorer.exe, the desktop's shell; the session goes
        on without it (Wine starts it again only with a new session)."""
        self.wine.run(["taskkill", "/f", "/im", "explorer.exe"],
                      capture=False)

    # Files in the prefix.
    def path(self, windows_path):
        return self.wine.path(windows_path)

    def put(self, windows_path, data):
        path = self.path(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(data, Path):
            shutil.copyfile(data, path)
        else:
            path.write_bytes(data)
        return path

    def remove(self, windows_path):
        path = self.path(windows_path)
        if path.is_dir() and not path.is_symlink():
            shutil.rmtree(path)
        elif path.exists() or path.is_symlink():
            path.unlink()

    def lay_out_update_folder(self, folder, info=None, installers=True,
                              release=False):
        """TavelonUpdate.exe, the installers (when wanted) and info.tmp
        (when given) in a fresh update folder; with release, the program,
        the installers and (unless given) info.tmp of programs.release."""
        self.remove(folder)
        source = self.programs.release if release else None
        self.put(folder + r"\TavelonUpdate.exe",
                 source / "TavelonUpdate.exe" if source else
                 self.programs.updater)
        if installers:
            for name in INSTALLERS:
                self.put(folder + "\\" + name, source / name if source else
                         self.programs.installer)
        if info is None and source:
            info = source / "info.tmp"
        if info is not None:
            self.put(folder + r"\info.tmp", info)

    # The event log.
    def events(self, since_ms=0):
        return [e for e in read_events(self.log) if e.ms >= since_ms]

    def wait_for(self, predicate, timeout, since_ms=0):
        deadline = time.monotonic() + timeout
        while True:
            for event in self.events(since_ms):
                if predicate(event):
                    return event
            if time.monotonic() > deadline:
                return None
            time.sleep(0.05)

    # The translator.
    def start_product(self, folder, hold=None, hang_ms=None):
        """Starts the translator stand-in from its folder and waits until
        its window exists. hold: "<file> <ms>" or "<file> never", a file
        that it keeps open without write sharing until that long after its
        window has closed. hang_ms: how long its window's thread takes no
        messages once the window exists."""
        before = now_ms()
        env = dict(self.extra_env)
        if hold is not None:
            env["TAVELON_E2E_PRODUCT_HOLD"] = hold
        if hang_ms is not None:
            env["TAVELON_E2E_PRODUCT_HANG"] = str(hang_ms)
        process = self.wine.start([self.path(folder + r"\tavelon.exe")],
                                  cwd=self.path(folder), extra_env=env)
        self.product_processes.append(process)
        ready = self.wait_for(
            lambda e: e.source == "product" and e.name == "ready", 30,
            since_ms=before)
        if ready is None:
            raise RuntimeError("the translator stand-in did not start")
        return ready

    def close_products(self):
        self.wine.run([self.programs.user, "close-product"],
                      extra_env=self.extra_env, check=False, capture=False)
        for process in self.product_processes:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.product_processes = []

    # The run.
    def plant_libraries(self, folder):
        """The planted library under each name of PLANTED_NAMES in folder;
        returns the environment under which Wine prefers them."""
        for name in PLANTED_NAMES:
            self.put(folder + "\\" + name, self.programs.planted)
        return {"WINEDLLOVERRIDES": self.wine.env.get("WINEDLLOVERRIDES", "") +
                ";" + PLANTED_OVERRIDES}

    def run_update(self, cmdline, cwd, wait_for_relaunch=True, **options):
        """Runs the update (options: those of start_update) to its end and
        returns the exit code and the events of the run; waits a moment for
        the translator that the run restarts to show its window."""
        return self.finish_update(self.start_update(cmdline, cwd, **options),
                                  wait_for_relaunch)

    def start_update(self, cmdline, cwd, program=None, press_after_ms=400,
                     timeout_s=120, dialog_ms=None, extra_env=None,
                     attack=None, press_when=None, environment=None,
                     linger_ms=None):
        """Starts a run of the update through the user stand-in, which
        presses OK in each box (press_after_ms < 0: a person does), and
        returns it, for finish_update. attack: (file, program), the
        stand-in tries to put program in file's place at the update's first
        pause. press_when: a Windows path; no box is pressed before it
        exists. environment: {name: value} set by the stand-in for the
        update, which Wine would otherwise choose for a program started
        from Linux (ComSpec, ProgramFiles, ...). dialog_ms, linger_ms: how
        long the voice installer's dialog stays, and how long each
        installer goes on before it ends."""
        self.jobs += 1
        job = self.scratch / f"job-{self.jobs}.txt"
        fields = dict(program=program, cmdline=cmdline, cwd=cwd,
                      press_after_ms=press_after_ms,
                      timeout_ms=timeout_s * 1000)
        if attack:
            fields.update(attack=attack[0], attack_with=attack[1])
        if press_when is not None:
            fields["press_when"] = press_when
        job.write_bytes(("".join(f"{key}={value}\n" for key, value
                                 in fields.items()) +
                         "".join(f"set={name}={value}\n" for name, value
                                 in (environment or {}).items())
                         ).encode("utf-8"))
        env = dict(self.extra_env, **(extra_env or {}))
        settings = {"DIALOG_MS": dialog_ms, "LINGER_MS": linger_ms}
        self.put(INSTALLER_SETTINGS, "".join(
            f"{name}={value}\n" for name, value in settings.items()
            if value is not None).encode())
        started = now_ms()
        process = self.wine.start([self.programs.user, "run",
                                   Wine.windows_path(job)], None,
                                  extra_env=env)
        return PendingRun(process, started, timeout_s + 30)

    def finish_update(self, pending, wait_for_relaunch=True):
        """Waits for the end of a run that start_update started; its events
        are those of its own stand-in, the other programs' since its
        start."""
        try:
            exit_code = pending.process.wait(pending.timeout_s)
        except subprocess.TimeoutExpired:
            pending.process.kill()
            pending.process.wait()
            raise
        started = pending.started_ms

        def own(events):
            stand_in = next((e.pid for e in events if e.source == "user" and
                             e.name == "run"), None)
            return [e for e in events
                    if e.source != "user" or e.pid == stand_in]

        # A run that got to its end restarts the translator after the last
        # box, through the desktop's shell: it shows its window a moment
        # after the update has ended.
        pressed = [e for e in own(self.events(started))
                   if e.source == "user" and e.name == "ok-pressed"]
        if exit_code != 1 and pressed and wait_for_relaunch:
            self.wait_for(lambda e: e.source == "product" and
                          e.name == "ready" and e.ms >= pressed[-1].ms,
                          15, since_ms=started)
        elif wait_for_relaunch:
            time.sleep(0.3)
        return RunResult(exit_code, own(self.events(started)), started)


@dataclasses.dataclass
class PendingRun:
    process: subprocess.Popen
    started_ms: int
    timeout_s: int


def now_ms():
    return int(time.time() * 1000)


def folder_state(path):
    """Every file under a folder: {relative path: (bytes, mtime in ns)}. A
    symbolic link to a file counts as that file; one to a folder is not
    followed."""
    state = {}
    root = Path(path)
    if not root.exists():
        return state
    for file in sorted(root.rglob("*")):
        if file.is_file():
            state[str(file.relative_to(root))] = (file.read_bytes(),
                                                 file.stat().st_mtime_ns)
    return state
