// Helpers of the window's tests: answering modal dialogs the code under test
// opens, and reading pixels.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

/// Waits (bounded) in the event loop until `done` holds.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

/// Once a modal widget appears (within `timeoutMs`), hands it to `answer`,
/// which must close it. Returns a flag that tells whether it was answered.
/// Call it before the code that opens the dialog.
inline std::shared_ptr<bool> AnswerNextModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000) {
  auto answered = std::make_shared<bool>(false);
  auto* poll = new QTimer;
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, answered, started, timeoutMs] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      if (started->elapsed() > timeoutMs) poll->deleteLater();
      return;
    }
    poll->stop();
    poll->deleteLater();
    *answered = true;
    answer(modal);
  });
  poll->start(10);
  return answered;
}

/// Chooses `path` in an open file dialog the way a user types it, then
/// presses Open. selectFile alone is not enough: once the dialog's name field
/// has the focus, selectFile leaves the field alone and Open just enters the
/// current directory, so the dialog would stay open.
inline void ChooseInFileDialog(QFileDialog& dialog, const QString& path) {
  const QFileInfo info(path);
  dialog.setDirectory(info.absolutePath());
  auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (name != nullptr)
    name->setText(info.fileName());
  else
    dialog.selectFile(path);
  QMetaObject::invokeMethod(&dialog, "accept", Qt::DirectConnection);
}

/// Counts the pixels of `image` inside `area` that have exactly `colour`.
inline int CountPixels(const QImage& image, const QRect& area, QRgb colour) {
  int n = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++n;
  return n;
}

/// How many pixels of `image` inside `area` differ from `background`: the
/// ink drawn on it.
inline int Ink(const QImage& image, const QRect& area, QRgb background) {
  const QRect r = area.intersected(image.rect());
  return r.width() * r.height() - CountPixels(image, r, background);
}

/// The child of `window` that lies on top at `point`, or null.
inline QWidget* TopChildAt(QWidget& window, QPoint point) {
  QWidget* w = window.childAt(point);
  while (w != nullptr && w->parentWidget() != &window) w = w->parentWidget();
  return w;
}

/// The widget as drawn, one device pixel per logical pixel.
inline QImage Grab(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }
