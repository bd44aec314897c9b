// Stands in for the person who runs the update.
//
//   e2e_user.exe run <job file>
//     Starts the program that the job file names, as a debuggee, with the
//     job's exact command line and working directory. Breakpoints on the
//     entries of the system functions through which the program talks to
//     the user and the desktop (MessageBoxA, ShellExecuteA, FindWindowA,
//     SendMessageA, SendMessageTimeoutA, LoadCursorA, SetCursor, Sleep) log
//     every call that the program itself makes, with its arguments as passed
//     (CreateFileA, OpenProcess, WaitForSingleObject, CreateProcessW,
//     CoInitializeSecurity and CoCreateInstance too): the box flags are read
//     where the call is made, since the window does not show all of them. A
//     second thread finds each message box that appears, logs what it shows
//     and presses OK after a pause, as a person would. Other exceptions of
//     the program are logged and left to it. The exit code of the program is
//     logged and becomes this program's exit code.
//   e2e_user.exe close-product
//     Asks every window of class and title "Tavelon" to close and waits
//     until none is left, as a person closing the translator would.
//   e2e_user.exe desktop-shell <ms>
//     Asks the desktop's shell for its desktop window as the update does
//     (IShellWindows::FindWindowSW), again for up to <ms>, and logs
//     whether it answered; exit code 0 when it did.
//   e2e_user.exe keep
//     Waits until its standard input ends: keeps Wine's session, and so
//     its desktop shell, alive between the programs of a test.
//   e2e_user.exe link-key <key> <target>
//     Makes HKEY_CURRENT_USER\<key> a registry link to <target>, a path of
//     the registry's own (\Registry\Machine\...), as any program of the
//     user can; with <target> "-", deletes that link (not what it points
//     at). Exit code 0 when it did.
//
// The job file holds key=value lines in UTF-8: program (the executable),
// cmdline, cwd, press_after_ms (the pause before OK; a negative number
// leaves the boxes to a real person), timeout_ms (the program is ended
// after it), and optionally attack and attack_with (see Attack) and
// press_when (a file: no box is pressed before it exists, so that a test
// can hold the program at a box while it does something else), and any
// number of set=NAME=VALUE, variables of the program's environment. The
// program is started with the wide API, so that its paths may hold
// characters that the ANSI code page cannot write.
#include <windows.h>
// The COM interfaces need the definitions of windows.h.
#include <exdisp.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "tests/e2e/event_log.h"

