// One run of the download plan over the entries that take part in it. At
// DownLoad the run takes a plan — the steps and images chosen then, the
// EFS2 folder's files, the settings read then — and never changes the
// operator's choices. It holds what the entries of one run share (the step,
// the rendezvous counters, the geometry of the step's image, its own image
// reader) and each member's place in it; the entries themselves keep only
// their binding (port, link, thread, log queue). A batch is one run over all
// its entries; nothing of one run is shared with another, so a run per
// entry works the same way.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DloadFile.h"
#include "EngineTimers.h"
#include "Window.h"
#include "link/BlockRecord.h"
#include "link/QTextQ.h"
#include "link/bsscomm.h"

/// Where an entry stands in the current step (m_nState). 1, 2 and 4 are
/// never set.
enum EntryState {
  /// Idle, or at the start of a step: the step's first request, the boot
  /// version request or the step's jump awaits its reply.
  STATE_IDLE = 0,
  /// The handset's boot version was accepted; the jump goes out next.
  STATE_VERSION_OK = 3,
  /// The erase request is being sent; left within the same event.
  STATE_ERASING = 5,
  /// Erase sent for boot programming: the reply starts the blocks.
  STATE_BOOT_ERASE_SENT = 6,
  /// Boot-programming blocks are going out.
  STATE_BOOT_BLOCKS = 7,
  /// Erase sent for flash programming (or, in the phone code step with
  /// Change Downloader, its boot part is sent): the reply starts the blocks.
  STATE_FLASH_ERASE_SENT = 8,
  /// Flash-programming blocks are going out.
  STATE_FLASH_BLOCKS = 9,
  /// The entry has finished the step and waits for the others.
  STATE_STEP_WAIT = 10,
  /// The run is complete: the final jump has been sent.
  STATE_COMPLETE = 11,
};

enum EntryResult { RESULT_NONE = -1, RESULT_RUNNING = 0, RESULT_COMPLETED = 1, RESULT_FAILED = 2 };

/// Why an entry left its run before completing. Each cause has the text the
/// operator reads in the entry's log, on its line in velmora-cli's output and
/// in the end box; causes whose text depends on the case (a port's failure,
/// a stopped run) carry it with them.
enum class EntryCause {
  None,              ///< running, completed, or not in the run
  NoResponse,        ///< three requests went unanswered
  GivenUp,           ///< three silent blocks, or an erase past its limit
  TooManyRefusals,   ///< refused or damaged replies, ten in a row
  FlashError,        ///< the handset refused a block (A4 00 00)
  InvalidCommand,    ///< the handset refused a request outside the jump
  WrongBootVersion,  ///< the handset's boot code is not the one this tool writes to
  VersionRefused,    ///< the handset refused the boot version request
  Lost,              ///< nothing could move the entry on any more
  PortFailed,        ///< its port could not be opened, or went away
  Interrupted,       ///< the run was stopped from outside
  Stopped,           ///< the run could not go on (the next image failed)
};

/// The fixed text of a cause ("" for the causes whose text is the case's).
const char* EntryCauseText(EntryCause cause);

/// The images chosen for a run, as kind ("boot", "resource", "qbfs", "efs2",
/// "phone") and path, in the order the run writes them.
struct RunImage {
  std::string kind;
  std::string path;
};

/// The chosen EFS2 folder's files.
struct EfsFileList {
  static constexpr int MAX_NAMES = 500;
  std::string folderPath;  ///< chosen folder followed by the separator
  std::string folderName;  ///< the folder's last path component
  std::vector<std::string> names = std::vector<std::string>(MAX_NAMES);  ///< [0] ".", [1] "..", files from 2
  int lastIndex = 0;       ///< index of the last entry: files + 1
  int nextIndex = 0;       ///< files made current so far
  std::string currentName; ///< the current file
};

/// The images and options the operator chooses: what the operator's choices
/// and a run's plan have in common.
struct ImageSelection {
  int m_bBootLoader = 0, m_bResource = 0, m_bEfs2 = 0, m_bQbfs = 0, m_bPhoneCode = 0;
  int m_bChangeDownloader = 0, m_bInputAddress = 0;
  std::string m_strBootPath, m_strResourcePath, m_strQbfsPath, m_strPhonePath;
  /// The EFS2 folder's files; a run keeps its own place in the list.
  EfsFileList efs;
};

/// What a run writes, taken from the operator's choices at DownLoad.
struct RunPlan : ImageSelection {
  /// Seconds an erase may go unanswered before its entry is given up.
  int eraseLimitS = 300;
  /// The receive threads' classic cadence, 0 for none (RX_SETTLE_MS).
  int rxSettleMs = 0;
  /// A run of one entry of the flow line, not a batch.
  bool flow = false;

  /// Every image the plan writes, in the order the run writes them.
  std::vector<RunImage> Images() const;
};

