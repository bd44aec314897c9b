// A folder of the run's own that only administrators can change: an
// elevated update starts the speech installers from copies made there, never
// from the download folder, which any program of the user can write.
#pragma once

#include <cstdint>

namespace tavelon::platform {

class RunFolder {
 public:
  // Makes a new folder under the Windows folder's Temp, with a random name
  // and a protected DACL that gives full control to SYSTEM and the
  // Administrators only (owner: Administrators). An existing folder is never
  // reused or followed. False when no such folder could be made.
  virtual bool Make() = 0;
  // Creates the new file `name` in the folder (it must not exist yet) and
  // keeps it open for Append; one file at a time.
  virtual bool CreateNewFile(const char* name) = 0;
  // Appends to the file that CreateNewFile created; false when not all of the
  // bytes were written.
  virtual bool Append(const void* data, std::uint32_t size) = 0;
  // Closes that file; false when that fails.
  virtual bool CloseFile() = 0;
  // Starts the file `name` of the folder as a program of its own (not
  // through the file classes): its full path as the program, the quoted path
  // as the command line, the folder as working folder. Its environment is
  // the system's own, made afresh (CreateEnvironmentBlock without a user),
  // with the folder as TEMP and TMP and a PATH of the system folders only:
  // nothing of the user's settings or of this process's environment, which
  // a program of the user may have chosen. Keeps the process until Remove.
  virtual bool Start(const char* name) = 0;
  // Waits at most `wait_ms` for every program started from the folder to
  // end; true when all have (or none was started).
  virtual bool WaitForPrograms(std::uint32_t wait_ms) = 0;
  // Deletes the folder with all it holds: each entry is opened as itself
  // and told from its handle to be a link, deleted as such and never
  // followed, or a folder, emptied first; what is in use goes at the next
  // restart. With `at_restart` nothing is deleted now: all of it, contents
  // before their folders, is scheduled for the next restart. Nothing
  // happens when no folder was made.
  virtual void Remove(bool at_restart) = 0;

 protected:
  ~RunFolder() = default;
};

}  // namespace tavelon::platform
