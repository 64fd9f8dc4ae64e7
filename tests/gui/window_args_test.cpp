// The window's command line and the binding it leads to.
#include <QCheckBox>

#include "ControlIds.h"
#include "DialogWindowFixture.h"
#include "WindowArgs.h"
#include "platform/PortMap.h"
#include "platform/PortSpec.h"

namespace {

TEST(WindowArgsTest, PortsAreReadInOrderAndMalformedOnesRefused) {
  std::string error;
  auto parsed = ParseWindowArgs({"--port", "3=/dev/pts/7", "--port", "30=/dev/ttyACM0"}, error);
  ASSERT_TRUE(parsed) << error;
  ASSERT_EQ(parsed->ports.size(), 2u);
  EXPECT_EQ(parsed->ports[0], std::make_pair(3, std::string("/dev/pts/7")));
  EXPECT_EQ(parsed->ports[1], std::make_pair(30, std::string("/dev/ttyACM0")));
  EXPECT_TRUE(ParseWindowArgs({}, error));

  for (const QStringList& bad : {QStringList{"--port"}, QStringList{"--port", "0=/dev/x"},
                                 QStringList{"--port", "31=/dev/x"}, QStringList{"--port", "3x=/dev/x"},
                                 QStringList{"--port", "3="}, QStringList{"--port", "=/dev/x"},
                                 QStringList{"--port", "/dev/x"}, QStringList{"--ports", "1=/dev/x"}}) {
    error.clear();
    EXPECT_FALSE(ParseWindowArgs(bad, error)) << bad.join(' ').toStdString();
    EXPECT_FALSE(error.empty());
  }
}

TEST(PortSpecTest, NumberMustBeWholeAndInRange) {
  EXPECT_EQ(ParsePortSpec("12=/dev/ttyUSB1"), std::make_pair(12, std::string("/dev/ttyUSB1")));
  EXPECT_EQ(ParsePortSpec("1=a=b"), std::make_pair(1, std::string("a=b")));  // device keeps later '='
  EXPECT_FALSE(ParsePortSpec("-1=/dev/x"));
  EXPECT_FALSE(ParsePortSpec("+1=/dev/x"));
  EXPECT_FALSE(ParsePortSpec(" 1=/dev/x"));
  EXPECT_FALSE(ParsePortSpec("0001=/dev/x"));
  EXPECT_FALSE(ParsePortSpec("99999999999999999999=/dev/x"));
}

class PlugInPortsTest : public DialogWindowTest {
 protected:
  void TearDown() override {
    DialogWindowTest::TearDown();
    CPortMap::Instance().Clear();
  }
};

TEST_F(PlugInPortsTest, EachPortIsMappedAndBoundToTheNextEntry) {
  CPortMap::Instance().Clear();
  PlugInPorts(host, {{7, "/dev/pts/70"}, {2, "/dev/pts/20"}});
  EXPECT_EQ(CPortMap::Instance().Device(7), "/dev/pts/70");
  EXPECT_EQ(CPortMap::Instance().Device(2), "/dev/pts/20");
  EXPECT_EQ(dialog.PortCount(), 2);
  EXPECT_EQ(dialog.Binding(0).m_nComPort, 7);
  EXPECT_EQ(dialog.Binding(1).m_nComPort, 2);
  EXPECT_EQ(host.GetControlText(kPortLabelIds[0]), "[COM7]");
  EXPECT_EQ(host.GetControlText(kPortLabelIds[1]), "[COM2]");
  EXPECT_TRUE(window.Control(kEntryCheckIds[1])->isEnabled());
  EXPECT_FALSE(window.Control(kEntryCheckIds[2])->isEnabled());
}

}  // namespace
