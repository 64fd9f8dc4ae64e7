#include "VelmoraWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QWindow>

#include "AboutDlg.h"
#include "AppIcon.h"
#include "ControlIds.h"
#include "ControlTable.h"
#include "FramePacer.h"
#include "LogView.h"
#include "MySliderCtrl.h"
#include "TextProgressCtrl.h"
#include "Window.h"

namespace {

// Room the window manager's frame takes around the dialog, at most: a title
// bar and thin borders.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 48;
// Below this the dialog font cannot be read any more; a smaller screen
// gets part of the window.
constexpr qreal kSmallestPointSize = 5.0;

QFont ApplyDialogFont(QWidget* w) {
  const QScreen* screen = w->screen() != nullptr ? w->screen() : QGuiApplication::primaryScreen();
  const QFont font = FitDialogFont(DialogFont(), screen != nullptr ? screen->availableGeometry().size() : QSize());
  w->setFont(font);
  return font;
}

}  // namespace

QFont FitDialogFont(QFont font, QSize available) {
  if (available.isEmpty()) return font;
  const QSize room = available - QSize(kFrameWidth, kFrameHeight);
  // Dialog units grow with the font: a smaller font shrinks the whole
  // layout alike, and a screen it fits on keeps the font as it is.
  for (qreal points = font.pointSizeF(); points >= kSmallestPointSize; points -= 0.5) {
    font.setPointSizeF(points);
    const CDialogUnits du(font);
    if (du.X(kDialogWidthDu) <= room.width() && du.Y(kDialogHeightDu) <= room.height()) break;
  }
  return font;
}

CVelmoraWindow::CVelmoraWindow(QWidget* parent) : QDialog(parent), m_units(ApplyDialogFont(this)) {
  setWindowTitle(QString::fromUtf8(kDialogCaption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(VelmoraIcon());
  setFixedSize(m_units.X(kDialogWidthDu), m_units.Y(kDialogHeightDu));
  m_pacer = new CFramePacer(this);
  BuildControls();
  // On the window's bottom line with the elapsed time, under the entries:
  // the template leaves that strip of the Download Entry frame empty, and
  // beside the elapsed time the counts of a long day would not fit on a
  // scaled screen.
  m_shiftLabel = new QLabel(this);
  m_shiftLabel->setObjectName(QStringLiteral("shift"));
  m_shiftLabel->setGeometry(m_units.ToPixels(21, 340, 160, 10));
  qApp->installEventFilter(this);
}

CVelmoraWindow::~CVelmoraWindow() { qApp->removeEventFilter(this); }

void CVelmoraWindow::BuildControls() {
  QList<QWidget*> groups;
  for (const ControlRow& row : MainDialogControls()) {
    QWidget* w = nullptr;
    const QString text = QString::fromStdString(row.text);
    const int id = row.id;
    switch (row.kind) {
      case ControlKind::GroupBox: {
        auto* box = new QGroupBox(text, this);
        // Clicks on a frame belong to the window's background.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        groups << box;
        w = box;
        break;
      }
      case ControlKind::PushLikeCheck:
      case ControlKind::PushButton:
      case ControlKind::DefaultButton: {
        auto* button = new QPushButton(text, this);
        button->setCheckable(row.kind == ControlKind::PushLikeCheck);
        button->setAutoDefault(false);
        button->setDefault(row.kind == ControlKind::DefaultButton);
        connect(button, &QPushButton::clicked, this, [this, id] { Send(WM_COMMAND, static_cast<uintptr_t>(id)); });
        w = button;
        break;
      }
      case ControlKind::CheckBox: {
        auto* box = new QCheckBox(text, this);
        connect(box, &QCheckBox::clicked, this, [this, id] { Send(WM_COMMAND, static_cast<uintptr_t>(id)); });
        w = box;
        break;
      }
      case ControlKind::ReadOnlyEdit:
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, this);
        edit->setReadOnly(row.kind == ControlKind::ReadOnlyEdit);
        w = edit;
        break;
      }
      case ControlKind::StaticText:
        w = new QLabel(text, this);
        break;
      case ControlKind::ListBox: {
        auto* list = new QListWidget(this);
        list->setSelectionMode(QAbstractItemView::MultiSelection);
        w = list;
        break;
      }
      case ControlKind::ComboBox: {
        auto* combo = new QComboBox(this);
        if (!text.isEmpty()) combo->addItems(text.split(QLatin1Char('\n')));
        connect(combo, &QComboBox::activated, this, [this, id] { Send(WM_COMMAND, static_cast<uintptr_t>(id)); });
        w = combo;
        break;
      }
      case ControlKind::Slider: {
        auto* slider = new CMySliderCtrl(this);
        slider->SetNotify([this] { Send(WM_SLIDER_CHANGED, 0); });
        w = slider;
        break;
      }
      case ControlKind::ProgressBar:
        w = new CTextProgressCtrl(this);
        break;
      case ControlKind::LogView:
        w = new CLogView(this);
        break;
      case ControlKind::Tab:
        w = new QTabBar(this);
        break;
    }
    w->setObjectName(QString::number(id));
    // A combo box's height in the template includes its drop-down list.
    QRect place = m_units.ToPixels(row.x, row.y, row.w, row.h);
    if (row.kind == ControlKind::ComboBox) place.setHeight(w->sizeHint().height());
    w->setGeometry(place);
    w->setEnabled(row.enabled);
    w->setVisible(row.shown);
    if (id != IDC_STATIC) m_controls.insert(id, w);
  }
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    for (int id : {kProgressIds[i], kPortLabelIds[i]}) {
      if (QWidget* w = Control(id)) {
        m_entryOf.insert(w, i);
        w->setCursor(Qt::PointingHandCursor);
      }
    }
  }
  // Frames lie under everything; of the stacked log views and status edits
  // the first entry's lie on top, as the template stacks them.
  for (QWidget* g : groups) g->lower();
  for (int i = MAX_ENTRIES - 1; i >= 0; --i) {
    if (QWidget* w = Control(kLogViewIds[i])) w->raise();
    if (QWidget* w = Control(kStatusIds[i])) w->raise();
  }
}

