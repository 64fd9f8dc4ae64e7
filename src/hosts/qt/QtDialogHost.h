// IDialogHost on Qt: the Qt event loop is the dialog's thread. Messages
// posted from any thread wait in the host's queue, which the loop hands to
// the dialog's window procedure one at a time, in order; timers, message
// boxes, file dialogs and controls are the window's Qt counterparts, found
// by id.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "DialogHost.h"

class CVelmoraWindow;
class QMessageBox;

class CQtDialogHost : public QObject, public IDialogHost {
 public:
  using WindowProcFn = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

  /// Hosts the dialog in `window`, which must outlive the host. Clicks and
  /// slider moves of the window go to the window procedure.
  explicit CQtDialogHost(CVelmoraWindow& window);
  CVelmoraWindow& Window() { return m_window; }
  ~CQtDialogHost() override;

  /// The dialog's window procedure; until it is set, messages are dropped.
  void SetWindowProc(WindowProcFn proc) { m_windowProc = std::move(proc); }
  /// Runs when the window is closed, before the cancel it produces.
  void SetOnClose(std::function<void()> onClose) { m_onClose = std::move(onClose); }
  /// Asked before the window closes; false keeps it open. None: it closes.
  void SetCloseQuery(std::function<bool()> query) { m_closeQuery = std::move(query); }
  /// Told each entry whose result is known (the history records it).
  void SetEntryResultSink(std::function<void(int)> sink) { m_entryResult = std::move(sink); }
  void OnEntryResult(int entry) override {
    if (m_entryResult) m_entryResult(entry);
  }
  /// Hands one message to the window procedure now (0 without one).
  intptr_t Dispatch(uint32_t message, uintptr_t wParam, intptr_t lParam);

  /// Title of every message box.
  static constexpr const char* kBoxTitle = "Velmora";

  // ---- IWindow ----
  bool PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  int MessageBox(const std::string& text, uint32_t type) override;

  // ---- IDialogHost ----
  void SetTimer(int id, uint32_t ms) override;
  void KillTimer(int id) override;
  uint32_t ClockMs() override;
  std::optional<std::string> OpenFileDialog(const std::string& filter, const std::string& initialName,
                                            const std::string& defaultExt) override;
  std::optional<std::string> BrowseFolder() override;
  void EnableControl(int id, bool enable) override;
  void ShowControl(int id, bool show) override;
  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) override;
  void SetCheck(int id, int checked) override;
  int GetCheck(int id) override;
  void SetComboSel(int id, int index) override;
  int GetComboSel(int id) override;
  void AddListItem(int id, const std::string& text) override;
  bool IsListItemSelected(int id, int index) override;
  void SetListItemText(int id, int index, const std::string& text) override;
  void SetSliderRange(int id, int minimum, int maximum) override;
  void SetSliderPos(int id, int position) override;
  int GetSliderPos(int id) override;
  void SetFocus(int id) override;
  void Invalidate(int id) override;
  IProgressBar& ProgressBar(int entry) override;
  void AppendLogLine(int entry, Rgb colour, const std::string& text) override;
  void PostQuit() override;
  void SetPortHint(int entry, const std::string& hint) override;
  void MarkEntryFailed(int entry, bool failed) override;
  void ShowNotice(const std::string& text) override;
  void AskAttention() override;
  void DismissMessageBox() override;

  /// Whether timer `id` is running (for tests).
  bool IsTimerActive(int id) const;
  /// Hands every log line still held to its view now (they go by
  /// themselves once the loop turns).
  void FlushLogLines();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Posted {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  void DrainPosted();

  CVelmoraWindow& m_window;
  WindowProcFn m_windowProc;
  std::function<void()> m_onClose;
  std::function<void(int)> m_entryResult;
  std::function<bool()> m_closeQuery;
  std::mutex m_postLock;
  std::deque<Posted> m_posted;  // guarded by m_postLock
  bool m_bDrainPosted = false;  // guarded by m_postLock: an event is on its way
  std::map<int, std::unique_ptr<QTimer>> m_timers;
  struct TextCache {
    std::string utf8;
    QString text;
    bool held = false;  // the control shows utf8 and only the dialog changes it
  };
  std::unordered_map<int, TextCache> m_texts;  // the last text written into each control
  QHash<int, QString> m_hiddenEditText;  // texts of hidden edits, set when they are shown
  std::vector<QPointer<QMessageBox>> m_openBoxes;  // innermost last
  QElapsedTimer m_clock;
  // Log lines reach their views once per turn of the loop, however many
  // the entries' messages of that turn brought.
  std::vector<std::pair<Rgb, std::string>> m_pendingLines[MAX_ENTRIES];
  bool m_bFlushPosted = false;
};
