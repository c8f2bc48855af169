// Side-by-side figures for the table engine against SQLite on a table shaped
// like the password records. Every workload runs in a forked child so that
// its peak resident memory can be reported on its own.
//
//   bench_tables [--records N] [--durable N] [--random N] [--by-number N] [--opens N]
//                [--dir PATH] [--only TEXT]   (only the workloads whose name holds TEXT)
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/tables_bench_cairn.h"
#include "bench/tables_bench_rows.h"

namespace {

namespace fs = std::filesystem;
using bench::BenchConfig;
using bench::Row;

// ---------------------------------------------------------------- SQLite side

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown";
    sqlite3_free(error);
    throw std::runtime_error(std::string("sqlite: ") + message + " in " + sql);
  }
}

class SqliteTable {
 public:
  SqliteTable(const std::string& path, bool fresh, const char* synchronous) {
    if (fresh) fs::remove(path);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec(db_, "PRAGMA journal_mode=DELETE");
    Exec(db_, (std::string("PRAGMA synchronous=") + synchronous).c_str());
    Exec(db_,
         "CREATE TABLE IF NOT EXISTS Pal(Item TEXT, User TEXT, PW TEXT, Details TEXT, Web TEXT,"
         " Date INTEGER, PRIMARY KEY(Item, Date))");
  }
  ~SqliteTable() { sqlite3_close(db_); }
  sqlite3* db() { return db_; }

  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    return statement;
  }

  void Insert(sqlite3_stmt* statement, const Row& row) {
    sqlite3_bind_text(statement, 1, row.item.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 2, row.user.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 3, row.pw.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 4, row.details.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 5, row.web.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(statement, 6, row.date);
    if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(statement);
  }

 private:
  sqlite3* db_ = nullptr;
};

constexpr const char* kInsertSql = "INSERT INTO Pal VALUES(?,?,?,?,?,?)";

double SqliteInsertDurable(const BenchConfig& config) {
  SqliteTable table(config.dir + "/durable.sqlite", true, "FULL");
  sqlite3_stmt* insert = table.Prepare(kInsertSql);
  for (uint32_t i = 0; i < config.durable; ++i) table.Insert(insert, bench::MakeRow(i));
  sqlite3_finalize(insert);
  return config.durable;
}

double SqliteBulk(const BenchConfig& config, bool one_transaction, const std::string& name) {
  SqliteTable table(config.dir + "/" + name, true, "OFF");
  sqlite3_stmt* insert = table.Prepare(kInsertSql);
  if (one_transaction) Exec(table.db(), "BEGIN");
  for (uint32_t i = 0; i < config.records; ++i) table.Insert(insert, bench::MakeRow(i));
  if (one_transaction) Exec(table.db(), "COMMIT");
  sqlite3_finalize(insert);
  return config.records;
}

double SqliteScan(const BenchConfig& config) {
  SqliteTable table(config.dir + "/bulk.sqlite", false, "OFF");
  sqlite3_stmt* scan = table.Prepare("SELECT * FROM Pal ORDER BY Item, Date");
  uint64_t rows = 0, bytes = 0;
  while (sqlite3_step(scan) == SQLITE_ROW) {
    ++rows;
    bytes += sqlite3_column_bytes(scan, 0);
  }
  sqlite3_finalize(scan);
  if (rows != config.records) throw std::runtime_error("sqlite scan count");
  return static_cast<double>(rows) + static_cast<double>(bytes & 0);
}

double SqliteRandomByNumber(const BenchConfig& config) {
  SqliteTable table(config.dir + "/bulk.sqlite", false, "OFF");
  sqlite3_stmt* seek = table.Prepare("SELECT * FROM Pal ORDER BY Item, Date LIMIT 1 OFFSET ?");
  std::mt19937 random(7);
  for (uint32_t i = 0; i < config.random_number; ++i) {
    sqlite3_bind_int64(seek, 1, random() % config.records);
    if (sqlite3_step(seek) != SQLITE_ROW) throw std::runtime_error("sqlite seek");
    sqlite3_reset(seek);
  }
  sqlite3_finalize(seek);
  return config.random_number;
}

