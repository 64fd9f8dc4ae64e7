#include "WinUi.h"

#include "DialogTemplate.h"

#include <algorithm>
#include <iterator>

#include "ControlIds.h"
#include "ControlTable.h"
#include "Window.h"
#include "VelmoraVersion.h"

const wchar_t kTextProgressClass[] = L"VelmoraTextProgress";

namespace {

constexpr WORD kButton = 0x0080;
constexpr WORD kEdit = 0x0081;
constexpr WORD kStatic = 0x0082;
constexpr WORD kListBox = 0x0083;
constexpr WORD kComboBox = 0x0085;

bool IsStacked(int id) {
  for (int i = 0; i < MAX_ENTRIES; ++i)
    if (kLogViewIds[i] == id || kStatusIds[i] == id) return true;
  return false;
}

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FaceInstalled(HDC dc, const wchar_t* face) {
  LOGFONTW wanted = {};
  wanted.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  EnumFontFamiliesExW(dc, &wanted, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

}  // namespace

CDialogTemplate::CDialogTemplate(DWORD style, DWORD exStyle, int x, int y, int w, int h,
                                 const std::wstring& caption, const std::wstring& fontFace, WORD pointSize,
                                 BYTE charset) {
  m_words.push_back(1);       // dlgVer
  m_words.push_back(0xFFFF);  // signature: the extended form
  PushDword(0);               // helpID
  PushDword(exStyle);
  PushDword(style | DS_SETFONT);
  m_countAt = m_words.size();
  m_words.push_back(0);  // cDlgItems, counted as controls are added
  m_words.push_back(static_cast<WORD>(x));
  m_words.push_back(static_cast<WORD>(y));
  m_words.push_back(static_cast<WORD>(w));
  m_words.push_back(static_cast<WORD>(h));
  m_words.push_back(0);  // no menu
  m_words.push_back(0);  // the dialog class
  PushString(caption);
  m_words.push_back(pointSize);
  m_words.push_back(FW_NORMAL);
  // italic (low byte) and character set (high byte)
  m_words.push_back(static_cast<WORD>(charset) << 8);
  PushString(fontFace);
}

void CDialogTemplate::PushDword(DWORD value) {
  m_words.push_back(LOWORD(value));
  m_words.push_back(HIWORD(value));
}

void CDialogTemplate::PushString(const std::wstring& text) {
  for (wchar_t c : text) m_words.push_back(static_cast<WORD>(c));
  m_words.push_back(0);
}

void CDialogTemplate::Align(size_t bytes) {
  while ((m_words.size() * sizeof(WORD)) % bytes != 0) m_words.push_back(0);
}

void CDialogTemplate::BeginItem(int id, DWORD style, DWORD exStyle, int x, int y, int w, int h) {
  Align(sizeof(DWORD));
  PushDword(0);  // helpID
  PushDword(exStyle);
  PushDword(style | WS_CHILD);
  m_words.push_back(static_cast<WORD>(x));
  m_words.push_back(static_cast<WORD>(y));
  m_words.push_back(static_cast<WORD>(w));
  m_words.push_back(static_cast<WORD>(h));
  PushDword(static_cast<DWORD>(id));
}

void CDialogTemplate::EndItem(const std::wstring& text) {
  PushString(text);
  m_words.push_back(0);  // no creation data
  ++m_count;
  m_words[m_countAt] = static_cast<WORD>(m_count);
}

void CDialogTemplate::AddControl(WORD classAtom, int id, const std::wstring& text, DWORD style, DWORD exStyle,
                                 int x, int y, int w, int h) {
  BeginItem(id, style, exStyle, x, y, w, h);
  m_words.push_back(0xFFFF);
  m_words.push_back(classAtom);
  EndItem(text);
}

void CDialogTemplate::AddControl(const std::wstring& className, int id, const std::wstring& text, DWORD style,
                                 DWORD exStyle, int x, int y, int w, int h) {
  BeginItem(id, style, exStyle, x, y, w, h);
  PushString(className);
  EndItem(text);
}

void CDialogTemplate::AddIcon(int id, WORD iconId, DWORD style, int x, int y, int w, int h) {
  BeginItem(id, style | SS_ICON, 0, x, y, w, h);
  m_words.push_back(0xFFFF);
  m_words.push_back(kStatic);
  // The title names the icon resource by number.
  m_words.push_back(0xFFFF);
  m_words.push_back(iconId);
  m_words.push_back(0);  // no creation data
  ++m_count;
  m_words[m_countAt] = static_cast<WORD>(m_count);
}

const wchar_t* LogViewClass() {
  static const wchar_t* name = [] {
    if (LoadLibraryW(L"Msftedit.dll") != nullptr) return L"RichEdit50W";
    LoadLibraryW(L"Riched20.dll");
    return L"RichEdit20W";
  }();
  return name;
}

DWORD ControlStyle(const ControlRow& row) {
  DWORD style = 0;
  switch (row.kind) {
    case ControlKind::GroupBox: style = BS_GROUPBOX; break;
    case ControlKind::PushLikeCheck: style = BS_AUTOCHECKBOX | BS_PUSHLIKE | WS_TABSTOP; break;
    case ControlKind::CheckBox: style = BS_AUTOCHECKBOX | WS_TABSTOP; break;
    case ControlKind::ReadOnlyEdit: style = ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP; break;
    case ControlKind::Edit: style = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP; break;
    case ControlKind::PushButton: style = BS_PUSHBUTTON | WS_TABSTOP; break;
    case ControlKind::DefaultButton: style = BS_DEFPUSHBUTTON | WS_TABSTOP; break;
    case ControlKind::StaticText: style = SS_LEFT; break;
    case ControlKind::ListBox:
      style = LBS_MULTIPLESEL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
      break;
    case ControlKind::ComboBox: style = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP; break;
    case ControlKind::Slider: style = TBS_AUTOTICKS | TBS_HORZ | TBS_BOTTOM | WS_TABSTOP; break;
    case ControlKind::ProgressBar: style = WS_BORDER; break;
    case ControlKind::LogView:
      style = ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP;
      break;
    case ControlKind::Tab: style = 0; break;
  }
  // The twenty log views and status edits lie on one another: each paints
  // only where no view above it lies, so the one on top stays whole.
  if (IsStacked(row.id)) style |= WS_CLIPSIBLINGS;
  // A click on an entry's port label shows the entry (STN_CLICKED).
  if (std::find(std::begin(kPortLabelIds), std::end(kPortLabelIds), row.id) != std::end(kPortLabelIds))
    style |= SS_NOTIFY;
  if (row.shown) style |= WS_VISIBLE;
  if (!row.enabled) style |= WS_DISABLED;
  return style;
}

DWORD ControlExStyle(const ControlRow& row) {
  return row.kind == ControlKind::LogView ? WS_EX_CLIENTEDGE : 0;
}

CDialogTemplate MainDialogTemplate(const std::wstring& fontFace) {
  // A fixed frame with a caption, system menu and minimise box, shown in
  // the task bar; created hidden, shown by the loop.
  CDialogTemplate t(DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                    WS_EX_APPWINDOW, 0, 0, kDialogWidthDu, kDialogHeightDu, WideFromUtf8(kDialogCaption),
                    fontFace, 9, HANGUL_CHARSET);
  for (const ControlRow& row : MainDialogControls()) {
    const std::wstring text = WideFromUtf8(row.text);
    const DWORD style = ControlStyle(row);
    const DWORD exStyle = ControlExStyle(row);
    const int id = row.id;
    switch (row.kind) {
      case ControlKind::GroupBox:
      case ControlKind::PushLikeCheck:
      case ControlKind::CheckBox:
      case ControlKind::PushButton:
      case ControlKind::DefaultButton:
        t.AddControl(kButton, id, text, style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::ReadOnlyEdit:
      case ControlKind::Edit:
        t.AddControl(kEdit, id, text, style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::StaticText:
        t.AddControl(kStatic, id, text, style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::ListBox:
        t.AddControl(kListBox, id, L"", style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::ComboBox:
        // Its items are added once the window exists.
        t.AddControl(kComboBox, id, L"", style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::Slider:
        t.AddControl(TRACKBAR_CLASSW, id, L"", style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::ProgressBar:
        t.AddControl(kTextProgressClass, id, L"", style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::LogView:
        t.AddControl(LogViewClass(), id, L"", style, exStyle, row.x, row.y, row.w, row.h);
        break;
      case ControlKind::Tab:
        t.AddControl(WC_TABCONTROLW, id, L"", style, exStyle, row.x, row.y, row.w, row.h);
        break;
    }
  }
  return t;
}

CDialogTemplate AboutDialogTemplate(const std::wstring& fontFace) {
  CDialogTemplate t(DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 0, 235, 55,
                    L"Velmora 정보", fontFace, 9, HANGUL_CHARSET);
  t.AddIcon(IDC_STATIC, IDI_ABOUT, WS_VISIBLE, 11, 17, 20, 20);
  t.AddControl(kStatic, IDC_STATIC, L"Velmora [WZB-K470] V" VELMORA_VERSION, SS_LEFT | SS_NOPREFIX | WS_VISIBLE, 0,
               40, 10, 161, 8);
  t.AddControl(kStatic, IDC_STATIC, L"Copyright (C) NORVANE UMTS Team", SS_LEFT | WS_VISIBLE, 0, 40, 25, 119, 8);
  t.AddControl(kButton, IDOK, L"확인", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE | WS_GROUP, 0, 178, 34, 50, 14);
  return t;
}

std::wstring ChooseDialogFont() {
  HDC dc = GetDC(nullptr);
  std::wstring face = L"MS Shell Dlg";
  for (const wchar_t* wanted : {L"굴림", L"Gulim", L"맑은 고딕", L"Malgun Gothic", L"NanumGothic"}) {
    if (FaceInstalled(dc, wanted)) {
      face = wanted;
      break;
    }
  }
  ReleaseDC(nullptr, dc);
  return face;
}
