// Field descriptors, record layout and the value encodings of record slots.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"
#include "storage/files/field_descriptor.h"
#include "storage/files/field_values.h"

namespace cairn {
namespace {

std::vector<TFieldDescriptor> PasswordFields() {
  std::vector<TFieldDescriptor> f = {
      TFieldDescriptor::Make("Item", kFldString, 0, 100),
      TFieldDescriptor::Make("User", kFldString, 0, 100),
      TFieldDescriptor::Make("PW", kFldString, 0, 100),
      TFieldDescriptor::Make("Details", kFldBlob, kSubMemo),
      TFieldDescriptor::Make("Web", kFldString, 0, 250),
      TFieldDescriptor::Make("Date", kFldDate),
  };
  return f;
}

TEST(FieldLayout, PasswordTableOffsetsAndRecordSize) {
  auto fields = PasswordFields();
  EXPECT_EQ(LayoutFields(fields), 581u);
  const uint16_t expected[] = {9, 111, 213, 315, 324, 576};
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].Offset(), expected[i]) << "field " << i + 1;
    EXPECT_EQ(fields[i].FieldNumber(), i + 1);
  }
  EXPECT_EQ(fields[0].StorageSize(), 101);
  EXPECT_EQ(fields[3].StorageSize(), 8);
  EXPECT_EQ(fields[4].StorageSize(), 251);
}

TEST(FieldLayout, NoFieldsAndAutoIncTakesNoRoom) {
  std::vector<TFieldDescriptor> none;
  EXPECT_EQ(LayoutFields(none), 9u);

  std::vector<TFieldDescriptor> f = {TFieldDescriptor::Make("A", kFldSmallInt),
                                     TFieldDescriptor::Make("Id", kFldInteger, kSubAutoInc),
                                     TFieldDescriptor::Make("B", kFldLargeInt)};
  EXPECT_EQ(LayoutFields(f), 9u + 3 + 9);
  EXPECT_EQ(f[0].Offset(), 9);
  EXPECT_EQ(f[1].Offset(), 5);
  EXPECT_EQ(f[2].Offset(), 12);
}

TEST(FieldLayout, StorageSizesPerType) {
  struct Case {
    uint8_t type, declared, storage;
  } cases[] = {{kFldString, 10, 11}, {kFldDate, 0, 4},      {kFldBlob, 0, 8},
               {kFldBoolean, 0, 2},  {kFldSmallInt, 0, 2},  {kFldInteger, 0, 4},
               {kFldFloat, 0, 8},    {kFldBcd, 0, 34},      {kFldBytes, 17, 17},
               {kFldTime, 0, 4},     {kFldDateTime, 0, 8},  {kFldWord, 0, 2},
               {kFldUInt32, 0, 4},   {kFldExtended, 0, 10}, {kFldVarBytes, 33, 33},
               {kFldLargeInt, 0, 8}, {kFldAdt, 40, 40},     {99, 7, 7}};
  for (const Case& c : cases) {
    EXPECT_EQ(StorageSizeFor(c.type, c.declared), c.storage) << "type " << int(c.type);
  }
}

TEST(FieldDescriptor, BytesAtTheirOffsets) {
  TFieldDescriptor d = TFieldDescriptor::Make("Amount", kFldBcd, 0, 0, 2);
  d.SetFieldNumber(0x0102);
  d.SetDescription("money");
  d.SetOffset(0x0304);
  d.SetRequired(true);
  d.SetCharCase(2);
  d.SetMinValue("1");
  d.SetMaxValue("99");
  d.SetDefaultValue("5");
  auto b = d.Bytes();
  EXPECT_EQ(b[0], 0x02);
  EXPECT_EQ(b[1], 0x01);
  EXPECT_EQ(b[2], 6);
  EXPECT_EQ(std::memcmp(&b[3], "Amount", 6), 0);
  EXPECT_EQ(b[33], 5);
  EXPECT_EQ(std::memcmp(&b[34], "money", 5), 0);
  EXPECT_EQ(b[84], kFldBcd);
  EXPECT_EQ(b[87], 2);
  EXPECT_EQ(b[88], 34);
  EXPECT_EQ(b[89], 2);
  EXPECT_EQ(b[90], 0x04);
  EXPECT_EQ(b[91], 0x03);
  EXPECT_EQ(b[92], 1);
  EXPECT_EQ(b[93], 2);
  EXPECT_EQ(b[94], 1);
  EXPECT_EQ(b[95], '1');
  EXPECT_EQ(b[145], 2);
  EXPECT_EQ(b[196], 1);
  EXPECT_EQ(b[197], '5');
  for (size_t i = 247; i < kFieldDescriptorSize; ++i) ASSERT_EQ(b[i], 0) << i;
}

