#include <gtest/gtest.h>

#include <string>

#include "storage/files/data_endian.h"
#include "tools/cairn/cairn_schema.h"
#include "tools/cairn/cairn_values.h"

namespace cairn::tool {
namespace {

using nlohmann::json;

json PalSchema() {
  return json::parse(R"({
    "fields":[{"name":"Item","type":"string","size":100},{"name":"User","type":"string","size":100},
              {"name":"PW","type":"string","size":100},{"name":"Details","type":"memo"},
              {"name":"Web","type":"string","size":250},{"name":"Date","type":"date"}],
    "indexes":[{"name":"ByUser","fields":["User"],"compression":"full"},
               {"name":"","primary":true,"fields":["Item","Date"]}],
    "description":"passwords","password":"Key"})");
}

std::string SchemaError(const std::string& text) {
  try {
    ParseSchema(json::parse(text));
  } catch (const TToolError& error) {
    return error.what();
  }
  return "";
}

TEST(CairnSchemaTest, PasswordTableLaysOutLikeTheProgramsTable) {
  TTableDefinition def = ParseSchema(PalSchema());
  ASSERT_EQ(def.fields.size(), 6u);
  const uint16_t offsets[] = {9, 111, 213, 315, 324, 576};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(def.fields[i].Offset(), offsets[i]) << i;
  EXPECT_EQ(def.fields[3].Type(), kFldBlob);
  EXPECT_EQ(def.fields[3].Subtype(), kSubMemo);
  ASSERT_EQ(def.indexes.size(), 2u);
  EXPECT_TRUE(def.indexes[0].primary);  // the primary index goes first whatever its position
  EXPECT_TRUE(def.indexes[0].unique);
  EXPECT_EQ(def.indexes[0].fields, (std::vector<std::string>{"Item", "Date"}));
  EXPECT_EQ(def.indexes[1].compression, 3);
  EXPECT_EQ(def.password, "Key");
  EXPECT_EQ(def.blob_block_size, 512);
}

TEST(CairnSchemaTest, BadSchemasNameTheProblem) {
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"A","type":"strng","size":3}]})")
                .find("unknown type \"strng\""),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"A","type":"string"}]})").find("\"size\" is missing"),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"A","type":"string","size":251}]})")
                .find("between 1 and 250"),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"A","type":"date"},{"name":"a","type":"date"}]})")
                .find("used twice"),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"1A","type":"date"}]})").find("field 1"),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"A","type":"date"}],
                           "indexes":[{"name":"X","fields":["B"]}]})")
                .find("unknown field \"B\""),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"M","type":"memo"}],
                           "indexes":[{"primary":true,"fields":["M"]}]})")
                .find("blob"),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[],"colour":1})").find("unknown key \"colour\""),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"A","type":"date"}],
                           "indexes":[{"name":"X","fields":["A"],"compression":"zip"}]})")
                .find("compression"),
            std::string::npos);
  EXPECT_NE(SchemaError(R"({"fields":[{"name":"A","type":"date"}],"blobBlockSize":32})")
                .find("blobBlockSize"),
            std::string::npos);
}

TEST(CairnValuesTest, DatesTimesAndDateTimesUseTheStoredDayNumbers) {
  TTableDefinition def = ParseSchema(json::parse(R"({"fields":[
      {"name":"D","type":"date"},{"name":"T","type":"time"},{"name":"DT","type":"datetime"}]})"));
  TFieldValue d = ParseFieldValue(def.fields[0], "2000-01-01");
  EXPECT_EQ(le::I32(d.bytes.data()), 730120);
  EXPECT_EQ(le::I32(ParseFieldValue(def.fields[0], "1899-12-30").bytes.data()), 693594);
  EXPECT_EQ(le::I32(ParseFieldValue(def.fields[0], "0001-01-01").bytes.data()), 1);
  EXPECT_EQ(le::I32(ParseFieldValue(def.fields[1], "12:00:00.000").bytes.data()), 43200000);
  TFieldValue dt = ParseFieldValue(def.fields[2], "2000-01-01T12:00:00.000");
  EXPECT_EQ(le::F64(dt.bytes.data()), 730120.0 * 86400000 + 43200000);
  for (size_t i = 0; i < 3; ++i) {
    const json back =
        FormatFieldValue(def.fields[i], i == 0   ? d
                                        : i == 1 ? ParseFieldValue(def.fields[1], "23:59:59.999")
                                                 : dt);
    EXPECT_EQ(back, i == 0   ? json("2000-01-01")
                    : i == 1 ? json("23:59:59.999")
                             : json("2000-01-01T12:00:00.000"));
  }
  for (const char* bad : {"2001-02-29", "2000-13-01", "2000-00-10", "0000-01-01", "01/02/2000"})
    EXPECT_THROW(ParseFieldValue(def.fields[0], bad), TToolError) << bad;
  EXPECT_THROW(ParseFieldValue(def.fields[1], "24:00:00.000"), TToolError);
  EXPECT_THROW(ParseFieldValue(def.fields[0], 730120), TToolError);
}

