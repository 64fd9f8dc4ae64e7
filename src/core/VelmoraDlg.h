// The main dialog's logic and data: the twenty download entries, the
// download engine, image selection, ports and the log pipeline. It owns no
// window; it reaches the window through IDialogHost, and the host hands it
// every message through WindowProc on the dialog's thread.
//
// It is the heart of velmora_engine (this folder): above the link (comm/,
// velmora_comm, which reaches the window only as ILinkEvents) and the
// platform layer, below the hosts (host/, src/gui, src/cli). The layers are
// listed in src/CMakeLists.txt.
//
// The implementation is split by concern:
//   VelmoraDlg.cpp          construction, start-up, WindowProc, commands
//   VelmoraDlgData.cpp      data exchange between fields and controls
//   VelmoraDlgEntries.cpp   connect/disconnect, timers, DownLoad
//   VelmoraDlgPlan.cpp      steps of a run
//   VelmoraDlgStates.cpp    the entry state machine and its timers
//   VelmoraDlgReplies.cpp   reply handling and retries
//   VelmoraDlgProgress.cpp  bars, status texts, elapsed time, controls
//   VelmoraDlgLog.cpp       log lines and the shown entry
//   VelmoraDlgImages.cpp    image buttons and remembered directories
//   VelmoraDlgEfs.cpp       the EFS2 folder
//   VelmoraDlgPorts.cpp     Port Search, Auto Detect, the manual list
//   VelmoraDlgResource.cpp  the resource image builder
//   VelmoraDlgInterrupt.cpp stopping a run from outside
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DialogHost.h"
#include "DloadFile.h"
#include "DownloadEntry.h"
#include "LinkOpener.h"
#include "RunReport.h"

/// The chosen EFS2 folder's files (one list for the whole program).
struct EfsFileList {
  static constexpr int MAX_NAMES = 500;
  std::string folderPath;  ///< chosen folder followed by the separator
  std::string folderName;  ///< the folder's last path component
  std::vector<std::string> names = std::vector<std::string>(MAX_NAMES);  ///< [0] ".", [1] "..", files from 2
  int lastIndex = 0;       ///< index of the last entry: files + 1
  int nextIndex = 0;       ///< files made current so far
  std::string currentName; ///< the current file
};

extern EfsFileList g_efsFileList;

/// The path separator paths are joined with, every separator a path may hold
/// ("\\/" on Windows), and the directory a file dialog opens in when nothing
/// is remembered (the user's home directory).
extern const char kPathSeparator;
extern const char kPathSeparators[];
std::string DefaultImageDirectory();

/// The run's one-second timer of the elapsed time; the entries' timers
/// are their indexes 0..19.
constexpr int ELAPSED_TIMER_ID = 100;

class CVelmoraDlg {
 public:
  explicit CVelmoraDlg(IDialogHost& host);
  virtual ~CVelmoraDlg();
  CVelmoraDlg(const CVelmoraDlg&) = delete;
  CVelmoraDlg& operator=(const CVelmoraDlg&) = delete;

  /// Start-up: entries reset, Auto Detect on, port list filled, bars reset.
  bool OnInitDialog();

  /// Every message of the dialog: WM_TIMER (wParam = entry index),
  /// WM_COMMAND (wParam = control id clicked, or IDCANCEL), WM_DEVICECHANGE
  /// (lParam = DevBroadcastPort*), the entry messages and WM_SLIDER_CHANGED.
  intptr_t WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

  /// The window is closing (close box): a cancel that follows only closes.
  void OnClose() { m_bClosing = 1; }
  /// Asked before the window closes: during a run the operator confirms
  /// (No keeps window and run); Yes interrupts the run. True: close.
  bool QueryClose();
  /// Stops the run at once (VelmoraDlgInterrupt.cpp): timers killed, every
  /// entry still running failed with a log line, every link closed, the
  /// controls back. Replies arriving later are ignored.
  void InterruptRun();

  // ---- DownLoad and entries ----
  void OnDownLoad();
  void ArmTimer(int i, int type, int ms);
  /// Stops entry i's timer; the entry waits for a reply only.
  void KillEntryTimer(int i);
  void SendFirstRequest(int i);
  void ResetAllEntries();
  void ResetEntryCounters(int i);
  bool Connect(int i);
  bool OpenEntry(int i);
  /// The links of a DownLoad are being opened on threads of their own; the
  /// rest of the DownLoad runs when WM_LINKS_OPENED arrives. m_bRunning is
  /// 1 meanwhile.
  bool LinksOpening() const { return m_bOpeningLinks != 0; }
  /// The rest of a DownLoad whose links were opened side by side.
  intptr_t OnLinksOpened(uintptr_t generation);
  void Disconnect(int i);
  /// Releases entry i's link and ends its receive thread; the binding and
  /// the counters are left as they are.
  void CloseLink(int i);
  void RefreshPortLabels();
  /// Entries bound to a port. "No Phone is connected." and the Auto Detect
  /// limit of twenty read it; an entry that loses its port, however it
  /// loses it, stops counting at once.
  int PortCount() const;
  /// Closes every open link that no longer belongs to its entry's binding
  /// or holds a device now bound to another entry, before a run opens any.
  void CloseStaleLinks();

