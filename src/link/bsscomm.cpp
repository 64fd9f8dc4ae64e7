#include "link/bsscomm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "link/BlockRecord.h"
#include "link/CodePage949.h"
#include "link/LinkEvents.h"
#include "link/QTextQ.h"
#include "link/Trace.h"
#include "link/crc.h"
#include "platform/PortMap.h"

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kSecondFlag = 0x7F;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kStuffXor = 0x20;

// Flag, every request byte and both FCS bytes stuffed, end flag, fill.
constexpr int kMaxFrame = 1 + 2 * MAX_REQUEST + 4 + 1 + 3;

constexpr uint32_t kQueueBytes = 4096;
constexpr uint32_t kWriteTimeoutMs = 1000;
constexpr int kSettleMs = 100;

const char* const kEraseStatus = "Flash erase 중.. 잠시만 기다리세요";

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }


bool ConvertForField(const std::string& name, int field, std::string& out) {
  return ToCodePage949(name, out) && out.size() + 1 <= static_cast<size_t>(std::max(field, 0));
}

void PutLittleEndian(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendStuffed(uint8_t* frame, int& len, uint8_t b) {
  if (b == kEscape || b == kFlag || b == kSecondFlag) {
    frame[len++] = kEscape;
    frame[len++] = static_cast<uint8_t>(b ^ kStuffXor);
  } else {
    frame[len++] = b;
  }
}

}  // namespace

CBssComm::CBssComm() = default;

CBssComm::~CBssComm() { Release(); }

bool CBssComm::Init(ILinkEvents* events, CQTextQ* queue) {
  m_pEvents = events;
  m_pTextQ = queue;
  return true;
}

bool CBssComm::Open() {
  m_bOpen = 0;
  m_strDevice.clear();
  m_strTriedDevice.clear();
  m_openFailure = {};
  m_rx.Clear();
  const std::optional<std::string> device = CPortMap::Instance().Device(m_nPort);
  if (!device) {
    m_openFailure = {PortCause::NotFound, 0, "no device for COM" + std::to_string(m_nPort)};
    Trace("Failt to open Comm\n");
    return false;
  }
  m_strTriedDevice = *device;
  if (!m_hComm) m_hComm = CreateSerialPort();
  if (!m_hComm) {
    m_openFailure = {PortCause::IoError, 0, "no serial port backend"};
    Trace("Failt to open Comm\n");
    return false;
  }
  // Opening a link that is still open would leak the earlier descriptor and
  // be refused by its own lock; start from a closed port instead.
  if (m_hComm->IsOpen()) m_hComm->Close();
  if (!m_hComm->Open(*device)) {
    m_openFailure = m_hComm->LastFailure();
    Trace("Failt to open Comm\n");
    return false;
  }
  m_hComm->SetEventMask(EV_RXCHAR);
  m_hComm->SetupQueues(kQueueBytes, kQueueBytes);
  m_hComm->Purge();
  m_hComm->SetTimeouts(0, kWriteTimeoutMs);
  if (!ApplyLineSettings()) {
    m_openFailure = m_hComm->LastFailure();
    m_bOpen = 0;
    m_hComm->Close();
    return false;
  }
  SleepMs(kSettleMs);
  m_bOpen = 1;
  m_strDevice = *device;
  return true;
}

PortFailure CBssComm::PortFailureNow() const {
  if (!m_hComm) return {};
  return m_hComm->LastFailure();
}

bool CBssComm::ApplyLineSettings() {
  if (!m_hComm) return false;
  SerialLineSettings settings;
  settings.baud = m_dwBaud;
  settings.byteSize = m_nByteSize;
  settings.parity = m_nParity;
  settings.stopBits = m_nStopBits;
  settings.binary = true;
  settings.parityCheck = true;
  settings.dtrOff = true;
  settings.xonXoffOut = true;
  settings.xonXoffIn = true;
  return m_hComm->ApplyLineSettings(settings);
}

bool CBssComm::Close() {
  if (m_bOpen == 0) return false;
  m_bOpen = 0;
  m_strDevice.clear();
  if (!m_hComm) return true;
  m_hComm->SetEventMask(0);  // releases the receive thread's wait
  m_hComm->ClearDtrRts();
  m_hComm->Purge();
  if (!m_hComm->Close()) {
    char text[64];
    std::snprintf(text, sizeof text, "Error : Close COM Port (pipe number :%d)", m_nEntry);
    if (m_pEvents)
      m_pEvents->ShowMessage(text);
    else
      Trace(std::string(text) + "\n");
  }
  return true;
}