/// One entry's place in its run.
struct RunEntry {
  int m_nState = STATE_IDLE;   ///< an EntryState
  int m_nBlock = 0;            ///< next block of the current step
  int m_nRetry = 0;            ///< timer expiries since the last request
  int m_nRefusals = 0;         ///< refused or damaged replies since the last accepted one
  uint8_t m_bJumpSent = 0;     ///< the run's jump has been sent
  /// This entry's handset answered "b1.01" in this run.
  int m_bBootVersionOk = 0;
  /// This entry's boot version request awaits its reply.
  int m_bBootVersionAsked = 0;
  BlockRecord m_blockReq;      ///< the block being sent
  BlockRecord m_lastBlock;     ///< the last block sent the normal way
  const uint8_t* m_pRxPacket = nullptr;  ///< the reply being handled, or null
  int m_bMarkerSent = 0;       ///< a retry marker awaits RESEND_ACK
  int m_nTimerType = TIMER_REQUEST;  ///< a TimerType
  int m_nTimerMs = 0;
  /// The entry's timer runs: something will move the entry on even if its
  /// handset never speaks again.
  int m_bTimerArmed = 0;
  /// The unit awaiting its reply went out more than once (a repeated
  /// request, a retry marker): two replies to it may come.
  int m_bRepeated = 0;
  uint32_t m_eraseSentMs = 0;  ///< host clock when the erase request went out
  int m_bFlashing = 0;         ///< a block ACK was handled in STATE_FLASH_BLOCKS this step
  /// The engine's own copy of the reply (m_pRxPacket points here).
  uint8_t m_rxCopy[RX_PACKET_SIZE] = {};
  /// This entry's signature toggle for ReadBlock.
  bool m_bSignaturePatched = false;

  /// RESULT_NONE until the run starts, then running until the entry
  /// completes or leaves the run.
  int m_nResult = RESULT_NONE;
  EntryCause m_cause = EntryCause::None;
  std::string m_strReason;     ///< the text of m_cause; empty while running or completed
  int m_nRunPort = 0;          ///< COM number it was bound to when the run started
  int m_nBlocksSent = 0;       ///< data blocks sent the normal way, resends not counted
  int m_nRetries = 0;          ///< retry markers and repeated requests
  std::chrono::system_clock::time_point m_runStart{}, m_runEnd{};
  std::vector<CTextQItem> m_runLog;  ///< every log line of the run, in order, repeats folded

  /// Back to block 0 of a step with no retries or refusals counted and no
  /// retry marker outstanding.
  void ResetStepCounters() {
    m_nBlock = 0;
    m_nRetry = 0;
    m_nRefusals = 0;
    m_bMarkerSent = 0;
    m_bRepeated = 0;
  }
};

class CDownloadRun {
 public:
  /// A run of `plan` over `members` (entry indexes, in index order), whose
  /// image reader tells the operator through `owner`.
  CDownloadRun(RunPlan plan, std::vector<int> members, IWindow* owner);
  CDownloadRun(const CDownloadRun&) = delete;
  CDownloadRun& operator=(const CDownloadRun&) = delete;

  const RunPlan& Plan() const { return m_plan; }
  /// Tells runs of one program apart: 1 for the first, counting up.
  uint64_t Serial() const { return m_nSerial; }
  const std::vector<int>& Members() const { return m_members; }
  bool Includes(int i) const { return i >= 0 && i < MAX_ENTRIES && m_entries[i] != nullptr; }
  RunEntry& Entry(int i) { return *m_entries[i]; }
  const RunEntry& Entry(int i) const { return *m_entries[i]; }

  /// Moves to the next chosen step after the current one (the boot loader
  /// step stands for "before the first" and "after the last"); an EFS2
  /// part goes file by file. True when the step it arrived at is one to
  /// run, false when the plan is done.
  bool NextStep();
  /// Makes the EFS2 list's next file the current one.
  void SelectNextEfsFile();
  /// The current EFS2 file, its folder's name.
  const std::string& EfsFileName() const { return m_efs.currentName; }
  const std::string& EfsFolderName() const { return m_efs.folderName; }
  /// The image of the current step.
  std::string StepImagePath() const;

  /// True until every member has completed or left the run.
  bool Running() const;

  // The run's shared state, named as the engine has always named it.
  int m_nStep = IMAGE_BOOTLOADER;
  int m_nFinished = 0;
  int m_nAlive = 0;
  uint32_t m_nBaseOffset = 0;
  uint32_t m_nEraseStart = 0;
  uint32_t m_nEraseLength = 0;
  uint32_t m_nEraseArg = 0;
  int m_nTotalBlocks = 0;
  uint32_t m_nImageSize = 0;
  /// The run's own image reader: another run may read another image.
  CDloadFile m_dloadFile;
  /// Inside a step's end (drops, advance): entries leaving then must not
  /// end the step a second time.
  int m_bInStepEnd = 0;
  /// The run's last step was of flash kind and sent its final jump: its end
  /// shows the completion box.
  int m_bCompletionBox = 0;
  /// Wall clock at the start and at the end.
  std::chrono::system_clock::time_point m_runStart{}, m_runEnd{};

 private:
  const RunPlan m_plan;
  const uint64_t m_nSerial;
  std::vector<int> m_members;
  std::array<std::unique_ptr<RunEntry>, MAX_ENTRIES> m_entries;
  /// The run's place in the plan's EFS2 list.
  EfsFileList m_efs;
};
