#include "QtDialogHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSlider>
#include <QTextEdit>

#include <algorithm>

#include "ControlIds.h"
#include "DialogMapping.h"
#include "LogView.h"
#include "ProgressCaption.h"
#include "TextProgressCtrl.h"
#include "VelmoraWindow.h"

namespace {

// Tells the dialog's thread that posted messages wait in the host's queue.
class CDrainEvent : public QEvent {
 public:
  static QEvent::Type EventType() {
    static const int type = QEvent::registerEventType();
    return static_cast<QEvent::Type>(type);
  }
  CDrainEvent() : QEvent(EventType()) {}
};

QString ToQ(const std::string& text) { return QString::fromStdString(text); }

bool IsStatusEdit(int id) { return std::find(std::begin(kStatusIds), std::end(kStatusIds), id) != std::end(kStatusIds); }

}  // namespace

CQtDialogHost::CQtDialogHost(CVelmoraWindow& window) : m_window(window) {
  m_clock.start();
  m_window.SetMessageSink([this](uint32_t message, uintptr_t wParam) { Dispatch(message, wParam, 0); });
  m_window.SetCloseHandler([this] {
    if (m_onClose) m_onClose();
    Dispatch(WM_COMMAND, IDCANCEL, 0);
  });
  m_window.SetCloseQuery([this] { return !m_closeQuery || m_closeQuery(); });
}

CQtDialogHost::~CQtDialogHost() {
  m_window.SetMessageSink(nullptr);
  m_window.SetCloseHandler(nullptr);
  m_window.SetCloseQuery(nullptr);
}

intptr_t CQtDialogHost::Dispatch(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!m_windowProc) return 0;
  return m_windowProc(message, wParam, lParam);
}

bool CQtDialogHost::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  // Twenty receive threads post a message per reply. One event wakes the
  // loop for all that queue up meanwhile, instead of an event (and a
  // wake-up of the loop) each.
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(m_postLock);
    m_posted.push_back({msg, wParam, lParam});
    wake = !m_bDrainPosted;
    m_bDrainPosted = true;
  }
  // postEvent is safe from any thread and takes ownership of the event.
  if (wake) QCoreApplication::postEvent(this, new CDrainEvent);
  return true;
}

void CQtDialogHost::DrainPosted() {
  size_t batch = 0;
  {
    std::lock_guard<std::mutex> guard(m_postLock);
    m_bDrainPosted = false;
    batch = m_posted.size();
  }
  // Only what was queued when the event came: clicks, timers and paints
  // get their turn between batches. A handler may run a nested loop (a
  // message box): the rest is handed over by a further event there, in
  // the order it was posted.
  for (size_t k = 0; k < batch; ++k) {
    Posted m{};
    bool repost = false;
    {
      std::lock_guard<std::mutex> guard(m_postLock);
      if (m_posted.empty()) break;
      m = m_posted.front();
      m_posted.pop_front();
      if (!m_posted.empty() && !m_bDrainPosted) repost = m_bDrainPosted = true;
    }
    if (repost) QCoreApplication::postEvent(this, new CDrainEvent);
    Dispatch(m.message, m.wParam, m.lParam);
  }
}

bool CQtDialogHost::event(QEvent* event) {
  if (event->type() == CDrainEvent::EventType()) {
    DrainPosted();
    return true;
  }
  return QObject::event(event);
}

