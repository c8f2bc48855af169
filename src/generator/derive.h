// Deterministic password derivation from a key file, a string and a number.
//
// The result depends on the three inputs alone. Every rule here (number
// syntax, byte window, masking, string cycling, lifting of low codes) is part
// of users' passwords: do not change any of them.
//
//   ParseNumber("  +0x17") == 23; malformed text gives 0, never an error.
//   DerivePassword(path, Utf8ToKeyBytes(text), number) reads at most 80 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

inline constexpr int kFewestKeyBytes = 32;
inline constexpr int kMostKeyBytes = 80;

inline constexpr char kInsufficientBytesMessage[] =
    "Insufficient Bytes read - Please choose another file or reduce the offset";

struct DeriveResult {
  enum class Kind { kPassword, kInsufficientBytes, kFileError };
  Kind kind = Kind::kFileError;
  std::string password;  // single-byte codes 0x20..0xFF, 32 to 80 of them
  std::string error;     // for kFileError: names the file and the system's reason
};

// Reads the number text as a signed 32-bit offset: leading blanks (0x20 only),
// an optional sign, then decimal digits or "$", "x", "X", "0x", "0X" and hex
// digits, and nothing after. Anything else gives 0.
int32_t ParseNumber(std::string_view text);

// `key_string` holds single-byte codes (see codepage.h); the key file is held
// open, locked, only for the time of the call.
DeriveResult DerivePassword(const std::string& key_file_path, std::string_view key_string,
                            std::string_view number_text);

// Mixes a window of key file bytes with the string; exposed for tests.
std::string MixKeyBytes(std::string_view file_bytes, std::string_view key_string);

}  // namespace tarn
