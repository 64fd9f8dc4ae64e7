#include "FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

CFramePacer::CFramePacer(QWidget* window)
    : QObject(window), m_window(window), m_nIntervalMs(FrameMs(window->screen() ? window->screen()->refreshRate() : 0)) {
  m_later.setSingleShot(true);
  m_later.setTimerType(Qt::PreciseTimer);
  connect(&m_later, &QTimer::timeout, this, [this] { PaintNow(); });
  m_window->installEventFilter(this);
}

CFramePacer::~CFramePacer() { m_window->removeEventFilter(this); }

int CFramePacer::FrameMs(double hz) {
  if (!(hz >= 1)) hz = 60;
  // Rounded up: never more paints than the screen shows frames.
  return std::max(1, static_cast<int>(std::ceil(1000.0 / hz)));
}

bool CFramePacer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_window || event->type() != QEvent::UpdateRequest || m_bSending || m_nIntervalMs <= 0)
    return false;
  if (!m_sinceFrame.isValid() || m_sinceFrame.elapsed() >= m_nIntervalMs) {
    m_sinceFrame.restart();
    return false;
  }
  // Qt sends no further request until this one is served: whatever else
  // changes until then is painted with it.
  if (!m_later.isActive()) m_later.start(static_cast<int>(m_nIntervalMs - m_sinceFrame.elapsed()));
  return true;
}

void CFramePacer::PaintNow() {
  m_sinceFrame.restart();
  m_bSending = true;
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(m_window, &request);
  m_bSending = false;
}
