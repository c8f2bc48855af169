#include "repository_fixture.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/record_commands.h"
#include "app/repository_store.h"
#include "platform/program_path.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/access/dataset_query.h"
#include "tools/cairn/cairn_schema.h"

namespace tarn::testing {

nlohmann::json PalSchema(bool secondary_indexes) {
  std::ifstream file(TARN_PAL_SCHEMA);
  if (!file) throw std::runtime_error("cannot read " TARN_PAL_SCHEMA);
  nlohmann::json schema = nlohmann::json::parse(file);
  if (!secondary_indexes) {
    nlohmann::json& indexes = schema["indexes"];
    indexes.erase(indexes.begin() + 1, indexes.end());
  }
  return schema;
}

void CreateTable(const QString& folder, const nlohmann::json& schema) {
  const std::string data = (folder + "/Data").toStdString();
  std::filesystem::create_directories(data);
  cairn::TDataSession session;
  session.OpenDirectory(data).CreateTable("Pal", cairn::tool::ParseSchema(schema));
}

void AddRecords(const QString& program_path, const std::vector<TRecordValues>& records) {
  TScopedProgramPath program(program_path);
  TRepositoryStore store;
  store.Open(nullptr);
  if (!store.IsOpen()) throw std::runtime_error("the test table did not open");
  cairn::TCairnQuery& q = store.Pwd;
  for (const TRecordValues& r : records) {
    q.Append();
    SetFieldText(q, "Item", r.item);
    SetFieldText(q, "User", r.user);
    SetFieldText(q, "PW", r.pw);
    SetFieldText(q, "Web", r.web);
    if (!r.details.isEmpty()) SetFieldText(q, "Details", r.details);
    if (r.date.isValid())
      q.SetFieldAsDate("Date", cairn::TCairnDate{r.date.year(), r.date.month(), r.date.day()});
    q.Post();
  }
  store.FlushBuffers();
}

}  // namespace tarn::testing
