#include <cstdlib>
#include <filesystem>
#include <utility>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "platform/Registry.h"

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_store = m_dir / "nested/velmora/settings.ini";
    CRegistry::SetStorePath(m_store);
  }
  void TearDown() override { CRegistry::SetStorePath(""); }

  CTempDir m_dir;
  std::string m_store;
};

TEST_F(RegistryTest, NoStoreReadsEmptyAndFirstWriteCreatesIt) {
  for (const char* name : {"BIN_PATH", "NEW_PHONE_BIN_PATH", "NEW_MEGA_BOOT_PATH",
                           "NEW_MEGA_CODE_PATH", "NEW_MEGA_CONTENTS_PATH"}) {
    EXPECT_EQ(CRegistry::ReadString(name), "") << name;
  }
  EXPECT_FALSE(std::filesystem::exists(m_store));  // reading creates nothing

  ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", "D:\\img\\"));
  EXPECT_EQ(Text(ReadFile(m_store)), "[VELMORA]\nBIN_PATH=D:\\img\\\n");
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "D:\\img\\");
}

TEST_F(RegistryTest, ValuesReadBackExactlyAndKeepEachOther) {
  ASSERT_TRUE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", "/home/op/images/"));
  ASSERT_TRUE(CRegistry::WriteString("NEW_MEGA_BOOT_PATH", " /with spaces/ 한글 = ok/ "));
  EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "/home/op/images/");
  EXPECT_EQ(CRegistry::ReadString("NEW_MEGA_BOOT_PATH"), " /with spaces/ 한글 = ok/ ");

  // Rewriting one value replaces it in place and leaves the other alone.
  ASSERT_TRUE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", "/other/"));
  EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "/other/");
  EXPECT_EQ(CRegistry::ReadString("NEW_MEGA_BOOT_PATH"), " /with spaces/ 한글 = ok/ ");
  EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN"), "");  // no prefix matches

  ASSERT_TRUE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", ""));
  EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "");
  EXPECT_EQ(CRegistry::ReadString("NEW_MEGA_BOOT_PATH"), " /with spaces/ 한글 = ok/ ");
}

TEST_F(RegistryTest, OverlongValuesAndLineBreaksAreRefusedNotCut) {
  ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", "/kept/"));
  const std::vector<uint8_t> before = ReadFile(m_store);

  EXPECT_FALSE(CRegistry::WriteString("BIN_PATH", std::string(128, 'a')));
  EXPECT_FALSE(CRegistry::WriteString("BIN_PATH", "/a\n/b/"));
  EXPECT_FALSE(CRegistry::WriteString("BIN_PATH", "/a\r/b/"));
  EXPECT_FALSE(CRegistry::WriteString("BAD=NAME", "/x/"));
  EXPECT_FALSE(CRegistry::WriteString("", "/x/"));
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "/kept/");
  EXPECT_EQ(ReadFile(m_store), before);

  const std::string longest(127, 'b');
  ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", longest));
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), longest);
}

TEST_F(RegistryTest, OnlyItsOwnSectionCountsAndOthersSurvive) {
  WriteFile(m_store, {});
  {
    std::string text = "# hand-written\n[OTHER]\nBIN_PATH=/not/ours/\n\n[VELMORA]\r\nNEW_MEGA_CODE_PATH=/c/\r\n\n[LAST]\nx=1\n";
    WriteFile(m_store, std::vector<uint8_t>(text.begin(), text.end()));
  }
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "");
  EXPECT_EQ(CRegistry::ReadString("NEW_MEGA_CODE_PATH"), "/c/");

  ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", "/ours/"));
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "/ours/");
  const std::string after = Text(ReadFile(m_store));
  EXPECT_NE(after.find("[OTHER]\nBIN_PATH=/not/ours/\n"), std::string::npos);
  EXPECT_NE(after.find("[VELMORA]\nNEW_MEGA_CODE_PATH=/c/\nBIN_PATH=/ours/\n\n[LAST]\nx=1\n"),
            std::string::npos);
  EXPECT_EQ(after.rfind("# hand-written\n", 0), 0u);
}

TEST_F(RegistryTest, WritesLeaveNoTemporaryFiles) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", "/p" + std::to_string(i) + "/"));
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(m_store).parent_path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "/p4/");
}

TEST_F(RegistryTest, UnusableStoreFailsSilently) {
  // A folder where the file should be: it can be neither read nor replaced.
  std::filesystem::create_directories(m_store);
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "");
  EXPECT_FALSE(CRegistry::WriteString("BIN_PATH", "/x/"));
  EXPECT_TRUE(std::filesystem::is_directory(m_store));
}

TEST(RegistryPath, DefaultsFollowTheEnvironment) {
  auto saved = [](const char* name) {
    const char* v = std::getenv(name);
    return std::make_pair(v != nullptr, std::string(v ? v : ""));
  };
  auto restore = [](const char* name, const std::pair<bool, std::string>& v) {
    if (v.first) ::setenv(name, v.second.c_str(), 1); else ::unsetenv(name);
  };
  const auto explicitPath = saved("VELMORA_SETTINGS");
  const auto xdg = saved("XDG_CONFIG_HOME");
  const auto home = saved("HOME");

  CRegistry::SetStorePath("");
  ::setenv("VELMORA_SETTINGS", "/tmp/explicit.ini", 1);
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(CRegistry::StorePath(), "/tmp/explicit.ini");
  ::unsetenv("VELMORA_SETTINGS");
  EXPECT_EQ(CRegistry::StorePath(), "/tmp/xdg/velmora/settings.ini");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/home/op", 1);
  EXPECT_EQ(CRegistry::StorePath(), "/home/op/.config/velmora/settings.ini");
  CRegistry::SetStorePath("/tmp/chosen.ini");
  EXPECT_EQ(CRegistry::StorePath(), "/tmp/chosen.ini");
  CRegistry::SetStorePath("");

  restore("VELMORA_SETTINGS", explicitPath);
  restore("XDG_CONFIG_HOME", xdg);
  restore("HOME", home);
}

}  // namespace
