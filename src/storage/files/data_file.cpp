#include "storage/files/data_file.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "storage/base/engine_error.h"
#include "storage/files/data_locale.h"
#include "storage/files/field_values.h"
#include "storage/files/scramble.h"

namespace cairn {
namespace {

// The header's time stamp: local time as a day count from 30 December 1899
// with the time of day as fraction, less 693594.
double NowStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  auto day = DateToDayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  double days = double(day.value_or(kDayNumberOf18991230) - kDayNumberOf18991230);
  double fraction = (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0;
  return days + fraction - double(kDayNumberOf18991230);
}

bool ValidNameStart(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

std::shared_ptr<const TTableLocale> LocaleOf(const TDataHeader& header) {
  return TTableLocale::ForLcid(
      header.LanguageId() == 0 ? 0 : TTableLocale::MakeLcid(header.LanguageId(), header.SortId()));
}

// What every cached image, key and blob reference of the table depends on.
bool SameLayout(const TDataHeader& a, std::span<const TFieldDescriptor> fa, const TDataHeader& b,
                std::span<const TFieldDescriptor> fb) {
  if (a.RecordSize() != b.RecordSize() || a.FieldCount() != b.FieldCount() ||
      a.BlobFieldCount() != b.BlobFieldCount() || a.Encrypted() != b.Encrypted() ||
      a.Locale() != b.Locale() || a.BlobBlockSizeRaw() != b.BlobBlockSizeRaw() ||
      fa.size() != fb.size()) {
    return false;
  }
  for (size_t i = 0; i < fa.size(); ++i) {
    const TFieldDescriptor& x = fa[i];
    const TFieldDescriptor& y = fb[i];
    if (x.Type() != y.Type() || x.Subtype() != y.Subtype() ||
        x.DeclaredSize() != y.DeclaredSize() || x.Scale() != y.Scale() ||
        x.Offset() != y.Offset() || x.Computed() != y.Computed()) {
      return false;
    }
  }
  return true;
}

}  // namespace

TDataFile::TDataFile(std::string table_name) : table_name_(std::move(table_name)), cache_(*this) {}

TDataFile::~TDataFile() { TDataFile::Close(); }

void TDataFile::Fail(uint16_t code) const { RaiseEngineError(code, table_name_); }

uint64_t TDataFile::SlotAreaOffset() const { return kDataHeaderSize + DescriptorAreaSize(); }

uint64_t TDataFile::SlotOffset(uint32_t slot) const {
  return SlotAreaOffset() + uint64_t(header_.RecordSize()) * (slot - 1);
}

void TDataFile::ConfigureCache() { cache_.Configure(header_.RecordSize()); }

// ---------------------------------------------------------------------------
// Header and descriptors

void TDataFile::StoreHeaderStrings(std::string_view password, std::string_view description) {
  if (header_.Encrypted()) {
    header_.SetDescriptionRaw(description.substr(0, kMaxTableDescriptionLength));
    header_.SetPasswordRaw(password.substr(0, kMaxTablePasswordLength));
    Scramble(header_.DescriptionChars(), kHeaderStringSeed);
    Scramble(header_.PasswordChars(), kHeaderStringSeed);
  } else {
    header_.SetDescriptionRaw(description);
    header_.SetPasswordRaw({});
  }
}

std::string TDataFile::HeaderString(std::span<const uint8_t> chars) const {
  std::string text(chars.begin(), chars.end());
  if (header_.Encrypted()) Scramble(text.data(), text.size(), kHeaderStringSeed);
  return text;
}

std::string TDataFile::Description() const {
  TDataHeader copy = header_;
  return HeaderString(copy.DescriptionChars());
}

std::string TDataFile::Password() const {
  if (!header_.Encrypted()) return {};
  TDataHeader copy = header_;
  return HeaderString(copy.PasswordChars());
}

void TDataFile::CreateHeader(const TDataCreateParams& params) {
  if (params.fields.size() > kMaxFieldCount) Fail(CAIRN_FLDLIMIT);
  header_.Clear();
  header_.SetLanguageId(params.language_id);
  header_.SetSortId(params.sort_id);
  header_.SetUserMajorVersion(params.user_major_version);
  header_.SetUserMinorVersion(params.user_minor_version);
  header_.SetEncrypted(params.encrypted);
  StoreHeaderStrings(params.password, params.description);
  header_.SetFieldCount(uint16_t(params.fields.size()));
  header_.SetBlobFieldCount(0);
  header_.SetBlobBlockSizeRaw(params.blob_block_size);

  std::vector<TFieldDescriptor> fields = params.fields;
  uint16_t blobs = 0;
  for (const TFieldDescriptor& f : fields) {
    if (f.IsBlob() && ++blobs > kMaxBlobFields) Fail(CAIRN_BLOBLIMIT);
  }
  header_.SetBlobFieldCount(blobs);
  const uint32_t record_size = LayoutFields(fields);
  if (record_size > 65535) Fail(CAIRN_RECTOOBIG);
  fields_ = std::move(fields);
  descriptors_changed_ = true;
  header_.SetSignature(kDataFormatSignature);
  header_.SetFirstDeleted(0);
  header_.SetNextRecordNumber(1);
  header_.SetLastAutoInc(0);
  header_.SetChangeCounter(0);
  header_.SetRecordSize(uint16_t(record_size));
  header_.SetModified(true);
  locale_ = LocaleOf(header_);

  TFileHandler::Create();
  // A new table carries change counter 0, so the first write is not counted.
  header_.SetTimeStamp(NowStamp());
  header_.StampWriter();
  TFileHandler::WriteAt(0, header_.Bytes().data(), kDataHeaderSize);
  header_.SetModified(false);
  WriteDescriptors(true);
  ConfigureCache();
}

void TDataFile::Open() {
  if (is_open()) return;
  TFileHandler::Open();
  try {
    TDataHeader header = ReadHeaderBytes();
    CheckHeaderBasics(header);
    fields_ = ReadDescriptorArea(header);
    header_ = header;
    descriptors_changed_ = false;
    locale_ = LocaleOf(header_);
    ConfigureCache();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TDataFile::Close() {
  cache_.Configure(header_.RecordSize());
  fields_.clear();
  descriptors_changed_ = false;
  locale_.reset();
  TFileHandler::Close();
}

TDataHeader TDataFile::ReadHeaderBytes() {
  uint8_t bytes[kDataHeaderSize];
  TFileHandler::ReadAt(0, bytes, kDataHeaderSize);
  TDataHeader header(std::span<const uint8_t, kDataHeaderSize>(bytes, kDataHeaderSize));
  header.SetModified(false);
  return header;
}

void TDataFile::CheckHeaderBasics(const TDataHeader& header) const {
  if (header.Signature() != kDataFormatSignature) Fail(CAIRN_OLDVERSION);
  if (header.FieldCount() > kMaxFieldCount) Fail(CAIRN_HEADERCORRUPT);
  // No record is shorter than its 9-byte header; a smaller size is damage
  // and would make every slot computation meaningless.
  if (header.RecordSize() < kRecordHeaderSize) Fail(CAIRN_HEADERCORRUPT);
}

void TDataFile::ReadHeader() { Adopt(ReadHeaderBytes()); }

bool TDataFile::HeaderChangedOnDisk() {
  TDataHeader fresh = ReadHeaderBytes();
  if (fresh.ChangeCounter() == header_.ChangeCounter()) return false;
  Adopt(fresh);
  return true;
}

void TDataFile::Adopt(const TDataHeader& fresh) {
  // Everything is checked on copies; only a header that passes replaces ours.
  CheckHeaderBasics(fresh);
  std::vector<TFieldDescriptor> fields = ReadDescriptorArea(fresh);
  CheckDescriptors(fresh, fields);
  if (!SameLayout(header_, fields_, fresh, fields)) Fail(CAIRN_HEADERCORRUPT);
  CheckFileLength(fresh, uint64_t(Size()));
  header_ = fresh;
  fields_ = std::move(fields);
  descriptors_changed_ = false;
}

bool TDataFile::WriteHeader(bool force) {
  if (!force && !header_.Modified()) return false;
  header_.AdvanceChangeCounter();
  header_.SetTimeStamp(NowStamp());
  header_.StampWriter();
  TFileHandler::WriteAt(0, header_.Bytes().data(), kDataHeaderSize);
  header_.SetModified(false);
  return true;
}

void TDataFile::MarkHeaderModified() {
  header_.AdvanceChangeCounter();
  header_.SetModified(true);
}

std::vector<TFieldDescriptor> TDataFile::ReadDescriptorArea(const TDataHeader& header) {
  const size_t count = header.FieldCount();
  std::vector<uint8_t> area(count * kFieldDescriptorSize);
  if (!area.empty()) TFileHandler::ReadAt(kDataHeaderSize, area.data(), int64_t(area.size()));
  if (header.Encrypted()) Scramble(area, kBufferSeed);
  std::vector<TFieldDescriptor> fields;
  fields.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    fields.emplace_back(std::span<const uint8_t, kFieldDescriptorSize>(
        area.data() + i * kFieldDescriptorSize, kFieldDescriptorSize));
  }
  return fields;
}

void TDataFile::ReadDescriptors() {
  fields_ = ReadDescriptorArea(header_);
  descriptors_changed_ = false;
}

bool TDataFile::WriteDescriptors(bool force) {
  if (!force && !descriptors_changed_) return false;
  std::vector<uint8_t> area(fields_.size() * kFieldDescriptorSize);
  for (size_t i = 0; i < fields_.size(); ++i) {
    std::memcpy(area.data() + i * kFieldDescriptorSize, fields_[i].Bytes().data(),
                kFieldDescriptorSize);
  }
  if (header_.Encrypted()) Scramble(area, kBufferSeed);
  if (!area.empty()) TFileHandler::WriteAt(kDataHeaderSize, area.data(), int64_t(area.size()));
  descriptors_changed_ = false;
  return !area.empty();
}

void TDataFile::Check() {
  if (header_.LanguageId() != 0 &&
      !IsTableLocaleInstalled(header_.LanguageId(), header_.SortId())) {
    Fail(CAIRN_CANNOTLOADLDDRV);
  }
  CheckDescriptors(header_, fields_);
  CheckFileLength(header_, uint64_t(Size()));
}

void TDataFile::CheckDescriptors(const TDataHeader& header,
                                 std::vector<TFieldDescriptor>& fields) const {
  // Names compare without regard to case after trimming blanks.
  std::vector<std::string> names;
  std::unordered_map<std::string, int> name_uses;
  std::unordered_map<uint16_t, int> number_uses;
  for (const TFieldDescriptor& f : fields) {
    names.push_back(NormalizedFieldName(f.Name()));
    ++name_uses[names.back()];
    ++number_uses[f.FieldNumber()];
  }
  uint32_t running = kRecordHeaderSize;
  for (size_t i = 0; i < fields.size(); ++i) {
    TFieldDescriptor& f = fields[i];
    f.SetStorageSize(StorageSizeFor(f.Type(), f.DeclaredSize()));
    f.SetScaleCopy(f.Scale());
    const uint8_t name_length = f.NameLengthByte();
    if (name_length < 1 || name_length > kMaxFieldNameLength) Fail(CAIRN_HEADERCORRUPT);
    if (!ValidNameStart(f.Bytes()[3])) Fail(CAIRN_HEADERCORRUPT);
    if (number_uses[f.FieldNumber()] > 1 || name_uses[names[i]] > 1) Fail(CAIRN_HEADERCORRUPT);
    if (f.Type() == 0) Fail(CAIRN_HEADERCORRUPT);
    if (TypeHasDeclaredSize(f.Type()) ? f.DeclaredSize() > kMaxDeclaredSize
                                      : f.DeclaredSize() != 0) {
      Fail(CAIRN_HEADERCORRUPT);
    }
    if (!IsValidFieldLiteral(f.Type(), f.MinValue()) ||
        !IsValidFieldLiteral(f.Type(), f.MaxValue()) ||
        !IsValidFieldLiteral(f.Type(), f.DefaultValue())) {
      Fail(CAIRN_HEADERCORRUPT);
    }
    if (f.Scale() != 0 && f.Type() != kFldBcd) Fail(CAIRN_HEADERCORRUPT);
    if (f.IsAutoInc()) {
      if (f.Offset() != 5) Fail(CAIRN_HEADERCORRUPT);
    } else if (!f.Computed()) {
      if (f.Offset() != running) Fail(CAIRN_HEADERCORRUPT);
      running += f.SlotBytes();
    }
    if (f.FieldNumber() != i + 1) Fail(CAIRN_HEADERCORRUPT);
  }
  if (running != header.RecordSize()) Fail(CAIRN_HEADERCORRUPT);
  // The blob file is opened (or not) by this count: it must match the fields.
  const auto blobs = std::count_if(fields.begin(), fields.end(),
                                   [](const TFieldDescriptor& f) { return f.IsBlob(); });
  if (blobs != header.BlobFieldCount()) Fail(CAIRN_HEADERCORRUPT);
}

void TDataFile::CheckFileLength(const TDataHeader& header, uint64_t length) const {
  const uint64_t base = kDataHeaderSize + 768ull * header.FieldCount();
  if (length < base) Fail(CAIRN_HEADERCORRUPT);
  const uint64_t r = header.RecordSize();
  if ((length - base) % r != 0) Fail(CAIRN_HEADERCORRUPT);
  const uint64_t slots = (length - base) / r;
  if (uint64_t(header.NextRecordNumber()) != slots + 1) Fail(CAIRN_HEADERCORRUPT);
  if (uint64_t(header.FirstDeleted()) > slots) Fail(CAIRN_HEADERCORRUPT);
}

const TFieldDescriptor& TDataFile::Field(uint16_t number) const {
  if (number < 1 || number > fields_.size()) {
    RaiseEngineError(CAIRN_OUTOFRANGE, std::to_string(number), table_name_);
  }
  return fields_[number - 1];
}

TFieldDescriptor TDataFile::FieldByName(std::string_view name) const {
  for (const TFieldDescriptor& f : fields_) {
    if (SameFieldName(f.Name(), name)) return f;
  }
  return TFieldDescriptor();
}

void TDataFile::AlterFieldProperties(uint16_t number, const TFieldDescriptor& props) {
  if (number < 1 || number > fields_.size()) {
    RaiseEngineError(CAIRN_OUTOFRANGE, std::to_string(number), table_name_);
  }
  TFieldDescriptor& f = fields_[number - 1];
  f.SetFieldNumber(props.FieldNumber());
  f.SetName(props.Name());
  f.SetSubtype(props.Subtype());
  f.SetRequired(props.Required());
  f.SetDescription(props.Description());
  f.SetMinValue(props.MinValue());
  f.SetMaxValue(props.MaxValue());
  f.SetDefaultValue(props.DefaultValue());
  descriptors_changed_ = true;
}

void TDataFile::AlterTableProperties(std::string_view password, std::string_view description,
                                     uint16_t user_major_version, uint16_t user_minor_version,
                                     int32_t last_auto_inc) {
  StoreHeaderStrings(password, description);
  header_.SetUserMajorVersion(user_major_version);
  header_.SetUserMinorVersion(user_minor_version);
  header_.SetLastAutoInc(last_auto_inc);
  header_.SetModified(true);
}

int32_t TDataFile::NextAutoIncValue() {
  header_.SetLastAutoInc(NextCounterValue(header_.LastAutoInc()));
  header_.SetModified(true);
  return header_.LastAutoInc();
}

int32_t TDataFile::NextBlobRevision() {
  header_.SetLastBlobRevision(NextCounterValue(header_.LastBlobRevision()));
  header_.SetModified(true);
  return header_.LastBlobRevision();
}

void TDataFile::SetLastAutoIncValue(int32_t value) {
  if (header_.LastAutoInc() == value) return;
  header_.SetLastAutoInc(value);
  header_.SetModified(true);
}

void TDataFile::EmptyTable(bool force_os_flush) {
  // Cached slots no longer exist; writing them back would resurrect them.
  cache_.Discard();
  Truncate(SlotAreaOffset());
  if (force_os_flush) TFileHandler::Flush();
  header_.SetFirstDeleted(0);
  header_.SetNextRecordNumber(1);
  header_.SetLastAutoInc(0);
  // The change counter keeps counting: returning it to 0 could give it a
  // value another process has already seen, which would hide the emptying
  // from that process's change detection.
  MarkHeaderModified();
}

// ---------------------------------------------------------------------------
// Records

TRecord* TDataFile::GetRecord(uint32_t slot, bool pin, bool read_ahead, TReadDirection direction,
                              uint32_t read_ahead_count) {
  return cache_.Get(slot, pin, read_ahead, direction, read_ahead_count);
}

void TDataFile::NewRecordImage(TRecord& record, bool take_id, uint32_t slot) {
  record.ClearImage();
  if (take_id) record.SetRecordId(NextAutoIncValue());
  record.SetLink(slot);
  record.SetModified(true);
}

TRecord* TDataFile::AllocateSlot(bool has_primary_key, std::optional<int32_t> own_id) {
  TRecord* record = nullptr;
  const uint32_t head = header_.FirstDeleted();
  if (has_primary_key && head != 0) {
    record = cache_.Get(head, true);
    if (record == nullptr) return nullptr;
    // A chain that leads to a live record is damage; reusing it would
    // overwrite that record.
    if (!record->IsDeleted()) {
      record->Unpin();
      RaiseCorrupt();
    }
    header_.SetFirstDeleted(record->Link());
    header_.SetModified(true);
  } else {
    // Only here does the table grow: a read never appends a slot.
    const uint32_t slot = header_.NextRecordNumber();
    if (slot > kMaxSlotCount ||
        SlotAreaOffset() + uint64_t(header_.RecordSize()) * slot > kMaxDataFileBytes) {
      Fail(CAIRN_TABLEFULL);
    }
    header_.SetNextRecordNumber(slot + 1);
    header_.SetModified(true);
    record = cache_.CreateAppended(slot);
    header_.SetFirstDeleted(0);
  }
  NewRecordImage(*record, !own_id.has_value(), record->Slot());
  if (own_id) {
    record->SetRecordId(*own_id);
    if (*own_id > header_.LastAutoInc()) SetLastAutoIncValue(*own_id);
  }
  return record;
}

void TDataFile::DeleteSlot(TRecord& record, bool has_primary_key) {
  record.SetDeleted(true);
  record.SetLink(has_primary_key ? header_.FirstDeleted() : 0);
  record.SetModified(true);
  header_.SetFirstDeleted(record.Slot());
  header_.SetModified(true);
}

void TDataFile::PutField(uint16_t field, TRecord& record, std::span<const uint8_t> value,
                         bool force) {
  if (!cairn::PutField(Field(field), record.Image(), value, locale_.get(), force)) RaiseCorrupt();
  record.SetModified(true);
}

void TDataFile::PutFieldNull(uint16_t field, TRecord& record, bool force) {
  if (!cairn::PutFieldNull(Field(field), record.Image(), force)) RaiseCorrupt();
  record.SetModified(true);
}

void TDataFile::PutString(uint16_t field, TRecord& record, std::string_view text) {
  if (!cairn::PutString(Field(field), record.Image(), text, locale_.get())) RaiseCorrupt();
  record.SetModified(true);
}

std::optional<std::span<const uint8_t>> TDataFile::GetField(uint16_t field,
                                                            const TRecord& record) const {
  const TFieldDescriptor& f = Field(field);
  if (!FieldFits(f, record.Size())) Fail(CAIRN_FILECORRUPT);
  return cairn::GetField(f, record.Image());
}

std::optional<std::string> TDataFile::GetString(uint16_t field, const TRecord& record) const {
  const TFieldDescriptor& f = Field(field);
  if (!FieldFits(f, record.Size())) Fail(CAIRN_FILECORRUPT);
  return cairn::GetString(f, record.Image());
}

bool TDataFile::FlushBuffers(bool force_os_flush) {
  if (!is_open() || read_only()) return false;
  bool wrote = cache_.Flush();
  wrote = WriteHeader(false) || wrote;
  wrote = WriteDescriptors(false) || wrote;
  if (wrote && force_os_flush) TFileHandler::Flush();
  return wrote;
}

// ---------------------------------------------------------------------------
// TRecordCacheHost

size_t TDataFile::ReadSlots(uint64_t offset, std::span<uint8_t> buffer) {
  return size_t(TFileHandler::ReadAt(offset, buffer.data(), int64_t(buffer.size()), true));
}

void TDataFile::WriteSlots(uint64_t offset, std::span<const uint8_t> buffer) {
  TFileHandler::WriteAt(offset, buffer.data(), int64_t(buffer.size()));
}

void TDataFile::ScrambleSlot(std::span<uint8_t> image) {
  if (header_.Encrypted()) Scramble(image, kBufferSeed);
}

bool TDataFile::WriteLockHeld() { return hooks_.write_lock_held && hooks_.write_lock_held(); }

bool TDataFile::TableChangedOnDisk() {
  return hooks_.table_changed_on_disk && hooks_.table_changed_on_disk();
}

void TDataFile::RaiseCorrupt() { Fail(CAIRN_FILECORRUPT); }

void TDataFile::RecordsWritten() {
  if (hooks_.records_written) hooks_.records_written();
}

}  // namespace cairn
