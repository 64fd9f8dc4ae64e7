// Paints a window at most once per display frame. Every control of the
// window asks for a repaint (QWidget::update) when its value changes, and Qt
// gathers those requests into one update request for the window; during a
// run the requests come far faster than a screen can show them, so a request
// that comes within a frame of the last paint waits for the frame's end. The
// values themselves change at once; only their painting is put off.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class CFramePacer : public QObject {
 public:
  /// Paces `window` (a top-level widget) from now on, at its screen's
  /// refresh rate.
  explicit CFramePacer(QWidget* window);
  ~CFramePacer() override;

  /// Milliseconds between two paints of the window; 0 paints at every
  /// request, as Qt does by itself.
  void SetIntervalMs(int ms) { m_nIntervalMs = ms; }
  int IntervalMs() const { return m_nIntervalMs; }

  /// The interval for a screen refreshing `hz` times a second (60 Hz when
  /// it does not say).
  static int FrameMs(double hz);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PaintNow();

  QWidget* m_window;
  int m_nIntervalMs;
  QElapsedTimer m_sinceFrame;
  QTimer m_later;
  bool m_bSending = false;
};
