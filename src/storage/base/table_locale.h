// A table's locale: collation and upper-casing of its single-byte text.
//
// A locale is a Windows locale id: sort id * 65536 + language id; 0 means none.
// ICU maps the id to a locale (uloc_getLocaleForLCID). A locale for which ICU
// has no collator of its own is "not installed" (CAIRN_CANNOTLOADLDDRV).
//
// Text in table files is bytes. They are read as characters of the Windows
// ANSI code page of the locale's language (1250 Central European, 1251
// Cyrillic, 1253 Greek, 1254 Turkish, 1255 Hebrew, 1256 Arabic, 1257 Baltic,
// 1258 Vietnamese, 874 Thai, 932/936/949/950 East Asian, 1252 otherwise and
// when the table has no locale). Strings compare with the collator at primary
// strength plus the case level: non-spacing marks are ignored, letter case is
// not, punctuation counts as symbols. Upper-casing maps each byte to the byte
// of its upper-case character when that character exists in the code page,
// and leaves it as it is otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace cairn {

class TTableLocale {
 public:
  ~TTableLocale();
  TTableLocale(const TTableLocale&) = delete;
  TTableLocale& operator=(const TTableLocale&) = delete;

  // The locale for `lcid`, shared and cached; nullptr when it is not installed.
  // lcid 0 gives the upper-casing of English (United States) and no collator.
  static std::shared_ptr<const TTableLocale> ForLcid(uint32_t lcid);
  static bool IsInstalled(uint32_t lcid);
  static uint32_t MakeLcid(uint16_t language_id, uint16_t sort_id) {
    return (uint32_t(sort_id) << 16) | language_id;
  }

  uint32_t lcid() const { return lcid_; }
  int code_page() const { return code_page_; }
  const std::string& icu_name() const { return icu_name_; }
  bool has_collator() const { return collator_ != nullptr; }

  // Collator order of two byte strings, each ending at its first zero byte or
  // its end: -1, 0 or 1.
  int Compare(std::span<const uint8_t> a, std::span<const uint8_t> b) const;
  // Upper- or lower-cases bytes up to the first zero in place.
  void Upper(std::span<uint8_t> text) const;
  void Lower(std::span<uint8_t> text) const;

 private:
  struct Impl;
  TTableLocale() = default;
  static std::shared_ptr<const TTableLocale> Build(uint32_t lcid);

  uint32_t lcid_ = 0;
  int code_page_ = 1252;
  std::string icu_name_;
  bool single_byte_ = true;
  std::array<char16_t, 256> to_unicode_{};
  std::array<uint8_t, 256> upper_{};
  std::array<uint8_t, 256> lower_{};
  std::unique_ptr<Impl> impl_;
  void* collator_ = nullptr;  // icu::Collator, owned by impl_
};

// The Windows ANSI code page of a language id.
int CodePageForLanguage(uint16_t language_id);

}  // namespace cairn
