// What kind of disk a drive letter stands for.
#pragma once

namespace tavelon::platform {

class Drives {
 public:
  // True when `letter` (A to Z, either case) is a disk of this machine
  // that cannot be removed (GetDriveTypeA on "X:\" giving DRIVE_FIXED):
  // not a network drive, a removable or optical drive, or a RAM disk.
  virtual bool IsLocalFixed(char letter) = 0;

 protected:
  ~Drives() = default;
};

}  // namespace tavelon::platform
