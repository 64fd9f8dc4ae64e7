// Silence, refusals and damaged replies, each in a run beside entries that
// must complete regardless.
#include "EngineFixture.h"

#include "ControlIds.h"
#include "EngineProbe.h"

namespace {
constexpr size_t kStart = 0x10000;
constexpr size_t kSize = kStart + 8 * 1024 + 100;
}  // namespace

class FaultRunTest : public EngineTest {
 protected:
  CFakeBench& Prepare(int handsets) {
    auto& b = Bench(handsets);
    m_path = MakePhoneImage(m_tmp.path(), kSize, kStart);
    m_image = ReadFile(m_path);
    b.BindAll();
    b.ChoosePhone(m_path);
    return b;
  }
  void ExpectComplete(CFakeBench& b, int k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(b.dlg().Outcome(k).m_nResult, RESULT_COMPLETED);
    EXPECT_EQ(Flash(b.handset(k), kStart, 9 * 1024), Expected(m_image, kStart));
    EXPECT_EQ(b.handset(k).overlaps, 0);
  }
  void ExpectFailed(CFakeBench& b, int k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(b.dlg().Outcome(k).m_nResult, RESULT_FAILED);
    EXPECT_EQ(b.host().m_bars[k].m_strText, "Error!");
    EXPECT_EQ(b.host().m_bars[k].m_bg, MakeRgb(192, 192, 192));
    EXPECT_EQ(b.host().m_bars[k].m_textOnBg, MakeRgb(128, 0, 0));
  }
  std::string m_path;
  std::vector<uint8_t> m_image;
};

