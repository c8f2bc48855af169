#include "generator/derive.h"

#include <array>

#include "generator/key_file.h"

namespace tarn {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t ParseNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::string_view rest = text.substr(i);
  if (rest.empty()) return 0;

  bool hex = false;
  if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X') {
    hex = true;
    rest.remove_prefix(1);
  } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    hex = true;
    rest.remove_prefix(2);
  }
  if (rest.empty()) return 0;

  if (hex) {
    uint64_t value = 0;
    for (char c : rest) {
      const int d = HexDigit(c);
      if (d < 0) return 0;
      value = value * 16 + static_cast<uint64_t>(d);
      if (value > 0xFFFFFFFFu) return 0;
    }
    // The digits are a 32-bit pattern; a leading "-" negates it in two's complement.
    uint32_t pattern = static_cast<uint32_t>(value);
    if (negative) pattern = 0u - pattern;
    return static_cast<int32_t>(pattern);
  }

  const uint64_t limit = negative ? 2147483648u : 2147483647u;
  uint64_t value = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > limit) return 0;
  }
  return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(value))
                  : static_cast<int32_t>(value);
}

std::string MixKeyBytes(std::string_view file_bytes, std::string_view key_string) {
  std::string out(file_bytes.size(), '\0');
  const size_t len = key_string.size();
  for (size_t k = 0; k < file_bytes.size(); ++k) {
    uint8_t c = static_cast<uint8_t>(file_bytes[k]) & 0x7F;
    if (len > 0) c ^= static_cast<uint8_t>(key_string[k % len]);
    if (c < 0x20) c |= 0x20;
    out[k] = static_cast<char>(c);
  }
  return out;
}

DeriveResult DerivePassword(const std::string& key_file_path, std::string_view key_string,
                            std::string_view number_text) {
  const int64_t offset = ParseNumber(number_text);
  DeriveResult result;
  auto file = KeyFile::Open(key_file_path, result.error);
  if (!file) {
    result.kind = DeriveResult::Kind::kFileError;
    return result;
  }

  const int64_t size = file->size();
  const int64_t remaining = size - offset;
  int64_t start = 0;
  int64_t available = 0;
  if (offset < 0 || remaining < 0) {
    available = 0;
  } else if (remaining == 0) {
    // An offset equal to the length wraps round to the whole file.
    start = 0;
    available = size;
  } else {
    start = offset;
    available = remaining;
  }
  result.kind = DeriveResult::Kind::kInsufficientBytes;
  if (available < kFewestKeyBytes) return result;

  std::array<uint8_t, kMostKeyBytes> bytes{};
  const auto want = static_cast<size_t>(available < kMostKeyBytes ? available : kMostKeyBytes);
  const int64_t got = file->ReadAt(start, std::span(bytes.data(), want), result.error);
  if (got < 0) {
    result.kind = DeriveResult::Kind::kFileError;
    return result;
  }
  // A file cut short under us since its size was taken gives what is there.
  if (got < kFewestKeyBytes) return result;

  result.kind = DeriveResult::Kind::kPassword;
  result.password = MixKeyBytes(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(got)),
      key_string);
  return result;
}

}  // namespace tarn