int CQtDialogHost::MessageBox(const std::string& text, uint32_t type) {
  QMessageBox box(MessageBoxIcon(type), QString::fromUtf8(kBoxTitle), ToQ(text), MessageBoxButtons(type),
                  m_window.isVisible() ? &m_window : nullptr);
  if ((type & MB_BUTTONMASK) == MB_YESNO) {
    box.setDefaultButton((type & MB_DEFBUTTON2) ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  }
  if (type & MB_SYSTEMMODAL) box.setWindowModality(Qt::ApplicationModal);
  m_openBoxes.emplace_back(&box);
  const int clicked = box.exec();
  m_openBoxes.pop_back();
  return MessageBoxAnswer(type, clicked);
}

void CQtDialogHost::SetTimer(int id, uint32_t ms) {
  std::unique_ptr<QTimer>& timer = m_timers[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    // Window timers repeat until they are killed.
    QObject::connect(timer.get(), &QTimer::timeout, this,
                     [this, id] { Dispatch(WM_TIMER, static_cast<uintptr_t>(id), 0); });
  }
  timer->start(static_cast<int>(ms));
}

void CQtDialogHost::KillTimer(int id) {
  auto it = m_timers.find(id);
  if (it != m_timers.end()) it->second->stop();
}

bool CQtDialogHost::IsTimerActive(int id) const {
  auto it = m_timers.find(id);
  return it != m_timers.end() && it->second->isActive();
}

uint32_t CQtDialogHost::ClockMs() { return static_cast<uint32_t>(m_clock.elapsed()); }

std::optional<std::string> CQtDialogHost::OpenFileDialog(const std::string& filter, const std::string& initialName,
                                                         const std::string& defaultExt) {
  QFileDialog dialog(m_window.isVisible() ? &m_window : nullptr, QString::fromUtf8("열기"),
                     InitialDirectory(initialName));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(QtNameFilters(filter));
  dialog.setDefaultSuffix(ToQ(defaultExt));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> CQtDialogHost::BrowseFolder() {
  QFileDialog dialog(m_window.isVisible() ? &m_window : nullptr, QString::fromUtf8("폴더 찾아보기"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString path = dialog.selectedFiles().front();
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

void CQtDialogHost::EnableControl(int id, bool enable) {
  if (QWidget* w = m_window.Control(id)) w->setEnabled(enable);
}

void CQtDialogHost::ShowControl(int id, bool show) {
  if (QWidget* w = m_window.Control(id)) w->setVisible(show);
}

void CQtDialogHost::SetControlText(int id, const std::string& text) {
  QWidget* w = m_window.Control(id);
  if (w == nullptr) return;
  // The dialog rewrites every bound control after each block and each log
  // line: a text it wrote before is not converted again, and one that no
  // operator can type over is not even compared.
  TextCache& cache = m_texts[id];
  if (cache.utf8 == text && cache.held) return;
  if (cache.utf8 != text || cache.text.isNull()) {
    cache.utf8 = text;
    cache.text = ToQ(text);
  }
  const QString& q = cache.text;
  auto* typed = qobject_cast<QLineEdit*>(w);
  cache.held = (typed == nullptr || typed->isReadOnly()) && qobject_cast<QTextEdit*>(w) == nullptr &&
               dynamic_cast<CTextProgressCtrl*>(w) == nullptr;
  // Leaving unchanged texts alone keeps edit cursors and repaints where
  // they are.
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    if (edit->isHidden() && IsStatusEdit(id)) {
      // Nobody sees it: the text is laid out once it is shown. The status
      // edits of the entries not shown change with every block.
      if (!m_hiddenEditText.contains(id)) edit->installEventFilter(this);
      m_hiddenEditText.insert(id, q);
      return;
    }
    m_hiddenEditText.remove(id);
    if (edit->text() != q) edit->setText(q);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->text() != q) label->setText(q);
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    if (button->text() != q) button->setText(q);
  } else if (auto* bar = dynamic_cast<CTextProgressCtrl*>(w)) {
    bar->SetWindowText(text.c_str());
  } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
    box->setTitle(q);
  } else if (auto* view = qobject_cast<QTextEdit*>(w)) {
    FlushLogLines();
    view->setPlainText(q);
  }
}

bool CQtDialogHost::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
      const int id = edit->objectName().toInt();  // the window names each control by its id
      auto it = m_hiddenEditText.find(id);
      if (it != m_hiddenEditText.end()) {
        if (edit->text() != *it) edit->setText(*it);
        m_hiddenEditText.erase(it);
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

std::string CQtDialogHost::GetControlText(int id) {
  QWidget* w = m_window.Control(id);
  if (w == nullptr) return std::string();
  if (qobject_cast<QTextEdit*>(w) != nullptr) FlushLogLines();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    auto it = m_hiddenEditText.find(id);
    return (it != m_hiddenEditText.end() ? *it : edit->text()).toStdString();
  }
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text().toStdString();
  if (auto* bar = dynamic_cast<CTextProgressCtrl*>(w)) return bar->GetText();
  if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title().toStdString();
  if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText().toStdString();
  if (auto* view = qobject_cast<QTextEdit*>(w)) return view->toPlainText().toStdString();
  return std::string();
}

void CQtDialogHost::SetCheck(int id, int checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(m_window.Control(id))) button->setChecked(checked != 0);
}

int CQtDialogHost::GetCheck(int id) {
  auto* button = qobject_cast<QAbstractButton*>(m_window.Control(id));
  return button != nullptr && button->isChecked() ? 1 : 0;
}

void CQtDialogHost::SetComboSel(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(m_window.Control(id));
  if (combo == nullptr) return;
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

int CQtDialogHost::GetComboSel(int id) {
  auto* combo = qobject_cast<QComboBox*>(m_window.Control(id));
  return combo != nullptr ? combo->currentIndex() : -1;
}

void CQtDialogHost::AddListItem(int id, const std::string& text) {
  if (auto* list = qobject_cast<QListWidget*>(m_window.Control(id))) list->addItem(ToQ(text));
}

bool CQtDialogHost::IsListItemSelected(int id, int index) {
  auto* list = qobject_cast<QListWidget*>(m_window.Control(id));
  if (list == nullptr || index < 0 || index >= list->count()) return false;
  return list->item(index)->isSelected();
}

void CQtDialogHost::SetListItemText(int id, int index, const std::string& text) {
  auto* list = qobject_cast<QListWidget*>(m_window.Control(id));
  if (list == nullptr || index < 0 || index >= list->count()) return;
  // Only when it changes: a new text would otherwise repaint the whole list
  // on every port change.
  const QString wanted = ToQ(text);
  if (list->item(index)->text() != wanted) list->item(index)->setText(wanted);
}

void CQtDialogHost::SetSliderRange(int id, int minimum, int maximum) {
  auto* slider = qobject_cast<QSlider*>(m_window.Control(id));
  if (slider == nullptr) return;
  slider->setRange(minimum, maximum);
  // A page is a fifth of the range, as on the handsets' original platform.
  slider->setPageStep(std::max(1, (maximum - minimum) / 5));
}

void CQtDialogHost::SetSliderPos(int id, int position) {
  if (auto* slider = qobject_cast<QSlider*>(m_window.Control(id))) slider->setValue(position);
}

int CQtDialogHost::GetSliderPos(int id) {
  auto* slider = qobject_cast<QSlider*>(m_window.Control(id));
  return slider != nullptr ? slider->value() : 0;
}

void CQtDialogHost::SetFocus(int id) {
  if (QWidget* w = m_window.Control(id)) w->setFocus(Qt::OtherFocusReason);
}

void CQtDialogHost::Invalidate(int id) {
  if (QWidget* w = m_window.Control(id)) w->update();
}

IProgressBar& CQtDialogHost::ProgressBar(int entry) {
  // Entry indexes are checked by every caller; an index out of range is a
  // programming error, answered with a bar nobody sees rather than a crash.
  if (CTextProgressCtrl* bar = m_window.ProgressBar(entry)) return *bar;
  static CNoProgressBar sink;
  return sink;
}

void CQtDialogHost::AppendLogLine(int entry, Rgb colour, const std::string& text) {
  if (m_window.LogView(entry) == nullptr) return;
  m_pendingLines[entry].emplace_back(colour, text);
  if (m_bFlushPosted) return;
  m_bFlushPosted = true;
  // Queued behind the messages already waiting: the lines of all of them
  // go in one edit per view.
  QMetaObject::invokeMethod(this, [this] { FlushLogLines(); }, Qt::QueuedConnection);
}

void CQtDialogHost::FlushLogLines() {
  m_bFlushPosted = false;
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (m_pendingLines[i].empty()) continue;
    std::vector<std::pair<Rgb, std::string>> lines;
    lines.swap(m_pendingLines[i]);
    m_window.LogView(i)->AppendLines(lines);
  }
}

void CQtDialogHost::PostQuit() {
  // Queued, so that the handler that asked for it finishes first.
  QMetaObject::invokeMethod(&m_window, [this] { m_window.done(IDCANCEL); }, Qt::QueuedConnection);
}

void CQtDialogHost::MarkEntryFailed(int entry, bool failed) {
  if (entry < 0 || entry >= MAX_ENTRIES) return;
  QWidget* label = m_window.Control(kPortLabelIds[entry]);
  if (label == nullptr || label->property("failed").toBool() == failed) return;
  label->setProperty("failed", failed);
  // The dark red of the bar's "Error!".
  label->setStyleSheet(failed ? QStringLiteral("color: rgb(128, 0, 0); font-weight: bold;") : QString());
}

void CQtDialogHost::ShowNotice(const std::string& text) { MessageBox(text, MB_OK | MB_ICONINFORMATION); }

void CQtDialogHost::AskAttention() {
  // The taskbar's alert until the window is active again, and one beep.
  QApplication::alert(&m_window);
  QApplication::beep();
}

void CQtDialogHost::DismissMessageBox() {
  while (!m_openBoxes.empty() && m_openBoxes.back().isNull()) m_openBoxes.pop_back();
  if (m_openBoxes.empty()) return;
  QMessageBox* box = m_openBoxes.back();
  // Answered with its escape button (No for a question): its loop ends
  // once the handler that asked returns to it.
  if (QAbstractButton* escape = box->escapeButton())
    box->done(box->standardButton(escape));
  else
    box->done(QMessageBox::Ok);
}

void CQtDialogHost::SetPortHint(int entry, const std::string& hint) {
  if (entry < 0 || entry >= MAX_ENTRIES) return;
  if (QWidget* label = m_window.Control(kPortLabelIds[entry])) label->setToolTip(ToQ(hint));
}
