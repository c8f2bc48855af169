// The data file on disk: exact header and descriptor bytes, the deleted-slot
// chain, limits, encryption, change detection and damaged files.
#include "storage/files/data_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/scramble.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;

std::vector<TFieldDescriptor> PasswordFields() {
  return {TFieldDescriptor::Make("Item", kFldString, 0, 100),
          TFieldDescriptor::Make("User", kFldString, 0, 100),
          TFieldDescriptor::Make("PW", kFldString, 0, 100),
          TFieldDescriptor::Make("Details", kFldBlob, kSubMemo),
          TFieldDescriptor::Make("Web", kFldString, 0, 250),
          TFieldDescriptor::Make("Date", kFldDate)};
}

uint16_t CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ECairnEngineError& e) {
    return e.code();
  }
  return 0;
}

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "cairn-data-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "T.DAT").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Create(TDataCreateParams params) {
    TDataFile file("T");
    file.set_file_name(path_);
    file.CreateHeader(params);
    file.Close();
  }
  TDataCreateParams Password(bool encrypted = false) {
    TDataCreateParams p;
    p.fields = PasswordFields();
    p.description = "Passwords";
    p.encrypted = encrypted;
    if (encrypted) p.password = "Secret";
    return p;
  }
  std::vector<uint8_t> Bytes() {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void SetBytes(const std::vector<uint8_t>& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  void Open(TDataFile& file) {
    file.set_file_name(path_);
    file.Open();
  }
  // Appends `n` records whose Item holds "rN" and flushes.
  void Append(TDataFile& file, int n, bool primary_key) {
    for (int i = 0; i < n; ++i) {
      TRecord* r = file.AllocateSlot(primary_key);
      ASSERT_NE(r, nullptr);
      file.PutString(1, *r, "r" + std::to_string(r->Slot()));
      file.ReleaseRecord(r);
    }
    file.FlushBuffers();
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(DataFileTest, NewTableHeaderAndDescriptorBytes) {
  Create(Password());
  std::vector<uint8_t> b = Bytes();
  ASSERT_EQ(b.size(), 127u + 768 * 6);
  EXPECT_EQ(le::I32(&b[0]), 0) << "a new table's change counter";
  EXPECT_EQ(le::U32(&b[4]), 0u);
  EXPECT_EQ(b[8], 5);
  EXPECT_EQ(le::U32(&b[9]), 0u);
  EXPECT_EQ(le::U32(&b[13]), 1u);
  EXPECT_EQ(le::I32(&b[17]), 0);
  EXPECT_EQ(le::U16(&b[21]), 581);
  EXPECT_EQ(le::U16(&b[23]), 6);
  EXPECT_EQ(le::U16(&b[25]), 1);
  EXPECT_EQ(b[35], 9);
  EXPECT_EQ(std::memcmp(&b[36], "Passwords", 9), 0);
  EXPECT_EQ(b[86], 0);
  EXPECT_EQ(b[87], 0) << "no password when not encrypted";
  EXPECT_EQ(le::U16(&b[107]), 1);
  EXPECT_EQ(le::U16(&b[109]), 0);
  EXPECT_EQ(le::U32(&b[116]), 33000u);
  for (int i = 120; i < 127; ++i) EXPECT_EQ(b[i], 0) << i;
  const uint16_t offsets[] = {9, 111, 213, 315, 324, 576};
  for (int i = 0; i < 6; ++i) {
    const uint8_t* d = &b[127 + 768 * i];
    EXPECT_EQ(le::U16(d), i + 1);
    EXPECT_EQ(le::U16(d + 90), offsets[i]);
  }
  EXPECT_EQ(b[127 + 768 * 3 + 84], kFldBlob);
  EXPECT_EQ(b[127 + 768 * 3 + 85], kSubMemo);
  EXPECT_EQ(b[127 + 768 * 4 + 86], 250);

  TDataFile file("T");
  Open(file);
  EXPECT_NO_THROW(file.Check());
  EXPECT_EQ(file.RecordSize(), 581);
  EXPECT_EQ(file.BlobBlockSize(), 512) << "0 stands for the default block size";
  EXPECT_EQ(file.Description(), "Passwords");
  EXPECT_EQ(file.Password(), "");
  EXPECT_EQ(file.FieldByName("web").FieldNumber(), 5);
  EXPECT_EQ(file.FieldByName("nope").FieldNumber(), 0);
  EXPECT_EQ(file.Cache().Capacity(), 16384u / 581);
}

TEST_F(DataFileTest, TableWithoutFieldsHasNineByteSlotsAt127) {
  TDataCreateParams p;
  Create(p);
  TDataFile file("T");
  Open(file);
  file.Check();
  EXPECT_EQ(file.RecordSize(), 9);
  EXPECT_EQ(file.SlotOffset(1), 127u);
  TRecord* r = file.AllocateSlot(false);
  file.ReleaseRecord(r);
  file.FlushBuffers();
  std::vector<uint8_t> b = Bytes();
  ASSERT_EQ(b.size(), 127u + 9);
  EXPECT_EQ(b[127], 0);
  EXPECT_EQ(le::U32(&b[128]), 1u);
  EXPECT_EQ(le::I32(&b[132]), 1) << "record ID from the auto-increment counter";
  EXPECT_EQ(le::I32(&b[0]), 1) << "the header write counted";
}

TEST_F(DataFileTest, DeletedChainIsReusedOnlyWithAPrimaryKey) {
  Create(Password());
  TDataFile file("T");
  Open(file);
  file.Check();
  Append(file, 5, true);
  for (uint32_t s : {3u, 5u}) {
    TPinnedRecord r(file, file.ReadSlot(s));
    file.DeleteSlot(*r.get(), true);
  }
  EXPECT_EQ(file.FirstDeleted(), 5u);
  file.FlushBuffers();
  std::vector<uint8_t> b = Bytes();
  auto slot = [&](uint32_t n) { return &b[file.SlotOffset(n)]; };
  EXPECT_EQ(slot(5)[0], 1);
  EXPECT_EQ(le::U32(slot(5) + 1), 3u);
  EXPECT_EQ(le::U32(slot(3) + 1), 0u);
  EXPECT_EQ(le::U32(&b[9]), 5u);

  // Reuse 5, then 3 (which gets the next record ID, 6), then append.
  const uint32_t expect_slot[] = {5, 3, 6};
  const int32_t expect_id[] = {6, 7, 8};
  for (int i = 0; i < 3; ++i) {
    TPinnedRecord r(file, file.AllocateSlot(true));
    EXPECT_EQ(r->Slot(), expect_slot[i]);
    EXPECT_EQ(r->RecordId(), expect_id[i]);
    EXPECT_FALSE(r->IsDeleted());
    EXPECT_EQ(r->ImageSlotNumber(), expect_slot[i]);
  }
  EXPECT_EQ(file.FirstDeleted(), 0u);
  EXPECT_EQ(file.RecordCount(), 6u);

  // Without a primary key a deleted slot stays deleted and inserts append.
  {
    TPinnedRecord r(file, file.ReadSlot(2));
    file.DeleteSlot(*r.get(), false);
  }
  EXPECT_EQ(file.FirstDeleted(), 2u);
  TPinnedRecord r(file, file.AllocateSlot(false));
  EXPECT_EQ(r->Slot(), 7u);
  EXPECT_EQ(file.FirstDeleted(), 0u);
  EXPECT_EQ(file.Cache().Find(2)->Link(), 0u);
}

TEST_F(DataFileTest, OwnRecordIdRaisesTheCounterAndChainToALiveSlotIsRefused) {
  Create(Password());
  TDataFile file("T");
  Open(file);
  Append(file, 2, true);
  {
    TPinnedRecord r(file, file.AllocateSlot(true, 40));
    EXPECT_EQ(r->RecordId(), 40);
  }
  EXPECT_EQ(file.LastAutoIncValue(), 40);
  { TPinnedRecord r(file, file.AllocateSlot(true, 7)); }
  EXPECT_EQ(file.LastAutoIncValue(), 40);
  file.FlushBuffers();
  file.Close();

  // Point the chain head at live slot 1: reuse must not overwrite it.
  std::vector<uint8_t> b = Bytes();
  le::PutU32(&b[9], 1);
  SetBytes(b);
  Open(file);
  file.Check();
  EXPECT_EQ(CodeOf([&] { file.AllocateSlot(true); }), CAIRN_FILECORRUPT);
  EXPECT_EQ(file.GetString(1, *file.GetRecord(1, false)), "r1");
}

TEST_F(DataFileTest, SlotLimits) {
  TDataCreateParams p;
  Create(p);
  std::vector<uint8_t> b = Bytes();
  le::PutU32(&b[13], 200000000);  // slots 1 .. 199999999 exist
  SetBytes(b);
  TDataFile file("T");
  Open(file);
  TRecord* r = file.AllocateSlot(false);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Slot(), 200000000u);
  file.ReleaseRecord(r);
  EXPECT_EQ(CodeOf([&] { file.AllocateSlot(false); }), CAIRN_TABLEFULL);
  file.DiscardRecords();
  file.Close();

  // With 261-byte records the 4000000000-byte limit comes first.
  p.fields = {TFieldDescriptor::Make("S", kFldString, 0, 250)};
  Create(p);
  b = Bytes();
  const uint64_t base = 127 + 768;
  const uint32_t last_fitting = uint32_t((4000000000ULL - base) / 261);
  le::PutU32(&b[13], last_fitting);
  SetBytes(b);
  Open(file);
  r = file.AllocateSlot(false);
  EXPECT_EQ(r->Slot(), last_fitting);
  file.ReleaseRecord(r);
  EXPECT_EQ(CodeOf([&] { file.AllocateSlot(false); }), CAIRN_TABLEFULL);
  file.DiscardRecords();
}

TEST_F(DataFileTest, CountersWrapToOne) {
  Create(Password());
  TDataFile file("T");
  Open(file);
  file.AlterTableProperties("", "d", 1, 0, 2147483646);
  EXPECT_EQ(file.NextAutoIncValue(), 2147483647);
  EXPECT_EQ(file.NextAutoIncValue(), 1);
  EXPECT_EQ(file.NextBlobRevision(), 1);
  file.FlushBuffers();
  file.Close();
  std::vector<uint8_t> b = Bytes();
  le::PutI32(&b[112], 2147483647);
  SetBytes(b);
  Open(file);
  EXPECT_EQ(file.NextBlobRevision(), 1);
}

TEST_F(DataFileTest, EncryptedTableScramblesStringsDescriptorsAndEachSlot) {
  Create(Password(true));
  std::vector<uint8_t> b = Bytes();
  EXPECT_EQ(b[86], 1);
  EXPECT_EQ(b[35], 9) << "length bytes stay readable";
  EXPECT_EQ(b[87], 6);
  std::vector<uint8_t> desc(&b[36], &b[36 + 9]);
  Scramble(desc, kHeaderStringSeed);
  EXPECT_EQ(std::string(desc.begin(), desc.end()), "Passwords");
  EXPECT_EQ(b[127], 1 ^ 0x3D ^ 0xA6) << "descriptor area scrambled as one run";
  EXPECT_EQ(b[127 + 768], uint8_t(2 ^ ((0x3D + 768) & 0xFF) ^ ((0xA6 - 768) & 0xFF)));

  TDataFile file("T");
  Open(file);
  file.Check();
  EXPECT_EQ(file.Password(), "Secret");
  EXPECT_EQ(file.Description(), "Passwords");
  file.AlterTableProperties("Other", "New text", 2, 3, 0);
  EXPECT_EQ(file.Password(), "Other");
  Append(file, 2, true);
  file.Close();

  b = Bytes();
  EXPECT_EQ(b[87], 5);
  EXPECT_EQ(b[35], 8);
  // The two slots went out in one write, yet each starts from the seed.
  for (uint32_t s : {1u, 2u}) {
    std::vector<uint8_t> slot(&b[127 + 768 * 6 + 581 * (s - 1)], &b[127 + 768 * 6 + 581 * s]);
    EXPECT_EQ(slot[0], 0x3D ^ 0xA6);
    Scramble(slot, kBufferSeed);
    EXPECT_EQ(le::U32(&slot[1]), s);
    EXPECT_EQ(slot[9], 1);
    EXPECT_EQ(slot[10], 'r');
  }
  Open(file);
  file.Check();
  EXPECT_EQ(file.GetString(1, *file.GetRecord(2, false)), "r2");
  EXPECT_EQ(file.UserMajorVersion(), 2);
}

TEST_F(DataFileTest, AnotherWritersChangeIsNoticedThroughTheCounter) {
  Create(Password());
  TDataFile writer("T");
  Open(writer);
  Append(writer, 3, true);
  TDataFile reader("T");
  Open(reader);
  reader.Check();
  EXPECT_FALSE(reader.HeaderChangedOnDisk());
  EXPECT_EQ(reader.GetString(1, *reader.GetRecord(2, false)), "r2");

  {
    TPinnedRecord r(writer, writer.ReadSlot(2));
    writer.PutString(1, *r.get(), "changed");
  }
  writer.FlushBuffers();  // records only: the header is unchanged
  EXPECT_FALSE(reader.HeaderChangedOnDisk());
  EXPECT_EQ(reader.GetString(1, *reader.GetRecord(2, false)), "r2") << "still the cached copy";
  writer.MarkHeaderModified();
  writer.FlushBuffers();
  ASSERT_TRUE(reader.HeaderChangedOnDisk());
  reader.DiscardRecords();
  EXPECT_EQ(reader.GetString(1, *reader.GetRecord(2, false)), "changed");

  // A cache miss asks the table layer first and gives up when it changed.
  TDataFileHooks hooks;
  hooks.table_changed_on_disk = [] { return true; };
  reader.SetHooks(hooks);
  EXPECT_EQ(reader.GetRecord(3, false), nullptr);
}

// Another process may copy a different table over this one while it is
// open. A replacement with the same layout is taken whole (header, counters
// and descriptors); one with another layout, or a damaged one, is refused
// and changes nothing in memory.
TEST_F(DataFileTest, ReplacedTableIsAdoptedWholeOrRefused) {
  Create(Password());
  TDataFile reader("T");
  Open(reader);
  reader.Check();
  const std::vector<uint8_t> original = Bytes();

  // Same layout, other records, renamed field, new description, copied
  // over the open file.
  const std::string other_path = (dir_ / "U.DAT").string();
  {
    TDataCreateParams p = Password();
    p.fields[4].SetName("Site");
    p.description = "Restored";
    TDataFile other("U");
    other.set_file_name(other_path);
    other.CreateHeader(p);
    Append(other, 2, true);
    other.MarkHeaderModified();
    other.FlushBuffers();
  }
  std::ifstream in(other_path, std::ios::binary);
  const std::vector<uint8_t> restored(std::istreambuf_iterator<char>(in), {});
  ASSERT_NE(restored, original);
  SetBytes(restored);
  ASSERT_TRUE(reader.HeaderChangedOnDisk());
  EXPECT_EQ(reader.RecordCount(), 2u);
  EXPECT_EQ(reader.Description(), "Restored");
  EXPECT_EQ(reader.Field(5).Name(), "Site");
  EXPECT_EQ(reader.GetString(1, *reader.GetRecord(2, false)), "r2");

  // Another layout: refused, and what the reader holds stays as it was.
  const TDataHeader before = reader.Header();
  std::vector<uint8_t> other_layout = restored;
  other_layout[127 + 768 * 4 + 86] = 200;  // Web 200 instead of 250
  other_layout[0] += 1;
  SetBytes(other_layout);
  EXPECT_EQ(CodeOf([&] { reader.HeaderChangedOnDisk(); }), CAIRN_HEADERCORRUPT);
  EXPECT_EQ(reader.Header().ChangeCounter(), before.ChangeCounter());
  EXPECT_EQ(reader.Field(5).DeclaredSize(), 250);

  // Damage: a bad field name, counters that do not fit the file, a wrong
  // signature. ReadHeader, which ignores the counter, refuses them too.
  const std::vector<std::function<void(std::vector<uint8_t>&)>> damages = {
      [](std::vector<uint8_t>& b) { b[127 + 768 + 3] = '1'; },
      [](std::vector<uint8_t>& b) { b[13] = 9; },
      [](std::vector<uint8_t>& b) { b[9] = 3; },
      [](std::vector<uint8_t>& b) { b[21] = 3, b[22] = 0; }};
  for (size_t i = 0; i < damages.size(); ++i) {
    std::vector<uint8_t> damaged = restored;
    damages[i](damaged);
    damaged[0] += 2;
    SetBytes(damaged);
    EXPECT_EQ(CodeOf([&] { reader.HeaderChangedOnDisk(); }), CAIRN_HEADERCORRUPT) << i;
    EXPECT_EQ(CodeOf([&] { reader.ReadHeader(); }), CAIRN_HEADERCORRUPT) << i;
    EXPECT_EQ(reader.Header().ChangeCounter(), before.ChangeCounter()) << i;
    EXPECT_EQ(reader.Field(2).Name(), "User") << i;
  }
  std::vector<uint8_t> old_version = restored;
  old_version[8] = 4;
  old_version[0] += 3;
  SetBytes(old_version);
  EXPECT_EQ(CodeOf([&] { reader.HeaderChangedOnDisk(); }), CAIRN_OLDVERSION);
  SetBytes(restored);
  EXPECT_NO_THROW(reader.ReadHeader());
  EXPECT_EQ(reader.RecordCount(), 2u);
}

// The change counter is compared for difference only; it wraps at 2^31
// instead of overflowing, and the bytes are those of a 32-bit wrap.
TEST_F(DataFileTest, ChangeCounterWrapsAtTheTopOfItsRange) {
  Create(Password());
  std::vector<uint8_t> b = Bytes();
  le::PutI32(&b[0], 2147483647);
  SetBytes(b);
  TDataFile file("T");
  Open(file);
  EXPECT_TRUE(file.WriteHeader(true));
  EXPECT_EQ(le::U32(&Bytes()[0]), 0x80000000u);
  file.MarkHeaderModified();
  EXPECT_EQ(file.Header().ChangeCounter(), -2147483647);
}

// String values are cased with the table's own locale (here Turkish, where
// the capital of i is the dotted I, Windows-1254 0xDD).
TEST_F(DataFileTest, StringCaseFollowsTheTablesLocale) {
  TDataCreateParams p = Password();
  p.fields[0].SetCharCase(2);
  p.language_id = 0x041F;
  Create(p);
  TDataFile file("T");
  Open(file);
  file.Check();
  TPinnedRecord r(file, file.AllocateSlot(true));
  file.PutString(1, *r.get(), "istanbul");
  EXPECT_EQ(file.GetString(1, *r.get()), "\xddSTANBUL");
}

TEST_F(DataFileTest, EmptyTableKeepsDescriptorsAndMovesTheCounterOn) {
  Create(Password());
  TDataFile file("T");
  Open(file);
  Append(file, 4, true);
  {
    TPinnedRecord r(file, file.ReadSlot(2));
    file.DeleteSlot(*r.get(), true);
  }
  file.FlushBuffers();
  const int32_t before = file.Header().ChangeCounter();
  file.EmptyTable(true);
  file.FlushBuffers();
  EXPECT_EQ(Bytes().size(), 127u + 768 * 6);
  EXPECT_GT(file.Header().ChangeCounter(), before);
  EXPECT_EQ(file.RecordCount(), 0u);
  EXPECT_EQ(file.FirstDeleted(), 0u);
  EXPECT_EQ(file.LastAutoIncValue(), 0);
  file.Close();
  Open(file);
  EXPECT_NO_THROW(file.Check());
  EXPECT_EQ(file.Description(), "Passwords");
  EXPECT_EQ(file.FieldCount(), 6);
}

TEST_F(DataFileTest, FieldPropertiesChangeWithoutMovingTheLayout) {
  Create(Password());
  TDataFile file("T");
  Open(file);
  TFieldDescriptor props = file.Field(2);
  props.SetName("Login");
  props.SetRequired(true);
  props.SetDefaultValue("guest");
  props.SetOffset(999);  // not taken: the layout stays
  file.AlterFieldProperties(2, props);
  EXPECT_TRUE(file.DescriptorsChanged());
  EXPECT_TRUE(file.FlushBuffers());
  file.Close();
  Open(file);
  file.Check();
  EXPECT_EQ(file.Field(2).Name(), "Login");
  EXPECT_TRUE(file.Field(2).Required());
  EXPECT_EQ(file.Field(2).Offset(), 111);
  EXPECT_EQ(CodeOf([&] { file.Field(7); }), CAIRN_OUTOFRANGE);
}

TEST_F(DataFileTest, CreationLimits) {
  TDataCreateParams p;
  for (int i = 0; i < 129; ++i) {
    p.fields.push_back(TFieldDescriptor::Make("B" + std::to_string(i), kFldBlob));
  }
  TDataFile file("T");
  file.set_file_name(path_);
  EXPECT_EQ(CodeOf([&] { file.CreateHeader(p); }), CAIRN_BLOBLIMIT);
  p.fields.clear();
  for (int i = 0; i < 300; ++i) {
    p.fields.push_back(TFieldDescriptor::Make("S" + std::to_string(i), kFldString, 0, 250));
  }
  EXPECT_EQ(CodeOf([&] { file.CreateHeader(p); }), CAIRN_RECTOOBIG);
  EXPECT_FALSE(file.is_open());
}

// Damaged files: each mutation must give its error at open or at the check,
// never a crash or a read outside the file.
TEST_F(DataFileTest, DamagedFilesGiveTheirErrors) {
  const size_t d2 = 127 + 768;  // descriptor of field 2
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    uint16_t code;
  } cases[] = {
      {"old signature", [](auto& b) { b[8] = 4; }, CAIRN_OLDVERSION},
      {"too many fields", [](auto& b) { le::PutU16(&b[23], 1025); }, CAIRN_HEADERCORRUPT},
      {"record size 0", [](auto& b) { le::PutU16(&b[21], 0); }, CAIRN_HEADERCORRUPT},
      {"record size mismatch", [](auto& b) { le::PutU16(&b[21], 582); }, CAIRN_HEADERCORRUPT},
      {"short header", [](auto& b) { b.resize(100); }, CAIRN_READERR},
      {"short descriptors", [](auto& b) { b.resize(127 + 768 * 5); }, CAIRN_READERR},
      {"fields beyond the file", [](auto& b) { le::PutU16(&b[23], 9); }, CAIRN_READERR},
      {"one byte too long", [](auto& b) { b.push_back(0); }, CAIRN_HEADERCORRUPT},
      {"next record number", [](auto& b) { le::PutU32(&b[13], 3); }, CAIRN_HEADERCORRUPT},
      {"blob field count", [](auto& b) { le::PutU16(&b[25], 0); }, CAIRN_HEADERCORRUPT},
      {"chain past the end", [](auto& b) { le::PutU32(&b[9], 2); }, CAIRN_HEADERCORRUPT},
      {"locale", [](auto& b) { le::PutU16(&b[103], 0xFF); }, CAIRN_CANNOTLOADLDDRV},
      {"empty name", [&](auto& b) { b[d2 + 2] = 0; }, CAIRN_HEADERCORRUPT},
      {"name too long", [&](auto& b) { b[d2 + 2] = 31; }, CAIRN_HEADERCORRUPT},
      {"name starts with a digit", [&](auto& b) { b[d2 + 3] = '1'; }, CAIRN_HEADERCORRUPT},
      {"duplicate name", [&](auto& b) { std::memcpy(&b[d2 + 2], "\x04ITEM", 5); },
       CAIRN_HEADERCORRUPT},
      {"duplicate number", [&](auto& b) { le::PutU16(&b[d2], 1); }, CAIRN_HEADERCORRUPT},
      {"type 0", [&](auto& b) { b[d2 + 84] = 0; }, CAIRN_HEADERCORRUPT},
      {"string too long", [&](auto& b) { b[d2 + 86] = 251; }, CAIRN_HEADERCORRUPT},
      {"date with a size", [&](auto& b) { b[127 + 768 * 5 + 86] = 4; }, CAIRN_HEADERCORRUPT},
      {"scale on a string", [&](auto& b) { b[d2 + 87] = 2; }, CAIRN_HEADERCORRUPT},
      {"bad offset", [&](auto& b) { le::PutU16(&b[d2 + 90], 112); }, CAIRN_HEADERCORRUPT},
      {"bad date minimum",
       [&](auto& b) {
         std::memcpy(&b[127 + 768 * 5 + 94],
                     "\x0a"
                     "31/02/2000",
                     11);
       },
       CAIRN_HEADERCORRUPT},
      {"type changed", [&](auto& b) { b[d2 + 84] = kFldDate; }, CAIRN_HEADERCORRUPT},
  };
  Create(Password());
  TDataFile file("T");
  Open(file);
  Append(file, 1, true);
  file.Close();
  const std::vector<uint8_t> good = Bytes();
  for (const Case& c : cases) {
    std::vector<uint8_t> b = good;
    c.damage(b);
    SetBytes(b);
    TDataFile damaged("T");
    damaged.set_file_name(path_);
    uint16_t code = CodeOf([&] {
      damaged.Open();
      damaged.Check();
    });
    EXPECT_EQ(code, c.code) << c.what;
  }
  SetBytes(good);
  TDataFile sound("T");
  Open(sound);
  EXPECT_NO_THROW(sound.Check());
}

// Random damage: whatever the bytes, opening, checking and reading every
// field of every slot either works or raises an engine error.
TEST_F(DataFileTest, RandomDamageNeverCrashes) {
  Create(Password());
  {
    TDataFile file("T");
    Open(file);
    Append(file, 4, true);
  }
  const std::vector<uint8_t> good = Bytes();
  std::mt19937 rng(20261208);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> b = good;
    const int flips = 1 + int(rng() % 4);
    for (int i = 0; i < flips; ++i) {
      // Mostly the header and the first descriptors, where damage matters.
      const size_t at = rng() % 4 == 0 ? rng() % b.size() : rng() % (127 + 768 * 2);
      b[at] = uint8_t(rng());
    }
    if (rng() % 8 == 0) b.resize(rng() % b.size());
    SetBytes(b);
    TDataFile file("T");
    file.set_file_name(path_);
    try {
      file.Open();
      file.Check();
      for (uint32_t s = 1; s <= file.RecordCount(); ++s) {
        const TRecord* r = file.GetRecord(s, false, true);
        for (uint16_t f = 1; f <= file.FieldCount(); ++f) file.GetField(f, *r);
      }
    } catch (const ECairnEngineError&) {
    }
  }
}

TEST_F(DataFileTest, ShortSlotReadIsCorruptNotGarbage) {
  Create(Password());
  TDataFile file("T");
  Open(file);
  Append(file, 3, true);
  file.Close();
  Open(file);
  file.Check();
  fs::resize_file(path_, 127 + 768 * 6 + 581 * 2 + 100);  // slot 3 cut by another writer
  EXPECT_EQ(CodeOf([&] { file.GetRecord(3, false); }), CAIRN_FILECORRUPT);
  EXPECT_EQ(CodeOf([&] { file.GetRecord(0, false); }), CAIRN_FILECORRUPT);
  EXPECT_EQ(CodeOf([&] { file.GetRecord(5, false); }), CAIRN_FILECORRUPT);
}

}  // namespace
}  // namespace cairn
