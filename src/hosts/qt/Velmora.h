// The application object: prepares Qt and runs the main window modally; the
// program ends when the window closes.
#pragma once

#include <QApplication>

class CVelmoraApp : public QApplication {
 public:
  CVelmoraApp(int& argc, char** argv);

  /// Builds the window and the dialog, runs the window modally until it is
  /// closed, then destroys the dialog (its entries, links and threads go
  /// with it). Returns the process's exit code.
  int InitInstance();
};
