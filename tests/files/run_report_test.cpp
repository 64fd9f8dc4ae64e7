// The pieces of the run report that stand on their own: the SHA-256 against
// the standard's vectors, the time stamps, the atomic write.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "RunReport.h"
#include "support/TestUtil.h"

TEST(RunReportTest, Sha256MatchesTheKnownVectorsHoweverItIsFed) {
  EXPECT_EQ(CSha256::Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(CSha256::Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the padding needs a second block.
  EXPECT_EQ(CSha256::Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  const std::string million(1000000, 'a');
  EXPECT_EQ(CSha256::Hex(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // Pieces of awkward sizes, across block boundaries, give the same digest.
  CSha256 pieces;
  for (size_t at = 0, step = 1; at < million.size(); at += step, step = step * 7 % 131 + 1)
    pieces.Update(million.data() + at, std::min(step, million.size() - at));
  const auto digest = pieces.Final();
  EXPECT_EQ(digest[0], 0xcd);
  EXPECT_EQ(digest[31], 0xd0);

  CTempDir tmp;
  const std::string path = tmp.Write("image.bin", std::vector<uint8_t>(million.begin(), million.end()));
  uint64_t size = 0;
  std::string sha;
  ASSERT_TRUE(HashFile(path, size, sha));
  EXPECT_EQ(size, 1000000u);
  EXPECT_EQ(sha, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_FALSE(HashFile(tmp.path() + "/missing.bin", size, sha));
}

TEST(RunReportTest, TimesAreIso8601WithMillisecondsAndZone) {
  const std::string t = IsoTime(std::chrono::system_clock::now());
  EXPECT_TRUE(std::regex_match(t, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)"))) << t;
}

TEST(RunReportTest, WriteReplacesTheFileWholeAndLeavesNothingBeside) {
  CTempDir tmp;
  const std::string path = tmp.path() + "/report.json";
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, "old\n", error)) << error;
  ASSERT_TRUE(WriteFileAtomically(path, "{\"new\":1}\n", error)) << error;
  std::stringstream read;
  read << std::ifstream(path).rdbuf();
  EXPECT_EQ(read.str(), "{\"new\":1}\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
  EXPECT_FALSE(WriteFileAtomically(tmp.path() + "/no/such/dir/report.json", "x", error));
#ifdef _WIN32
  // The system's own text, in the system's language.
  EXPECT_EQ(error.rfind(tmp.path() + "/no/such/dir/report.json: ", 0), 0u) << error;
  EXPECT_GT(error.size(), tmp.path().size() + 26) << error;
#else
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
#endif
}
