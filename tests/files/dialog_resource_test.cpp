#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/PhoneImage.h"
#include "support/TempDir.h"
#include "FolderBrowser.h"
#include "VelmoraDlg.h"
#include "headless/HeadlessHost.h"

namespace fs = std::filesystem;

namespace {

const std::string kDone = "Resource Binary(K470_rsc.bin)가 생성되었습니다.  ";

TEST(FolderBrowser, PathOnlyWhenAFolderWasPicked) {
  CHeadlessHost host;
  CFolderBrowser browser(host);
  host.m_folderAnswers = {std::string("/data/res"), std::nullopt, std::string("")};
  ASSERT_TRUE(browser.Browse());
  EXPECT_EQ(browser.GetPath(), "/data/res");
  EXPECT_FALSE(browser.Browse());  // cancelled
  EXPECT_EQ(browser.GetPath(), "");
  host.m_folderAnswers.push_front(std::string("/again"));
  ASSERT_TRUE(browser.Browse());
  EXPECT_FALSE(browser.Browse());  // an empty path is no choice
  EXPECT_EQ(browser.GetPath(), "");
}

class DialogResourceTest : public ::testing::Test {
 protected:
  CTempDir m_dir;
  CHeadlessHost m_host;
  CVelmoraDlg m_dlg{m_host};
};

TEST_F(DialogResourceTest, BuildEndsWithTheCompletionMessage) {
  WriteFile(m_dir / "logo.jpg", PatternBytes(3000));
  m_host.m_folderAnswers.push_back(m_dir.path());
  m_dlg.OnCreateResourceBinary();
  ASSERT_EQ(m_host.m_boxes.size(), 1u);
  EXPECT_EQ(m_host.m_boxes[0].text, kDone);
  EXPECT_EQ(m_host.m_boxes[0].type, MB_OK);
  EXPECT_EQ(ReadFile(m_dir / "K470_rsc.bin").size(), 4096u);
}

TEST_F(DialogResourceTest, CancelDoesNothing) {
  m_host.m_folderAnswers.push_back(std::nullopt);
  m_dlg.OnCreateResourceBinary();
  EXPECT_TRUE(m_host.m_boxes.empty());
  EXPECT_FALSE(fs::exists(m_dir / "K470_rsc.bin"));
}

TEST_F(DialogResourceTest, FailureIsShownInsteadOfCompletion) {
  WriteFile(m_dir / (std::string(120, 'x') + ".txt"), {1});
  m_host.m_folderAnswers.push_back(m_dir.path());
  m_dlg.OnCreateResourceBinary();
  ASSERT_EQ(m_host.m_boxes.size(), 1u);
  EXPECT_NE(m_host.m_boxes[0].text, kDone);
  EXPECT_NE(m_host.m_boxes[0].text.find(std::string(120, 'x')), std::string::npos);
  EXPECT_EQ(m_host.m_boxes[0].type, MB_OK | MB_ICONHAND);
  EXPECT_FALSE(fs::exists(m_dir / "K470_rsc.bin"));
}

TEST_F(DialogResourceTest, UnmeasurableEntryIsReportedThenPackedEmpty) {
  fs::create_directories(m_dir / "old.set");
  m_host.m_folderAnswers.push_back(m_dir.path());
  m_dlg.OnCreateResourceBinary();
  ASSERT_EQ(m_host.m_boxes.size(), 2u);
  EXPECT_EQ(m_host.m_boxes[0].text,
            " Fail to read from " + (m_dir / "old.set") + "\n Please Check bin_file !");
  EXPECT_EQ(m_host.m_boxes[1].text, kDone);
  EXPECT_EQ(ReadFile(m_dir / "K470_rsc.bin").size(), 1024u);
}

}  // namespace