TEST(CairnValuesTest, NumbersAreRangeCheckedAndRoundTrip) {
  TTableDefinition def = ParseSchema(json::parse(R"({"fields":[
      {"name":"S","type":"smallint"},{"name":"W","type":"word"},{"name":"I","type":"integer"},
      {"name":"L","type":"largeint"},{"name":"F","type":"float"},{"name":"B","type":"boolean"},
      {"name":"N","type":"bcd","scale":2},{"name":"A","type":"autoinc"}]})"));
  const auto& f = def.fields;
  EXPECT_EQ(FormatFieldValue(f[0], ParseFieldValue(f[0], -32768)), -32768);
  EXPECT_THROW(ParseFieldValue(f[0], 32768), TToolError);
  EXPECT_THROW(ParseFieldValue(f[1], -1), TToolError);
  EXPECT_THROW(ParseFieldValue(f[2], 1.5), TToolError);
  EXPECT_THROW(ParseFieldValue(f[2], "7"), TToolError);
  EXPECT_EQ(FormatFieldValue(f[3], ParseFieldValue(f[3], "-9223372036854775808")), json(INT64_MIN));
  EXPECT_EQ(FormatFieldValue(f[4], ParseFieldValue(f[4], -0.25)), -0.25);
  EXPECT_THROW(ParseFieldValue(f[5], 1), TToolError);
  EXPECT_EQ(FormatFieldValue(f[5], ParseFieldValue(f[5], true)), true);

  TFieldValue n = ParseFieldValue(f[6], "-12.5");
  ASSERT_EQ(n.bytes.size(), 34u);
  EXPECT_EQ(n.bytes[0], 4);     // digits 1250
  EXPECT_EQ(n.bytes[1], 0x82);  // negative, two places
  EXPECT_EQ(n.bytes[2], 0x12);
  EXPECT_EQ(n.bytes[3], 0x50);
  EXPECT_EQ(FormatFieldValue(f[6], n), "-12.50");
  EXPECT_EQ(FormatFieldValue(f[6], ParseFieldValue(f[6], "0.070")), "0.07");
  EXPECT_THROW(ParseFieldValue(f[6], "1.234"), TToolError);  // would lose a digit
  EXPECT_THROW(ParseFieldValue(f[6], "1e5"), TToolError);
  EXPECT_THROW(ParseFieldValue(f[7], 5), TToolError);  // filled in by the table
  EXPECT_TRUE(ParseFieldValue(f[7], nullptr).is_null);
}

TEST(CairnValuesTest, TextAndBytesMustFitAndBase64MustBeValid) {
  TTableDefinition def = ParseSchema(json::parse(R"({"fields":[
      {"name":"S","type":"string","size":3},{"name":"Y","type":"bytes","size":4},
      {"name":"V","type":"varbytes","size":5},{"name":"G","type":"graphic"},
      {"name":"M","type":"memo"}]})"));
  const auto& f = def.fields;
  EXPECT_EQ(FormatFieldValue(f[0], ParseFieldValue(f[0], "abc")), "abc");
  EXPECT_THROW(ParseFieldValue(f[0], "abcd"), TToolError);
  EXPECT_THROW(ParseFieldValue(f[0], 12), TToolError);
  EXPECT_EQ(FormatFieldValue(f[1], ParseFieldValue(f[1], "AQI=")), "AQIAAA==");  // zero-padded
  EXPECT_THROW(ParseFieldValue(f[1], "AQIDBAU="), TToolError);                   // 5 bytes
  EXPECT_EQ(FormatFieldValue(f[2], ParseFieldValue(f[2], "AQID")), "AQID");
  EXPECT_THROW(ParseFieldValue(f[2], "AQIDBA=="), TToolError);
  EXPECT_THROW(ParseFieldValue(f[3], "not base64!"), TToolError);
  EXPECT_TRUE(ParseFieldValue(f[4], "").is_null);  // an empty memo is null
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> back;
  ASSERT_TRUE(Base64Decode(Base64Encode(all), back));
  EXPECT_EQ(back, all);
  EXPECT_FALSE(Base64Decode("QQ=A", back));
}

}  // namespace
}  // namespace cairn::tool
