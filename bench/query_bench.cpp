// Query results against SQLite on the same password-shaped rows:
//   - re-ordering every record by an unindexed column (the engine builds a
//     sorted copy; SQLite sorts for ORDER BY), reading every row of the result;
//   - jumping to a record number (first, middle, last) in a live result in
//     key order (the engine descends its counted index; SQLite steps over
//     OFFSET rows of its primary-key index).
// Each workload runs in a forked child so its peak resident memory is its own.
// The re-order also reports the peak that building the sorted copy added to
// the open session, against the bound the sort's chunk capacity sets.
//
//   bench_query [--records N] [--jumps N] [--dir PATH] [--only reorder|jump]
// With --dir, tables already there (of the same size) are used as they are.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/storage/access/pal_definition.h"
#include "bench/tables_bench_rows.h"
#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/access/query_statement.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"

namespace {

namespace fs = std::filesystem;
using namespace cairn;
using bench::MakeRow;
using bench::Row;

struct Config {
  uint32_t records = 1000000;
  uint32_t jumps = 200;  // per position (SQLite steps over OFFSET rows)
  std::string dir;
  std::string only;
};

// SQLite keeps a 2 MB page cache by default; the engine's index cache gets the same.
constexpr uint32_t kIndexBufferSize = 2 * 1024 * 1024;

// Extra figures a workload hands back to the parent (resident KB).
struct Extra {
  double copy_peak_kb = 0;
  double bound_kb = 0;
};
Extra g_extra;

// A line of /proc/self/status, in KB (VmRSS, VmHWM).
long StatusKb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return 0;
}

// Starts a fresh resident high-water mark from the current size.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// ------------------------------------------------------------------ engine

void Configure(TDataSession& session, const Config& config) {
  session.Settings().index_buffer_size = kIndexBufferSize;
  session.Settings().private_directory = config.dir;
}

double CairnFill(const Config& config) {
  TDataSession session;
  Configure(session, config);
  TDataDirectory& directory = session.OpenDirectory(config.dir);
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) fs::remove(directory.FileName("Bulk", ext));
  directory.CreateTable("Bulk", cairn::testing::PalTable(/*with_user_index=*/false));
  TDataCursor cursor;
  cursor.Open(directory, "Bulk", {}, true);
  auto f = cursor.Fields();
  // The other engine loads in one transaction; batches keep ours within memory.
  constexpr uint32_t kBatch = 10000;
  for (uint32_t i = 0; i < config.records; ++i) {
    if (i % kBatch == 0) directory.StartTransaction();
    const Row row = MakeRow(i);
    std::vector<uint8_t> image = cursor.NewRecord();
    PutString(f[0], image, row.item);
    PutString(f[1], image, row.user);
    PutString(f[2], image, row.pw);
    PutString(f[4], image, row.web);
    uint8_t date[4];
    le::PutI32(date, row.date);
    PutField(f[5], image, date);
    cursor.Append(image, {{4, std::vector<uint8_t>(row.details.begin(), row.details.end())}});
    if (i % kBatch == kBatch - 1 || i + 1 == config.records) directory.Commit();
  }
  return config.records;
}

double CairnReorder(const Config& config) {
  TDataSession session;
  Configure(session, config);
  TQueryStatement query(session, session.OpenDirectory(config.dir));
  query.SetText("SELECT * FROM Bulk ORDER BY PW");
  ResetPeak();
  const long before_kb = StatusKb("VmRSS");
  query.Execute(true);
  g_extra.copy_peak_kb = double(StatusKb("VmHWM") - before_kb);
  if (query.IsLive()) throw std::runtime_error("cairn: an unindexed order gave a live result");
  {
    // A chunk being sorted (images, keys) and the output buffer, or the
    // merge's buffers (one chunk shared by the runs) and the output buffer.
    const TDataFile& data = query.Cursor().Table().Data();
    const double chunk = double(data.SortChunkCapacity()) * data.RecordSize();
    g_extra.bound_kb = 2 * chunk / 1024;
  }
  TDataCursor& cursor = query.Cursor();
  std::vector<uint8_t> record;
  uint32_t rows = 0;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) ++rows;
  if (rows != config.records) throw std::runtime_error("cairn: reordered row count");
  return rows;
}

