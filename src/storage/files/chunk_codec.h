// The frames of a compressed file copy: each chunk of at most 65536 bytes is
// an 8-byte header (compressed length, original length, both 32-bit
// little-endian) followed by the chunk's zlib stream at level 9.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace cairn {

inline constexpr uint32_t kCopyChunkSize = 65536;
inline constexpr uint32_t kFrameHeaderSize = 8;

// Appends the frame of `chunk` (at most kCopyChunkSize bytes) to `out`;
// false when zlib fails.
bool EncodeChunk(std::span<const uint8_t> chunk, std::vector<uint8_t>& out);
// Largest frame body a valid copy can contain.
uint32_t MaxFrameBody();
// Checks a frame header; on success sets both lengths.
bool DecodeFrameHeader(const uint8_t* header, uint32_t& packed, uint32_t& original);
// Uncompresses one frame body into `out` (resized to `original`); false when
// the body is corrupt or does not give exactly `original` bytes.
bool DecodeChunk(std::span<const uint8_t> body, uint32_t original, std::vector<uint8_t>& out);

}  // namespace cairn
