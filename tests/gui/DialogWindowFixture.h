// The real dialog in the real window, with the remembered directories kept
// in a scratch store.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

#include "HostBinding.h"
#include "QtDialogHost.h"
#include "platform/Registry.h"
#include "VelmoraDlg.h"
#include "VelmoraWindow.h"

class DialogWindowTest : public ::testing::Test {
 protected:
  DialogWindowTest() { CRegistry::SetStorePath(scratch.filePath(QStringLiteral("settings.ini")).toStdString()); }
  ~DialogWindowTest() override { CRegistry::SetStorePath(""); }

  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    BindDialog(host, dialog);
    dialog.OnInitDialog();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
  void TearDown() override { UnbindDialog(host); }

  /// Whether control `id` is seen (shown itself and inside a shown window).
  bool Seen(int id) { return window.Control(id)->isVisibleTo(&window); }

  QTemporaryDir scratch;
  CVelmoraWindow window;
  CQtDialogHost host{window};
  CVelmoraDlg dialog{host};
};
