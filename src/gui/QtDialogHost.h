// IDialogHost on Qt: the Qt event loop is the dialog's thread. Messages
// posted from any thread become queued events that the loop hands to the
// dialog's window procedure one at a time; timers, message boxes, file
// dialogs and controls are the window's Qt counterparts, found by id.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "DialogHost.h"

class CVelmoraWindow;

class CQtDialogHost : public QObject, public IDialogHost {
 public:
  using WindowProcFn = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

  /// Hosts the dialog in `window`, which must outlive the host. Clicks and
  /// slider moves of the window go to the window procedure.
  explicit CQtDialogHost(CVelmoraWindow& window);
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

  /// Whether timer `id` is running (for tests).
  bool IsTimerActive(int id) const;

 protected:
  bool event(QEvent* event) override;

 private:
  CVelmoraWindow& m_window;
  WindowProcFn m_windowProc;
  std::function<void()> m_onClose;
  std::function<void(int)> m_entryResult;
  std::function<bool()> m_closeQuery;
  std::map<int, std::unique_ptr<QTimer>> m_timers;
  QElapsedTimer m_clock;
};
