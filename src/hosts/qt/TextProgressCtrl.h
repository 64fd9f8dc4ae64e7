// The progress bar of one download entry. It draws itself: a filled part and
// an empty part in colours of their own, and a caption centred over the whole
// bar, drawn in one colour where it lies over the filled part and in another
// over the empty part. Qt's backing store already paints off-screen, so a
// repaint never flickers. A change is painted with the window's next frame,
// never at once.
#pragma once

#include <QWidget>
#include <string>

#include "DialogHost.h"

class CTextProgressCtrl : public QWidget, public IProgressBar {
 public:
  explicit CTextProgressCtrl(QWidget* parent = nullptr);

  /// Stores the range; no redraw. The range is not validated.
  void SetRange(int minimum, int maximum) override;
  /// Sets the position and asks for a repaint when the filled width in
  /// pixels changes. Returns the previous position.
  int SetPos(int position) override;
  /// Stores the caption text; no redraw.
  void SetText(const std::string& caption) override;
  /// Store a colour; no redraw.
  void SetBarColour(Rgb colour) override { m_crBar = colour; }
  void SetBgColour(Rgb colour) override { m_crBg = colour; }
  void SetTextOnBgColour(Rgb colour) override { m_crTextOnBg = colour; }
  void SetTextOnBarColour(Rgb colour) override { m_crTextOnBar = colour; }
  /// Asks for a repaint.
  void Redraw() override;

  /// The control's window text: a text that differs from the caption (or
  /// none while a caption is set) replaces the caption and schedules a
  /// repaint; the same text changes nothing.
  void SetWindowText(const char* text);
  /// The caption text.
  const std::string& GetText() const { return m_strText; }

  int GetPos() const { return m_nPos; }
  int GetMinimum() const { return m_nMin; }
  int GetMaximum() const { return m_nMax; }
  Rgb GetBarColour() const { return m_crBar; }
  Rgb GetBgColour() const { return m_crBg; }
  Rgb GetTextOnBgColour() const { return m_crTextOnBg; }
  Rgb GetTextOnBarColour() const { return m_crTextOnBar; }
  /// How many times the control has painted itself.
  int PaintCount() const { return m_nPaints; }

  /// Filled width for a client width: width × (pos − min) / (max − min),
  /// truncated and kept within 0..width; 0 for an empty range.
  static int FilledWidth(int clientWidth, int position, int minimum, int maximum);
  /// The caption shown while no text is set, for a position in a range.
  static std::string DefaultCaption(int position, int minimum, int maximum);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int m_nPos = 0;
  int m_nMax = 100;
  int m_nMin = 0;
  std::string m_strText;
  int m_nBarWidth = -1;  // filled width at the last redraw decision; -1 forces the next
  Rgb m_crBar;
  Rgb m_crBg;
  Rgb m_crTextOnBg;
  Rgb m_crTextOnBar;
  int m_nPaints = 0;
};
