#include "bench/tables_bench_cairn.h"

#include <filesystem>
#include <random>
#include <stdexcept>

#include "tests/storage/access/pal_definition.h"
#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"

namespace bench {

namespace {

using namespace cairn;

// SQLite keeps a 2 MB page cache by default; the two indexes in use get 1 MB each.
constexpr uint32_t kIndexBufferSize = 1024 * 1024;

void Configure(TDataSession& session) { session.Settings().index_buffer_size = kIndexBufferSize; }

std::vector<uint8_t> Image(const TDataCursor& cursor, const Row& row) {
  std::vector<uint8_t> image = cursor.NewRecord();
  auto f = cursor.Fields();
  PutString(f[0], image, row.item);
  PutString(f[1], image, row.user);
  PutString(f[2], image, row.pw);
  PutString(f[4], image, row.web);
  uint8_t date[4];
  le::PutI32(date, row.date);
  PutField(f[5], image, date);
  return image;
}

TBlobValues Details(const Row& row) {
  return {{4, std::vector<uint8_t>(row.details.begin(), row.details.end())}};
}

void Fill(const BenchConfig& config, const std::string& name, uint32_t count, bool durable,
          bool one_transaction) {
  TDataSession session;
  Configure(session);
  session.Settings().force_buffer_flush = durable;
  TDataDirectory& directory = session.OpenDirectory(config.dir);
  if (directory.TableExists(name)) {
    for (const char* ext : {".DAT", ".IDX", ".BLB"})
      std::filesystem::remove(directory.FileName(name, ext));
  }
  directory.CreateTable(name, cairn::testing::PalTable(/*with_user_index=*/false));
  TDataCursor cursor;
  cursor.Open(directory, name);
  if (one_transaction) directory.StartTransaction();
  for (uint32_t i = 0; i < count; ++i) {
    const Row row = MakeRow(i);
    cursor.Append(Image(cursor, row), Details(row));
  }
  if (one_transaction) directory.Commit();
}

}  // namespace

double CairnInsertDurable(const BenchConfig& config) {
  Fill(config, "Durable", config.durable, true, false);
  return config.durable;
}

double CairnBulk(const BenchConfig& config) {
  Fill(config, "Bulk", config.records, false, true);
  return config.records;
}

double CairnBulkPerRow(const BenchConfig& config) {
  Fill(config, "PerRow", config.records, false, false);
  return config.records;
}

double CairnScan(const BenchConfig& config) {
  TDataSession session;
  Configure(session);
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(config.dir), "Bulk");
  std::vector<uint8_t> record;
  uint64_t rows = 0;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) ++rows;
  if (rows != config.records) throw std::runtime_error("cairn scan count");
  return double(rows);
}

double CairnRandomByNumber(const BenchConfig& config) {
  TDataSession session;
  Configure(session);
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(config.dir), "Bulk");
  std::mt19937 random(7);
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < config.random_number; ++i) {
    if (cursor.SetToRecordNumber(random() % config.records + 1) != CAIRN_NONE ||
        cursor.GetCurrent(record) != CAIRN_NONE)
      throw std::runtime_error("cairn seek");
  }
  return config.random_number;
}

double CairnUpdateDelete(const BenchConfig& config) {
  TDataSession session;
  Configure(session);
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(config.dir), "Bulk");
  std::mt19937 random(11);
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < config.random; ++i) {
    Row row = MakeRow(random() % config.records);
    if (cursor.FindKey(cursor.BuildKey(Image(cursor, row)), false) != CAIRN_NONE) continue;
    cursor.GetCurrent(record);
    cursor.GetCurrent(record, true);
    if (i % 2 == 0) {
      row.pw = "changed" + std::to_string(i);
      cursor.Modify(Image(cursor, row), true, Details(row));
    } else {
      cursor.Delete(record);
    }
  }
  return config.random;
}

double CairnOpen(const BenchConfig& config) {
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < config.opens; ++i) {
    TDataSession session;
    Configure(session);
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(config.dir), "Bulk");
    if (cursor.Next(record) != CAIRN_NONE) throw std::runtime_error("cairn open");
  }
  return config.opens;
}

}  // namespace bench
