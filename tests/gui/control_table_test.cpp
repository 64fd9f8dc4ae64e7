// The main window against its template: ids, kinds, texts, places, and the
// state every control is created in.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <set>

#include "ControlIds.h"
#include "ControlTable.h"
#include "LogView.h"
#include "MySliderCtrl.h"
#include "TextProgressCtrl.h"
#include "VelmoraWindow.h"

namespace {

// Controls the template creates hidden, and those it creates disabled.
const std::set<int> kHidden = {1079, 1084, 1088, 1092, 1093, 1094, 1095, 1096, 1123, 1024, 1015, 1014, 1005,
                               1026, 1034, 1028, 1027, 1035, 1029, 1050, 1006, 1071, 1000};
const std::set<int> kDisabled = {1093, 1094, 1096, 1123, 1053, 1071, 1000, 1016, 1017, 1018, 1019, 1020,
                                 1021, 1022, 1023, 1097, 1105, 1099, 1107, 1101, 1109, 1103, 1111, 1113,
                                 1117, 1115, 1119};

QString TextOf(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  return QString();
}

class ControlTableTest : public ::testing::Test {
 protected:
  CVelmoraWindow window;
};

TEST_F(ControlTableTest, EveryIdOfTheTemplateIsOneWidgetFoundByItsObjectName) {
  std::set<int> ids;
  for (const ControlRow& row : MainDialogControls()) {
    if (row.id == IDC_STATIC) continue;
    EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << row.id;
    QWidget* w = window.Control(row.id);
    ASSERT_NE(w, nullptr) << row.id;
    EXPECT_EQ(window.findChildren<QWidget*>(QString::number(row.id), Qt::FindDirectChildrenOnly).size(), 1)
        << row.id;
  }
  // 39 controls of their own (14 image and run controls, 8 port and address
  // controls, 4 around the slider, 13 of the hidden File Info area and the
  // elapsed time), plus five per entry.
  EXPECT_EQ(ids.size(), 39u + 5u * 20u);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    EXPECT_NE(dynamic_cast<QCheckBox*>(window.Control(kEntryCheckIds[i])), nullptr);
    EXPECT_NE(dynamic_cast<QLabel*>(window.Control(kPortLabelIds[i])), nullptr);
    EXPECT_NE(window.ProgressBar(i), nullptr);
    EXPECT_NE(window.LogView(i), nullptr);
    auto* status = dynamic_cast<QLineEdit*>(window.Control(kStatusIds[i]));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isReadOnly());
  }
}

TEST_F(ControlTableTest, KindsAndTextsOfTheNamedControls) {
  struct Named {
    int id;
    const char* text;
    bool checkable;
  };
  for (const Named& n : {Named{1077, "PHONE Code", true}, Named{1078, "BootLoader", true},
                         Named{1079, "RESOURCE", true}, Named{1081, "QBFS", true}, Named{1080, "EFS2", true},
                         Named{1126, "Create Resource Binary", false}, Named{1032, "DownLoad", false},
                         Named{1091, "Port Search", false}, Named{1006, "Open", false}}) {
    auto* button = dynamic_cast<QPushButton*>(window.Control(n.id));
    ASSERT_NE(button, nullptr) << n.id;
    EXPECT_EQ(button->text().toStdString(), n.text);
    EXPECT_EQ(button->isCheckable(), n.checkable) << n.id;
  }
  EXPECT_TRUE(dynamic_cast<QPushButton*>(window.Control(1032))->isDefault());
  for (auto [id, text] : {std::pair{1087, "Change Downloader"}, std::pair{1088, "Auto Detect"},
                          std::pair{1092, "Input address"}}) {
    auto* box = dynamic_cast<QCheckBox*>(window.Control(id));
    ASSERT_NE(box, nullptr) << id;
    EXPECT_EQ(box->text().toStdString(), text);
  }
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    EXPECT_EQ(TextOf(window.Control(kEntryCheckIds[i])).toStdString(), "Entry" + std::to_string(i + 1));
    EXPECT_EQ(TextOf(window.Control(kPortLabelIds[i])).toStdString(), "-");
  }
  for (int id : {1082, 1083, 1084, 1086, 1085, 1053, 1005, 1034, 1035, 1050})
    EXPECT_TRUE(dynamic_cast<QLineEdit*>(window.Control(id))->isReadOnly()) << id;
  for (int id : {1075, 1093, 1094, 1095, 1096, 1123})
    EXPECT_FALSE(dynamic_cast<QLineEdit*>(window.Control(id))->isReadOnly()) << id;
  EXPECT_EQ(TextOf(window.Control(1024)).toStdString(), "Download Type:");
  EXPECT_EQ(TextOf(window.Control(1029)).toStdString(), "Build time : ");

  auto* type = dynamic_cast<QComboBox*>(window.Control(1015));
  ASSERT_NE(type, nullptr);
  ASSERT_EQ(type->count(), 3);
  EXPECT_EQ(type->itemText(1).toStdString(), "PROGRAM (CHANGE)");
  auto* entries = dynamic_cast<QComboBox*>(window.Control(1071));
  ASSERT_NE(entries, nullptr);
  ASSERT_EQ(entries->count(), 20);
  EXPECT_EQ(entries->itemText(0).toStdString(), "Entry1");
  EXPECT_EQ(entries->itemText(19).toStdString(), "Entry20");
  auto* list = dynamic_cast<QListWidget*>(window.Control(1089));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::MultiSelection);
  EXPECT_NE(dynamic_cast<CMySliderCtrl*>(window.Control(1074)), nullptr);
  EXPECT_NE(dynamic_cast<QTabBar*>(window.Control(1000)), nullptr);
}

