// The cipher MDict puts over the key index when Encrypted has bit 1: it needs no secret, only the
// block's own checksum field, hashed with RIPEMD-128 (Crypto++).
#include "readers/mdict.hpp"

#include <cryptopp/ripemd.h>

namespace ruvo::desktop::readers {
namespace {

unsigned char swap_nibbles(unsigned char byte) { return static_cast<unsigned char>(byte >> 4 | byte << 4); }

}  // namespace

std::array<unsigned char, 16> mdict_index_key(std::string_view checksum_field) {
  std::string message(checksum_field.substr(0, 4));
  message += std::string("\x95\x36\x00\x00", 4);
  std::array<unsigned char, 16> key{};
  CryptoPP::RIPEMD128 hash;
  hash.CalculateDigest(key.data(), reinterpret_cast<const CryptoPP::byte*>(message.data()), message.size());
  return key;
}

void mdict_decrypt(std::string& payload, const std::array<unsigned char, 16>& key) {
  unsigned char previous = 0x36;
  for (std::size_t i = 0; i < payload.size(); ++i) {
    const auto cipher = static_cast<unsigned char>(payload[i]);
    payload[i] = static_cast<char>(swap_nibbles(cipher) ^ static_cast<unsigned char>(i & 0xff) ^ key[i % 16] ^ previous);
    previous = cipher;
  }
}

void mdict_encrypt(std::string& payload, const std::array<unsigned char, 16>& key) {
  unsigned char previous = 0x36;
  for (std::size_t i = 0; i < payload.size(); ++i) {
    const auto plain = static_cast<unsigned char>(payload[i]);
    const unsigned char cipher =
        swap_nibbles(static_cast<unsigned char>(plain ^ static_cast<unsigned char>(i & 0xff) ^ key[i % 16] ^ previous));
    payload[i] = static_cast<char>(cipher);
    previous = cipher;
  }
}

}  // namespace ruvo::desktop::readers
