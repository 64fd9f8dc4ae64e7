#include "link/bsscomm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "DloadFile.h"
#include "support/FakeSerialPort.h"
#include "support/EntryLink.h"
#include "support/RecordingWindow.h"
#include "support/TraceCapture.h"
#include "link/QTextQ.h"
#include "platform/PortMap.h"

namespace {

constexpr int kEntry = 3;
constexpr uint8_t kCom = 9;

// A link opened on a scripted port, as the dialog connects an entry.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitEntryLink(link, kEntry, kCom, "/dev/fake9", wnd, queue);
  }
  void TearDown() override { CPortMap::Instance().Remove(kCom); }
  void OpenLink() { ASSERT_TRUE(link.Open()); }
  Bytes LastWrite() {
    auto w = line->Writes();
    return w.empty() ? Bytes{} : w.back();
  }
  std::vector<CTextQItem> Drain() {
    std::vector<CTextQItem> out;
    CTextQItem item;
    while (queue.Get(item)) out.push_back(item);
    return out;
  }

  CFakePorts ports;
  std::shared_ptr<FakeDevice> line = ports.Add("/dev/fake9");
  RecordingWindow wnd;
  CQTextQ queue;
  CBssComm link;
};

TEST_F(LinkTest, OpenDropsWhatCameBeforeAndListensForCharacters) {
  line->Feed({{0x7E, 0x02, 0x6A, 0xD3, 0x7E}});  // a reply meant for an earlier run
  OpenLink();
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(line->QueuedInputForTest(), 0);
  EXPECT_NE(line->mask & EV_RXCHAR, 0u);  // a receive thread will wake for replies
}

TEST_F(LinkTest, OpenFailuresLeaveTheLinkClosed) {
  {
    TraceCapture trace;
    link.SetPortNumber(kCom + 1);  // not mapped
    EXPECT_FALSE(link.Open());
    EXPECT_EQ(trace.Text(), "Failt to open Comm\n");
    EXPECT_TRUE(line->Calls().empty());
  }
  link.SetPortNumber(kCom);
  {
    TraceCapture trace;
    line->failOpen = true;
    EXPECT_FALSE(link.Open());
    EXPECT_EQ(trace.Text(), "Failt to open Comm\n");
    EXPECT_EQ(link.m_bOpen, 0);
  }
  line->failOpen = false;
  line->failApply = true;
  EXPECT_FALSE(link.Open());
  EXPECT_EQ(link.m_bOpen, 0);
  EXPECT_FALSE(line->open);  // the handle was closed again
  EXPECT_EQ(line->Calls().back(), "Close");
}

TEST_F(LinkTest, CloseOrderAndRepeatedRelease) {
  OpenLink();
  line->calls.clear();
  EXPECT_TRUE(link.Close());
  EXPECT_EQ(line->Calls(), (std::vector<std::string>{"Mask 0", "DtrRts", "Purge", "Close"}));
  EXPECT_FALSE(link.IsOpen());
  line->calls.clear();
  EXPECT_FALSE(link.Close());  // touches nothing
  EXPECT_TRUE(link.Release());
  EXPECT_TRUE(link.Release());
  EXPECT_TRUE(line->Calls().empty());
  // The port object is kept and reused by the next Open.
  OpenLink();
}

