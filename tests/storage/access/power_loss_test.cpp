// Power lost with writes not yet on disk: before every write call of each
// post and after each post returned, the files are taken as the disk would
// hold them (through the file layer's power-loss recorder), then opened as
// the next program would. With forced flushes every returned post (or
// transaction) survives, the one cut short is whole or absent, and the files
// check clean.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crash_posts.h"
#include "crash_test_support.h"
#include "storage/files/file_faults.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;
using testing::TContents;
using testing::TScratchDir;
using TPowerLoss = TFileFaults::TPowerLoss;

struct TScenario {
  TPowerLoss mode;
  uint32_t seed;
};

class PowerLossTest : public ::testing::TestWithParam<TScenario> {};

TEST_P(PowerLossTest, EveryReturnedPostSurvivesAndTheOneCutShortIsWholeOrAbsent) {
  const TScenario scenario = GetParam();
  SCOPED_TRACE("seed " + std::to_string(scenario.seed));
  TScratchDir live, pictures;
  constexpr int kPosts = 12;
  TDataSession session;
  session.Settings().force_buffer_flush = true;
  TDataDirectory& directory = session.OpenDirectory(live.path());
  directory.CreateTable("Pal", testing::PalDefinition());
  directory.CreateTable("Twin", testing::PalDefinition());
  TDataCursor cursor, twin_cursor;
  cursor.Open(directory, "Pal");
  twin_cursor.Open(directory, "Twin");
  testing::TPoster poster(cursor, scenario.seed);
  testing::TPoster twin_poster(twin_cursor, scenario.seed + 100);
  for (int i = 0; i < 4; ++i) {
    poster.Plan();
    poster.Post();
  }
  TContents before = testing::ReadContents(cursor);
  TContents twin_before;

  TFileFaults::TScope faults(live.path() + "/");
  TFileFaults& recorder = TFileFaults::Instance();
  recorder.RecordForPowerLoss();
  int pictures_taken = 0, played_back = 0, cut_short_kept = 0;
  for (int post = 0; post < kPosts; ++post) {
    // Every fourth post is a transaction of three, and of one post of the
    // second table.
    const int parts = post % 4 == 3 ? 3 : 1;
    std::string description = parts > 1 ? "T" : "";
    for (int i = 0; i < parts; ++i) description += (parts > 1 ? " ; " : "") + poster.Plan();
    const std::string twin_description = parts > 1 ? twin_poster.Plan() : "";
    SCOPED_TRACE("post " + std::to_string(post) + ": " + description.substr(0, 30));
    const std::string prefix = pictures.path() + "/in-" + std::to_string(post) + "-";
    recorder.PowerOffAtWriteCalls(prefix, scenario.mode, scenario.seed * 1000 + uint32_t(post));
    if (parts > 1) directory.StartTransaction();
    for (int i = 0; i < parts; ++i) poster.Post();
    if (parts > 1) twin_poster.Post();
    if (parts > 1) directory.Commit();
    recorder.StopPowerOffs();
    const std::string after = pictures.path() + "/after-" + std::to_string(post);
    recorder.PowerOff(after, scenario.mode, scenario.seed + uint32_t(post));

    TContents expected = before, twin_expected = twin_before;
    testing::Apply(expected, description);
    testing::Apply(twin_expected, twin_description);
    // The power went after the post returned.
    EXPECT_EQ(testing::OpenContents(after), expected) << "a returned post was lost";
    EXPECT_EQ(testing::OpenContents(after, "Twin"), twin_expected) << "a returned post was lost";
    // The power went inside the post.
    for (const auto& entry : fs::directory_iterator(pictures.path())) {
      const std::string name = entry.path().string();
      if (name.rfind(prefix, 0) != 0) continue;
      SCOPED_TRACE("power lost before write call " + name.substr(prefix.size()));
      ++pictures_taken;
      played_back += fs::exists(entry.path() / "Pal.JNL");
      const TContents found = testing::OpenContents(name);
      const TContents twin_found = testing::OpenContents(name, "Twin");
      EXPECT_FALSE(fs::exists(entry.path() / "Pal.JNL"));
      if (found == expected) {
        ++cut_short_kept;
        EXPECT_TRUE(twin_found == twin_expected) << "one table of a transaction kept";
      } else {
        EXPECT_TRUE(found == before) << "half a post\nfound    " << testing::Brief(found)
                                     << "\nbefore   " << testing::Brief(before);
        EXPECT_TRUE(twin_found == twin_before) << "one table of a transaction kept";
      }
      fs::remove_all(entry.path());
    }
    fs::remove_all(after);
    if (::testing::Test::HasFailure()) return;
    before = expected;
    twin_before = twin_expected;
  }
  EXPECT_GT(pictures_taken, kPosts * 4) << "every post makes several write calls";
  EXPECT_GT(played_back, kPosts) << "few pictures held a journal to play back";
  RecordProperty("pictures", pictures_taken);
  RecordProperty("played_back", played_back);
  RecordProperty("cut_short_kept", cut_short_kept);
}

INSTANTIATE_TEST_SUITE_P(
    Recorder, PowerLossTest,
    ::testing::Values(TScenario{TPowerLoss::kLoseUnflushed, 1}, TScenario{TPowerLoss::kKeepSome, 2},
                      TScenario{TPowerLoss::kKeepSome, 3}),
    [](const ::testing::TestParamInfo<TScenario>& info) {
      return std::string(info.param.mode == TPowerLoss::kLoseUnflushed ? "LoseUnflushed"
                                                                       : "KeepSome") +
             std::to_string(info.param.seed);
    });

}  // namespace
}  // namespace cairn
