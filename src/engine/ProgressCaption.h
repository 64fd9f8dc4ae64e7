// What a text progress bar shows, whatever draws it: its state as the
// dialog last set it, how much of its width is filled and the caption it
// writes while no text is set. Every host keeps its bars' state here; the
// windows' bars add only the drawing.
#pragma once

#include <string>

#include "DialogHost.h"

/// Filled width for a client width: width × (pos − min) / (max − min),
/// truncated and kept within 0..width; 0 for an empty range.
int ProgressFilledWidth(int clientWidth, int position, int minimum, int maximum);

/// The caption shown while no text is set ("Download Complete %d%%").
std::string ProgressDefaultCaption(int position, int minimum, int maximum);

/// A progress bar's state as the dialog last set it. Hosts that draw nothing
/// keep just this; a window's bar draws it, and asks for a paint when
/// FilledMoved says the filled part moved or Redraw is called.
class CProgressModel : public IProgressBar {
 public:
  /// Stores the range; not validated.
  void SetRange(int minimum, int maximum) override {
    m_nMin = minimum;
    m_nMax = maximum;
  }
  /// Stores the position; returns the previous one.
  int SetPos(int position) override {
    const int old = m_nPos;
    m_nPos = position;
    return old;
  }
  /// Stores the caption; an empty one shows the default caption.
  void SetText(const std::string& caption) override { m_strText = caption; }
  void SetBarColour(Rgb colour) override { m_bar = colour; }
  void SetBgColour(Rgb colour) override { m_bg = colour; }
  void SetTextOnBgColour(Rgb colour) override { m_textOnBg = colour; }
  void SetTextOnBarColour(Rgb colour) override { m_textOnBar = colour; }
  /// Counts the requests; a window's bar asks for a paint as well.
  void Redraw() override { ++m_nRedraws; }

  /// What the bar writes over itself: its text, or while none is set the
  /// default caption of its position.
  std::string Caption() const {
    return m_strText.empty() ? ProgressDefaultCaption(m_nPos, m_nMin, m_nMax) : m_strText;
  }

  int m_nMin = 0, m_nMax = 100, m_nPos = 0;
  std::string m_strText;
  Rgb m_bar = 0, m_bg = 0, m_textOnBg = 0, m_textOnBar = 0;
  int m_nRedraws = 0;

 protected:
  /// True when the filled part at `clientWidth` differs from the last time
  /// this said so (or since ForgetFilled): twenty bars are told a position
  /// with every block, and only a moved edge is worth a paint.
  bool FilledMoved(int clientWidth) {
    const int w = ProgressFilledWidth(clientWidth, m_nPos, m_nMin, m_nMax);
    if (w == m_nFilled) return false;
    m_nFilled = w;
    return true;
  }
  /// The bar changed size: the next position paints whatever it is.
  void ForgetFilled() { m_nFilled = -1; }

 private:
  int m_nFilled = -1;
};

/// Stands in for the bar of an entry index out of range: told everything,
/// keeps nothing.
class CNoProgressBar : public IProgressBar {
 public:
  void SetRange(int, int) override {}
  int SetPos(int) override { return -1; }
  void SetText(const std::string&) override {}
  void SetBarColour(Rgb) override {}
  void SetBgColour(Rgb) override {}
  void SetTextOnBgColour(Rgb) override {}
  void SetTextOnBarColour(Rgb) override {}
  void Redraw() override {}
};
