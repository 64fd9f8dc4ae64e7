// A bench where the window stays open all day: buttons pressed during a run,
// bindings changed between runs, entries left out of a run.
#include "EngineFixture.h"

#include "ControlIds.h"

namespace {
constexpr uint32_t kStart = 0x10000;
// Enough blocks that every entry is flashing before the first one ends.
constexpr size_t kImageSize = kStart + 8 * 1024 + 100;
}  // namespace

TEST_F(EngineTest, ResourceBuildDuringARunLeavesEveryHandsetsImageWhole) {
  auto& b = Bench(2);
  const std::string path = MakePhoneImage(m_tmp.path(), kImageSize, kStart);
  const std::vector<uint8_t> image = ReadFileBytes(path);
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
    EXPECT_EQ(b.dlg().m_entries[k].m_nResult, RESULT_COMPLETED);
    EXPECT_EQ(Flash(b.handset(k), kStart, 9 * 1024), Expected(image, kStart));
  }
}
