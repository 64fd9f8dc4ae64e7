#include "WinUi.h"

#include "Win32DialogHost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <unordered_map>
#include <vector>

#include "ControlIds.h"
#include "ControlTable.h"
#include "DialogTemplate.h"
#include "PortNotification.h"
#include "ProgressCaption.h"
#include "TextProgressCtrl.h"

namespace {

bool IsEngineMessage(UINT message) { return message >= WM_ENGINE_FIRST && message < WM_ENGINE_END; }

std::wstring WindowTextOf(HWND hwnd) {
  if (hwnd == nullptr) return std::wstring();
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

// The entry slider's own handling of keys and the mouse, on top of the
// trackbar's: a key tells the dialog after the slider has moved by it; a
// release of the left button tells it when the mouse has moved over the
// slider since the last release.
constexpr UINT_PTR kSliderSubclass = 1;
constexpr wchar_t kMovedProp[] = L"VelmoraSliderMoved";

LRESULT CALLBACK SliderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_KEYDOWN: {
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      SendMessageW(GetParent(hwnd), WM_SLIDER_CHANGED, 0, 0);
      return result;
    }
    case WM_MOUSEMOVE: {
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      SetPropW(hwnd, kMovedProp, reinterpret_cast<HANDLE>(1));
      return result;
    }
    case WM_LBUTTONUP:
      if (GetPropW(hwnd, kMovedProp) != nullptr) SendMessageW(GetParent(hwnd), WM_SLIDER_CHANGED, 0, 0);
      RemovePropW(hwnd, kMovedProp);
      return DefSubclassProc(hwnd, message, wParam, lParam);
    case WM_NCDESTROY:
      RemovePropW(hwnd, kMovedProp);
      RemoveWindowSubclass(hwnd, SliderProc, kSliderSubclass);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// "Text|*.bin|All|*.*||" with every '|' a null: the form the open-file
// dialog takes, ending in two nulls.
std::wstring SystemFilter(const std::string& filter) {
  std::wstring wide = WideFromUtf8(filter);
  for (wchar_t& c : wide)
    if (c == L'|') c = L'\0';
  wide.push_back(L'\0');
  wide.push_back(L'\0');
  return wide;
}

}  // namespace

struct CWin32DialogHost::Impl {
  CWin32DialogHost& host;
  std::atomic<HWND> hwnd{nullptr};
  HINSTANCE instance = GetModuleHandleW(nullptr);
  std::wstring fontFace;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  bool quit = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastFrame{};
  // The dialog's timers, kept here: the engine arms and kills an entry's
  // timer with every block, and Wine takes every system timer call to its
  // server. One system timer ticks while any of them runs (modal loops
  // dispatch it too); each tick fires those that are due.
  struct Timer {
    std::chrono::milliseconds period;
    std::chrono::steady_clock::time_point due;
  };
  std::map<int, Timer> timers;
  bool ticking = false;
  static constexpr UINT_PTR kTickTimer = 0x7FFF;
  static constexpr UINT kTickMs = 10;
  bool failed[MAX_ENTRIES] = {};  // entries whose port labels stand for a failure

  explicit Impl(CWin32DialogHost& owner) : host(owner) {}

  // Every control by id, taken once the window exists: the dialog touches
  // some fifty controls with every block, and Wine answers each
  // GetDlgItem with a list of all the window's children from its server.
  std::unordered_map<int, HWND> controls;
  HWND Control(int id) const {
    if (hwnd == nullptr) return nullptr;
    auto it = controls.find(id);
    return it != controls.end() ? it->second : GetDlgItem(hwnd, id);
  }
  // Texts of hidden status edits, set when they are shown.
  std::unordered_map<int, std::wstring> hiddenTexts;
  HWND Owner() const { return hwnd && IsWindowVisible(hwnd) ? HWND(hwnd) : nullptr; }

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND hwnd);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  void OnClose();
  void ShowAbout();
  void ShowEntry(int entry);
  INT_PTR OnLabelColour(HDC dc, HWND control);
  void PaintFrame();
  void FireDueTimers();
};

CWin32DialogHost::CWin32DialogHost() : m(std::make_unique<Impl>(*this)) {}

CWin32DialogHost::~CWin32DialogHost() {
  if (HWND hwnd = m->hwnd.exchange(nullptr)) DestroyWindow(hwnd);
}