TEST_F(LinkTest, FailingCloseShowsTheMessageBox) {
  OpenLink();
  line->failClose = true;
  EXPECT_TRUE(link.Release());
  auto boxes = wnd.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error : Close COM Port (pipe number :3)");
  EXPECT_EQ(boxes[0].type, MB_OK);
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(LinkTest, FramedRequestsOnTheWire) {
  OpenLink();
  struct Case {
    bool (CBssComm::*request)();
    Bytes frame;
    const char* status;
  };
  const Case cases[] = {
      {&CBssComm::RequestPhoneDownload, {0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00}, nullptr},
      {&CBssComm::RequestJump, {0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00}, "Jump 요청"},
      {&CBssComm::RequestBootVersion,
       {0x7E, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x5F, 0x62, 0x7E, 0x00, 0x00, 0x00},
       "현재 BOOT 버젼 요청"},
      {&CBssComm::RequestRscDownload, {}, "Request RSC Binary download"},
      {&CBssComm::RequestFormat, {}, "Low level Format and QBFS, EFS2 Rebuilding..."},
      {&CBssComm::RequestBootDownload, {}, "BootLoader 다운로드 시작 요청"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE((link.*c.request)());
    const Bytes w = LastWrite();
    if (!c.frame.empty()) {
      EXPECT_EQ(w, c.frame);
    }
    EXPECT_EQ(w.size() % 4, 0u);
    EXPECT_EQ(w.front(), 0x7E);
    auto lines = Drain();
    if (c.status) {
      ASSERT_EQ(lines.size(), 1u) << c.status;
      EXPECT_EQ(lines[0].kind, LOG_STATUS);
      EXPECT_EQ(lines[0].text, c.status);
    } else {
      EXPECT_TRUE(lines.empty());
    }
  }
  EXPECT_EQ(link.m_bBootFraming.load(), 1);
  EXPECT_EQ(wnd.Count(WM_ENTRY_LOG + kEntry), 5);
  EXPECT_TRUE(wnd.AllParametersZero());
}

TEST_F(LinkTest, StuffingOfRequestAndFcsBytes) {
  OpenLink();
  link.m_bBootFraming = 1;
  const uint8_t x2a = 0x2A;
  EXPECT_TRUE(link.SendRequest(&x2a, 1, 0));
  EXPECT_EQ(LastWrite(), (Bytes{0x7E, 0x2A, 0x20, 0x7D, 0x5E, 0x7E, 0x00, 0x00}));

  const uint8_t req[] = {0x7E, 0x7D, 0x7F, 0x80, 0xFF};
  EXPECT_TRUE(link.SendRequest(req, sizeof req, 0));
  const Bytes w = LastWrite();
  ASSERT_GE(w.size(), 9u);
  EXPECT_EQ(Bytes(w.begin(), w.begin() + 9), (Bytes{0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0x7D, 0x5F, 0x80, 0xFF}));
  EXPECT_EQ(w.size() % 4, 0u);
}

TEST_F(LinkTest, FrameOfAMultipleOfFourGetsNoFill) {
  OpenLink();
  link.m_bBootFraming = 1;
  const uint8_t req[] = {0x01, 0x02};  // 1 + 2 + 2 FCS + 1 = 6 -> two zeros
  EXPECT_TRUE(link.SendRequest(req, 2, 0));
  EXPECT_EQ(LastWrite().size(), 8u);
  const uint8_t four[] = {0x01, 0x02, 0x03, 0x04};  // 1 + 4 + 2 + 1 = 8, none
  EXPECT_TRUE(link.SendRequest(four, 4, 0));
  Bytes w = LastWrite();
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(w.back(), 0x7E);
}

TEST_F(LinkTest, ResendRepeatsTheLastRequestAsFramed) {
  OpenLink();
  link.Resend();  // before any request: the empty request, diagnostic framing
  EXPECT_EQ(LastWrite(), (Bytes{0x7F, 0x00, 0x00, 0x7E}));
  auto lines = Drain();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "패킷 재전송합니다.");

  EXPECT_TRUE(link.RequestJump());
  BlockRecord block;
  block.length = 1024;
  EXPECT_TRUE(link.SendBlock(block));  // a raw send does not replace the last request
  link.Resend();
  EXPECT_EQ(LastWrite(), (Bytes{0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00}));
}

TEST_F(LinkTest, EraseRequests) {
  OpenLink();
  EXPECT_TRUE(link.RequestErase(0x00000000, 0x00100000, 0x00000000));
  EXPECT_EQ(LastWrite(), (Bytes{0x7E, 0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0x8E, 0xAD, 0x7E, 0x00, 0x00, 0x00}));
  EXPECT_EQ(link.m_nLastLen, 13u);
  EXPECT_EQ(Bytes(link.m_lastReq, link.m_lastReq + 13),
            (Bytes{0xEE, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(link.RequestEraseExt(0x01020304, 0x0A0B0C0D, 0x11223344));
  EXPECT_EQ(Bytes(link.m_lastReq, link.m_lastReq + 13),
            (Bytes{0xEF, 0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A, 0x44, 0x33, 0x22, 0x11}));
  auto lines = Drain();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].text, "Flash erase 중.. 잠시만 기다리세요");
}

TEST_F(LinkTest, EfsFileInfoLayout) {
  OpenLink();
  ASSERT_TRUE(link.RequestEfsFileInfo("a.bin", "efs"));
  EXPECT_EQ(link.m_nLastLen, 99u);
  const uint8_t* r = link.m_lastReq;
  EXPECT_EQ(r[0], 0xAD);
  EXPECT_EQ(Bytes(r + 1, r + 7), (Bytes{0x61, 0x2E, 0x62, 0x69, 0x6E, 0x00}));
  EXPECT_EQ(Bytes(r + 49, r + 53), (Bytes{0x65, 0x66, 0x73, 0x00}));
  EXPECT_TRUE(std::all_of(r + 7, r + 49, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(r + 53, r + 99, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(Drain().at(0).text, "Transmit EFS File information");
}

TEST_F(LinkTest, EfsNamesAreSentInCodePage949) {
  OpenLink();
  ASSERT_TRUE(link.RequestEfsFileInfo("한글.txt", "폴더"));
  const uint8_t* r = link.m_lastReq;
  // In code page 949: 한 C7 D1, 글 B1 DB, 폴 C6 FA, 더 B4 F5.
  EXPECT_EQ(Bytes(r + 1, r + 10), (Bytes{0xC7, 0xD1, 0xB1, 0xDB, '.', 't', 'x', 't', 0x00}));
  EXPECT_EQ(Bytes(r + 49, r + 54), (Bytes{0xC6, 0xFA, 0xB4, 0xF5, 0x00}));
}

TEST_F(LinkTest, EfsRefusalsSendNothing) {
  OpenLink();
  const std::string fits47(47, 'x'), over47(48, 'x'), fits49(49, 'y'), over49(50, 'y');
  EXPECT_TRUE(CBssComm::FitsEfsField(fits47, EFS_FILE_FIELD));
  EXPECT_FALSE(CBssComm::FitsEfsField(over47, EFS_FILE_FIELD));
  EXPECT_TRUE(CBssComm::FitsEfsField(fits49, EFS_FOLDER_FIELD));
  EXPECT_FALSE(CBssComm::FitsEfsField(over49, EFS_FOLDER_FIELD));
  // 24 Hangul syllables are 72 bytes of UTF-8 but 48 in code page 949.
  std::string hangul;
  for (int i = 0; i < 23; ++i) hangul += "가";
  EXPECT_TRUE(CBssComm::FitsEfsField(hangul + "x", EFS_FILE_FIELD));
  EXPECT_FALSE(CBssComm::FitsEfsField(hangul + "가", EFS_FILE_FIELD));
  EXPECT_FALSE(CBssComm::FitsEfsField("\xFF\xFE", EFS_FILE_FIELD));        // not UTF-8
  EXPECT_FALSE(CBssComm::FitsEfsField("\xF0\x9F\x98\x80", EFS_FILE_FIELD));  // not in 949
  EXPECT_FALSE(CBssComm::FitsEfsField(std::string("a\0b", 3), EFS_FILE_FIELD));

  EXPECT_TRUE(link.RequestJump());
  Drain();
  const size_t writes = line->Writes().size();
  EXPECT_TRUE(link.RequestEfsFileInfo(fits47, fits49));
  EXPECT_FALSE(link.RequestEfsFileInfo(over47, "efs"));
  EXPECT_FALSE(link.RequestEfsFileInfo("a.bin", over49));
  EXPECT_FALSE(link.RequestEfsFileInfo("\xF0\x9F\x98\x80", "efs"));
  EXPECT_EQ(line->Writes().size(), writes + 1);
  EXPECT_EQ(Drain().size(), 1u);  // only the accepted request logged
  EXPECT_EQ(link.m_lastReq[0], 0xAD);
}

TEST_F(LinkTest, SendBlockWritesTheRawBytes) {
  OpenLink();
  BlockRecord block;
  block.length = 1024;
  for (int i = 0; i < 1024; ++i) block.data[i] = static_cast<uint8_t>(0x7D + i % 3);
  EXPECT_TRUE(link.SendBlock(block));
  EXPECT_EQ(LastWrite(), Bytes(block.data, block.data + 1024));
  EXPECT_EQ(link.m_bBootFraming.load(), 1);
  block.length = 1025;  // more than the record holds
  EXPECT_FALSE(link.SendBlock(block));
  EXPECT_EQ(line->Writes().size(), 1u);
}

TEST_F(LinkTest, WritesOnAClosedOrFailingLink) {
  EXPECT_FALSE(link.RequestJump());  // never opened
  const uint8_t b = 1;
  EXPECT_FALSE(link.WriteBytes(&b, 1));
  EXPECT_TRUE(line->Writes().empty());
  OpenLink();
  TraceCapture trace;
  line->failWrite = true;
  EXPECT_FALSE(link.RequestPhoneDownload());
  EXPECT_EQ(trace.Text(), "WRITE_Error : WriteFile() in COMM\n");
}

TEST_F(LinkTest, ReadAvailableTakesAtMostTheLimit) {
  OpenLink();
  uint8_t buf[600];
  EXPECT_EQ(link.ReadAvailable(buf, 512), 0u);
  line->Feed({Bytes(700, 0x5A)});
  EXPECT_EQ(link.ReadAvailable(buf, 512), 512u);
  EXPECT_EQ(line->QueuedInputForTest(), 188);
  EXPECT_EQ(link.ReadAvailable(buf, 512), 188u);
  TraceCapture trace;
  line->Feed({Bytes(3, 1)});
  line->failRead = true;
  EXPECT_EQ(link.ReadAvailable(buf, 512), 0u);
  EXPECT_EQ(trace.Text(), "READ_Error : ReadFile() in COMM\n");
}

TEST_F(LinkTest, ReceivedFramesAreDeliveredOrRejected) {
  link.m_bBootFraming = 1;
  const Bytes ack{0x7E, 0x02, 0x6A, 0xD3, 0x7E};
  EXPECT_TRUE(link.AddReceived(ack.data(), 5, kEntry));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 1);
  uint8_t copy[RX_PACKET_SIZE];
  link.CopyPacket(copy);
  EXPECT_EQ(Bytes(copy, copy + 3), (Bytes{0x02, 0x6A, 0xD3}));

  const Bytes shortFrame{0x7E, 0x02, 0x7E};
  EXPECT_TRUE(link.AddReceived(shortFrame.data(), 3, kEntry));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 1);
  auto lines = Drain();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].kind, LOG_ERROR);
  EXPECT_EQ(lines[0].text, "\n[RX]Bad CRC in response packet\n");

  Bytes junk(513, 0x01);
  EXPECT_FALSE(link.AddReceived(junk.data(), 513, kEntry));  // overflow
  EXPECT_TRUE(Drain().empty());
}

TEST_F(LinkTest, BodyLongerThanTheReplyBufferIsCut) {
  link.m_bBootFraming = 1;
  Bytes frame(512, 0x33);
  frame.front() = 0x7E;
  frame.back() = 0x7E;
  frame[501] = 0x44;  // body byte 500 lies past the buffer
  EXPECT_TRUE(link.AddReceived(frame.data(), 512, kEntry));
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 1);
  uint8_t copy[RX_PACKET_SIZE];
  link.CopyPacket(copy);
  EXPECT_TRUE(std::all_of(copy, copy + RX_PACKET_SIZE, [](uint8_t b) { return b == 0x33; }));

  // Direct delivery with an oversized count copies 500 bytes only.
  uint8_t big[600];
  std::memset(big, 0x66, sizeof big);
  link.DeliverPacket(big, 600, kEntry);
  link.CopyPacket(copy);
  EXPECT_EQ(copy[499], 0x66);
  link.DeliverPacket(big, 10, MAX_ENTRIES);  // no such entry: nothing posted
  EXPECT_EQ(wnd.Count(WM_ENTRY_PACKET + kEntry), 2);
}

TEST_F(LinkTest, LogLinesPostOnlyWhenQueued) {
  link.LogStatus("");
  EXPECT_EQ(wnd.Count(WM_ENTRY_LOG + kEntry), 0);
  for (int i = 0; i < 100; ++i) link.LogStatus("line");
  EXPECT_EQ(wnd.Count(WM_ENTRY_LOG + kEntry), 100);
  {
    TraceCapture trace;
    link.LogError("dropped");  // the queue is full
    EXPECT_EQ(trace.Text(), "TEXT QUEUE FULL\n");
  }
  EXPECT_EQ(wnd.Count(WM_ENTRY_LOG + kEntry), 100);
  Drain();
  link.m_nEntry = MAX_ENTRIES;  // out of range: queued but not posted
  link.LogStatus("x");
  EXPECT_EQ(Drain().size(), 1u);
  EXPECT_EQ(wnd.Count(WM_ENTRY_LOG + MAX_ENTRIES), 0);
}

}  // namespace
