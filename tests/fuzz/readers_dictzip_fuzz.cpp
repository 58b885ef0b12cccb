// dictzip and gzip random access on any bytes: the first eight bytes choose reads, the rest is the
// file. Never a crash; a read that succeeds has the length asked.
#include "readers/dictzip.hpp"

#include <cstdint>
#include <memory>
#include <string>

using namespace ruvo::desktop::readers;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const std::string file(reinterpret_cast<const char*>(data + 8), size - 8);
  auto opened = open_compressed(std::make_unique<MemoryBytes>(file, "fuzz.dict.dz"));
  if (!opened) return 0;
  ByteSource& source = **opened;
  // Bounded: a table may claim up to 4 GiB.
  const std::uint64_t total = source.size();
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t offset = total == 0 ? 0 : (static_cast<std::uint64_t>(data[2 * i]) << 8 | data[2 * i + 1]) * 97 % (total + 1);
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(total - offset, data[i] * 61u));
    auto bytes = source.read(offset, length);
    if (bytes && bytes->size() != length) __builtin_trap();
    if (!bytes) return 0;
  }
  if (total < (1u << 20)) (void)source.finish();
  return 0;
}
