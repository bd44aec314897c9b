// SHA-256 on POSIX systems, with OpenSSL's libcrypto.
#include <openssl/evp.h>

#include "platform/system.h"

namespace tavelon::platform {
namespace {

class OpenSslSha256 final : public Sha256 {
 public:
  bool Begin() override {
    if (context_ != nullptr) return false;  // one digest at a time
    context_ = EVP_MD_CTX_new();
    if (context_ == nullptr) return false;
    if (EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
      End();
      return false;
    }
    return true;
  }

  bool Add(const void* data, std::uint32_t size) override {
    return context_ != nullptr && EVP_DigestUpdate(context_, data, size) == 1;
  }

  bool Finish(Sha256Digest* digest) override {
    unsigned int size = 0;
    const bool done = context_ != nullptr &&
                      EVP_DigestFinal_ex(context_, digest->bytes, &size) == 1 &&
                      size == kSha256Size;
    End();
    return done;
  }

 private:
  void End() {
    EVP_MD_CTX_free(context_);
    context_ = nullptr;
  }

  EVP_MD_CTX* context_ = nullptr;
};

}  // namespace

Sha256& SystemSha256() {
  static OpenSslSha256 sha256;
  return sha256;
}

}  // namespace tavelon::platform