namespace {

const char kSource[] = "user";

// --- The job -------------------------------------------------------------

struct Job {
  wchar_t program[MAX_PATH] = {};
  wchar_t cmdline[4096] = {};
  wchar_t cwd[MAX_PATH] = {};
  long press_after_ms = 400;
  long timeout_ms = 120000;
  wchar_t attack[MAX_PATH] = {};
  wchar_t attack_with[MAX_PATH] = {};
  wchar_t press_when[MAX_PATH] = {};
};
Job g_job;

bool ReadJob(const char* path) {
  static char bytes[16384];
  static wchar_t text[16384];
  const HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD length = 0;
  const BOOL read = ReadFile(file, bytes, sizeof bytes - 1, &length, nullptr);
  CloseHandle(file);
  bytes[read ? length : 0] = '\0';
  if (!read || MultiByteToWideChar(CP_UTF8, 0, bytes, -1, text, 16384) == 0) {
    return false;
  }
  struct Field {
    const wchar_t* key;
    wchar_t* text;
    int size;
    long* number;
  } const fields[] = {
      {L"program", g_job.program, MAX_PATH, nullptr},
      {L"cmdline", g_job.cmdline, 4096, nullptr},
      {L"cwd", g_job.cwd, MAX_PATH, nullptr},
      {L"press_after_ms", nullptr, 0, &g_job.press_after_ms},
      {L"timeout_ms", nullptr, 0, &g_job.timeout_ms},
      {L"attack", g_job.attack, MAX_PATH, nullptr},
      {L"attack_with", g_job.attack_with, MAX_PATH, nullptr},
      {L"press_when", g_job.press_when, MAX_PATH, nullptr},
  };
  for (wchar_t* line = text; line != nullptr;) {
    wchar_t* end = std::wcschr(line, L'\n');
    if (end != nullptr) *end = L'\0';
    wchar_t* equals = std::wcschr(line, L'=');
    if (equals != nullptr) *equals = L'\0';
    // set=NAME=VALUE: a variable of the environment the program starts with.
    wchar_t* value =
        equals != nullptr ? std::wcschr(equals + 1, L'=') : nullptr;
    if (value != nullptr && std::wcscmp(line, L"set") == 0) {
      *value = L'\0';
      SetEnvironmentVariableW(equals + 1, value + 1);
    }
    for (const Field& field : fields) {
      if (equals == nullptr || std::wcscmp(line, field.key) != 0) continue;
      if (field.number != nullptr) {
        *field.number = std::wcstol(equals + 1, nullptr, 10);
      } else {
        lstrcpynW(field.text, equals + 1, field.size);
      }
    }
    line = end != nullptr ? end + 1 : nullptr;
  }
  return g_job.program[0] != L'\0';
}

// --- Reading the debuggee ----------------------------------------------------

HANDLE g_process = nullptr;
DWORD g_process_id = 0;
ULONG_PTR g_image_start = 0;
ULONG_PTR g_image_end = 0;

bool ReadRemote(ULONG_PTR address, void* buffer, SIZE_T size) {
  SIZE_T done = 0;
  return ReadProcessMemory(g_process, reinterpret_cast<LPCVOID>(address),
                           buffer, size, &done) != 0 &&
         done == size;
}

// A word of the debuggee's stack: a pointer's width.
ULONG_PTR ReadRemoteWord(ULONG_PTR address) {
  ULONG_PTR value = 0;
  if (!ReadRemote(address, &value, sizeof value)) return 0;
  return value;
}

// A zero-terminated string of the debuggee, character by character so that
// a page boundary after its end does not matter. A null pointer reads as
// "(null)".
template <typename Char>
void ReadRemoteString(ULONG_PTR address, Char* buffer, std::size_t size) {
  std::size_t length = 0;
  for (const char* null = address == 0 ? "(null)" : ""; *null != '\0';) {
    buffer[length++] = static_cast<Char>(*null++);
  }
  while (address != 0 && length + 1 < size) {
    Char c = 0;
    if (!ReadRemote(address + sizeof c * length, &c, sizeof c) || c == 0) {
      break;
    }
    buffer[length++] = c;
  }
  buffer[length] = 0;
}

// The name in a module's export directory, read through `read` (the
// debuggee's memory or this process's own).
template <typename Reader>
bool ExportName(ULONG_PTR base, Reader read, char* name, std::size_t size) {
  IMAGE_DOS_HEADER dos;
  if (!read(base, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
    return false;
  }
  IMAGE_NT_HEADERS nt;
  const ULONG_PTR nt_address = base + static_cast<ULONG_PTR>(dos.e_lfanew);
  if (!read(nt_address, &nt, sizeof nt)) return false;
  const IMAGE_DATA_DIRECTORY& exports =
      nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (exports.VirtualAddress == 0) return false;
  IMAGE_EXPORT_DIRECTORY directory;
  if (!read(base + exports.VirtualAddress, &directory, sizeof directory)) {
    return false;
  }
  std::size_t length = 0;
  while (length + 1 < size) {
    char c = 0;
    if (!read(base + directory.Name + length, &c, 1) || c == '\0') break;
    name[length++] = c;
  }
  name[length] = '\0';
  return length > 0;
}

bool ReadOwn(ULONG_PTR address, void* buffer, SIZE_T size) {
  std::memcpy(buffer, reinterpret_cast<const void*>(address), size);
  return true;
}

DWORD ImageSize(ULONG_PTR base) {
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS nt;
  if (!ReadRemote(base, &dos, sizeof dos)) return 0;
  if (!ReadRemote(base + static_cast<ULONG_PTR>(dos.e_lfanew), &nt,
                  sizeof nt)) {
    return 0;
  }
  return nt.OptionalHeader.SizeOfImage;
}

// --- Breakpoints on the system functions ------------------------------------

enum class Call {
  kMessageBox,
  kShellExecute,
  kFindWindow,
  kSendMessage,
  kSendMessageTimeout,
  kLoadCursor,
  kSetCursor,
  kSleep,
  kCreateFile,
  kOpenProcess,
  kWaitForSingleObject,
  kCreateProcess,
  kCoInitializeSecurity,
  kCoCreateInstance
};

struct Hook {
  const char* dll;
  const char* function;
  Call call;
  // Where the function lies in this process: its module's export name and
  // its offset there. The same system DLL lies in the debuggee.
  char module[64] = {};
  ULONG_PTR offset = 0;
  ULONG_PTR address = 0;  // in the debuggee, once its module is loaded
  BYTE original[4] = {};  // the first bytes of the function
  bool armed = false;
};

Hook g_hooks[] = {
    {"user32.dll", "MessageBoxA", Call::kMessageBox},
    {"shell32.dll", "ShellExecuteA", Call::kShellExecute},
    {"user32.dll", "FindWindowA", Call::kFindWindow},
    {"user32.dll", "SendMessageA", Call::kSendMessage},
    {"user32.dll", "SendMessageTimeoutA", Call::kSendMessageTimeout},
    {"user32.dll", "LoadCursorA", Call::kLoadCursor},
    {"user32.dll", "SetCursor", Call::kSetCursor},
    {"kernel32.dll", "Sleep", Call::kSleep},
    {"kernel32.dll", "CreateFileA", Call::kCreateFile},
    {"kernel32.dll", "OpenProcess", Call::kOpenProcess},
    {"kernel32.dll", "WaitForSingleObject", Call::kWaitForSingleObject},
    {"kernel32.dll", "CreateProcessW", Call::kCreateProcess},
    {"ole32.dll", "CoInitializeSecurity", Call::kCoInitializeSecurity},
    {"ole32.dll", "CoCreateInstance", Call::kCoCreateInstance},
};

bool ResolveOwnHooks() {
  for (Hook& hook : g_hooks) {
    const HMODULE dll = LoadLibraryA(hook.dll);
    if (dll == nullptr) return false;
    const FARPROC function = GetProcAddress(dll, hook.function);
    if (function == nullptr) return false;
    const ULONG_PTR address = reinterpret_cast<ULONG_PTR>(function);
    // The export may be forwarded to another module (Sleep to kernelbase):
    // the breakpoint goes where the function really lies.
    HMODULE owner = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(function), &owner)) {
      return false;
    }
    const ULONG_PTR owner_base = reinterpret_cast<ULONG_PTR>(owner);
    if (!ExportName(owner_base, ReadOwn, hook.module, sizeof hook.module)) {
      return false;
    }
    hook.offset = address - owner_base;
  }
  return true;
}

