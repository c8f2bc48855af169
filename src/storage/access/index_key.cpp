#include "storage/access/index_key.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace cairn {

namespace {

void PutBigEndian(uint64_t v, int bytes, uint8_t* out) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = uint8_t(v);
    v >>= 8;
  }
}

uint64_t LoadLittle(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  return Sign(std::memcmp(a, b, n));
}

}  // namespace

void EncodeRecordId(int32_t id, uint8_t* out) { PutBigEndian(uint32_t(id) ^ 0x80000000u, 4, out); }

int32_t DecodeRecordId(const uint8_t* in) {
  uint32_t v = (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
  return int32_t(v ^ 0x80000000u);
}

int64_t BcdToTenThousandths(const uint8_t* bcd) {
  const int precision = std::min<int>(bcd[0], 64);
  const bool negative = (bcd[1] & 0x80) != 0;
  const int scale = bcd[1] & 0x3F;
  if (precision == 0) return 0;
  auto digit = [&](int i) {
    const uint8_t b = bcd[2 + i / 2];
    return std::min<int>((i % 2 == 0) ? (b >> 4) : (b & 0x0F), 9);
  };
  // Digits i < keep contribute; digit `keep` (if any) rounds.
  const int keep = precision - scale + 4;
  const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max());
  uint64_t v = 0;
  bool saturated = false;
  auto push = [&](int d) {
    if (saturated) return;
    if (v > (limit - uint64_t(d)) / 10) {
      saturated = true;
      v = limit;
      return;
    }
    v = v * 10 + uint64_t(d);
  };
  for (int i = 0; i < std::max(keep, precision) && i < keep; ++i)
    push(i < precision ? digit(i) : 0);
  if (keep >= 0 && keep < precision && digit(keep) >= 5 && !saturated) {
    if (v == limit)
      saturated = true;
    else
      ++v;
  }
  const int64_t r = int64_t(v);
  return negative ? -r : r;
}

void EncodeKeyValue(const TKeyField& field, const uint8_t* value, uint8_t* out) {
  const int s = field.KeySize();
  switch (field.type) {
    case 2:
    case 6:
    case 10:
      PutBigEndian(LoadLittle(value, 4) ^ 0x80000000u, 4, out);
      break;
    case 5:
      PutBigEndian(LoadLittle(value, 2) ^ 0x8000u, 2, out);
      break;
    case 4:
    case 12:
      PutBigEndian(LoadLittle(value, 2), 2, out);
      break;
    case 7:
    case 11: {
      const uint64_t bits = LoadLittle(value, 8);
      const double d = std::bit_cast<double>(bits);
      PutBigEndian(d >= 0 ? (bits | 0x8000000000000000ull) : ~bits, 8, out);
      break;
    }
    case 8:
      PutBigEndian(uint64_t(BcdToTenThousandths(value)) ^ 0x8000000000000000ull, 8, out);
      break;
    case 18:
      PutBigEndian(LoadLittle(value, 8) ^ 0x8000000000000000ull, 8, out);
      break;
    default:
      std::memcpy(out, value, size_t(s));
      break;
  }
}

bool TKeyLayout::Build(int index_no, const TIndexDescriptor& d, std::span<const TKeyField> fields,
                       std::shared_ptr<const TTableLocale> locale, TKeyLayout& out,
                       std::string* error_field) {
  TKeyLayout l;
  l.index_no_ = index_no;
  l.unique_ = d.unique;
  l.descending_ = d.descending;
  l.case_insensitive_ = d.case_insensitive;
  l.locale_ = (locale && locale->has_collator()) ? locale : nullptr;
  l.order_ = l.locale_ ? Order::kLocale : Order::kBytes;
  if (d.case_insensitive) l.upper_ = l.locale_ ? l.locale_ : TTableLocale::ForLcid(0x0409);
  int at = 0;
  for (int i = 0; i < d.field_count && i < kMaxKeyFields; ++i) {
    const int16_t number = d.fields[i];
    const auto it = std::find_if(fields.begin(), fields.end(),
                                 [&](const TKeyField& f) { return f.number == number; });
    if (it == fields.end() || it->IsBlob()) {
      if (error_field) *error_field = it == fields.end() ? std::to_string(number) : it->name;
      return false;
    }
    Segment seg;
    seg.field = *it;
    seg.size = it->KeySize();
    seg.at = at;
    seg.descending = d.field_descending[i] != 0;
    at += seg.size + 1;
    l.segments_.push_back(std::move(seg));
  }
  l.segment_bytes_ = at;
  l.key_length_ = at + (d.unique ? 0 : 4);
  out = std::move(l);
  return true;
}

TKeyLayout TKeyLayout::ForStatus() {
  TKeyLayout l;
  l.index_no_ = kStatusIndex;
  l.key_length_ = kStatusKeyLength;
  l.segment_bytes_ = kStatusKeyLength;
  return l;
}

