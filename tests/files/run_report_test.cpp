// The run report: its pieces that stand on their own (the SHA-256 against
// the standard's vectors, the time stamps, the atomic write, the append),
// and the report of whole runs on in-process handsets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "ControlIds.h"
#include "FakeBench.h"
#include "JsonValue.h"
#include "RunReport.h"
#include "support/TestUtil.h"

namespace {
std::string Slurp(const std::string& path) {
  std::stringstream read;
  read << std::ifstream(path, std::ios::binary).rdbuf();
  return read.str();
}
}  // namespace

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

TEST(RunReportTest, AppendingAddsLinesAndGivesATornLastLineItsEnd) {
  CTempDir tmp;
  const std::string path = tmp.path() + "/shift.jsonl";
  std::string error;
  ASSERT_TRUE(AppendFileDurably(path, "{\"batch\":1}\n", error)) << error;
  ASSERT_TRUE(AppendFileDurably(path, "{\"batch\":2}\n", error)) << error;
  std::ofstream(path, std::ios::app | std::ios::binary) << "{\"bat";  // a crash in the middle of a line
  ASSERT_TRUE(AppendFileDurably(path, "{\"batch\":3}\n", error)) << error;
  EXPECT_EQ(Slurp(path), "{\"batch\":1}\n{\"batch\":2}\n{\"bat\n{\"batch\":3}\n");
  EXPECT_FALSE(AppendFileDurably(tmp.path() + "/no/such/dir/shift.jsonl", "x\n", error));
  EXPECT_EQ(error.rfind(tmp.path() + "/no/such/dir/shift.jsonl: ", 0), 0u) << error;
}

class RunReportOfARunTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProgramState(m_tmp.path()); }
  CTempDir m_tmp;
};

TEST_F(RunReportOfARunTest, EveryStringIsUtf8WhateverBytesAHandsetAnswered) {
  EXPECT_FALSE(JsonValue::Parse("\"\xB1\""));  // the tests' reader is as strict as others

  CFakeBench b(2);
  b.handset(1).version = "\xB1.0\xFF" "1";
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), 0x10000 + 2048, 0x10000));
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  const std::string text = BuildRunReport(*b.dlg().LastRun(), "velmora");
  const std::optional<JsonValue> report = JsonValue::Parse(text);
  ASSERT_TRUE(report) << text;
  ASSERT_EQ((*report)["entries"].a.size(), 2u);
  const JsonValue& odd = (*report)["entries"].a[1];
  EXPECT_EQ(odd["result"].s, "failed");
  EXPECT_EQ(odd["reason"].s, "version이 다릅니다.다른 tool을 이용하세요.");
  std::vector<std::string> log;
  for (const JsonValue& line : odd["log"].a) log.push_back(line.s);
  EXPECT_NE(std::find(log.begin(), log.end(), "Version: \uFFFD.0\uFFFD1"), log.end()) << text;
}

TEST_F(RunReportOfARunTest, TheImagesAreThoseTheRunWroteThoughItGaveTheEfs2FolderUp) {
  m_tmp.Write("efs/b.efs", PatternBytes(2500, 5));
  m_tmp.Write("efs/a.efs", PatternBytes(2048, 6));
  const std::string phone = MakePhoneImage(m_tmp.path(), 0x10000 + 2048, 0x10000);
  for (const bool withPhone : {false, true}) {
    SCOPED_TRACE(withPhone ? "EFS2, then the phone code" : "EFS2 alone");
    ResetProgramState(m_tmp.path());
    CFakeBench b(1);
    b.BindAll();
    b.host().m_folderAnswers.push_back(m_tmp.path() + "/efs");
    b.host().Click(IDC_EFS2, 1);
    if (withPhone) b.ChoosePhone(phone);
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
    ASSERT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
    ASSERT_EQ(b.dlg().Choices().m_bEfs2, 0);  // the run let the folder go
    const std::optional<JsonValue> report = JsonValue::Parse(BuildRunReport(*b.dlg().LastRun(), "velmora"));
    ASSERT_TRUE(report);
    std::vector<std::string> images;
    for (const JsonValue& image : (*report)["images"].a) {
      const std::string& path = image["path"].s;
      images.push_back(image["kind"].s + " " + std::filesystem::path(path).filename().string());
      EXPECT_EQ(image["size"].Int(), static_cast<long>(std::filesystem::file_size(path)));
      EXPECT_EQ(image["sha256"].s, CSha256::Hex(Slurp(path)));
    }
    std::vector<std::string> want = {"efs2 a.efs", "efs2 b.efs"};
    if (withPhone) want.push_back("phone " + std::filesystem::path(phone).filename().string());
    EXPECT_EQ(images, want);
  }
}
