// The faults the soak added to the simulated handset, on its protocol alone
// with a clock of the test's own: a lost reply, an ACK cut short, a reply
// that comes late and twice, a handset that chatters; and the erase time
// each handset of velmora-sim gets.
#include <gtest/gtest.h>

#include <set>

#include "sim/SimFault.h"
#include "sim/SimFraming.h"
#include "sim/SimOptions.h"
#include "sim/SimProtocol.h"
#include "support/Frames.h"

namespace {

// A request as the tool frames it: 7E, stuffed bytes and FCS, 7E, zero fill.
std::vector<uint8_t> Request(std::vector<uint8_t> body) {
  std::vector<uint8_t> f = BootFrame(WithFcs(std::move(body)));
  while (f.size() % 4) f.push_back(0);
  return f;
}

std::vector<uint8_t> Erase(uint32_t start, uint32_t length) {
  std::vector<uint8_t> body{0xEE};
  for (uint32_t v : {start, length, 0u})
    for (int s = 0; s < 32; s += 8) body.push_back(static_cast<uint8_t>(v >> s));
  return Request(body);
}

void Feed(CSimProtocol& p, const std::vector<uint8_t>& bytes, uint64_t now = 0) {
  p.Feed(bytes.data(), bytes.size(), now, false);
}

TEST(SimFaults, ParsedByName) {
  SimFault f;
  int com = 0;
  std::string error;
  ASSERT_TRUE(ParseSimFault("3/lose-reply:C0", f, com, error)) << error;
  EXPECT_EQ(f.kind, SimFaultKind::LoseReply);
  EXPECT_EQ(f.arg, 0xC0);
  EXPECT_EQ(com, 3);
  ASSERT_TRUE(ParseSimFault("garble:7,2", f, com, error)) << error;
  EXPECT_EQ(f.kind, SimFaultKind::Garble);
  EXPECT_EQ(f.arg, 7);
  EXPECT_EQ(f.times, 2);
  EXPECT_FALSE(ParseSimFault("garble", f, com, error));
  EXPECT_STREQ(SimFaultName(SimFaultKind::LoseReply), "lose-reply");

  ASSERT_TRUE(ParseSimFault("late-reply:C0", f, com, error)) << error;
  EXPECT_EQ(f.arg, 0xC0);
  EXPECT_EQ(f.ms, SimFault::kLateReplyMs);
  ASSERT_TRUE(ParseSimFault("2/late-reply:A0:4200,3", f, com, error)) << error;
  EXPECT_EQ(f.kind, SimFaultKind::LateReply);
  EXPECT_EQ(f.arg, 0xA0);
  EXPECT_EQ(f.ms, 4200);
  EXPECT_EQ(f.times, 3);
  ASSERT_TRUE(ParseSimFault("chatter:1000,5", f, com, error)) << error;
  EXPECT_EQ(f.kind, SimFaultKind::Chatter);
  EXPECT_EQ(f.arg, 1000);
  EXPECT_EQ(f.times, 0) << "a chatter never stops";
  for (const char* bad : {"late-reply:A0:", "late-reply:A0:0", "chatter", "chatter:199", "chatter:1s"})
    EXPECT_FALSE(ParseSimFault(bad, f, com, error)) << bad;
}

// A handset that carried the request out twice answers in turn: the late
// reply, then the repeat's close behind it; until both have come the tool
// must not send its next unit.
TEST(SimFaults, LateReplyIsAnsweredTwiceAndOwedUntilItCame) {
  for (const bool waits : {true, false}) {
    SCOPED_TRACE(waits ? "the tool waits for the second reply" : "the tool runs ahead");
    CSimProtocol p(SimHandsetConfig{});
    p.AddFault({SimFaultKind::LateReply, 0xA0, 1, 3500});
    Feed(p, Request({0xA0}), 0);
    EXPECT_TRUE(p.TakeOutput().empty());
    EXPECT_EQ(p.NextDeadline(), 3500);
    Feed(p, Request({0xA0}), 3000);
    EXPECT_TRUE(p.TakeOutput().empty()) << "the repeat waits its turn";
    p.Tick(3499);
    EXPECT_TRUE(p.TakeOutput().empty());
    p.Tick(3500);
    EXPECT_EQ(p.TakeOutput(), sim::AckFrame()) << "the original's reply, late";
    if (!waits) {
      Feed(p, Request({0xC0}), 3505);
      Feed(p, Request({0xA5}), 3506);  // the same mistake, not another
      p.TakeOutput();
    }
    p.Tick(3510);
    EXPECT_EQ(p.TakeOutput(), sim::AckFrame()) << "the repeat's reply";
    if (waits) {
      Feed(p, Request({0xC0}), 3600);
      EXPECT_TRUE(p.Record().violations.empty()) << p.Record().violations[0];
    } else {
      ASSERT_EQ(p.Record().violations.size(), 1u);
      EXPECT_EQ(p.Record().violations[0].rfind(sim::kEarlySend, 0), 0u) << p.Record().violations[0];
    }
    EXPECT_EQ(p.Record().faultsFired, 1);
    EXPECT_EQ(p.Record().requests.size(), waits ? 3u : 4u);
  }
}

// Strays go out every period from the tool's first byte on, RSP_IGNORED and
// an unknown code by turns, always a quiet gap away from a real reply so the
// tool never reads the two as one.
TEST(SimFaults, ChatterSpeaksEveryPeriodApartFromTheRealReplies) {
  CSimProtocol p(SimHandsetConfig{});
  p.AddFault({SimFaultKind::Chatter, 1000, 0});
  p.Tick(5000);
  EXPECT_TRUE(p.TakeStray().empty()) << "silent until the tool has spoken";
  Feed(p, Request({0xA0}), 6000);
  EXPECT_EQ(p.TakeOutput(), sim::AckFrame());
  p.Tick(6999);
  EXPECT_TRUE(p.TakeStray().empty());
  p.Tick(7000);
  EXPECT_EQ(p.TakeStray(), sim::IgnoredFrame());

  Feed(p, Request({0xA5}), 7010);  // right after the stray: its reply waits
  EXPECT_TRUE(p.TakeOutput().empty());
  EXPECT_EQ(p.NextDeadline(), 7050);
  p.Tick(7050);
  EXPECT_EQ(p.TakeOutput(), sim::AckFrame());

  Feed(p, Request({0xC0}), 7990);  // right before the next one: the stray waits
  EXPECT_EQ(p.TakeOutput(), sim::AckFrame());
  p.Tick(8000);
  EXPECT_TRUE(p.TakeStray().empty());
  p.Tick(8040);
  EXPECT_EQ(p.TakeStray(), sim::UnknownCodeFrame());
  EXPECT_EQ(p.Record().strays, 2);
  EXPECT_EQ(p.Record().faultsFired, 1);
  EXPECT_TRUE(p.Record().violations.empty()) << p.Record().violations[0];
}

// One --erase-delay range gives each handset its own time, the same again
// for the same seed; a handset's own --erase-delay wins over the range.
TEST(SimFaults, EraseDelayPerHandsetFromTheCommandLine) {
  auto parse = [](const char* seed) {
    const char* argv[] = {"velmora-sim", "--count", "20", "--erase-delay", "0-5000",
                          "--erase-delay", "3/250", "--seed", seed};
    SimOptions o;
    std::string error;
    EXPECT_TRUE(ParseSimOptions(9, argv, o, error)) << error;
    return o;
  };
  const SimOptions a = parse("7"), b = parse("7"), c = parse("8");
  std::set<uint32_t> seen;
  int differ = 0;
  for (int com = 1; com <= 20; ++com) {
    const uint32_t ms = SimEraseDelayFor(a, com);
    EXPECT_LE(ms, 5000u);
    EXPECT_EQ(ms, SimEraseDelayFor(b, com));
    differ += ms != SimEraseDelayFor(c, com);
    seen.insert(ms);
  }
  EXPECT_EQ(SimEraseDelayFor(a, 3), 250u);
  EXPECT_GT(seen.size(), 15u) << "the handsets erase in times of their own";
  EXPECT_GT(differ, 15) << "another seed, other times";

  SimOptions o;
  std::string error;
  const char* wrong[] = {"velmora-sim", "--count", "2", "--erase-delay", "300-200"};
  EXPECT_FALSE(ParseSimOptions(5, wrong, o, error));
  const char* elsewhere[] = {"velmora-sim", "--count", "2", "--erase-delay", "5/100"};
  EXPECT_FALSE(ParseSimOptions(5, elsewhere, o, error));
}

// Each handset's config comes from the command line alone: pace and
// programming time for all, its own erase time, the faults for every handset
// before its own (the first matching fault is the one that fires).
TEST(SimFaults, EachHandsetsConfigFromTheCommandLine) {
  const char* argv[] = {"velmora-sim", "--count", "3", "--pace", "5760", "--program-us", "900",
                        "--erase-delay", "40", "--erase-delay", "2/75", "--fault", "2/silence:5",
                        "--fault", "nak-failed:1", "--fault", "3/silence:2"};
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(17, argv, o, error)) << error;
  struct Want {
    int com;
    uint32_t eraseMs;
    std::vector<std::pair<SimFaultKind, int>> faults;
  };
  const Want wants[] = {
      {1, 40, {{SimFaultKind::NakFailed, 1}}},
      {2, 75, {{SimFaultKind::NakFailed, 1}, {SimFaultKind::Silence, 5}}},
      {3, 40, {{SimFaultKind::NakFailed, 1}, {SimFaultKind::Silence, 2}}},
  };
  for (const Want& w : wants) {
    SCOPED_TRACE("COM" + std::to_string(w.com));
    const SimHandsetConfig c = SimHandsetConfigFor(o, w.com);
    EXPECT_EQ(c.paceBps, 5760u);
    EXPECT_EQ(c.programUs, 900u);
    EXPECT_EQ(c.eraseDelayMs, w.eraseMs);
    std::vector<std::pair<SimFaultKind, int>> got;
    for (const SimFault& f : c.faults) got.emplace_back(f.kind, f.arg);
    EXPECT_EQ(got, w.faults);
  }
}

