#include "update/only_copy.h"

namespace tavelon::update {

bool BeginOnlyCopy(platform::OnlyCopyLock& lock, bool elevated) {
  using Taken = platform::OnlyCopyLock::Taken;
  if (elevated && lock.CreateBoundary() && lock.AddHighIntegrityLabel() &&
      (lock.CreateNamespace() || lock.OpenNamespace())) {
    const Taken taken = lock.TakeMutex(true);
    if (taken != Taken::kFailed) return taken == Taken::kTaken;
  }
  return lock.TakeMutex(false) == Taken::kTaken;
}

}  // namespace tavelon::update
