#include "TextProgressCtrl.h"

#include <QPainter>
#include <QPalette>
#include <QResizeEvent>

#include "ProgressCaption.h"

namespace {

Rgb ToRgb(const QColor& c) {
  return MakeRgb(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()), static_cast<uint8_t>(c.blue()));
}

QColor ToQColor(Rgb c) { return QColor(RgbRed(c), RgbGreen(c), RgbBlue(c)); }

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  const QPalette pal = palette();
  m_bar = ToRgb(pal.color(QPalette::Highlight));
  m_bg = ToRgb(pal.color(QPalette::Base));
  m_textOnBg = ToRgb(pal.color(QPalette::Highlight));
  m_textOnBar = ToRgb(pal.color(QPalette::Base));
}

void CTextProgressCtrl::SetRange(int minimum, int maximum) {
  CProgressModel::SetRange(minimum, maximum);
  // A bar with a range covers itself whole: what lies behind it need not be
  // painted first. Without one it draws nothing, and the frame behind shows.
  setAttribute(Qt::WA_OpaquePaintEvent, m_nMin < m_nMax);
}

int CTextProgressCtrl::FilledWidth(int clientWidth, int position, int minimum, int maximum) {
  return ProgressFilledWidth(clientWidth, position, minimum, maximum);
}

std::string CTextProgressCtrl::DefaultCaption(int position, int minimum, int maximum) {
  return ProgressDefaultCaption(position, minimum, maximum);
}

int CTextProgressCtrl::SetPos(int position) {
  const int old = CProgressModel::SetPos(position);
  // Asked for, never painted here: twenty bars change with every block of
  // every entry, and the window paints them together once per frame.
  if (FilledMoved(width())) update();
  return old;
}

void CTextProgressCtrl::Redraw() {
  CProgressModel::Redraw();
  update();
}

void CTextProgressCtrl::SetWindowText(const char* text) {
  const bool none = text == nullptr;
  if ((none && !m_strText.empty()) || (!none && m_strText != text)) {
    m_strText = none ? std::string() : std::string(text);
    update();
  }
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ForgetFilled();
}

void CTextProgressCtrl::paintEvent(QPaintEvent* /*event*/) {
  ++m_nPaints;
  if (m_nMin >= m_nMax) return;

  const QRect client = rect();
  const int w = FilledWidth(client.width(), m_nPos, m_nMin, m_nMax);
  QRect filled = client;
  filled.setRight(client.left() + w - 1);
  QRect empty = client;
  empty.setLeft(client.left() + w);

  QPainter painter(this);
  painter.fillRect(filled, ToQColor(m_bar));
  painter.fillRect(empty, ToQColor(m_bg));

  const QString caption = QString::fromStdString(Caption());
  const int flags = Qt::AlignCenter | Qt::TextSingleLine;

  painter.setClipRect(filled);
  painter.setPen(ToQColor(m_textOnBar));
  painter.drawText(client, flags, caption);

  // Over the empty part only the caption text itself is written, never the
  // default percentage: a bar without text shows its percentage only where
  // the bar has grown.
  painter.setClipRect(empty);
  painter.setPen(ToQColor(m_textOnBg));
  painter.drawText(client, flags, QString::fromStdString(m_strText));
}
