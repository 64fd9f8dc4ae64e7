// In-memory dialog templates (the extended form, DLGTEMPLATEEX): the main
// window from the control table and the About box, laid out in dialog units
// of the dialog font, which the template names with its character set.
#pragma once

#include "WinUi.h"

#include <string>
#include <vector>

struct ControlRow;

class CDialogTemplate {
 public:
  /// A dialog of `w` × `h` dialog units at (x, y) with a caption and a font.
  CDialogTemplate(DWORD style, DWORD exStyle, int x, int y, int w, int h, const std::wstring& caption,
                  const std::wstring& fontFace, WORD pointSize, BYTE charset);

  /// A control of a predefined class (0x0080 button, 0x0081 edit, 0x0082
  /// static, 0x0083 list box, 0x0085 combo box).
  void AddControl(WORD classAtom, int id, const std::wstring& text, DWORD style, DWORD exStyle, int x, int y,
                  int w, int h);
  /// A control of a registered class named `className`.
  void AddControl(const std::wstring& className, int id, const std::wstring& text, DWORD style, DWORD exStyle,
                  int x, int y, int w, int h);
  /// A static icon control showing icon resource `iconId`.
  void AddIcon(int id, WORD iconId, DWORD style, int x, int y, int w, int h);

  /// The template, for CreateDialogIndirectParamW / DialogBoxIndirectParamW.
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }
  int ControlCount() const { return m_count; }

 private:
  void BeginItem(int id, DWORD style, DWORD exStyle, int x, int y, int w, int h);
  void EndItem(const std::wstring& text);
  void PushDword(DWORD value);
  void PushString(const std::wstring& text);
  void Align(size_t bytes);

  std::vector<WORD> m_words;
  size_t m_countAt = 0;
  int m_count = 0;
};

/// Window classes of the controls that are not predefined.
extern const wchar_t kTextProgressClass[];  ///< the entry's text progress bar
/// Rich edit class the log views use: "RichEdit50W" (Msftedit.dll) when it
/// could be loaded, else "RichEdit20W" (Riched20.dll).
const wchar_t* LogViewClass();

/// Style of the control of one table row (visibility and enabled state
/// included) and its extended style.
DWORD ControlStyle(const ControlRow& row);
DWORD ControlExStyle(const ControlRow& row);

/// The main window's template: the caption, 447 × 359 units, the font, and
/// every control of the table in table order.
CDialogTemplate MainDialogTemplate(const std::wstring& fontFace);
/// The About box's template (caption "Velmora 정보", 235 × 55 units).
CDialogTemplate AboutDialogTemplate(const std::wstring& fontFace);

/// Resource ids of the program.
constexpr WORD IDR_MAINFRAME = 128;  ///< the application's icon
constexpr WORD IDI_ABOUT = 131;      ///< the icon group of the About box
constexpr WORD IDS_ABOUTBOX = 101;   ///< the system menu's About entry

/// The Korean face the dialogs use: "굴림" (Gulim) where it is installed,
/// else "맑은 고딕" (Malgun Gothic, every Windows since Vista), else
/// "NanumGothic" (installed beside Wine on Linux), else "MS Shell Dlg".
std::wstring ChooseDialogFont();
