// Switches the product's "EnableExpressions" option on for the current user.
#pragma once

#include "platform/registry.h"

namespace tavelon::settings {

// Writes REG_DWORD 1; every failure is silent.
void UpdateOptions(platform::Registry& registry);

}  // namespace tavelon::settings
