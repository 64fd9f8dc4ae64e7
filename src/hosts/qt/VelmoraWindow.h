// The main window: every control of the template at its place, by id, plus
// the window's own behaviour — Enter and Escape never close it, dragging its
// background moves it, its context menu holds the About entry (and the one that forgets the kept COM
// numbers, and what its owner adds there), and closing
// it is reported to its owner. What the controls mean is the dialog logic's
// business; the window only tells its owner about clicks.
#pragma once

#include <QDialog>
#include <QHash>
#include <QPoint>
#include <QSize>
#include <functional>

#include "DialogUnits.h"

class QLabel;
class QMenu;
class CFramePacer;
class CTextProgressCtrl;
class CLogView;
class CMySliderCtrl;

/// The dialog font, made smaller (in half points) until the dialog and a
/// window frame fit in `available` pixels; as it is where they fit already.
QFont FitDialogFont(QFont font, QSize available);

class CVelmoraWindow : public QDialog {
 public:
  explicit CVelmoraWindow(QWidget* parent = nullptr);
  ~CVelmoraWindow() override;

  /// The control with template id `id`, or null.
  QWidget* Control(int id) const { return m_controls.value(id, nullptr); }
  /// Entry `entry`'s (0..19) progress bar and log view; null out of range.
  CTextProgressCtrl* ProgressBar(int entry) const;
  CLogView* LogView(int entry) const;
  CMySliderCtrl* Slider() const;

  /// Receives the window's notifications: WM_COMMAND(id) after a button or
  /// check box was clicked (its check state already changed) or a combo box
  /// selection was changed by the operator, and WM_SLIDER_CHANGED.
  using MessageSink = std::function<void(uint32_t message, uintptr_t wParam)>;
  void SetMessageSink(MessageSink sink) { m_sink = std::move(sink); }
  /// Runs when the operator closes the window, before it closes.
  void SetCloseHandler(std::function<void()> onClose) { m_onClose = std::move(onClose); }
  /// Asked first when the operator closes the window; false keeps it open
  /// (and the close handler is not run).
  void SetCloseQuery(std::function<bool()> query) { m_closeQuery = std::move(query); }
  /// What the context menu shows of the mode: flow on, and whether it may
  /// change now (not during a run or the line).
  struct ModeState {
    bool flow = false;
    bool changeable = true;
  };
  void SetModeQuery(std::function<ModeState()> query) { m_modeQuery = std::move(query); }

  /// Puts the window's commands into `menu`: minimise, close, a separator,
  /// what the owner's menu filler adds followed by a separator of its own,
  /// the entry that forgets the kept COM numbers (sent as WM_COMMAND
  /// IDM_FORGET_PORTS) and the About entry.
  void FillContextMenu(QMenu& menu);
  /// Adds the owner's commands to the context menu (none: nothing added).
  void SetMenuFiller(std::function<void(QMenu&)> filler) { m_menuFiller = std::move(filler); }
  /// Opens the About box modally.
  void ShowAbout();
  /// Shows entry `entry`'s status and log as the slider does (a click on
  /// its bar or its port label).
  void ShowEntry(int entry);

  /// The line under the entries, level with the elapsed time, where the
  /// owner tells the shift's counts; empty until it does.
  QLabel* ShiftLabel() const { return m_shiftLabel; }

  const CDialogUnits& Units() const { return m_units; }
  /// What keeps the window's painting to one paint per display frame.
  CFramePacer& FramePacer() const { return *m_pacer; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildControls();
  void Send(uint32_t message, uintptr_t wParam);

  CDialogUnits m_units;
  CFramePacer* m_pacer = nullptr;
  QHash<int, QWidget*> m_controls;
  QHash<QObject*, int> m_entryOf;  // each entry's bar and port label
  MessageSink m_sink;
  std::function<void()> m_onClose;
  std::function<bool()> m_closeQuery;
  std::function<ModeState()> m_modeQuery;
  std::function<void(QMenu&)> m_menuFiller;
  QLabel* m_shiftLabel = nullptr;
  bool m_bDragging = false;
  QPoint m_dragStartGlobal;
  QPoint m_dragStartPos;
};