bool PatchByte(ULONG_PTR address, BYTE value) {
  LPVOID target = reinterpret_cast<LPVOID>(address);
  DWORD protection = 0;
  if (!VirtualProtectEx(g_process, target, 1, PAGE_EXECUTE_READWRITE,
                        &protection)) {
    return false;
  }
  SIZE_T written = 0;
  const BOOL ok = WriteProcessMemory(g_process, target, &value, 1, &written);
  DWORD ignored = 0;
  VirtualProtectEx(g_process, target, 1, protection, &ignored);
  FlushInstructionCache(g_process, target, 1);
  return ok != 0 && written == 1;
}

// The threads that run a hooked function's first instruction with its
// breakpoint taken out, and the hook to put back after that single step:
// several threads of the program may be in such a step at once.
struct Step {
  DWORD thread;  // 0: a free place
  int hook;
};
Step g_steps[16] = {};

Step* FindStep(DWORD thread) {
  for (Step& step : g_steps) {
    if (step.thread == thread) return &step;
  }
  return nullptr;
}

// The thread's place for a step: its own, else a free one; nullptr when
// every place is taken.
Step* StepPlace(DWORD thread) {
  Step* own = FindStep(thread);
  return own != nullptr ? own : FindStep(0);
}

// Ends the thread's step: the breakpoint goes back, unless another thread
// that stopped at it too has yet to run the real first instruction. False
// when the thread was not stepping.
bool EndStep(DWORD thread) {
  Step* ended = FindStep(thread);
  if (ended == nullptr) return false;
  const int hook = ended->hook;
  *ended = {0, -1};
  for (const Step& step : g_steps) {
    if (step.thread != 0 && step.hook == hook) return true;
  }
  PatchByte(g_hooks[hook].address, 0xCC);
  return true;
}

void ArmHooksOf(ULONG_PTR base) {
  char name[64];
  if (!ExportName(base, ReadRemote, name, sizeof name)) return;
  for (Hook& hook : g_hooks) {
    if (hook.armed || _stricmp(name, hook.module) != 0) continue;
    hook.address = base + hook.offset;
    if (!ReadRemote(hook.address, hook.original, sizeof hook.original) ||
        !PatchByte(hook.address, 0xCC)) {
      e2e::EventLine(kSource, "hook-failed")
          .Text("function", hook.function)
          .Write();
      continue;
    }
    hook.armed = true;
  }
}

