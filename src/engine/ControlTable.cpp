#include "ControlTable.h"

#include "ControlIds.h"

namespace {

using K = ControlKind;

constexpr int kEntries = 20;

// Per entry: where its check box and its progress bar sit. Entries 1, 3, 5 ...
// form the left column, 2, 4, 6 ... the right one.
struct EntryPlace {
  int checkX, checkY, barX, barY;
};
constexpr EntryPlace kEntryPlaces[kEntries] = {
    {21, 193, 203, 23},  {97, 193, 319, 23},  {21, 207, 203, 37},  {97, 207, 319, 37},
    {21, 221, 203, 51},  {97, 221, 319, 51},  {21, 237, 203, 65},  {97, 237, 319, 65},
    {21, 253, 203, 79},  {97, 253, 319, 79},  {21, 267, 203, 93},  {97, 267, 319, 93},
    {21, 281, 203, 107}, {97, 281, 319, 107}, {21, 297, 203, 121}, {97, 297, 319, 121},
    {21, 312, 203, 135}, {97, 312, 319, 135}, {21, 328, 203, 149}, {97, 328, 319, 149},
};

std::vector<ControlRow> BuildRows() {
  std::vector<ControlRow> rows = {
      {IDC_STATIC, K::GroupBox, "[ Binary ]", 7, 7, 181, 67, true, true},
      {IDC_PHONE_CODE, K::PushLikeCheck, "PHONE Code", 15, 20, 55, 14, true, true},
      {IDC_CHANGE_DOWNLOADER, K::CheckBox, "Change Downloader", 75, 22, 82, 10, true, true},
      {IDC_PHONE_TEXT, K::ReadOnlyEdit, "", 15, 37, 166, 14, true, true},
      {IDC_BOOTLOADER, K::PushLikeCheck, "BootLoader", 15, 55, 55, 14, true, true},
      {IDC_BOOT_TEXT, K::ReadOnlyEdit, "", 76, 55, 105, 14, true, true},
      {IDC_STATIC, K::GroupBox, "[ File System ]", 7, 77, 181, 67, true, true},
      {IDC_RESOURCE, K::PushLikeCheck, "RESOURCE", 15, 89, 55, 14, false, true},
      {IDC_RESOURCE_TEXT, K::ReadOnlyEdit, "", 76, 88, 76, 14, false, true},
      {IDC_CREATE_RESOURCE, K::PushButton, "Create Resource Binary", 15, 89, 166, 14, true, true},
      {IDC_QBFS, K::PushLikeCheck, "QBFS", 15, 107, 55, 14, true, true},
      {IDC_QBFS_TEXT, K::ReadOnlyEdit, "", 76, 107, 105, 14, true, true},
      {IDC_EFS2, K::PushLikeCheck, "EFS2", 15, 125, 55, 14, true, true},
      {IDC_EFS_TEXT, K::ReadOnlyEdit, "", 76, 125, 105, 14, true, true},
      {IDC_DOWNLOAD, K::DefaultButton, "DownLoad", 13, 148, 106, 27, true, true},
      {IDC_PORT_SEARCH, K::PushButton, "Port Search", 126, 149, 55, 26, true, true},
      {IDC_STATIC, K::GroupBox, " Download Entry ", 7, 180, 181, 172, true, true},
  };

  for (int i = 0; i < kEntries; ++i) {
    const EntryPlace& p = kEntryPlaces[i];
    const bool left = (i % 2) == 0;
    const int checkWidth = i < 9 ? 36 : 39;
    rows.push_back({kEntryCheckIds[i], K::CheckBox, "Entry" + std::to_string(i + 1), p.checkX, p.checkY,
                    checkWidth, 10, true, false});
    rows.push_back({kPortLabelIds[i], K::StaticText, "-", p.checkX + (left ? 37 : 40), p.checkY, left ? 34 : 32,
                    8, true, true});
  }

  const std::vector<ControlRow> middle = {
      {IDC_PORT_LIST, K::ListBox, "", 21, 207, 66, 122, true, true},
      {IDC_AUTO_DETECT, K::CheckBox, "Auto Detect", 135, 300, 52, 25, false, true},
      {IDC_INPUT_ADDRESS, K::CheckBox, "Input address", 134, 269, 54, 13, false, true},
      {IDC_ADDRESS1, K::Edit, "", 143, 192, 46, 16, false, false},
      {IDC_ADDRESS2, K::Edit, "", 142, 207, 46, 16, false, false},
      {IDC_ADDRESS3, K::Edit, "", 141, 223, 48, 18, false, true},
      {IDC_ADDRESS4, K::Edit, "", 142, 241, 46, 16, false, false},
      {IDC_ADDRESS5, K::Edit, "", 142, 257, 46, 16, false, false},
      {IDC_STATIC, K::StaticText, "0x", 374, 237, 8, 10, false, true},
      {IDC_STATIC, K::StaticText, "0x", 374, 257, 8, 10, false, true},
      {IDC_STATIC, K::StaticText, "0x", 374, 277, 8, 10, false, true},
      {IDC_STATIC, K::StaticText, "0x", 374, 295, 8, 10, false, true},
      {IDC_STATIC, K::StaticText, "0x", 374, 311, 8, 10, false, true},
      {IDC_STATIC, K::GroupBox, " Progress ", 195, 7, 246, 164, true, true},
  };
  rows.insert(rows.end(), middle.begin(), middle.end());

  for (int i = 0; i < kEntries; ++i)
    rows.push_back({kProgressIds[i], K::ProgressBar, "", kEntryPlaces[i].barX, kEntryPlaces[i].barY, 111, 13, true,
                    true});

  // The status edits and log views of all entries share one place; only the
  // shown entry's are visible (the first entry's at start), so that the
  // others, covered anyway, cost no painting.
  rows.push_back({IDC_STATIC, K::GroupBox, " Status ", 195, 180, 246, 172, true, true});
  for (int i = 0; i < kEntries; ++i)
    rows.push_back({kStatusIds[i], K::ReadOnlyEdit, "", 205, 195, 116, 12, i == 0, true});

  std::string entryItems;
  for (int i = 0; i < kEntries; ++i) entryItems += (i ? "\nEntry" : "Entry") + std::to_string(i + 1);

  const std::vector<ControlRow> rest = {
      {IDC_ENTRY_LABEL, K::Edit, "", 358, 189, 71, 12, true, true},
      {IDC_ENTRY_SLIDER, K::Slider, "", 353, 200, 81, 17, true, true},
      {IDC_DOWNLOAD_TYPE_LABEL, K::StaticText, "Download Type:", 211, 211, 56, 8, false, true},
      {IDC_DOWNLOAD_TYPE, K::ComboBox, "PROGRAM\nPROGRAM (CHANGE)\nFONT", 270, 207, 70, 69, false, true},
  };
  rows.insert(rows.end(), rest.begin(), rest.end());

  for (int i = 0; i < kEntries; ++i)
    rows.push_back({kLogViewIds[i], K::LogView, "", 204, 229, 229, 103, i == 0, true});

  // The sizes of the File Info labels are not fixed anywhere; these fit
  // their texts in the dialog font.
  const std::vector<ControlRow> tail = {
      {IDC_ELAPSED, K::ReadOnlyEdit, "", 327, 338, 113, 12, true, false},
      {IDC_STATIC, K::GroupBox, " File Info ", 235, 237, 181, 88, false, true},
      {IDC_FILE_LABEL, K::StaticText, "File:", 243, 249, 20, 8, false, true},
      {IDC_FILE_PATH, K::ReadOnlyEdit, "", 243, 259, 167, 12, false, true},
      {IDC_SIZE_LABEL, K::StaticText, "Size:", 242, 275, 20, 8, false, true},
      {IDC_SIZE, K::ReadOnlyEdit, "", 242, 285, 69, 12, false, true},
      {IDC_BYTES_LABEL, K::StaticText, "bytes", 314, 287, 20, 8, false, true},
      {IDC_VERSION_LABEL, K::StaticText, "Version:", 347, 275, 30, 8, false, true},
      {IDC_VERSION, K::ReadOnlyEdit, "", 347, 285, 62, 12, false, true},
      {IDC_BUILD_TIME_LABEL, K::StaticText, "Build time : ", 243, 307, 44, 8, false, true},
      {IDC_BUILD_TIME, K::ReadOnlyEdit, "", 289, 305, 120, 12, false, true},
      {IDC_OPEN, K::PushButton, "Open", 351, 290, 54, 22, false, true},
      {IDC_ENTRY_COMBO, K::ComboBox, entryItems, 276, 287, 45, 190, false, false},
      {IDC_TAB, K::Tab, "", 291, 269, 69, 22, false, false},
  };
  rows.insert(rows.end(), tail.begin(), tail.end());
  return rows;
}

}  // namespace

const std::vector<ControlRow>& MainDialogControls() {
  static const std::vector<ControlRow> rows = BuildRows();
  return rows;
}

const ControlRow* FindControlRow(int id) {
  if (id == IDC_STATIC) return nullptr;
  for (const ControlRow& row : MainDialogControls())
    if (row.id == id) return &row;
  return nullptr;
}
