// The whole update, from the command line to the exit code, in one straight
// pass.
#pragma once

#include "patch/dictionary_patcher.h"
#include "platform/desktop.h"
#include "platform/digest.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/message_boxes.h"
#include "platform/only_copy_lock.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/run_folder.h"
#include "update/installation_lookup.h"
#include "update/messages.h"
#include "update/release_binding.h"
#include "update/speech_installers.h"

namespace tavelon::update {

// The process exit codes.
enum ExitCode : int {
  kExitCompleted = 0,  // ran to the end; the update information was read
  // Stopped before changing anything: a bad argument, no installation
  // found, or another copy running.
  kExitStoppedBeforeChanges = 1,
  // Ran to the end, but no dictionary was updated: info.tmp could not be
  // read or was not the one released with the program, every dictionary
  // found was refused, or none was found.
  kExitDictionariesNotUpdated = 2,
  // Ran to the end, but an installer of a bound program did not start: it
  // was not the one released, or it could not be copied or started.
  kExitInstallerNotStarted = 3,
};

inline constexpr char kProductWindowClass[] = "Tavelon";
inline constexpr char kProductWindowTitle[] = "Tavelon";
inline constexpr char kProductProgram[] = "tavelon.exe";

// The longest time given to the running product to close, counted from the
// sending of the close request: the request itself (a product may ask its
// user to save first), then the wait for its process to end (it may still
// be saving and holding its dictionaries after its window has gone). A
// product that does not answer is not waited for beyond it.
inline constexpr std::uint32_t kProductExitWaitMs = 30000;

// The longest wait at the run's end for the installers started from the
// run's folder to end, before the folder is deleted. The user has seen the
// last box by then, so the wait is not seen. Old self-extracting setups
// that unpack and register a few megabytes take seconds, a minute or two
// on a slow disk with every unpacked file scanned; ten minutes leave room
// for any of that. An installer still running then (one waiting for its
// user, say) keeps its files: the folder goes at the next restart instead.
inline constexpr std::uint32_t kInstallersEndWaitMs = 10 * 60 * 1000;

// Everything the run reaches the system through.
struct RunPlatform {
  platform::Process& process;
  platform::Registry& registry;
  // Whether an elevated run may take the desktop user's Run entry's folder.
  platform::Drives& drives;
  platform::Files& files;
  platform::MessageBoxes& boxes;
  platform::Windows& windows;
  platform::Shell& shell;
  platform::Sleeper& sleeper;
  platform::Sha256& sha256;
  // Where an elevated update copies the installers to start them.
  platform::RunFolder& run_folder;
  // The mark that only one copy of the update holds.
  platform::OnlyCopyLock& only_copy;
  // Gives the closing product time to let go of its files.
  void (*pause_after_close)();
  // What the release vouches for; a program built without digests by
  // default.
  const ReleaseBinding& binding = kUnbound;
};

// Runs the update and returns the process exit code.
int RunUpdate(const RunPlatform& system);

// The run's last box and its exit code, decided from what happened: a file
// that is not the one released first (info.tmp before an installer), then
// an installer that could not be started, then an update description that
// could not be read, then dictionaries that could not be written or were
// not found, else the completion message.
struct RunOutcome {
  ExitCode exit_code;
  // The box: "Update failed - " `file` `text` when a file is named, else
  // `text` alone; caption kCaption.
  const char* file;
  const char* text;
  std::uint32_t flags;
};
RunOutcome DecideOutcome(bool bound, patch::PatchResult patched,
                         const InstallerOutcome& installer);

// A processor-bound pause of 20000 x 20000 empty iterations; the counters are
// volatile so that the compiler keeps the loop.
void ProcessorBoundPause();

// Closes a running product: sends its window WM_CLOSE, pauses, then waits
// for its process to end, until kProductExitWaitMs after the request was
// sent; a request that the window has not answered by then is given up.
// Without a product window nothing happens; when the process cannot be
// opened there is no wait after the pause.
void CloseRunningProduct(platform::Windows& windows, platform::Sleeper& clock,
                         void (*pause_after_close)());

// Starts the updated product, never with the update's own rights: an
// elevated update asks the desktop's shell to start it, so that the product
// runs with the user's rights, and starts nothing when that cannot be done;
// an update that is not elevated starts it itself. A program that is not
// there is never handed to the desktop's shell, which would say so in a box
// of its own.
void StartProduct(platform::Shell& shell, platform::Files& files, bool elevated,
                  const char* product_path, const char* installation_folder);

// The update folder: the program's own path cut just after its last
// backslash. Left empty when the path could not be had in full.
void FindUpdateFolder(platform::Process& process, char* folder);

}  // namespace tavelon::update
