// The main window as the dialog logic finds it: every id the logic addresses
// is one widget of the kind the logic uses it as, with its text, and the
// window is what its template builds.
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
#include "GuiTestUtil.h"
#include "LogView.h"
#include "MySliderCtrl.h"
#include "TextProgressCtrl.h"
#include "VelmoraWindow.h"

namespace {

// What the logic does with a control: ticks it, presses it, writes a text
// the operator may not change (Output) or may (Input), picks an item...
enum class As { Toggle, Button, Check, Output, Input, Label, Combo, List, Slider, Bar, Log, Tab };

bool Fits(QWidget* w, As as) {
  auto* push = qobject_cast<QPushButton*>(w);
  auto* edit = qobject_cast<QLineEdit*>(w);
  auto* list = qobject_cast<QListWidget*>(w);
  switch (as) {
    case As::Toggle: return push != nullptr && push->isCheckable();
    case As::Button: return push != nullptr && !push->isCheckable();
    case As::Check: return qobject_cast<QCheckBox*>(w) != nullptr;
    case As::Output: return edit != nullptr && edit->isReadOnly();
    case As::Input: return edit != nullptr && !edit->isReadOnly();
    case As::Label: return qobject_cast<QLabel*>(w) != nullptr;
    case As::Combo: return qobject_cast<QComboBox*>(w) != nullptr;
    case As::List: return list != nullptr && list->selectionMode() == QAbstractItemView::MultiSelection;
    case As::Slider: return dynamic_cast<CMySliderCtrl*>(w) != nullptr;
    case As::Bar: return dynamic_cast<CTextProgressCtrl*>(w) != nullptr;
    case As::Log: return dynamic_cast<CLogView*>(w) != nullptr;
    case As::Tab: return qobject_cast<QTabBar*>(w) != nullptr;
  }
  return false;
}

QString TextOf(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  return QString();
}

struct Use {
  int id;
  As as;
  std::string text;
};

std::vector<Use> ControlsTheDialogAddresses() {
  std::vector<Use> uses = {
      {IDC_PHONE_CODE, As::Toggle, "PHONE Code"}, {IDC_BOOTLOADER, As::Toggle, "BootLoader"},
      {IDC_RESOURCE, As::Toggle, "RESOURCE"}, {IDC_QBFS, As::Toggle, "QBFS"}, {IDC_EFS2, As::Toggle, "EFS2"},
      {IDC_CREATE_RESOURCE, As::Button, "Create Resource Binary"}, {IDC_DOWNLOAD, As::Button, "DownLoad"},
      {IDC_PORT_SEARCH, As::Button, "Port Search"}, {IDC_OPEN, As::Button, "Open"},
      {IDC_CHANGE_DOWNLOADER, As::Check, "Change Downloader"}, {IDC_AUTO_DETECT, As::Check, "Auto Detect"},
      {IDC_INPUT_ADDRESS, As::Check, "Input address"},
      {IDC_DOWNLOAD_TYPE_LABEL, As::Label, "Download Type:"}, {IDC_FILE_LABEL, As::Label, "File:"},
      {IDC_SIZE_LABEL, As::Label, "Size:"}, {IDC_BYTES_LABEL, As::Label, "bytes"},
      {IDC_VERSION_LABEL, As::Label, "Version:"}, {IDC_BUILD_TIME_LABEL, As::Label, "Build time : "},
      {IDC_DOWNLOAD_TYPE, As::Combo, ""}, {IDC_ENTRY_COMBO, As::Combo, ""}, {IDC_PORT_LIST, As::List, ""},
      {IDC_ENTRY_SLIDER, As::Slider, ""}, {IDC_TAB, As::Tab, ""},
  };
  for (int id : {IDC_PHONE_TEXT, IDC_BOOT_TEXT, IDC_RESOURCE_TEXT, IDC_QBFS_TEXT, IDC_EFS_TEXT, IDC_ELAPSED,
                 IDC_FILE_PATH, IDC_SIZE, IDC_VERSION, IDC_BUILD_TIME})
    uses.push_back({id, As::Output, ""});
  for (int id : {IDC_ENTRY_LABEL, IDC_ADDRESS1, IDC_ADDRESS2, IDC_ADDRESS3, IDC_ADDRESS4, IDC_ADDRESS5})
    uses.push_back({id, As::Input, ""});
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    uses.push_back({kEntryCheckIds[i], As::Check, "Entry" + std::to_string(i + 1)});
    uses.push_back({kPortLabelIds[i], As::Label, "-"});
    uses.push_back({kProgressIds[i], As::Bar, ""});
    uses.push_back({kLogViewIds[i], As::Log, ""});
    uses.push_back({kStatusIds[i], As::Output, ""});
  }
  return uses;
}

