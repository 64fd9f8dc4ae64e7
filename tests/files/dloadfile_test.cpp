#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

#include <gtest/gtest.h>

#include "DloadFile.h"
#include "support/PhoneImage.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

// A phone-code image: `body` pattern bytes, then the 37-byte trailer.
std::vector<uint8_t> PhoneImage(size_t body, const uint8_t version[4], const uint8_t address[4],
                                bool goodMarker = true) {
  std::vector<uint8_t> bytes = PatternBytes(body);
  std::vector<uint8_t> trailer(IMAGE_TRAILER_SIZE, 0x5A);
  trailer[0] = goodMarker ? 0xFF : 0xFE;
  trailer[1] = 0x1D;
  trailer[2] = 0x00;
  std::memcpy(&trailer[17], version, 4);
  std::memcpy(&trailer[21], address, 4);
  bytes.insert(bytes.end(), trailer.begin(), trailer.end());
  return bytes;
}

const uint8_t kVersion7[4] = {0x07, 0x00, 0x00, 0x00};
const uint8_t kAddr20000[4] = {0x00, 0x00, 0x02, 0x00};

std::vector<uint8_t> LE(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

class DloadFileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = m_dir / name;
    WriteFile(path, bytes);
    return path;
  }
  std::string PhoneWithAddress(uint32_t address) {
    return Make("phone.bin", PhoneImage(4096, kVersion7, LE(address).data()));
  }

  CTempDir m_dir;
  RecordingWindow m_window;
  CDloadFile m_file{&m_window};
  bool m_toggle = false;
};

// ---- the trailer of phone-code images ----

TEST_F(DloadFileTest, GoodTrailerLoadsSilently) {
  const std::string path = Make("phone.bin", PhoneImage(5000, kVersion7, kAddr20000));
  ASSERT_TRUE(m_file.Load(path, IMAGE_PHONE_CODE));
  EXPECT_TRUE(m_window.m_boxes.empty());
  EXPECT_EQ(m_file.GetSwVersion(), 7u);
  EXPECT_EQ(m_file.GetStartAddress(), 0x20000u);
  EXPECT_EQ(m_file.GetSize(), 5000u + IMAGE_TRAILER_SIZE);  // never rounded
  EXPECT_EQ(m_file.GetPath(), path);
}

