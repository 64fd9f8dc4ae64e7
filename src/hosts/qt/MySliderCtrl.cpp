#include "MySliderCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>

CMySliderCtrl::CMySliderCtrl(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  setTickPosition(QSlider::TicksBelow);
  setTickInterval(1);
  setFocusPolicy(Qt::StrongFocus);
  // A move without a button counts as well, so that a click on the channel
  // after the mouse came over the slider is reported at its release.
  setMouseTracking(true);
}

void CMySliderCtrl::Notify() {
  if (m_notify) m_notify();
}

void CMySliderCtrl::keyPressEvent(QKeyEvent* event) {
  QSlider::keyPressEvent(event);
  Notify();
}

void CMySliderCtrl::mouseMoveEvent(QMouseEvent* event) {
  QSlider::mouseMoveEvent(event);
  m_bMoved = 1;
}

void CMySliderCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (m_bMoved == 1) Notify();
    m_bMoved = 0;
  }
  QSlider::mouseReleaseEvent(event);
}
