#include "tables_test_support.h"

#include <unistd.h>

#include <atomic>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"
#include "pal_definition.h"

namespace cairn::testing {

TScratchDir::TScratchDir() {
  static std::atomic<int> counter{0};
  path_ = (std::filesystem::temp_directory_path() /
           ("tables_test." + std::to_string(getpid()) + "." + std::to_string(counter++)))
              .string();
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TScratchDir::~TScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TTableDefinition PalDefinition(const std::string& password) {
  TTableDefinition def = PalTable(/*with_user_index=*/true);
  def.password = password;
  def.description = "passwords";
  return def;
}

uint16_t FieldNumber(const TDataCursor& cursor, const std::string& name) {
  for (const TFieldDescriptor& f : cursor.Fields())
    if (SameFieldName(f.Name(), name)) return f.FieldNumber();
  return 0;
}

std::vector<uint8_t> PalRecord(const TDataCursor& cursor, const std::string& item,
                               const std::string& user, int32_t day_number, const std::string& pw) {
  std::vector<uint8_t> record = cursor.NewRecord();
  auto fields = cursor.Fields();
  PutString(fields[0], record, item);
  PutString(fields[1], record, user);
  PutString(fields[2], record, pw);
  uint8_t date[4];
  le::PutI32(date, day_number);
  PutField(fields[5], record, date);
  return record;
}

std::string FieldText(const TDataCursor& cursor, const std::vector<uint8_t>& record,
                      const std::string& name) {
  const TFieldDescriptor& field = cursor.Fields()[FieldNumber(cursor, name) - 1];
  return GetString(field, record).value_or("");
}

std::vector<std::string> Items(TDataCursor& cursor) {
  std::vector<std::string> items;
  std::vector<uint8_t> record;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) items.push_back(FieldText(cursor, record, "Item"));
  return items;
}

uint16_t CodeOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const ECairnEngineError& error) {
    return error.code();
  }
  return 0;
}

}  // namespace cairn::testing
