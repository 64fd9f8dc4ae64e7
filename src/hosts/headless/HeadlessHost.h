// A dialog host without a window: a message queue, the twenty timers, and a
// store of control states that the dialog writes and reads. The command line
// runs the dialog on it with the real clock; tests run it on virtual time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DialogHost.h"
#include "ProgressCaption.h"

class CVelmoraDlg;

/// One state per control id.
struct ControlState {
  std::string text;
  int check = 0;
  bool enabled = true;
  bool shown = true;
  int comboSel = -1;
  std::vector<std::string> items;
  std::set<int> selected;
  int sliderMin = 0, sliderMax = 0, sliderPos = 0;
};

struct LogLine {
  Rgb colour;
  std::string text;
};

/// Told how long the dialog took over each message its host handed it, for
/// measuring how responsive the dialog's thread stays.
class IDispatchObserver {
 public:
  virtual ~IDispatchObserver() = default;
  /// `msg` (with its wParam) ran from `startNs` to `endNs` on the steady
  /// clock, on the dialog's thread.
  virtual void OnDispatched(uint32_t msg, uintptr_t wParam, uint64_t startNs, uint64_t endNs) = 0;
};

class CHeadlessHost : public IDialogHost {
 public:
  CHeadlessHost();
  /// `keepRecords` false: a host that shows what happens as it comes keeps
  /// no log line, box or file dialog (m_logs, m_boxes, m_fileDialogs stay
  /// empty), however long it runs.
  explicit CHeadlessHost(bool keepRecords);
  ~CHeadlessHost() override;

  /// The dialog that the loop hands messages to.
  void SetDialog(CVelmoraDlg* dialog) { m_pDialog = dialog; }

  /// Times every message handed to the dialog (clicks included) and tells
  /// `observer`; null (the default) times nothing. Not owned.
  void SetDispatchObserver(IDispatchObserver* observer) { m_pObserver = observer; }

  // ---- IWindow ----
  bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  int MessageBox(const std::string& text, uint32_t type) override;

  // ---- IDialogHost ----
  void SetTimer(int id, uint32_t ms) override;
  void KillTimer(int id) override;
  uint32_t ClockMs() override { return Now(); }
  std::optional<std::string> OpenFileDialog(const std::string& filter, const std::string& initialName,
                                            const std::string& defaultExt) override;
  std::optional<std::string> BrowseFolder() override;
  void EnableControl(int id, bool enable) override { m_controls[id].enabled = enable; }
  void ShowControl(int id, bool show) override { m_controls[id].shown = show; }
  void SetControlText(int id, const std::string& text) override { m_controls[id].text = text; }
  std::string GetControlText(int id) override { return m_controls[id].text; }
  void SetCheck(int id, int checked) override { m_controls[id].check = checked; }
  int GetCheck(int id) override { return m_controls[id].check; }
  void SetComboSel(int id, int index) override { m_controls[id].comboSel = index; }
  int GetComboSel(int id) override { return m_controls[id].comboSel; }
  void AddListItem(int id, const std::string& text) override { m_controls[id].items.push_back(text); }
  bool IsListItemSelected(int id, int index) override { return m_controls[id].selected.count(index) != 0; }
  void SetListItemText(int id, int index, const std::string& text) override;
  void SetSliderRange(int id, int minimum, int maximum) override;
  void SetSliderPos(int id, int position) override { m_controls[id].sliderPos = position; }
  int GetSliderPos(int id) override { return m_controls[id].sliderPos; }
  void SetFocus(int id) override { m_nFocus = id; }
  void Invalidate(int id) override { (void)id; }
  IProgressBar& ProgressBar(int entry) override;
  void AppendLogLine(int entry, Rgb colour, const std::string& text) override;
  void PostQuit() override { m_bQuit = true; }
  void SetPortHint(int entry, const std::string& hint) override;

  // ---- answers the operator would give ----
  /// Answer to Yes/No boxes (IDYES or IDNO); OK boxes answer IDOK.
  int m_nYesNoAnswer = IDNO;
  /// Answers of the next file dialogs, in order; empty = Cancel.
  std::deque<std::optional<std::string>> m_fileAnswers;
  std::deque<std::optional<std::string>> m_folderAnswers;

  /// "Clicks" control `id`: a check box toggles (or takes `check` when given),
  /// then the dialog gets WM_COMMAND(id).
  void Click(int id, std::optional<int> check = std::nullopt);
  /// Selects or clears a list box item.
  void SelectListItem(int id, int index, bool selected);

  // ---- the loop ----
  /// Hands every queued message to the dialog; returns how many.
  int DispatchPending();
  /// Fires every timer that is due at Now(), each followed by the messages it
  /// caused. Returns how many fired.
  int FireDueTimers();
  /// Real-time loop: waits for messages and timers until `done` holds, the
  /// loop is told to quit, or `timeoutMs` pass. True when `done` held.
  bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs);

  /// Milliseconds of the host's clock (steady clock since construction).
  virtual uint32_t Now();

  // ---- what happened (read by tests) ----
  std::map<int, ControlState> m_controls;
  CProgressModel m_bars[MAX_ENTRIES];
  std::vector<LogLine> m_logs[MAX_ENTRIES];
  std::string m_portHints[MAX_ENTRIES];
  struct Box {
    std::string text;
    uint32_t type;
  };
  std::vector<Box> m_boxes;
  struct FileDialogCall {
    std::string filter, initialName, defaultExt;
  };
  std::vector<FileDialogCall> m_fileDialogs;
  int m_nFocus = 0;
  bool m_bQuit = false;

  struct Timer {
    uint32_t interval = 0;
    uint32_t due = 0;
  };
  /// Running timers by id.
  std::map<int, Timer> m_timers;

 protected:
  /// Hooks for hosts that show what happens (the command line prints).
  virtual void OnMessageBox(const std::string& text, uint32_t type) { (void)text; (void)type; }
  virtual void OnLogLine(int entry, Rgb colour, const std::string& text) { (void)entry; (void)colour; (void)text; }
  /// Lets a subclass wait for work in RunUntil (virtual time never waits).
  virtual void WaitForWork(uint32_t maxMs);

  CVelmoraDlg* m_pDialog = nullptr;

 private:
  /// Hands one message to the dialog, timed when an observer is set.
  void Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam);

  bool m_bKeepRecords = true;
  IDispatchObserver* m_pObserver = nullptr;
  struct Posted {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::mutex m_queueLock;
  std::condition_variable m_queueCv;
  std::deque<Posted> m_queue;
  uint64_t m_startNs = 0;
};