double CairnJump(const Config& config, uint32_t recno) {
  TDataSession session;
  Configure(session, config);
  TQueryStatement query(session, session.OpenDirectory(config.dir));
  query.SetText("SELECT * FROM Bulk ORDER BY Item, Date");
  query.Execute(true);
  if (!query.IsLive()) throw std::runtime_error("cairn: key order gave a copied result");
  TDataCursor& cursor = query.Cursor();
  std::vector<uint8_t> record;
  for (uint32_t i = 0; i < config.jumps; ++i) {
    if (cursor.SetToRecordNumber(recno) != CAIRN_NONE || cursor.GetCurrent(record) != CAIRN_NONE)
      throw std::runtime_error("cairn: jump");
  }
  return config.jumps;
}

// ------------------------------------------------------------------ SQLite

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : "unknown";
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message);
  }
}

struct Sqlite {
  explicit Sqlite(const Config& config) {
    if (sqlite3_open((config.dir + "/bulk.sqlite").c_str(), &db) != SQLITE_OK)
      throw std::runtime_error("sqlite open");
    Exec(db, "PRAGMA synchronous=OFF");
    Exec(db, (std::string("PRAGMA temp_store_directory='") + config.dir + "'").c_str());
  }
  ~Sqlite() { sqlite3_close(db); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("sqlite prepare: ") + sqlite3_errmsg(db));
    return s;
  }
  sqlite3* db = nullptr;
};