double SqliteUpdateDelete(const BenchConfig& config) {
  SqliteTable table(config.dir + "/bulk.sqlite", false, "OFF");
  sqlite3_stmt* update = table.Prepare("UPDATE Pal SET PW=?, Details=? WHERE Item=? AND Date=?");
  sqlite3_stmt* remove = table.Prepare("DELETE FROM Pal WHERE Item=? AND Date=?");
  std::mt19937 random(11);
  for (uint32_t i = 0; i < config.random; ++i) {
    const Row row = bench::MakeRow(random() % config.records);
    sqlite3_stmt* statement = (i % 2 == 0) ? update : remove;
    int n = 1;
    if (statement == update) {
      std::string pw = "changed" + std::to_string(i);
      sqlite3_bind_text(update, n++, pw.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(update, n++, row.details.c_str(), -1, SQLITE_STATIC);
    }
    sqlite3_bind_text(statement, n++, row.item.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(statement, n, row.date);
    if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error("sqlite change");
    sqlite3_reset(statement);
  }
  sqlite3_finalize(update);
  sqlite3_finalize(remove);
  return config.random;
}

double SqliteOpen(const BenchConfig& config) {
  // Opening alone is lazy in SQLite; both sides open and read the first record in key order.
  for (uint32_t i = 0; i < config.opens; ++i) {
    SqliteTable table(config.dir + "/bulk.sqlite", false, "OFF");
    sqlite3_stmt* first = table.Prepare("SELECT * FROM Pal ORDER BY Item, Date LIMIT 1");
    if (sqlite3_step(first) != SQLITE_ROW) throw std::runtime_error("sqlite first");
    sqlite3_finalize(first);
  }
  return config.opens;
}

// ---------------------------------------------------------------- harness

struct Measure {
  double per_second = 0;
  long peak_kb = 0;
  double cpu_seconds = 0;  // user and system: steadier than the rate on a busy machine
  bool ok = false;
};

// Runs `work` in a child process; it returns the number of operations done.
Measure RunInChild(const std::function<double()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    double result[2] = {0, 0};
    try {
      auto start = std::chrono::steady_clock::now();
      double operations = work();
      std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
      result[0] = operations / std::max(seconds.count(), 1e-9);
      result[1] = 1;
    } catch (const std::exception& error) {
      std::fprintf(stderr, "  failed: %s\n", error.what());
    }
    if (write(fds[1], result, sizeof result) != sizeof result) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  double result[2] = {0, 0};
  ssize_t got = read(fds[0], result, sizeof result);
  close(fds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  Measure measure;
  measure.ok = got == sizeof result && result[1] == 1;
  measure.per_second = result[0];
  measure.peak_kb = usage.ru_maxrss;
  measure.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return measure;
}

std::string Figure(const Measure& m) {
  if (!m.ok) return "failed";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", m.per_second);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  BenchConfig config;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--records")
      config.records = std::stoul(argv[i + 1]);
    else if (option == "--durable")
      config.durable = std::stoul(argv[i + 1]);
    else if (option == "--random")
      config.random = std::stoul(argv[i + 1]);
    else if (option == "--by-number")
      config.random_number = std::stoul(argv[i + 1]);
    else if (option == "--opens")
      config.opens = std::stoul(argv[i + 1]);
    else if (option == "--dir")
      config.dir = argv[i + 1];
    else if (option == "--only")
      only = argv[i + 1];
  }
  // A folder named on the command line stays, so that later runs with --only can reuse its tables.
  const bool own_dir = config.dir.empty();
  if (own_dir) {
    config.dir =
        (fs::temp_directory_path() / ("bench_tables." + std::to_string(getpid()))).string();
  }
  fs::create_directories(config.dir);

  struct Workload {
    std::string name;
    std::function<double()> cairn;
    std::function<double()> sqlite;
  };
  const std::string n = std::to_string(config.records);
  std::vector<Workload> workloads = {
      {"insert, durable each (" + std::to_string(config.durable) + ")",
       [&] { return bench::CairnInsertDurable(config); },
       [&] { return SqliteInsertDurable(config); }},
      {"bulk insert " + n + ", one transaction", [&] { return bench::CairnBulk(config); },
       [&] { return SqliteBulk(config, true, "bulk.sqlite"); }},
      {"bulk insert " + n + ", commit per row, sync off",
       [&] { return bench::CairnBulkPerRow(config); },
       [&] { return SqliteBulk(config, false, "perrow.sqlite"); }},
      {"full scan in index order", [&] { return bench::CairnScan(config); },
       [&] { return SqliteScan(config); }},
      {"random access by record number (" + std::to_string(config.random_number) + ")",
       [&] { return bench::CairnRandomByNumber(config); },
       [&] { return SqliteRandomByNumber(config); }},
      {"random updates and deletes (" + std::to_string(config.random) + ")",
       [&] { return bench::CairnUpdateDelete(config); },
       [&] { return SqliteUpdateDelete(config); }},
      {"open a table of " + n + " records (" + std::to_string(config.opens) + ")", [&] { return bench::CairnOpen(config); },
       [&] { return SqliteOpen(config); }},
  };

  std::printf(
      "Cairn: index buffer 1 MB for each of its two indexes (inside a transaction new keys "
      "wait in up to 2 MB an index and go in sorted); SQLite: its default 2 MB page cache\n");
  std::printf("%-48s %14s %14s %8s %12s %12s %9s %9s\n", "workload", "Cairn/s", "SQLite/s", "ratio",
              "Cairn peakKB", "SQLite peakKB", "Cairn cpu", "SQLite cpu");
  for (const auto& workload : workloads) {
    if (workload.name.find(only) == std::string::npos) continue;
    Measure cairn = RunInChild(workload.cairn);
    Measure sqlite = RunInChild(workload.sqlite);
    char ratio[32] = "-";
    if (cairn.ok && sqlite.ok && sqlite.per_second > 0)
      std::snprintf(ratio, sizeof ratio, "%.2f", cairn.per_second / sqlite.per_second);
    std::printf("%-48s %14s %14s %8s %12ld %12ld %8.2fs %8.2fs\n", workload.name.c_str(),
                Figure(cairn).c_str(), Figure(sqlite).c_str(), ratio, cairn.peak_kb, sqlite.peak_kb,
                cairn.cpu_seconds, sqlite.cpu_seconds);
    std::fflush(stdout);
  }
  if (own_dir) fs::remove_all(config.dir);
  return 0;
}
