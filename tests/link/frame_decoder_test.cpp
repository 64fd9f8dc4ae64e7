#include "link/FrameDecoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/Frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Outcome = CFrameDecoder::Outcome;

constexpr bool kBoot = true;
constexpr bool kDiag = false;

CFrameDecoder::Result Feed(CFrameDecoder& d, const Bytes& b, bool boot) {
  return d.Add(b.data(), static_cast<int>(b.size()), boot);
}

Bytes PacketOf(const CFrameDecoder::Result& r) { return Bytes(r.body, r.body + r.packetLength); }

TEST(FrameDecoder, BootFramingAcceptsAndUnstuffs) {
  CFrameDecoder d;
  auto r = Feed(d, {0x7E, 0x02, 0x6A, 0xD3, 0x7E}, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(PacketOf(r), (Bytes{0x02, 0x6A, 0xD3}));
  EXPECT_EQ(r.length, 3);
  EXPECT_EQ(d.Count(), 0);

  r = Feed(d, {0x7E, 0x7D, 0x5E, 0x01, 0x02, 0x7E}, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(PacketOf(r), (Bytes{0x7E, 0x01, 0x02}));
  EXPECT_EQ(r.length, 4);  // counted before unstuffing
}

TEST(FrameDecoder, FrameSplitOverReadsIsAssembled) {
  CFrameDecoder d;
  EXPECT_EQ(Feed(d, {0x7E, 0x02}, kBoot).outcome, Outcome::Incomplete);
  EXPECT_EQ(d.Count(), 2);
  auto r = Feed(d, {0x6A, 0xD3, 0x7E}, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(PacketOf(r), (Bytes{0x02, 0x6A, 0xD3}));
}

TEST(FrameDecoder, TwoFramesInOneReadMakeOnePacket) {
  CFrameDecoder d;
  auto r = Feed(d, {0x7E, 0x02, 0x6A, 0xD3, 0x7E, 0x7E, 0x02, 0x6A, 0xD3, 0x7E}, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(PacketOf(r), (Bytes{0x02, 0x6A, 0xD3, 0x02, 0x6A, 0xD3}));

  // The end of one frame and the start of the next in one read.
  EXPECT_EQ(Feed(d, {0x7E, 0x02}, kBoot).outcome, Outcome::Incomplete);
  r = Feed(d, {0x6A, 0xD3, 0x7E, 0x7E, 0x03, 0x03, 0x03, 0x7E}, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(PacketOf(r), (Bytes{0x02, 0x6A, 0xD3, 0x03, 0x03, 0x03}));
}

TEST(FrameDecoder, LoneFlagIsAnEmptyRejectedFrameAndSpoilsTheRest) {
  CFrameDecoder d;
  EXPECT_EQ(Feed(d, {0x7E}, kBoot).outcome, Outcome::Rejected);
  EXPECT_EQ(d.Count(), 0);
  // The rest of the reply no longer begins with a flag: never completes.
  EXPECT_EQ(Feed(d, {0x02, 0x6A, 0xD3, 0x7E}, kBoot).outcome, Outcome::Incomplete);
  EXPECT_EQ(d.Count(), 4);
}

TEST(FrameDecoder, SecondFlagIsRemovedLikeTheFlag) {
  CFrameDecoder d;
  auto r = Feed(d, {0x7E, 0x7F, 0x02, 0x7F, 0x6A, 0xD3, 0x7E}, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(PacketOf(r), (Bytes{0x02, 0x6A, 0xD3}));
}

TEST(FrameDecoder, ShortBodiesPerFramingMode) {
  CFrameDecoder d;
  EXPECT_EQ(Feed(d, {0x7E, 0x02, 0x6A, 0x7E}, kBoot).outcome, Outcome::Rejected);
  EXPECT_EQ(Feed(d, {0x7E, 0x02, 0x6A, 0xD3, 0x7E}, kDiag).outcome, Outcome::Rejected);
  // Four stuffed bytes that unstuff to two cannot hold a trailer.
  EXPECT_EQ(Feed(d, {0x7E, 0x7D, 0x5E, 0x7D, 0x5E, 0x7E}, kDiag).outcome, Outcome::Rejected);
}

TEST(FrameDecoder, TrailingEscapeTakesTheZeroBehindIt) {
  CFrameDecoder d;
  auto r = Feed(d, {0x7E, 0x01, 0x02, 0x7D, 0x7E}, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(PacketOf(r), (Bytes{0x01, 0x02, 0x20}));
}

TEST(FrameDecoder, DiagnosticFramingChecksCrc30) {
  CFrameDecoder d;
  const Bytes body{0x0D, 'b', '1', '.', '0', '1', 0x7E, 0x7D};
  auto r = Feed(d, DiagFrame(body), kDiag);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  Bytes packet = PacketOf(r);
  ASSERT_EQ(packet.size(), body.size() + 4);
  EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 8), body);

  EXPECT_EQ(Feed(d, DiagFrame(body, 0x00000001), kDiag).outcome, Outcome::Rejected);
  EXPECT_EQ(Feed(d, DiagFrame({0x02}), kDiag).outcome, Outcome::Packet);  // 1 byte + trailer
  // The same frame in boot framing is taken without a check.
  EXPECT_EQ(Feed(d, DiagFrame(body, 0x12345678), kBoot).outcome, Outcome::Packet);
}

TEST(FrameDecoder, OverflowAt512ThenNextByte) {
  CFrameDecoder d;
  Bytes fill(512, 0x55);
  fill[0] = 0x7E;
  EXPECT_EQ(Feed(d, fill, kBoot).outcome, Outcome::Incomplete);
  EXPECT_EQ(d.Count(), 512);
  EXPECT_EQ(Feed(d, {0x7E}, kBoot).outcome, Outcome::Overflow);
  EXPECT_EQ(d.Count(), 0);
  // Afterwards the decoder works as new.
  EXPECT_EQ(Feed(d, {0x7E, 0x02, 0x6A, 0xD3, 0x7E}, kBoot).outcome, Outcome::Packet);
}

TEST(FrameDecoder, BytesAfterTheOverflowingByteStartOver) {
  CFrameDecoder d;
  Bytes read(515, 0x11);
  read[513] = 0x22;
  read[514] = 0x33;
  EXPECT_EQ(Feed(d, read, kBoot).outcome, Outcome::Overflow);
  EXPECT_EQ(d.Count(), 2);
  d.Clear();
  EXPECT_EQ(d.Count(), 0);
}

TEST(FrameDecoder, FullBufferFrameKeepsAllBytes) {
  CFrameDecoder d;
  Bytes f(512, 0x41);
  f.front() = 0x7E;
  f.back() = 0x7E;
  auto r = Feed(d, f, kBoot);
  ASSERT_EQ(r.outcome, Outcome::Packet);
  EXPECT_EQ(r.length, 510);
  EXPECT_EQ(r.packetLength, 510);
}

}  // namespace
