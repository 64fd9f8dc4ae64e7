// The About box, opened from the main window's context menu.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  /// The notice line under the program's name.
  static constexpr const char* kNotice = "Copyright (C) NORVANE UMTS Team";
};
