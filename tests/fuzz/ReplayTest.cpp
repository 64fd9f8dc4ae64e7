// A fuzz target as a plain test: its seed corpus and every input kept in
// its findings folder run through the target once. A finding that crashed
// the fuzzer crashes this test until the fault is mended.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzInput.h"

TEST(FuzzReplay, SeedsRunClean) {
  const auto seeds = FuzzSeeds();
  EXPECT_FALSE(seeds.empty());
  for (const auto& s : seeds) EXPECT_EQ(LLVMFuzzerTestOneInput(s.data(), s.size()), 0);
}

TEST(FuzzReplay, FindingsRunClean) {
  namespace fs = std::filesystem;
  const fs::path dir = VELMORA_FUZZ_FINDINGS;
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  }
}
