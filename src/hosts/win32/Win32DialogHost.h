// IDialogHost on Win32: the main window as a native dialog, built at run
// time from the control table (an in-memory dialog template in dialog
// units), with its own message loop on the thread that creates it. Messages
// posted from any thread are PostMessageW to the dialog; timers are window
// timers; message boxes, file and folder dialogs are the system's own.
//
// This header names no Win32 type, so the engine's headers and it can be
// included together; the Win32 side lives in the .cpp files.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "DialogHost.h"

class CWin32DialogHost : public IDialogHost {
 public:
  using WindowProcFn = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

  CWin32DialogHost();
  ~CWin32DialogHost() override;
  CWin32DialogHost(const CWin32DialogHost&) = delete;
  CWin32DialogHost& operator=(const CWin32DialogHost&) = delete;

  /// Creates the window, hidden, with every control of the table. False
  /// (with the reason in `error`) when the system refused it.
  bool Create(std::string& error);
  /// Shows the window and runs its loop until the dialog is closed or the
  /// loop is told to quit (PostQuit); then the window is destroyed.
  void Run();

  /// The dialog's window procedure; until it is set, messages are dropped.
  void SetWindowProc(WindowProcFn proc) { m_windowProc = std::move(proc); }
  /// Runs when the window is closed, before the cancel it produces.
  void SetOnClose(std::function<void()> onClose) { m_onClose = std::move(onClose); }
  /// Asked before the window closes; false keeps it open. None: it closes.
  void SetCloseQuery(std::function<bool()> query) { m_closeQuery = std::move(query); }
  /// Hands one message to the window procedure now (0 without one).
  intptr_t Dispatch(uint32_t message, uintptr_t wParam, intptr_t lParam);

  /// The window's handle (an HWND), null before Create and after Run.
  void* Handle() const;

  /// Face name of the dialog font the window was built with (UTF-8).
  std::string DialogFontFace() const;

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

  struct Impl;

 private:
  friend struct Impl;
  std::unique_ptr<Impl> m;
  WindowProcFn m_windowProc;
  std::function<void()> m_onClose;
  std::function<bool()> m_closeQuery;
};

