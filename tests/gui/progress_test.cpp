// The text progress bar's own painting, read back from its pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <climits>

#include "GuiTestUtil.h"
#include "TextProgressCtrl.h"

namespace {

constexpr QRgb kNavy = qRgb(0, 0, 128);
constexpr QRgb kGrey = qRgb(192, 192, 192);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kDarkRed = qRgb(128, 0, 0);

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QFont font;
    font.setPixelSize(16);
    font.setBold(true);
    bar.setFont(font);
    bar.resize(200, 24);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    // The colours of a reset, as at every DownLoad.
    bar.SetRange(0, 100);
    bar.SetTextOnBarColour(MakeRgb(255, 255, 255));
    bar.SetBgColour(MakeRgb(192, 192, 192));
    bar.SetBarColour(MakeRgb(0, 0, 128));
    bar.SetTextOnBgColour(MakeRgb(0, 0, 128));
  }

  // The first column (left to right) of the top pixel row that is not navy.
  int FilledWidthOnScreen(const QImage& image) {
    int x = 0;
    while (x < image.width() && (image.pixel(x, 0) & 0xFFFFFF) == (kNavy & 0xFFFFFF)) ++x;
    return x;
  }

  CTextProgressCtrl bar;
};

TEST_F(ProgressTest, HalfFilledBarShowsTheDefaultCaptionOnlyOverTheFilledHalf) {
  bar.SetPos(50);
  const QImage image = Grab(bar);
  EXPECT_EQ(FilledWidthOnScreen(image), 100);
  const QRect filled(0, 0, 100, 24), empty(100, 0, 100, 24);
  // "Download Complete 50%" is wider than half the bar and centred, so its
  // left part lies over the filled half, in white.
  EXPECT_GT(CountPixels(image, filled, kWhite), 20);
  // Over the empty half nothing is written: only the background colour.
  EXPECT_EQ(CountPixels(image, empty, kGrey), empty.width() * empty.height());
  EXPECT_EQ(CTextProgressCtrl::DefaultCaption(50, 0, 100), "Download Complete 50%");
}

TEST_F(ProgressTest, EmptyBarWithoutTextShowsNoText) {
  bar.SetPos(0);
  const QImage image = Grab(bar);
  EXPECT_EQ(CountPixels(image, image.rect(), kGrey), 200 * 24);
}

TEST_F(ProgressTest, ErrorCaptionIsDarkRedOnLightGrey) {
  bar.SetText("Error!");
  bar.SetPos(0);
  bar.SetBgColour(MakeRgb(192, 192, 192));
  bar.SetTextOnBgColour(MakeRgb(128, 0, 0));
  bar.Redraw();
  const QImage image = Grab(bar);
  EXPECT_EQ(FilledWidthOnScreen(image), 0);
  EXPECT_GT(CountPixels(image, image.rect(), kDarkRed), 10);
  EXPECT_EQ(CountPixels(image, image.rect(), kWhite), 0);
  // The text sits in the middle: the outer quarters stay plain grey.
  EXPECT_EQ(CountPixels(image, QRect(0, 0, 50, 24), kGrey), 50 * 24);
  EXPECT_EQ(CountPixels(image, QRect(150, 0, 50, 24), kGrey), 50 * 24);
}

TEST_F(ProgressTest, CaptionOverBothPartsIsDrawnInTwoColours) {
  bar.SetText("Error! Error!");
  bar.SetTextOnBgColour(MakeRgb(128, 0, 0));
  bar.SetPos(50);
  const QImage image = Grab(bar);
  EXPECT_GT(CountPixels(image, QRect(0, 0, 100, 24), kWhite), 10);
  EXPECT_EQ(CountPixels(image, QRect(0, 0, 100, 24), kDarkRed), 0);
  EXPECT_GT(CountPixels(image, QRect(100, 0, 100, 24), kDarkRed), 10);
  EXPECT_EQ(CountPixels(image, QRect(100, 0, 100, 24), kWhite), 0);
}

TEST_F(ProgressTest, NothingIsDrawnForAnEmptyOrInvertedRange) {
  bar.SetBarColour(MakeRgb(255, 0, 0));
  bar.SetBgColour(MakeRgb(0, 255, 0));
  for (auto [lo, hi] : {std::pair{5, 5}, std::pair{10, 3}}) {
    bar.SetRange(lo, hi);
    bar.SetPos(4);
    bar.Redraw();
    const QImage image = Grab(bar);
    EXPECT_EQ(CountPixels(image, image.rect(), qRgb(255, 0, 0)), 0) << lo << ".." << hi;
    EXPECT_EQ(CountPixels(image, image.rect(), qRgb(0, 255, 0)), 0) << lo << ".." << hi;
  }
}