// The registers of a thread stopped at a breakpoint, of either width.
ULONG_PTR StackPointer(const CONTEXT& context) {
#if defined(_WIN64)
  return context.Rsp;
#else
  return context.Esp;
#endif
}

void SetInstructionPointer(CONTEXT& context, ULONG_PTR address) {
#if defined(_WIN64)
  context.Rip = address;
#else
  context.Eip = static_cast<DWORD>(address);
#endif
}

// The arguments of a call stopped at the function's first instruction. The
// return address lies at the stack pointer. A 32-bit call has every
// argument on the stack above it; a 64-bit one the first four in RCX, RDX,
// R8 and R9, and the others above the return address and the 32 bytes of
// home space that the caller leaves for those four.
void CallArguments(const CONTEXT& context, ULONG_PTR (&argument)[10]) {
  const ULONG_PTR stack = StackPointer(context);
  for (ULONG_PTR i = 0; i < 10; ++i) {
    argument[i] = ReadRemoteWord(stack + sizeof(ULONG_PTR) * (i + 1));
  }
#if defined(_WIN64)
  argument[0] = context.Rcx;
  argument[1] = context.Rdx;
  argument[2] = context.R8;
  argument[3] = context.R9;
#endif
}

// A 32-bit argument (UINT, DWORD, BOOL, int): a 64-bit register or stack
// slot holds it in its low half only.
DWORD Low(ULONG_PTR argument) { return static_cast<DWORD>(argument); }

// Logs one call of the program with its arguments as passed. False for a
// call that the system makes, which is not logged.
bool LogCall(const Hook& hook, const CONTEXT& context) {
  const ULONG_PTR caller = ReadRemoteWord(StackPointer(context));
  if (caller < g_image_start || caller >= g_image_end) return false;
  ULONG_PTR argument[10];
  CallArguments(context, argument);
  static char text[4096];
  static char other[1024];
  static char more[1024];
  e2e::EventLine line(kSource, "call");
  line.Text("function", hook.function);
  switch (hook.call) {
    case Call::kMessageBox: {
      ReadRemoteString(argument[1], text, sizeof text);
      ReadRemoteString(argument[2], other, sizeof other);
      line.Hex("owner", argument[0])
          .Text("text", text)
          .Text("caption", other)
          .Hex("flags", Low(argument[3]))
          .Number("topmost", (Low(argument[3]) & MB_TOPMOST) != 0 ? 1 : 0);
      break;
    }
    case Call::kShellExecute: {
      ReadRemoteString(argument[1], other, sizeof other);
      ReadRemoteString(argument[2], text, sizeof text);
      ReadRemoteString(argument[3], more, sizeof more);
      line.Hex("owner", argument[0])
          .Text("verb", other)
          .Text("file", text)
          .Text("parameters", more);
      ReadRemoteString(argument[4], text, sizeof text);
      line.Text("directory", text)
          .Number("show", static_cast<int>(Low(argument[5])));
      break;
    }
    case Call::kFindWindow: {
      ReadRemoteString(argument[0], text, sizeof text);
      ReadRemoteString(argument[1], other, sizeof other);
      line.Text("class", text).Text("title", other);
      break;
    }
    case Call::kSendMessage:
    case Call::kSendMessageTimeout:
      line.Hex("window", argument[0])
          .Hex("message", Low(argument[1]))
          .Hex("wparam", argument[2])
          .Hex("lparam", argument[3]);
      if (hook.call == Call::kSendMessageTimeout) {
        line.Hex("flags", Low(argument[4])).Number("timeout", Low(argument[5]));
      }
      break;
    case Call::kLoadCursor:
      line.Hex("instance", argument[0]).Hex("name", argument[1]);
      break;
    case Call::kSetCursor:
      line.Hex("cursor", argument[0]);
      break;
    case Call::kSleep:
      line.Number("ms", Low(argument[0]));
      break;
    case Call::kCreateFile:
      ReadRemoteString(argument[0], text, sizeof text);
      line.Text("file", text)
          .Hex("access", Low(argument[1]))
          .Hex("share", Low(argument[2]));
      break;
    case Call::kOpenProcess:
      line.Hex("access", Low(argument[0])).Number("pid", Low(argument[2]));
      break;
    case Call::kWaitForSingleObject:
      line.Hex("handle", argument[0]).Number("ms", Low(argument[1]));
      break;
    case Call::kCoInitializeSecurity:
      line.Hex("authentication", Low(argument[4]))
          .Hex("impersonation", Low(argument[5]))
          .Hex("capabilities", Low(argument[7]));
      break;
    case Call::kCoCreateInstance:
      line.Hex("context", Low(argument[2]));
      break;
    case Call::kCreateProcess: {
      static wchar_t wide[1024];
      ReadRemoteString(argument[0], wide, 1024);
      line.Wide("application", wide);
      ReadRemoteString(argument[1], wide, 1024);
      line.Wide("command", wide);
      ReadRemoteString(argument[7], wide, 1024);
      STARTUPINFOW startup = {};
      if (argument[8] == 0 ||
          !ReadRemote(argument[8], &startup, sizeof startup)) {
        startup.dwFlags = 0xFFFFFFFF;
      }
      line.Wide("directory", wide)
          .Number("inherit", Low(argument[4]))
          .Hex("flags", Low(argument[5]))
          .Hex("environment", argument[6])
          .Hex("startup_flags", startup.dwFlags)
          .Number("show", startup.wShowWindow);
      break;
    }
  }
  line.Write();
  return true;
}