TEST(SimFaults, LostReplyCarriesTheRequestOutButSaysNothingOnce) {
  CSimProtocol p(SimHandsetConfig{});
  p.AddFault({SimFaultKind::LoseReply, 0xA0, 1});
  Feed(p, Request({0xA0}));
  EXPECT_TRUE(p.TakeOutput().empty());
  EXPECT_EQ(p.Record().requests.size(), 1u);
  EXPECT_EQ(p.Record().faultsFired, 1);
  Feed(p, Request({0xA0}));
  EXPECT_EQ(p.TakeOutput(), sim::AckFrame()) << "the fault fires once";
  EXPECT_TRUE(p.Record().violations.empty()) << p.Record().violations[0];
}

TEST(SimFaults, LostEraseReplyIsTheOneAfterTheErase) {
  SimHandsetConfig config;
  config.eraseDelayMs = 500;
  CSimProtocol p(config);
  p.AddFault({SimFaultKind::LoseReply, 0xEE, 1});
  Feed(p, Erase(0x10000, 2048));
  p.Tick(600);
  EXPECT_TRUE(p.TakeOutput().empty());
  EXPECT_EQ(p.Record().erases.size(), 1u);
  EXPECT_TRUE(p.InDataMode());
}

TEST(SimFaults, GarbledAckLosesOnlyItsClosingFlagAndTheBlockIsKept) {
  CSimProtocol p(SimHandsetConfig{});
  p.AddFault({SimFaultKind::Garble, 1, 1});
  Feed(p, Erase(0x10000, 3 * 1024));
  EXPECT_EQ(p.TakeOutput(), sim::AckFrame());
  std::vector<uint8_t> block(1024);
  for (int k = 0; k < 3; ++k) {
    for (size_t b = 0; b < block.size(); ++b) block[b] = static_cast<uint8_t>(b + 17 * k);
    Feed(p, block);
    std::vector<uint8_t> want = sim::AckFrame();
    if (k == 1) want.pop_back();
    EXPECT_EQ(p.TakeOutput(), want) << "block " << k;
  }
  EXPECT_EQ(p.Record().blocksWritten, 3);
  EXPECT_EQ(p.Record().flash.At(0x10000 + 1024 + 5), static_cast<uint8_t>(5 + 17));
  EXPECT_EQ(p.Record().transfersDone, 1);
}