TEST(FieldDescriptor, OversizedLengthBytesAreClamped) {
  TFieldDescriptor d;
  d.MutableBytes()[2] = 200;  // name length beyond its 30 characters
  d.MutableBytes()[94] = 255;
  EXPECT_EQ(d.Name().size(), 30u);
  EXPECT_EQ(d.MinValue().size(), 50u);
  EXPECT_TRUE(SameFieldName(" item ", "ITEM"));
  EXPECT_FALSE(SameFieldName("item", "items"));
}

class FieldCodec : public ::testing::Test {
 protected:
  void SetUp() override { image.assign(LayoutFields(fields), 0); }
  std::vector<TFieldDescriptor> fields = PasswordFields();
  std::vector<uint8_t> image;
};

TEST_F(FieldCodec, StringRules) {
  const TFieldDescriptor& item = fields[0];
  ASSERT_TRUE(PutString(item, image, "abc   "));
  EXPECT_EQ(image[9], 1);
  EXPECT_EQ(std::memcmp(&image[10], "abc\0", 4), 0);
  EXPECT_EQ(*GetString(item, image), "abc");

  // A longer value is cut at the declared size; the zero byte still fits.
  std::string long_text(130, 'x');
  ASSERT_TRUE(PutString(item, image, long_text));
  EXPECT_EQ(GetString(item, image)->size(), 100u);
  EXPECT_EQ(image[10 + 100], 0);
  EXPECT_EQ(image[111], 0) << "the next field's presence byte is untouched";

  for (const char* empty : {"", "    "}) {
    ASSERT_TRUE(PutString(item, image, "zz"));
    ASSERT_TRUE(PutString(item, image, empty));
    EXPECT_EQ(image[9], 0) << '"' << empty << '"';
    EXPECT_EQ(image[10], 0);
    EXPECT_EQ(image[11], 0);
    EXPECT_FALSE(GetString(item, image).has_value());
  }
}

TEST_F(FieldCodec, StringCaseAndCutBeforeTrim) {
  TFieldDescriptor upper = TFieldDescriptor::Make("U", kFldString, 0, 5);
  upper.SetCharCase(2);
  TFieldDescriptor lower = TFieldDescriptor::Make("L", kFldString, 0, 5);
  lower.SetCharCase(1);
  std::vector<TFieldDescriptor> f = {upper, lower};
  std::vector<uint8_t> img(LayoutFields(f), 0);
  ASSERT_TRUE(PutString(f[0], img, "ab\xe9   xyz"));  // cut at 5, then blanks go
  EXPECT_EQ(*GetString(f[0], img), "AB\xc9");
  ASSERT_TRUE(PutString(f[1], img, "MiXeD"));
  EXPECT_EQ(*GetString(f[1], img), "mixed");
  // The table's locale decides: Turkish has a dotted capital I and a dotless
  // small i (Windows-1254 0xDD and 0xFD), Polish a capital L with stroke
  // (Windows-1250 0xA3) that English casing leaves alone.
  const auto turkish = TTableLocale::ForLcid(0x041F);
  const auto polish = TTableLocale::ForLcid(0x0415);
  ASSERT_TRUE(turkish && polish);
  ASSERT_TRUE(PutString(f[0], img, "kilim", turkish.get()));
  EXPECT_EQ(*GetString(f[0], img), "K\xddL\xddM");
  ASSERT_TRUE(PutString(f[1], img, "IRMAK", turkish.get()));
  EXPECT_EQ(*GetString(f[1], img), "\xfdrmak");
  ASSERT_TRUE(PutString(f[0], img, "\xb3\xf3" "d\x9f", polish.get()));  // łódź
  EXPECT_EQ(*GetString(f[0], img), "\xa3\xd3" "D\x8f");
}