// --- Another program of the user --------------------------------------------

// attack=<file>, attack_with=<program> in the job: when the program first
// pauses (Sleep), with the program stopped there, another program of the
// user tries to put <program> in the place of <file> in three ways:
// opening it for writing, renaming it aside and deleting it. Each result
// is logged (0, or the error code); where one succeeds, <program> is
// copied over the file, so that what starts next shows it.
bool g_attacked = false;

DWORD PutOtherProgram() {
  return CopyFileW(g_job.attack_with, g_job.attack, FALSE) ? 0 : GetLastError();
}

void Attack() {
  g_attacked = true;
  DWORD write = 0;
  const HANDLE file =
      CreateFileW(g_job.attack, GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    write = GetLastError();
  } else {
    CloseHandle(file);
    PutOtherProgram();
  }
  wchar_t aside[MAX_PATH + 8];
  lstrcpynW(aside, g_job.attack, MAX_PATH);
  lstrcatW(aside, L".aside");
  const DWORD rename = MoveFileExW(g_job.attack, aside, 0) ? 0 : GetLastError();
  if (rename == 0) PutOtherProgram();
  const DWORD remove = DeleteFileW(g_job.attack) ? 0 : GetLastError();
  if (remove == 0) PutOtherProgram();
  e2e::EventLine(kSource, "attack")
      .Wide("file", g_job.attack)
      .Number("write", static_cast<long long>(write))
      .Number("rename", static_cast<long long>(rename))
      .Number("delete", static_cast<long long>(remove))
      .Write();
}

// Logs an exception of the program that is not one of the breakpoints: its
// code, where it was raised, and the return addresses into the program's
// own image found on the stack (offsets from the image's start), which
// tell which of its calls it came from.
void LogException(DWORD thread_id, const EXCEPTION_RECORD& record,
                  bool first_chance) {
  char callers[256] = {};
  const HANDLE thread = OpenThread(THREAD_GET_CONTEXT, FALSE, thread_id);
  CONTEXT context = {};
  context.ContextFlags = CONTEXT_CONTROL;
  if (thread != nullptr && GetThreadContext(thread, &context)) {
    std::size_t used = 0;
    for (ULONG_PTR i = 0; i < 512 && used + 12 < sizeof callers; ++i) {
      const ULONG_PTR word =
          ReadRemoteWord(StackPointer(context) + sizeof(ULONG_PTR) * i);
      if (word <= g_image_start || word >= g_image_end) continue;
      used += static_cast<std::size_t>(
          wsprintfA(callers + used, "%s0x%lx", used == 0 ? "" : ",",
                    static_cast<unsigned long>(word - g_image_start)));
    }
  }
  if (thread != nullptr) CloseHandle(thread);
  e2e::EventLine(kSource, "exception")
      .Hex("code", record.ExceptionCode)
      .Hex("address", reinterpret_cast<ULONG_PTR>(record.ExceptionAddress))
      .Number("first_chance", first_chance ? 1 : 0)
      .Text("image_offsets_on_stack", callers)
      .Write();
}

// --- The person in front of the screen -----------------------------------

volatile LONG g_stop = 0;

struct BoxSearch {
  HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != g_process_id || !IsWindowVisible(window)) return TRUE;
  char class_name[64];
  if (GetClassNameA(window, class_name, sizeof class_name) == 0 ||
      std::strcmp(class_name, "#32770") != 0) {
    return TRUE;
  }
  reinterpret_cast<BoxSearch*>(context)->found = window;
  return FALSE;
}