void* CWin32DialogHost::Handle() const { return m->hwnd.load(); }

std::string CWin32DialogHost::DialogFontFace() const { return Utf8FromWide(m->fontFace); }

bool CWin32DialogHost::Create(std::string& error) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
  if (!CTextProgressCtrl::Register(m->instance)) {
    error = "the progress bar's window class could not be registered: " + Win32ErrorText(GetLastError());
    return false;
  }
  m->fontFace = ChooseDialogFont();
  const CDialogTemplate dialog = MainDialogTemplate(m->fontFace);
  HWND hwnd = CreateDialogIndirectParamW(m->instance, dialog.Get(), nullptr, Impl::DialogProc,
                                         reinterpret_cast<LPARAM>(m.get()));
  if (hwnd == nullptr) {
    error = "the main window could not be created: " + Win32ErrorText(GetLastError());
    return false;
  }
  return true;
}

void CWin32DialogHost::Impl::OnInitDialog(HWND dlg) {
  hwnd = dlg;
  for (HWND child = GetWindow(dlg, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child);
    if (id != IDC_STATIC && id != 0) controls.emplace(id, child);
  }
  bigIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  if (bigIcon) SendMessageW(dlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  if (smallIcon) SendMessageW(dlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));

  // The About entry below a separator, when its text is there.
  if (HMENU menu = GetSystemMenu(dlg, FALSE)) {
    wchar_t about[128] = {};
    if (LoadStringW(instance, IDS_ABOUTBOX, about, 128) > 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }

  for (const ControlRow& row : MainDialogControls()) {
    HWND control = GetDlgItem(dlg, row.id);
    if (row.kind == ControlKind::ComboBox && control != nullptr) {
      std::string items = row.text;
      size_t from = 0;
      while (!items.empty() && from <= items.size()) {
        const size_t to = items.find('\n', from);
        const std::wstring item = WideFromUtf8(items.substr(from, to == std::string::npos ? std::string::npos : to - from));
        SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        if (to == std::string::npos) break;
        from = to + 1;
      }
    } else if (row.kind == ControlKind::Slider && control != nullptr) {
      SetWindowSubclass(control, SliderProc, kSliderSubclass, 0);
    } else if (row.kind == ControlKind::LogView && control != nullptr) {
      SendMessageW(control, EM_SETUNDOLIMIT, 0, 0);
      SendMessageW(control, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
    }
  }
  // Frames lie under everything (the stacked views clip against what lies
  // above them, and a frame above would hide them whole).
  for (const ControlRow& row : MainDialogControls()) {
    if (row.kind != ControlKind::GroupBox) continue;
    for (HWND child = GetWindow(dlg, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      if (GetDlgCtrlID(child) != IDC_STATIC) continue;
      wchar_t cls[16] = {};
      GetClassNameW(child, cls, 16);
      if (lstrcmpiW(cls, L"Button") == 0 && WindowTextOf(child) == WideFromUtf8(row.text)) {
        SetWindowPos(child, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        break;
      }
    }
  }
}

INT_PTR CALLBACK CWin32DialogHost::Impl::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Impl* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Impl*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->OnInitDialog(hwnd);
    return TRUE;
  }
  self = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->OnMessage(hwnd, message, wParam, lParam);
}

INT_PTR CWin32DialogHost::Impl::OnMessage(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsEngineMessage(message)) {
    const intptr_t result = host.Dispatch(message, wParam, lParam);
    // Only a sender reads the result; Wine takes every window-long write to
    // its server, once per posted reply otherwise.
    if (InSendMessage()) SetWindowLongPtrW(dlg, DWLP_MSGRESULT, result);
    return TRUE;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      return TRUE;
    case WM_TIMER:
      if (wParam == kTickTimer)
        FireDueTimers();
      else
        host.Dispatch(WM_TIMER, wParam, 0);
      return TRUE;
    case WM_DEVICECHANGE: {
      DevBroadcastPort note;
      if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
          PortNotificationFromSystem(reinterpret_cast<const void*>(lParam), note))
        host.Dispatch(WM_DEVICECHANGE, wParam, reinterpret_cast<intptr_t>(&note));
      SetWindowLongPtrW(dlg, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAbout();
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_LBUTTONDOWN:
      // Dragging the background moves the window, as dragging its caption does.
      PostMessageW(dlg, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
      return FALSE;
    case WM_PAINT:
      if (IsIconic(dlg) && bigIcon != nullptr) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(dlg, &ps);
        SendMessageW(dlg, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT rect;
        GetClientRect(dlg, &rect);
        const int x = (rect.right - rect.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (rect.bottom - rect.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, bigIcon);
        EndPaint(dlg, &ps);
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(bigIcon);
    case WM_CTLCOLORSTATIC:
      return OnLabelColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY:
      hwnd = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void CWin32DialogHost::Impl::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (lParam == 0) {
    // A menu or accelerator command: the dialog's own cancel among them.
    if (id == IDCANCEL) host.Dispatch(WM_COMMAND, IDCANCEL, 0);
    return;
  }
  const ControlRow* row = FindControlRow(id);
  if (row == nullptr) return;
  if (code == STN_CLICKED && (row->kind == ControlKind::StaticText || row->kind == ControlKind::ProgressBar)) {
    for (int i = 0; i < MAX_ENTRIES; ++i)
      if (id == kPortLabelIds[i] || id == kProgressIds[i]) ShowEntry(i);
    return;
  }
  switch (row->kind) {
    case ControlKind::PushLikeCheck:
    case ControlKind::CheckBox:
    case ControlKind::PushButton:
    case ControlKind::DefaultButton:
      if (code == BN_CLICKED) host.Dispatch(WM_COMMAND, static_cast<uintptr_t>(id), 0);
      break;
    case ControlKind::ComboBox:
      if (code == CBN_SELCHANGE) host.Dispatch(WM_COMMAND, static_cast<uintptr_t>(id), 0);
      break;
    default:
      break;
  }
}

void CWin32DialogHost::Impl::OnClose() {
  if (host.m_closeQuery && !host.m_closeQuery()) return;
  if (host.m_onClose) host.m_onClose();
  host.Dispatch(WM_COMMAND, IDCANCEL, 0);
  quit = true;
  PostMessageW(hwnd, WM_NULL, 0, 0);
}

void CWin32DialogHost::Impl::ShowEntry(int entry) {
  HWND slider = Control(IDC_ENTRY_SLIDER);
  if (slider == nullptr) return;
  // As if the operator had moved the slider there.
  SendMessageW(slider, TBM_SETPOS, TRUE, entry);
  host.Dispatch(WM_SLIDER_CHANGED, 0, 0);
}

INT_PTR CWin32DialogHost::Impl::OnLabelColour(HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (id != kPortLabelIds[i] || !failed[i]) continue;
    // The dark red of the bar's "Error!".
    SetTextColor(dc, RGB(128, 0, 0));
    SetBkColor(dc, GetSysColor(COLOR_3DFACE));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE));
  }
  return FALSE;  // the dialog's own colours
}

void CWin32DialogHost::Impl::FireDueTimers() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<int> due;
  for (const auto& [id, timer] : timers)
    if (timer.due <= now) due.push_back(id);
  for (int id : due) {
    // Armed anew or killed by an earlier one of this tick: not due any more.
    auto it = timers.find(id);
    if (it == timers.end() || it->second.due > now) continue;
    // Timers repeat until killed, as window timers do.
    it->second.due = now + it->second.period;
    host.Dispatch(WM_TIMER, static_cast<uintptr_t>(id), 0);
  }
  if (timers.empty() && ticking && hwnd != nullptr) {
    ::KillTimer(hwnd, kTickTimer);
    ticking = false;
  }
}

void CWin32DialogHost::Impl::PaintFrame() {
  // While the entries' messages keep the queue busy the system sends no
  // WM_PAINT; what changed since the last frame is painted here, once per
  // frame at most, never once per change.
  constexpr auto kFrame = std::chrono::milliseconds(17);  // 60 Hz, rounded up
  const auto now = std::chrono::steady_clock::now();
  HWND dlg = hwnd;
  if (dlg == nullptr || now - lastFrame < kFrame) return;
  lastFrame = now;
  RedrawWindow(dlg, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CWin32DialogHost::Impl::ShowAbout() {
  const CDialogTemplate about = AboutDialogTemplate(fontFace);
  DialogBoxIndirectParamW(instance, about.Get(), hwnd, AboutProc, 0);
}

void CWin32DialogHost::Run() {
  HWND dlg = m->hwnd;
  if (dlg == nullptr) return;
  ShowWindow(dlg, SW_SHOW);
  UpdateWindow(dlg);
  if (HWND download = GetDlgItem(dlg, IDC_DOWNLOAD)) ::SetFocus(download);
  MSG msg;
  while (!m->quit && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Enter and Escape never reach a control of this window: neither the
    // default button nor the dialog's own Escape handling may close it.
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE) &&
        (msg.hwnd == dlg || IsChild(dlg, msg.hwnd)))
      continue;
    if (!IsDialogMessageW(dlg, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // While the entries' messages keep the queue busy no WM_TIMER comes.
    m->FireDueTimers();
    m->PaintFrame();
  }
  if (HWND last = m->hwnd.exchange(nullptr)) DestroyWindow(last);
}

intptr_t CWin32DialogHost::Dispatch(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!m_windowProc) return 0;
  return m_windowProc(message, wParam, lParam);
}

bool CWin32DialogHost::PostMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd = m->hwnd;
  return hwnd != nullptr && PostMessageW(hwnd, msg, wParam, lParam) != FALSE;
}

int CWin32DialogHost::MessageBox(const std::string& text, uint32_t type) {
  const int answer =
      MessageBoxW(m->Owner(), WideFromUtf8(text).c_str(), WideFromUtf8(kBoxTitle).c_str(), type);
  if ((type & MB_BUTTONMASK) == MB_YESNO) return answer == IDYES ? IDYES : IDNO;
  return IDOK;
}

void CWin32DialogHost::SetTimer(int id, uint32_t ms) {
  HWND hwnd = m->hwnd;
  if (hwnd == nullptr) return;
  const std::chrono::milliseconds period(std::max<uint32_t>(ms, Impl::kTickMs));
  m->timers[id] = {period, std::chrono::steady_clock::now() + period};
  if (!m->ticking) m->ticking = ::SetTimer(hwnd, Impl::kTickTimer, Impl::kTickMs, nullptr) != 0;
}

void CWin32DialogHost::KillTimer(int id) { m->timers.erase(id); }

uint32_t CWin32DialogHost::ClockMs() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m->start).count());
}

