// The progress bar of one download entry. It draws itself: a filled part and
// an empty part in colours of their own, and a caption centred over the whole
// bar, drawn in one colour where it lies over the filled part and in another
// over the empty part. Qt's backing store already paints off-screen, so a
// repaint never flickers. A change is painted with the window's next frame,
// never at once.
#pragma once

#include <QWidget>
#include <string>

#include "ProgressCaption.h"

class CTextProgressCtrl : public QWidget, public CProgressModel {
 public:
  explicit CTextProgressCtrl(QWidget* parent = nullptr);

  /// Stores the range; no redraw.
  void SetRange(int minimum, int maximum) override;
  /// Sets the position and asks for a repaint when the filled width in
  /// pixels changes. Returns the previous position.
  int SetPos(int position) override;
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
  int m_nPaints = 0;
};
