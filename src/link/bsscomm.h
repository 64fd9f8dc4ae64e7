// The serial link of one download entry: its port with the fixed line
// settings, request framing, the receive side, and the request operations of
// the handsets' download protocol.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/FrameDecoder.h"
#include "platform/SerialPort.h"

class ILinkEvents;
class CQTextQ;
struct BlockRecord;

// Request codes.
constexpr uint8_t CMD_PHONE_DOWNLOAD = 0xA0;
constexpr uint8_t CMD_RSC_DOWNLOAD = 0xA5;
constexpr uint8_t CMD_FORMAT = 0xA6;
constexpr uint8_t CMD_BOOT_DOWNLOAD = 0xAA;
constexpr uint8_t CMD_BOOT_VERSION = 0xAB;
constexpr uint8_t CMD_EFS_FILE_INFO = 0xAD;
constexpr uint8_t CMD_JUMP = 0xC0;
constexpr uint8_t CMD_ERASE = 0xEE;
constexpr uint8_t CMD_ERASE_EXT = 0xEF;

// Reply codes.
constexpr uint8_t ACK = 0x02;
constexpr uint8_t RESEND_ACK = 0x03;
constexpr uint8_t VERSION_RSP = 0x0D;
constexpr uint8_t NAK_RETRY = 0xA1;
constexpr uint8_t RSP_IGNORED = 0xA2;
constexpr uint8_t NAK_INVALID_CMD = 0xA3;
constexpr uint8_t NAK_FAILED = 0xA4;

// The two bytes after a short reply's code. Boot framing passes them on
// unchecked, so the engine tells a genuine reply from a damaged one by them.
/// ACK: the CRC-16/X-25 check sequence of the one-byte packet 02, low byte first.
constexpr uint8_t ACK_FCS[2] = {0x6A, 0xD3};
/// RESEND_ACK: the handset is ready for the block again (it sends 03 03 03).
constexpr uint8_t RESEND_ACK_TAIL[2] = {0x03, 0x03};
/// NAK_INVALID_CMD: the fixed pair of a genuine refusal (no check sum of it).
constexpr uint8_t NAK_INVALID_CMD_TAIL[2] = {0x9E, 0x4C};
/// NAK_FAILED: the pair of a genuine failure to carry out the request.
constexpr uint8_t NAK_FAILED_TAIL[2] = {0x00, 0x00};

/// Size of the reply buffer; longer bodies are cut to it.
constexpr int RX_PACKET_SIZE = 500;
/// Longest request (the EFS file information).
constexpr int MAX_REQUEST = 99;
/// Field widths of the EFS file information request, terminating NUL included.
constexpr int EFS_FILE_FIELD = 48;
constexpr int EFS_FOLDER_FIELD = 50;

class CBssComm {
 public:
  CBssComm();
  virtual ~CBssComm();  ///< calls Release
  CBssComm(const CBssComm&) = delete;
  CBssComm& operator=(const CBssComm&) = delete;

  // ---- port ----

  /// Remembers whom to tell that a packet or log lines wait, and the queue
  /// the entry's log lines go to. Always true here (no events to create).
  bool Init(ILinkEvents* events, CQTextQ* queue);

  /// The COM number to open next; nothing else happens until Open.
  void SetPortNumber(uint8_t n) { m_nPort = n; }
  /// The COM number set last.
  uint8_t PortNumber() const { return m_nPort; }
  /// The device the open link was opened on; empty when it is not open.
  const std::string& OpenDevice() const { return m_strDevice; }
  /// The device the last Open tried; empty when COM m_nPort had none.
  const std::string& TriedDevice() const { return m_strTriedDevice; }
  /// Why the last Open failed (cause None after a successful one).
  const PortFailure& OpenFailure() const { return m_openFailure; }
  /// The port's last failure, whatever call it was (a wait that ended
  /// because the device went away, for instance).
  PortFailure PortFailureNow() const;

  /// Opens the device mapped to COM m_nPort (an unmapped number fails like
  /// an absent port), sets the event mask, queues, purges, time-outs and the
  /// line settings, then waits 100 ms. On failure traces
  /// "Failt to open Comm\n" and returns false with m_bOpen 0; OpenFailure
  /// then says why.
  [[nodiscard]] bool Open();

  /// 57600 baud, 8N1, binary, DTR off, XON/XOFF both ways.
  bool ApplyLineSettings();

  /// Clears the event mask (which releases the receive thread), drops DTR
  /// and RTS, purges and closes. False, touching nothing, when not open.
  /// A failing close shows "Error : Close COM Port (pipe number :%d)".
  bool Close();

  /// Close. Harmless at any time, also twice. The port object itself is
  /// created at the first Open and kept (closed) until the destructor, so a
  /// receive thread that is still leaving its wait never touches freed
  /// memory; later Opens reuse it.
  bool Release();

  /// True while the port is open and set up.
  bool IsOpen() const { return m_bOpen != 0; }

  /// Reads at most `limit` already-queued bytes; 0 when nothing is queued.
  /// Traces "READ_Error : ReadFile() in COMM\n" on a failed read.
  uint32_t ReadAvailable(uint8_t* buffer, uint32_t limit);

  /// Writes `count` bytes in one write bounded by 1000 ms. False (nothing
  /// written) when not open; traces "WRITE_Error : WriteFile() in COMM\n"
  /// on failure.
  bool WriteBytes(const uint8_t* data, uint32_t count);

  /// Queues a LOG_STATUS / LOG_ERROR line for the entry and, when the queue
  /// took it, reports LogLinesWaiting(entry). Empty texts do nothing.
  void LogStatus(const std::string& text);
  void LogError(const std::string& text);

