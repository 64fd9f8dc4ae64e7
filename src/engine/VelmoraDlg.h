// The main dialog's logic and data: the twenty download entries, the
// download engine, image selection, ports and the log pipeline. It owns no
// window; it reaches the window through IDialogHost, and the host hands it
// every message through WindowProc on the dialog's thread.
//
// It is the heart of velmora_engine (this folder): above the port policy
// (ports/), the link (link/, which reaches the window only as ILinkEvents)
// and the platform layer, below the hosts (src/hosts, src/apps/cli). The layers are
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
//
// A run's own state lives in its CDownloadRun (DownloadRun.h); the entries
// keep their binding.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DialogHost.h"
#include "DloadFile.h"
#include "DownloadEntry.h"
#include "DownloadRun.h"
#include "LinkOpener.h"

/// The path separator paths are joined with, every separator a path may hold
/// ("\\/" on Windows), and the directory a file dialog opens in when nothing
/// is remembered (the user's home directory).
extern const char kPathSeparator;
extern const char kPathSeparators[];
std::string DefaultImageDirectory();

/// The run's one-second timer of the elapsed time; the entries' timers
/// are their indexes 0..19.
constexpr int ELAPSED_TIMER_ID = 100;
/// The flow line's look at its sockets: which handset has settled.
constexpr int FLOW_TIMER_ID = 101;
/// How often the flow line looks; a settle time is met this late at most.
constexpr uint32_t kFlowTickMs = 100;