TEST_F(ProgressTest, RepaintsOnlyWhenTheFilledWidthInPixelsChanges) {
  bar.SetRange(0, 1000);
  bar.SetPos(500);  // 100 pixels
  QApplication::processEvents();
  int paints = bar.PaintCount();
  EXPECT_EQ(bar.SetPos(501), 500);  // still 100 pixels
  EXPECT_EQ(bar.SetPos(504), 501);
  QApplication::processEvents();
  EXPECT_EQ(bar.PaintCount(), paints);
  EXPECT_EQ(bar.GetPos(), 504);
  // New widths are painted later, together: never inside SetPos.
  EXPECT_EQ(bar.SetPos(505), 504);  // 101 pixels
  EXPECT_EQ(bar.SetPos(600), 505);  // 120 pixels
  EXPECT_EQ(bar.PaintCount(), paints);
  ASSERT_TRUE(WaitFor([&] { return bar.PaintCount() > paints; }));
  QApplication::processEvents();
  EXPECT_EQ(bar.PaintCount(), paints + 1);

  // After a size change the same position repaints again.
  bar.resize(300, 24);
  QApplication::processEvents();
  paints = bar.PaintCount();
  bar.SetPos(600);
  EXPECT_TRUE(WaitFor([&] { return bar.PaintCount() == paints + 1; }));
}

TEST_F(ProgressTest, StoringTextOrColoursDoesNotRedraw) {
  QApplication::processEvents();
  const int paints = bar.PaintCount();
  bar.SetText("Preparing...");
  bar.SetBarColour(MakeRgb(1, 2, 3));
  bar.SetRange(0, 50);
  QApplication::processEvents();
  EXPECT_EQ(bar.PaintCount(), paints);
}

TEST_F(ProgressTest, WindowTextReplacesTheCaptionOnlyWhenItDiffers) {
  bar.SetWindowText("Entry 1 : 10%");
  EXPECT_EQ(bar.GetText(), "Entry 1 : 10%");
  QApplication::processEvents();
  int paints = bar.PaintCount();
  bar.SetWindowText("Entry 1 : 10%");
  QApplication::processEvents();
  EXPECT_EQ(bar.PaintCount(), paints);

  bar.SetWindowText(nullptr);  // none clears a caption that is set
  EXPECT_EQ(bar.GetText(), "");
  QApplication::processEvents();
  EXPECT_EQ(bar.PaintCount(), paints + 1);
  paints = bar.PaintCount();
  bar.SetWindowText(nullptr);
  bar.SetWindowText("");
  QApplication::processEvents();
  EXPECT_EQ(bar.PaintCount(), paints);
}

TEST(ProgressArithmetic, FilledWidthStaysInsideTheBarForAnyRange) {
  EXPECT_EQ(CTextProgressCtrl::FilledWidth(200, 50, 0, 100), 100);
  EXPECT_EQ(CTextProgressCtrl::FilledWidth(111, 33, 0, 100), 36);  // 36.63 truncated
  EXPECT_EQ(CTextProgressCtrl::FilledWidth(200, 7, 7, 7), 0);
  EXPECT_EQ(CTextProgressCtrl::FilledWidth(200, 150, 0, 100), 200);
  EXPECT_EQ(CTextProgressCtrl::FilledWidth(200, -20, 0, 100), 0);
  EXPECT_EQ(CTextProgressCtrl::FilledWidth(200, INT_MAX, INT_MIN, INT_MIN + 1), 200);
  EXPECT_EQ(CTextProgressCtrl::DefaultCaption(INT_MAX, 0, 1), "Download Complete 1000000000%");
  EXPECT_EQ(CTextProgressCtrl::DefaultCaption(3, 5, 5), "Download Complete 0%");
}

TEST(ProgressDefaults, StartsAtZeroOfZeroToHundredWithoutText) {
  CTextProgressCtrl bar;
  EXPECT_EQ(bar.GetPos(), 0);
  EXPECT_EQ(bar.GetMinimum(), 0);
  EXPECT_EQ(bar.GetMaximum(), 100);
  EXPECT_EQ(bar.GetText(), "");
  // Bar and text over the background in the highlight colour, background
  // and text over the bar in the window colour.
  EXPECT_EQ(bar.m_bar, bar.m_textOnBg);
  EXPECT_EQ(bar.m_bg, bar.m_textOnBar);
  EXPECT_NE(bar.m_bar, bar.m_bg);
}

}  // namespace
