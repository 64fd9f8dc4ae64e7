// The engine's file system calls on Windows: UTF-8 paths reach the system
// as UTF-16, names come back as UTF-8, and what is not a file on a disk (a
// device name such as NUL) is never opened as an image.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/AtomicWrite.h"
#include "platform/OsFile.h"
#include "RunReport.h"
#include "platform/WinApi.h"
#include "support/TempDir.h"

namespace {

TEST(OsFileWin32, KoreanNamesGoBothWays) {
  CTempDir dir;
  const std::string folder = dir / "이미지";
  WriteFile(folder + "/폰 코드.bin", {1, 2, 3, 4, 5});
  WriteFile(folder + "/sub/x.txt", {9});

  std::vector<std::string> names;
  ASSERT_TRUE(OsListFolder(folder, names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"sub", "폰 코드.bin"}));
  EXPECT_EQ(OsKindOf(folder + "\\폰 코드.bin"), OsPathKind::File);
  EXPECT_EQ(OsKindOf(folder + "/sub"), OsPathKind::Folder);
  EXPECT_EQ(OsKindOf(folder + "/없음"), OsPathKind::Missing);
  EXPECT_FALSE(OsListFolder(folder + "/없음", names));

  COsFile file;
  ASSERT_TRUE(file.Open(folder + "/폰 코드.bin"));
  uint64_t size = 0;
  std::time_t modified = 0;
  ASSERT_TRUE(file.Status(size, modified));
  EXPECT_EQ(size, 5u);
  EXPECT_GT(modified, std::time_t{1600000000});
  uint8_t bytes[8] = {};
  EXPECT_EQ(file.ReadAt(bytes, sizeof bytes, 3), 2);
  EXPECT_EQ(bytes[0], 4);
  EXPECT_EQ(file.Read(bytes, 2), 2);
  EXPECT_EQ(file.Read(bytes, 8), 3);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(file.Read(bytes, 8), 0);

  // One folder by either separator, and through "..".
  OsFolderId a, b;
  ASSERT_TRUE(OsFolderIdOf(folder + "/sub", a));
  ASSERT_TRUE(OsFolderIdOf(folder + "\\sub\\..\\sub", b));
  EXPECT_EQ(a, b);
  EXPECT_FALSE(OsFolderIdOf(folder + "/폰 코드.bin", a));
  const std::string canonical = OsCanonicalPath(folder + "/sub/../폰 코드.bin");
  EXPECT_EQ(canonical.rfind("C:\\", 0), 0u) << canonical;
  const std::string tail = "\\이미지\\폰 코드.bin";
  ASSERT_GT(canonical.size(), tail.size());
  EXPECT_EQ(canonical.substr(canonical.size() - tail.size()), tail) << canonical;
}

TEST(OsFileWin32, OnlyFilesOnADiskAreOpened) {
  CTempDir dir;
  COsFile file;
  EXPECT_FALSE(file.Open(dir.path()));  // a folder
  EXPECT_FALSE(file.Open("NUL"));       // a device, in any folder
  EXPECT_FALSE(file.Open(dir / "NUL"));
  EXPECT_FALSE(file.Open(""));
  EXPECT_NE(OsKindOf("NUL"), OsPathKind::File);
}

TEST(OsFileWin32, AtomicReplaceTakesTheOldFilesPlace) {
  CTempDir dir;
  const std::string path = dir / "설정.ini";
  WriteFile(path, {'o', 'l', 'd'});
  CAtomicFile file(path);
  ASSERT_TRUE(file.Create(0644));
  ASSERT_TRUE(WriteFully(file.Fd(), "new", 3));
  ASSERT_TRUE(file.Sync());
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(ReadFile(path), (std::vector<uint8_t>{'o', 'l', 'd'}));  // untouched until the replace
  ASSERT_TRUE(file.Replace());
  EXPECT_EQ(ReadFile(path), (std::vector<uint8_t>{'n', 'e', 'w'}));
  std::vector<std::string> names;
  ASSERT_TRUE(OsListFolder(dir.path(), names));
  EXPECT_EQ(names, std::vector<std::string>{"설정.ini"});
}

TEST(OsFileWin32, EnvironmentAndLocalTime) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_TEST_VALUE", L"\xD55C\xAE00"));  // 한글
  EXPECT_EQ(OsEnvironment("VELMORA_TEST_VALUE"), "한글");
  SetEnvironmentVariableW(L"VELMORA_TEST_VALUE", nullptr);
  EXPECT_EQ(OsEnvironment("VELMORA_TEST_VALUE"), "");
  std::tm tm{};
  ASSERT_TRUE(OsLocalTime(86400 * 365, tm));
  EXPECT_EQ(tm.tm_year, 71);
  EXPECT_FALSE(OsHostName().empty());
}

TEST(OsFileWin32, RunReportsGoBelowLocalAppData) {
  CTempDir dir;
  wchar_t old[MAX_PATH] = {};
  const bool had = GetEnvironmentVariableW(L"LOCALAPPDATA", old, MAX_PATH) > 0;
  ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", WideFromUtf8(dir / "사용자").c_str()));
  const std::string runs = DefaultRunReportDir();
  SetEnvironmentVariableW(L"LOCALAPPDATA", had ? old : nullptr);
  EXPECT_EQ(runs, dir / "사용자" + "\\velmora\\runs");
  std::string error;
  std::error_code ec;
  std::filesystem::create_directories(FsPath(runs), ec);
  ASSERT_TRUE(WriteFileAtomically(runs + "\\report.json", "{}\n", error)) << error;
  EXPECT_EQ(ReadFile(runs + "/report.json"), (std::vector<uint8_t>{'{', '}', '\n'}));
}

}  // namespace
