// The mark that only one copy of the update holds at a time: a named mutex,
// in a private namespace that only administrators can open when the update
// runs elevated, else in the session's namespace (Local\TavelonUpdate).
#pragma once

namespace tavelon::platform {

class OnlyCopyLock {
 public:
  enum class Taken {
    kTaken,          // this copy holds the mark now
    kHeldElsewhere,  // another running copy holds it
    kFailed,         // the mark could not be had at all
  };
  // A boundary that holds the Administrators SID
  // (CreateBoundaryDescriptorW, AddSIDToBoundaryDescriptor). False where
  // the system lacks the calls or they fail.
  virtual bool CreateBoundary() = 0;
  // Adds the High mandatory level to that boundary
  // (AddIntegrityLabelToBoundaryDescriptor), so that only a process that
  // runs with high integrity, as an elevated one does, can open the
  // namespace. False where the system lacks the call or it fails.
  virtual bool AddHighIntegrityLabel() = 0;
  // Creates the private namespace in that boundary, with a DACL for
  // Administrators and SYSTEM only. False when it exists already or cannot
  // be made.
  virtual bool CreateNamespace() = 0;
  // Opens the existing private namespace of that boundary.
  virtual bool OpenNamespace() = 0;
  // Creates or opens the mutex, in the private namespace or in the
  // session's, and takes it without waiting; a mutex left by a copy that
  // ended without giving it back counts as free.
  virtual Taken TakeMutex(bool in_private_namespace) = 0;
  // Gives the mutex back, if taken, and closes what is open: the mutex,
  // the namespace, the boundary.
  virtual void Release() = 0;

 protected:
  ~OnlyCopyLock() = default;
};

}  // namespace tavelon::platform