// Text of a window of the debuggee, asked with a time limit: the debuggee
// may be stopped at a debug event at that moment.
void WindowText(HWND window, char* buffer, std::size_t size) {
  DWORD_PTR length = 0;
  buffer[0] = '\0';
  if (SendMessageTimeoutA(window, WM_GETTEXT, size,
                          reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                          2000, &length) == 0) {
    buffer[0] = '\0';
  }
  buffer[size - 1] = '\0';
}

struct StaticTexts {
  char text[4096];
};

BOOL CALLBACK CollectStaticText(HWND child, LPARAM context) {
  char class_name[32];
  if (GetClassNameA(child, class_name, sizeof class_name) == 0 ||
      _stricmp(class_name, "Static") != 0) {
    return TRUE;
  }
  char text[2048];
  WindowText(child, text, sizeof text);
  if (text[0] != '\0') {
    StaticTexts* texts = reinterpret_cast<StaticTexts*>(context);
    const std::size_t used = std::strlen(texts->text);
    const std::size_t length = std::strlen(text);
    if (used + length + 1 < sizeof texts->text) {
      std::memcpy(texts->text + used, text, length + 1);
    }
  }
  return TRUE;
}

DWORD WINAPI PressOk(LPVOID) {
  HWND last_box = nullptr;
  long long last_press = 0;
  while (g_stop == 0) {
    Sleep(50);
    BoxSearch search = {nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    const HWND box = search.found;
    if (box == nullptr) continue;
    if (box != last_box) {
      last_box = box;
      last_press = 0;
      char title[1024];
      WindowText(box, title, sizeof title);
      static StaticTexts texts;
      texts.text[0] = '\0';
      EnumChildWindows(box, CollectStaticText,
                       reinterpret_cast<LPARAM>(&texts));
      e2e::EventLine(kSource, "box-shown")
          .Hex("window",
               static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(box)))
          .Text("title", title)
          .Text("text", texts.text)
          .Write();
    }
    if (g_job.press_after_ms < 0) continue;  // a real person presses
    if (g_job.press_when[0] != L'\0' &&
        GetFileAttributesW(g_job.press_when) == INVALID_FILE_ATTRIBUTES) {
      continue;  // held until the test says
    }
    // First press after the pause; again every 3 s should the box stay.
    const long long now = e2e::NowMs();
    if (last_press == 0) {
      Sleep(static_cast<DWORD>(g_job.press_after_ms));
    } else if (now - last_press < 3000) {
      continue;
    }
    const HWND button = GetDlgItem(box, IDOK);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    last_press = e2e::NowMs();
    e2e::EventLine(kSource, "ok-pressed")
        .Hex("window",
             static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(box)))
        .Write();
  }
  return 0;
}

// --- The run
// ------------------------------------------------------------------

