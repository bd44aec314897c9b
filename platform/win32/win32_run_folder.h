// The security of the run's folder, built in the caller's fixed buffers so
// that it can be read back in memory: Wine does not report a folder's DACL.
#pragma once

#include <windows.h>

namespace tavelon::platform::win32 {

struct RunFolderSecurity {
  SECURITY_DESCRIPTOR descriptor;
  // Room for either SID (SECURITY_MAX_SID_SIZE) and an ACL of two ACEs;
  // DWORDs keep the ACL aligned.
  BYTE administrators[68];
  BYTE system[68];
  DWORD acl[64];
};

// Owner Administrators; a protected DACL (nothing inherited from the parent
// folder) with full control, inherited by all the folder holds, for SYSTEM
// and Administrators only.
bool BuildRunFolderSecurity(RunFolderSecurity* security);

}  // namespace tavelon::platform::win32