std::optional<std::string> CWin32DialogHost::OpenFileDialog(const std::string& filter,
                                                            const std::string& initialName,
                                                            const std::string& defaultExt) {
  const std::wstring filters = SystemFilter(filter);
  const std::wstring initial = WideFromUtf8(initialName);
  const size_t cut = initial.find_last_of(L"\\/");
  const std::wstring directory = cut == std::wstring::npos ? std::wstring() : initial.substr(0, cut + 1);
  const std::wstring name = cut == std::wstring::npos ? initial : initial.substr(cut + 1);
  std::wstring ext = WideFromUtf8(defaultExt);
  if (!ext.empty() && ext.front() == L'.') ext.erase(0, 1);

  std::vector<wchar_t> file(32768, L'\0');
  name.copy(file.data(), std::min(name.size(), file.size() - 1));
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = m->Owner();
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  ofn.lpstrTitle = L"열기";
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  return Utf8FromWide(file.data());
}

std::optional<std::string> CWin32DialogHost::BrowseFolder() {
  wchar_t display[MAX_PATH] = {};
  BROWSEINFOW info = {};
  info.hwndOwner = m->Owner();
  info.pszDisplayName = display;
  info.lpszTitle = L"폴더 찾아보기";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return std::nullopt;
  std::vector<wchar_t> path(32768, L'\0');
  const bool ok = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  CoTaskMemFree(chosen);
  if (!ok || path[0] == L'\0') return std::nullopt;
  return Utf8FromWide(path.data());
}