int RunJob(const char* job_path) {
  if (!ReadJob(job_path)) {
    e2e::EventLine(kSource, "bad-job").Text("path", job_path).Write();
    return 90;
  }
  if (!ResolveOwnHooks()) {
    e2e::EventLine(kSource, "hooks-unresolved").Write();
    return 91;
  }
  e2e::EventLine(kSource, "run")
      .Wide("program", g_job.program)
      .Wide("cmdline", g_job.cmdline)
      .Wide("cwd", g_job.cwd)
      .Number("acp", static_cast<long long>(GetACP()))
      .Write();
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(g_job.program, g_job.cmdline, nullptr, nullptr, FALSE,
                      DEBUG_ONLY_THIS_PROCESS, nullptr,
                      g_job.cwd[0] != L'\0' ? g_job.cwd : nullptr, &startup,
                      &process)) {
    e2e::EventLine(kSource, "start-failed")
        .Number("error", static_cast<long long>(GetLastError()))
        .Write();
    return 92;
  }
  g_process = process.hProcess;
  g_process_id = process.dwProcessId;
  const HANDLE presser = CreateThread(nullptr, 0, PressOk, nullptr, 0, nullptr);

  const long long deadline = e2e::NowMs() + g_job.timeout_ms;
  DWORD exit_code = 93;
  bool timed_out = false;
  for (bool running = true; running;) {
    DEBUG_EVENT event;
    if (!WaitForDebugEvent(&event, 200)) {
      if (!timed_out && e2e::NowMs() > deadline) {
        timed_out = true;
        e2e::EventLine(kSource, "timeout").Write();
        TerminateProcess(g_process, 99);
      }
      continue;
    }
    DWORD status = DBG_CONTINUE;
    const bool ours = event.dwProcessId == g_process_id;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr) {
          CloseHandle(event.u.CreateProcessInfo.hFile);
        }
        if (ours) {
          g_image_start = reinterpret_cast<ULONG_PTR>(
              event.u.CreateProcessInfo.lpBaseOfImage);
          g_image_end = g_image_start + ImageSize(g_image_start);
        }
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr)
          CloseHandle(event.u.LoadDll.hFile);
        if (ours) {
          ArmHooksOf(reinterpret_cast<ULONG_PTR>(event.u.LoadDll.lpBaseOfDll));
        }
        break;
      case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        const ULONG_PTR at =
            reinterpret_cast<ULONG_PTR>(record.ExceptionAddress);
        status = DBG_EXCEPTION_NOT_HANDLED;
        if (!ours) break;
        if (record.ExceptionCode == EXCEPTION_BREAKPOINT) {
          status = DBG_CONTINUE;  // the loader's own breakpoint included
          for (int i = 0;
               i < static_cast<int>(sizeof g_hooks / sizeof *g_hooks); ++i) {
            Hook& hook = g_hooks[i];
            if (!hook.armed || hook.address != at) continue;
            const HANDLE thread =
                OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE,
                           event.dwThreadId);
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
            if (thread != nullptr && GetThreadContext(thread, &context)) {
              const BYTE* first = hook.original;
#if defined(_WIN64)
              const bool done_here = false;
#else
              // mov edi, edi does nothing; lea ecx, [esp + 4] is done
              // here. Either way the breakpoint stays, so that no other
              // thread can pass the function unseen.
              const bool skip = first[0] == 0x8B && first[1] == 0xFF;
              const bool lea = first[0] == 0x8D && first[1] == 0x4C &&
                               first[2] == 0x24 && first[3] == 0x04;
              const bool done_here = skip || lea;
#endif
              Step* place = done_here ? nullptr : StepPlace(event.dwThreadId);
              if (!done_here && place == nullptr) {
                // No place to step over it now: the call comes back here,
                // and is logged then.
                SetInstructionPointer(context, hook.address);
              } else {
                if (LogCall(hook, context) && hook.call == Call::kSleep &&
                    g_job.attack[0] != L'\0' && !g_attacked) {
                  Attack();
                }
#if !defined(_WIN64)
                if (lea) context.Ecx = context.Esp + 4;
                if (done_here) {
                  context.Eip =
                      static_cast<DWORD>(hook.address + (lea ? 4 : 2));
                }
#endif
                if (place != nullptr) {
                  // Run the real first instruction once, then put the
                  // breakpoint back.
                  *place = {event.dwThreadId, i};
                  PatchByte(hook.address, first[0]);
                  SetInstructionPointer(context, hook.address);
                  context.EFlags |= 0x100;
                }
              }
              SetThreadContext(thread, &context);
            }
            if (thread != nullptr) CloseHandle(thread);
            break;
          }
        } else if (record.ExceptionCode == EXCEPTION_SINGLE_STEP &&
                   EndStep(event.dwThreadId)) {
          status = DBG_CONTINUE;
          const HANDLE thread = OpenThread(
              THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
          CONTEXT context = {};
          context.ContextFlags = CONTEXT_CONTROL;
          if (thread != nullptr && GetThreadContext(thread, &context) &&
              (context.EFlags & 0x100) != 0) {
            context.EFlags &= ~static_cast<DWORD>(0x100);
            SetThreadContext(thread, &context);
          }
          if (thread != nullptr) CloseHandle(thread);
        } else {
          const bool first_chance = event.u.Exception.dwFirstChance != 0;
          LogException(event.dwThreadId, record, first_chance);
          // Closing a handle that is not open raises this only for a
          // program that is being debugged (Wine's COM does it when it
          // has to start its RPC service first); without a debugger the
          // call just fails, so the program goes on as it would.
          if (first_chance &&
              record.ExceptionCode == EXCEPTION_INVALID_HANDLE) {
            status = DBG_CONTINUE;
          }
        }
        break;
      }
      case EXIT_THREAD_DEBUG_EVENT:
        if (ours) EndStep(event.dwThreadId);  // a step it will never end
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        if (ours) {
          exit_code = event.u.ExitProcess.dwExitCode;
          running = false;
        }
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  InterlockedExchange(&g_stop, 1);
  WaitForSingleObject(presser, 5000);
  CloseHandle(presser);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  e2e::EventLine(kSource, "exit")
      .Number("code", static_cast<long long>(exit_code))
      .Write();
  return static_cast<int>(exit_code);
}

