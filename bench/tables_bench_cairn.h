// The table engine's half of bench_tables. Each function returns the number
// of operations it performed (the harness times it).
#pragma once

#include "bench/tables_bench_rows.h"

namespace bench {

double CairnInsertDurable(const BenchConfig& config);
double CairnBulk(const BenchConfig& config);  // in one transaction
double CairnBulkPerRow(const BenchConfig& config);
double CairnScan(const BenchConfig& config);
double CairnRandomByNumber(const BenchConfig& config);
double CairnUpdateDelete(const BenchConfig& config);
double CairnOpen(const BenchConfig& config);

}  // namespace bench