// The tool cannot tell a cut ACK from silence, so it asks for the block
// again with a retry marker, the last block of a transfer included.
TEST(SimFaults, GarbledAckOfTheLastBlockIsRepeatedOnAMarker) {
  CSimProtocol p(SimHandsetConfig{});
  p.AddFault({SimFaultKind::Garble, 1, 1});
  Feed(p, Erase(0x10000, 2 * 1024));
  p.TakeOutput();
  std::vector<uint8_t> block(1024, 0x11);
  Feed(p, block);
  p.TakeOutput();
  block.assign(1024, 0x22);
  Feed(p, block);
  std::vector<uint8_t> cut = sim::AckFrame();
  cut.pop_back();
  ASSERT_EQ(p.TakeOutput(), cut);

  const std::vector<uint8_t> marker = RetryMarker();
  Feed(p, marker, 5000);
  EXPECT_EQ(p.TakeOutput(), sim::ResendAckFrame());
  block.assign(1024, 0x33);  // told apart from the first copy
  Feed(p, block, 5010);
  EXPECT_EQ(p.TakeOutput(), sim::AckFrame());
  EXPECT_EQ(p.Record().blocksWritten, 3);
  EXPECT_EQ(p.Record().flash.At(0x10000 + 1024), 0x33);
  EXPECT_EQ(p.Record().transfersDone, 1) << "one transfer, however often its end is asked for";

  // The transfer is over once a request comes: a marker then is stray.
  Feed(p, Request({0xC0}), 5020);
  EXPECT_EQ(p.TakeOutput(), sim::AckFrame());
  EXPECT_TRUE(p.Record().violations.empty()) << p.Record().violations[0];
  Feed(p, marker, 5030);
  EXPECT_TRUE(p.TakeOutput().empty());
  EXPECT_EQ(p.Record().violations.size(), 1u);
}

}  // namespace