  // ---- plan ----
  bool PrepareStep();
  /// Moves to the next chosen step and prepares it; false when that step
  /// could not be prepared (its image failed to load or was refused).
  bool AdvanceStep();
  void NextEfsStep();
  static bool CheckAddress(uint32_t address);

  // ---- state machine and replies ----
  void Advance(int i);
  void OnEntryTimer(int i);
  intptr_t OnEntryPacket(int i);
  bool HandleResponse(int i);

  // ---- progress ----
  void SetEntryBarText(int i, const std::string& text);
  void ShowEntryProgress(int i);
  void ShowStepWaiting(int i);
  void ShowEntryCompleted(int i);
  void ShowEntryError(int i);
  void ShowElapsedTime();
  void ResetProgress();
  void EnableControls(int enable);

  // ---- log pipeline ----
  void PutLog(int i, int kind, const std::string& text);
  intptr_t OnEntryLog(int i);
  intptr_t OnEntryRxEnd(int i);
  void AppendLog(int i, const CTextQItem& item);
  void AppendLine(int i, Rgb colour, const std::string& text);
  void ShowEntryView(int i);
  intptr_t OnSliderChanged();
  void OnSelchangeEntryCombo();

  // ---- images ----
  void OnPhoneCode();
  void OnBootLoader();
  void OnResource();
  void OnQbfs();
  void OnOpen();
  void OnChangeDownloader();
  void OnInputAddress();
  void ShowFileInfo();
  void OnEfs2();
  void SelectNextEfsFile();

  // ---- ports ----
  void OnPortSearch();
  /// Forgets the kept COM numbers (after asking) and searches again, so
  /// that the ports present are numbered afresh in socket order.
  void OnForgetPorts();
  void OnAutoDetect();
  void PortSelectionSetup();
  void ApplyAutoDetectVisibility();
  bool CollectManualPorts();
  void OnPortArrival(int port);
  void OnPortRemoval(int port);

  // ---- resource image ----
  void OnCreateResourceBinary();

  // ---- data exchange: true = controls to fields, false = fields to controls
  void UpdateData(bool saveAndValidate);

  // ==== fields ====
  IDialogHost& m_host;
  DownloadEntry m_entries[MAX_ENTRIES];
  CDloadFile m_dloadFile;

  // run (engine) fields
  int m_nStep = 2;
  int m_nFinished = 0;
  int m_nAlive = 0;
  uint32_t m_nBaseOffset = 0;
  uint32_t m_nEraseStart = 0;
  uint32_t m_nEraseLength = 0;
  uint32_t m_nEraseArg = 0;
  int m_nTotalBlocks = 0;
  uint32_t m_startClock = 0;
  std::string m_strPortLabel[MAX_ENTRIES];
  int m_bAutoDetect = 0;
  /// A run is going on: DownLoad was pressed and not every entry has left
  /// it yet. Decides when the controls come back.
  int m_bRunning = 0;
  /// Inside a step's end (drops, advance): entries leaving then must not
  /// end the step a second time.
  int m_bInStepEnd = 0;
  /// Wall-clock start and end of the last run (for its report).
  std::chrono::system_clock::time_point m_runStart{}, m_runEnd{};
  /// The images the last run set out to write, taken as it started: the run
  /// gives the EFS2 choice up as it goes, before its report is written.
  std::vector<RunImage> m_runImages;
  /// Folder that gets a report file of every run; empty: none is written.
  std::string m_strRunReportDir;
  /// The run's last step was of flash kind and sent its final jump: its end
  /// shows the completion box.
  int m_bCompletionBox = 0;
  /// Result of the PrepareStep that NextEfsStep ran.
  bool m_bStepPrepared = true;
  /// Seconds an erase may go unanswered before its entry is given up; read
  /// from the ERASE_LIMIT_S setting at DownLoad.
  int m_nEraseLimitS = 300;
  /// The run controls are enabled (EnableControls); the entry check boxes
  /// follow them.
  int m_bControlsEnabled = 1;
  /// The port each entry's check box was last ticked for: a newly bound
  /// port ticks the box, the operator's untick stays until it changes.
  int m_nTickedPort[MAX_ENTRIES] = {};
  /// The COM number each entry failed on in its latest run, 0 for none: its
  /// label keeps it, marked, until the next run, a binding to another port,
  /// or that port leaving.
  int m_nFailedPort[MAX_ENTRIES] = {};

