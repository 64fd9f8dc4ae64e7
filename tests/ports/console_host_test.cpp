// velmora-cli's console host, built from its sources: it prints what the
// dialog says and keeps none of it, so that a station's memory does not
// grow with its shift.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "ConsoleHost.h"
#include "ControlIds.h"
#include "TestUtil.h"

TEST(ConsoleHostTest, KeepsNoneOfTheLinesAndBoxesItPrinted) {
  CTempDir tmp;
  ResetProgramState(tmp.path());
  std::filesystem::create_directories(tmp.path() + "/efs/sub");  // a folder without a file
  CConsoleHost host(false);
  CVelmoraDlg dlg(host);
  host.SetDialog(&dlg);
  dlg.OnInitDialog();
  // What it prints goes nowhere here.
  std::fflush(stdout);
  const int console = ::dup(STDOUT_FILENO), none = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(none, STDOUT_FILENO);
  for (int k = 0; k < 50; ++k) {
    host.Click(IDC_DOWNLOAD);  // a box: nothing chosen
    host.m_folderAnswers.push_back(tmp.path() + "/efs");
    host.Click(IDC_EFS2, 1);  // a log line ("EFS2: sub left out"), then a box
    host.DispatchPending();
  }
  std::fflush(stdout);
  ::dup2(console, STDOUT_FILENO);
  ::close(console);
  ::close(none);
  EXPECT_EQ(host.LastBox(), "해당 EFS 파일이 존재하지 않습니다. - 토리몽");
  EXPECT_EQ(host.m_boxes.size(), 0u);
  EXPECT_EQ(host.m_fileDialogs.size(), 0u);
  for (const auto& log : host.m_logs) EXPECT_EQ(log.size(), 0u);
}