TEST_F(ControlTableTest, GroupBoxesAndPrefixesExistWithoutAnId) {
  std::set<std::string> titles;
  for (QGroupBox* box : window.findChildren<QGroupBox*>()) {
    EXPECT_EQ(box->objectName().toStdString(), "-1");
    titles.insert(box->title().toStdString());
  }
  EXPECT_EQ(titles, (std::set<std::string>{"[ Binary ]", "[ File System ]", " Download Entry ", " Progress ",
                                           " Status ", " File Info "}));
  int prefixes = 0;
  for (QLabel* label : window.findChildren<QLabel*>(QStringLiteral("-1"))) {
    if (label->text() == QLatin1String("0x")) {
      ++prefixes;
      EXPECT_TRUE(label->isHidden());
    }
  }
  EXPECT_EQ(prefixes, 5);
}

TEST_F(ControlTableTest, ShownAndEnabledAsTheTemplateCreatesThem) {
  for (const ControlRow& row : MainDialogControls()) {
    if (row.id == IDC_STATIC) continue;
    QWidget* w = window.Control(row.id);
    EXPECT_EQ(w->isHidden(), kHidden.count(row.id) == 1) << row.id;
    EXPECT_EQ(w->isEnabled(), kDisabled.count(row.id) == 0) << row.id;
  }
}

TEST_F(ControlTableTest, PlacesAreDialogUnitsOfTheDialogFont) {
  const CDialogUnits& du = window.Units();
  EXPECT_GT(du.CellWidth(), 2);
  EXPECT_GT(du.CellHeight(), 6);
  EXPECT_EQ(window.size(), QSize(447 * du.CellWidth() / 4, 359 * du.CellHeight() / 8));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());  // fixed size
  EXPECT_EQ(window.Control(1032)->geometry(), du.ToPixels(13, 148, 106, 27));
  // Entry 12: right column, check box 39 units wide, label 40 units right.
  EXPECT_EQ(window.Control(1107)->geometry(), du.ToPixels(97, 267, 39, 10));
  EXPECT_EQ(window.Control(1108)->geometry(), du.ToPixels(137, 267, 32, 8));
  // Entry 9: left column, 36 units wide, label 37 units right.
  EXPECT_EQ(window.Control(1097)->geometry(), du.ToPixels(21, 253, 36, 10));
  EXPECT_EQ(window.Control(1098)->geometry(), du.ToPixels(58, 253, 34, 8));
  EXPECT_EQ(window.Control(1142)->geometry(), du.ToPixels(319, 149, 111, 13));
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    EXPECT_EQ(window.Control(kLogViewIds[i])->geometry(), du.ToPixels(204, 229, 229, 103));
    EXPECT_EQ(window.Control(kStatusIds[i])->geometry(), du.ToPixels(205, 195, 116, 12));
  }
}

TEST_F(ControlTableTest, FirstEntrysViewAndStatusLieOnTopOfTheStack) {
  window.show();
  const QPoint inView = window.Control(1055)->geometry().center();
  const QWidget* top = window.childAt(inView);
  while (top != nullptr && top->parentWidget() != &window) top = top->parentWidget();
  EXPECT_EQ(top, window.Control(1055));
  const QPoint inStatus = window.Control(1059)->geometry().center();
  top = window.childAt(inStatus);
  while (top != nullptr && top->parentWidget() != &window) top = top->parentWidget();
  EXPECT_EQ(top, window.Control(1059));
}

TEST_F(ControlTableTest, CaptionIconAndKoreanFont) {
  EXPECT_EQ(window.windowTitle().toStdString(), "Velmora [ WZB-K470 ] V5.1  - NORVANE UMTS");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(window.font().pointSize(), 9);
  const QString family = QFontInfo(window.font()).family();
  EXPECT_TRUE(family == QStringLiteral("NanumGothic") || family == QString::fromUtf8("굴림") ||
              family == QStringLiteral("Gulim"))
      << family.toStdString();
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
}

}  // namespace
