// Switches the product's expression option on. Every registry failure is
// silent: the update goes on whether or not the option could be written.
#include "settings/options_update.h"

namespace tavelon::settings {
namespace {

constexpr char kOptionsKey[] = "Software\\Tavelon\\Tavelon Translator\\Options";
constexpr char kEnableExpressions[] = "EnableExpressions";

}  // namespace

void UpdateOptions(platform::Registry& registry) {
  platform::RegistryKey key = 0;
  if (!registry.CreateForSet(platform::RegistryRoot::kCurrentUser, kOptionsKey,
                             &key)) {
    return;
  }
  registry.SetDword(key, kEnableExpressions, 1);
  registry.Close(key);
}

}  // namespace tavelon::settings
