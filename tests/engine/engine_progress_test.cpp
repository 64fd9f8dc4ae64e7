// What the operator sees: captions, status texts, elapsed time, log lines.
#include "EngineFixture.h"

#include "ControlIds.h"
#include "EngineProbe.h"

TEST_F(EngineTest, ProgressCaptionStatusAndTruncation) {
  auto& b = Bench(3);
  CVelmoraDlg& d = b.dlg();
  DownloadEntry& e = CEngineProbe::Binding(d, 2);
  CDownloadRun& run = CEngineProbe::NewRun(d);
  RunEntry& r = run.Entry(2);
  e.m_bConnected = 1;
  r.m_nState = STATE_FLASH_BLOCKS;
  r.m_nBlock = 25;
  run.m_nTotalBlocks = 100;
  run.m_nBaseOffset = 0x20000;
  CEngineProbe::SetImageSize(d, 0x180000);
  d.ShowEntryProgress(2);
  EXPECT_EQ(b.host().m_bars[2].m_strText, "Entry 3 : 25%");
  EXPECT_EQ(b.host().m_bars[2].m_nPos, 25);
  EXPECT_EQ(b.host().m_controls[kStatusIds[2]].text, "0x26400 / 0x180000");
  r.m_nBlock = 2;
  run.m_nTotalBlocks = 3;
  d.ShowEntryProgress(2);
  EXPECT_EQ(b.host().m_bars[2].m_strText, "Entry 3 : 66%");
  run.m_nTotalBlocks = 0;  // no division by zero
  d.ShowEntryProgress(2);
  EXPECT_EQ(b.host().m_bars[2].m_nPos, 0);
  e.m_bConnected = 0;
  r.m_nBlock = 1;
  run.m_nTotalBlocks = 2;
  d.ShowEntryProgress(2);
  EXPECT_EQ(b.host().m_bars[2].m_strText, "Entry 3 : 0%");
  e.m_bConnected = 1;
  for (auto [state, caption] : {std::pair{STATE_COMPLETE, "Download Completed."}, {STATE_ERASING, "Erasing Flash..."},
                               {STATE_STEP_WAIT, "Preparing..."}}) {
    r.m_nState = state;
    d.ShowEntryProgress(2);
    EXPECT_EQ(b.host().m_bars[2].m_strText, caption);
    EXPECT_EQ(b.host().m_bars[2].m_nPos, 100);
  }
}

TEST_F(EngineTest, ElapsedTimeIsMinutesAndSeconds) {
  auto& b = Bench(1);
  CEngineProbe::StartClock(b.dlg());
  b.host().SetNow(b.host().Now() + 125000);
  b.dlg().ShowElapsedTime();
  EXPECT_EQ(b.host().m_controls[IDC_ELAPSED].text, "Elapsed time : 2 min 5 sec");
}

TEST_F(EngineTest, ResetProgressGivesErrorBarsTheirColoursBackButKeepsTheCaption) {
  auto& b = Bench(1);
  b.dlg().ShowEntryError(0);
  EXPECT_EQ(b.host().m_bars[0].m_strText, "Error!");
  EXPECT_EQ(b.host().m_bars[0].m_nPos, 0);
  b.dlg().ResetProgress();
  EXPECT_EQ(b.host().m_bars[0].m_bg, MakeRgb(192, 192, 192));
  EXPECT_EQ(b.host().m_bars[0].m_textOnBg, MakeRgb(0, 0, 128));
  EXPECT_EQ(b.host().m_bars[0].m_bar, MakeRgb(0, 0, 128));
  EXPECT_EQ(b.host().m_bars[0].m_textOnBar, MakeRgb(255, 255, 255));
  EXPECT_EQ(b.host().m_bars[0].m_strText, "Error!");
}