TEST_F(FaultRunTest, SilentBlockIsRepeatedAfterTheRetryMarker) {
  auto& b = Prepare(2);
  bool silenced = false;
  b.handset(1).onBlock = [&](int k) {
    if (k == 5 && !silenced) {
      silenced = true;
      return BlockAction::Silence;
    }
    return BlockAction::Ack;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ExpectComplete(b, 0);
  ExpectComplete(b, 1);
  EXPECT_EQ(b.handset(1).markers, 1);
  EXPECT_TRUE(HasLog(b.host(), 1, "No response, retry at 0x11400"));
  EXPECT_TRUE(HasLog(b.host(), 1, "재전송 ACK 받음"));
}

TEST_F(FaultRunTest, RefusalsAreRetriedWithTheMarker) {
  for (BlockAction fault : {BlockAction::NakRetry, BlockAction::NakFailedDamaged}) {
    auto& b = Prepare(1);
    int hits = 0;
    b.handset(0).onBlock = [&](int k) { return (k == 3 && hits++ == 0) ? fault : BlockAction::Ack; };
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
    ExpectComplete(b, 0);
    EXPECT_EQ(b.handset(0).markers, 1);
    if (fault == BlockAction::NakFailedDamaged) {
      EXPECT_TRUE(HasLog(b.host(), 0, "NAK_FAILED, but crc error. Retry"));
    }
  }
}

TEST_F(FaultRunTest, FlashErrorTakesOnlyThatEntryOutAndSaysSo) {
  auto& b = Prepare(3);
  b.handset(1).onBlock = [](int k) { return k == 4 ? BlockAction::NakFailed : BlockAction::Ack; };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ExpectComplete(b, 0);
  ExpectComplete(b, 2);
  ExpectFailed(b, 1);
  EXPECT_TRUE(HasLog(b.host(), 1, "Flash error!!"));  // shown although the entry is disconnected
  EXPECT_EQ(b.dlg().Binding(1).m_bConnected, 0);
  EXPECT_EQ(b.dlg().PortCount(), 2);
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
}

TEST_F(FaultRunTest, ThreeSilentBlockTimersGiveTheEntryUp) {
  auto& b = Prepare(2);
  b.handset(0).onBlock = [](int k) { return k >= 2 ? BlockAction::Silence : BlockAction::Ack; };
  b.handset(0).onRequest = [](const std::vector<uint8_t>&) { return std::nullopt; };
  // The marker is answered, but the repeated block is silent again.
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ExpectComplete(b, 1);
  ExpectFailed(b, 0);
  EXPECT_TRUE(HasLog(b.host(), 0, "응답없음. 처음부터 다시 해주시기 바랍니다."));
  EXPECT_EQ(b.dlg().Binding(0).m_nComPort, 0);
  EXPECT_TRUE(b.dlg().Binding(0).m_comm.IsOpen());  // link and thread stay
}

TEST_F(FaultRunTest, ADeadHandsetIsGivenUpAfterThreeRequestsAndTheRunEnds) {
  auto& b = Prepare(1);
  b.handset(0).dead = true;
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(b.handset(0).requests.size(), 3u);  // the first request and two repetitions
  EXPECT_EQ(b.host().Now(), 9000u);
  EXPECT_TRUE(HasLog(b.host(), 0, "응답이 없습니다."));
  EXPECT_TRUE(HasLog(b.host(), 0, "패킷 재전송합니다."));
  ExpectFailed(b, 0);
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
}

TEST_F(FaultRunTest, AGivenUpEntryBoundToAnotherPortDownloadsIntoTheNewHandset) {
  auto& b = Bench(2);
  m_path = MakePhoneImage(m_tmp.path(), kSize, kStart);
  m_image = ReadFile(m_path);
  CEngineProbe::Binding(b.dlg(), 0).m_nComPort = 1;
  b.dlg().RefreshPortLabels();
  b.ChoosePhone(m_path);
  b.handset(0).dead = true;
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ExpectFailed(b, 0);
  ASSERT_TRUE(b.dlg().Binding(0).m_comm.IsOpen());  // the old link stays open
  const size_t oldRequests = b.handset(0).requests.size();

  // The operator plugs the entry into the second handset and tries again.
  CEngineProbe::Binding(b.dlg(), 0).m_nComPort = 2;
  b.dlg().RefreshPortLabels();
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(b.handset(0).requests.size(), oldRequests);
  EXPECT_EQ(b.dlg().Binding(0).m_comm.OpenDevice(), "fake:COM2");
  EXPECT_EQ(b.dlg().Outcome(0).m_nResult, RESULT_COMPLETED);
  EXPECT_EQ(Flash(b.handset(1), kStart, 9 * 1024), Expected(m_image, kStart));
}

TEST_F(FaultRunTest, EveryEntryFailingStillEndsTheRunWithTheControlsBack) {
  auto& b = Prepare(2);
  b.handset(0).dead = true;
  b.handset(1).dead = true;
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ExpectFailed(b, 0);
  ExpectFailed(b, 1);
  EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  EXPECT_TRUE(b.host().m_controls[IDC_PHONE_CODE].enabled);
}

TEST_F(FaultRunTest, DamagedAckToARequestRepeatsIt) {
  auto& b = Prepare(1);
  int seen = 0;
  b.handset(0).onRequest = [&](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
    if (r[0] == 0xA0 && seen++ == 0) return std::vector<uint8_t>{0x02, 0x00, 0x00};
    return std::nullopt;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_TRUE(HasLog(b.host(), 0, "ACK, but crc error. Retry."));
  EXPECT_EQ(b.handset(0).requests[0][0], 0xA0);
  EXPECT_EQ(b.handset(0).requests[1][0], 0xA0);
  ExpectComplete(b, 0);
}

TEST_F(FaultRunTest, WrongBootVersionStopsThatEntryOnly) {
  // Entry 1's first reply comes while entry 0's version is still owed: it
  // is asked all the same.
  auto& b = Prepare(2);
  b.handset(1).version = "b1.00";
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_EQ(CountBoxes(b.host(), "version이 다릅니다.다른 tool을 이용하세요."), 1);
  EXPECT_TRUE(HasLog(b.host(), 1, "Version: b1.00"));
  EXPECT_TRUE(HasLog(b.host(), 1, "------------------"));
  EXPECT_FALSE(HasLog(b.host(), 0, "Version: b1.00"));
  ExpectFailed(b, 1);
  EXPECT_TRUE(b.handset(1).erases.empty());
  ExpectComplete(b, 0);
}

TEST_F(FaultRunTest, OnlyAVersionReplyAnswersTheVersionRequestAndNothingElse) {
  // An ACK to the version request leaves the handset unchecked: the request
  // is repeated. A version reply to a block acknowledges no block.
  auto& b = Prepare(1);
  bool acked = false, versioned = false;
  b.handset(0).onRequest = [&](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
    if (r[0] == 0xAB && !acked && (acked = true)) return std::vector<uint8_t>{0x02, 0x6A, 0xD3};
    return std::nullopt;
  };
  b.handset(0).onBlock = [&](int k) {
    return (k == 3 && !versioned && (versioned = true)) ? BlockAction::VersionReply : BlockAction::Ack;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  std::vector<uint8_t> codes;
  for (const auto& r : b.handset(0).requests) codes.push_back(r[0]);
  EXPECT_EQ(codes, (std::vector<uint8_t>{0xA0, 0xAB, 0xAB, 0xC0, 0xEE, 0xC0}));
  EXPECT_EQ(CountLog(b.host(), 0, "Version: b1.01"), 1);
  EXPECT_EQ(b.handset(0).markers, 1);  // block 3 is asked for again, not skipped
  ExpectComplete(b, 0);
}

TEST_F(FaultRunTest, RefusedJumpInStateThreeGoesOnToTheErase) {
  auto& b = Prepare(1);
  b.handset(0).onRequest = [](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
    if (r[0] == 0xC0) return std::vector<uint8_t>{0xA3, 0x9E, 0x4C};
    return std::nullopt;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunUntil([&] { return !b.handset(0).erases.empty(); }, 60000));
  EXPECT_TRUE(HasLog(b.host(), 0, "version check failed(maybe old boot version)..continue.."));
}

TEST_F(FaultRunTest, RefusedFirstRequestDisconnectsTheEntry) {
  // Entry 1 is refused while entry 0's version request is outstanding:
  // that request is not entry 1's.
  auto& b = Prepare(2);
  b.handset(1).onRequest = [](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
    if (r[0] == 0xA0) return std::vector<uint8_t>{0xA3, 0x9E, 0x4C};
    return std::nullopt;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  EXPECT_TRUE(HasLog(b.host(), 1, "Invalid command!!"));
  EXPECT_EQ(CountBoxes(b.host(), "버젼 정보 요청을 할 수 없습니다.(Invalid command)"), 0);
  ExpectFailed(b, 1);
  ExpectComplete(b, 0);
}

TEST_F(FaultRunTest, AnEntryRefusedAtOnceFreesItsPlaceForTheNextHandset) {
  // All twenty entries bound; the one refused at its first request loses its
  // port, so a handset plugged in afterwards is bound in its place.
  auto& b = Prepare(MAX_ENTRIES);
  b.handset(0).onRequest = [](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
    if (r[0] == 0xA0) return std::vector<uint8_t>{0xA3, 0x9E, 0x4C};
    return std::nullopt;
  };
  b.DownLoad();
  ASSERT_TRUE(b.RunToEnd());
  ASSERT_EQ(b.dlg().Binding(0).m_nComPort, 0);
  b.dlg().OnPortArrival(30);
  EXPECT_EQ(b.dlg().Binding(0).m_nComPort, 30);
}

TEST_F(FaultRunTest, AnUnansweredEraseGivesItsEntryUpAndTheOthersGoOn) {
  // The silent erase in a boot-kind first step, and in a flash step after
  // one the entry flashed in; ERASE_LIMIT_S sets the bound.
  struct Case {
    bool afterBootLoader;
    const char* setting;  // null: none stored
    uint32_t limitMs;
  };
  for (const Case& c : {Case{false, nullptr, 300000}, Case{true, nullptr, 300000}, Case{false, "20", 20000},
                        Case{false, "", 300000}, Case{false, "abc", 300000}, Case{false, "0", 300000}}) {
    SCOPED_TRACE(std::string(c.afterBootLoader ? "boot loader, " : "QBFS, ") + (c.setting ? c.setting : "none"));
    if (c.setting) {
      ASSERT_TRUE(CRegistry::WriteString(kEraseLimitSetting, c.setting));
    }
    auto& b = Prepare(2);
    std::string first = m_tmp.Write("first.bin", PatternBytes(3000, 4));
    if (c.afterBootLoader) {
      ChangeChoices(b.dlg(), [&](ImageChoices& c) {
        c.m_bBootLoader = 1;
        c.m_strBootPath = first;
      });
      b.host().m_nYesNoAnswer = IDYES;
    } else {
      ChangeChoices(b.dlg(), [&](ImageChoices& c) {
        c.m_bQbfs = 1;
        c.m_strQbfsPath = first;
      });
    }
    uint32_t eraseAt = UINT32_MAX;
    b.handset(1).onRequest = [&](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
      if (r[0] != 0xEE) return std::nullopt;
      eraseAt = b.host().Now();
      return std::vector<uint8_t>{};
    };
    b.DownLoad();
    ASSERT_TRUE(b.RunUntil([&] { return b.dlg().Outcome(1).m_nResult != RESULT_RUNNING; }, 3600000));
    EXPECT_EQ(b.host().Now() - eraseAt, c.limitMs);
    char elapsed[64];
    std::snprintf(elapsed, sizeof elapsed, "Elapsed time : %d min %d sec", static_cast<int>(b.host().Now() / 60000),
                  static_cast<int>(b.host().Now() / 1000 % 60));
    EXPECT_EQ(b.dlg().ElapsedText(), elapsed);  // still counted every second
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_TRUE(HasLog(b.host(), 1, "응답없음. 처음부터 다시 해주시기 바랍니다."));
    ExpectFailed(b, 1);
    ExpectComplete(b, 0);
    EXPECT_TRUE(b.host().m_controls[IDC_DOWNLOAD].enabled);
  }
}

TEST_F(FaultRunTest, RepliesThatChangeNothingKeepTheEntryUnderItsTimer) {
  // RSP_IGNORED, an unknown code and a stray RESEND_ACK: the entry keeps
  // waiting under a timer, so its silence is still caught.
  for (std::vector<uint8_t> reply : {std::vector<uint8_t>{0xA2, 0, 0}, std::vector<uint8_t>{0x10, 0, 0},
                                     std::vector<uint8_t>{0x03, 0x03, 0x03}}) {
    auto& b = Prepare(1);
    b.handset(0).onRequest = [&](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
      if (r[0] == 0xA0) return reply;
      return std::nullopt;
    };
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
    ExpectFailed(b, 0);
    EXPECT_EQ(b.handset(0).requests.size(), 3u);
    if (reply[0] == 0x10) {
      EXPECT_TRUE(HasLog(b.host(), 0, "Unknown error!!"));
    }
  }
}

// Handsets differ by seconds in how long they erase, and one may need its
// first request repeated: an entry still on its way when another has
// finished the flash step stays in the step and gets its whole image.
TEST_F(FaultRunTest, EntriesStillErasingOrAwaitingAReplyStayInTheStep) {
  struct Case {
    const char* name;
    std::vector<uint32_t> eraseMs;
    bool bootLoaderFirst;
    bool firstRequestLost;  // of handset 1: answered only when repeated
  };
  for (const Case& c : {Case{"erases of 0.05 to 4 s", {50, 300, 2000, 4000}, false, false},
                        Case{"boot loader then phone code", {50, 1500, 3000}, true, false},
                        Case{"a request repeated", {0, 0}, false, true}}) {
    SCOPED_TRACE(c.name);
    auto& b = Prepare(static_cast<int>(c.eraseMs.size()));
    for (size_t k = 0; k < c.eraseMs.size(); ++k) b.handset(static_cast<int>(k)).eraseDelayMs = c.eraseMs[k];
    if (c.bootLoaderFirst) {
      ChangeChoices(b.dlg(), [&](ImageChoices& c) {
        c.m_bBootLoader = 1;
        c.m_strBootPath = m_tmp.Write("boot.bin", PatternBytes(3000, 4));
      });
      b.host().m_nYesNoAnswer = IDYES;
    }
    bool lost = false;
    if (c.firstRequestLost)
      b.handset(1).onRequest = [&](const std::vector<uint8_t>&) -> std::optional<std::vector<uint8_t>> {
        if (lost) return std::nullopt;
        lost = true;
        return std::vector<uint8_t>{};
      };
    bool waitingSeen = false;
    b.DownLoad();
    ASSERT_TRUE(b.RunUntil([&] {
      waitingSeen |= b.host().m_bars[0].m_strText == "Preparing Next Step...";
      return !b.dlg().Running();
    }, 600000));
    EXPECT_TRUE(waitingSeen);
    for (int k = 0; k < static_cast<int>(c.eraseMs.size()); ++k) {
      ExpectComplete(b, k);
      EXPECT_EQ(b.handset(k).erases.size(), c.bootLoaderFirst ? 2u : 1u);
    }
  }
}

// One stray frame a second, from a handset that otherwise answers or does
// not: the deadlines stay, so the run ends on time, and the log keeps a few
// copies of the line and a count instead of one line a second.
TEST_F(FaultRunTest, StrayRepliesNeitherAdvanceNorExtendTheWait) {
  for (const std::vector<uint8_t>& stray : {std::vector<uint8_t>{0xA2, 0, 0}, std::vector<uint8_t>{0x10, 0, 0}}) {
    SCOPED_TRACE(static_cast<int>(stray[0]));
    // Handset 0 never answers its first request and chatters on; handset 1
    // answers all and chatters all through its erase of 8 s.
    auto& b = Prepare(2);
    b.handset(0).dead = true;
    b.handset(0).Chatter(500, 1000, 600000, stray);
    b.handset(1).eraseDelayMs = 8000;
    b.handset(1).Chatter(500, 1000, 8000, stray);
    b.DownLoad();
    ASSERT_TRUE(b.RunUntil([&] { return b.dlg().Outcome(0).m_nResult != RESULT_RUNNING; }, 600000));
    EXPECT_EQ(b.host().Now(), 9000u);  // three request timers, not one more
    EXPECT_TRUE(HasLog(b.host(), 0, "응답이 없습니다."));
    ASSERT_TRUE(b.RunToEnd(600000));
    EXPECT_LT(b.host().Now(), 20000u);
    ExpectComplete(b, 1);
    if (stray[0] == 0x10) {
      EXPECT_EQ(CountLog(b.host(), 1, "Unknown error!!"), 4);
      EXPECT_TRUE(HasLog(b.host(), 1, "(the line above came 4 more times)"));
    }
  }
}

// A handset that carried out a request late, after the tool had repeated
// it, answers both: the second answer must not be taken for the reply to
// the next request or block.
TEST_F(FaultRunTest, ASecondReplyToARepeatedRequestIsNotTakenForTheNext) {
  for (uint8_t late : {uint8_t{0xA0}, uint8_t{0xAB}, uint8_t{0xC0}}) {
    SCOPED_TRACE(static_cast<int>(late));
    auto& b = Prepare(2);
    FakeHandset& h = b.handset(1);
    h.eraseDelayMs = 2000;
    int seen = 0;
    uint32_t lateDue = 0;
    h.onRequest = [&](const std::vector<uint8_t>& r) -> std::optional<std::vector<uint8_t>> {
      if (r[0] != late || ++seen > 2) return std::nullopt;
      // The first is answered 3.5 s late; the repeat, queued behind it, then.
      if (seen == 1) lateDue = b.host().Now() + 3500;
      const std::vector<uint8_t> answer =
          late == 0xAB ? WithFcs({0x0D, 'b', '1', '.', '0', '1'}) : std::vector<uint8_t>{0x02, 0x6A, 0xD3};
      h.Reply(lateDue + (seen == 1 ? 0 : 1), answer);
      return std::vector<uint8_t>{};
    };
    b.DownLoad();
    ASSERT_TRUE(b.RunToEnd());
    EXPECT_EQ(seen, late == 0xC0 ? 3 : 2);  // the run's final jump is one more
    ExpectComplete(b, 0);
    ExpectComplete(b, 1);  // nothing went out while a reply was owed
    EXPECT_EQ(CountLog(b.host(), 1, "Version: b1.01"), 1);
  }
}

TEST_F(FaultRunTest, HangUpDuringTheTransferEndsThatEntry) {
  auto& b = Prepare(2);
  bool hungUp = false;
  b.handset(0).onBlock = [&](int k) {
    if (k == 2) {
      b.ports().HangUp("fake:COM1");
      hungUp = true;
    }
    return k == 2 ? BlockAction::Silence : BlockAction::Ack;
  };
  b.DownLoad();
  // The receive thread notices the hang-up on its own, real, time; virtual
  // time waits for it, or the block's timer would end the entry first.
  ASSERT_TRUE(b.RunUntil([&] {
    for (int waited = 0; hungUp && b.dlg().Binding(0).m_comm.IsOpen() && waited < 30000; waited += 10) {
      b.host().WaitPosted(10);
      b.host().DispatchPending();
    }
    return b.dlg().Outcome(0).m_nResult != RESULT_RUNNING;
  }, 3600000));
  ASSERT_TRUE(b.RunToEnd());
  ExpectFailed(b, 0);
  ExpectComplete(b, 1);
  EXPECT_FALSE(b.dlg().Binding(0).m_comm.IsOpen());
}
