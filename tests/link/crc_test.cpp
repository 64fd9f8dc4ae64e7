#include "link/crc.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/CrcOracle.h"

namespace {

const uint8_t kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Crc, CheckValuesOfTheStandards) {
  EXPECT_EQ(crc::Crc16(kCheck, sizeof kCheck), 0x906E);
  EXPECT_EQ(crc::Crc30(kCheck, sizeof kCheck), 0x04C34ABFu);
}

TEST(Crc, FcsValuesTheFramesDependOn) {
  EXPECT_EQ(crc::Crc16(nullptr, 0), 0x0000);  // Resend before any request
  const uint8_t a0 = 0xA0, c0 = 0xC0, x2a = 0x2A, ack = 0x02;
  EXPECT_EQ(crc::Crc16(&a0, 1), 0x5572);
  EXPECT_EQ(crc::Crc16(&c0, 1), 0x3674);
  EXPECT_EQ(crc::Crc16(&x2a, 1), 0x7E20);
  EXPECT_EQ(crc::Crc16(&ack, 1), 0xD36A);
}

TEST(Crc, TablesAgreeWithBitwiseDefinitionOnRandomData) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> data(rng() % 600);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(crc::Crc16(data.data(), data.size()), OracleCrc16X25(data.data(), data.size())) << round;
    ASSERT_EQ(crc::Crc30(data.data(), data.size()), OracleCrc30Cdma(data.data(), data.size())) << round;
  }
}

TEST(Crc, StepFunctionsComposeToTheWholeBufferValue) {
  uint16_t c16 = crc::kCrc16Init;
  uint32_t c30 = crc::kCrc30Init;
  for (uint8_t b : kCheck) {
    c16 = crc::Crc16Step(c16, b);
    c30 = crc::Crc30Step(c30, b);
    EXPECT_EQ(c30 & ~crc::kCrc30Mask, 0u);  // never more than 30 bits
  }
  EXPECT_EQ(c16 ^ crc::kCrc16XorOut, 0x906E);
  EXPECT_EQ(c30 ^ crc::kCrc30XorOut, 0x04C34ABFu);
}

}  // namespace
