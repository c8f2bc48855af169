#include "storage/files/chunk_codec.h"

#include <zlib.h>

namespace cairn {
namespace {

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t MaxFrameBody() { return uint32_t(compressBound(kCopyChunkSize)); }

bool EncodeChunk(std::span<const uint8_t> chunk, std::vector<uint8_t>& out) {
  if (chunk.size() > kCopyChunkSize) return false;
  size_t start = out.size();
  uLongf packed = compressBound(uLong(chunk.size()));
  out.resize(start + kFrameHeaderSize + packed);
  int rc = compress2(out.data() + start + kFrameHeaderSize, &packed, chunk.data(),
                     uLong(chunk.size()), 9);
  if (rc != Z_OK) {
    out.resize(start);
    return false;
  }
  out.resize(start + kFrameHeaderSize + packed);
  PutU32(out.data() + start, uint32_t(packed));
  PutU32(out.data() + start + 4, uint32_t(chunk.size()));
  return true;
}

bool DecodeFrameHeader(const uint8_t* header, uint32_t& packed, uint32_t& original) {
  packed = GetU32(header);
  original = GetU32(header + 4);
  return packed > 0 && packed <= MaxFrameBody() && original <= kCopyChunkSize;
}

bool DecodeChunk(std::span<const uint8_t> body, uint32_t original, std::vector<uint8_t>& out) {
  out.resize(original);
  uLongf produced = original;
  // uncompress needs a non-null destination even for an empty chunk.
  uint8_t empty = 0;
  int rc = uncompress(original ? out.data() : &empty, &produced, body.data(), uLong(body.size()));
  return rc == Z_OK && produced == original;
}

}  // namespace cairn
