// SHA-256 digests, computed by the system's own implementation: CryptoAPI
// on Windows, OpenSSL's libcrypto on POSIX systems.
#pragma once

#include <cstdint>
#include <cstring>

namespace tavelon::platform {

inline constexpr std::uint32_t kSha256Size = 32;

struct Sha256Digest {
  unsigned char bytes[kSha256Size];
};

// One digest at a time: Begin, any number of Add, then Finish, which ends
// the digest whether or not it succeeds.
class Sha256 {
 public:
  // False when the system cannot make a digest now.
  virtual bool Begin() = 0;
  virtual bool Add(const void* data, std::uint32_t size) = 0;
  virtual bool Finish(Sha256Digest* digest) = 0;

 protected:
  ~Sha256() = default;
};

// The digest of `size` bytes; false when it could not be computed.
inline bool DigestOf(Sha256& sha256, const void* data, std::uint32_t size,
                     Sha256Digest* digest) {
  if (!sha256.Begin()) return false;
  const bool added = sha256.Add(data, size);
  return sha256.Finish(digest) && added;
}

inline bool SameDigest(const Sha256Digest& a, const Sha256Digest& b) {
  return std::memcmp(a.bytes, b.bytes, kSha256Size) == 0;
}

}  // namespace tavelon::platform
