// Everything the dialog's logic needs of the window it runs in. The Qt
// window, the console host of velmora-cli and the tests' fake host each
// implement it; the logic itself never sees a toolkit.
//
// Threads: PostMessage may be called from any thread; everything else only
// on the dialog's thread, which is the thread that runs the host's loop and
// hands every message to CVelmoraDlg::WindowProc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Window.h"

/// Colour as 0x00BBGGRR, like the platform's colour values.
using Rgb = uint32_t;
constexpr Rgb MakeRgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<Rgb>(r) | (static_cast<Rgb>(g) << 8) | (static_cast<Rgb>(b) << 16);
}
constexpr uint8_t RgbRed(Rgb c) { return c & 0xFF; }
constexpr uint8_t RgbGreen(Rgb c) { return (c >> 8) & 0xFF; }
constexpr uint8_t RgbBlue(Rgb c) { return (c >> 16) & 0xFF; }

/// The progress bar of one entry (the text progress control).
class IProgressBar {
 public:
  virtual ~IProgressBar() = default;
  virtual void SetRange(int minimum, int maximum) = 0;
  /// Returns the previous position (-1 when the control has no window).
  virtual int SetPos(int position) = 0;
  virtual void SetText(const std::string& caption) = 0;
  virtual void SetBarColour(Rgb colour) = 0;
  virtual void SetBgColour(Rgb colour) = 0;
  virtual void SetTextOnBgColour(Rgb colour) = 0;
  virtual void SetTextOnBarColour(Rgb colour) = 0;
  /// Has the bar repainted with the window's next frame (a window paints
  /// at most once per frame, however often its values change).
  virtual void Redraw() = 0;
};

class IDialogHost : public IWindow {
 public:
  // ---- timers: id = entry index; arming a running timer replaces it ----
  virtual void SetTimer(int id, uint32_t ms) = 0;
  virtual void KillTimer(int id) = 0;

  /// Milliseconds of a monotonic clock (the processor clock of the run).
  virtual uint32_t ClockMs() = 0;

  // ---- dialogs ----
  /// Open-file dialog. `filter` is in the "Text|*.bin|All|*.*||" form;
  /// `initialName` is a directory followed by "*.bin". Nothing on Cancel.
  virtual std::optional<std::string> OpenFileDialog(const std::string& filter,
                                                    const std::string& initialName,
                                                    const std::string& defaultExt) = 0;
  /// Folder dialog. Nothing on Cancel.
  virtual std::optional<std::string> BrowseFolder() = 0;

  // ---- controls, by id ----
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void ShowControl(int id, bool show) = 0;
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual std::string GetControlText(int id) = 0;
  /// Check boxes (also push-like ones): 0 or 1.
  virtual void SetCheck(int id, int checked) = 0;
  virtual int GetCheck(int id) = 0;
  /// Combo boxes: the selected index, -1 for none.
  virtual void SetComboSel(int id, int index) = 0;
  virtual int GetComboSel(int id) = 0;
  /// List box: appends an item; asks whether item `index` is selected.
  virtual void AddListItem(int id, const std::string& text) = 0;
  virtual bool IsListItemSelected(int id, int index) = 0;
  /// Replaces the text of list item `index`; out-of-range indexes are
  /// ignored. Hosts without a visible list may ignore it.
  virtual void SetListItemText(int id, int index, const std::string& text) { (void)id; (void)index; (void)text; }
  /// Slider.
  virtual void SetSliderRange(int id, int minimum, int maximum) = 0;
  virtual void SetSliderPos(int id, int position) = 0;
  virtual int GetSliderPos(int id) = 0;
  virtual void SetFocus(int id) = 0;
  /// Invalidates a control with erasing (it repaints later).
  virtual void Invalidate(int id) = 0;

  // ---- per entry ----
  /// Entry `entry`'s progress bar (0..19).
  virtual IProgressBar& ProgressBar(int entry) = 0;
  /// Appends to entry `entry`'s log view a line break and then `text`, bold,
  /// in `colour`, without an undo record.
  virtual void AppendLogLine(int entry, Rgb colour, const std::string& text) = 0;

  /// Ends the host's loop (the dialog closes).
  virtual void PostQuit() = 0;

  /// A line for the port's tooltip/status: the device behind a "[COM%d]"
  /// label. Hosts without such a place ignore it.
  virtual void SetPortHint(int entry, const std::string& hint) { (void)entry; (void)hint; }

  /// Entry `entry`'s result in the current run is known (completed or
  /// failed, with its reason, counts and times in the entry): the moment a
  /// host that keeps a record of its handsets writes it. Hosts that keep
  /// none ignore it.
  virtual void OnEntryResult(int entry) { (void)entry; }

  // ---- what a window shows beyond its controls' texts; hosts without a
  // ---- window ignore them (the console prints its own summary) ----
  /// Entry `entry`'s port label stands for a handset that failed: the window
  /// marks it (a colour of its own) until told otherwise.
  virtual void MarkEntryFailed(int entry, bool failed) { (void)entry; (void)failed; }
  /// Something the operator should know that concerns no entry, such as a
  /// Port Search that found nothing: the window shows it in a box.
  virtual void ShowNotice(const std::string& text) { (void)text; }
  /// The run has ended: the window asks for the operator's attention (the
  /// taskbar's alert) and beeps once, for whoever works at the next bench.
  virtual void AskAttention() {}
  /// Closes the message box the dialog has open (the innermost), as if it
  /// had been answered No (or OK); nothing when none is open.
  virtual void DismissMessageBox() {}
};