  // ---- for the receive thread ----

  /// Sets the port's event mask (EV_RXCHAR or 0). False when not open.
  bool SetCommMask(uint32_t mask);

  /// Blocks until a character arrives, the mask is cleared or the port
  /// fails. A closed link reports MaskCleared.
  PortWait WaitCommEvent();

  /// As WaitCommEvent, but gives up with TimedOut once `timeoutMs` passed
  /// without a character: how a burst learns that the line went quiet.
  PortWait WaitCommEventFor(uint32_t timeoutMs);

  /// Start of a receive burst: empties the assembly buffer.
  void BeginBurst() { m_rx.Clear(); }

  /// True while no byte of a frame is held (the next read starts one).
  bool AssemblyEmpty() const { return m_rx.Count() == 0; }

  /// How the receive thread paces a burst: 0 reads each byte as it comes,
  /// 1..RX_SETTLE_MAX_MS sleeps that long before every read (the classic
  /// cadence, for a handset that needs it). Set by the dialog at DownLoad,
  /// taken by the thread at the start of each burst.
  void SetRxSettleMs(int ms) { m_nRxSettleMs.store(ms >= 0 && ms <= RX_SETTLE_MAX_MS ? ms : 0); }
  int RxSettleMs() const { return m_nRxSettleMs.load(); }
  static constexpr int RX_SETTLE_MAX_MS = 50;

  // ---- framing ----

  /// Frames `n` request bytes (flag, stuffing, CRC-16/X-25 FCS, flag, zero
  /// fill to a multiple of 4), remembers them for Resend and writes the
  /// frame with one write. Sleeps `pauseMs` afterwards when positive.
  [[nodiscard]] bool SendRequest(const uint8_t* req, uint16_t n, int pauseMs);

  /// Sends the last request again, framed as it was, and logs
  /// "패킷 재전송합니다.".
  void Resend();

  /// Feeds one read into the assembly buffer; delivers an accepted frame or
  /// logs "\n[RX]Bad CRC in response packet\n" for a rejected one. False on
  /// overflow (the caller stops feeding until the next burst).
  bool AddReceived(const uint8_t* data, int len, int entry);

  /// Copies the packet into m_rxPacket (cut to RX_PACKET_SIZE) under the
  /// link's lock and reports PacketWaiting(entry).
  void DeliverPacket(const uint8_t* body, int len, int entry);

  /// The engine's copy of the last delivered packet, taken under the same
  /// lock, so it never sees a packet half-written.
  void CopyPacket(uint8_t (&out)[RX_PACKET_SIZE]) const;

  // ---- requests (each switches to boot framing first) ----

  [[nodiscard]] bool RequestPhoneDownload();
  [[nodiscard]] bool RequestRscDownload();   ///< "Request RSC Binary download"
  [[nodiscard]] bool RequestFormat();        ///< "Low level Format and QBFS, EFS2 Rebuilding..."
  [[nodiscard]] bool RequestBootDownload();  ///< "BootLoader 다운로드 시작 요청"
  [[nodiscard]] bool RequestBootVersion();   ///< "현재 BOOT 버젼 요청"; parameters zero
  [[nodiscard]] bool RequestJump();          ///< "Jump 요청"

  /// "Transmit EFS File information": 99 bytes, names in code page 949
  /// (converted from UTF-8), NUL-terminated, zero-filled. Refuses (false,
  /// nothing sent) a name that cannot be converted or does not fit.
  [[nodiscard]] bool RequestEfsFileInfo(const std::string& file, const std::string& folder);

  /// "Flash erase 중.. 잠시만 기다리세요"; three little-endian values.
  [[nodiscard]] bool RequestErase(uint32_t start, uint32_t length, uint32_t start2);
  [[nodiscard]] bool RequestEraseExt(uint32_t start, uint32_t length, uint32_t start2);

  /// Writes the first `length` bytes of the record raw (no framing).
  [[nodiscard]] bool SendBlock(const BlockRecord& block);

  /// True when `name` (UTF-8) converts to code page 949 and fits a field of
  /// `field` bytes with its NUL. The folder choice uses it to leave out
  /// names the request would refuse.
  static bool FitsEfsField(const std::string& name, int field);

  // ---- state (names kept from the protocol's description) ----
  int m_bOpen = 0;
  int m_nEntry = 0;
  uint8_t m_nPort = 1;
  std::string m_strDevice;  // what Open opened, so a rebound entry is noticed
  uint8_t m_nByteSize = 8;
  uint32_t m_dwBaud = 57600;
  uint8_t m_nParity = 0;
  uint8_t m_nStopBits = 0;
  /// 0 = diagnostic framing, 1 = boot framing. Written on the dialog's
  /// thread before a request goes out, read by the receive thread.
  std::atomic<int> m_bBootFraming{0};
  uint32_t m_nLastLen = 0;
  uint8_t m_lastReq[MAX_REQUEST] = {};  ///< the last request, for Resend

 private:
  [[nodiscard]] bool SendFramedRequest(const uint8_t* req, uint16_t n, const char* status);
  void PostLog(int kind, const std::string& text);

  std::unique_ptr<ISerialPort> m_hComm;
  std::string m_strTriedDevice;
  PortFailure m_openFailure;
  ILinkEvents* m_pEvents = nullptr;
  CQTextQ* m_pTextQ = nullptr;
  CFrameDecoder m_rx;
  std::atomic<int> m_nRxSettleMs{0};
  mutable std::mutex m_rxLock;
  uint8_t m_rxPacket[RX_PACKET_SIZE] = {};
};
