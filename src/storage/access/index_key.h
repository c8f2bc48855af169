// Index keys: how a key is built from a record image and how two keys compare.
//
// A regular key (indexes 0..30) is k bytes, zero-filled, one segment per key
// field (presence byte + S value bytes, S = 8 for BCD, else the field's
// storage size) encoded so that unsigned byte order is value order, then for
// a non-unique index the record ID (4 bytes big-endian, top bit inverted).
// Without a table locale keys compare as raw bytes (negated for a descending
// index) and per-field descending is built into the bytes. With a locale,
// string segments compare through the locale's collator and per-field
// descending is applied while comparing. The record-status key (index 31) is
// the status byte followed by the encoded record ID.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/access/index_format.h"
#include "storage/base/table_locale.h"

namespace cairn {

// What keys need of one data-file field descriptor.
struct TKeyField {
  int16_t number = 0;  // 1-based
  std::string name;
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint16_t storage_size = 0;
  uint16_t offset = 0;  // of the presence byte inside the record image

  bool IsAutoInc() const { return type == 6 && subtype == 29; }
  bool IsBlob() const { return type == 3; }
  bool IsString() const { return type == 1; }
  // S: the value bytes the field takes in a key.
  int KeySize() const { return type == 8 ? 8 : (IsAutoInc() ? 4 : storage_size); }
};

// Field value encodings of keys, exposed for tests and for callers that build
// keys from values. `value` is the field's stored (little-endian) value area.
void EncodeKeyValue(const TKeyField& field, const uint8_t* value, uint8_t* out);
// The record ID as it ends a non-unique key and the status key.
void EncodeRecordId(int32_t id, uint8_t* out);
int32_t DecodeRecordId(const uint8_t* in);
// A 34-byte BCD value as a count of ten-thousandths (rounded half away from
// zero, saturated at the 64-bit limits); 0 when empty.
int64_t BcdToTenThousandths(const uint8_t* bcd);

class TKeyLayout {
 public:
  struct Segment {
    TKeyField field;
    int size = 0;             // S
    int at = 0;               // offset of the presence byte in the key
    bool descending = false;  // field marked descending
  };

  // Layout of regular index `index_no` (0..30) from its descriptor. `fields`
  // are the table's fields in number order. `locale` is the table's locale
  // (nullptr when it has none); case-insensitive indexes of a table without a
  // locale upper-case as English (United States). Returns false and leaves
  // `error_field` naming the culprit when a key field does not exist or is a
  // blob.
  static bool Build(int index_no, const TIndexDescriptor& d, std::span<const TKeyField> fields,
                    std::shared_ptr<const TTableLocale> locale, TKeyLayout& out,
                    std::string* error_field = nullptr);
  static TKeyLayout ForStatus();
  static TKeyLayout ForText(std::shared_ptr<const TTableLocale> locale);
  // A layout over plain bytes (used where only order matters, e.g. tests).
  static TKeyLayout Bytes(int key_length, bool unique, bool descending);

  int index_no() const { return index_no_; }
  int key_length() const { return key_length_; }
  bool unique() const { return unique_; }
  bool descending() const { return descending_; }
  bool case_insensitive() const { return case_insensitive_; }
  const std::vector<Segment>& segments() const { return segments_; }
  // Σ(S + 1) over the key fields.
  int segment_bytes() const { return segment_bytes_; }
  // True when keys compare as their bytes: equal exactly when identical.
  bool byte_order() const { return order_ == Order::kBytes; }

  // Builds the key of a record image (R bytes, as stored).
  void BuildKey(std::span<const uint8_t> record, std::span<uint8_t> key) const;
  // -1, 0, 1: a against b.
  int Compare(const uint8_t* a, const uint8_t* b) const;
  // Completes a short search key: bytes `from` onwards get the values that
  // sort first (`low`) or last in this index's order, wherever the order
  // runs descending, so a prefix finds every key that starts with it.
  void Pad(std::span<uint8_t> key, size_t from, bool low) const;

 private:
  int CompareWithLocale(const uint8_t* a, const uint8_t* b) const;

  int index_no_ = 0;
  int key_length_ = 0;
  bool unique_ = true;
  bool descending_ = false;
  bool case_insensitive_ = false;
  int segment_bytes_ = 0;
  enum class Order { kBytes, kLocale, kText } order_ = Order::kBytes;
  std::vector<Segment> segments_;
  std::shared_ptr<const TTableLocale> locale_;  // collation; nullptr without one
  std::shared_ptr<const TTableLocale> upper_;   // upper-casing of case-insensitive keys
};

// The record-status key of a record image: status byte, then the record ID.
void BuildStatusKey(std::span<const uint8_t> record, std::span<uint8_t, kStatusKeyLength> key);
void MakeStatusKey(uint8_t status, int32_t record_id, std::span<uint8_t, kStatusKeyLength> key);

}  // namespace cairn