CTextProgressCtrl* CVelmoraWindow::ProgressBar(int entry) const {
  if (entry < 0 || entry >= MAX_ENTRIES) return nullptr;
  return dynamic_cast<CTextProgressCtrl*>(Control(kProgressIds[entry]));
}

CLogView* CVelmoraWindow::LogView(int entry) const {
  if (entry < 0 || entry >= MAX_ENTRIES) return nullptr;
  return dynamic_cast<CLogView*>(Control(kLogViewIds[entry]));
}

CMySliderCtrl* CVelmoraWindow::Slider() const { return dynamic_cast<CMySliderCtrl*>(Control(IDC_ENTRY_SLIDER)); }

void CVelmoraWindow::Send(uint32_t message, uintptr_t wParam) {
  if (m_sink) m_sink(message, wParam);
}

void CVelmoraWindow::ShowEntry(int entry) {
  CMySliderCtrl* slider = Slider();
  if (slider == nullptr || entry < 0 || entry >= MAX_ENTRIES) return;
  // As if the operator had moved the slider there.
  slider->setValue(entry);
  Send(WM_SLIDER_CHANGED, 0);
}

bool CVelmoraWindow::eventFilter(QObject* watched, QEvent* event) {
  // A click on an entry's bar or port label shows its status and log.
  if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    auto it = m_entryOf.constFind(watched);
    if (it != m_entryOf.constEnd()) {
      ShowEntry(*it);
      return true;
    }
  }
  // Enter and Escape never reach a control of this window: neither the
  // default button nor the dialog's own Escape handling may close it.
  if (event->type() == QEvent::KeyPress) {
    auto* target = qobject_cast<QWidget*>(watched);
    if (target != nullptr && target->window() == this) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CVelmoraWindow::closeEvent(QCloseEvent* event) {
  if (m_closeQuery && !m_closeQuery()) {
    event->ignore();
    return;
  }
  if (m_onClose) m_onClose();
  QDialog::closeEvent(event);
}

void CVelmoraWindow::mousePressEvent(QMouseEvent* event) {
  QDialog::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  // Let the window manager move the window where it can; elsewhere (no
  // window manager, off-screen) follow the mouse ourselves.
  if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  m_bDragging = true;
  m_dragStartGlobal = event->globalPosition().toPoint();
  m_dragStartPos = pos();
}

void CVelmoraWindow::mouseMoveEvent(QMouseEvent* event) {
  QDialog::mouseMoveEvent(event);
  if (m_bDragging && (event->buttons() & Qt::LeftButton))
    move(m_dragStartPos + (event->globalPosition().toPoint() - m_dragStartGlobal));
}

void CVelmoraWindow::mouseReleaseEvent(QMouseEvent* event) {
  QDialog::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) m_bDragging = false;
}

void CVelmoraWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillContextMenu(menu);
  menu.exec(event->globalPos());
}

void CVelmoraWindow::FillContextMenu(QMenu& menu) {
  menu.addAction(QString::fromUtf8("최소화(&N)"), this, [this] { showMinimized(); });
  menu.addAction(QString::fromUtf8("닫기(&C)"), this, [this] { close(); });
  menu.addSeparator();
  if (m_menuFiller) m_menuFiller(menu);
  // Batch or flow: what DownLoad starts; the dialog keeps it in the settings
  // and refuses a change while a run or the line goes on.
  QAction* flow = menu.addAction(QString::fromUtf8("흐름 모드: 소켓마다 따로(&L)"), this,
                                 [this] { Send(WM_COMMAND, static_cast<uintptr_t>(IDM_FLOW_MODE)); });
  const ModeState mode = m_modeQuery ? m_modeQuery() : ModeState{};
  flow->setCheckable(true);
  flow->setChecked(mode.flow);
  flow->setEnabled(mode.changeable);
  flow->setData(IDM_FLOW_MODE);
  menu.addSeparator();
  // The dialog logic asks before forgetting, as for any other command.
  QAction* forget = menu.addAction(QString::fromUtf8("COM 번호 지우기(&F)..."), this,
                                   [this] { Send(WM_COMMAND, static_cast<uintptr_t>(IDM_FORGET_PORTS)); });
  forget->setData(IDM_FORGET_PORTS);
  QAction* about = menu.addAction(QString::fromUtf8("Velmora 정보(&A)..."), this, [this] { ShowAbout(); });
  about->setData(IDM_ABOUTBOX);
}

void CVelmoraWindow::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}
