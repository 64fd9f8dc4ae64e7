// Developer tool: starts the window with its dialog as the program does,
// lets it paint, and saves a picture of it. Used by scripts/screenshot.sh.
//   velmora_screenshot OUTPUT.png [--port N=DEVICE ...] [--phone IMAGE]
//                      [--after MS]
// With --phone the phone code is chosen (the file dialog answered with
// IMAGE) and DownLoad pressed, so the picture shows a run MS milliseconds in.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
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
  for (qsizetype k = 0; k + 1 < args.size();) {
    if (args[k] == QLatin1String("--phone")) {
      phone = args[k + 1];
      args.remove(k, 2);
    } else if (args[k] == QLatin1String("--after")) {
      afterMs = args[k + 1].toInt();
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
  bool saved = false;
  QTimer::singleShot(afterMs, &window, [&] {
    saved = window.grab().save(output);
    // A box the run opened meanwhile would hold the loop below.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &window) modal->close();
    window.done(0);
  });
  window.exec();
  UnbindDialog(host);
  if (!saved) std::fprintf(stderr, "could not write %s\n", qPrintable(output));
  return saved ? 0 : 1;
}
