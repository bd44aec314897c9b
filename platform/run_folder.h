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
  // as the command line, the folder as working folder and as TEMP and TMP,
  // a PATH of the system folders only. Keeps the process until Remove.
  virtual bool Start(const char* name) = 0;
  // Waits at most `wait_ms` for the programs started to end, then deletes
  // the folder with all it holds, never following a link; what is still in
  // use goes at the next restart. Nothing happens when no folder was made.
  virtual void Remove(std::uint32_t wait_ms) = 0;

 protected:
  ~RunFolder() = default;
};

}  // namespace tavelon::platform
