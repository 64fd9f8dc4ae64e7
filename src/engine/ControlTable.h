// The main window's template: every control with its id, kind, text, place
// in dialog units and the state the window creates it in. Both windows (Qt
// on Linux, Win32 on Windows) are built from this one table, and the tests
// check each window against it. It names no toolkit type.
#pragma once

#include <string>
#include <vector>

/// What kind of widget a row becomes.
enum class ControlKind {
  GroupBox,
  PushLikeCheck,   ///< check box that looks like a push button
  CheckBox,        ///< auto check box
  ReadOnlyEdit,
  Edit,
  PushButton,
  DefaultButton,   ///< the default push button
  StaticText,
  ListBox,         ///< multiple selection
  ComboBox,        ///< drop-down; items in `text`, separated by '\n'
  Slider,          ///< the entry slider
  ProgressBar,     ///< text progress bar
  LogView,         ///< rich-text log of one entry
  Tab,
};

/// Id of the controls the logic never addresses (group boxes, labels).
constexpr int IDC_STATIC = -1;

struct ControlRow {
  int id;
  ControlKind kind;
  std::string text;
  int x, y, w, h;  ///< dialog units
  bool shown;
  bool enabled;
};

/// Size of the main window in dialog units, and its caption.
constexpr int kDialogWidthDu = 447;
constexpr int kDialogHeightDu = 359;
constexpr const char* kDialogCaption = "Velmora [ WZB-K470 ] V5.1  - NORVANE UMTS";

/// Every control of the main window, in template order.
const std::vector<ControlRow>& MainDialogControls();

/// The row of control `id`, or null (IDC_STATIC rows are not found).
const ControlRow* FindControlRow(int id);
