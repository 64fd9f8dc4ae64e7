// The progress bar of one download entry, as a window class of its own: it
// draws a filled part and an empty part in colours of their own and a
// caption centred over the whole bar, in one colour over the filled part and
// in another over the empty part. Each repaint is drawn into an off-screen
// bitmap and copied in one step, so twenty bars updated often never flicker.
#pragma once

#include "WinUi.h"

#include <string>

#include "DialogHost.h"

class CTextProgressCtrl : public IProgressBar {
 public:
  explicit CTextProgressCtrl(HWND hwnd);

  /// Registers the window class kTextProgressClass (once per process).
  static bool Register(HINSTANCE instance);
  /// The bar of a window of that class, or null.
  static CTextProgressCtrl* FromWindow(HWND hwnd);

  void SetRange(int minimum, int maximum) override;
  int SetPos(int position) override;
  void SetText(const std::string& caption) override;
  void SetBarColour(Rgb colour) override { m_crBar = colour; }
  void SetBgColour(Rgb colour) override { m_crBg = colour; }
  void SetTextOnBgColour(Rgb colour) override { m_crTextOnBg = colour; }
  void SetTextOnBarColour(Rgb colour) override { m_crTextOnBar = colour; }
  void Redraw() override;

  const std::wstring& Caption() const { return m_strText; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint(HDC target);
  int ClientWidth() const;
  LRESULT OnSetText(WPARAM wParam, LPARAM lParam);

  HWND m_hWnd;
  HFONT m_hFont = nullptr;
  int m_nPos = 0;
  int m_nMax = 100;
  int m_nMin = 0;
  std::wstring m_strText;
  int m_nBarWidth = -1;  // filled width at the last redraw decision; -1 forces the next
  Rgb m_crBar;
  Rgb m_crBg;
  Rgb m_crTextOnBg;
  Rgb m_crTextOnBar;
};
