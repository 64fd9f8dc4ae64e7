#include "WinUi.h"

#include <algorithm>
#include <cwchar>

#include "TextProgressCtrl.h"

#include "DialogTemplate.h"
#include "ProgressCaption.h"
#include "Window.h"

namespace {

// Draws into a bitmap the size of the target's clip box and copies it to
// the target when it goes.
class COffscreenDC {
 public:
  explicit COffscreenDC(HDC target) : m_target(target) {
    GetClipBox(target, &m_rect);
    m_dc = CreateCompatibleDC(target);
    m_bitmap = CreateCompatibleBitmap(target, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top);
    if (m_dc == nullptr || m_bitmap == nullptr) {
      // Out of GDI resources: draw straight to the target instead.
      if (m_dc) DeleteDC(m_dc);
      if (m_bitmap) DeleteObject(m_bitmap);
      m_dc = nullptr;
      m_bitmap = nullptr;
      return;
    }
    m_oldBitmap = SelectObject(m_dc, m_bitmap);
    SetWindowOrgEx(m_dc, m_rect.left, m_rect.top, nullptr);
  }
  ~COffscreenDC() {
    if (m_dc == nullptr) return;
    BitBlt(m_target, m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top, m_dc,
           m_rect.left, m_rect.top, SRCCOPY);
    SelectObject(m_dc, m_oldBitmap);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
  }
  COffscreenDC(const COffscreenDC&) = delete;
  COffscreenDC& operator=(const COffscreenDC&) = delete;
  HDC Dc() const { return m_dc != nullptr ? m_dc : m_target; }

 private:
  HDC m_target;
  HDC m_dc = nullptr;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_oldBitmap = nullptr;
  RECT m_rect = {};
};

Rgb SystemRgb(int index) { return static_cast<Rgb>(GetSysColor(index)); }

void FillSolid(HDC dc, const RECT& rect, Rgb colour) {
  if (rect.right <= rect.left) return;
  const COLORREF old = SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void DrawClipped(HDC dc, const RECT& clip, const RECT& client, const std::wstring& text, Rgb colour) {
  if (clip.right <= clip.left || text.empty()) return;
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
  SetTextColor(dc, colour);
  RECT box = client;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  RestoreDC(dc, saved);
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(HWND hwnd) : m_hWnd(hwnd) {
  m_bar = SystemRgb(COLOR_HIGHLIGHT);
  m_bg = SystemRgb(COLOR_WINDOW);
  m_textOnBg = SystemRgb(COLOR_HIGHLIGHT);
  m_textOnBar = SystemRgb(COLOR_WINDOW);
}

bool CTextProgressCtrl::Register(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, kTextProgressClass, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kTextProgressClass;
  return RegisterClassExW(&wc) != 0;
}

CTextProgressCtrl* CTextProgressCtrl::FromWindow(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  wchar_t name[64] = {};
  if (GetClassNameW(hwnd, name, 64) == 0 || lstrcmpW(name, kTextProgressClass) != 0) return nullptr;
  return reinterpret_cast<CTextProgressCtrl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

int CTextProgressCtrl::ClientWidth() const {
  RECT client = {};
  GetClientRect(m_hWnd, &client);
  return client.right - client.left;
}

int CTextProgressCtrl::SetPos(int position) {
  if (!IsWindow(m_hWnd)) return -1;
  const int old = CProgressModel::SetPos(position);
  // Painted with the window's next frame (the dialog's loop paints at most
  // once per frame), never here: every block of every entry moves a bar.
  if (FilledMoved(ClientWidth())) InvalidateRect(m_hWnd, nullptr, TRUE);
  return old;
}

void CTextProgressCtrl::Redraw() {
  CProgressModel::Redraw();
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CTextProgressCtrl::Paint(HDC target) {
  if (m_nMin >= m_nMax) return;
  RECT client = {};
  GetClientRect(m_hWnd, &client);
  const int w = ProgressFilledWidth(client.right - client.left, m_nPos, m_nMin, m_nMax);
  RECT filled = client;
  filled.right = client.left + w;
  RECT empty = client;
  empty.left = client.left + w;

  COffscreenDC off(target);
  const HDC dc = off.Dc();
  FillSolid(dc, filled, m_bar);
  FillSolid(dc, empty, m_bg);

  const HGDIOBJ oldFont = m_hFont ? SelectObject(dc, m_hFont) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  const std::wstring caption = WideFromUtf8(Caption());
  DrawClipped(dc, filled, client, caption, m_textOnBar);
  // Over the empty part only the caption text itself is written, never the
  // default percentage: a bar without text shows its percentage only where
  // the bar has grown.
  DrawClipped(dc, empty, client, WideFromUtf8(m_strText), m_textOnBg);
  if (oldFont) SelectObject(dc, oldFont);
}

LRESULT CTextProgressCtrl::OnSetText(WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProcW(m_hWnd, WM_SETTEXT, wParam, lParam);
  const auto* text = reinterpret_cast<const wchar_t*>(lParam);
  const std::string caption = text == nullptr ? std::string() : Utf8FromWide(text, std::wcslen(text));
  if (caption != m_strText) {
    m_strText = caption;
    InvalidateRect(m_hWnd, nullptr, TRUE);
  }
  return result;
}

LRESULT CALLBACK CTextProgressCtrl::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CTextProgressCtrl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      self = new CTextProgressCtrl(hwnd);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      delete self;
      return DefWindowProcW(hwnd, message, wParam, lParam);
    default:
      break;
  }
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(hwnd, &ps);
      self->Paint(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      self->Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
      // A click on the bar shows its entry, as one on its port label does.
      SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), STN_CLICKED),
                   reinterpret_cast<LPARAM>(hwnd));
      return 0;
    case WM_SIZE:
      self->ForgetFilled();
      break;
    case WM_SETFONT:
      self->m_hFont = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(self->m_hFont);
    case WM_SETTEXT:
      return self->OnSetText(wParam, lParam);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(WideFromUtf8(self->m_strText).size());
    case WM_GETTEXT: {
      // At most the buffer's size, the terminating null included.
      auto* buffer = reinterpret_cast<wchar_t*>(lParam);
      const size_t room = static_cast<size_t>(wParam);
      if (buffer == nullptr || room == 0) return 0;
      const std::wstring text = WideFromUtf8(self->m_strText);
      const size_t n = std::min(room - 1, text.size());
      text.copy(buffer, n);
      buffer[n] = L'\0';
      return static_cast<LRESULT>(n);
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}