TEST_F(DloadFileTest, StartAddressRule) {
  struct Case {
    uint32_t address;
    bool asks;
  } cases[] = {{0x0, false},    {0x4000, false}, {0x20000, false}, {0x1000, true},
               {0x2000, true},  {0x3000, true},  {0x20010, true},  {0x4001, true},
               {0x800, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    m_window.m_boxes.clear();
    const bool loaded = m_file.Load(PhoneWithAddress(c.address), IMAGE_PHONE_CODE);
    EXPECT_EQ(loaded, !c.asks);  // the window answers No
    EXPECT_EQ(m_window.m_boxes.size(), c.asks ? 1u : 0u);
    if (c.asks) {
      EXPECT_EQ(m_file.GetSize(), 0u);
    } else {
      EXPECT_EQ(m_file.GetStartAddress(), c.address);
    }
  }
}

TEST_F(DloadFileTest, QuestionTextAndAnswers) {
  ASSERT_TRUE(m_file.Load(PhoneWithAddress(0x20000), IMAGE_PHONE_CODE));
  const std::string path = PhoneWithAddress(0x3000);
  EXPECT_FALSE(m_file.Load(path, IMAGE_PHONE_CODE));
  ASSERT_EQ(m_window.m_boxes.size(), 1u);
  EXPECT_EQ(m_window.m_boxes[0].text,
            "Application 다운로딩 시작 주소가 0x3000 입니다.\n다운로딩이 실패할 수 있습니다."
            "\n계속 다운로딩 하시겠습니가?");
  EXPECT_EQ(m_window.m_boxes[0].type, MB_YESNO | MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
  EXPECT_EQ(m_file.GetStartAddress(), 0x20000u);  // a refused address is not kept

  m_window.m_nAnswer = IDYES;
  ASSERT_TRUE(m_file.Load(Make("odd.bin", PhoneImage(100, kVersion7, LE(0xABCDE).data())),
                          IMAGE_PHONE_CODE));
  EXPECT_NE(m_window.m_boxes.back().text.find("0xABCDE "), std::string::npos);
  EXPECT_EQ(m_file.GetStartAddress(), 0xABCDEu);
}

TEST_F(DloadFileTest, VersionBytes) {
  const uint8_t none[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(m_file.Load(Make("a.bin", PhoneImage(64, none, kAddr20000)), IMAGE_PHONE_CODE));
  ASSERT_EQ(m_window.m_boxes.size(), 1u);
  EXPECT_EQ(m_window.m_boxes[0].text, "FILE의 s/w 버젼이 올바르지 않습니다.");
  EXPECT_EQ(m_window.m_boxes[0].type, MB_OK);
  EXPECT_EQ(m_file.GetSize(), 0u);
  EXPECT_EQ(m_file.GetSwVersion(), 0u);

  const uint8_t high[4] = {0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_TRUE(m_file.Load(Make("b.bin", PhoneImage(64, high, kAddr20000)), IMAGE_PHONE_CODE));
  EXPECT_EQ(m_file.GetSwVersion(), 0x7FFFFFFFu);
  EXPECT_EQ(m_window.m_boxes.size(), 1u);
}

TEST_F(DloadFileTest, DamagedFiles) {
  const std::string damaged = "This is a damaged file,replace this file with a good one";
  EXPECT_FALSE(m_file.Load(Make("m.bin", PhoneImage(64, kVersion7, kAddr20000, false)),
                           IMAGE_PHONE_CODE));
  // Too short to hold a trailer: refused the same way, nothing read before
  // the file's start.
  EXPECT_FALSE(m_file.Load(Make("short.bin", std::vector<uint8_t>(36, 0xFF)), IMAGE_PHONE_CODE));
  EXPECT_FALSE(m_file.Load(Make("empty.bin", {}), IMAGE_PHONE_CODE));
  ASSERT_EQ(m_window.m_boxes.size(), 3u);
  for (const auto& box : m_window.m_boxes) {
    EXPECT_EQ(box.text, damaged);
    EXPECT_EQ(box.type, MB_OK);
  }
  EXPECT_EQ(m_file.GetSize(), 0u);

  // Exactly a trailer is a (tiny) image.
  EXPECT_TRUE(m_file.Load(Make("t.bin", PhoneImage(0, kVersion7, kAddr20000)), IMAGE_PHONE_CODE));
  EXPECT_EQ(m_file.GetSize(), 37u);
  // Other kinds never look at a trailer.
  EXPECT_TRUE(m_file.Load(Make("short2.bin", std::vector<uint8_t>(36, 1)), IMAGE_PHONE_CODE_UNCHECKED));
  EXPECT_EQ(m_file.GetSize(), 36u);
}

TEST_F(DloadFileTest, UnopenableFiles) {
  const std::string missing = m_dir / "missing.bin";
  EXPECT_FALSE(m_file.Load(missing, IMAGE_EFS_FILE));
  std::filesystem::create_directory(m_dir / "folder.set");
  EXPECT_FALSE(m_file.Load(m_dir / "folder.set", IMAGE_QBFS_FILE));
  ASSERT_EQ(m_window.m_boxes.size(), 2u);
  EXPECT_EQ(m_window.m_boxes[0].text, " Fail to read from " + missing + "\n Please Check bin_file !");
  EXPECT_EQ(m_window.m_boxes[0].type, MB_OK | MB_ICONHAND);
  EXPECT_EQ(m_window.m_boxes[1].text,
            " Fail to read from " + (m_dir / "folder.set") + "\n Please Check bin_file !");
  EXPECT_EQ(m_file.GetSize(), 0u);

  BlockRecord block;
  EXPECT_FALSE(m_file.ReadBlock(0, 0, block, m_toggle));
}

TEST(DloadFileNoOwner, TracesAndAnswersNo) {
  CTempDir dir;
  WriteFile(dir / "p.bin", PhoneImage(64, kVersion7, LE(0x3000).data()));
  TraceCapture trace;
  CDloadFile file;
  EXPECT_FALSE(file.Load(dir / "p.bin", IMAGE_PHONE_CODE));
  EXPECT_FALSE(file.Load(dir / "none.bin", IMAGE_EFS_FILE));
  const auto texts = trace.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("Application 다운로딩 시작 주소가 0x3000 입니다.", 0), 0u);
  EXPECT_EQ(texts[1], " Fail to read from " + (dir / "none.bin") + "\n Please Check bin_file !\n");
}

// ---- sizes and blocks ----

TEST_F(DloadFileTest, SizeRoundingByKind) {
  const std::string path3000 = Make("boot.bin", PatternBytes(3000));
  ASSERT_TRUE(m_file.Load(path3000, IMAGE_BOOTLOADER));
  EXPECT_EQ(m_file.GetSize(), 3072u);
  ASSERT_TRUE(m_file.Load(path3000, IMAGE_RESOURCE));
  EXPECT_EQ(m_file.GetSize(), 3072u);
  ASSERT_TRUE(m_file.Load(path3000, IMAGE_EFS_FILE));
  EXPECT_EQ(m_file.GetSize(), 3000u);
  ASSERT_TRUE(m_file.Load(path3000, IMAGE_QBFS_FILE));
  EXPECT_EQ(m_file.GetSize(), 3000u);

  ASSERT_TRUE(m_file.Load(Make("r.bin", PatternBytes(2048)), IMAGE_RESOURCE));
  EXPECT_EQ(m_file.GetSize(), 2048u);
  ASSERT_TRUE(m_file.Load(Make("r1.bin", PatternBytes(1025)), IMAGE_BOOTLOADER));
  EXPECT_EQ(m_file.GetSize(), 2048u);
  EXPECT_TRUE(m_window.m_boxes.empty());
}

TEST_F(DloadFileTest, LastBlockIsPaddedWithFF) {
  const std::vector<uint8_t> bytes = PatternBytes(3000);
  // A Korean path, as benches have them: UTF-8 here, UTF-16 for Windows.
  ASSERT_TRUE(m_file.Load(Make("부트 이미지/boot 한글.bin", bytes), IMAGE_BOOTLOADER));

  BlockRecord block;
  block.first = 0x42;
  ASSERT_TRUE(m_file.ReadBlock(0, 2, block, m_toggle));
  EXPECT_EQ(uint32_t{block.address}, 2048u);
  EXPECT_EQ(int{block.length}, 1024);
  EXPECT_EQ(int{block.first}, 0x42);
  EXPECT_EQ(0, std::memcmp(block.data, bytes.data() + 2048, 952));
  for (int i = 952; i < 1024; ++i) ASSERT_EQ(block.data[i], 0xFF) << i;

  ASSERT_TRUE(m_file.ReadBlock(1024, 0, block, m_toggle));  // base + index x 1024
  EXPECT_EQ(uint32_t{block.address}, 1024u);
  EXPECT_EQ(0, std::memcmp(block.data, bytes.data() + 1024, 1024));

  EXPECT_FALSE(m_file.ReadBlock(0, 3, block, m_toggle));
  EXPECT_EQ(uint32_t{block.address}, 3072u);  // stored even when the image is finished
  EXPECT_FALSE(m_file.ReadBlock(0xFFFFFC00u, 1, block, m_toggle));  // wrapped offset
  EXPECT_TRUE(m_window.m_boxes.empty());
}

TEST_F(DloadFileTest, ReadBlockReopensTheFileEveryTime) {
  const std::string path = Make("e.bin", PatternBytes(2048));
  ASSERT_TRUE(m_file.Load(path, IMAGE_EFS_FILE));
  std::filesystem::remove(path);
  BlockRecord block;
  EXPECT_FALSE(m_file.ReadBlock(0, 0, block, m_toggle));
  ASSERT_EQ(m_window.m_boxes.size(), 1u);
  EXPECT_EQ(m_window.m_boxes[0].text, " Fail to read from " + path + "\n Please Check bin_file !");

  WriteFile(path, std::vector<uint8_t>(2048, 0x33));
  ASSERT_TRUE(m_file.ReadBlock(0, 1, block, m_toggle));
  EXPECT_EQ(block.data[0], 0x33);
}

// The image stays open between blocks, yet each block comes from the file
// the path names when it is read, as if opened afresh.
TEST_F(DloadFileTest, TheImageStaysOpenButIsReadAsTheFileOnDiskIs) {
  const std::string path = Make("e.bin", std::vector<uint8_t>(2048, 0x11));
  ASSERT_TRUE(m_file.Load(path, IMAGE_EFS_FILE));
  EXPECT_EQ(OpenDescriptorsOf(path), 0);
  BlockRecord block;
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, m_toggle));
  ASSERT_TRUE(m_file.ReadBlock(0, 1, block, m_toggle));
  EXPECT_EQ(OpenDescriptorsOf(path), 1);

  {  // written over in place
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    out.write("\x22", 1);
  }
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, m_toggle));
  EXPECT_EQ(block.data[0], 0x22);
