#include "storage/access/table_repair.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/access/index_maintenance.h"
#include "storage/access/index_table_info.h"
#include "storage/access/index_tree.h"
#include "storage/base/engine_error.h"
#include "storage/files/blob_file.h"
#include "storage/files/data_endian.h"
#include "storage/files/data_file.h"
#include "storage/files/field_codec.h"
#include "storage/files/journal.h"
#include "storage/files/scramble.h"

namespace cairn {

namespace {

namespace fs = std::filesystem;

// Raised inside the repair when the table must be left alone.
struct TRefusal {
  std::string reason;
};

[[noreturn]] void Refuse(std::string reason) { throw TRefusal{std::move(reason)}; }

std::string IndexName(const TIndexDescriptor& d, bool primary) {
  return primary ? std::string("primary index") : "index '" + d.name + "'";
}

// The index definitions of the old index file, read from its header bytes
// alone so that damaged trees, roots or counts do not hide them.
struct TOldIndexes {
  bool exists = false;
  std::string problem;  // why the old file would not open, if it would not
  bool has_primary = false;
  std::vector<TIndexDescriptor> definitions;  // the primary first, when there is one
  std::optional<int32_t> active_count;
};

TOldIndexes ReadOldIndexes(const TDataFile& data, const std::string& file_name) {
  TOldIndexes old;
  std::error_code ec;
  old.exists = fs::exists(file_name, ec);
  if (!old.exists) {
    old.problem = "the index file is missing";
    return old;
  }
  {
    TIndexFile probe(IndexTableInfoOf(data));
    probe.set_file_name(file_name);
    try {
      probe.OpenIndexFile();
      probe.CloseIndexFile();
    } catch (const ECairnEngineError& error) {
      old.problem = error.what();
    }
  }
  std::array<uint8_t, kIndexPageSize> header{};
  std::ifstream in(file_name, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) {
    if (old.problem.empty()) old.problem = "the index file is shorter than its header";
    return old;
  }
  if (data.Encrypted()) Scramble(header.data(), header.size(), kBufferSeed);
  if (header[hdr::kSignature] != kIndexSignature) return old;
  old.active_count = le::I32(&header[hdr::kActiveCount]);
  const bool no_primary = header[hdr::kNoPrimaryKey] != 0;
  const int count = std::min<int>(header[hdr::kSecondaryCount], kMaxSecondaryIndexes);
  for (int i = no_primary ? 1 : 0; i <= count; ++i) {
    const TIndexDescriptor d =
        TIndexDescriptor::Decode(std::span<const uint8_t, hdr::kDescriptorSize>(
            &header[hdr::DescriptorOffset(i)], hdr::kDescriptorSize));
    if (d.temporary || d.IsEmpty()) continue;
    if (i == 0) old.has_primary = true;
    old.definitions.push_back(d);
  }
  return old;
}

// The names for the copies of the old files: NAME.before-repair, then -2, -3...
std::string BackupBase(TDataDirectory& directory, std::string_view name) {
  for (int n = 1;; ++n) {
    std::string base = std::string(name) + ".before-repair";
    if (n > 1) base += "-" + std::to_string(n);
    bool taken = false;
    for (const char* ext : {".DAT", ".IDX", ".BLB"})
      taken = taken || fs::exists(directory.FileName(base, ext));
    if (!taken) return base;
  }
}

class TRepairer {
 public:
  TRepairer(TDataDirectory& directory, std::string_view name, TRepairResult& result)
      : directory_(directory), name_(name), result_(result) {}

  ~TRepairer() {
    if (index_) index_->CloseIndexFile();
    if (blob_) blob_->Close();
    if (data_) data_->Close();
    std::error_code ec;
    if (!scratch_name_.empty()) fs::remove(scratch_name_, ec);
  }

