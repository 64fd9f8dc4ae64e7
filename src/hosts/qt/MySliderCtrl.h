// The entry slider. It tells its owner that the operator moved it: after
// every key press, once the slider has moved by the key, and at the release
// of the left button when the mouse has moved over it since the last
// release. Intermediate drag positions are not reported.
#pragma once

#include <QSlider>
#include <functional>

class CMySliderCtrl : public QSlider {
 public:
  explicit CMySliderCtrl(QWidget* parent = nullptr);

  /// Called synchronously for every notification (the owner's
  /// WM_SLIDER_CHANGED); it runs before the slider's own handling goes on.
  void SetNotify(std::function<void()> notify) { m_notify = std::move(notify); }

  /// Whether the mouse has moved over the slider since the last release.
  int Moved() const { return m_bMoved; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Notify();

  std::function<void()> m_notify;
  int m_bMoved = 0;
};