  // image choices
  int m_bPhoneCode = 0, m_bBootLoader = 0, m_bResource = 0, m_bEfs2 = 0, m_bQbfs = 0;
  int m_bChangeDownloader = 0, m_bInputAddress = 0;
  std::string m_strPhonePath, m_strBootPath, m_strResourcePath, m_strEfsFilePath, m_strQbfsPath;
  std::string m_strPhoneText, m_strBootText, m_strResourceText, m_strEfsText, m_strQbfsText;
  std::string m_strFilePath;
  int m_nDownloadType = 0;
  uint32_t m_nImageSize = 0;
  std::string m_strVersion;
  std::string m_strBuildTime;
  uint32_t m_nSwVersion = 0;

  // user-interface fields
  int m_nSelEntry = 0;
  std::string m_strElapsed;
  std::string m_strStatus[MAX_ENTRIES];
  std::string m_strEntryLabel;
  int m_bClosing = 0;
  /// The close question is open (its box runs a nested loop).
  int m_bAskingClose = 0;

 private:
  // Helpers of the state machine (VelmoraDlgStates.cpp).
  bool SendEntryBlock(int i);
  void EndBootStep(int i);
  void EndFlashStep(int i);
  /// Drops from the run every entry that nothing can move on any more: no
  /// timer of its own and not waiting at the step's end.
  void DropLostEntries();
  void RestartEntries(bool withProgress);
  void FinalJump(bool completedCaption);
  void GiveUpEntry(int i, const std::string& reason);
  /// Asks entry i's handset for the last block again (it answers RESEND_ACK).
  void SendRetryMarker(int i);
  void RetryEntry(int i);
  /// The last request again; the handset may then answer it twice.
  void ResendRequest(int i);
  /// Entry i's answer to a refused or damaged reply: the retry marker or
  /// the last request again under the block timer, with `logText` (when
  /// given) logged; false always, the reply not being accepted.
  bool RetryAfterRefusal(int i, const char* logText);
  /// Counts one refused or damaged reply of entry i; false (and the entry
  /// given up) once a handset has refused too often in a row to go on.
  bool CountRefusal(int i);
  bool InDataState(int i) const;
  bool InBlockTransfer(int i) const;
  void StopRun(const std::string& reason);
  void CompleteStep(bool bootKind);
  void LeaveRun(int i);
  void AfterEntryLeft();
  void CheckRunEnded();
  /// Everything that happens once a run has ended, however it ended: the
  /// elapsed time's last update, the completion box, the run report.
  void EndRun(bool completionBox);
  /// The last error line entry i logged in this run, empty when none.
  std::string LastErrorLine(int i) const;
  int AliveCount() const;
  bool AllAliveFinished() const;
  bool IsBootKindStep() const;
  void DrainLog(int i, bool force);
  /// One line from entry i's queue into its run log and view, a line that
  /// repeats the one before it counted instead once a few have been shown.
  void TakeLogLine(int i, const CTextQItem& item, bool force);
  /// Says how often entry i's last line came again unshown, if it did.
  void FlushLineRepeats(int i, bool force);
  std::string StatusText(int i) const;
  /// Entry i's port label: "[COM%d]", marked when it failed on that port.
  std::string PortLabel(int i) const;
  /// Empties entry i's bar and status text (it is not in the new run).
  void ClearEntryView(int i);

  // Image selection (VelmoraDlgImages.cpp).
  /// The address boxes' texts at start-up and whenever they are opened.
  void ShowDefaultAddresses();
  void SelectImageFile(int& checked, std::string& path, std::string& text,
                       const char* registryValue, const char* filter,
                       bool extensionCheck, bool phoneCode);

  // EFS2 folder (VelmoraDlgEfs.cpp).
  bool ListEfsFolder(const std::string& folder);

  // Connecting (VelmoraDlgEntries.cpp).
  /// Entry i's open link can be used as it is (Connect's first step).
  bool LinkReusable(int i) const;
  /// Connect's steps before the open: a link open on another port is
  /// closed, the entry disconnected, the link set up for the entry's port.
  void PrepareOpen(int i);
  /// OpenEntry's steps after the open: the failure logged and the entry
  /// disconnected, or the entry connected and its receive thread started.
  bool FinishOpen(int i, bool opened);
  /// DownLoad from the connection of its entries on (in index order) to
  /// the first requests.
  void ContinueDownLoad();
  /// Device notifications held back while links are being opened, handed
  /// on afterwards in the order they came.
  void ReplayPortEvents();
  /// Waits for links being opened and forgets the DownLoad they were for.
  void AbandonOpening();

  std::vector<std::unique_ptr<CThreadRX>> m_zombieThreads;
  CLinkOpener m_opener;
  int m_bOpeningLinks = 0;
  uintptr_t m_nOpenGeneration = 0;
  bool m_bTakesPart[MAX_ENTRIES] = {};  ///< of the DownLoad under way
  bool m_bOpenPending[MAX_ENTRIES] = {};  ///< its link is with the opener
  struct PortEvent {
    uintptr_t kind;  ///< DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
    int number;
  };
  std::vector<PortEvent> m_heldPortEvents;
};
