// The only-copy mark on Win32. The private namespace's calls are taken by
// name from kernel32: Windows before Vista lacks them (before Windows 7 the
// integrity label's), and Wine stubs them (CreateBoundaryDescriptorW gives
// NULL, the others are missing); then the mark is taken in the session's
// namespace.
#include <windows.h>

#include "platform/system.h"
#include "platform/win32/win32_kernel32.h"
#include "platform/win32/win32_security.h"

namespace tavelon::platform {
namespace {

using win32::Kernel32Function;

constexpr wchar_t kName[] = L"TavelonUpdate";

using CreateBoundaryFunction = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSidFunction = BOOL(WINAPI*)(HANDLE*, PSID);
using AddLabelFunction = BOOL(WINAPI*)(HANDLE*, PSID);
using CreateNamespaceFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID,
                                                LPCWSTR);
using OpenNamespaceFunction = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
using CloseNamespaceFunction = BOOLEAN(WINAPI*)(HANDLE, ULONG);
using DeleteBoundaryFunction = VOID(WINAPI*)(HANDLE);

class Win32OnlyCopyLock final : public OnlyCopyLock {
 public:
  bool CreateBoundary() override {
    const auto create =
        Kernel32Function<CreateBoundaryFunction>("CreateBoundaryDescriptorW");
    const auto add =
        Kernel32Function<AddSidFunction>("AddSIDToBoundaryDescriptor");
    if (create == nullptr || add == nullptr) return false;
    boundary_ = create(kName, 0);
    BYTE administrators[68];
    DWORD size = sizeof administrators;
    return boundary_ != nullptr &&
           CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                              administrators, &size) &&
           add(&boundary_, administrators);
  }

  bool AddHighIntegrityLabel() override {
    const auto add = Kernel32Function<AddLabelFunction>(
        "AddIntegrityLabelToBoundaryDescriptor");
    BYTE high[68];
    DWORD size = sizeof high;
    return add != nullptr && boundary_ != nullptr &&
           CreateWellKnownSid(WinHighLabelSid, nullptr, high, &size) &&
           add(&boundary_, high);
  }

  bool CreateNamespace() override {
    const auto create =
        Kernel32Function<CreateNamespaceFunction>("CreatePrivateNamespaceW");
    win32::AdministratorsOnlySecurity security;
    if (create == nullptr || boundary_ == nullptr ||
        !win32::BuildAdministratorsOnlySecurity(&security, GENERIC_ALL, 0)) {
      return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor,
                                      FALSE};
    namespace_ = create(&attributes, boundary_, kName);
    return namespace_ != nullptr;
  }

  bool OpenNamespace() override {
    const auto open =
        Kernel32Function<OpenNamespaceFunction>("OpenPrivateNamespaceW");
    if (open == nullptr || boundary_ == nullptr) return false;
    namespace_ = open(boundary_, kName);
    return namespace_ != nullptr;
  }

  Taken TakeMutex(bool in_private_namespace) override {
    mutex_ = CreateMutexW(nullptr, FALSE,
                          in_private_namespace ? L"TavelonUpdate\\TavelonUpdate"
                                               : L"Local\\TavelonUpdate");
    if (mutex_ == nullptr) return Taken::kFailed;
    const DWORD waited = WaitForSingleObject(mutex_, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      taken_ = true;
      return Taken::kTaken;
    }
    CloseHandle(mutex_);
    mutex_ = nullptr;
    return waited == WAIT_TIMEOUT ? Taken::kHeldElsewhere : Taken::kFailed;
  }

  void Release() override {
    if (mutex_ != nullptr) {
      if (taken_) ReleaseMutex(mutex_);
      CloseHandle(mutex_);
    }
    if (namespace_ != nullptr) {
      const auto close =
          Kernel32Function<CloseNamespaceFunction>("ClosePrivateNamespace");
      if (close != nullptr) close(namespace_, 0);
    }
    if (boundary_ != nullptr) {
      const auto remove =
          Kernel32Function<DeleteBoundaryFunction>("DeleteBoundaryDescriptor");
      if (remove != nullptr) remove(boundary_);
    }
    mutex_ = namespace_ = boundary_ = nullptr;
    taken_ = false;
  }

 private:
  HANDLE boundary_ = nullptr;
  HANDLE namespace_ = nullptr;
  HANDLE mutex_ = nullptr;
  bool taken_ = false;
};

Win32OnlyCopyLock lock;

}  // namespace

OnlyCopyLock& SystemOnlyCopyLock() { return lock; }

}  // namespace tavelon::platform
