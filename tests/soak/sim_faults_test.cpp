// The faults the soak added to the simulated handset, on its protocol alone
// with a clock of the test's own: a lost reply, an ACK cut short.
#include <gtest/gtest.h>

#include "sim/SimFault.h"
#include "sim/SimFraming.h"
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