TEST_F(FieldCodec, BlobNullWhenBlockZeroAndRevisionKept) {
  const TFieldDescriptor& memo = fields[3];
  uint8_t block[4];
  le::PutI32(block, 7);
  ASSERT_TRUE(PutField(memo, image, block));
  ASSERT_TRUE(SetBlobRevision(memo, image, 42));
  EXPECT_EQ(image[315], 1);
  EXPECT_EQ(le::I32(&image[316]), 7);
  EXPECT_EQ(GetField(memo, image)->size(), 4u);
  EXPECT_EQ(*GetBlobRevision(memo, image), 42);

  le::PutI32(block, 0);
  ASSERT_TRUE(PutField(memo, image, block));
  EXPECT_EQ(image[315], 0);
  EXPECT_FALSE(GetField(memo, image).has_value());

  ASSERT_TRUE(PutBlobReference(memo, image, -3, true));
  EXPECT_EQ(image[315], 1);
  ASSERT_TRUE(PutFieldNull(memo, image));
  EXPECT_EQ(le::I32(&image[316]), 0);
  EXPECT_EQ(*GetBlobRevision(memo, image), 42) << "null clears only the block number";
}

TEST_F(FieldCodec, DateAndTimeEncodings) {
  EXPECT_EQ(*DateToDayNumber(2000, 1, 1), 730120);
  EXPECT_EQ(*DateToDayNumber(1899, 12, 30), kDayNumberOf18991230);
  EXPECT_EQ(*DateToDayNumber(1, 1, 1), 1);
  EXPECT_EQ(*TimeToMs(12, 0, 0, 0), 43200000);
  EXPECT_FALSE(DateToDayNumber(2001, 2, 29).has_value());
  EXPECT_TRUE(DateToDayNumber(2000, 2, 29).has_value());
  EXPECT_FALSE(DateToDayNumber(1900, 2, 29).has_value());
  for (int32_t day : {1, 59, 60, 365, 366, 693594, 730120, 730179, 3652059}) {
    int y, m, d;
    ASSERT_TRUE(DayNumberToDate(day, y, m, d));
    EXPECT_EQ(*DateToDayNumber(y, m, d), day);
  }

  const TFieldDescriptor& date = fields[5];
  uint8_t v[4];
  le::PutI32(v, 730120);
  ASSERT_TRUE(PutField(date, image, v));
  EXPECT_EQ(image[576], 1);
  EXPECT_EQ(le::I32(&image[577]), 730120);
  EXPECT_EQ(StoredDateTime(730120, 43200000), 730120.0 * 86400000 + 43200000);
}

TEST(FieldCodecTypes, ScalarTypesCopyTheirBytes) {
  std::vector<TFieldDescriptor> f = {TFieldDescriptor::Make("B", kFldBoolean),
                                     TFieldDescriptor::Make("S", kFldSmallInt),
                                     TFieldDescriptor::Make("I", kFldInteger),
                                     TFieldDescriptor::Make("F", kFldFloat),
                                     TFieldDescriptor::Make("L", kFldLargeInt),
                                     TFieldDescriptor::Make("X", kFldBytes, 0, 3),
                                     TFieldDescriptor::Make("A", kFldInteger, kSubAutoInc)};
  std::vector<uint8_t> img(LayoutFields(f), 0);
  uint8_t truth[2] = {0, 9};
  ASSERT_TRUE(PutField(f[0], img, truth));
  EXPECT_EQ(le::U16(&img[10]), 1) << "any non-zero input is true";
  uint8_t s[2];
  le::PutU16(s, uint16_t(-2));
  ASSERT_TRUE(PutField(f[1], img, s));
  EXPECT_EQ(le::I16(&img[13]), -2);
  uint8_t d[8];
  le::PutF64(d, -1.5);
  ASSERT_TRUE(PutField(f[3], img, d));
  EXPECT_EQ(le::F64(&img[f[3].Offset() + 1]), -1.5);
  uint8_t big[8];
  le::PutI64(big, -5000000000LL);
  ASSERT_TRUE(PutField(f[4], img, big));
  EXPECT_EQ(le::I64(&img[f[4].Offset() + 1]), -5000000000LL);
  uint8_t bytes[2] = {0xAA, 0xBB};  // shorter than the field: zero-padded
  ASSERT_TRUE(PutField(f[5], img, bytes));
  EXPECT_EQ(img[f[5].Offset() + 3], 0);
  EXPECT_EQ(img[f[5].Offset() + 2], 0xBB);

  uint8_t id[4];
  le::PutI32(id, 77);
  ASSERT_TRUE(PutField(f[6], img, id));
  EXPECT_EQ(le::I32(&img[5]), 77);
  ASSERT_TRUE(PutFieldNull(f[6], img));
  ASSERT_TRUE(GetField(f[6], img).has_value()) << "auto-increment is never null";
  EXPECT_EQ(le::I32(GetField(f[6], img)->data()), 77);

  ASSERT_TRUE(PutFieldNull(f[1], img));
  EXPECT_EQ(img[12], 0);
  EXPECT_EQ(le::U16(&img[13]), 0);
}