  void Run(bool dry_run) {
    PlayBackJournal(dry_run);
    OpenData(dry_run);
    const TOldIndexes old = ReadOldIndexes(*data_, directory_.FileName(name_, ".IDX"));
    BuildIndex(old);
    if (data_->BlobFieldCount() > 0) FindLeakedBlocks();
    Describe(old);
    if (dry_run) return;
    KeepOldFiles(old.exists);
    ReplaceIndex();
    FreeLeakedBlocks();
  }

 private:
  // The records are the truth only once a change cut short is undone.
  void PlayBackJournal(bool dry_run) {
    const std::string journal = directory_.FileName(name_, ".JNL");
    if (!TJournal::LeftAt(journal)) return;
    if (dry_run) {
      journal_note_ = "play back the rollback journal of a change cut short (" + journal + ")";
      return;
    }
    try {
      bool kept_whole = false;
      if (PlayBackLeftJournal(directory_, name_, &kept_whole))
        journal_note_ = kept_whole ? "kept the change its rollback journal names, which had "
                                     "reached the disk whole (" + journal + ")"
                                   : "played back the rollback journal of a change cut short (" +
                                         journal + ")";
    } catch (const ECairnEngineError& error) {
      Refuse("the rollback journal " + journal + " cannot be played back (" + error.what() +
             "); it is kept for the next try");
    }
  }

  void OpenData(bool dry_run) {
    const std::string file = directory_.FileName(name_, ".DAT");
    if (!fs::exists(file)) Refuse("the data file " + file + " does not exist");
    data_ = std::make_unique<TDataFile>(name_);
    data_->set_file_name(file);
    // Exclusive: another process with the table open keeps a shared hold on it.
    data_->set_exclusive(true);
    try {
      data_->Open();
    } catch (const ECairnEngineError& error) {
      if (error.code() == CAIRN_OSEACCES)
        Refuse("the table is open in another process; close it there first");
      Refuse(std::string("the data file cannot be read: ") + error.what());
    }
    try {
      data_->Check();
    } catch (const ECairnEngineError& error) {
      Refuse(std::string("the data file is damaged: ") + error.what());
    }
    if (!dry_run && data_->Encrypted() &&
        !directory_.Session().CheckPassword(data_->Password(), name_))
      Refuse("the table is encrypted and no password given opens it");
  }

  void BuildIndex(const TOldIndexes& old) {
    TIndexTableInfo info = IndexTableInfoOf(*data_);
    info.private_dir = directory_.Session().ScratchDirectory();
    // A larger cache than a session's: the whole tree is written once.
    info.index_buffer_size = 4 * 1024 * 1024;
    index_ = std::make_unique<TIndexFile>(std::move(info));
    scratch_name_ = directory_.FileName(name_, ".IDX") + ".repair-new";
    index_->set_file_name(scratch_name_);
    index_->CreateIndexFile();
    for (size_t i = 0; i < old.definitions.size(); ++i) {
      const bool primary = i == 0 && old.has_primary;
      const TIndexDescriptor& d = old.definitions[i];
      try {
        if (primary) {
          index_->AddPrimaryIndex(d);
          has_primary_ = true;
        } else {
          index_->AddSecondaryIndex(d);
        }
        rebuilt_.push_back(IndexName(d, primary));
      } catch (const ECairnEngineError& error) {
        result_.changes.push_back("dropped the unreadable definition of the " +
                                  IndexName(d, primary) + ": " + error.what());
      }
    }
    index_->SetNoPrimaryKey(!has_primary_);
    index_->WriteHeader(true);

    TIndexMaintainer maintainer(*index_);
    TIndexTree status(*index_, kStatusIndex);
    if (TBlobFile* blob = OpenBlob()) owner_.assign(size_t(blob->NextBlockNumber()), 0);
    const uint32_t slots = data_->RecordCount();
    result_.slots = slots;
    std::vector<uint8_t> image;
    for (uint32_t slot = 1; slot <= slots; ++slot) {
      try {
        TRecord* record = data_->GetRecord(slot, true, true);
        if (record == nullptr) Refuse("slot " + std::to_string(slot) + " cannot be read");
        image.assign(record->Image().begin(), record->Image().end());
        data_->ReleaseRecord(record);
      } catch (const ECairnEngineError& error) {
        Refuse("slot " + std::to_string(slot) + " cannot be read: " + error.what());
      }
      if (image[0] != 0) {
        std::array<uint8_t, kStatusKeyLength> key{};
        BuildStatusKey(image, key);
        status.Insert(key, int32_t(slot));
        continue;
      }
      try {
        maintainer.InsertRecord(image, int32_t(slot));
      } catch (const ECairnEngineError& error) {
        if (error.code() != CAIRN_KEYVIOL) throw;
        Refuse("the record in slot " + std::to_string(slot) +
               " has the key of an earlier record in a unique index (" + error.text() +
               "); the data file needs the duplicate removed by hand");
      }
      ++result_.records;
      if (blob_) WalkChains(slot, image);
    }
    index_->Flush();
    index_->WriteHeader(true);
    index_->TFileHandler::Flush();
  }