bool CBssComm::Release() {
  Close();
  return true;
}

uint32_t CBssComm::ReadAvailable(uint8_t* buffer, uint32_t limit) {
  if (!m_hComm || buffer == nullptr || limit == 0) return 0;
  const int queued = m_hComm->QueuedInput();
  if (queued <= 0) return 0;
  const uint32_t n = std::min(static_cast<uint32_t>(queued), limit);
  const int got = m_hComm->Read(buffer, n);
  if (got < 0) {
    Trace("READ_Error : ReadFile() in COMM\n");
    return 0;
  }
  return static_cast<uint32_t>(got);
}

bool CBssComm::WriteBytes(const uint8_t* data, uint32_t count) {
  if (m_bOpen == 0 || !m_hComm) return false;
  if (count > 0 && data == nullptr) return false;
  if (!m_hComm->Write(data, count)) {
    Trace("WRITE_Error : WriteFile() in COMM\n");
    m_hComm->QueuedInput();  // clears the port's error state
    return false;
  }
  return true;
}

void CBssComm::PostLog(int kind, const std::string& text) {
  if (text.empty() || m_pTextQ == nullptr) return;
  if (!m_pTextQ->Put(kind, text)) return;
  if (m_pEvents) m_pEvents->LogLinesWaiting(m_nEntry);
}

void CBssComm::LogStatus(const std::string& text) { PostLog(LOG_STATUS, text); }

void CBssComm::LogError(const std::string& text) { PostLog(LOG_ERROR, text); }

bool CBssComm::SetCommMask(uint32_t mask) {
  // The port object is thread-safe and knows whether it is open; m_bOpen is
  // the dialog thread's.
  if (!m_hComm) return false;
  return m_hComm->SetEventMask(mask);
}

PortWait CBssComm::WaitCommEvent() {
  if (!m_hComm) return PortWait::MaskCleared;
  return m_hComm->WaitEvent();
}

PortWait CBssComm::WaitCommEventFor(uint32_t timeoutMs) {
  if (!m_hComm) return PortWait::MaskCleared;
  return m_hComm->WaitEventFor(timeoutMs);
}

bool CBssComm::SendRequest(const uint8_t* req, uint16_t n, int pauseMs) {
  // The frame buffer holds the longest request fully stuffed; nothing longer
  // is ever built, and nothing is kept of a refused request.
  if (n > MAX_REQUEST || (n > 0 && req == nullptr)) return false;
  if (n > 0 && req != m_lastReq) std::memmove(m_lastReq, req, n);
  m_nLastLen = n;

  uint8_t frame[kMaxFrame];
  int len = 0;
  frame[len++] = m_bBootFraming.load(std::memory_order_acquire) ? kFlag : kSecondFlag;
  uint16_t fcs = crc::kCrc16Init;
  for (uint16_t i = 0; i < n; ++i) {
    AppendStuffed(frame, len, m_lastReq[i]);
    fcs = crc::Crc16Step(fcs, m_lastReq[i]);
  }
  fcs ^= crc::kCrc16XorOut;
  AppendStuffed(frame, len, static_cast<uint8_t>(fcs & 0xFF));
  AppendStuffed(frame, len, static_cast<uint8_t>(fcs >> 8));
  frame[len++] = kFlag;
  while (len % 4 != 0) frame[len++] = 0x00;

  const bool ok = WriteBytes(frame, static_cast<uint32_t>(len));
  if (pauseMs > 0) SleepMs(pauseMs);
  return ok;
}

void CBssComm::Resend() {
  // A repeat that cannot be written is one more silence to its owner's
  // timer, as the first one was; the write's failure is in the trace.
  static_cast<void>(SendRequest(m_lastReq, static_cast<uint16_t>(m_nLastLen), 0));
  LogStatus("패킷 재전송합니다.");
}

bool CBssComm::AddReceived(const uint8_t* data, int len, int entry) {
  const CFrameDecoder::Result r = m_rx.Add(data, len, m_bBootFraming.load(std::memory_order_acquire) != 0);
  switch (r.outcome) {
    case CFrameDecoder::Outcome::Overflow:
      return false;
    case CFrameDecoder::Outcome::Rejected:
      LogError("\n[RX]Bad CRC in response packet\n");
      return true;
    case CFrameDecoder::Outcome::Packet:
      DeliverPacket(r.body, r.length, entry);
      return true;
    case CFrameDecoder::Outcome::Incomplete:
      break;
  }
  return true;
}

