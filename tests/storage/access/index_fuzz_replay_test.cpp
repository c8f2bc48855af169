// Replays the fuzz corpora of the index file as a regular test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace cairn::fuzz {
int IndexPageFuzz(const uint8_t* data, size_t size);
int IndexFileFuzz(const uint8_t* data, size_t size);
}  // namespace cairn::fuzz

namespace {

std::vector<std::vector<uint8_t>> Corpus(const char* name) {
  std::vector<std::vector<uint8_t>> out;
  const std::filesystem::path dir = std::filesystem::path(TARN_FUZZ_CORPUS) / name;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return out;
}

TEST(IndexFuzzReplay, PageCorpus) {
  const auto corpus = Corpus("index_page");
  EXPECT_GT(corpus.size(), 5u);
  for (const auto& input : corpus) cairn::fuzz::IndexPageFuzz(input.data(), input.size());
}

TEST(IndexFuzzReplay, FileCorpus) {
  const auto corpus = Corpus("index_file");
  EXPECT_GT(corpus.size(), 2u);
  for (const auto& input : corpus) cairn::fuzz::IndexFileFuzz(input.data(), input.size());
}

}  // namespace