  TBlobFile* OpenBlob() {
    if (data_->BlobFieldCount() == 0) return nullptr;
    const std::string file = directory_.FileName(name_, ".BLB");
    blob_ = std::make_unique<TBlobFile>(name_, file, data_->Header().BlobBlockSizeRaw(),
                                        data_->Encrypted());
    blob_->set_exclusive(true);
    try {
      blob_->Open();
    } catch (const ECairnEngineError& error) {
      Refuse(std::string("the blob file cannot be read: ") + error.what());
    }
    return blob_.get();
  }

  // Marks the blocks of the record's chains; a chain that is not whole is a
  // loss the repair cannot undo, so it refuses rather than free its blocks.
  void WalkChains(uint32_t slot, const std::vector<uint8_t>& image) {
    for (const TFieldDescriptor& field : data_->Fields()) {
      if (!field.IsBlob()) continue;
      const auto first = GetField(field, image);
      if (!first) continue;
      const std::string where =
          "slot " + std::to_string(slot) + " field '" + field.Name() + "': blob chain ";
      const int32_t stamp = GetBlobRevision(field, image).value_or(0);
      uint64_t total = 0, length = 0;
      uint32_t previous = 0;
      uint32_t number = uint32_t(le::I32(first->data()));
      if (number == 0 || number > blob_->LastBlockNumber())
        Refuse(where + "starts outside the blob file");
      while (number != 0) {
        if (number > blob_->LastBlockNumber()) Refuse(where + "leaves the blob file");
        if (owner_[number] != 0) Refuse(where + "shares block " + std::to_string(number));
        owner_[number] = 1;
        TBlockRef block(*blob_, blob_->ReadBlock(number, 1));
        if (!block || block->Stamp() != stamp || block->Previous() != previous)
          Refuse(where + "is damaged at block " + std::to_string(number));
        if (previous == 0) total = block->TotalLength();
        length += block->Used();
        previous = number;
        number = block->Next();
      }
      if (length != total) Refuse(where + "is shorter than its value");
    }
  }

  void FindLeakedBlocks() {
    for (uint32_t number = blob_->FreeListHead(); number != 0;) {
      if (number > blob_->LastBlockNumber() || owner_[number] != 0)
        Refuse("the blob free list is damaged at block " + std::to_string(number));
      owner_[number] = 2;
      TBlockRef block(*blob_, blob_->ReadBlock(number, 1));
      if (!block) Refuse("the blob free list cannot be read");
      number = block->Next();
    }
    for (uint32_t n = 1; n < owner_.size(); ++n)
      if (owner_[n] == 0) leaked_.push_back(n);
    result_.freed_blocks = uint32_t(leaked_.size());
  }

