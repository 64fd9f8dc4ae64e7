// The settings in the registry: written under HKEY_CURRENT_USER, read from
// there first and then from HKEY_LOCAL_MACHINE, where an older installation
// (64-bit or 32-bit) left its values.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/WinApi.h"

namespace {

class RegistryWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    m_key = std::string("SOFTWARE\\NORVANE\\VELMORA-TEST\\") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Clean();
    CRegistry::SetStorePath(m_key);
  }
  void TearDown() override {
    Clean();
    CRegistry::SetStorePath("");
  }
  void Clean() const {
    const std::wstring key = WideFromUtf8(m_key);
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      HKEY handle = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | view, &handle) == ERROR_SUCCESS) {
        RegDeleteTreeW(handle, nullptr);
        RegCloseKey(handle);
      }
    }
  }

  // Sets a value below `root` as an installer would, without CRegistry.
  void Put(HKEY root, REGSAM view, const std::string& name, DWORD type, const std::wstring& data) const {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, WideFromUtf8(m_key).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &handle,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(handle, WideFromUtf8(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(handle);
  }
  void PutMachine(const std::string& name, const std::wstring& text, REGSAM view = KEY_WOW64_64KEY) const {
    Put(HKEY_LOCAL_MACHINE, view, name, REG_SZ, text);
  }

  // A value as stored below `root`, with its type; nothing when absent.
  std::optional<std::pair<DWORD, std::wstring>> Stored(HKEY root, const std::string& name) const {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, WideFromUtf8(m_key).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
      return std::nullopt;
    wchar_t data[512] = {};
    DWORD type = 0, bytes = sizeof data - sizeof(wchar_t);
    const LSTATUS status =
        RegQueryValueExW(handle, WideFromUtf8(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return std::make_pair(type, std::wstring(data, bytes / sizeof(wchar_t)));
  }

  std::string m_key;
};

TEST_F(RegistryWin32Test, WritesGoToTheUserAsUtf16AndReadBackExactly) {
  CRegistry::SetStorePath("");
  EXPECT_EQ(CRegistry::StorePath(), "SOFTWARE\\NORVANE\\VELMORA");
  CRegistry::SetStorePath(m_key);

  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "");  // no key yet
  ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", "D:\\이미지\\폰\\"));
  const auto user = Stored(HKEY_CURRENT_USER, "BIN_PATH");
  ASSERT_TRUE(user);
  EXPECT_EQ(user->first, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(user->second, std::wstring(L"D:\\\xC774\xBBF8\xC9C0\\\xD3F0\\") + L'\0');  // with its terminator
  EXPECT_FALSE(Stored(HKEY_LOCAL_MACHINE, "BIN_PATH"));
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "D:\\이미지\\폰\\");

  // The limits hold as for the settings file: refused, never cut.
  EXPECT_FALSE(CRegistry::WriteString("BIN_PATH", std::string(128, 'a')));
  EXPECT_FALSE(CRegistry::WriteString("BIN_PATH", "a\nb"));
  EXPECT_FALSE(CRegistry::WriteString("[PORTS]", "x"));
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "D:\\이미지\\폰\\");
  ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", ""));
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "");
}

TEST_F(RegistryWin32Test, MachineValuesAreReadAndTheUsersOverrideThem) {
  PutMachine("BIN_PATH", L"C:\\old\\");
  PutMachine("NEW_PHONE_BIN_PATH", L"C:\\wow\\", KEY_WOW64_32KEY);  // a 32-bit installation's
  PutMachine("ERASE_LIMIT_S", L"45");
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "C:\\old\\");
  EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "C:\\wow\\");
  EXPECT_EQ(CRegistry::ReadSeconds("ERASE_LIMIT_S", 300), 45);

  ASSERT_TRUE(CRegistry::WriteString("BIN_PATH", "C:\\new\\"));
  EXPECT_EQ(CRegistry::ReadString("BIN_PATH"), "C:\\new\\");
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, "BIN_PATH")->second, std::wstring(L"C:\\old\\") + L'\0');  // left alone
  // Even an empty value of the user's hides the machine's.
  ASSERT_TRUE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", ""));
  EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "");

  // A value no version of the program wrote is not used.
  Put(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "NEW_MEGA_BOOT_PATH", REG_SZ, std::wstring(128, L'x'));
  Put(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "NEW_MEGA_CODE_PATH", REG_MULTI_SZ, std::wstring(L"C:\\a\\") + L'\0');
  EXPECT_EQ(CRegistry::ReadString("NEW_MEGA_BOOT_PATH"), "");
  EXPECT_EQ(CRegistry::ReadString("NEW_MEGA_CODE_PATH"), "");
}

TEST_F(RegistryWin32Test, SectionsAreOneMultiStringValueOfTheUser) {
  std::vector<std::string> lines{"stale"};
  ASSERT_TRUE(CRegistry::ReadSection("PORTS", lines));
  EXPECT_TRUE(lines.empty());

  ASSERT_TRUE(CRegistry::WriteSection("PORTS", {"3 17 path:포트-1.2", "", "5 9 serial:x"}));
  const auto stored = Stored(HKEY_CURRENT_USER, "[PORTS]");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->first, static_cast<DWORD>(REG_MULTI_SZ));
  ASSERT_TRUE(CRegistry::ReadSection("PORTS", lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"3 17 path:포트-1.2", "5 9 serial:x"}));
  EXPECT_EQ(CRegistry::ReadString("PORTS"), "");  // a section is no value

  EXPECT_FALSE(CRegistry::WriteSection("PORTS", {"[OTHER]"}));
  EXPECT_FALSE(CRegistry::WriteSection("PORTS", {"a\nb"}));
  ASSERT_TRUE(CRegistry::ReadSection("PORTS", lines));
  EXPECT_EQ(lines.size(), 2u);

  ASSERT_TRUE(CRegistry::WriteSection("PORTS", {}));  // no lines: the section goes
  EXPECT_FALSE(Stored(HKEY_CURRENT_USER, "[PORTS]"));
  ASSERT_TRUE(CRegistry::ReadSection("PORTS", lines));
  EXPECT_TRUE(lines.empty());
}

}  // namespace
