// Security for what only administrators may change: the run's folder and
// the private namespace of the only-copy mark. Built in the caller's fixed
// buffers, so that it can be read back in memory: Wine does not report a
// folder's DACL.
#pragma once

#include <windows.h>

namespace tavelon::platform::win32 {

struct AdministratorsOnlySecurity {
  SECURITY_DESCRIPTOR descriptor;
  // Room for either SID (SECURITY_MAX_SID_SIZE) and an ACL of two ACEs;
  // DWORDs keep the ACL aligned.
  BYTE administrators[68];
  BYTE system[68];
  DWORD acl[64];
};

// Owner Administrators; a protected DACL (nothing inherited from the
// parent) that allows `access`, with the ACE flags `inheritance`, to SYSTEM
// and Administrators only.
bool BuildAdministratorsOnlySecurity(AdministratorsOnlySecurity* security,
                                     DWORD access, DWORD inheritance);

// A context of CryptoAPI's PROV_RSA_AES provider, for digests and random
// numbers, with no key container and no user interface.
bool AcquireAesProvider(ULONG_PTR* provider);

// Random bytes from that provider; false when there are none to be had.
bool RandomBytes(void* bytes, DWORD size);

// The run's folder: full control, inherited by all that it holds.
inline bool BuildRunFolderSecurity(AdministratorsOnlySecurity* security) {
  return BuildAdministratorsOnlySecurity(
      security, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
}

}  // namespace tavelon::platform::win32
