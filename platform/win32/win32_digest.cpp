// SHA-256 on Windows: CryptoAPI's AES provider, which has had SHA-256 since
// Windows XP SP3. A provider context is taken for each digest and given
// back with it.
#include <windows.h>
// wincrypt.h needs the definitions of windows.h.
#include <wincrypt.h>

#include "platform/system.h"
#include "platform/win32/win32_security.h"

namespace tavelon::platform {
namespace {

class Win32Sha256 final : public Sha256 {
 public:
  bool Begin() override {
    if (provider_ != 0) return false;  // one digest at a time
    if (!win32::AcquireAesProvider(&provider_)) {
      provider_ = 0;
      return false;
    }
    if (!CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_)) {
      hash_ = 0;
      End();
      return false;
    }
    return true;
  }

  bool Add(const void* data, std::uint32_t size) override {
    return hash_ != 0 &&
           CryptHashData(hash_, static_cast<const BYTE*>(data), size, 0) != 0;
  }

  bool Finish(Sha256Digest* digest) override {
    DWORD size = kSha256Size;
    const bool done =
        hash_ != 0 &&
        CryptGetHashParam(hash_, HP_HASHVAL, digest->bytes, &size, 0) != 0 &&
        size == kSha256Size;
    End();
    return done;
  }

 private:
  void End() {
    if (hash_ != 0) CryptDestroyHash(hash_);
    if (provider_ != 0) CryptReleaseContext(provider_, 0);
    hash_ = 0;
    provider_ = 0;
  }

  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
};

Win32Sha256 sha256;

}  // namespace

Sha256& SystemSha256() { return sha256; }

}  // namespace tavelon::platform
