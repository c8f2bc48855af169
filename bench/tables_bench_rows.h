// Rows shaped like the password records, derived from their number so that
// both engines store the same data and a workload can rebuild any key.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

struct BenchConfig {
  uint32_t records = 1000000;    // bulk table size
  uint32_t durable = 300;        // inserts that each wait for the disk
  uint32_t random = 20000;       // random updates and deletes
  uint32_t random_number = 300;  // reads by record number (SQLite's OFFSET is a scan)
  uint32_t opens = 200;          // opens of the bulk table, each reading its first record
  std::string dir;
};

struct Row {
  std::string item, user, pw, details, web;
  int32_t date = 0;  // day number
};

inline Row MakeRow(uint32_t n) {
  // A multiplicative scramble spreads the keys so inserts do not arrive in order.
  const uint32_t key = n * 2654435761u;
  Row row;
  char item[48];
  std::snprintf(item, sizeof item, "item %08x %u", key, n);
  row.item = item;
  row.user = "user" + std::to_string(n % 977) + "@example.org";
  row.pw = "pw-" + std::to_string(key ^ 0x5a5a5a5au);
  row.details.assign(200, static_cast<char>('a' + n % 26));
  row.web = "https://www.example.org/accounts/" + std::to_string(n);
  row.date = 730120 + static_cast<int32_t>(n % 3650);
  return row;
}

}  // namespace bench
