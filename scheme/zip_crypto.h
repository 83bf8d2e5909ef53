// The traditional ZIP encryption ("ZipCrypto"), which content archives use.
// Debian's minizip is built without it, so ombrix reads and writes encrypted
// entries through minizip's raw entry access and does this part itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrix {

// The password of every content archive: the shell reads with it and
// ombrix-pack writes with it.
constexpr char kContentArchivePassword[] = "718206";

class ZipCrypto {
 public:
  explicit ZipCrypto(const char* password);
  void Decrypt(char* data, size_t size);
  void Encrypt(char* data, size_t size);

  // Length of the header that starts every encrypted entry; its last byte is
  // the check byte that tells a wrong password.
  static constexpr size_t kHeaderSize = 12;

 private:
  uint8_t KeyByte() const;
  void Update(uint8_t plain);

  uint32_t keys_[3];
};

}  // namespace ombrix