void CWin32DialogHost::EnableControl(int id, bool enable) {
  if (HWND c = m->Control(id)) EnableWindow(c, enable ? TRUE : FALSE);
}

void CWin32DialogHost::ShowControl(int id, bool show) {
  HWND c = m->Control(id);
  if (c == nullptr) return;
  if (show) {
    auto held = m->hiddenTexts.find(id);
    if (held != m->hiddenTexts.end()) {
      SetWindowTextW(c, held->second.c_str());
      m->hiddenTexts.erase(held);
    }
  }
  ShowWindow(c, show ? SW_SHOWNA : SW_HIDE);
}

void CWin32DialogHost::SetControlText(int id, const std::string& text) {
  HWND c = m->Control(id);
  if (c == nullptr) return;
  const std::wstring wide = WideFromUtf8(text);
  // The status edits of the entries not shown change with every block and
  // nobody sees them: their texts are set once they are shown.
  if (!IsWindowVisible(c) && std::find(std::begin(kStatusIds), std::end(kStatusIds), id) != std::end(kStatusIds)) {
    m->hiddenTexts[id] = wide;
    return;
  }
  m->hiddenTexts.erase(id);
  // The dialog rewrites every bound control after each log line; leaving
  // unchanged texts alone keeps edit carets and repaints where they are.
  if (WindowTextOf(c) == wide) return;
  // Painted with the next frame (the loop's PaintFrame), not here: during a
  // run the texts change with every block.
  SetWindowTextW(c, wide.c_str());
}

