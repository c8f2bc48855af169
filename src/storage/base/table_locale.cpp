#include "storage/base/table_locale.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/ucnv.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace cairn {

struct TTableLocale::Impl {
  std::unique_ptr<icu::Collator> collator;
  std::string converter;  // ICU converter name of the code page
  icu::Locale locale;
};

TTableLocale::~TTableLocale() = default;

int CodePageForLanguage(uint16_t language_id) {
  const int primary = language_id & 0x3FF;
  const int sub = language_id >> 10;
  switch (primary) {
    case 0x05:
    case 0x0E:
    case 0x15:
    case 0x18:
    case 0x1B:
    case 0x1C:
    case 0x24:
      return 1250;
    case 0x1A:  // Croatian, Bosnian and Serbian: Cyrillic sublanguages use 1251
      return (sub == 3 || sub == 7) ? 1251 : 1250;
    case 0x02:
    case 0x19:
    case 0x22:
    case 0x23:
    case 0x2F:
    case 0x3F:
    case 0x40:
    case 0x44:
    case 0x50:
      return 1251;
    case 0x08:
      return 1253;
    case 0x1F:
      return 1254;
    case 0x2C:
    case 0x43:
      return sub == 2 ? 1251 : 1254;  // Azeri, Uzbek: Cyrillic is 2
    case 0x0D:
      return 1255;
    case 0x01:
    case 0x20:
    case 0x29:
      return 1256;
    case 0x25:
    case 0x26:
    case 0x27:
      return 1257;
    case 0x2A:
      return 1258;
    case 0x1E:
      return 874;
    case 0x11:
      return 932;
    case 0x12:
      return 949;
    case 0x04:
      return (sub == 2 || sub == 4) ? 936 : 950;
    default:
      return 1252;
  }
}

namespace {

const char* ConverterName(int code_page) {
  switch (code_page) {
    case 874:
      return "windows-874-2000";
    case 932:
      return "windows-31j";
    case 936:
      return "windows-936-2000";
    case 949:
      return "windows-949-2000";
    case 950:
      return "windows-950-2000";
    case 1250:
      return "windows-1250";
    case 1251:
      return "windows-1251";
    case 1253:
      return "windows-1253";
    case 1254:
      return "windows-1254";
    case 1255:
      return "windows-1255";
    case 1256:
      return "windows-1256";
    case 1257:
      return "windows-1257";
    case 1258:
      return "windows-1258";
    default:
      return "windows-1252";
  }
}

bool LanguageKnown(const char* language) {
  if (!language || !*language) return false;
  const int32_t n = uloc_countAvailable();
  for (int32_t i = 0; i < n; ++i) {
    const char* name = uloc_getAvailable(i);
    const size_t len = std::strlen(language);
    if (std::strncmp(name, language, len) == 0 && (name[len] == 0 || name[len] == '_')) return true;
  }
  return false;
}

size_t TextLength(std::span<const uint8_t> s) {
  size_t n = 0;
  while (n < s.size() && s[n] != 0) ++n;
  return n;
}

icu::UnicodeString Decode(const TTableLocale& loc, const std::array<char16_t, 256>& table,
                          bool single_byte, const std::string& conv, std::span<const uint8_t> s) {
  const size_t n = TextLength(s);
  if (single_byte) {
    icu::UnicodeString u;
    for (size_t i = 0; i < n; ++i) u.append(table[s[i]]);
    return u;
  }
  return icu::UnicodeString(reinterpret_cast<const char*>(s.data()), int32_t(n), conv.c_str());
}

}  // namespace

