#include "update/dictionary_warnings.h"

#include "update/messages.h"

namespace tavelon::update {
namespace {

class Warnings final : public patch::DictionaryVisitor {
 public:
  Warnings(platform::Files& files, platform::MessageBoxes& boxes)
      : files_(files), boxes_(boxes) {}

  patch::FileReport Patch(platform::FileHandle file,
                          const patch::PatchDescription& description) override {
    return patch::PatchDictionaryFile(files_, file, description);
  }

  // A file that exists but is not updated is told of, unlike one that is
  // simply not there.
  void Took(const char*, const char* path,
            patch::DictionaryOutcome outcome) override {
    if (outcome == patch::DictionaryOutcome::kRefused ||
        outcome == patch::DictionaryOutcome::kStopped) {
      boxes_.Show(outcome == patch::DictionaryOutcome::kRefused
                      ? kCannotOpenText
                      : kSeekErrorText,
                  path, platform::kMbOk | platform::kMbIconWarning);
    }
  }

 private:
  platform::Files& files_;
  platform::MessageBoxes& boxes_;
};

}  // namespace

patch::PatchResult PatchDictionariesWithWarnings(
    platform::Files& files, platform::MessageBoxes& boxes,
    const char* installation_folder, const patch::ReleaseBinding& binding,
    platform::Sha256* sha256) {
  Warnings warnings(files, boxes);
  return patch::PatchDictionaries(files, warnings, installation_folder, binding,
                                  sha256);
}

}  // namespace tavelon::update
