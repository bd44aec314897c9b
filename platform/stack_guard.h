// The value of the stack guard that the program's functions check on
// return: random bits, or where the system gives none, what differs from
// one run to the next folded into the fixed value.
#pragma once

#include <cstdint>

namespace tavelon::platform {

// Folds `value` into `guard` so that every bit of either reaches every bit
// of the result: a multiply-xorshift mix of the pointer's width (the
// finalising steps of MurmurHash3, or of SplitMix64 for 64 bits).
constexpr std::uintptr_t MixIntoGuard(std::uintptr_t guard,
                                      std::uintptr_t value) {
  std::uintptr_t mixed = guard ^ value;
  if constexpr (sizeof mixed == 8) {
    mixed = (mixed ^ (mixed >> 30)) *
            static_cast<std::uintptr_t>(0xBF58476D1CE4E5B9u);
    mixed = (mixed ^ (mixed >> 27)) *
            static_cast<std::uintptr_t>(0x94D049BB133111EBu);
    return mixed ^ (mixed >> 31);
  } else {
    mixed = (mixed ^ (mixed >> 16)) * 0x85EBCA6Bu;
    mixed = (mixed ^ (mixed >> 13)) * 0xC2B2AE35u;
    return mixed ^ (mixed >> 16);
  }
}

// The guard as stored: its lowest byte zero, so that an overflow by a text
// copy, which ends at its terminating zero, cannot write the guard back as
// it was.
constexpr std::uintptr_t GuardValue(std::uintptr_t bits) {
  return bits & ~static_cast<std::uintptr_t>(0xFF);
}

}  // namespace tavelon::platform
