// Password derivation on a small key file and on a 4 GiB sparse one, side by
// side: the time per derivation and the bytes read from the file per
// derivation (from /proc/self/io) should not depend on the file's size.
//
// Usage: bench_derive [DERIVATIONS] [DIR]   (defaults: 20000, the temp folder)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "generator/derive.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

void Run(const char* label, const std::string& path, const char* number, int count) {
  const long long before = BytesRead();
  size_t total = 0;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i)
    total += tarn::DerivePassword(path, "Tarn", number).password.size();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const long long read = BytesRead() - before;
  std::printf("%-28s %10.2f us/derivation %8.1f bytes read/derivation %6zu chars\n", label,
              seconds * 1e6 / count, before < 0 ? -1.0 : static_cast<double>(read) / count,
              total / static_cast<size_t>(count));
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const fs::path small = dir / ("bench_derive_small_" + std::to_string(::getpid()));
  const fs::path huge = dir / ("bench_derive_huge_" + std::to_string(::getpid()));
  {
    std::ofstream(small, std::ios::binary) << std::string(100, 'k');
    std::ofstream(huge, std::ios::binary) << std::string(100, 'k');
  }
  fs::resize_file(huge, 4ll << 30);

  std::printf("bench_derive: %d derivations each\n", count);
  Run("100-byte file, offset 0", small.string(), "0", count);
  Run("4 GiB file, offset 0", huge.string(), "0", count);
  Run("4 GiB file, offset 2000000000", huge.string(), "2000000000", count);
  fs::remove(small);
  fs::remove(huge);
  return 0;
}
