// The desktop shell's own ShellExecute, reached through the shell window of
// the desktop: Explorer's desktop view hands out its Shell.Application
// object, whose ShellExecute runs inside Explorer. COM is initialised
// apartment-threaded for the call only.
#include "platform/win32/win32_desktop_shell.h"

#include <windows.h>
// The COM interfaces need the definitions of windows.h.
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

namespace tavelon::platform {
namespace {

constexpr int kPathBufferSize = 256;

// The identifiers of the classes and interfaces used, defined here: taken
// from the uuid library, they would bring its whole table of identifiers.
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

// One COM interface pointer, released when it goes out of scope.
template <typename Interface>
class Held {
 public:
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Interface* operator->() const { return pointer_; }
  Interface** Out() { return &pointer_; }
  void** OutVoid() { return reinterpret_cast<void**>(&pointer_); }
  bool Empty() const { return pointer_ == nullptr; }

 private:
  Interface* pointer_ = nullptr;
};

// A VARIANT that holds a text (or nothing), cleared when it goes out of
// scope.
class TextVariant {
 public:
  explicit TextVariant(const wchar_t* text) {
    VariantInit(&value_);
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = SysAllocString(text);
  }
  TextVariant(const TextVariant&) = delete;
  TextVariant& operator=(const TextVariant&) = delete;
  ~TextVariant() { VariantClear(&value_); }
  bool Empty() const { return V_BSTR(&value_) == nullptr; }
  const VARIANT& value() const { return value_; }

 private:
  VARIANT value_;
};

VARIANT Number(LONG number) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = number;
  return value;
}

// The path in UTF-16, converted from the ANSI code page it was formed in.
bool Widen(const char* path, wchar_t (&wide)[kPathBufferSize]) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide,
                             kPathBufferSize) > 0;
}

bool StartThroughDesktop(const wchar_t* file, const wchar_t* directory) {
  // The local server only: asking for any context makes some shells look
  // for an in-process one first.
  Held<IShellWindows> shell_windows;
  if (FAILED(CoCreateInstance(kShellWindowsClass, nullptr, CLSCTX_LOCAL_SERVER,
                              kShellWindows, shell_windows.OutVoid())) ||
      shell_windows.Empty()) {
    return false;
  }
  VARIANT location = Number(CSIDL_DESKTOP);
  VARIANT root;
  VariantInit(&root);
  LONG window = 0;
  Held<IDispatch> desktop;
  // S_FALSE: there is no desktop window of a shell.
  if (shell_windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window,
                                  SWFO_NEEDDISPATCH, desktop.Out()) != S_OK ||
      desktop.Empty()) {
    return false;
  }
  Held<IServiceProvider> services;
  Held<IShellBrowser> browser;
  Held<IShellView> view;
  Held<IDispatch> background;
  Held<IShellFolderViewDual> folder_view;
  Held<IDispatch> application;
  Held<IShellDispatch2> shell;
  if (FAILED(desktop->QueryInterface(kServiceProvider, services.OutVoid())) ||
      services.Empty() ||
      FAILED(services->QueryService(kTopLevelBrowserService, kShellBrowser,
                                    browser.OutVoid())) ||
      browser.Empty() || FAILED(browser->QueryActiveShellView(view.Out())) ||
      view.Empty() ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, kDispatch,
                                 background.OutVoid())) ||
      background.Empty() ||
      FAILED(background->QueryInterface(kShellFolderViewDual,
                                        folder_view.OutVoid())) ||
      folder_view.Empty() ||
      FAILED(folder_view->get_Application(application.Out())) ||
      application.Empty() ||
      FAILED(application->QueryInterface(kShellDispatch2, shell.OutVoid())) ||
      shell.Empty()) {
    return false;
  }

  const BSTR file_text = SysAllocString(file);
  const TextVariant parameters(L"");
  const TextVariant folder(directory);
  const TextVariant verb(L"open");
  if (file_text == nullptr || parameters.Empty() || folder.Empty() ||
      verb.Empty()) {
    SysFreeString(file_text);
    return false;
  }
  const HRESULT started =
      shell->ShellExecute(file_text, parameters.value(), folder.value(),
                          verb.value(), Number(SW_SHOW));
  SysFreeString(file_text);
  return SUCCEEDED(started);
}

}  // namespace

bool OpenFromDesktopShell(const char* file, const char* directory) {
  wchar_t wide_file[kPathBufferSize];
  wchar_t wide_directory[kPathBufferSize];
  if (!Widen(file, wide_file) || !Widen(directory, wide_directory)) {
    return false;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
  const bool started = StartThroughDesktop(wide_file, wide_directory);
  CoUninitialize();
  return started;
}

bool ProcessIsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const BOOL known = GetTokenInformation(token, TokenElevation, &elevation,
                                         sizeof elevation, &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

}  // namespace tavelon::platform