class ControlTableTest : public ::testing::Test {
 protected:
  CVelmoraWindow window;
};

TEST_F(ControlTableTest, EveryIdTheDialogAddressesIsOneWidgetOfTheKindItIsUsedAs) {
  // Two names for one id would let one entry write into another's control.
  std::set<int> addressed;
  for (const Use& use : ControlsTheDialogAddresses()) {
    EXPECT_TRUE(addressed.insert(use.id).second) << "id used twice: " << use.id;
    QWidget* w = window.Control(use.id);
    ASSERT_NE(w, nullptr) << use.id;
    EXPECT_TRUE(Fits(w, use.as)) << use.id;
    EXPECT_EQ(TextOf(w).toStdString(), use.text) << use.id;
    EXPECT_EQ(window.findChildren<QWidget*>(QString::number(use.id), Qt::FindDirectChildrenOnly).size(), 1)
        << use.id;
  }
  // ... and the window holds no control of an id the logic cannot name.
  std::set<int> built;
  for (const ControlRow& row : MainDialogControls())
    if (row.id != IDC_STATIC) built.insert(row.id);
  EXPECT_EQ(built, addressed);

  EXPECT_TRUE(qobject_cast<QPushButton*>(window.Control(IDC_DOWNLOAD))->isDefault());
  auto* type = qobject_cast<QComboBox*>(window.Control(IDC_DOWNLOAD_TYPE));
  ASSERT_EQ(type->count(), 3);
  EXPECT_EQ(type->itemText(1).toStdString(), "PROGRAM (CHANGE)");
  auto* entries = qobject_cast<QComboBox*>(window.Control(IDC_ENTRY_COMBO));
  ASSERT_EQ(entries->count(), 20);
  EXPECT_EQ(entries->itemText(0).toStdString(), "Entry1");
  EXPECT_EQ(entries->itemText(19).toStdString(), "Entry20");
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

// Where each control lies and whether it is seen is what the operator works
// with; the window tests check that (no seen control covers another, each
// entry's controls read as that entry). Here: the window builds its template
// faithfully, in units of the dialog font.
TEST_F(ControlTableTest, EveryControlHasThePlaceAndStateOfItsTemplateRow) {
  const CDialogUnits& du = window.Units();
  EXPECT_GT(du.CellWidth(), 2);
  EXPECT_GT(du.CellHeight(), 6);
  EXPECT_EQ(window.size(), QSize(447 * du.CellWidth() / 4, 359 * du.CellHeight() / 8));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());  // fixed size
  for (const ControlRow& row : MainDialogControls()) {
    if (row.id == IDC_STATIC) continue;
    QWidget* w = window.Control(row.id);
    const QRect place = du.ToPixels(row.x, row.y, row.w, row.h);
    // A combo box's template height includes its drop-down list.
    if (row.kind == ControlKind::ComboBox)
      EXPECT_EQ(w->geometry().topLeft(), place.topLeft()) << row.id;
    else
      EXPECT_EQ(w->geometry(), place) << row.id;
    EXPECT_EQ(w->isHidden(), !row.shown) << row.id;
    EXPECT_EQ(w->isEnabled(), row.enabled) << row.id;
  }
}

TEST_F(ControlTableTest, FirstEntrysViewAndStatusLieOnTopOfTheStack) {
  window.show();
  for (int id : {kLogViewIds[0], kStatusIds[0]})
    EXPECT_EQ(TopChildAt(window, window.Control(id)->geometry().center()), window.Control(id)) << id;
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
