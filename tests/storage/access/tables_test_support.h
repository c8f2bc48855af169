// Helpers for table tests: a scratch folder, the password-record table and
// record images built from plain values.
#pragma once

#include <cstdint>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/access/table_definition.h"

namespace cairn::testing {

// A fresh folder under the temporary directory, removed on destruction.
class TScratchDir {
 public:
  TScratchDir();
  ~TScratchDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Item string 100, User 100, PW 100, Details memo, Web 250, Date; primary
// index Item, Date; secondary "ByUser" (non-unique).
TTableDefinition PalDefinition(const std::string& password = {});

// A record image of the Pal table (Details goes through blobs).
std::vector<uint8_t> PalRecord(const TDataCursor& cursor, const std::string& item,
                               const std::string& user, int32_t day_number,
                               const std::string& pw = "pw");
std::string FieldText(const TDataCursor& cursor, const std::vector<uint8_t>& record,
                      const std::string& name);
uint16_t FieldNumber(const TDataCursor& cursor, const std::string& name);

// The engine code `work` fails with, or 0 when it succeeds.
uint16_t CodeOf(const std::function<void()>& work);

// Items of every record in the cursor's current order.
std::vector<std::string> Items(TDataCursor& cursor);

}  // namespace cairn::testing