  void Describe(const TOldIndexes& old) {
    if (!journal_note_.empty()) result_.changes.push_back(journal_note_);
    std::string what = "rebuilt the index file";
    if (!old.problem.empty()) what += " (" + old.problem + ")";
    what += ": " + std::to_string(result_.slots) + " record-status entries, " +
            std::to_string(result_.records) + " active records in ";
    if (rebuilt_.empty()) {
      what += "no index";
    } else {
      for (size_t i = 0; i < rebuilt_.size(); ++i) what += (i ? ", " : "") + rebuilt_[i];
    }
    result_.changes.push_back(what);
    if (old.active_count && *old.active_count != int32_t(result_.records))
      result_.changes.push_back("active record count " + std::to_string(result_.records) +
                                " (was " + std::to_string(*old.active_count) + ")");
    if (old.exists && !has_primary_ && old.has_primary)
      result_.changes.push_back("the table has no primary key any more");
    if (!leaked_.empty())
      result_.changes.push_back("freed " + std::to_string(leaked_.size()) +
                                " blob block(s) that no record reached");
  }

  void KeepOldFiles(bool index_exists) {
    const std::string base = BackupBase(directory_, name_);
    auto keep = [&](const char* ext) {
      const std::string from = directory_.FileName(name_, ext);
      const std::string to = directory_.FileName(base, ext);
      std::error_code ec;
      fs::copy_file(from, to, ec);
      if (ec) RaiseEngineError(CAIRN_WRITEERR, to);
      result_.kept.push_back(to);
    };
    keep(".DAT");
    if (index_exists) keep(".IDX");
    if (blob_) keep(".BLB");
  }

  void ReplaceIndex() {
    index_->CloseIndexFile();
    index_.reset();
    // A rename replaces the old file in one step: a crash leaves one or the other.
    std::error_code ec;
    fs::rename(scratch_name_, directory_.FileName(name_, ".IDX"), ec);
    if (ec) RaiseEngineError(CAIRN_WRITEERR, directory_.FileName(name_, ".IDX"));
    scratch_name_.clear();
  }

  void FreeLeakedBlocks() {
    if (leaked_.empty()) return;
    for (uint32_t number : leaked_) {
      TBlockRef block(*blob_, blob_->ReadBlock(number, 1));
      blob_->FreeBlock(block.get());
    }
    blob_->FlushAll(true);
  }

  TDataDirectory& directory_;
  std::string name_;
  TRepairResult& result_;
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  std::string scratch_name_;
  std::string journal_note_;
  bool has_primary_ = false;
  std::vector<std::string> rebuilt_;
  std::vector<uint8_t> owner_;  // per blob block: 0 unseen, 1 in a chain, 2 free
  std::vector<uint32_t> leaked_;
};

}  // namespace

bool PlayBackLeftJournal(TDataDirectory& directory, std::string_view name, bool* kept_whole) {
  const std::string journal_name = directory.FileName(name, ".JNL");
  if (!fs::exists(journal_name)) return false;
  std::array<std::unique_ptr<TFileHandler>, TJournal::kFiles> files;
  std::array<TFileHandler*, TJournal::kFiles> handlers{};
  const char* extensions[TJournal::kFiles] = {".DAT", ".IDX", ".BLB"};
  for (int i = 0; i < TJournal::kFiles; ++i) {
    const std::string file = directory.FileName(name, extensions[i]);
    if (!fs::exists(file)) continue;
    files[size_t(i)] = std::make_unique<TFileHandler>(file);
    files[size_t(i)]->set_exclusive(true);
    try {
      files[size_t(i)]->Open();
    } catch (const ECairnEngineError& error) {
      if (error.code() == CAIRN_OSEACCES) return false;
      throw;
    }
    handlers[size_t(i)] = files[size_t(i)].get();
  }
  TJournal journal(journal_name, handlers);
  const bool recovered = journal.RecoverIfLeft();
  if (kept_whole) *kept_whole = journal.KeptWhole();
  return recovered;
}

TRepairResult RepairTable(TDataDirectory& directory, std::string_view name, bool dry_run) {
  TRepairResult result;
  try {
    TRepairer(directory, name, result).Run(dry_run);
  } catch (const TRefusal& refusal) {
    result.refused = refusal.reason;
    result.changes.clear();
    result.records = result.slots = result.freed_blocks = 0;
  }
  return result;
}

}  // namespace cairn
