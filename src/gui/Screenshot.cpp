// Developer tool: starts the window with its dialog as the program does,
// lets it paint, and saves a picture of it. Used by scripts/screenshot.sh.
#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "HostBinding.h"
#include "QtDialogHost.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  CVelmoraWindow window;
  CQtDialogHost host(window);
  CVelmoraDlg dialog(host);
  BindDialog(host, dialog);
  dialog.OnInitDialog();
  window.show();
  bool saved = false;
  QTimer::singleShot(500, &window, [&] {
    saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
    window.done(0);
  });
  window.exec();
  UnbindDialog(host);
  if (!saved) std::fprintf(stderr, "could not write %s\n", argv[1]);
  return saved ? 0 : 1;
}