void CBssComm::DeliverPacket(const uint8_t* body, int len, int entry) {
  // A body longer than the reply buffer is cut to it, never copied past it.
  const int n = std::clamp(len, 0, RX_PACKET_SIZE);
  {
    std::lock_guard<std::mutex> guard(m_rxLock);
    if (n > 0 && body != nullptr) std::memcpy(m_rxPacket, body, static_cast<size_t>(n));
  }
  if (m_pEvents) m_pEvents->PacketWaiting(entry);
}

void CBssComm::CopyPacket(uint8_t (&out)[RX_PACKET_SIZE]) const {
  std::lock_guard<std::mutex> guard(m_rxLock);
  std::memcpy(out, m_rxPacket, sizeof out);
}

bool CBssComm::SendFramedRequest(const uint8_t* req, uint16_t n, const char* status) {
  if (status != nullptr) LogStatus(status);
  // Visible to the receive thread before the first byte of the request is
  // out, so the reply is checked in boot framing.
  m_bBootFraming.store(1, std::memory_order_release);
  return SendRequest(req, n, 0);
}

bool CBssComm::RequestPhoneDownload() {
  const uint8_t req[1] = {CMD_PHONE_DOWNLOAD};
  return SendFramedRequest(req, 1, nullptr);
}

bool CBssComm::RequestRscDownload() {
  const uint8_t req[1] = {CMD_RSC_DOWNLOAD};
  return SendFramedRequest(req, 1, "Request RSC Binary download");
}

bool CBssComm::RequestFormat() {
  const uint8_t req[1] = {CMD_FORMAT};
  return SendFramedRequest(req, 1, "Low level Format and QBFS, EFS2 Rebuilding...");
}

bool CBssComm::RequestBootDownload() {
  const uint8_t req[1] = {CMD_BOOT_DOWNLOAD};
  return SendFramedRequest(req, 1, "BootLoader 다운로드 시작 요청");
}

bool CBssComm::RequestBootVersion() {
  const uint8_t req[5] = {CMD_BOOT_VERSION, 0, 0, 0, 0};
  return SendFramedRequest(req, 5, "현재 BOOT 버젼 요청");
}

bool CBssComm::RequestJump() {
  const uint8_t req[1] = {CMD_JUMP};
  return SendFramedRequest(req, 1, "Jump 요청");
}

bool CBssComm::RequestEfsFileInfo(const std::string& file, const std::string& folder) {
  std::string fileCp;
  std::string folderCp;
  if (!ConvertForField(file, EFS_FILE_FIELD, fileCp) || !ConvertForField(folder, EFS_FOLDER_FIELD, folderCp)) {
    Trace("EFS file information refused: name not convertible or too long\n");
    return false;
  }
  uint8_t req[MAX_REQUEST] = {};
  req[0] = CMD_EFS_FILE_INFO;
  std::memcpy(req + 1, fileCp.data(), fileCp.size());
  std::memcpy(req + 1 + EFS_FILE_FIELD, folderCp.data(), folderCp.size());
  return SendFramedRequest(req, MAX_REQUEST, "Transmit EFS File information");
}

bool CBssComm::RequestErase(uint32_t start, uint32_t length, uint32_t start2) {
  uint8_t req[13] = {CMD_ERASE};
  PutLittleEndian(req + 1, start);
  PutLittleEndian(req + 5, length);
  PutLittleEndian(req + 9, start2);
  return SendFramedRequest(req, 13, kEraseStatus);
}

bool CBssComm::RequestEraseExt(uint32_t start, uint32_t length, uint32_t start2) {
  uint8_t req[13] = {CMD_ERASE_EXT};
  PutLittleEndian(req + 1, start);
  PutLittleEndian(req + 5, length);
  PutLittleEndian(req + 9, start2);
  return SendFramedRequest(req, 13, kEraseStatus);
}

bool CBssComm::SendBlock(const BlockRecord& block) {
  m_bBootFraming.store(1, std::memory_order_release);
  const uint16_t length = block.length;
  // A record claiming more than it holds is refused rather than read past.
  if (length > BLOCK_SIZE) return false;
  return WriteBytes(block.data, length);
}

bool CBssComm::FitsEfsField(const std::string& name, int field) {
  std::string converted;
  return ConvertForField(name, field, converted);
}
