// The desktop shell's own ShellExecute, reached through the shell window of
// the desktop: Explorer's desktop view hands out its Shell.Application
// object, whose ShellExecute runs inside Explorer. COM is initialised
// apartment-threaded for the call only, with the process's COM security set
// before anything is asked of Explorer.
#include "platform/win32/win32_desktop_shell.h"

#include "platform/path_text.h"

#include <windows.h>
// The COM interfaces need the definitions of windows.h.
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

namespace tavelon::platform {
namespace {

// The identifiers of the classes and interfaces used, defined here rather
// than taken from the uuid library, so that the program links against the
// system's import libraries alone.
constexpr GUID kShellWindowsClass = {
    0x9ba05972,
    0xf6a8,
    0x11cf,
    {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
constexpr GUID kShellWindows = {
    0x85cb6900,
    0x4d95,
    0x11cf,
    {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};
constexpr GUID kServiceProvider = {
    0x6d5140c1,
    0x7436,
    0x11ce,
    {0x80, 0x34, 0x00, 0xaa, 0x00, 0x60, 0x09, 0xfa}};
constexpr GUID kTopLevelBrowserService = {
    0x4c96be40,
    0x915c,
    0x11cf,
    {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};
constexpr GUID kShellBrowser = {
    0x000214e2,
    0x0000,
    0x0000,
    {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kDispatch = {0x00020400,
                            0x0000,
                            0x0000,
                            {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kShellFolderViewDual = {
    0xe7a1af80,
    0x4d96,
    0x11cf,
    {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};
constexpr GUID kShellDispatch2 = {
    0xa4c6892c,
    0x3ba9,
    0x11d2,
    {0x9d, 0xea, 0x00, 0xc0, 0x4f, 0xb1, 0x61, 0x62}};

// VARIANTs start all zero, which is VT_EMPTY, as VariantInit makes them.
VARIANT Number(LONG number) {
  VARIANT value = {};
  V_VT(&value) = VT_I4;
  V_I4(&value) = number;
  return value;
}

// A VARIANT that holds a copy of the text, or nothing when there is no
// memory for it; cleared with VariantClear.
VARIANT Text(const wchar_t* text) {
  VARIANT value = {};
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocString(text);
  return value;
}

void Release(IUnknown* taken) {
  if (taken != nullptr) taken->Release();
}

// The path in UTF-16, converted from the ANSI code page it was formed in.
bool Widen(const char* path, wchar_t (&wide)[kPathBufferSize]) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide,
                             kPathBufferSize) > 0;
}

bool StartThroughDesktop(const wchar_t* file, const wchar_t* directory) {
  // Each interface taken on the way is released at the end, whichever step
  // failed.
  IShellWindows* shell_windows = nullptr;
  IDispatch* desktop = nullptr;
  IServiceProvider* services = nullptr;
  IShellBrowser* browser = nullptr;
  IShellView* view = nullptr;
  IDispatch* background = nullptr;
  IShellFolderViewDual* folder_view = nullptr;
  IDispatch* application = nullptr;
  IShellDispatch2* shell = nullptr;
  VARIANT location = Number(CSIDL_DESKTOP);
  VARIANT root = {};
  LONG window = 0;
  // The local server only: asking for any context makes some shells look
  // for an in-process one first. FindWindowSW's S_FALSE: there is no
  // desktop window of a shell.
  const bool found =
      SUCCEEDED(CoCreateInstance(kShellWindowsClass, nullptr,
                                 CLSCTX_LOCAL_SERVER, kShellWindows,
                                 reinterpret_cast<void**>(&shell_windows))) &&
      shell_windows != nullptr &&
      shell_windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window,
                                  SWFO_NEEDDISPATCH, &desktop) == S_OK &&
      desktop != nullptr &&
      SUCCEEDED(desktop->QueryInterface(kServiceProvider,
                                        reinterpret_cast<void**>(&services))) &&
      services != nullptr &&
      SUCCEEDED(services->QueryService(kTopLevelBrowserService, kShellBrowser,
                                       reinterpret_cast<void**>(&browser))) &&
      browser != nullptr && SUCCEEDED(browser->QueryActiveShellView(&view)) &&
      view != nullptr &&
      SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, kDispatch,
                                    reinterpret_cast<void**>(&background))) &&
      background != nullptr &&
      SUCCEEDED(background->QueryInterface(
          kShellFolderViewDual, reinterpret_cast<void**>(&folder_view))) &&
      folder_view != nullptr &&
      SUCCEEDED(folder_view->get_Application(&application)) &&
      application != nullptr &&
      SUCCEEDED(application->QueryInterface(
          kShellDispatch2, reinterpret_cast<void**>(&shell))) &&
      shell != nullptr;

  bool started = false;
  if (found) {
    BSTR file_text = SysAllocString(file);
    VARIANT parameters = Text(L"");
    VARIANT folder = Text(directory);
    VARIANT verb = Text(L"open");
    started = file_text != nullptr && V_BSTR(&parameters) != nullptr &&
              V_BSTR(&folder) != nullptr && V_BSTR(&verb) != nullptr &&
              SUCCEEDED(shell->ShellExecute(file_text, parameters, folder, verb,
                                            Number(SW_SHOW)));
    SysFreeString(file_text);
    VariantClear(&parameters);
    VariantClear(&folder);
    VariantClear(&verb);
  }
  IUnknown* const taken[] = {shell,      application, folder_view,
                             background, view,        browser,
                             services,   desktop,     shell_windows};
  for (IUnknown* interface_taken : taken) Release(interface_taken);
  return started;
}

}  // namespace

bool OpenFromDesktopShell(const char* file, const char* directory) {
  wchar_t wide_file[kPathBufferSize];
  wchar_t wide_directory[kPathBufferSize];
  if (!Widen(file, wide_file) || !Widen(directory, wide_directory)) {
    return false;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
  // Before the first call, since any program of the user can put objects
  // of its own into Explorer: no custom marshaler of theirs runs in this
  // process, no COM server is started with this process's rights, and
  // Explorer can only identify this process in the calls it gets, never
  // act as it; no cloaking.
  const bool started =
      SUCCEEDED(CoInitializeSecurity(
          nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
          RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
          EOAC_NO_CUSTOM_MARSHAL | EOAC_DISABLE_AAA, nullptr)) &&
      StartThroughDesktop(wide_file, wide_directory);
  CoUninitialize();
  return started;
}

}  // namespace tavelon::platform