std::shared_ptr<const TTableLocale> TTableLocale::Build(uint32_t lcid) {
  std::shared_ptr<TTableLocale> loc(new TTableLocale());
  loc->impl_ = std::make_unique<Impl>();
  loc->lcid_ = lcid;
  const uint16_t language = uint16_t(lcid & 0xFFFF);
  loc->code_page_ = language == 0 ? 1252 : CodePageForLanguage(language);
  loc->impl_->converter = ConverterName(loc->code_page_);
  const bool dbcs = loc->code_page_ == 932 || loc->code_page_ == 936 || loc->code_page_ == 949 ||
                    loc->code_page_ == 950;
  loc->single_byte_ = !dbcs;

  if (language == 0) {
    loc->icu_name_ = "en_US";
  } else {
    char name[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t len = uloc_getLocaleForLCID(lcid, name, sizeof(name), &status);
    if (U_FAILURE(status) || len <= 0) return nullptr;
    loc->icu_name_ = name;
  }
  loc->impl_->locale = icu::Locale(loc->icu_name_.c_str());
  if (loc->impl_->locale.isBogus()) return nullptr;

  if (language != 0) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> coll(icu::Collator::createInstance(loc->impl_->locale, status));
    if (U_FAILURE(status) || !coll) return nullptr;
    // The collator falls back to the root order for languages without rules
    // of their own (English among them); the language must still be one ICU
    // knows.
    if (!LanguageKnown(loc->impl_->locale.getLanguage())) return nullptr;
    coll->setStrength(icu::Collator::PRIMARY);
    coll->setAttribute(UCOL_CASE_LEVEL, UCOL_ON, status);
    if (U_FAILURE(status)) return nullptr;
    loc->impl_->collator = std::move(coll);
    loc->collator_ = loc->impl_->collator.get();
  }

  // Byte <-> character tables of single-byte code pages.
  for (int b = 0; b < 256; ++b) loc->upper_[b] = loc->lower_[b] = uint8_t(b);
  if (loc->single_byte_) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* cnv = ucnv_open(loc->impl_->converter.c_str(), &status);
    if (U_FAILURE(status)) return nullptr;
    std::map<char16_t, uint8_t> back;
    for (int b = 0; b < 256; ++b) {
      const char in = char(b);
      UChar out[4] = {};
      status = U_ZERO_ERROR;
      const int32_t n = ucnv_toUChars(cnv, out, 4, &in, 1, &status);
      loc->to_unicode_[b] = (U_SUCCESS(status) && n == 1) ? out[0] : char16_t(0xFFFD);
      if (loc->to_unicode_[b] != 0xFFFD) back.emplace(loc->to_unicode_[b], uint8_t(b));
    }
    ucnv_close(cnv);
    for (int b = 1; b < 256; ++b) {
      const char16_t c = loc->to_unicode_[b];
      if (c == 0xFFFD) continue;
      icu::UnicodeString u(c), l(c);
      u.toUpper(loc->impl_->locale);
      l.toLower(loc->impl_->locale);
      if (u.length() == 1) {
        const auto it = back.find(u.charAt(0));
        if (it != back.end()) loc->upper_[b] = it->second;
      }
      if (l.length() == 1) {
        const auto it = back.find(l.charAt(0));
        if (it != back.end()) loc->lower_[b] = it->second;
      }
    }
  } else {
    for (int b = 'a'; b <= 'z'; ++b) loc->upper_[b] = uint8_t(b - 'a' + 'A');
    for (int b = 'A'; b <= 'Z'; ++b) loc->lower_[b] = uint8_t(b - 'A' + 'a');
  }
  return loc;
}

std::shared_ptr<const TTableLocale> TTableLocale::ForLcid(uint32_t lcid) {
  static std::mutex mu;
  static std::map<uint32_t, std::shared_ptr<const TTableLocale>> cache;
  if ((lcid & 0xFFFF) == 0) lcid = 0;
  std::lock_guard<std::mutex> lock(mu);
  const auto it = cache.find(lcid);
  if (it != cache.end()) return it->second;
  auto loc = Build(lcid);
  cache.emplace(lcid, loc);
  return loc;
}

bool TTableLocale::IsInstalled(uint32_t lcid) { return ForLcid(lcid) != nullptr; }

int TTableLocale::Compare(std::span<const uint8_t> a, std::span<const uint8_t> b) const {
  if (!collator_) {
    const size_t na = TextLength(a), nb = TextLength(b);
    const int c = std::memcmp(a.data(), b.data(), std::min(na, nb));
    if (c != 0) return c < 0 ? -1 : 1;
    return na == nb ? 0 : (na < nb ? -1 : 1);
  }
  const icu::UnicodeString ua = Decode(*this, to_unicode_, single_byte_, impl_->converter, a);
  const icu::UnicodeString ub = Decode(*this, to_unicode_, single_byte_, impl_->converter, b);
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r = impl_->collator->compare(ua, ub, status);
  if (U_FAILURE(status)) return 0;
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

void TTableLocale::Upper(std::span<uint8_t> text) const {
  const size_t n = TextLength(text);
  if (single_byte_) {
    for (size_t i = 0; i < n; ++i) text[i] = upper_[text[i]];
    return;
  }
  icu::UnicodeString u(reinterpret_cast<const char*>(text.data()), int32_t(n),
                       impl_->converter.c_str());
  u.toUpper(impl_->locale);
  // Re-encode through the converter; keep the bytes when the length changes.
  std::string encoded;
  {
    UErrorCode st = U_ZERO_ERROR;
    UConverter* cnv = ucnv_open(impl_->converter.c_str(), &st);
    if (U_FAILURE(st)) return;
    encoded.resize(size_t(u.length()) * 4 + 4);
    const int32_t m = ucnv_fromUChars(cnv, encoded.data(), int32_t(encoded.size()), u.getBuffer(),
                                      u.length(), &st);
    ucnv_close(cnv);
    if (U_FAILURE(st) || size_t(m) != n) return;
  }
  std::memcpy(text.data(), encoded.data(), n);
}

}  // namespace cairn

namespace cairn {

void TTableLocale::Lower(std::span<uint8_t> text) const {
  // Multi-byte code pages lower-case ASCII letters only (lead and trail
  // bytes of other characters are left alone).
  const size_t n = TextLength(text);
  if (!single_byte_) {
    for (size_t i = 0; i < n; ++i) {
      if (text[i] >= 0x80) {
        ++i;  // skip the trail byte
        continue;
      }
      text[i] = lower_[text[i]];
    }
    return;
  }
  for (size_t i = 0; i < n; ++i) text[i] = lower_[text[i]];
}

}  // namespace cairn
