// A bench where the window stays open all day: buttons pressed during a run,
// bindings changed between runs, entries left out of a run.
#include "EngineFixture.h"

#include "ControlIds.h"
#include "ports/PortSearchOptions.h"

namespace {
constexpr uint32_t kStart = 0x10000;
// Enough blocks that every entry is flashing before the first one ends.
constexpr size_t kImageSize = kStart + 8 * 1024 + 100;

bool AllCompleted(CFakeBench& b, std::initializer_list<int> entries) {
  bool all = true;
  for (int k : entries) all = all && b.dlg().Outcome(k).m_nResult == RESULT_COMPLETED;
  return all;
}

int PhoneRequests(const FakeHandset& h) {
  int n = 0;
  for (const auto& r : h.requests) n += r[0] == 0xA0;
  return n;
}

/// Port Search looks into empty trees while alive: it finds no handset.
struct NoHandsetsToFind {
  explicit NoHandsetsToFind(const std::string& dir) { SetPortSearchRoots(dir + "/sys", dir + "/dev"); }
  ~NoHandsetsToFind() { SetPortSearchRoots("", ""); }
};
}  // namespace

TEST_F(EngineTest, ResourceBuildDuringARunLeavesEveryHandsetsImageWhole) {
  auto& b = Bench(2);
  const std::string path = MakePhoneImage(m_tmp.path(), kImageSize, kStart);
  const std::vector<uint8_t> image = ReadFile(path);
  // Larger than the image, so blocks read from it would be acknowledged.
  m_tmp.Write("rsc/big.dat", PatternBytes(kStart + 16 * 1024, 9));
  b.BindAll();
  b.ChoosePhone(path);
  bool enabled = false;
  b.handset(0).onBlock = [&](int k) {
    if (k == 3) {
      enabled = b.host().m_controls[IDC_CREATE_RESOURCE].enabled;
      b.host().m_folderAnswers.push_back(m_tmp.path() + "/rsc");
      b.host().Click(IDC_CREATE_RESOURCE);
    }
    return BlockAction::Ack;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_TRUE(enabled);
  EXPECT_EQ(CountBoxes(b.host(), "Resource Binary(K470_rsc.bin)가 생성되었습니다.  "), 1);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(b.dlg().Outcome(k).m_nResult, RESULT_COMPLETED);
    EXPECT_EQ(Flash(b.handset(k), kStart, 9 * 1024), Expected(image, kStart));
  }
}

TEST_F(EngineTest, PortSearchIsOffDuringARunAndBackWithTheImageButtons) {
  auto& b = Bench(2);
  NoHandsetsToFind noHandsets(m_tmp.path());
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), kImageSize, kStart));
  bool enabled = true;
  b.handset(1).onBlock = [&](int k) {
    if (k == 2) {
      enabled = b.host().m_controls[IDC_PORT_SEARCH].enabled;
      b.host().Click(IDC_PORT_SEARCH);  // as a host that ignores the disabled state would
    }
    return BlockAction::Ack;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_FALSE(enabled);
  EXPECT_EQ(b.dlg().Binding(0).m_nComPort, 1);
  EXPECT_EQ(b.dlg().Binding(1).m_nComPort, 2);
  EXPECT_TRUE(AllCompleted(b, {0, 1}));
  EXPECT_TRUE(b.host().m_controls[IDC_PORT_SEARCH].enabled);
  EXPECT_TRUE(b.host().m_controls[IDC_PHONE_CODE].enabled);
}

TEST_F(EngineTest, RunAfterTheBindingsMovedReopensTheLinksTheToolStillHeld) {
  auto& b = Bench(3);
  b.BindAll();
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), kImageSize, kStart));
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ASSERT_TRUE(AllCompleted(b, {0, 1, 2}));
  // The first handset has left; the manual list now names the other two,
  // which entry 0 and 1 take while entries 1 and 2 still hold them open.
  b.host().Click(IDC_AUTO_DETECT, 0);
  b.host().SelectListItem(IDC_PORT_LIST, 1, true);
  b.host().SelectListItem(IDC_PORT_LIST, 2, true);
  for (int k = 0; k < 3; ++k) b.handset(k).requests.clear();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_FALSE(HasLog(b.host(), 0, "USB 연결 상태를 확인하세요."));
    EXPECT_TRUE(AllCompleted(b, {0, 1}));
    EXPECT_EQ(PhoneRequests(b.handset(1)), round + 1);
    EXPECT_EQ(PhoneRequests(b.handset(2)), round + 1);
    EXPECT_TRUE(b.handset(0).requests.empty());
  }
}

TEST_F(EngineTest, AnUntickedEntrySitsOutTheRun) {
  auto& b = Bench(3);
  b.BindAll();
  for (int k = 0; k < 3; ++k) EXPECT_EQ(b.host().m_controls[kEntryCheckIds[k]].check, 1) << k;
  b.ChoosePhone(MakePhoneImage(m_tmp.path(), kImageSize, kStart));
  b.host().Click(kEntryCheckIds[2], 0);
  int enabledBoxes = -1;
  b.handset(0).onBlock = [&](int k) {
    if (k == 1) {
      enabledBoxes = 0;
      for (int id : kEntryCheckIds) enabledBoxes += b.host().m_controls[id].enabled;
    }
    return BlockAction::Ack;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(enabledBoxes, 0);
  EXPECT_TRUE(AllCompleted(b, {0, 1}));
  EXPECT_EQ(b.handset(2).dev->opens, 0);
  EXPECT_TRUE(b.handset(2).requests.empty());
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(b.host().m_controls[kEntryCheckIds[k]].enabled) << k;

  // Entry 1 ran before: its link is open and its bar says so. Left out now,
  // it gets nothing and its bar is empty.
  b.host().Click(kEntryCheckIds[1], 0);
  b.handset(1).requests.clear();
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_TRUE(AllCompleted(b, {0}));
  EXPECT_EQ(b.dlg().Outcome(1).m_nResult, RESULT_NONE);
  EXPECT_TRUE(b.handset(1).requests.empty());
  EXPECT_EQ(b.host().m_bars[1].m_strText, "");
  EXPECT_EQ(b.host().m_controls[kEntryCheckIds[1]].check, 0);  // the operator's choice stays

  b.host().Click(kEntryCheckIds[0], 0);
  b.DownLoad();
  EXPECT_EQ(b.host().m_boxes.back().text, "No Phone is connected.");
  EXPECT_FALSE(b.dlg().Running());
}
