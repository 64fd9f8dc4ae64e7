// Developer tool: starts the window with its dialog as the program does,
// lets it paint, and saves a picture of it. Used by scripts/screenshot.sh.
//   velmora_screenshot OUTPUT.png [--port N=DEVICE ...] [--phone IMAGE]
//                      [--after MS] [--at-end] [--show-entry N]
// With --phone the phone code is chosen (the file dialog answered with
// IMAGE) and DownLoad pressed, so the picture shows a run MS milliseconds in;
// with --at-end it shows the run's end instead, its end box over the window
// (MS then bounds the wait). --show-entry clicks entry N's bar first, so its
// log is the one seen.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "ControlIds.h"
#include "HostBinding.h"
#include "QtDialogHost.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"
#include "WindowArgs.h"

namespace {

// Answers the file dialog with the image given on the command line.
class CScriptedHost : public CQtDialogHost {
 public:
  using CQtDialogHost::CQtDialogHost;
  std::optional<std::string> OpenFileDialog(const std::string&, const std::string&, const std::string&) override {
    return m_answer;
  }
  std::optional<std::string> m_answer;
};

void Click(CVelmoraWindow& window, int id) {
  if (auto* button = qobject_cast<QAbstractButton*>(window.Control(id))) button->click();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList args = app.arguments();
  args.removeFirst();
  if (args.isEmpty() || args.first().startsWith(QLatin1String("--"))) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [--port N=DEVICE ...] [--phone IMAGE] [--after MS]\n", argv[0]);
    return 2;
  }
  const QString output = args.takeFirst();
  QString phone;
  int afterMs = 500;
  int showEntry = 0;
  bool atEnd = false;
  for (qsizetype k = 0; k < args.size();) {
    if (args[k] == QLatin1String("--at-end")) {
      atEnd = true;
      args.remove(k);
    } else if (k + 1 >= args.size()) {
      break;
    } else if (args[k] == QLatin1String("--phone")) {
      phone = args[k + 1];
      args.remove(k, 2);
    } else if (args[k] == QLatin1String("--after")) {
      afterMs = args[k + 1].toInt();
      args.remove(k, 2);
    } else if (args[k] == QLatin1String("--show-entry")) {
      showEntry = args[k + 1].toInt();
      args.remove(k, 2);
    } else {
      k += 2;
    }
  }
  std::string error;
  const std::optional<WindowArgs> options = ParseWindowArgs(args, error);
  if (!options) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 2;
  }

  CVelmoraWindow window;
  CScriptedHost host(window);
  CVelmoraDlg dialog(host);
  BindDialog(host, dialog);
  dialog.OnInitDialog();
  PlugInPorts(host, options->ports);
  window.show();
  if (!phone.isEmpty()) {
    host.m_answer = phone.toStdString();
    QTimer::singleShot(100, &window, [&] {
      Click(window, IDC_PHONE_CODE);
      Click(window, IDC_DOWNLOAD);
    });
  }
  bool saved = false, shot = false;
  auto shoot = [&](QWidget* box) {
    if (shot) return;
    shot = true;
    if (showEntry >= 1) window.ShowEntry(showEntry - 1);
    QPixmap picture = window.grab();
    if (box != nullptr) {
      // The box lies over the window where the screen shows it.
      QPainter painter(&picture);
      painter.drawPixmap(box->geometry().topLeft() - window.geometry().topLeft(), box->grab());
    }
    saved = picture.save(output);
    // A box the run opened meanwhile would hold the loop below.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &window) modal->close();
    window.done(0);
  };
  QTimer::singleShot(afterMs, &window, [&] { shoot(nullptr); });
  QTimer endBox;
  if (atEnd) {
    QObject::connect(&endBox, &QTimer::timeout, &window, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || dialog.Running()) return;
      endBox.stop();
      // Once it is painted.
      QTimer::singleShot(300, &window, [&, box] { shoot(box); });
    });
    endBox.start(50);
  }
  window.exec();
  UnbindDialog(host);
  if (!saved) std::fprintf(stderr, "could not write %s\n", qPrintable(output));
  return saved ? 0 : 1;
}