#ifndef _WIN32  // Windows refuses to replace or remove a file that is held open
  WriteFile(m_dir / "new.bin", std::vector<uint8_t>(2048, 0x44));  // put in its place
  std::filesystem::rename(m_dir / "new.bin", path);
  ASSERT_TRUE(m_file.ReadBlock(0, 1, block, m_toggle));
  EXPECT_EQ(block.data[0], 0x44);
  EXPECT_EQ(OpenDescriptorsOf(path), 1);
  std::filesystem::remove(path);  // Windows only marks a held file for deletion
  EXPECT_FALSE(m_file.ReadBlock(0, 0, block, m_toggle));
  ASSERT_EQ(m_window.m_boxes.size(), 1u);
  EXPECT_EQ(m_window.m_boxes[0].text, " Fail to read from " + path + "\n Please Check bin_file !");
#endif

  WriteFile(path, std::vector<uint8_t>(2048, 0x55));
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, m_toggle));
  EXPECT_EQ(block.data[0], 0x55);
  m_file.CloseImage();  // the run ended
  EXPECT_EQ(OpenDescriptorsOf(path), 0);
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, m_toggle));
  const std::string other = Make("f.bin", std::vector<uint8_t>(1024, 0x66));
  ASSERT_TRUE(m_file.Load(other, IMAGE_EFS_FILE));  // the step's image changed
  EXPECT_EQ(OpenDescriptorsOf(path), 0);
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, m_toggle));
  EXPECT_EQ(block.data[0], 0x66);
}