int CloseProduct() {
  int closed = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const HWND product = FindWindowA("Tavelon", "Tavelon");
    if (product == nullptr) break;
    if (attempt % 20 == 0) {
      PostMessageA(product, WM_CLOSE, 0, 0);
      ++closed;
    }
    Sleep(50);
  }
  const bool left = FindWindowA("Tavelon", "Tavelon") != nullptr;
  e2e::EventLine(kSource, "close-product")
      .Number("requests", closed)
      .Number("left", left ? 1 : 0)
      .Write();
  return left ? 1 : 0;
}

// FindWindowSW for the desktop, as the update asks it; S_OK when the
// desktop's shell answered with its window.
HRESULT FindShellDesktop() {
  IShellWindows* windows = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                       IID_IShellWindows, reinterpret_cast<void**>(&windows));
  if (FAILED(result)) return result;
  VARIANT location;
  VariantInit(&location);
  V_VT(&location) = VT_I4;
  V_I4(&location) = CSIDL_DESKTOP;
  VARIANT root;
  VariantInit(&root);
  LONG window = 0;
  IDispatch* desktop = nullptr;
  result = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window,
                                 SWFO_NEEDDISPATCH, &desktop);
  if (desktop != nullptr) {
    desktop->Release();
  } else if (result == S_OK) {
    result = E_POINTER;
  }
  windows->Release();
  return result;
}

// Wine's explorer registers the desktop's shell a moment after the session
// has started, and never when it came before the service manager: the
// answer is asked for again until `wait_ms` have passed.
int DesktopShell(long wait_ms) {
  const long long deadline = e2e::NowMs() + wait_ms;
  HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(result)) {
    while ((result = FindShellDesktop()) != S_OK && e2e::NowMs() < deadline) {
      Sleep(250);
    }
    CoUninitialize();
  }
  e2e::EventLine(kSource, "desktop-shell")
      .Number("answered", result == S_OK ? 1 : 0)
      .Hex("result", static_cast<unsigned long>(result))
      .Write();
  return result == S_OK ? 0 : 1;
}

int Keep() {
  char buffer[256];
  DWORD read = 0;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, buffer, sizeof buffer, &read, nullptr) && read > 0) {
  }
  return 0;
}

int LinkKey(const char* key, const char* target) {
  wchar_t name[MAX_PATH];
  wchar_t link[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, key, -1, name, MAX_PATH) == 0 ||
      MultiByteToWideChar(CP_ACP, 0, target, -1, link, MAX_PATH) == 0) {
    return 2;
  }
  HKEY created = nullptr;
  if (std::strcmp(target, "-") == 0) {
    using DeleteKeyFunction = LONG(WINAPI*)(HANDLE);
    const auto delete_key =
        reinterpret_cast<DeleteKeyFunction>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    if (delete_key == nullptr ||
        RegOpenKeyExW(HKEY_CURRENT_USER, name, REG_OPTION_OPEN_LINK, DELETE,
                      &created) != ERROR_SUCCESS) {
      return 1;
    }
    const LONG deleted = delete_key(created);
    RegCloseKey(created);
    return deleted == 0 ? 0 : 1;
  }
  if (RegCreateKeyExW(HKEY_CURRENT_USER, name, 0, nullptr,
                      REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                      nullptr, &created, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  // The target without its terminator, as links are stored.
  const LONG set =
      RegSetValueExW(created, L"SymbolicLinkValue", 0, REG_LINK,
                     reinterpret_cast<const BYTE*>(link),
                     static_cast<DWORD>(lstrlenW(link)) * sizeof(wchar_t));
  RegCloseKey(created);
  return set == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "link-key") == 0) {
    return LinkKey(argv[2], argv[3]);
  }
  if (argc == 3 && std::strcmp(argv[1], "run") == 0) return RunJob(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "close-product") == 0) {
    return CloseProduct();
  }
  if (argc == 3 && std::strcmp(argv[1], "desktop-shell") == 0) {
    return DesktopShell(std::strtol(argv[2], nullptr, 10));
  }
  if (argc == 2 && std::strcmp(argv[1], "keep") == 0) return Keep();
  return 64;
}