TEST(FieldCodecTypes, RemainingTypesStoreTheirBytesAfterThePresenceByte) {
  std::vector<TFieldDescriptor> f = {TFieldDescriptor::Make("T", kFldTime),
                                     TFieldDescriptor::Make("DT", kFldDateTime),
                                     TFieldDescriptor::Make("W", kFldWord),
                                     TFieldDescriptor::Make("U", kFldUInt32),
                                     TFieldDescriptor::Make("E", kFldExtended),
                                     TFieldDescriptor::Make("V", kFldVarBytes, 0, 6),
                                     TFieldDescriptor::Make("N", kFldBcd, 0, 0, 2),
                                     TFieldDescriptor::Make("M", kFldFloat, kSubMoney)};
  std::vector<uint8_t> img(LayoutFields(f), 0xCC);
  EXPECT_EQ(img.size(), 9u + 5 + 9 + 3 + 5 + 11 + 7 + 35 + 9);
  std::vector<std::vector<uint8_t>> values;
  for (const TFieldDescriptor& d : f) {
    std::vector<uint8_t> v(d.StorageSize());
    for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(d.FieldNumber() * 16 + i);
    ASSERT_TRUE(PutField(d, img, v));
    values.push_back(v);
  }
  for (size_t i = 0; i < f.size(); ++i) {
    EXPECT_EQ(img[f[i].Offset()], 1) << f[i].Name();
    auto got = GetField(f[i], img);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(std::equal(got->begin(), got->end(), values[i].begin(), values[i].end()))
        << f[i].Name();
  }
  uint8_t noon[4];
  le::PutI32(noon, *TimeToMs(12, 0, 0, 0));
  ASSERT_TRUE(PutField(f[0], img, noon));
  EXPECT_EQ(le::I32(&img[10]), 43200000);
  uint8_t stamp[8];
  le::PutF64(stamp, *ParseDateTimeLiteral("2000-01-01 12:00"));
  ASSERT_TRUE(PutField(f[1], img, stamp));
  EXPECT_EQ(le::F64(&img[15]), 730120.0 * 86400000 + 43200000);
}

TEST(FieldCodecTypes, FieldsOutsideTheImageAreRefused) {
  TFieldDescriptor d = TFieldDescriptor::Make("S", kFldString, 0, 50);
  d.SetOffset(40);
  std::vector<uint8_t> img(60, 0);
  EXPECT_FALSE(PutString(d, img, "x"));
  EXPECT_FALSE(PutFieldNull(d, img));
  EXPECT_FALSE(GetField(d, img).has_value());
  TFieldDescriptor computed = TFieldDescriptor::Make("C", kFldInteger);
  computed.SetComputed(true);
  computed.SetOffset(59);
  uint8_t v[4] = {1, 2, 3, 4};
  EXPECT_TRUE(PutField(computed, img, v)) << "computed columns are skipped unless forced";
  EXPECT_EQ(img[59], 0);
  EXPECT_FALSE(PutField(computed, img, v, nullptr, true));
}

TEST(FieldLiterals, PerType) {
  EXPECT_TRUE(IsValidFieldLiteral(kFldDate, ""));
  EXPECT_TRUE(IsValidFieldLiteral(kFldDate, "31/12/1999"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldDate, "1999-12-31"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldDate, "31/02/1999"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldTime, "23:59:59.999"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldTime, "24:00"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldDateTime, "2000-01-01 12:00"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldDateTime, "2000-01-01 noon"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldSmallInt, "-32768"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldSmallInt, "32768"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldWord, "-1"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldInteger, "12abc"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldFloat, "1.5e3"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldFloat, "1e999"));
  // Decimal and exponent notation only, read the same in every process
  // locale: no hexadecimal floats, no infinities.
  EXPECT_TRUE(IsValidFieldLiteral(kFldFloat, " +2.5E-3 "));
  EXPECT_FALSE(IsValidFieldLiteral(kFldFloat, "0x1p3"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldFloat, "0x10"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldFloat, "inf"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldFloat, "++1"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldFloat, "1,5"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldBcd, "-12.50"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldBcd, "1.2.3"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldBoolean, "TRUE"));
  EXPECT_FALSE(IsValidFieldLiteral(kFldBoolean, "maybe"));
  EXPECT_TRUE(IsValidFieldLiteral(kFldString, "anything at all"));
}

}  // namespace
}  // namespace cairn