double SqliteFill(const Config& config) {
  fs::remove(config.dir + "/bulk.sqlite");
  Sqlite s(config);
  Exec(s.db,
       "CREATE TABLE Pal(Item TEXT, User TEXT, PW TEXT, Details TEXT, Web TEXT, Date INTEGER,"
       " PRIMARY KEY(Item, Date))");
  Exec(s.db, "BEGIN");
  sqlite3_stmt* insert = s.Prepare("INSERT INTO Pal VALUES(?,?,?,?,?,?)");
  for (uint32_t i = 0; i < config.records; ++i) {
    const Row row = MakeRow(i);
    sqlite3_bind_text(insert, 1, row.item.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, row.user.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, row.pw.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, row.details.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 5, row.web.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 6, row.date);
    if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("sqlite insert");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(s.db, "COMMIT");
  return config.records;
}

double SqliteReorder(const Config& config) {
  Sqlite s(config);
  sqlite3_stmt* scan = s.Prepare("SELECT * FROM Pal ORDER BY PW");
  uint32_t rows = 0;
  while (sqlite3_step(scan) == SQLITE_ROW) ++rows;
  sqlite3_finalize(scan);
  if (rows != config.records) throw std::runtime_error("sqlite: reordered row count");
  return rows;
}

double SqliteJump(const Config& config, uint32_t recno) {
  Sqlite s(config);
  sqlite3_stmt* seek = s.Prepare("SELECT * FROM Pal ORDER BY Item, Date LIMIT 1 OFFSET ?");
  for (uint32_t i = 0; i < config.jumps; ++i) {
    sqlite3_bind_int64(seek, 1, int64_t(recno) - 1);
    if (sqlite3_step(seek) != SQLITE_ROW) throw std::runtime_error("sqlite: jump");
    sqlite3_reset(seek);
  }
  sqlite3_finalize(seek);
  return config.jumps;
}

// ----------------------------------------------------------------- harness

struct Measure {
  double per_second = 0;
  double seconds = 0;
  long peak_kb = 0;
  bool ok = false;
  Extra extra;
};

Measure RunInChild(const std::function<double()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    double result[5] = {0, 0, 0, 0, 0};
    try {
      const auto start = std::chrono::steady_clock::now();
      const double operations = work();
      const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
      result[0] = operations / std::max(seconds.count(), 1e-9);
      result[1] = seconds.count();
      result[2] = 1;
      result[3] = g_extra.copy_peak_kb;
      result[4] = g_extra.bound_kb;
    } catch (const std::exception& error) {
      std::fprintf(stderr, "  failed: %s\n", error.what());
    }
    if (write(fds[1], result, sizeof result) != sizeof result) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  double result[5] = {0, 0, 0, 0, 0};
  const ssize_t got = read(fds[0], result, sizeof result);
  close(fds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  return {result[0],
          result[1],
          usage.ru_maxrss,
          got == sizeof result && result[2] == 1,
          {result[3], result[4]}};
}

std::string Figure(const Measure& m) {
  if (!m.ok) return "failed";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", m.per_second);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Config config;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--records") config.records = std::stoul(argv[i + 1]);
    if (option == "--jumps") config.jumps = std::stoul(argv[i + 1]);
    if (option == "--dir") config.dir = argv[i + 1];
    if (option == "--only") config.only = argv[i + 1];
  }
  const bool own_dir = config.dir.empty();
  if (own_dir) {
    config.dir = (fs::temp_directory_path() / ("bench_query." + std::to_string(getpid()))).string();
  }
  fs::create_directories(config.dir);

  struct Workload {
    std::string name;
    std::function<double()> cairn, sqlite;
  };
  const std::string n = std::to_string(config.records);
  const uint32_t middle = config.records / 2 + 1;
  const std::vector<Workload> workloads = {
      {"fill " + n + " records (rows/s)", [&] { return CairnFill(config); },
       [&] { return SqliteFill(config); }},
      {"re-order " + n + " by unindexed PW, read all (rows/s)",
       [&] { return CairnReorder(config); }, [&] { return SqliteReorder(config); }},
      {"jump to record 1 (jumps/s)", [&] { return CairnJump(config, 1); },
       [&] { return SqliteJump(config, 1); }},
      {"jump to record " + std::to_string(middle) + " (jumps/s)",
       [&] { return CairnJump(config, middle); }, [&] { return SqliteJump(config, middle); }},
      {"jump to record " + n + " (jumps/s)", [&] { return CairnJump(config, config.records); },
       [&] { return SqliteJump(config, config.records); }},
  };
  std::printf("bench_query: %u records, %u jumps per position, in %s\n", config.records,
              config.jumps, config.dir.c_str());
  std::printf("%-48s %12s %12s %8s %11s %11s\n", "workload", "Cairn", "SQLite", "ratio", "Cairn KB",
              "SQLite KB");
  for (const Workload& w : workloads) {
    const bool fill = w.name.rfind("fill", 0) == 0;
    if (fill && !own_dir && fs::exists(config.dir + "/Bulk.DAT") &&
        fs::exists(config.dir + "/bulk.sqlite")) {
      continue;
    }
    if (!fill && !config.only.empty() && w.name.find(config.only) == std::string::npos) continue;
    const Measure cairn = RunInChild(w.cairn);
    const Measure sqlite = RunInChild(w.sqlite);
    char ratio[16] = "-";
    if (cairn.ok && sqlite.ok && sqlite.per_second > 0)
      std::snprintf(ratio, sizeof ratio, "%.2f", cairn.per_second / sqlite.per_second);
    std::printf("%-48s %12s %12s %8s %11ld %11ld\n", w.name.c_str(), Figure(cairn).c_str(),
                Figure(sqlite).c_str(), ratio, cairn.peak_kb, sqlite.peak_kb);
    if (cairn.ok && cairn.extra.bound_kb > 0) {
      // The peak covers the copy, the sort and opening the result (which
      // builds its index); the bound is the sort's alone.
      std::printf("  Cairn sorted copy: peak %.0f KB over the open session; sort bound %.0f KB\n",
                  cairn.extra.copy_peak_kb, cairn.extra.bound_kb);
    }
    std::fflush(stdout);
  }
  if (own_dir) fs::remove_all(config.dir);
  return 0;
}
