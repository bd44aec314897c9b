// Switches the product's "EnableExpressions" option on for the current user.
#pragma once

#include "platform/registry.h"

namespace tavelon::settings {

// Writes REG_DWORD 1 into `user`'s settings; every failure is silent.
void UpdateOptions(platform::Registry& registry,
                   const platform::UserSettings& user = {});

}  // namespace tavelon::settings
