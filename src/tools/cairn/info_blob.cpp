// The blob file's section of `cairn info`: header, size and free list.
#include <filesystem>
#include <unordered_set>

#include "storage/base/engine_error.h"
#include "storage/files/blob_file.h"
#include "storage/files/data_file.h"
#include "tools/cairn/info.h"

namespace cairn::tool {

void InfoBlob(const TTablePath& table, TInfoReport& report) {
  std::ostream& t = report.text;
  const std::string path = table.BlobFile();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    // Only tables with blob fields have one.
    report.json["blob"] = nullptr;
    t << "\nBlob file: none\n";
    return;
  }
  nlohmann::ordered_json& j = report.json["blob"];
  j = nlohmann::ordered_json::object();
  j["file"] = path;
  t << "\nBlob file " << path << '\n';
  auto fail = [&](const std::string& message) {
    j["error"] = message;
    t << "  error: " << message << '\n';
    report.failed = true;
  };

  // Block size and scrambling are the data file's.
  uint32_t block_size = 0;
  bool encrypted = false;
  try {
    TDataFile data(table.name);
    data.set_file_name(table.DataFile());
    data.Open();
    block_size = data.BlobBlockSize();
    encrypted = data.Encrypted();
  } catch (const ECairnEngineError& e) {
    fail(std::string("block size unknown: ") + e.what());
    return;
  }

  TBlobFile file(table.name, path, block_size, encrypted);
  try {
    file.Open();
  } catch (const ECairnEngineError& e) {
    fail(e.what());
    return;
  }
  const uint64_t size = uint64_t(file.Size());
  const uint64_t expected = blob::BlockOffset(file.BlockSize(), file.NextBlockNumber());
  auto& hj = j["header"];
  hj["changeCounter"] = file.ChangeCounter();
  hj["signature"] = file.HeaderImage()[blob::kHdrSignature];
  hj["blockSize"] = file.BlockSize();
  hj["nextBlock"] = file.NextBlockNumber();
  hj["freeListHead"] = file.FreeListHead();
  j["blocks"] = file.LastBlockNumber();
  j["fileSize"] = size;
  j["expectedSize"] = expected;

  // The free list, walked with the same range and cycle checks as a chain.
  std::string check = "ok";
  uint32_t free_blocks = 0;
  try {
    std::unordered_set<uint32_t> seen;
    for (uint32_t n = file.FreeListHead(); n != 0;) {
      if (n > file.LastBlockNumber() || !seen.insert(n).second)
        RaiseEngineError(CAIRN_MEMOCORRUPT, table.name);
      TBlockRef block(file, file.ReadBlock(n, file.Cache().ReadAhead()));
      ++free_blocks;
      n = block->Next();
    }
  } catch (const ECairnEngineError& e) {
    check = std::string("free list: ") + e.what();
  }
  if (check == "ok" && size != expected) {
    check = "file holds " + std::to_string(size) + " bytes, the header counts " +
            std::to_string(expected);
  }
  j["freeBlocks"] = free_blocks;
  j["check"] = check;

  InfoLine(t, "change counter", std::to_string(file.ChangeCounter()));
  InfoLine(t, "format signature", std::to_string(file.HeaderImage()[blob::kHdrSignature]));
  InfoLine(t, "block size", std::to_string(file.BlockSize()));
  InfoLine(t, "blocks", std::to_string(file.LastBlockNumber()));
  InfoLine(t, "free list head", std::to_string(file.FreeListHead()));
  InfoLine(t, "free blocks", std::to_string(free_blocks));
  InfoLine(t, "file size", std::to_string(size));
  InfoLine(t, "check", check);
}

}  // namespace cairn::tool
