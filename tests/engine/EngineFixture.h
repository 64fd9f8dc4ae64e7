#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "FakeBench.h"
#include "platform/Registry.h"
#include "TestUtil.h"

/// Each test starts as a fresh program run: the program-wide EFS2 list is
/// reset, settings live in a temporary file.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState(m_tmp.path());
  }
  void TearDown() override { m_bench.reset(); }

  CFakeBench& Bench(int handsets) {
    m_bench.reset();  // the old bench restores the port factory and map first
    m_bench = std::make_unique<CFakeBench>(handsets);
    return *m_bench;
  }

  /// The image bytes a handset must hold at [start, size), last block padded.
  static std::vector<uint8_t> Expected(const std::vector<uint8_t>& image, size_t start) {
    std::vector<uint8_t> v(image.begin() + static_cast<long>(start), image.end());
    v.resize((v.size() + 1023) / 1024 * 1024, 0xFF);
    return v;
  }
  static std::vector<uint8_t> Flash(const FakeHandset& h, size_t start, size_t len) {
    std::vector<uint8_t> v(len, 0xEE);
    for (size_t k = 0; k < len && start + k < h.flash.size(); ++k) v[k] = h.flash[start + k];
    return v;
  }

  CTempDir m_tmp;
  std::unique_ptr<CFakeBench> m_bench;
};