TEST_F(EngineTest, LogLinesAreColouredByKindAndDrainedInOrder) {
  auto& b = Bench(1);
  CVelmoraDlg& d = b.dlg();
  CEngineProbe::Binding(d, 0).m_bConnected = 1;
  d.PutLog(0, LOG_ERROR, "e");
  d.PutLog(0, LOG_STATUS, "s");
  d.PutLog(0, LOG_INFO, "i");
  d.PutLog(0, 9, "");
  b.Pump();
  const auto& lines = b.host().m_logs[0];
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].colour, MakeRgb(255, 0, 0));
  EXPECT_EQ(lines[1].colour, MakeRgb(0, 0, 0));
  EXPECT_EQ(lines[2].colour, MakeRgb(0, 0, 255));
  EXPECT_EQ(lines[3].colour, MakeRgb(0, 0, 255));
  EXPECT_EQ(lines[3].text, "");
  CEngineProbe::Binding(d, 0).m_bConnected = 0;
  d.PutLog(0, LOG_INFO, "dropped");
  b.Pump();
  EXPECT_EQ(lines.size(), 4u);
}

TEST_F(EngineTest, PutLogOnAFullQueueLosesNoLine) {
  auto& b = Bench(1);
  CVelmoraDlg& d = b.dlg();
  CEngineProbe::Binding(d, 0).m_bConnected = 1;
  for (int k = 0; k < 250; ++k) d.PutLog(0, LOG_INFO, std::to_string(k));
  b.Pump();
  const auto& lines = b.host().m_logs[0];
  ASSERT_EQ(lines.size(), 250u);
  for (int k = 0; k < 250; ++k) EXPECT_EQ(lines[k].text, std::to_string(k));
}

TEST_F(EngineTest, SliderShowsOneEntryView) {
  auto& b = Bench(1);
  b.host().SetSliderPos(IDC_ENTRY_SLIDER, 4);
  b.dlg().WindowProc(WM_SLIDER_CHANGED, 0, 0);
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(b.host().m_controls[kLogViewIds[k]].shown, k == 4);
    EXPECT_EQ(b.host().m_controls[kStatusIds[k]].shown, k == 4);
  }
  EXPECT_EQ(b.host().m_controls[IDC_ENTRY_LABEL].text, "Entry 5");
  EXPECT_EQ(b.host().m_controls[IDC_ENTRY_COMBO].comboSel, 4);
}

TEST_F(EngineTest, PortLabelsFollowTheBoundPorts) {
  auto& b = Bench(2);
  CVelmoraDlg& d = b.dlg();
  d.BindPort(0, 5);
  d.BindPort(1, 7);
  EXPECT_EQ(b.host().m_controls[kPortLabelIds[0]].text, "[COM5]");
  EXPECT_EQ(b.host().m_controls[kPortLabelIds[1]].text, "[COM7]");
  EXPECT_TRUE(b.host().m_controls[kEntryCheckIds[1]].enabled);
  for (int k = 2; k < 20; ++k) {
    EXPECT_FALSE(b.host().m_controls[kEntryCheckIds[k]].enabled);
    EXPECT_EQ(b.host().m_controls[kPortLabelIds[k]].text, "");
  }
}

TEST_F(EngineTest, EnableControlsTiesChangeDownloaderToItsFlag) {
  auto& b = Bench(1);
  ChangeChoices(b.dlg(), [](ImageChoices& c) { c.m_bChangeDownloader = 0; });
  b.dlg().EnableControls(1);
  EXPECT_FALSE(b.host().m_controls[IDC_CHANGE_DOWNLOADER].enabled);
  ChangeChoices(b.dlg(), [](ImageChoices& c) { c.m_bChangeDownloader = 1; });
  b.dlg().EnableControls(1);
  EXPECT_TRUE(b.host().m_controls[IDC_CHANGE_DOWNLOADER].enabled);
  b.dlg().EnableControls(0);
  EXPECT_FALSE(b.host().m_controls[IDC_CHANGE_DOWNLOADER].enabled);
  EXPECT_FALSE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_FALSE(b.host().m_controls[IDC_PORT_LIST].enabled);
}