TEST_F(DloadFileTest, SignatureIsPatchedEveryOtherTimePerToggle) {
  std::vector<uint8_t> bytes(2048, 0x11);
  for (int b = 0; b < 2; ++b) {
    std::memcpy(&bytes[b * 1024], CDloadFile::kBlockSignature, 7);
    bytes[b * 1024 + 7] = 0x05;
  }
  const std::string path = Make("sig.bin", bytes);
  ASSERT_TRUE(m_file.Load(path, IMAGE_PHONE_CODE_UNCHECKED));

  BlockRecord block;
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, m_toggle));
  EXPECT_EQ(block.data[7], 0x02);
  EXPECT_EQ(0, std::memcmp(block.data, CDloadFile::kBlockSignature, 7));
  EXPECT_EQ(block.data[8], 0x11);
  EXPECT_TRUE(m_toggle);

  // The next read with the same toggle is left alone and clears it.
  ASSERT_TRUE(m_file.ReadBlock(0, 1, block, m_toggle));
  EXPECT_EQ(block.data[7], 0x05);
  EXPECT_FALSE(m_toggle);

  // Another entry's toggle is its own: it patches the same block too.
  bool otherEntry = false;
  m_toggle = true;
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, otherEntry));
  EXPECT_EQ(block.data[7], 0x02);
  EXPECT_TRUE(otherEntry);
  EXPECT_TRUE(m_toggle);

  // A block without the signature leaves a clear toggle clear.
  m_toggle = false;
  std::vector<uint8_t> plain(1024, 0x01);
  ASSERT_TRUE(m_file.Load(Make("plain.bin", plain), IMAGE_EFS_FILE));
  ASSERT_TRUE(m_file.ReadBlock(0, 0, block, m_toggle));
  EXPECT_FALSE(m_toggle);
  EXPECT_EQ(block.data[7], 0x01);

  EXPECT_EQ(ReadFile(path), bytes);  // the file itself is never changed
}

TEST(DloadFileMarker, FillsSignatureFlagAndZerosKeepingAddress) {
  BlockRecord block;
  block.first = 0x9C;
  block.address = 0x12345678;
  block.length = 17;
  std::memset(block.data, 0xEE, sizeof block.data);
  CDloadFile::FillMarkerBlock(block);
  EXPECT_EQ(int{block.first}, 0x9C);
  EXPECT_EQ(uint32_t{block.address}, 0x12345678u);
  EXPECT_EQ(int{block.length}, 1024);
  const uint8_t head[8] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
  EXPECT_EQ(0, std::memcmp(block.data, head, 8));
  for (int i = 8; i < 1024; ++i) ASSERT_EQ(block.data[i], 0x00) << i;
}

TEST_F(DloadFileTest, BuildTimeIsTheModificationTime) {
  const std::string path = Make("t.bin", PatternBytes(10));
  struct Case {
    int year, month, day, hour, minute, second;
    const char* shown;
  };
  const Case cases[] = {
      {2021, 3, 4, 5, 6, 7, "2021/3/4 5:6:7"},
      {2009, 12, 31, 23, 59, 58, "2009/12/31 23:59:58"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    std::tm local{};
    local.tm_year = c.year - 1900;
    local.tm_mon = c.month - 1;
    local.tm_mday = c.day;
    local.tm_hour = c.hour;
    local.tm_min = c.minute;
    local.tm_sec = c.second;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    utimbuf times{when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
    ASSERT_TRUE(m_file.Load(path, IMAGE_EFS_FILE));
    EXPECT_EQ(m_file.FormatBuildTime(), c.shown);
  }
}

}  // namespace
