#include "platform/win32/win32_security.h"

namespace tavelon::platform::win32 {

bool BuildAdministratorsOnlySecurity(AdministratorsOnlySecurity* security,
                                     DWORD access, DWORD inheritance) {
  DWORD size = sizeof security->administrators;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                          security->administrators, &size)) {
    return false;
  }
  size = sizeof security->system;
  if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, security->system,
                          &size)) {
    return false;
  }
  const auto acl = reinterpret_cast<PACL>(security->acl);
  return InitializeAcl(acl, sizeof security->acl, ACL_REVISION) &&
         AddAccessAllowedAceEx(acl, ACL_REVISION, inheritance, access,
                               security->system) &&
         AddAccessAllowedAceEx(acl, ACL_REVISION, inheritance, access,
                               security->administrators) &&
         InitializeSecurityDescriptor(&security->descriptor,
                                      SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorOwner(&security->descriptor,
                                    security->administrators, FALSE) &&
         SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) &&
         SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED,
                                      SE_DACL_PROTECTED);
}

}  // namespace tavelon::platform::win32
