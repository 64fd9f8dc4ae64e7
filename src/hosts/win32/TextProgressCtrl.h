// The progress bar of one download entry, as a window class of its own: it
// draws a filled part and an empty part in colours of their own and a
// caption centred over the whole bar, in one colour over the filled part and
// in another over the empty part. Each repaint is drawn into an off-screen
// bitmap and copied in one step, so twenty bars updated often never flicker.
#pragma once

#include "WinUi.h"

#include <string>

#include "ProgressCaption.h"

class CTextProgressCtrl : public CProgressModel {
 public:
  explicit CTextProgressCtrl(HWND hwnd);

  /// Registers the window class kTextProgressClass (once per process).
  static bool Register(HINSTANCE instance);
  /// The bar of a window of that class, or null.
  static CTextProgressCtrl* FromWindow(HWND hwnd);

  /// -1 while the bar has no window; otherwise as the model, and a moved
  /// edge is invalidated.
  int SetPos(int position) override;
  void Redraw() override;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint(HDC target);
  int ClientWidth() const;
  LRESULT OnSetText(WPARAM wParam, LPARAM lParam);

  HWND m_hWnd;
  HFONT m_hFont = nullptr;
};
