#include "scheme/zip_crypto.h"

#include <zlib.h>

namespace ombrix {
namespace {

uint32_t Crc(uint32_t crc, uint8_t byte) {
  return get_crc_table()[(crc ^ byte) & 0xff] ^ (crc >> 8);
}

}  // namespace

ZipCrypto::ZipCrypto(const char* password) : keys_{0x12345678, 0x23456789, 0x34567890} {
  for (const char* p = password; *p; ++p) Update(uint8_t(*p));
}

uint8_t ZipCrypto::KeyByte() const {
  const uint32_t t = (keys_[2] | 2) & 0xffff;
  return uint8_t((t * (t ^ 1)) >> 8);
}

void ZipCrypto::Update(uint8_t plain) {
  keys_[0] = Crc(keys_[0], plain);
  keys_[1] = (keys_[1] + (keys_[0] & 0xff)) * 134775813 + 1;
  keys_[2] = Crc(keys_[2], uint8_t(keys_[1] >> 24));
}

void ZipCrypto::Decrypt(char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const uint8_t plain = uint8_t(data[i]) ^ KeyByte();
    Update(plain);
    data[i] = char(plain);
  }
}

void ZipCrypto::Encrypt(char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const uint8_t plain = uint8_t(data[i]);
    data[i] = char(plain ^ KeyByte());
    Update(plain);
  }
}

}  // namespace ombrix