std::string CWin32DialogHost::GetControlText(int id) {
  auto held = m->hiddenTexts.find(id);
  if (held != m->hiddenTexts.end()) return Utf8FromWide(held->second);
  return Utf8FromWide(WindowTextOf(m->Control(id)));
}

void CWin32DialogHost::SetCheck(int id, int checked) {
  if (HWND c = m->Control(id)) SendMessageW(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int CWin32DialogHost::GetCheck(int id) {
  HWND c = m->Control(id);
  return c != nullptr && SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void CWin32DialogHost::SetComboSel(int id, int index) {
  HWND c = m->Control(id);
  if (c == nullptr) return;
  const int count = static_cast<int>(SendMessageW(c, CB_GETCOUNT, 0, 0));
  const int wanted = index >= 0 && index < count ? index : -1;
  // The dialog sets it again with every block: a selection that stays is
  // not redrawn.
  if (static_cast<int>(SendMessageW(c, CB_GETCURSEL, 0, 0)) != wanted) SendMessageW(c, CB_SETCURSEL, wanted, 0);
}

int CWin32DialogHost::GetComboSel(int id) {
  HWND c = m->Control(id);
  return c != nullptr ? static_cast<int>(SendMessageW(c, CB_GETCURSEL, 0, 0)) : -1;
}

void CWin32DialogHost::AddListItem(int id, const std::string& text) {
  if (HWND c = m->Control(id)) SendMessageW(c, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
}

bool CWin32DialogHost::IsListItemSelected(int id, int index) {
  HWND c = m->Control(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(SendMessageW(c, LB_GETCOUNT, 0, 0))) return false;
  return SendMessageW(c, LB_GETSEL, static_cast<WPARAM>(index), 0) > 0;
}

void CWin32DialogHost::SetListItemText(int id, int index, const std::string& text) {
  HWND c = m->Control(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(SendMessageW(c, LB_GETCOUNT, 0, 0))) return;
  const std::wstring wanted = WideFromUtf8(text);
  const LRESULT length = SendMessageW(c, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  std::wstring current(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  SendMessageW(c, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(current.data()));
  current.resize(static_cast<size_t>(length > 0 ? length : 0));
  // Only when it changes, and keeping the item's selection and the list's
  // scroll position: a list box has no "set item text".
  if (current == wanted) return;
  const bool selected = SendMessageW(c, LB_GETSEL, static_cast<WPARAM>(index), 0) > 0;
  const LRESULT top = SendMessageW(c, LB_GETTOPINDEX, 0, 0);
  SendMessageW(c, WM_SETREDRAW, FALSE, 0);
  SendMessageW(c, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  SendMessageW(c, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wanted.c_str()));
  if (selected) SendMessageW(c, LB_SETSEL, TRUE, index);
  SendMessageW(c, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  SendMessageW(c, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(c, nullptr, TRUE);
}

void CWin32DialogHost::SetSliderRange(int id, int minimum, int maximum) {
  HWND c = m->Control(id);
  if (c == nullptr) return;
  SendMessageW(c, TBM_SETRANGEMIN, FALSE, minimum);
  SendMessageW(c, TBM_SETRANGEMAX, FALSE, maximum);
}

void CWin32DialogHost::SetSliderPos(int id, int position) {
  if (HWND c = m->Control(id)) SendMessageW(c, TBM_SETPOS, TRUE, position);
}

int CWin32DialogHost::GetSliderPos(int id) {
  HWND c = m->Control(id);
  return c != nullptr ? static_cast<int>(SendMessageW(c, TBM_GETPOS, 0, 0)) : 0;
}

void CWin32DialogHost::SetFocus(int id) {
  if (HWND c = m->Control(id)) ::SetFocus(c);
}

void CWin32DialogHost::Invalidate(int id) {
  if (HWND c = m->Control(id)) InvalidateRect(c, nullptr, TRUE);
}

IProgressBar& CWin32DialogHost::ProgressBar(int entry) {
  // Entry indexes are checked by every caller; an index out of range is a
  // programming error, answered with a bar nobody sees rather than a crash.
  if (entry >= 0 && entry < MAX_ENTRIES)
    if (CTextProgressCtrl* bar = CTextProgressCtrl::FromWindow(m->Control(kProgressIds[entry]))) return *bar;
  static CNoProgressBar sink;
  return sink;
}

void CWin32DialogHost::AppendLogLine(int entry, Rgb colour, const std::string& text) {
  if (entry < 0 || entry >= MAX_ENTRIES) return;
  HWND view = m->Control(kLogViewIds[entry]);
  if (view == nullptr) return;
  // Follow the end only when the view showed it already.
  SCROLLINFO bar = {};
  bar.cbSize = sizeof bar;
  bar.fMask = SIF_ALL;
  const bool following = !GetScrollInfo(view, SB_VERT, &bar) ||
                         bar.nPos + static_cast<int>(bar.nPage) >= bar.nMax || bar.nPage == 0;

  GETTEXTLENGTHEX length = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  const LRESULT end = SendMessageW(view, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
  CHARRANGE atEnd = {static_cast<LONG>(end), static_cast<LONG>(end)};
  SendMessageW(view, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&atEnd));
  CHARFORMAT2W format = {};
  format.cbSize = sizeof format;
  format.dwMask = CFM_COLOR | CFM_BOLD;
  format.dwEffects = CFE_BOLD;
  format.crTextColor = colour;  // both are 0x00BBGGRR
  SendMessageW(view, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  const std::wstring line = L"\r\n" + WideFromUtf8(text);
  SendMessageW(view, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
  if (following) SendMessageW(view, WM_VSCROLL, SB_BOTTOM, 0);
}

void CWin32DialogHost::PostQuit() {
  // Checked by the loop once the handler that asked for it has returned.
  m->quit = true;
  if (HWND hwnd = m->hwnd) PostMessageW(hwnd, WM_NULL, 0, 0);
}

void CWin32DialogHost::SetPortHint(int, const std::string&) {
  // The system names its COM ports itself; the label's "[COMn]" says it all.
}

void CWin32DialogHost::MarkEntryFailed(int entry, bool failed) {
  if (entry < 0 || entry >= MAX_ENTRIES || m->failed[entry] == failed) return;
  m->failed[entry] = failed;
  if (HWND label = m->Control(kPortLabelIds[entry])) InvalidateRect(label, nullptr, TRUE);
}

void CWin32DialogHost::ShowNotice(const std::string& text) { MessageBox(text, MB_OK | MB_ICONINFORMATION); }

void CWin32DialogHost::AskAttention() {
  HWND dlg = m->hwnd;
  if (dlg != nullptr) {
    // The taskbar button flashes until the window comes to the front.
    FLASHWINFO flash = {sizeof flash, dlg, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
  }
  MessageBeep(MB_OK);
}

namespace {

// The message boxes open on this thread (class "#32770" with our title), the
// one most recently enabled last.
BOOL CALLBACK FindBox(HWND window, LPARAM found) {
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(window) && IsWindowEnabled(window) &&
      WindowTextOf(window) == WideFromUtf8(CWin32DialogHost::kBoxTitle))
    *reinterpret_cast<HWND*>(found) = window;
  return TRUE;
}

}  // namespace

void CWin32DialogHost::DismissMessageBox() {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr || box == m->hwnd) return;
  // A question is answered No, a notice OK; the box's loop ends once the
  // handler that asked returns to it.
  SendMessageW(box, WM_COMMAND, GetDlgItem(box, IDNO) != nullptr ? IDNO : IDOK, 0);
}
