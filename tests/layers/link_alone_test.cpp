// The link with nothing above it: this test is built against velmora_link
// alone (its include roots and its libraries), so a link that needed an
// engine header or symbol would not build here. What the link has to say
// reaches its owner through the link's own interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/LinkEvents.h"
#include "link/QTextQ.h"
#include "link/bsscomm.h"

namespace {

struct RecordingOwner : ILinkEvents {
  void PacketWaiting(int entry) override { packets.push_back(entry); }
  void LogLinesWaiting(int entry) override { logs.push_back(entry); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<int> packets, logs;
  std::vector<std::string> messages;
};

TEST(CommAlone, LinkReportsPacketsAndLogLinesToItsOwner) {
  RecordingOwner owner;
  CQTextQ queue;
  CBssComm link;
  link.m_nEntry = 7;
  ASSERT_TRUE(link.Init(&owner, &queue));

  link.LogStatus("status line");
  const uint8_t body[] = {ACK, 0x5A};
  link.DeliverPacket(body, sizeof body, 7);

  EXPECT_EQ(owner.logs, std::vector<int>{7});
  EXPECT_EQ(owner.packets, std::vector<int>{7});
  EXPECT_TRUE(owner.messages.empty());
  CTextQItem item;
  ASSERT_TRUE(queue.Get(item));
  EXPECT_EQ(item.kind, LOG_STATUS);
  EXPECT_EQ(item.text, "status line");
  uint8_t copy[RX_PACKET_SIZE];
  link.CopyPacket(copy);
  EXPECT_EQ(copy[0], ACK);
  EXPECT_EQ(copy[1], 0x5A);
}

}  // namespace
