// A program folder in a temporary directory holding a real Pal table made
// from the delivered schema, and records put there through the store itself.
#pragma once

#include <QDate>
#include <QString>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tarn::testing {

struct TRecordValues {
  QString item, user, pw, web;
  QDate date;  // null: no date
  QString details;
};

// The delivered schema, optionally with its secondary indexes left out.
nlohmann::json PalSchema(bool secondary_indexes = true);

// Creates <folder>/Data/Pal.* from `schema`.
void CreateTable(const QString& folder, const nlohmann::json& schema);

// Appends the records through a store of its own over <folder>/Data.
void AddRecords(const QString& program_path, const std::vector<TRecordValues>& records);

}  // namespace tarn::testing
