// The main window over a Pal table of 10,000 and of 1,000,000 records:
// program start (window creation, opening the table, first painted grid),
// scrolling the grid one page at a time at the top, middle and end, and the
// process's memory. Tables are built once in the bench folder and reused.
//
//   bench_repository [folder]   (default: /tmp/tarn-bench-repository)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/main_form.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/pwd_grid.h"
#include "app/pwd_grid_model.h"
#include "app/repository_store.h"
#include "platform/program_path.h"
#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/files/field_codec.h"
#include "tools/cairn/cairn_schema.h"

namespace {

class TEnteredPassword : public tarn::TStartupPasswordSeam {
 public:
  QString Read() override { return QStringLiteral("7"); }
  void Ask(QWidget*) override {}
  void Write(const QString&) override {}
};

// Writes `count` password-shaped records straight through the engine.
void BuildTable(const std::string& folder, int count) {
  std::filesystem::create_directories(folder + "/Data");
  std::ifstream file(TARN_PAL_SCHEMA);
  const auto schema = nlohmann::json::parse(file);
  cairn::TDataSession session;
  session.AddPassword(tarn::kTablePassword);
  cairn::TDataDirectory& directory = session.OpenDirectory(folder + "/Data");
  directory.CreateTable("Pal", cairn::tool::ParseSchema(schema));
  cairn::TDataCursor cursor;
  cursor.Open(directory, "Pal");
  const auto fields = cursor.Fields();
  std::vector<uint8_t> record = cursor.NewRecord();
  auto put = [&](int field, const std::string& text) { cairn::PutString(fields[field], record, text); };
  // Loaded in transactions: a commit per record would take most of the run.
  constexpr int kBatch = 10000;
  for (int i = 0; i < count; ++i) {
    if (i % kBatch == 0) directory.StartTransaction();
    char item[32], user[32], pw[48], web[48];
    std::snprintf(item, sizeof item, "Item %07d", (i * 7919) % count);
    std::snprintf(user, sizeof user, "user%06d", (i * 104729) % count);
    std::snprintf(pw, sizeof pw, "Pw-%08x-%08x", i * 2654435761u, i ^ 0x5bd1e995);
    std::snprintf(web, sizeof web, "https://site%d.example/login", i % 977);
    put(0, item);
    put(1, user);
    put(2, pw);
    put(4, web);
    cursor.Append(record);
    if (i % kBatch == kBatch - 1 || i + 1 == count) directory.Commit();
    if (i % 100000 == 99999) std::fprintf(stderr, "  %d records\n", i + 1);
  }
  cursor.FlushBuffers();
}

long StatusKb(const char* key) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key)) return line.mid(static_cast<int>(strlen(key))).trimmed().split(' ')[0].toLong();
  return -1;
}

void Run(const QString& folder, int count) {
  const std::string dir = folder.toStdString();
  if (!QFile::exists(folder + "/Data/Pal.DAT")) {
    std::fprintf(stderr, "building %d records in %s\n", count, dir.c_str());
    BuildTable(dir, count);
  }
  tarn::TScopedProgramPath program(folder + "/tarn");
  tarn::TScriptedMessageBoxes boxes;
  tarn::Globals() = tarn::TProcessValues{};

  QElapsedTimer timer;
  timer.start();
  tarn::TMainFormParts parts;
  parts.startup_password = std::make_unique<TEnteredPassword>();
  parts.repository = std::make_unique<tarn::TRepositoryStore>();
  auto form = std::make_unique<tarn::TMainForm>(std::move(parts));
  form->resize(1020, 760);
  form->show();
  tarn::TPwdGrid& grid = *form->PWgrid;
  const QImage first = grid.viewport()->grab().toImage();  // paints every visible row
  const double start_ms = timer.nsecsElapsed() / 1e6;
  if (!boxes.Shown().empty()) std::fprintf(stderr, "message: %s\n", boxes.Texts().join('|').toUtf8().constData());

  QScrollBar* bar = grid.verticalScrollBar();
  const int page = std::max(1, bar->pageStep());
  auto pages_at = [&](int from, int pages) {
    bar->setValue(from);
    grid.viewport()->grab();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < pages; ++i) {
      bar->setValue(std::min(bar->maximum(), from + (i + 1) * page));
      grid.viewport()->grab();
    }
    return t.nsecsElapsed() / 1e6 / pages;
  };
  const int pages = 50;
  const double top = pages_at(0, pages);
  const double middle = pages_at(bar->maximum() / 2, pages);
  const double end = pages_at(std::max(0, bar->maximum() - pages * page), pages);
  std::printf("%9d records | start to first grid %8.1f ms | page (%d rows) top %6.2f ms, middle %6.2f ms, end %6.2f ms | fetched %lld rows | RSS %ld KB, peak %ld KB\n",
              count, start_ms, page, top, middle, end,
              static_cast<long long>(grid.Model()->Fetches()), StatusKb("VmRSS:"), StatusKb("VmHWM:"));
  std::fflush(stdout);
  form.reset();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/tarn-bench-repository");
  for (int count : {10000, 1000000}) Run(base + QStringLiteral("/%1").arg(count), count);
  return 0;
}