/// The operator's image choices, as the buttons and path boxes show them.
struct ImageChoices : ImageSelection {
  /// The EFS2 folder's first file, as its path box shows it.
  std::string m_strEfsFilePath;
};

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

  // ---- flow mode (VelmoraDlgFlow.cpp) ----
  /// Starts the line: from now on each bound entry whose handset's port has
  /// been present and unchanged for `settleMs` runs `plan` on its own, as a
  /// batch of one, and its socket waits for that handset to leave and a new
  /// one to settle before it runs again. False when a run or the line is
  /// going on already.
  bool StartFlow(const RunPlan& plan, uint32_t settleMs);
  /// Stops the line: handsets still running fail as in a stopped run.
  void StopFlow();
  /// The line is on.
  bool Flowing() const { return m_bFlow != 0; }
  /// The window's DownLoad starts the flow line instead of a batch; kept in
  /// the settings. Not while a run or the line goes on.
  bool FlowMode() const { return m_bFlowMode != 0; }
  void SetFlowMode(bool on);

  // ==== what a host, the records and the tests may read ====
  /// A DownLoad is under way: its links are being opened, or its run has
  /// not ended yet.
  bool Running() const { return m_bRunning != 0; }
  /// The links of a DownLoad are being opened on threads of their own; the
  /// rest of the DownLoad runs when WM_LINKS_OPENED arrives.
  bool LinksOpening() const { return m_bOpeningLinks != 0; }
  /// Entries bound to a port. "No Phone is connected." and the Auto Detect
  /// limit of twenty read it; an entry that loses its port, however it
  /// loses it, stops counting at once.
  int PortCount() const;
  /// Entry i's binding: its COM number, its link, its thread.
  const DownloadEntry& Binding(int i) const { return m_entries[i]; }
  /// Entry i in its latest run: its result, cause and reason, its counts,
  /// its log; result RESULT_NONE when it took no part in the latest run.
  const RunEntry& Outcome(int i) const;
  /// The latest run entry i took part in, or null.
  const CDownloadRun* RunOf(int i) const { return m_entryRun[i].get(); }
  /// The latest run, or null before the first DownLoad.
  const CDownloadRun* LastRun() const { return m_lastRun.get(); }
  /// The step the latest run stands at (IMAGE_BOOTLOADER before and after).
  int Step() const { return m_lastRun ? m_lastRun->m_nStep : IMAGE_BOOTLOADER; }
  const ImageChoices& Choices() const { return m_choices; }
  /// What the window's controls show (the data exchange's fields).
  const std::string& PortLabelText(int i) const { return m_strPortLabel[i]; }
  const std::string& StatusText(int i) const { return m_strStatus[i]; }
  const std::string& ElapsedText() const { return m_strElapsed; }
  int SelectedEntry() const { return m_nSelEntry; }
  uint32_t ImageSize() const { return m_nImageSize; }
  int AutoDetect() const { return m_bAutoDetect; }
  bool Closing() const { return m_bClosing != 0; }

  // ==== what a host or a test may set ====
  /// Binds COM `port` to entry i (0 unbinds), as Port Search or an arrival
  /// would, and shows it.
  void BindPort(int i, int port);
  /// Takes the operator's choices as they would be after the buttons, and
  /// shows them.
  void Choose(const ImageChoices& choices);
  /// The folder that gets a report file of every run; empty: none is written.
  void SetRunReportDir(const std::string& dir) { m_strRunReportDir = dir; }
  /// Sets entry i's status text (what the data exchange shows).
  void SetStatusText(int i, const std::string& text) { m_strStatus[i] = text; }
  /// Starts a run of `plan` over the bound entries that take part (their
  /// check boxes ticked) without touching the operator's choices, as
  /// DownLoad does with the plan it takes from them. False when no run
  /// could start: nothing bound, an image refused, or a run going on.
  bool StartRun(const RunPlan& plan);
  /// The plan the operator's current choices make, settings read now.
  RunPlan PlanFromChoices() const;
  /// Chooses `path` as the image of `kind` (IMAGE_PHONE_CODE,
  /// IMAGE_BOOTLOADER, IMAGE_RESOURCE, IMAGE_QBFS_FILE) as its button would
  /// with `path` chosen in the file dialog, caution question included.
  /// False when the choice was refused.
  bool ChooseImage(int kind, const std::string& path);
  /// Chooses the EFS2 folder as its button would with `folder` chosen.
  bool ChooseEfsFolder(const std::string& folder);
  /// Ticks Change Downloader, caution question included.
  bool ChooseChangeDownloader();

  // ---- DownLoad and entries ----
  void OnDownLoad();
  void ArmTimer(int i, int type, int ms);
  /// Stops entry i's timer; the entry waits for a reply only.
  void KillEntryTimer(int i);
  void SendFirstRequest(int i);
  void ResetAllEntries();
  bool Connect(int i);
  bool OpenEntry(int i);
  /// The rest of a DownLoad whose links were opened side by side.
  intptr_t OnLinksOpened(uintptr_t generation);
  void Disconnect(int i);
  /// Releases entry i's link and ends its receive thread; the binding and
  /// the counters are left as they are.
  void CloseLink(int i);
  void RefreshPortLabels();
  /// Closes every open link that no longer belongs to its entry's binding
  /// or holds a device now bound to another entry, before a run opens any.
  void CloseStaleLinks();

  // ---- plan ----
  /// Loads the image of `run`'s current step and works out what it erases
  /// and sends; false when the image failed to load or was refused.
  bool PrepareStep(CDownloadRun& run);
  /// Moves `run` to its next chosen step and prepares it; false when that
  /// step could not be prepared (its image failed to load or was refused).
  bool AdvanceStep(CDownloadRun& run);
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

 private:
  // The data exchange binds controls to these fields.
  friend struct DataBindings;
  // The engine's unit tests and micro-benchmarks set up a run's state
  // directly (tests/support/EngineProbe.h); nothing else does.
  friend class CEngineProbe;

  /// Entry i's place in the run under way; only for entries in it.
  RunEntry& Run(int i) { return m_entryRun[i]->Entry(i); }
  const RunEntry& Run(int i) const { return m_entryRun[i]->Entry(i); }
  CDownloadRun& RunOfEntry(int i) { return *m_entryRun[i]; }
  const CDownloadRun& RunOfEntry(int i) const { return *m_entryRun[i]; }
  /// Entry i is in a run that has not ended for it.
  bool InRun(int i) const;
  /// Where entry i stands in its latest run (STATE_IDLE without one).
  int StateOf(int i) const;

  // Helpers of the state machine (VelmoraDlgStates.cpp), one for each
  // stretch of a step: the requests up to the erase, the erase, the blocks
  // of either kind, the reply to the final jump.
  void AdvanceToErase(int i);
  void SendErase(int i);
  void SendBootBlock(int i);
  void SendFlashBlock(int i);
  void CompleteEntry(int i);
  bool SendEntryBlock(int i);
  void EndBootStep(int i);
  void EndFlashStep(int i);
  /// Drops from `run` every entry that nothing can move on any more: no
  /// timer of its own and not waiting at the step's end.
  void DropLostEntries(CDownloadRun& run);
  void RestartEntries(CDownloadRun& run, bool withProgress);
  void FinalJump(CDownloadRun& run, bool completedCaption);
  /// Takes entry i out of its run with `cause` (its text logged unless a
  /// box has said it), its bar showing the error; the link stays open.
  void GiveUpEntry(int i, EntryCause cause, bool logReason = true);
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
  // HandleResponse by the reply's code (VelmoraDlgReplies.cpp).
  bool HandleAck(int i);
  bool HandleResendAck(int i);
  bool HandleVersion(int i);
  bool HandleInvalidCommand(int i);
  /// Ends every member of `run` still running with `reason`.
  void StopRun(CDownloadRun& run, const std::string& reason);
  void CompleteStep(CDownloadRun& run, bool bootKind);
  /// Entry i leaves its run with `cause`; `text` is the cause's text where
  /// it has none of its own.
  void LeaveRun(int i, EntryCause cause, const std::string& text = {});
  /// Disconnects entry i, which leaves its run with `cause` if in one.
  void DisconnectWith(int i, EntryCause cause, const std::string& text = {});
  void AfterEntryLeft(CDownloadRun& run);
  void CheckRunEnded(CDownloadRun& run);
  /// Everything that happens once a run has ended, however it ended: the
  /// elapsed time's last update, the completion box, the run report.
  void EndRun(CDownloadRun& run, bool completionBox);
  /// Why a port of entry i failed, as its receive thread told it; else the
  /// plain request to check the cable.
  std::string PortGoneText(int i) const;
  int AliveCount(const CDownloadRun& run) const;
  bool AllAliveFinished(const CDownloadRun& run) const;
  static bool IsBootKindStep(const CDownloadRun& run);
  /// The operator's EFS2 folder is written once: when a run's EFS2 part
  /// ends, the choice goes, and its box with it.
  void ReleaseEfsChoice();
  /// The path box shows the EFS2 file `run` is writing.
  void ShowEfsFile(const CDownloadRun& run);
  void DrainLog(int i, bool force);
  /// One line from entry i's queue into its run log and view, a line that
  /// repeats the one before it counted instead once a few have been shown.
  void TakeLogLine(int i, const CTextQItem& item, bool force);
  /// Says how often entry i's last line came again unshown, if it did.
  void FlushLineRepeats(int i, bool force);
  /// Keeps a line in the run log of entry i's run, if it is in one.
  void KeepRunLine(int i, const CTextQItem& item);
  std::string EntryStatusText(int i) const;
  /// Entry i's port label: "[COM%d]", marked when it failed on that port.
  std::string PortLabel(int i) const;
  /// Empties entry i's bar and status text (it is not in the new run).
  void ClearEntryView(int i);

  // Image selection (VelmoraDlgImages.cpp).
  /// The address boxes' texts at start-up and whenever they are opened.
  void ShowDefaultAddresses();
  /// What an image button stands for: its choice, path and path box, where
  /// its directory is remembered, its file dialog's filter, and whether the
  /// chosen file must end in .bin (only the phone code's).
  struct ImageButton {
    int& checked;
    std::string& path;
    std::string& text;
    const char* registryValue;
    const char* filter;
    bool extensionCheck;
    bool phoneCode;
  };
  ImageButton ButtonOf(int kind);
  /// The image button of `kind` pressed: its file dialog, then the file.
  void SelectImageFile(int kind);
  /// The file chosen for button `b`: checked and shown; false (with its
  /// box) when it is refused.
  bool TakeImageFile(ImageButton& b, const std::string& chosen);
  /// Button `b` unticked: its path goes.
  void DropImageFile(ImageButton& b);
  bool ConfirmBootLoaderChoice();
  bool ConfirmChangeDownloader();

  // EFS2 folder (VelmoraDlgEfs.cpp).
  bool ListEfsFolder(const std::string& folder);
  /// The folder chosen for EFS2: listed, its first file current; false
  /// (with its box, the choice gone) when it cannot be written.
  bool TakeEfsFolder(std::string chosen);
  /// Makes the chosen folder's next file the current one.
  void SelectNextEfsFile();

  // DownLoad (VelmoraDlgEntries.cpp).
  /// Asks whether a new boot loader is really to be written; false keeps
  /// it from the run (and unticks it).
  bool ConfirmBootLoader();
  /// Entries bound and ticked; false (with the box) when there are none.
  bool CollectTakers(bool (&takesPart)[MAX_ENTRIES]);
  /// Groups the links to open by device and hands them to the opener;
  /// false when every link is open already.
  bool OpenLinks(const bool (&takesPart)[MAX_ENTRIES]);
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

  // ---- flow mode ----
  /// Starts entry i's own run of the line's plan with the handset in its
  /// socket now; its outcome is known at once when its link cannot open.
  void StartEntryRun(int i);
  /// Entry i's binding changed (a handset arrived or left): its socket is
  /// free for the next handset, which settles from now.
  void FlowPortChanged(int i);
  /// The line's look at its sockets: starts each handset that has settled.
  void FlowTick();
  /// DownLoad says what it does: a batch, the flow line, or stopping it.
  void ShowDownLoadCaption();

  // ==== fields ====
  IDialogHost& m_host;
  DownloadEntry m_entries[MAX_ENTRIES];
  /// The image reader of the choices (file info); each run has its own.
  CDloadFile m_dloadFile;

  /// The latest run (a batch), and each entry's latest run: the run it is
  /// in, or the one it ended in, until it takes part in another.
  std::shared_ptr<CDownloadRun> m_lastRun;
  std::shared_ptr<CDownloadRun> m_entryRun[MAX_ENTRIES];
  /// A DownLoad is under way: its links are being opened or its run has not
  /// ended yet. Decides when the controls come back.
  int m_bRunning = 0;
  std::string m_strPortLabel[MAX_ENTRIES];
  int m_bAutoDetect = 0;
  /// Folder that gets a report file of every run; empty: none is written.
  std::string m_strRunReportDir;
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
  ImageChoices m_choices;
  std::string m_strPhoneText, m_strBootText, m_strResourceText, m_strEfsText, m_strQbfsText;
  std::string m_strFilePath;
  int m_nDownloadType = 0;
  uint32_t m_nImageSize = 0;
  std::string m_strVersion;
  std::string m_strBuildTime;
  uint32_t m_nSwVersion = 0;

  // user-interface fields
  /// Host clock when the last DownLoad started: the elapsed time's zero.
  uint32_t m_startClock = 0;
  int m_nSelEntry = 0;
  std::string m_strElapsed;
  std::string m_strStatus[MAX_ENTRIES];
  std::string m_strEntryLabel;
  int m_bClosing = 0;
  /// The close question is open (its box runs a nested loop).
  int m_bAskingClose = 0;

  std::vector<std::unique_ptr<CThreadRX>> m_zombieThreads;
  CLinkOpener m_opener;
  int m_bOpeningLinks = 0;
  uintptr_t m_nOpenGeneration = 0;
  bool m_bOpenPending[MAX_ENTRIES] = {};  ///< its link is with the opener
  /// The run a DownLoad is opening the links of.
  std::shared_ptr<CDownloadRun> m_pendingRun;
  struct PortEvent {
    uintptr_t kind;  ///< DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
    int number;
  };
  std::vector<PortEvent> m_heldPortEvents;

  /// DownLoad starts the flow line (the operator's mode).
  int m_bFlowMode = 0;
  /// The flow line is on, with this plan and settle time.
  int m_bFlow = 0;
  RunPlan m_flowPlan;
  uint32_t m_nFlowSettleMs = 0;
  /// Host clock when entry i's current binding began: its handset settles
  /// from then.
  uint32_t m_nBoundSince[MAX_ENTRIES] = {};
  /// The handset bound to entry i has had its run: the socket waits for it
  /// to leave, so that no handset is flashed twice by accident.
  bool m_bServed[MAX_ENTRIES] = {};
  /// By COM number: the USB serial of the handset its socket ran last.
  std::map<int, std::string> m_servedSerial;
};
