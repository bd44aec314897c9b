// Switches the product's expression option on. Every registry failure is
// silent: the update goes on whether or not the option could be written.
#include "settings/options_update.h"

#include "platform/process.h"

namespace tavelon::settings {
namespace {

constexpr char kOptionsKey[] = "Software\\Tavelon\\Tavelon Translator\\Options";
constexpr char kEnableExpressions[] = "EnableExpressions";

}  // namespace

void UpdateOptions(platform::Registry& registry,
                   const platform::UserSettings& user) {
  // Room for the longest SID, a backslash and the key.
  char path[platform::kSidTextSize + sizeof kOptionsKey];
  platform::RegistryKey key = 0;
  if (!platform::UserKeyPath(user, kOptionsKey, path, sizeof path) ||
      !registry.CreateForSet(user.root, path, &key)) {
    return;
  }
  registry.SetDword(key, kEnableExpressions, 1);
  registry.Close(key);
}

}  // namespace tavelon::settings
