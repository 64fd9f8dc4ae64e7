// The entry slider's notifications: after every key, after the move; at the
// release of a drag, never in between.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <vector>

#include "MySliderCtrl.h"

namespace {

class SliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slider.setRange(0, 19);
    slider.setPageStep(3);
    slider.resize(240, 30);
    slider.SetNotify([this] { seen.push_back(slider.value()); });
    slider.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
    slider.setFocus();
  }

  QPoint HandleCentre() {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    option.tickPosition = slider.tickPosition();
    option.tickInterval = slider.tickInterval();
    return slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider).center();
  }

  void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(pos), QPointF(slider.mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&slider, &event);
  }

  CMySliderCtrl slider;
  std::vector<int> seen;  // the slider's value at each notification
};

TEST_F(SliderTest, EveryMovingKeyNotifiesOnceAfterTheMove) {
  QTest::keyClick(&slider, Qt::Key_Right);
  QTest::keyClick(&slider, Qt::Key_Right);
  QTest::keyClick(&slider, Qt::Key_Left);
  QTest::keyClick(&slider, Qt::Key_PageUp);
  QTest::keyClick(&slider, Qt::Key_End);
  QTest::keyClick(&slider, Qt::Key_Home);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 1, 4, 19, 0}));
}

TEST_F(SliderTest, KeyThatDoesNotMoveStillNotifies) {
  slider.setValue(4);
  QTest::keyClick(&slider, Qt::Key_A);
  QTest::keyClick(&slider, Qt::Key_Home);
  QTest::keyClick(&slider, Qt::Key_Left);  // already at the start
  EXPECT_EQ(seen, (std::vector<int>{4, 0, 0}));
}

TEST_F(SliderTest, DragNotifiesOnceAtTheRelease) {
  const QPoint start = HandleCentre();
  Mouse(QEvent::MouseMove, start, Qt::NoButton, Qt::NoButton);
  Mouse(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
  for (int dx = 10; dx <= 120; dx += 10)
    Mouse(QEvent::MouseMove, start + QPoint(dx, 0), Qt::NoButton, Qt::LeftButton);
  EXPECT_TRUE(seen.empty());
  EXPECT_GT(slider.value(), 5);
  Mouse(QEvent::MouseButtonRelease, start + QPoint(120, 0), Qt::LeftButton, Qt::NoButton);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], slider.value());
  EXPECT_EQ(slider.Moved(), 0);
}

TEST_F(SliderTest, ReleaseWithoutAnyMoveSinceTheLastReleaseIsSilent) {
  const QPoint p = HandleCentre();
  Mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton);
  Mouse(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(seen.size(), 1u);  // the hover before counted
  Mouse(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(seen.size(), 1u);  // no move since that release
}

TEST_F(SliderTest, ClickOnTheChannelAfterHoveringNotifiesAtRelease) {
  const QPoint channel(slider.width() - 10, HandleCentre().y());
  Mouse(QEvent::MouseMove, channel, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(slider.Moved(), 1);
  Mouse(QEvent::MouseButtonPress, channel, Qt::LeftButton, Qt::LeftButton);
  EXPECT_TRUE(seen.empty());
  Mouse(QEvent::MouseButtonRelease, channel, Qt::LeftButton, Qt::NoButton);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_GT(seen[0], 0);  // the slider moved towards the click
}

TEST_F(SliderTest, OtherButtonsDoNotNotify) {
  const QPoint p = HandleCentre();
  Mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton);
  Mouse(QEvent::MouseButtonPress, p, Qt::RightButton, Qt::RightButton);
  Mouse(QEvent::MouseButtonRelease, p, Qt::RightButton, Qt::NoButton);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(slider.Moved(), 1);
}

}  // namespace
