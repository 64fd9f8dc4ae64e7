#include "TextProgressCtrl.h"

#include <QPainter>
#include <QPalette>
#include <QResizeEvent>
#include <cmath>
#include <cstdio>

namespace {

Rgb ToRgb(const QColor& c) {
  return MakeRgb(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()), static_cast<uint8_t>(c.blue()));
}

QColor ToQColor(Rgb c) { return QColor(RgbRed(c), RgbGreen(c), RgbBlue(c)); }

// The fraction of the range covered. An empty or inverted range counts as
// nothing filled: dividing by it would give infinities whose conversion to
// pixels is undefined.
double Fraction(int position, int minimum, int maximum) {
  if (minimum >= maximum) return 0.0;
  return (static_cast<double>(position) - minimum) / (static_cast<double>(maximum) - minimum);
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
  const QPalette pal = palette();
  m_crBar = ToRgb(pal.color(QPalette::Highlight));
  m_crBg = ToRgb(pal.color(QPalette::Base));
  m_crTextOnBg = ToRgb(pal.color(QPalette::Highlight));
  m_crTextOnBar = ToRgb(pal.color(QPalette::Base));
}

void CTextProgressCtrl::SetRange(int minimum, int maximum) {
  m_nMin = minimum;
  m_nMax = maximum;
}

int CTextProgressCtrl::FilledWidth(int clientWidth, int position, int minimum, int maximum) {
  if (clientWidth <= 0) return 0;
  double w = std::trunc(clientWidth * Fraction(position, minimum, maximum));
  // A position outside the range cannot fill more than the bar or less than
  // nothing; clamping also keeps the conversion defined.
  if (w < 0) w = 0;
  if (w > clientWidth) w = clientWidth;
  return static_cast<int>(w);
}

std::string CTextProgressCtrl::DefaultCaption(int position, int minimum, int maximum) {
  double percent = std::trunc(Fraction(position, minimum, maximum) * 100.0);
  if (percent > 1e9) percent = 1e9;
  if (percent < -1e9) percent = -1e9;
  char text[64];
  std::snprintf(text, sizeof text, "Download Complete %d%%", static_cast<int>(percent));
  return text;
}

int CTextProgressCtrl::SetPos(int position) {
  const int old = m_nPos;
  m_nPos = position;
  const int w = FilledWidth(width(), m_nPos, m_nMin, m_nMax);
  if (w != m_nBarWidth) {
    m_nBarWidth = w;
    repaint();
  }
  return old;
}

void CTextProgressCtrl::SetText(const std::string& caption) { m_strText = caption; }

void CTextProgressCtrl::Redraw() { repaint(); }

void CTextProgressCtrl::SetWindowText(const char* text) {
  const bool none = text == nullptr;
  if ((none && !m_strText.empty()) || (!none && m_strText != text)) {
    m_strText = none ? std::string() : std::string(text);
    update();
  }
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_nBarWidth = -1;
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
  painter.fillRect(filled, ToQColor(m_crBar));
  painter.fillRect(empty, ToQColor(m_crBg));

  const QString caption =
      QString::fromStdString(m_strText.empty() ? DefaultCaption(m_nPos, m_nMin, m_nMax) : m_strText);
  const int flags = Qt::AlignCenter | Qt::TextSingleLine;

  painter.setClipRect(filled);
  painter.setPen(ToQColor(m_crTextOnBar));
  painter.drawText(client, flags, caption);

  // Over the empty part only the caption text itself is written, never the
  // default percentage: a bar without text shows its percentage only where
  // the bar has grown.
  painter.setClipRect(empty);
  painter.setPen(ToQColor(m_crTextOnBg));
  painter.drawText(client, flags, QString::fromStdString(m_strText));
}