TKeyLayout TKeyLayout::ForText(std::shared_ptr<const TTableLocale> locale) {
  TKeyLayout l;
  l.index_no_ = kTextIndex;
  l.key_length_ = kTextKeyLength;
  l.segment_bytes_ = kTextKeyLength;
  l.locale_ = (locale && locale->has_collator()) ? locale : nullptr;
  l.order_ = l.locale_ ? Order::kText : Order::kBytes;
  return l;
}

TKeyLayout TKeyLayout::Bytes(int key_length, bool unique, bool descending) {
  TKeyLayout l;
  l.key_length_ = key_length;
  l.unique_ = unique;
  l.descending_ = descending;
  l.segment_bytes_ = unique ? key_length : key_length - 4;
  return l;
}

void TKeyLayout::BuildKey(std::span<const uint8_t> record, std::span<uint8_t> key) const {
  std::fill(key.begin(), key.begin() + key_length_, uint8_t{0});
  for (const Segment& seg : segments_) {
    uint8_t* out = key.data() + seg.at;
    const TKeyField& f = seg.field;
    if (f.IsAutoInc()) {
      out[0] = 1;
      if (record.size() >= 9) EncodeKeyValue(f, record.data() + 5, out + 1);
    } else if (size_t(f.offset) + 1 + f.storage_size <= record.size() && record[f.offset] != 0) {
      out[0] = 1;
      const uint8_t* value = record.data() + f.offset + 1;
      if (f.IsString()) {
        std::memcpy(out + 1, value, size_t(seg.size));
        // Characters end at the first zero; what follows stays zero.
        const uint8_t* z = static_cast<const uint8_t*>(std::memchr(out + 1, 0, size_t(seg.size)));
        if (z) std::memset(out + 1 + (z - (out + 1)), 0, size_t(seg.size) - size_t(z - (out + 1)));
        if (upper_) upper_->Upper(std::span<uint8_t>(out + 1, size_t(seg.size)));
      } else {
        EncodeKeyValue(f, value, out + 1);
      }
    }
    if (seg.descending && !descending_ && !locale_) {
      const int n = f.IsString() ? seg.size : seg.size + 1;
      for (int i = 0; i < n; ++i) out[i] = uint8_t(255 - out[i]);
    }
  }
  if (!unique_ && record.size() >= 9) {
    const int32_t id = int32_t(le::U32(record.data() + 5));
    EncodeRecordId(id, key.data() + segment_bytes_);
  }
}

int TKeyLayout::Compare(const uint8_t* a, const uint8_t* b) const {
  switch (order_) {
    case Order::kBytes: {
      const int c = CompareBytes(a, b, size_t(key_length_));
      return descending_ && index_no_ != kStatusIndex ? -c : c;
    }
    case Order::kLocale:
      return CompareWithLocale(a, b);
    case Order::kText: {
      int c = CompareBytes(a, b, 3);
      if (c) return c;
      c = locale_->Compare({a + 3, 61}, {b + 3, 61});
      if (c) return c;
      return CompareBytes(a + 64, b + 64, 4);
    }
  }
  return 0;
}

void TKeyLayout::Pad(std::span<uint8_t> key, size_t from, bool low) const {
  for (size_t i = from; i < key.size(); ++i) {
    bool descending = false;
    if (order_ == Order::kBytes) {
      descending = descending_ && index_no_ != kStatusIndex;
    } else if (order_ == Order::kLocale) {
      descending = descending_;
      for (const Segment& seg : segments_) {
        if (i >= size_t(seg.at) && i < size_t(seg.at + seg.size + 1)) {
          descending = descending_ || seg.descending;
          break;
        }
      }
    }
    key[i] = low != descending ? 0x00 : 0xFF;
  }
}

int TKeyLayout::CompareWithLocale(const uint8_t* a, const uint8_t* b) const {
  for (const Segment& seg : segments_) {
    const bool negate = descending_ || seg.descending;
    int c;
    if (seg.field.IsString()) {
      c = CompareBytes(a + seg.at, b + seg.at, 1);
      if (c == 0)
        c = locale_->Compare({a + seg.at + 1, size_t(seg.size)},
                             {b + seg.at + 1, size_t(seg.size)});
    } else {
      c = CompareBytes(a + seg.at, b + seg.at, size_t(seg.size) + 1);
    }
    if (c) return negate ? -c : c;
  }
  const int rest = key_length_ - segment_bytes_;
  if (rest > 0) {
    const int c = CompareBytes(a + segment_bytes_, b + segment_bytes_, size_t(rest));
    return descending_ ? -c : c;
  }
  return 0;
}

void MakeStatusKey(uint8_t status, int32_t record_id, std::span<uint8_t, kStatusKeyLength> key) {
  key[0] = status;
  EncodeRecordId(record_id, key.data() + 1);
}

void BuildStatusKey(std::span<const uint8_t> record, std::span<uint8_t, kStatusKeyLength> key) {
  MakeStatusKey(record.empty() ? 0 : record[0],
                record.size() >= 9 ? int32_t(le::U32(record.data() + 5)) : 0, key);
}

}  // namespace cairn
