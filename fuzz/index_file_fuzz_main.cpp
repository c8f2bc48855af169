#include <cstddef>
#include <cstdint>

namespace cairn::fuzz {
int IndexFileFuzz(const uint8_t* data, size_t size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return cairn::fuzz::IndexFileFuzz(data, size);
}
