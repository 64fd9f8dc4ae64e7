#include "DloadFile.h"

#include <cstdio>
#include <cstring>

#include "platform/OsFile.h"
#include "Window.h"
#include "link/Trace.h"

const uint8_t CDloadFile::kBlockSignature[7] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24};

namespace {

// The trailer begins with its marker; the software version and the start
// address follow at fixed distances from the end of the file.
constexpr uint8_t kTrailerMarker[3] = {0xFF, 0x1D, 0x00};
constexpr int kVersionBack = 20;
constexpr int kAddressBack = 16;
constexpr int kVersionAt = IMAGE_TRAILER_SIZE - kVersionBack;  // in the trailer
constexpr int kAddressAt = IMAGE_TRAILER_SIZE - kAddressBack;

const char kDamagedText[] = "This is a damaged file,replace this file with a good one";
const char kBadVersionText[] = "FILE의 s/w 버젼이 올바르지 않습니다.";

uint32_t LittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// An application that starts inside the first 16 KiB or off a 4 KiB
// boundary is unusual enough to ask about.
bool AcceptableStartAddress(uint32_t address) {
  return (address & 0xFFFu) == 0 && (address == 0 || address >= 0x4000u);
}

std::string FailToReadText(const std::string& path) {
  return " Fail to read from " + path + "\n Please Check bin_file !";
}

std::string FailToGetInfoText(const std::string& path) {
  return " Fail to get file info from " + path + "\n Please Check bin_file !";
}

}  // namespace

CDloadFile::CDloadFile(IWindow* owner) : m_pOwner(owner) {}

void CDloadFile::Message(const std::string& text, uint32_t type) {
  if (m_pOwner != nullptr) {
    m_pOwner->MessageBox(text, type);
  } else {
    Trace(text + "\n");
  }
}

int CDloadFile::Ask(const std::string& text, uint32_t type) {
  if (m_pOwner != nullptr) return m_pOwner->MessageBox(text, type);
  Trace(text + "\n");
  return IDNO;
}

CDloadFile::~CDloadFile() { CloseImage(); }

void CDloadFile::CloseImage() { m_image.Close(); }

bool CDloadFile::HoldImage() {
  if (m_image.IsOpen()) {
    OsFileStamp now;
    if (OsFileStampOf(m_strPath, now) && now == m_held) return true;
    CloseImage();
  }
  if (!m_image.Open(m_strPath)) return false;
  // A stamp that cannot be had matches nothing real: the file is then
  // opened afresh for every block, as it always used to be.
  if (!m_image.Stamp(m_held)) m_held = {~0ull, ~0ull, -1};
  return true;
}

bool CDloadFile::Load(const std::string& path, int kind) {
  CloseImage();
  m_nSize = 0;
  m_nSwVersion = 0;
  m_strPath = path;

  COsFile file;
  if (!file.Open(path)) {
    Message(FailToReadText(path), MB_OK | MB_ICONHAND);
    return false;
  }
  uint64_t length = 0;
  std::time_t modified = 0;
  if (!file.Status(length, modified)) {
    Message(FailToGetInfoText(path), MB_OK | MB_ICONINFORMATION);
    return false;
  }
  uint64_t size = length;
  if ((kind == IMAGE_BOOTLOADER || kind == IMAGE_RESOURCE) && size % BLOCK_SIZE != 0) {
    size = (size / BLOCK_SIZE + 1) * BLOCK_SIZE;
  }
  // Sizes travel to the handset as 32-bit values; a larger image would be
  // announced with a wrapped size, so it is refused here.
  if (size > UINT32_MAX) {
    Message(FailToGetInfoText(path), MB_OK | MB_ICONINFORMATION);
    return false;
  }

  if (kind == IMAGE_PHONE_CODE) {
    // A file shorter than the trailer has no trailer: damaged, and nothing
    // before its start is read.
    uint8_t trailer[IMAGE_TRAILER_SIZE];
    if (length < static_cast<uint64_t>(IMAGE_TRAILER_SIZE) ||
        file.ReadAt(trailer, sizeof trailer, length - IMAGE_TRAILER_SIZE) !=
            static_cast<int64_t>(sizeof trailer) ||
        std::memcmp(trailer, kTrailerMarker, sizeof kTrailerMarker) != 0) {
      Message(kDamagedText, MB_OK);
      return false;
    }
    const uint8_t* version = trailer + kVersionAt;
    if (version[0] == 0xFF && version[1] == 0xFF && version[2] == 0xFF && version[3] == 0xFF) {
      Message(kBadVersionText, MB_OK);
      return false;
    }
    m_nSwVersion = LittleEndian32(version);

    const uint32_t address = LittleEndian32(trailer + kAddressAt);
    if (!AcceptableStartAddress(address)) {
      char text[64];
      std::snprintf(text, sizeof text, "Application 다운로딩 시작 주소가 0x%lX 입니다.",
                    static_cast<unsigned long>(address));
      std::string question = std::string(text) + "\n다운로딩이 실패할 수 있습니다." +
                             "\n계속 다운로딩 하시겠습니가?";
      if (Ask(question, MB_YESNO | MB_ICONEXCLAMATION | MB_SYSTEMMODAL) != IDYES) return false;
    }
    m_nStartAddress = address;
  }

  m_nSize = static_cast<uint32_t>(size);
  m_buildTime = modified;
  return true;
}

bool CDloadFile::ReadBlock(uint32_t baseOffset, uint32_t blockIndex, BlockRecord& block,
                           bool& signaturePatched) {
  if (!HoldImage()) {
    Message(FailToReadText(m_strPath), MB_OK | MB_ICONHAND);
    return false;
  }
  // The record carries the 32-bit offset the handset sees; the end test
  // uses the full value so a wrapped offset never reads the image again.
  const uint64_t offset = static_cast<uint64_t>(baseOffset) +
                          static_cast<uint64_t>(blockIndex) * BLOCK_SIZE;
  block.address = static_cast<uint32_t>(offset);
  if (offset >= m_nSize) return false;

  const int64_t got = m_image.ReadAt(block.data, BLOCK_SIZE, offset);
  if (got < 0) {
    Message(FailToReadText(m_strPath), MB_OK | MB_ICONHAND);
    return false;
  }
  if (got < BLOCK_SIZE) std::memset(block.data + got, 0xFF, static_cast<size_t>(BLOCK_SIZE - got));
  block.length = BLOCK_SIZE;

  if (signaturePatched) {
    signaturePatched = false;
  } else if (std::memcmp(block.data, kBlockSignature, sizeof kBlockSignature) == 0) {
    block.data[7] = 0x02;
    block.length = BLOCK_SIZE;
    signaturePatched = true;
  }
  return true;
}

void CDloadFile::FillMarkerBlock(BlockRecord& block) {
  std::memcpy(block.data, kBlockSignature, sizeof kBlockSignature);
  block.data[7] = 0x01;
  std::memset(block.data + 8, 0x00, BLOCK_SIZE - 8);
  block.length = BLOCK_SIZE;
}

std::string CDloadFile::FormatBuildTime() const {
  std::tm local {};
  std::time_t t = m_buildTime;
  if (!OsLocalTime(t, local)) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%d:%d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}
